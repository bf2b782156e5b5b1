#include "PlayCommands.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>
#include <memory>

#include "PcmWriter.h"
#include "audio/core/TaggedFileIn.h"
#include "audio/decoders/DecoderFactory.h"

namespace lirvo::play {

namespace {

// The file's kind as the tool shows it: its extension in upper case.
std::string KindOf(const std::string& Path) {
  const size_t slash = Path.find_last_of('/');
  const size_t dot = Path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string kind = Path.substr(dot + 1);
  for (char& c : kind)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return kind;
}

// Creates and opens the decoder for the options' file. On failure writes the
// error to Err and returns null; Valid tells whether the decoder accepted the
// file.
std::unique_ptr<TAuFileIn> OpenInput(const TPlayOptions& Options, std::ostream& Err, bool& Valid) {
  Valid = false;
  std::unique_ptr<TAuFileIn> in = CreateDecoderForFile(Options.File);
  if (!in) {
    Err << "lirvo-play: " << Options.File << ": not a supported file type\n";
    return nullptr;
  }
  try {
    // OpenFile raises what Valid would swallow (a missing file, a missing
    // library), so the user sees the reason.
    in->OpenFile();
  } catch (const std::exception& e) {
    Err << "lirvo-play: " << Options.File << ": " << e.what() << "\n";
    return nullptr;
  }
  Valid = in->Valid();
  return in;
}

std::string Seconds(int64_t Frames, uint32_t Rate) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", static_cast<double>(Frames) / Rate);
  return buf;
}

}  // namespace

int RunInfo(const TPlayOptions& Options, std::ostream& Out, std::ostream& Err) {
  bool valid = false;
  std::unique_ptr<TAuFileIn> in = OpenInput(Options, Err, valid);
  if (!in) return kExitFailed;
  Out << "kind: " << KindOf(Options.File) << "\n";
  Out << "valid: " << (valid ? "yes" : "no") << "\n";
  if (!valid) {
    Err << "lirvo-play: " << Options.File << ": not a valid " << KindOf(Options.File) << " file\n";
    return kExitFailed;
  }
  try {
    const uint32_t rate = in->SampleRate();
    const int64_t frames = in->TotalSamples();
    Out << "channels: " << in->Channels() << "\n";
    Out << "rate: " << rate << "\n";
    Out << "bits: " << in->BitsPerSample() << "\n";
    if (frames > 0 && rate > 0) {
      Out << "frames: " << frames << "\n";
      Out << "duration: " << Seconds(frames, rate) << "\n";
    } else {
      Out << "frames: unknown\n";
      Out << "duration: unknown\n";
    }
    // Files without tags (WAV) show the keys with empty values, so every
    // file gives the same lines.
    TCommonTags none;
    auto* tagged = dynamic_cast<TAuTaggedFileIn*>(in.get());
    const TCommonTags& tags = tagged ? tagged->CommonTags() : none;
    Out << "title: " << tags.Title() << "\n";
    Out << "artist: " << tags.Artist() << "\n";
    Out << "album: " << tags.Album() << "\n";
    Out << "genre: " << tags.Genre() << "\n";
    Out << "year: " << tags.Year() << "\n";
    Out << "track: " << tags.Track() << "\n";
  } catch (const std::exception& e) {
    Err << "lirvo-play: " << Options.File << ": " << e.what() << "\n";
    return kExitFailed;
  }
  return Out.good() ? kExitOk : kExitFailed;
}

int RunDecode(const TPlayOptions& Options, std::ostream& Err) {
  bool valid = false;
  std::unique_ptr<TAuFileIn> in = OpenInput(Options, Err, valid);
  if (!in) return kExitFailed;
  if (!valid) {
    Err << "lirvo-play: " << Options.File << ": not a valid " << KindOf(Options.File) << " file\n";
    return kExitFailed;
  }
  try {
    const int64_t total = in->TotalSamples();
    if (total > 0 && Options.Start > total) {
      Err << "lirvo-play: " << Options.File << ": start frame " << Options.Start
          << " is past the end (" << total << " frames)\n";
      return kExitFailed;
    }
    const TPcmFormat format{in->Channels(), in->SampleRate(), in->BitsPerSample()};
    const uint32_t frameBytes = format.Channels * ((format.BitsPerSample + 7) / 8);
    if (frameBytes == 0) {
      Err << "lirvo-play: " << Options.File << ": the decoder reports no sample format\n";
      return kExitFailed;
    }
    TPcmWriter out(Options.Out, format);
    in->Init();
    if (Options.Start > 0 && !in->Seek(Options.Start)) {
      in->Flush();
      Err << "lirvo-play: " << Options.File << ": cannot seek to frame " << Options.Start << "\n";
      return kExitFailed;
    }
    uint64_t left = UINT64_MAX;  // all of it
    if (Options.Frames >= 0 && uint64_t(Options.Frames) < UINT64_MAX / frameBytes)
      left = uint64_t(Options.Frames) * frameBytes;
    while (left > 0) {
      uint8_t* p = nullptr;
      uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(left, 1u << 16));
      n -= n % frameBytes;
      if (n == 0) n = frameBytes;
      in->GetData(p, n);
      if (n == 0) break;
      n = static_cast<uint32_t>(std::min<uint64_t>(n, left));
      out.Write(p, n);
      left -= n;
    }
    in->Flush();
    out.Finish();
  } catch (const std::exception& e) {
    Err << "lirvo-play: " << Options.File << ": " << e.what() << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace lirvo::play
