// Real files through the player's chain for the direct-driver engine
// (decoder -> converter to 32-bit stereo -> read-ahead cache -> output) reach
// the device exactly as the converter delivers them: every frame compared,
// nothing missing at the start or the end, and no period missed (a half the
// read-ahead could not supply is a failure, not a gap to skip).
//
// Every device here is paced, as a sound card is: an unpaced one takes halves
// as fast as memory allows, which no read-ahead can keep up with, so a miss
// there would say nothing about the chain.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/decoders/DecoderFactory.h"
#include "audio/outputs/AsioHost_Define.h"
#include "audio/outputs/AuASIO.h"
#include "audio/outputs/OutputEnvironment.h"
#include "audio/processors/AudioCache.h"
#include "audio/processors/AudioConverters.h"
#include "common/Pump.h"
#include "common/TestFiles.h"
#include "common/TestPaths.h"
#include "tests/audio/outputs/AsioTestSupport.h"
#include "tests/audio/outputs/DsTestSupport.h"
#include "tests/audio/outputs/FakeAsioDriver.h"

using namespace lirvo;
using namespace lirvo::test;
using namespace std::chrono_literals;

namespace {

// The fake driver's largest halves, in frames.
constexpr int32_t kFakeMaxFrames = 8192;

// Time between two switches of a device that plays Frames-frame halves at
// Speed times real time.
std::chrono::microseconds SwitchPeriod(int32_t Frames, uint32_t Rate, int32_t Speed) {
  return std::chrono::microseconds(int64_t{Frames} * 1000000 / Rate / Speed);
}

class AsioFixtureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = ScratchDir("asio_fixtures");
    // The ALSA direct driver's cards: `file` PCMs over the test sound
    // server's real-time device.
    alsa::TAlsaDirectSetup setup;
    for (const auto& [pcm, format] :
         {std::pair{"card_s32", SND_PCM_FORMAT_S32_LE}, {"card_s16", SND_PCM_FORMAT_S16_LE}}) {
      setup.Config += std::string("pcm.") + pcm + " { type file slave.pcm { type pulse } file \"" +
                      Capture(pcm) + "\" format \"raw\" }\n";
      setup.Devices.push_back({std::string("Test card ") + pcm, pcm, {format}});
    }
    CardEnv.AlsaDirect = setup;
    // The fake driver: 32-bit halves, captured in the driver's type.
    RegisterFakeAsio();
    Fake().Reset();
    FakeEnv.AsioHostAvailable = true;
    FakeEnv.AsioDrivers = [] { return TAsioDriverList{FakeDesc()}; };
    TASIOAudioOut::ResetOutputReadySupported();
  }

  std::string Capture(const std::string& Pcm) const { return Dir + "/" + Pcm + ".raw"; }

  std::vector<uint8_t> ReadCapture(const std::string& Pcm) const {
    std::ifstream f(Capture(Pcm), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
  }

  // Plays Source through converter -> cache -> output on device Index of Env
  // at the largest halves; returns the output's error text ("" when the run
  // ended normally).
  std::string Play(TAuInput& Source, const TOutputEnvironment& Env, int32_t Index,
                   uint64_t& Shortfalls) {
    TAudioConverter conv;
    conv.SetOutBitsPerSample(32);
    conv.SetOutChannels(2);
    conv.SetInput(&Source);
    TAudioCache cache{nullptr};
    cache.SetInput(&conv);
    TASIOAudioOut out(nullptr, Env);
    std::atomic<int> done{0};
    out.SetOnDone([&](TComponent*) { ++done; });
    out.SetDeviceNumber(Index);
    // The largest halves leave the read-ahead the most time on a busy machine.
    out.SetASIOBufferSize(absMaximum);
    out.SetInput(&cache);
    out.Run();
    std::string error =
        PumpUntil([&] { return done >= 1; }, 60s) ? out.ExceptionMessage() : "the run did not end";
    Shortfalls = out.Shortfalls();
    out.SetInput(nullptr);
    cache.SetInput(nullptr);
    conv.SetInput(nullptr);
    return error;
  }

  std::string Dir;
  TOutputEnvironment CardEnv;  // the ALSA direct driver on the test's cards
  TOutputEnvironment FakeEnv;  // the fake driver
};

// What the chain must deliver: the decoder's output through the converter
// alone.
std::vector<uint8_t> ConvertedReference(TAuInput& Decoder) {
  TAudioConverter conv;
  conv.SetOutBitsPerSample(32);
  conv.SetOutChannels(2);
  conv.SetInput(&Decoder);
  std::vector<uint8_t> all = DecodeAll(conv, 65536);
  conv.SetInput(nullptr);
  return all;
}

