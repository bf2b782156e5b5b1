// Real files through the player's chain for the direct-driver engine
// (decoder -> converter to 32-bit stereo -> read-ahead cache -> output) reach
// the card exactly as the converter delivers them, with nothing missing at
// the start or the end. The card is a `file` PCM of the test's own, which
// takes halves faster than real time.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
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

using namespace lirvo;
using namespace lirvo::test;
using namespace std::chrono_literals;

namespace {

class AsioFixtureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = ScratchDir("asio_fixtures");
    alsa::TAlsaDirectSetup setup;
    for (const auto& [pcm, format] :
         {std::pair{"card_s32", SND_PCM_FORMAT_S32_LE}, {"card_s16", SND_PCM_FORMAT_S16_LE}}) {
      setup.Config += std::string("pcm.") + pcm + " { type file slave.pcm { type null } file \"" +
                      Capture(pcm) + "\" format \"raw\" }\n";
      setup.Devices.push_back({std::string("Test card ") + pcm, pcm, {format}});
    }
    Env.AlsaDirect = setup;
    TASIOAudioOut::ResetOutputReadySupported();
  }

  std::string Capture(const std::string& Pcm) const { return Dir + "/" + Pcm + ".raw"; }

  std::vector<uint8_t> ReadCapture(const std::string& Pcm) const {
    std::ifstream f(Capture(Pcm), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
  }

  size_t HalfFrames(const std::string& Pcm) const {
    std::unique_ptr<IAsioHost> drv = alsa::CreateAlsaDirectDriver("probe", Pcm, Env.AlsaDirect);
    int32_t mn = 0, mx = 0, pref = 0, gran = 0;
    if (drv) drv->getBufferSize(&mn, &mx, &pref, &gran);
    return static_cast<size_t>(mx);
  }

  // Plays Source through converter -> cache -> output on card Index; returns
  // the output's error text ("" when the run ended normally).
  std::string Play(TAuInput& Source, int32_t Index, uint64_t& Shortfalls) {
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
  TOutputEnvironment Env;  // the test's cards
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

TEST_F(AsioFixtureTest, EveryDecodableFixtureReachesTheCardAsTheConverterDeliversIt) {
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
    try {
      expected = ConvertedReference(*probe);
    } catch (const std::exception&) {
      continue;  // a fixture its decoder refuses (a header-only file) plays nowhere
    }
    // Several fixtures are silence, so a late half cannot be told from the
    // music: play again (a busy machine) until no half was missed.
    uint64_t shortfalls = 1;
    for (int attempt = 0; attempt < 3 && shortfalls > 0; ++attempt) {
      std::unique_ptr<TAuFileIn> in = CreateDecoderForFile(path);
      ASSERT_EQ(Play(*in, 0, shortfalls), "");
    }
    ASSERT_EQ(shortfalls, 0u) << "every attempt missed a half: the machine is too busy";
    EXPECT_TRUE(ExactThenSilence(ReadCapture("card_s32"), expected));
    ++played;
  }
  EXPECT_GE(played, 10);
}

// A 16-bit stereo file on a 16-bit card: the card receives the file's own
// samples, bit for bit, whatever the chain widened them to on the way.
TEST_F(AsioFixtureTest, SixteenBitFileOnASixteenBitCardIsBitPerfect) {
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
  EXPECT_EQ(Play(*in, 1, shortfalls), "");
  EXPECT_TRUE(WholeStreamWithCountedGaps(ReadCapture("card_s16"), original,
                                         HalfFrames("card_s16") * 2 * 2, shortfalls));
}

// A CUE track's window (frames 1000..30000 inclusive) through the whole chain
// delivers exactly those frames.
TEST_F(AsioFixtureTest, ACueTrackWindowReachesTheCardWithExactlyItsFrames) {
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
  EXPECT_EQ(Play(*in, 0, shortfalls), "");
  EXPECT_TRUE(WholeStreamWithCountedGaps(ReadCapture("card_s32"), track,
                                         HalfFrames("card_s32") * 2 * 4, shortfalls));
}

}  // namespace
