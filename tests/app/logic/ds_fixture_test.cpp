// Real files through the player's chain for the shared-device engine
// (decoder -> read-ahead cache -> output) reach the device exactly as the
// decoder delivers them, in the decoder's own format, with nothing missing
// at the start or the end and nothing added but the padding silence.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "audio/decoders/DecoderFactory.h"
#include "audio/outputs/DSAudioOut.h"
#include "audio/processors/AudioCache.h"
#include "common/Pump.h"
#include "common/TestPaths.h"
#include "tests/audio/outputs/DsTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;
using namespace std::chrono_literals;

namespace {

struct Decoded {
  std::vector<uint8_t> Bytes;
  uint32_t Bits = 0, Channels = 0, Rate = 0;
};

// What the decoder itself delivers, read straight from it.
Decoded ReferenceDecode(const std::string& Path) {
  Decoded d;
  std::unique_ptr<TAuFileIn> in = CreateDecoderForFile(Path);
  in->Init();
  d.Bits = in->BitsPerSample();
  d.Channels = in->Channels();
  d.Rate = in->SampleRate();
  // Whole frames per call: a decoder never splits a frame.
  std::vector<uint8_t> buf(std::max<size_t>(1, d.Bits / 8 * d.Channels) * 4096);
  for (;;) {
    bool eof = false;
    int32_t n = in->FillBuffer(buf.data(), static_cast<int32_t>(buf.size()), eof);
    d.Bytes.insert(d.Bytes.end(), buf.begin(), buf.begin() + std::max(n, 0));
    if (eof || n <= 0) break;
  }
  in->Flush();
  return d;
}

// What reaches a capture device when the file plays through the chain.
std::vector<uint8_t> PlayThroughChain(const std::string& Path, const std::string& Capture,
                                      std::string& Error) {
  TComponent owner;
  std::unique_ptr<TAuFileIn> in = CreateDecoderForFile(Path);
  TAudioCache cache(&owner);
  TDSAudioOut out(&owner, {CaptureDevice(Capture)});
  std::atomic<int> done{0};
  out.SetOnDone([&](TComponent*) { ++done; });
  cache.SetInput(in.get());
  out.SetInput(&cache);
  out.Run();
  if (!PumpUntil([&] { return done >= 1; }, 60s)) Error = "the run did not end";
  if (Error.empty()) Error = out.ExceptionMessage();
  out.SetInput(nullptr);
  cache.SetInput(nullptr);
  return ReadFileBytes(Capture);
}

void Make(const std::string& Command) {
  ASSERT_EQ(std::system(Command.c_str()), 0)
      << "needs the project's reference tools (sox, flac; see scripts/setup): " << Command;
}

TEST(DsFixtures, EveryDecodableFileReachesTheDeviceAsItsDecoderDeliversIt) {
  const std::string dir = ScratchDir("ds_fixtures");
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(FixturePath("audio")))
    files.push_back(e.path().string());
  std::sort(files.begin(), files.end());

  // Formats the fixtures lack: 8-bit, 24- and 32-bit, 6 and 8 channels.
  const std::string q = "'";
  const struct {
    const char* Name;
    const char* Sox;
  } generated[] = {
      {"u8-mono-22050.wav", "-r 22050 -e unsigned-integer -b 8 -c 1"},
      {"s24-stereo-96000.wav", "-r 96000 -e signed-integer -b 24 -c 2"},
      {"s32-stereo-48000.wav", "-r 48000 -e signed-integer -b 32 -c 2"},
      {"s16-6ch-48000.wav", "-r 48000 -e signed-integer -b 16 -c 6"},
      {"s24-8ch-44100.wav", "-r 44100 -e signed-integer -b 24 -c 8"},
  };
  for (const auto& g : generated) {
    std::string path = dir + "/" + g.Name;
    Make("sox -D -n " + std::string(g.Sox) + " " + q + path + q +
         " synth 1.3 sine 200-3000 sine 500 gain -3 2>/dev/null");
    files.push_back(path);
  }
  std::string flac24 = dir + "/s24-6ch-48000.flac";
  std::string wav24 = dir + "/s24-6ch-48000-src.wav";
  Make("sox -D -n -r 48000 -e signed-integer -b 24 -c 6 " + q + wav24 + q +
       " synth 1.1 pinknoise gain -6 2>/dev/null");
  Make("flac -s -f -o " + q + flac24 + q + " " + q + wav24 + q);
  files.push_back(flac24);

  int played = 0;
  std::vector<std::string> noDecoder;
  for (const std::string& path : files) {
    if (!CreateDecoderForFile(path)) {
      noDecoder.push_back(std::filesystem::path(path).filename().string());
      continue;
    }
    SCOPED_TRACE(path);
    Decoded ref = ReferenceDecode(path);
    std::string error;
    std::vector<uint8_t> got = PlayThroughChain(path, dir + "/capture.raw", error);
    EXPECT_EQ(error, "");
    // The padding is at most the drain's silence: two rings of 100 ms per
    // 50 ms step, plus the rest of the last ring.
    const size_t ring = 2 * (100 * ref.Rate / 2000) * (ref.Bits / 8) * ref.Channels;
    EXPECT_TRUE(IsDataThenSilence(got, ref.Bytes, ref.Bits == 8 ? 128 : 0, ring * 5))
        << ref.Bits << "-bit, " << ref.Channels << " channels, " << ref.Rate << " Hz";
    ++played;
  }
  EXPECT_GE(played, 10);
  if (!noDecoder.empty()) {
    std::string list;
    for (const auto& n : noDecoder)
      list += " " + n;
    RecordProperty("files_without_a_decoder", list);
  }
}

TEST(DsFixtures, ACueTrackWindowReachesTheDeviceWithExactlyItsFrames) {
  const std::string path = FixturePath("audio/sinewave.flac");
  ASSERT_NE(CreateDecoderForFile(path), nullptr);
  const std::string capture = ScratchDir("ds_cue") + "/capture.raw";
  // Frames 1000..30000 inclusive, as a CUE sheet's track sets them.
  std::unique_ptr<TAuFileIn> in = CreateDecoderForFile(path);
  in->SetStartSample(1000);
  in->SetEndSample(30000);
  TComponent owner;
  TAudioCache cache(&owner);
  TDSAudioOut out(&owner, {CaptureDevice(capture)});
  std::atomic<int> done{0};
  out.SetOnDone([&](TComponent*) { ++done; });
  cache.SetInput(in.get());
  out.SetInput(&cache);
  out.Run();
  ASSERT_TRUE(PumpUntil([&] { return done >= 1; }, 30s));
  EXPECT_EQ(out.ExceptionMessage(), "");
  out.SetInput(nullptr);
  cache.SetInput(nullptr);

  Decoded whole = ReferenceDecode(path);
  ASSERT_GE(whole.Bytes.size(), 30001u * 4);
  std::vector<uint8_t> track(whole.Bytes.begin() + 1000 * 4, whole.Bytes.begin() + 30001 * 4);
  EXPECT_TRUE(IsDataThenSilence(ReadFileBytes(capture), track, 0, 17640 * 5));
}

}  // namespace
