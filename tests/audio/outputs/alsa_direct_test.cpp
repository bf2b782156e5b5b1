// The ALSA hardware direct driver, pointed at PCMs of the test's own: paced
// test cards (a clock like a card's, see PacedCardPlugin.cpp) that write what
// they receive to a raw capture and count their own xruns. Each card format
// the driver converts to is checked bit for bit, through the player's whole
// chain, with no period missed.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/outputs/AsioHost_Define.h"
#include "audio/outputs/AuASIO.h"
#include "audio/outputs/OutputEnvironment.h"
#include "audio/outputs/drivers/AlsaDirect.h"
#include "audio/processors/AudioCache.h"
#include "audio/processors/AudioConverters.h"
#include "common/Pump.h"
#include "common/TestPaths.h"
#include "common/TestSource.h"
#include "tests/audio/outputs/AsioTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;
using namespace std::chrono_literals;

namespace {

struct TCard {
  const char* Pcm;
  snd_pcm_format_t Format;
  uint32_t Bytes;  // per sample in the capture
};

const TCard kCards[] = {{"card_s32", SND_PCM_FORMAT_S32_LE, 4},
                        {"card_s24", SND_PCM_FORMAT_S24_LE, 4},
                        {"card_s24_3", SND_PCM_FORMAT_S24_3LE, 3},
                        {"card_s16", SND_PCM_FORMAT_S16_LE, 2}};

class AlsaDirectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = ScratchDir("asio_alsa_direct");
    std::string config;
    alsa::TAlsaDirectSetup setup;
    for (const TCard& c : kCards) {
      config += PacedCardConfig(c.Pcm, Capture(c.Pcm), config.empty());
      setup.Devices.push_back({std::string("Test card ") + c.Pcm, c.Pcm, {c.Format}});
    }
    setup.Config = config;
    Env.AlsaDirect = setup;
    TASIOAudioOut::ResetOutputReadySupported();
  }

  std::string Capture(const std::string& Pcm) const { return Dir + "/" + Pcm + ".raw"; }

  std::vector<uint8_t> ReadCapture(const std::string& Pcm) const {
    return ReadWholeFile(Capture(Pcm));
  }

  // The run missed no period: the player had every half in time (no
  // shortfall, no xrun seen by the driver) and the card agrees.
  void ExpectNothingMissed(const TASIOAudioOut& Out, const std::string& Pcm) const {
    EXPECT_EQ(Out.Shortfalls(), 0u);
    EXPECT_EQ(Out.DeviceXruns(), 0u);
    const TPacedCardStats stats = ReadPacedCardStats(Capture(Pcm));
    EXPECT_EQ(stats.Xruns, 0) << "xruns the card counted";
    EXPECT_EQ(stats.Starts, 1) << "a card restarted after running dry";
  }

  // An output on device Index of the list (the test's cards, then JACK).
  std::unique_ptr<TASIOAudioOut> MakeOutput(int32_t Index) {
    auto out = std::make_unique<TASIOAudioOut>(nullptr, Env);
    out->SetOnDone([this](TComponent*) { ++Done; });
    out->SetDeviceNumber(Index);
    // The largest halves leave the read-ahead the most time on a busy machine.
    out->SetASIOBufferSize(absMaximum);
    return out;
  }

  bool Play(TASIOAudioOut& Out, TAuInput& In) {
    const int before = Done.load();
    Out.SetInput(&In);
    Out.Run();
    return PumpUntil([&] { return Done.load() > before; }, 60s);
  }

  std::string Dir;
  TOutputEnvironment Env;  // the test's cards
  std::atomic<int> Done{0};
};

// The samples a card of Format receives for 32-bit samples S.
std::vector<uint8_t> CardBytes(const std::vector<int32_t>& S, snd_pcm_format_t Format,
                               uint32_t Channels) {
  std::vector<const int32_t*> chans(Channels);
  std::vector<std::vector<int32_t>> planar(Channels);
  const uint32_t frames = static_cast<uint32_t>(S.size() / Channels);
  for (uint32_t c = 0; c < Channels; ++c) {
    planar[c].resize(frames);
    for (uint32_t f = 0; f < frames; ++f)
      planar[c][f] = S[f * Channels + c];
    chans[c] = planar[c].data();
  }
  std::vector<uint8_t> out(static_cast<size_t>(frames) * Channels * 4);
  alsa::InterleaveToCard(chans.data(), Channels, frames, Format, out.data());
  out.resize(static_cast<size_t>(frames) * Channels * (snd_pcm_format_physical_width(Format) / 8));
  return out;
}

