#include "PlayCommands.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>
#include <memory>

#include "PcmWriter.h"
#include "app/logic/playlist/FileKinds.h"
#include "audio/decoders/DecoderFactory.h"
#include "audio/processors/AudioMisc.h"
#include "audio/tags/TaggedFileIn.h"

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

bool IsCueSheet(const std::string& Path) {
  return GetAudioFileType(Path) == aftCUE;
}

// A CUE sheet with the decoder of the audio file behind it. The splitter is
// declared last so it goes first.
struct TCueChain {
  std::string Audio;
  std::unique_ptr<TAuFileIn> Decoder;
  std::unique_ptr<TCueSplitter> Cue;
};

// Finds and opens the audio file behind the sheet and reads the sheet. On
// failure writes the error to Err and returns false.
bool OpenCue(const std::string& Sheet, TCueChain& Chain, std::ostream& Err) {
  Chain.Audio = GetCueAudioFileName(Sheet);
  if (Chain.Audio.empty()) {
    Err << "lirvo-play: " << Sheet << ": no audio file found behind the sheet\n";
    return false;
  }
  const TAudioFileType kind = GetAudioFileType(Chain.Audio);
  if (kind == aftCUE || kind == aftUnknown) {
    Err << "lirvo-play: " << Chain.Audio << ": not a supported audio file type\n";
    return false;
  }
  TPlayOptions image;
  image.File = Chain.Audio;
  bool valid = false;
  Chain.Decoder = OpenInput(image, Err, valid);
  if (!Chain.Decoder) return false;
  if (!valid) {
    Err << "lirvo-play: " << Chain.Audio << ": not a valid " << KindOf(Chain.Audio) << " file\n";
    return false;
  }
  try {
    Chain.Cue = std::make_unique<TCueSplitter>(nullptr);
    Chain.Cue->SetCueFile(Sheet);
    Chain.Cue->SetInput(Chain.Decoder.get());
    Chain.Cue->ItemsCount();
  } catch (const std::exception& e) {
    Err << "lirvo-play: " << Sheet << ": " << e.what() << "\n";
    return false;
  }
  return true;
}

int RunCueInfo(const TPlayOptions& Options, std::ostream& Out, std::ostream& Err) {
  TCueChain chain;
  if (!OpenCue(Options.File, chain, Err)) return kExitFailed;
  try {
    TCueSplitter& cue = *chain.Cue;
    TAuFileIn& image = *chain.Decoder;
    const uint32_t rate = image.SampleRate();
    const int64_t total = image.TotalSamples();  // the whole image, before Init
    Out << "kind: CUE\n";
    Out << "file: " << chain.Audio << "\n";
    Out << "album: " << cue.Album() << "\n";
    Out << "year: " << cue.Year() << "\n";
    Out << "genre: " << cue.Genre() << "\n";
    Out << "channels: " << image.Channels() << "\n";
    Out << "rate: " << rate << "\n";
    Out << "bits: " << image.BitsPerSample() << "\n";
    const int count = cue.ItemsCount();
    Out << "tracks: " << count << "\n";
    for (int i = 0; i < count; ++i) {
      cue.SetCurrentItem(static_cast<uint8_t>(i));
      // The splitter's own Init sets the decoder's window: what it shows is
      // exactly what the track delivers.
      cue.Init();
      const int64_t start = image.StartSample();
      const int64_t end = image.EndSample() >= 0 ? image.EndSample() : total - 1;
      const std::string title = cue.Title();
      const std::string performer = cue.Performer();
      cue.Flush();
      const int64_t frames = end >= start ? end - start + 1 : 0;
      Out << "track " << (i + 1) << ": start " << start << ", end " << end << ", duration "
          << (rate ? Seconds(frames, rate) : "unknown") << ", title " << title << ", performer "
          << performer << "\n";
    }
  } catch (const std::exception& e) {
    Err << "lirvo-play: " << Options.File << ": " << e.what() << "\n";
    return kExitFailed;
  }
  return Out.good() ? kExitOk : kExitFailed;
}

// Writes In's data (already initialised) to Out from the options' start, for
// the options' frame count. Seekable positions the source, counting from its
// window's start.
void WriteFrames(const TPlayOptions& Options, TAuInput& In, TAuStreamedInput& Seekable,
                 TPcmWriter& Out, uint32_t FrameBytes) {
  if (Options.Start > 0 && !Seekable.Seek(Options.Start))
    throw EAuException("cannot seek to frame " + std::to_string(Options.Start));
  uint64_t left = UINT64_MAX;  // all of it
  if (Options.Frames >= 0 && uint64_t(Options.Frames) < UINT64_MAX / FrameBytes)
    left = uint64_t(Options.Frames) * FrameBytes;
  while (left > 0) {
    uint8_t* p = nullptr;
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(left, 1u << 16));
    n -= n % FrameBytes;
    if (n == 0) n = FrameBytes;
    In.GetData(p, n);
    if (n == 0) break;
    n = static_cast<uint32_t>(std::min<uint64_t>(n, left));
    Out.Write(p, n);
    left -= n;
  }
}

int RunCueDecode(const TPlayOptions& Options, std::ostream& Err) {
  if (Options.Track < 1) {
    Err << "lirvo-play: " << Options.File << ": a CUE sheet needs --track N\n";
    return kExitUsage;
  }
  TCueChain chain;
  if (!OpenCue(Options.File, chain, Err)) return kExitFailed;
  try {
    TCueSplitter& cue = *chain.Cue;
    TAuFileIn& image = *chain.Decoder;
    cue.SetCurrentItem(static_cast<uint8_t>(Options.Track - 1));
    const TPcmFormat format{image.Channels(), image.SampleRate(), image.BitsPerSample()};
    const uint32_t frameBytes = format.Channels * ((format.BitsPerSample + 7) / 8);
    if (frameBytes == 0) throw EAuException("the decoder reports no sample format");
    TPcmWriter out(Options.Out, format);
    cue.Init();
    try {
      WriteFrames(Options, cue, image, out, frameBytes);
    } catch (...) {
      cue.Flush();
      throw;
    }
    cue.Flush();
    out.Finish();
  } catch (const std::exception& e) {
    Err << "lirvo-play: " << Options.File << ": " << e.what() << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

int RunInfo(const TPlayOptions& Options, std::ostream& Out, std::ostream& Err) {
  if (IsCueSheet(Options.File)) return RunCueInfo(Options, Out, Err);
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
  if (IsCueSheet(Options.File)) return RunCueDecode(Options, Err);
  if (Options.Track > 0) {
    Err << "lirvo-play: " << Options.File << ": --track goes with a CUE sheet\n";
    return kExitUsage;
  }
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
    try {
      WriteFrames(Options, *in, *in, out, frameBytes);
    } catch (...) {
      in->Flush();
      throw;
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