// The fixtures hold about a minute of audio: on the fake driver paced at six
// times real time they play in seconds, still with a device's rhythm.
TEST_F(AsioFixtureTest, EveryDecodableFixtureReachesTheCardAsTheConverterDeliversIt) {
  {
    std::lock_guard<std::mutex> lock(Fake().CS);
    Fake().Config.MaxSize = kFakeMaxFrames;
    Fake().Config.Type = ASIOSTInt32LSB;
  }
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(FixturePath("audio")))
    files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  int played = 0;
  for (const std::string& path : files) {
    std::unique_ptr<TAuFileIn> probe = CreateDecoderForFile(path);
    if (!probe) continue;
    SCOPED_TRACE(path);
    std::vector<uint8_t> expected;
    uint32_t rate = 0;
    try {
      rate = probe->SampleRate();
      expected = ConvertedReference(*probe);
    } catch (const std::exception&) {
      continue;  // a fixture its decoder refuses (a header-only file) plays nowhere
    }
    {
      std::lock_guard<std::mutex> lock(Fake().CS);
      // A device clocked at the file's rate (some fixtures have odd ones).
      Fake().Config.Rates = {static_cast<double>(rate)};
      Fake().Config.Period = SwitchPeriod(kFakeMaxFrames, rate, 6);
    }
    Fake().TakeCapture();
    std::unique_ptr<TAuFileIn> in = CreateDecoderForFile(path);
    uint64_t shortfalls = 0;
    ASSERT_EQ(Play(*in, FakeEnv, 0, shortfalls), "");
    {
      std::lock_guard<std::mutex> lock(Fake().CS);
      ASSERT_FALSE(Fake().CreatedSizes.empty());
      EXPECT_EQ(Fake().CreatedSizes.back(), kFakeMaxFrames);
    }
    // Several fixtures are silence, where a missed half could not be told
    // from the music: the count tells.
    EXPECT_EQ(shortfalls, 0u) << "a half the read-ahead could not supply";
    EXPECT_TRUE(ExactThenSilence(Fake().TakeCapture(), expected));
    ++played;
  }
  EXPECT_GE(played, 10);
}

// A 16-bit stereo file on a 16-bit card: the card receives the file's own
// samples, bit for bit, whatever the chain widened them to on the way. The
// card is paced by the test sound server, in real time (the file is short).
TEST_F(AsioFixtureTest, SixteenBitFileOnASixteenBitCardIsBitPerfect) {
  LIRVO_REQUIRE_PULSE();
  const std::string path = ScratchDir("asio_fixtures_gen") + "/s16.flac";
  ASSERT_EQ(std::system(("sox -D -n -r 44100 -e signed-integer -b 16 -c 2 -t wav - synth 2.3 "
                         "pinknoise gain -3 2>/dev/null | flac -s -f -o '" +
                         path + "' - 2>/dev/null")
                            .c_str()),
            0)
      << "needs sox and flac (scripts/setup)";
  std::unique_ptr<TAuFileIn> ref = CreateDecoderForFile(path);
  const std::vector<uint8_t> original = DecodeAll(*ref, 65536);
  ASSERT_EQ(ref->BitsPerSample(), 16u);

  std::unique_ptr<TAuFileIn> in = CreateDecoderForFile(path);
  uint64_t shortfalls = 0;
  EXPECT_EQ(Play(*in, CardEnv, 1, shortfalls), "");
  EXPECT_EQ(shortfalls, 0u) << "a half the read-ahead could not supply";
  EXPECT_TRUE(ExactThenSilence(ReadCapture("card_s16"), original));
}

// A CUE track's window (frames 1000..30000 inclusive) through the whole chain
// delivers exactly those frames. The card is paced by the test sound server,
// in real time (the window is under a second).
TEST_F(AsioFixtureTest, ACueTrackWindowReachesTheCardWithExactlyItsFrames) {
  LIRVO_REQUIRE_PULSE();
  const std::string path = FixturePath("audio/sinewave.flac");
  std::unique_ptr<TAuFileIn> whole = CreateDecoderForFile(path);
  ASSERT_NE(whole, nullptr);
  const std::vector<uint8_t> all = ConvertedReference(*whole);
  ASSERT_GE(all.size(), 30001u * 8);
  const std::vector<uint8_t> track(all.begin() + 1000 * 8, all.begin() + 30001 * 8);

  std::unique_ptr<TAuFileIn> in = CreateDecoderForFile(path);
  in->SetStartSample(1000);
  in->SetEndSample(30000);
  uint64_t shortfalls = 0;
  EXPECT_EQ(Play(*in, CardEnv, 0, shortfalls), "");
  EXPECT_EQ(shortfalls, 0u) << "a half the read-ahead could not supply";
  EXPECT_TRUE(ExactThenSilence(ReadCapture("card_s32"), track));
}

}  // namespace