TEST_F(AlsaDirectTest, ListHoldsTheDevicesThenJackWithItsServer) {
  Env.JackServer = "some-server";
  TAsioDriverList list;
  ListAsioDrivers(list, Env);
  ASSERT_EQ(list.size(), std::size(kCards) + 1);
  for (size_t i = 0; i < std::size(kCards); ++i) {
    EXPECT_TRUE(SameGUID(list[i].id, CLSID_AlsaDirectDriver));
    EXPECT_STREQ(list[i].path, kCards[i].Pcm);
  }
  EXPECT_TRUE(SameGUID(list.back().id, CLSID_JackDriver));
  EXPECT_STREQ(list.back().name, "JACK");
  EXPECT_STREQ(list.back().path, "some-server");
}

TEST(AsioDriverList, NamesAndPathsAreCutTo511BytesOnACharacterBoundary) {
  const std::string ascii(600, 'a');
  std::string wide;
  while (wide.size() < 600)
    wide += "\xE9\x9F\xB3";  // a 3-byte character
  TAsioDriverDesc d = MakeAsioDriverDesc(CLSID_JackDriver, ascii, wide);
  EXPECT_EQ(std::strlen(d.name), 511u);
  EXPECT_EQ(std::strlen(d.path), 510u);  // 170 whole characters
  EXPECT_EQ(std::string(d.path), wide.substr(0, 510));
}

TEST_F(AlsaDirectTest, APcmThatCannotBeOpenedGivesFailedToOpen) {
  alsa::TAlsaDirectSetup setup;
  setup.Config = "pcm.other { type null }";
  setup.Devices = {{"Missing", "no_such_pcm", {}}};
  Env.AlsaDirect = setup;
  EXPECT_EQ(alsa::CreateAlsaDirectDriver("Missing", "no_such_pcm", Env.AlsaDirect), nullptr);
  auto out = std::make_unique<TASIOAudioOut>(nullptr, Env);
  try {
    out->OutputBPS();
    ADD_FAILURE() << "opened a missing PCM";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "Failed to open ASIO device");
  }
}

struct TRecordingPanel : IAsioControlPanel {
  void Show(const TAsioDriverFacts& Facts) override {
    Shown = Facts;
    ++Count;
  }
  TAsioDriverFacts Shown;
  int Count = 0;
};

TEST_F(AlsaDirectTest, DriverPresentsInt32AndTheCardsRatesAndSizesAndShowsThemInThePanel) {
  std::unique_ptr<IAsioHost> drv = alsa::CreateAlsaDirectDriver("Card", "card_s16", Env.AlsaDirect);
  ASSERT_NE(drv, nullptr);
  EXPECT_EQ(drv->init(nullptr), ASIOTrue);
  int32_t ins = -1, outs = -1;
  drv->getChannels(&ins, &outs);
  EXPECT_EQ(ins, 0);
  EXPECT_GE(outs, 2);
  int32_t mn = 0, mx = 0, pref = 0, gran = 0;
  drv->getBufferSize(&mn, &mx, &pref, &gran);
  EXPECT_LE(mn, pref);
  EXPECT_LE(pref, mx);
  EXPECT_LE(mx, 8192);
  EXPECT_EQ(drv->canSampleRate(44100), ASE_OK);
  EXPECT_EQ(drv->canSampleRate(44100.5), ASE_NoClock);
  EXPECT_EQ(drv->setSampleRate(48000), ASE_OK);
  ASIOSampleRate rate = 0;
  drv->getSampleRate(&rate);
  EXPECT_EQ(rate, 48000);
  ASIOChannelInfo info{};
  info.channel = 0;
  ASSERT_EQ(drv->getChannelInfo(&info), ASE_OK);
  EXPECT_EQ(info.type, ASIOSTInt32LSB);

  EXPECT_EQ(drv->controlPanel(), ASE_NotPresent);  // no panel installed
  TRecordingPanel panel;
  SetAsioControlPanel(&panel);
  EXPECT_EQ(drv->controlPanel(), ASE_OK);
  SetAsioControlPanel(nullptr);
  ASSERT_EQ(panel.Count, 1);
  EXPECT_EQ(panel.Shown.Device, "card_s16");
  EXPECT_EQ(panel.Shown.Formats, (std::vector<std::string>{"Int32LSB (host side)", "S16_LE"}));
  EXPECT_NE(std::find(panel.Shown.SampleRates.begin(), panel.Shown.SampleRates.end(), 44100u),
            panel.Shown.SampleRates.end());
  EXPECT_EQ(panel.Shown.PreferredBufferSize, pref);

  // The rate outlives the driver object, as a card's clock does.
  drv.reset();
  drv = alsa::CreateAlsaDirectDriver("Card", "card_s16", Env.AlsaDirect);
  ASSERT_NE(drv, nullptr);
  drv->getSampleRate(&rate);
  EXPECT_EQ(rate, 48000);
  drv->setSampleRate(44100);
}

// The test card itself: it takes no more than its ring ahead of its clock,
// and runs dry, counting an xrun, when a period comes late.
TEST(PacedCard, PacesTheWriterAndCountsAPeriodThatCameLate) {
  const std::string capture = ScratchDir("paced_card") + "/card.raw";
  const std::string text = PacedCardConfig("card", capture);
  snd_config_t* top = nullptr;
  ASSERT_EQ(snd_config_top(&top), 0);
  snd_input_t* in = nullptr;
  ASSERT_EQ(snd_input_buffer_open(&in, text.data(), static_cast<ssize_t>(text.size())), 0);
  ASSERT_EQ(snd_config_load(top, in), 0);
  snd_input_close(in);
  snd_pcm_t* pcm = nullptr;
  ASSERT_EQ(snd_pcm_open_lconf(&pcm, "card", SND_PCM_STREAM_PLAYBACK, 0, top), 0);
  // 441-frame periods (10 ms), two of them; it starts when the ring is full.
  snd_pcm_uframes_t period = 441, buffer = 882;
  {
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    ASSERT_GE(snd_pcm_hw_params_any(pcm, hw), 0);
    ASSERT_EQ(snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED), 0);
    ASSERT_EQ(snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE), 0);
    ASSERT_EQ(snd_pcm_hw_params_set_channels(pcm, hw, 2), 0);
    ASSERT_EQ(snd_pcm_hw_params_set_rate(pcm, hw, 44100, 0), 0);
    ASSERT_EQ(snd_pcm_hw_params_set_period_size(pcm, hw, period, 0), 0);
    ASSERT_EQ(snd_pcm_hw_params_set_buffer_size(pcm, hw, buffer), 0);
    ASSERT_EQ(snd_pcm_hw_params(pcm, hw), 0);
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    ASSERT_EQ(snd_pcm_sw_params_current(pcm, sw), 0);
    ASSERT_EQ(snd_pcm_sw_params_set_start_threshold(pcm, sw, buffer), 0);
    ASSERT_EQ(snd_pcm_sw_params_set_avail_min(pcm, sw, period), 0);
    ASSERT_EQ(snd_pcm_sw_params(pcm, sw), 0);
  }
  std::vector<int16_t> block(2 * period, 0x1234);
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 12; ++i)
    ASSERT_EQ(snd_pcm_writei(pcm, block.data(), period), static_cast<snd_pcm_sframes_t>(period));
  // Ten periods had to play before the last two fitted.
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
          .count();
  EXPECT_GE(ms, 95);
  EXPECT_LT(ms, 200);
  std::this_thread::sleep_for(40ms);  // the ring (20 ms) runs dry
  EXPECT_EQ(snd_pcm_writei(pcm, block.data(), period), -EPIPE);
  ASSERT_EQ(snd_pcm_prepare(pcm), 0);
  snd_pcm_drop(pcm);
  snd_pcm_close(pcm);
  snd_config_delete(top);
  const TPacedCardStats stats = ReadPacedCardStats(capture);
  EXPECT_EQ(stats.Xruns, 1);
  EXPECT_EQ(stats.Period, 441);
  EXPECT_EQ(ReadWholeFile(capture).size(), 12u * period * 4);
}

TEST(AlsaDirectConversion, WideSamplesAreRoundedAndSaturatedNarrowOnesPassExactly) {
  const int32_t in[] = {0x12340000, INT32_MIN, 0x7FFFFFFF, 0x00008000,
                        0x00007FFF, -0x8000,   0x7FFF8000, 0x12345680};
  const int16_t s16[] = {0x1234, INT16_MIN, 0x7FFF, 1, 0, 0, 0x7FFF, 0x1234};
  const int32_t s24[] = {0x123400, -0x800000, 0x7FFFFF, 0x80, 0x80, -0x80, 0x7FFF80, 0x123457};
  const int32_t* src[1] = {in};
  const uint32_t n = std::size(in);
  std::vector<uint8_t> out(n * 4);
  alsa::InterleaveToCard(src, 1, n, SND_PCM_FORMAT_S16_LE, out.data());
  for (uint32_t i = 0; i < n; ++i) {
    int16_t v;
    std::memcpy(&v, out.data() + 2 * i, 2);
    EXPECT_EQ(v, s16[i]) << i;
  }
  alsa::InterleaveToCard(src, 1, n, SND_PCM_FORMAT_S24_LE, out.data());
  for (uint32_t i = 0; i < n; ++i) {
    int32_t v;
    std::memcpy(&v, out.data() + 4 * i, 4);
    EXPECT_EQ(v, s24[i]) << i;
  }
  alsa::InterleaveToCard(src, 1, n, SND_PCM_FORMAT_S24_3LE, out.data());
  for (uint32_t i = 0; i < n; ++i) {
    const int32_t v = int32_t(uint32_t(out[3 * i]) << 8 | uint32_t(out[3 * i + 1]) << 16 |
                              uint32_t(out[3 * i + 2]) << 24) >>
                      8;
    EXPECT_EQ(v, s24[i]) << i;
  }
  // A channel the host did not open is silent.
  const int32_t* two[2] = {in, nullptr};
  out.assign(n * 8, 0xFF);
  alsa::InterleaveToCard(two, 2, n, SND_PCM_FORMAT_S32_LE, out.data());
  for (uint32_t i = 0; i < n; ++i) {
    int32_t l, r;
    std::memcpy(&l, out.data() + 8 * i, 4);
    std::memcpy(&r, out.data() + 8 * i + 4, 4);
    EXPECT_EQ(l, in[i]);
    EXPECT_EQ(r, 0);
  }
}

// The player's chain (converter to 32-bit stereo, cache) into each card
// format: the card receives the converter's samples in its own format, whole
// and from the first frame, then silence; a source whose depth fits the card
// arrives there unchanged, byte for byte.
TEST_F(AlsaDirectTest, EveryCardFormatReceivesTheStreamBitExact) {
  const int64_t frames = 3 * 44100 / 2 + 11;
  for (size_t card = 0; card < std::size(kCards); ++card) {
    for (uint32_t bits : {16u, 24u, 32u}) {
      const TCard& c = kCards[card];
      SCOPED_TRACE(std::string(c.Pcm) + ", " + std::to_string(bits) + "-bit source");
      TTestSource src;
      src.Bits = bits;
      src.TotalBytes = frames * 2 * bits / 8;
      TAudioConverter conv;
      conv.SetOutBitsPerSample(32);
      conv.SetOutChannels(2);
      conv.SetInput(&src);
      TAudioCache cache{nullptr};
      cache.SetInput(&conv);
      auto out = MakeOutput(static_cast<int32_t>(card));
      ASSERT_TRUE(Play(*out, cache));
      ASSERT_EQ(out->ExceptionMessage(), "");
      ExpectNothingMissed(*out, c.Pcm);
      out.reset();
      cache.SetInput(nullptr);
      conv.SetInput(nullptr);

      const std::vector<uint8_t> cap = ReadCapture(c.Pcm);
      if (bits < 32) {
        // 16 and 24 bits are widened exactly by the converter.
        EXPECT_TRUE(
            ExactThenSilence(cap, CardBytes(WidenedPattern(bits, src.TotalBytes), c.Format, 2)));
      }
      if (bits == 32 && c.Format == SND_PCM_FORMAT_S32_LE) {
        // The converter's 32-bit output passes unchanged.
        TTestSource ref;
        ref.Bits = 32;
        ref.TotalBytes = src.TotalBytes;
        TAudioConverter rc;
        rc.SetOutBitsPerSample(32);
        rc.SetOutChannels(2);
        rc.SetInput(&ref);
        rc.Init();
        std::vector<uint8_t> expected;
        for (;;) {
          uint8_t* p = nullptr;
          uint32_t n = 65536;
          rc.GetData(p, n);
          if (n == 0) break;
          expected.insert(expected.end(), p, p + n);
        }
        rc.Flush();
        rc.SetInput(nullptr);
        EXPECT_TRUE(ExactThenSilence(cap, expected));
      }
      if ((bits == 16 && c.Format == SND_PCM_FORMAT_S16_LE) ||
          (bits == 24 && c.Format == SND_PCM_FORMAT_S24_3LE)) {
        // The card's width is the source's: the source's own bytes.
        std::vector<uint8_t> original(static_cast<size_t>(src.TotalBytes));
        for (size_t i = 0; i < original.size(); ++i)
          original[i] = PatternByte(int64_t(i));
        EXPECT_TRUE(ExactThenSilence(cap, original));
      }
    }
  }
}

// Four channels straight from the source (no converter): each reaches its own
// card channel.
TEST_F(AlsaDirectTest, MultichannelSourceReachesTheCardChannelsInOrder) {
  TTestSource src;
  src.Bits = 16;
  src.Chans = 4;
  src.TotalBytes = 20000 * 4 * 2;
  auto out = MakeOutput(0);
  ASSERT_TRUE(Play(*out, src));
  ASSERT_EQ(out->ExceptionMessage(), "");
  ExpectNothingMissed(*out, "card_s32");
  out.reset();
  EXPECT_TRUE(
      ExactThenSilence(ReadCapture("card_s32"),
                       CardBytes(WidenedPattern(16, src.TotalBytes), SND_PCM_FORMAT_S32_LE, 4)));
}

}  // namespace
