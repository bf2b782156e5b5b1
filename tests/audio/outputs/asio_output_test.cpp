// The direct-driver output against a driver of the tests' own: opening and
// its failures, buffer-size and sample-type choices, bit-exact delivery with
// widening and float scaling, the message callback, resets, rate changes,
// errors inside the delivery, and the driver being closed under a run.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/core/Pool.h"
#include "audio/outputs/AsioHost_Define.h"
#include "audio/outputs/AuASIO.h"
#include "audio/processors/AudioCache.h"
#include "audio/processors/AudioConverters.h"
#include "common/JumpingSource.h"
#include "common/Pump.h"
#include "common/TestSource.h"
#include "tests/audio/outputs/AsioTestSupport.h"
#include "tests/audio/outputs/FakeAsioDriver.h"

using namespace lirvo;
using namespace lirvo::test;
using namespace std::chrono_literals;

namespace {

class AsioOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterFakeAsio();
    Fake().Reset();
    TASIOAudioOut::ResetOutputReadySupported();
    Env.AsioHostAvailable = true;
    Env.AsioDrivers = [] { return TAsioDriverList{FakeDesc()}; };
  }

  // An output on the drivers and host of Env.
  std::unique_ptr<TASIOAudioOut> MakeOutput() {
    auto out = std::make_unique<TASIOAudioOut>(nullptr, Env);
    out->SetOnDone([this](TComponent*) { ++Done; });
    out->SetOnThreadException([this](TComponent*) { ++Exceptions; });
    return out;
  }

  // Runs In through Out to the end (or the run's failure).
  bool Play(TASIOAudioOut& Out, TAuInput& In, std::chrono::milliseconds Timeout = 30s) {
    const int before = Done.load();
    Out.SetInput(&In);
    Out.Run();
    return PumpUntil([&] { return Done.load() > before; }, Timeout);
  }

  // Starts a long run of Src through Out and waits for the driver's first
  // switches: the driver is open while the run lasts.
  void StartLongRun(TASIOAudioOut& Out, TTestSource& Src) {
    Src.TotalBytes = int64_t{Src.Rate} * 4 * 60;
    Fake().Switches = 0;
    Out.SetInput(&Src);
    Out.Run();
    ASSERT_TRUE(PumpUntil([&] { return Fake().Switches.load() >= 2; }));
  }

  // The host's callbacks as a run's driver holds them (they act on the
  // output, open or not).
  ASIOCallbacks CallbacksOfARun(TASIOAudioOut& Out) {
    TTestSource src;
    StartLongRun(Out, src);
    ASIOCallbacks cb{};
    {
      std::lock_guard<std::mutex> lock(Fake().CS);
      cb = Fake().Callbacks;
    }
    Out.Stop(false);
    Out.SetInput(nullptr);
    return cb;
  }

  void Configure(const std::function<void(TFakeAsioConfig&)>& Change) {
    std::lock_guard<std::mutex> lock(Fake().CS);
    Change(Fake().Config);
  }

  TOutputEnvironment Env;
  std::atomic<int> Done{0};
  std::atomic<int> Exceptions{0};
};

// A device that plays Frames-frame halves at Speed times real time (44.1 kHz).
std::chrono::microseconds PeriodOf(int32_t Frames, int32_t Speed = 1) {
  return std::chrono::microseconds(int64_t{Frames} * 1000000 / 44100 / Speed);
}

// Every frame of Expected reached the device in order, with no half missed
// (no shortfall), and the run ended within a few halves of its end.
::testing::AssertionResult EveryFrameThenEnd(const std::vector<uint8_t>& Captured,
                                             const std::vector<uint8_t>& Expected, size_t HalfBytes,
                                             uint64_t Shortfalls) {
  if (Shortfalls != 0) return ::testing::AssertionFailure() << Shortfalls << " shortfall(s)";
  ::testing::AssertionResult r = ExactThenSilence(Captured, Expected);
  if (!r) return r;
  const size_t halves = (Expected.size() + HalfBytes - 1) / HalfBytes;
  if (Captured.size() > (halves + 4) * HalfBytes)
    return ::testing::AssertionFailure()
           << "the run went on for " << (Captured.size() / HalfBytes - halves)
           << " halves after the end";
  return ::testing::AssertionSuccess();
}

// Expects Call to raise EAuException with Message.
template <class F>
void ExpectAuError(F Call, const std::string& Message) {
  try {
    Call();
    ADD_FAILURE() << "no exception, expected \"" << Message << "\"";
  } catch (const EAuException& e) {
    EXPECT_EQ(e.what(), Message);
  }
}

TEST_F(AsioOutputTest, WithoutDriversTheNumberIsIgnoredAndPlaybackReportsAnInvalidDevice) {
  Env.AsioDrivers = [] { return TAsioDriverList{}; };
  auto out = MakeOutput();
  EXPECT_EQ(out->DeviceCount(), 0);
  out->SetDeviceNumber(3);
  EXPECT_EQ(out->DeviceNumber(), 0);
  TTestSource src;
  ASSERT_TRUE(Play(*out, src));
  EXPECT_EQ(out->ExceptionMessage(), "Invalid ASIO device number");
  EXPECT_TRUE(PumpUntil([&] { return Exceptions.load() == 1; }));
  EXPECT_EQ(out->Status(), tosIdle);
}

TEST_F(AsioOutputTest, DeviceNumbersOutsideTheListAreRefusedWithTheNumber) {
  Env.AsioDrivers = [] { return TAsioDriverList{FakeDesc("First"), FakeDesc("Second")}; };
  auto out = MakeOutput();
  ASSERT_EQ(out->DeviceCount(), 2);
  EXPECT_EQ(out->DeviceName(1), "Second");
  ExpectAuError([&] { out->SetDeviceNumber(2); }, "Device number out of range: 2");
  ExpectAuError([&] { out->SetDeviceNumber(-1); }, "Device number out of range: -1");
  ExpectAuError([&] { out->DeviceName(5); }, "Device number out of range: 5");
  out->SetDeviceNumber(1);
  EXPECT_EQ(out->DeviceNumber(), 1);
}

// Two outputs side by side: each lists and opens through its own environment
// only, and a later change to the caller's copy reaches neither.
TEST_F(AsioOutputTest, EachOutputListsAndOpensThroughItsOwnEnvironment) {
  TOutputEnvironment other;
  other.AsioDrivers = [] { return TAsioDriverList{FakeDesc("Other"), FakeDesc("Another")}; };
  other.AsioHostAvailable = false;
  auto theirs = std::make_unique<TASIOAudioOut>(nullptr, other);
  auto mine = MakeOutput();
  Env.AsioHostAvailable = false;
  other.AsioHostAvailable = true;
  ASSERT_EQ(mine->DeviceCount(), 1);
  EXPECT_EQ(mine->DeviceName(0), "Fake ASIO");
  ASSERT_EQ(theirs->DeviceCount(), 2);
  EXPECT_EQ(theirs->DeviceName(1), "Another");
  ExpectAuError([&] { theirs->Latency(); }, "Failed to open ASIO device");
  EXPECT_EQ(Fake().Creations.load(), 0);
  EXPECT_GT(mine->Latency(), 0u);
  EXPECT_EQ(Fake().Creations.load(), 1);
}

TEST_F(AsioOutputTest, EachLatencyChoicePicksItsDriverBufferSizeNotTheGranularity) {
  const struct {
    TASIOBufferSize Choice;
    int32_t Size;
  } cases[] = {{absMinimum, 96}, {absPreferred, 512}, {absMaximum, 2048}};
  Configure([](TFakeAsioConfig& c) {
    c.MinSize = 96;
    c.PrefSize = 512;
    c.MaxSize = 2048;
    c.Granularity = 1000;
  });
  for (const auto& t : cases) {
    SCOPED_TRACE(int(t.Choice));
    auto out = MakeOutput();
    out->SetASIOBufferSize(t.Choice);
    EXPECT_EQ(out->OutputBPS(), 32u);
    std::lock_guard<std::mutex> lock(Fake().CS);
    ASSERT_FALSE(Fake().CreatedSizes.empty());
    EXPECT_EQ(Fake().CreatedSizes.back(), t.Size);
  }
}

TEST_F(AsioOutputTest, SampleTypesMapToOutputWidthsAndOthersAreRefused) {
  const struct {
    ASIOSampleType Type;
    uint32_t Bps;  // 0: refused
  } cases[] = {{ASIOSTInt16LSB, 16},   {ASIOSTInt24LSB, 24},   {ASIOSTInt32LSB, 32},
               {ASIOSTFloat32LSB, 32}, {ASIOSTInt32LSB16, 16}, {ASIOSTInt32LSB24, 24},
               {ASIOSTInt32MSB, 0},    {ASIOSTFloat64LSB, 0},  {ASIOSTInt32LSB20, 0}};
  for (const auto& t : cases) {
    SCOPED_TRACE(t.Type);
    Configure([&](TFakeAsioConfig& c) { c.Type = t.Type; });
    auto out = MakeOutput();
    if (t.Bps) {
      EXPECT_EQ(out->OutputBPS(), t.Bps);
    } else {
      ExpectAuError([&] { out->OutputBPS(); }, "ASIO: Unsupported sample format.");
      // The refused driver is not kept open.
      EXPECT_EQ(AsioHostObjectCount(), 0);
    }
  }
}

TEST_F(AsioOutputTest, OpenFailuresGiveTheirMessagesAndReleaseTheDriver) {
  const struct {
    const char* Name;
    std::function<void(TFakeAsioConfig&)> Change;
    bool HostMissing;
    std::string Message;
  } cases[] = {
      {"driver cannot be created", [](TFakeAsioConfig& c) { c.CreateFails = true; }, false,
       "Failed to open ASIO device"},
      {"host not loaded", [](TFakeAsioConfig&) {}, true, "Failed to open ASIO device"},
      {"init fails", [](TFakeAsioConfig& c) { c.InitResult = ASIOFalse; }, false,
       "Failed to initialize ASIO device"},
      {"createBuffers fails", [](TFakeAsioConfig& c) { c.CreateBuffersResult = ASE_NoMemory; },
       false, "ASIO: failed to create output buffers."},
      {"mono driver", [](TFakeAsioConfig& c) { c.Channels = 1; }, false,
       "ASIO: 2 channels are not available."},
      {"half does not fit the staging block",
       [](TFakeAsioConfig& c) {
         c.PrefSize = 70000;
         c.MaxSize = 70000;
       },
       false, "ASIO: buffer size of 70000 frames is not usable."},
      {"zero buffer size", [](TFakeAsioConfig& c) { c.PrefSize = 0; }, false,
       "ASIO: buffer size of 0 frames is not usable."},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.Name);
    Fake().Reset();
    Configure(t.Change);
    Env.AsioHostAvailable = !t.HostMissing;
    auto out = MakeOutput();
    ExpectAuError([&] { out->Latency(); }, t.Message);
    EXPECT_EQ(AsioHostObjectCount(), 0);
    Env.AsioHostAvailable = true;
  }
}

TEST_F(AsioOutputTest, SampleRateReadsTheOpenDriverElse44100) {
  Configure([](TFakeAsioConfig& c) { c.Rates = {96000, 44100}; });
  auto out = MakeOutput();
  EXPECT_EQ(out->SampleRate(), 44100);
  out->SetSampleRate(96000);  // no driver: nothing happens
  EXPECT_TRUE(Fake().RatesSet.empty());
  EXPECT_TRUE(out->IsSampleRateSupported(44100));
  EXPECT_FALSE(out->IsSampleRateSupported(22050));
  EXPECT_EQ(AsioHostObjectCount(), 0);  // the check closes the driver again
  out->OutputBPS();
  EXPECT_EQ(AsioHostObjectCount(), 0);  // and so does a query
  EXPECT_EQ(out->SampleRate(), 44100);
  // A run's driver is open: its rate is read and set.
  TTestSource src;
  src.Rate = 96000;
  StartLongRun(*out, src);
  EXPECT_EQ(out->SampleRate(), 96000);
  out->SetSampleRate(44100);
  EXPECT_EQ(out->SampleRate(), 44100);
  out->Stop(false);
  EXPECT_EQ(out->SampleRate(), 44100);
}

// The dialog and every query that opens the driver release it again at once
// (a held hardware device refuses every other program), but leave a run's
// driver open and the run playing.
TEST_F(AsioOutputTest, SetupDialogAndQueriesReleaseTheDriverTheyOpened) {
  auto out = MakeOutput();
  int window = 0;
  out->SetASIOForm(&window);
  const struct {
    const char* Name;
    std::function<void()> Call;
    int Opens;  // driver objects created by the call on an idle output
  } cases[] = {
      {"setup dialog",
       [&] {
         out->ShowSetupDlg();
         EXPECT_EQ(Fake().InitHandle, &window);
       },
       1},
      {"latency", [&] { EXPECT_EQ(out->Latency(), 2u * 1024 + 7); }, 1},
      {"channels", [&] { EXPECT_EQ(out->MaxOutputChannels(), 2u); }, 1},
      {"width", [&] { EXPECT_EQ(out->OutputBPS(), 32u); }, 1},
      {"rate check", [&] { EXPECT_TRUE(out->IsSampleRateSupported(48000)); }, 1},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.Name);
    const int before = Fake().Creations.load();
    t.Call();
    EXPECT_EQ(Fake().Creations.load(), before + t.Opens);
    EXPECT_EQ(AsioHostObjectCount(), 0);
  }
  EXPECT_EQ(Fake().ControlPanels.load(), 1);
  out->ReleaseASIODriver();
  EXPECT_EQ(AsioHostObjectCount(), 0);

  // During a run the queries use the run's driver and close nothing.
  Configure([](TFakeAsioConfig& c) { c.Period = 2ms; });
  TTestSource src;
  StartLongRun(*out, src);
  const int creations = Fake().Creations.load();
  for (const auto& t : cases) {
    if (std::string(t.Name) == "setup dialog") continue;
    SCOPED_TRACE(std::string("during a run: ") + t.Name);
    t.Call();
    EXPECT_EQ(AsioHostObjectCount(), 1);
  }
  EXPECT_EQ(Fake().Creations.load(), creations);
  EXPECT_EQ(out->Status(), tosPlaying);
  out->Stop(false);
  EXPECT_EQ(AsioHostObjectCount(), 0);
}

// What the converter to 32-bit stereo makes of a source: the reference for a
// run through the player's chain.
std::vector<uint8_t> ConverterReference(uint32_t Bits, uint32_t Chans, int64_t Bytes) {
  TTestSource src;
  src.Bits = Bits;
  src.Chans = Chans;
  src.TotalBytes = Bytes;
  TAudioConverter conv;
  conv.SetOutBitsPerSample(32);
  conv.SetOutChannels(2);
  conv.SetInput(&src);
  conv.Init();
  std::vector<uint8_t> out;
  for (;;) {
    uint8_t* p = nullptr;
    uint32_t n = 64 * 1024;
    conv.GetData(p, n);
    if (n == 0) break;
    out.insert(out.end(), p, p + n);
  }
  conv.Flush();
  conv.SetInput(nullptr);
  return out;
}

// Every width through the output's own widening and through the player's
// chain (converter to 32-bit stereo, cache), on a device that takes halves as
// fast as they come: exactly the stream, from its first frame, then silence.
TEST_F(AsioOutputTest, PlaybackIsBitExactWithNothingMissingOrAddedForEveryWidth) {
  const int64_t frames = 50000 + 37;  // a short last block
  Configure([](TFakeAsioConfig& c) {
    c.PrefSize = 4096;
    c.Period = PeriodOf(4096, 2);
  });
  const struct {
    uint32_t Bits, Chans;
    bool Chain;
  } cases[] = {{16, 2, false}, {24, 2, false}, {32, 2, false}, {16, 2, true},
               {24, 2, true},  {32, 2, true},  {16, 1, true}};
  for (const auto& t : cases) {
    SCOPED_TRACE(std::to_string(t.Bits) + " bits, " + std::to_string(t.Chans) + " channels" +
                 (t.Chain ? ", through converter and cache" : ""));
    Fake().TakeCapture();
    Fake().Starts = 0;
    Fake().Stops = 0;
    {
      std::lock_guard<std::mutex> lock(Fake().CS);
      Fake().RatesSet.clear();
    }
    auto out = MakeOutput();
    TTestSource src;
    src.Bits = t.Bits;
    src.Chans = t.Chans;
    src.TotalBytes = frames * t.Chans * t.Bits / 8;
    TAudioConverter conv;
    TAudioCache cache{nullptr};
    TAuInput* in = &src;
    std::vector<uint8_t> expected;
    if (t.Chain) {
      conv.SetOutBitsPerSample(32);
      conv.SetOutChannels(2);
      conv.SetInput(&src);
      cache.SetInput(&conv);
      in = &cache;
      expected = ConverterReference(t.Bits, t.Chans, src.TotalBytes);
      // For 16 and 24 bits the converter widens exactly.
      if (t.Bits != 32 && t.Chans == 2) {
        EXPECT_EQ(expected, Bytes32(WidenedPattern(t.Bits, src.TotalBytes)));
      }
    } else {
      expected = Bytes32(WidenedPattern(t.Bits, src.TotalBytes));
    }
    ASSERT_TRUE(Play(*out, *in));
    EXPECT_EQ(out->ExceptionMessage(), "");
    EXPECT_TRUE(EveryFrameThenEnd(Fake().TakeCapture(), expected, 4096 * 8, out->Shortfalls()));
    EXPECT_EQ(Fake().Starts.load(), 1);
    EXPECT_GE(Fake().Stops.load(), 1);
    EXPECT_TRUE(Fake().SawTimeInfoFlags.load());
    {
      std::lock_guard<std::mutex> lock(Fake().CS);
      EXPECT_EQ(Fake().RatesSet, (std::vector<double>{44100, 44100}));
    }
    out.reset();
    cache.SetInput(nullptr);
    conv.SetInput(nullptr);
  }
  EXPECT_EQ(AsioHostObjectCount(), 0);
}

// At each buffer-size choice (down to the driver's smallest), on a device
// paced at real time: every frame arrives, no half is missed, and the run
// ends right after the last (padded) half has been played.
TEST_F(AsioOutputTest, EveryBufferSizeDeliversEveryFrameWithNoHalfMissed) {
  Configure([](TFakeAsioConfig& c) {
    c.MinSize = 64;
    c.PrefSize = 1024;
    c.MaxSize = 4096;
  });
  const struct {
    TASIOBufferSize Choice;
    int32_t Size;
    uint32_t Bits;
    ASIOSampleType Type;
  } cases[] = {
      {absMinimum, 64, 16, ASIOSTInt32LSB},     {absMinimum, 64, 24, ASIOSTInt32LSB},
      {absMinimum, 64, 32, ASIOSTFloat32LSB},   {absPreferred, 1024, 16, ASIOSTInt32LSB},
      {absPreferred, 1024, 32, ASIOSTInt32LSB}, {absMaximum, 4096, 24, ASIOSTInt32LSB},
      {absMaximum, 4096, 16, ASIOSTFloat32LSB},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(std::to_string(t.Size) + " frames, " + std::to_string(t.Bits) + " bits" +
                 (t.Type == ASIOSTFloat32LSB ? ", float" : ""));
    Configure([&](TFakeAsioConfig& c) {
      c.Type = t.Type;
      c.Period = PeriodOf(t.Size);
    });
    Fake().TakeCapture();
    auto out = MakeOutput();
    out->SetASIOBufferSize(t.Choice);
    TTestSource src;
    src.Bits = t.Bits;
    src.TotalBytes = int64_t{17640 + 37} * 2 * t.Bits / 8;  // 0.4 s and a part of a half
    ASSERT_TRUE(Play(*out, src));
    EXPECT_EQ(out->ExceptionMessage(), "");
    const auto widened = WidenedPattern(t.Bits, src.TotalBytes);
    EXPECT_TRUE(EveryFrameThenEnd(
        Fake().TakeCapture(), t.Type == ASIOSTFloat32LSB ? BytesFloat(widened) : Bytes32(widened),
        static_cast<size_t>(t.Size) * 8, out->Shortfalls()));
    std::lock_guard<std::mutex> lock(Fake().CS);
    EXPECT_EQ(Fake().CreatedSizes.back(), t.Size);
  }
}

// The buffer switch only takes what the ring holds: while the playback thread
// is held up (a slow input) it returns at once with silence, counted as a
// shortfall, instead of waiting for the read-ahead.
TEST_F(AsioOutputTest, TheSwitchNeverWaitsForAHeldUpPlaybackThread) {
  Configure([](TFakeAsioConfig& c) {
    c.PrefSize = 1024;
    c.Period = 5ms;
  });
  auto out = MakeOutput();
  TTestSource src;
  src.TotalBytes = int64_t{44100} * 4 * 60;
  out->SetInput(&src);
  out->Run();
  ASSERT_TRUE(PumpUntil([&] { return Fake().Switches.load() >= 5; }));
  src.BlockDelay = std::chrono::microseconds(400000);
  ASSERT_TRUE(PumpUntil([&] { return out->Shortfalls() >= 30; }, 30s));
  src.BlockDelay = std::chrono::microseconds(0);
  out->Stop(false);
  std::vector<int64_t> took;
  {
    std::lock_guard<std::mutex> lock(Fake().CS);
    took = Fake().SwitchNs;
  }
  ASSERT_GE(took.size(), 30u);
  // A few may be preempted on a loaded machine; waiting for the read-ahead
  // (half a buffer: 11.6 ms here) would make every starved switch long.
  const auto longOnes =
      std::count_if(took.begin(), took.end(), [](int64_t ns) { return ns > 2000000; });
  EXPECT_LE(longOnes, static_cast<long>(took.size() / 10))
      << longOnes << " of " << took.size() << " switches took over 2 ms";
}

// The playback thread sleeps until the driver takes a period: about one
// wake-up per period whatever PollSleepMs is, and with 0 no spinning either
// (its CPU time stays a small part of the run).
TEST_F(AsioOutputTest, ThePlaybackThreadWakesAboutOncePerPeriodAndNeverSpins) {
  const int32_t saved = PollSleepMs.load();
  Configure([](TFakeAsioConfig& c) {
    c.PrefSize = 1024;
    c.Period = 20ms;
  });
  for (int32_t poll : {0, 1, 5}) {
    SCOPED_TRACE("PollSleepMs " + std::to_string(poll));
    PollSleepMs = poll;
    auto out = MakeOutput();
    std::atomic<int64_t> switches{-1}, cpuUs{-1};
    out->SetOnSyncDone([&](TComponent*) {
      rusage ru{};
      getrusage(RUSAGE_THREAD, &ru);
      switches = ru.ru_nvcsw + ru.ru_nivcsw;
      cpuUs = (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000000 + ru.ru_utime.tv_usec +
              ru.ru_stime.tv_usec;
    });
    TTestSource src;
    src.TotalBytes = int64_t{50} * 1024 * 4;  // 50 periods: about 1 s
    const auto began = std::chrono::steady_clock::now();
    ASSERT_TRUE(Play(*out, src));
    const auto wallUs = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - began)
                            .count();
    EXPECT_EQ(out->ExceptionMessage(), "");
    ASSERT_GE(switches.load(), 0);
    const int64_t periods = Fake().Switches.load();
    EXPECT_LE(switches.load(), 2 * periods + 20)
        << switches.load() << " context switches over " << periods << " periods";
    EXPECT_LT(cpuUs.load(), wallUs / 5) << cpuUs.load() << " us of CPU in " << wallUs << " us";
    Fake().Switches = 0;
  }
  PollSleepMs = saved;
}

// The driver's own xruns arrive as kAsioOverload (from its real-time thread)
// and are counted apart from the host's shortfalls, per run.
TEST_F(AsioOutputTest, DriverXrunsAreCountedPerRun) {
  Configure([](TFakeAsioConfig& c) { c.Period = 2ms; });
  auto out = MakeOutput();
  for (int xruns : {3, 1}) {
    SCOPED_TRACE(xruns);
    TTestSource src;
    StartLongRun(*out, src);
    EXPECT_EQ(out->DeviceXruns(), 0u);
    for (int i = 0; i < xruns; ++i)
      EXPECT_EQ(Fake().SendMessage(kAsioOverload, 0), 1);
    EXPECT_EQ(out->DeviceXruns(), static_cast<uint64_t>(xruns));
    out->Stop(false);
    out->SetInput(nullptr);
  }
}

TEST_F(AsioOutputTest, AFloatDriverReceivesSamplesScaledToPlusMinusOne) {
  Configure([](TFakeAsioConfig& c) {
    c.Type = ASIOSTFloat32LSB;
    c.PrefSize = 4096;
    c.Period = PeriodOf(4096, 2);
  });
  for (uint32_t bits : {16u, 32u}) {
    SCOPED_TRACE(bits);
    Fake().TakeCapture();
    auto out = MakeOutput();
    TTestSource src;
    src.Bits = bits;
    src.TotalBytes = 5000 * 2 * bits / 8;
    ASSERT_TRUE(Play(*out, src));
    EXPECT_EQ(out->ExceptionMessage(), "");
    EXPECT_TRUE(EveryFrameThenEnd(Fake().TakeCapture(),
                                  BytesFloat(WidenedPattern(bits, src.TotalBytes)), 4096 * 8,
                                  out->Shortfalls()));
  }
}

// A driver whose type is not 32 bits wide opens, but its blocks cannot be
// delivered: the run ends with the error (on the playback thread, through
// OnThreadException), the device only ever gets silence, and the output can
// play again afterwards (nothing left locked).
TEST_F(AsioOutputTest, AnUndeliverableBlockEndsTheRunWithSilenceAndTheOutputRecovers) {
  const struct {
    ASIOSampleType Type;
    uint32_t Bits;
    std::string Message;
  } cases[] = {
      {ASIOSTInt24LSB, 32,
       "TASIOAudioOut cannot play 32 bps stream in this set up (actual output bps is 24). Use "
       "BPS converter."},
      {ASIOSTInt16LSB, 16,
       "TASIOAudioOut cannot play 16 bps stream in this set up (actual output bps is 16). Use "
       "BPS converter."},
      {ASIOSTInt32LSB, 8,
       "TASIOAudioOut cannot play 8 bps stream in this set up (actual output bps is 32). Use "
       "BPS converter."},
  };
  auto out = MakeOutput();
  for (const auto& t : cases) {
    SCOPED_TRACE(t.Message);
    Fake().Reset();
    Configure([&](TFakeAsioConfig& c) { c.Type = t.Type; });
    const int exceptions = Exceptions.load();
    TTestSource src;
    src.Bits = t.Bits;
    src.TotalBytes = 1 << 20;
    ASSERT_TRUE(Play(*out, src));
    EXPECT_EQ(out->ExceptionMessage(), t.Message);
    EXPECT_TRUE(PumpUntil([&] { return Exceptions.load() == exceptions + 1; }));
    const auto cap = Fake().TakeCapture();
    EXPECT_TRUE(ExactThenSilence(cap, {}));
    EXPECT_EQ(AsioHostObjectCount(), 0);

    Configure([](TFakeAsioConfig& c) {
      c.Type = ASIOSTInt32LSB;
      c.PrefSize = 4096;
      c.Period = PeriodOf(4096, 2);
    });
    TTestSource again;
    again.TotalBytes = 3000 * 4;
    ASSERT_TRUE(Play(*out, again));
    EXPECT_EQ(out->ExceptionMessage(), "");
    EXPECT_TRUE(EveryFrameThenEnd(Fake().TakeCapture(), Bytes32(WidenedPattern(16, 3000 * 4)),
                                  4096 * 8, out->Shortfalls()));
  }
}

TEST_F(AsioOutputTest, MessageCallbackAnswersEachSelector) {
  auto out = MakeOutput();
  const ASIOCallbacks cb = CallbacksOfARun(*out);
  const struct {
    int32_t Selector, Value, Result;
  } cases[] = {
      {kAsioSelectorSupported, kAsioEngineVersion, 1},
      {kAsioSelectorSupported, kAsioResetRequest, 1},
      {kAsioSelectorSupported, kAsioBufferSizeChange, 0},  // handled, yet not announced
      {kAsioSelectorSupported, kAsioResyncRequest, 1},
      {kAsioSelectorSupported, kAsioLatenciesChanged, 1},
      {kAsioSelectorSupported, kAsioSupportsTimeInfo, 1},
      {kAsioSelectorSupported, kAsioSupportsTimeCode, 1},
      {kAsioSelectorSupported, kAsioOverload, 1},
      {kAsioSelectorSupported, kAsioSelectorSupported, 0},
      {kAsioSelectorSupported, 99, 0},
      {kAsioEngineVersion, 0, 2},
      {kAsioResetRequest, 0, 1},
      {kAsioBufferSizeChange, 512, 1},
      {kAsioResyncRequest, 0, 0},
      {kAsioLatenciesChanged, 0, 1},
      {kAsioSupportsTimeInfo, 0, 1},
      {kAsioSupportsTimeCode, 0, 0},
      {kAsioOverload, 0, 1},
      {42, 0, 0},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(std::to_string(t.Selector) + "/" + std::to_string(t.Value));
    EXPECT_EQ(cb.asioMessage(t.Selector, t.Value, nullptr, nullptr), t.Result);
  }
}

TEST_F(AsioOutputTest, LatencyChangePostsItsEvent) {
  auto out = MakeOutput();
  std::atomic<int> changed{0};
  out->SetOnLatencyChanged([&](TComponent* s) {
    EXPECT_EQ(s, out.get());
    ++changed;
  });
  const ASIOCallbacks cb = CallbacksOfARun(*out);
  EXPECT_EQ(cb.asioMessage(kAsioLatenciesChanged, 0, nullptr, nullptr), 1);
  EXPECT_TRUE(PumpUntil([&] { return changed.load() == 1; }));
}

// A reset request during playback: the driver is re-opened, given the rate and
// started again; the stream goes on where it was (only silence may be added
// around the switch-over) and OnDriverReset is posted.
TEST_F(AsioOutputTest, ResetRequestRestartsTheDriverAndPlaybackContinues) {
  for (int32_t selector : {kAsioResetRequest, kAsioBufferSizeChange}) {
    SCOPED_TRACE(selector);
    Fake().Reset();
    Configure([](TFakeAsioConfig& c) {
      c.PrefSize = 512;
      c.Period = 2ms;
    });
    auto out = MakeOutput();
    std::atomic<int> resets{0};
    out->SetOnDriverReset([&](TComponent*) { ++resets; });
    TTestSource src;
    src.TotalBytes = 44100 * 4;  // 1 s at 512 frames per 2 ms
    out->SetInput(&src);
    const int before = Done.load();
    out->Run();
    ASSERT_TRUE(PumpUntil([&] { return Fake().Switches.load() >= 20; }));
    EXPECT_EQ(Fake().SendMessage(selector, 0), 1);
    ASSERT_TRUE(PumpUntil([&] { return Done.load() > before; }, 30s));
    EXPECT_EQ(out->ExceptionMessage(), "");
    EXPECT_EQ(Fake().Creations.load(), 3);  // open, re-open for the rate, reset
    EXPECT_EQ(Fake().Starts.load(), 2);
    EXPECT_TRUE(PumpUntil([&] { return resets.load() == 1; }));
    EXPECT_TRUE(ExactThenSilence(DropSilentChunks(Fake().TakeCapture(), 512 * 8),
                                 Bytes32(WidenedPattern(16, src.TotalBytes))));
    std::lock_guard<std::mutex> lock(Fake().CS);
    EXPECT_EQ(Fake().RatesSet, (std::vector<double>{44100, 44100, 44100}));
  }
}

// The settings dialog releases the driver (and may open it again) while a run
// plays: the run must not wait forever for a driver that no longer calls.
TEST_F(AsioOutputTest, DriverClosedUnderARunIsReopenedAndTheRunEnds) {
  Configure([](TFakeAsioConfig& c) {
    c.PrefSize = 512;
    c.Period = 2ms;
  });
  auto out = MakeOutput();
  TTestSource src;
  src.TotalBytes = 44100 * 4;
  out->SetInput(&src);
  const int before = Done.load();
  out->Run();
  ASSERT_TRUE(PumpUntil([&] { return Fake().Switches.load() >= 10; }));
  out->ReleaseASIODriver();
  ASSERT_TRUE(PumpUntil([&] { return Fake().Switches.load() >= 30; }));
  out->ShowSetupDlg();
  ASSERT_TRUE(PumpUntil([&] { return Done.load() > before; }, 30s));
  EXPECT_EQ(out->ExceptionMessage(), "");
  EXPECT_TRUE(ExactThenSilence(DropSilentChunks(Fake().TakeCapture(), 512 * 8),
                               Bytes32(WidenedPattern(16, src.TotalBytes))));
}

TEST_F(AsioOutputTest, SampleRateChangeStopsTheRunAndReportsTheNewRate) {
  Configure([](TFakeAsioConfig& c) { c.Period = 5ms; });
  auto out = MakeOutput();
  std::atomic<int> changed{0};
  out->SetOnSampleRateChanged([&](TComponent*) { ++changed; });
  TTestSource src;
  src.TotalBytes = 44100 * 4 * 60;
  out->SetInput(&src);
  const int before = Done.load();
  out->Run();
  ASSERT_TRUE(PumpUntil([&] { return Fake().Switches.load() >= 5; }));
  Fake().SendRateChange(47999.6);
  ASSERT_TRUE(PumpUntil([&] { return Done.load() > before; }));
  EXPECT_TRUE(PumpUntil([&] { return changed.load() == 1; }));
  EXPECT_EQ(out->NewSampleRate(), 48000);
  EXPECT_EQ(out->ExceptionMessage(), "");
  EXPECT_LT(src.Position(), src.TotalBytes);
}

TEST_F(AsioOutputTest, RefusedRateAndFailedStartEndTheRunWithTheirMessages) {
  {
    Configure([](TFakeAsioConfig& c) { c.Rates = {48000}; });
    auto out = MakeOutput();
    TTestSource src;
    ASSERT_TRUE(Play(*out, src));
    EXPECT_EQ(out->ExceptionMessage(),
              "ASIO driver doesn't support sample rate of 44100. Use resampler.");
  }
  {
    Fake().Reset();
    Configure([](TFakeAsioConfig& c) { c.StartResult = ASE_HWMalfunction; });
    auto out = MakeOutput();
    TTestSource src;
    ASSERT_TRUE(Play(*out, src));
    EXPECT_EQ(out->ExceptionMessage(), "Cannot start ASIO driver");
  }
  EXPECT_EQ(AsioHostObjectCount(), 0);
}

TEST_F(AsioOutputTest, TheFirstFailedOutputReadyStopsAllFurtherCalls) {
  Configure([](TFakeAsioConfig& c) { c.OutputReadyResult = ASE_NotPresent; });
  auto out = MakeOutput();
  for (int run = 0; run < 2; ++run) {
    TTestSource src;
    src.TotalBytes = 8192 * 4;
    ASSERT_TRUE(Play(*out, src));
  }
  EXPECT_EQ(Fake().OutputReadyCalls.load(), 1);
  EXPECT_FALSE(TASIOAudioOut::OutputReadySupported());

  TASIOAudioOut::ResetOutputReadySupported();
  Fake().Reset();
  TTestSource src;
  src.TotalBytes = 8192 * 4;  // 8 blocks of 1024 frames
  ASSERT_TRUE(Play(*out, src));
  EXPECT_GE(Fake().OutputReadyCalls.load(), 8);
}

TEST_F(AsioOutputTest, PositionEventGetsTheDriversPositionAndFullTimeStamp) {
  auto out = MakeOutput();
  std::mutex cs;
  std::vector<int64_t> positions, stamps;
  out->SetOnPositionChanged([&](TComponent*, int64_t pos, int64_t stamp) {
    std::lock_guard<std::mutex> lock(cs);
    positions.push_back(pos);
    stamps.push_back(stamp);
  });
  TTestSource src;
  src.TotalBytes = 4096 * 4;
  ASSERT_TRUE(Play(*out, src));
  std::lock_guard<std::mutex> lock(cs);
  ASSERT_GE(positions.size(), 4u);
  EXPECT_EQ(positions[0], 0);
  for (size_t i = 0; i < positions.size(); ++i) {
    EXPECT_EQ(positions[i] % 1024, 0);
    if (i > 0) {
      EXPECT_GT(positions[i], positions[i - 1]);
    }
    EXPECT_EQ(stamps[i], (int64_t{1} << 32) + positions[i]);
  }
}

TEST_F(AsioOutputTest, PauseStopsAndResumeRestartsTheDriverWithoutLosingData) {
  Configure([](TFakeAsioConfig& c) {
    c.PrefSize = 512;
    c.Period = 2ms;
  });
  auto out = MakeOutput();
  TTestSource src;
  src.TotalBytes = 44100 * 4;
  out->SetInput(&src);
  const int before = Done.load();
  out->Run();
  ASSERT_TRUE(PumpUntil([&] { return Fake().Switches.load() >= 10; }));
  out->Pause();
  EXPECT_EQ(out->Status(), tosPaused);
  EXPECT_EQ(Fake().Stops.load(), 1);
  const int switches = Fake().Switches.load();
  PumpFor(30ms);
  EXPECT_EQ(Fake().Switches.load(), switches);
  out->Resume();
  EXPECT_EQ(Fake().Starts.load(), 2);
  ASSERT_TRUE(PumpUntil([&] { return Done.load() > before; }, 30s));
  EXPECT_EQ(out->ExceptionMessage(), "");
  EXPECT_TRUE(ExactThenSilence(DropSilentChunks(Fake().TakeCapture(), 512 * 8),
                               Bytes32(WidenedPattern(16, src.TotalBytes))));
}

// A jump drops what the ring of periods holds from before it: after the jump
// the device gets the new position's frames, not up to 80 ms of the old.
TEST_F(AsioOutputTest, AJumpDropsThePeriodsTheRingHeldFromBefore) {
  Configure([](TFakeAsioConfig& c) {
    c.PrefSize = 512;
    c.Period = 2ms;
  });
  auto out = MakeOutput();
  TComponent owner;
  TJumpingSource source(&owner);
  source.TotalBytes = 44100 * 4 * 4;
  TAudioConverter pass(&owner);  // the jump reaches a converter's input
  pass.SetInput(&source);
  out->SetInput(&pass);
  const int before = Done.load();
  out->Run();
  ASSERT_TRUE(PumpUntil([&] { return Fake().Switches.load() >= 40; }));
  out->Jump(500);
  ASSERT_EQ(source.Jumps, 1);
  ASSERT_TRUE(PumpUntil([&] { return Done.load() > before; }, 30s));
  EXPECT_EQ(out->ExceptionMessage(), "");
  out.reset();

  // The device's 32-bit samples back to the source's 16 bits.
  const std::vector<uint8_t> cap = DropSilentChunks(Fake().TakeCapture(), 512 * 8);
  std::vector<uint8_t> got;
  for (size_t i = 0; i + 4 <= cap.size(); i += 4) {
    got.push_back(cap[i + 2]);
    got.push_back(cap[i + 3]);
  }
  size_t a = 0;
  while (a < got.size() && got[a] == JumpByte(static_cast<int64_t>(a)))
    ++a;
  const int64_t read = source.PosAtJump.load();
  ASSERT_GT(a, 0u);
  // The ring holds at least four periods and 80 ms; it was full or nearly.
  EXPECT_LE(static_cast<int64_t>(a) + 3 * 512 * 4, read)
      << "played " << a << " bytes of the " << read << " read before the jump";
  // Then the source from where the jump took it.
  ASSERT_GE(got.size(), a + 64);
  const int64_t landed = read + source.TotalBytes / 2;
  bool from = true;
  for (size_t i = 0; i < 64 && from; ++i)
    from = got[a + i] == JumpByte(landed + static_cast<int64_t>(i));
  EXPECT_TRUE(from) << "what follows the jump is not the source at its new position";
}

// A driver that does not ask for direct processing has the block delivered on
// the event thread, which also reads the input when the read-ahead is late;
// the driver learns through outputReady that the half is filled.
TEST_F(AsioOutputTest, DeliveryOnTheEventThreadPlaysTheRunToItsEnd) {
  Configure([](TFakeAsioConfig& c) {
    c.Direct = ASIOFalse;
    c.AskTimeInfo = false;
    c.Period = 10ms;
  });
  auto out = MakeOutput();
  TTestSource src;
  src.TotalBytes = 16 * 1024 * 4;
  ASSERT_TRUE(Play(*out, src, 60s));
  EXPECT_EQ(out->ExceptionMessage(), "");
  EXPECT_TRUE(ExactThenSilence(Fake().TakeCapture(), Bytes32(WidenedPattern(16, src.TotalBytes))));
}

TEST(AsioDeinterleave, EveryChannelCountSplitsFramesIntoTheirChannels) {
  for (uint32_t ch : {1u, 2u, 3u, 4u, 6u, 8u, 16u}) {
    SCOPED_TRACE(ch);
    const uint32_t frames = 37;
    std::vector<int32_t> src(frames * ch);
    for (size_t i = 0; i < src.size(); ++i)
      src[i] = static_cast<int32_t>(i * 2654435761u);
    std::vector<std::vector<int32_t>> bufs(ch, std::vector<int32_t>(frames + 1, -7));
    std::vector<std::vector<int16_t>> bufs16(ch, std::vector<int16_t>(frames + 1, -7));
    std::vector<std::vector<float>> bufsF(ch, std::vector<float>(frames + 1, -7));
    std::vector<void*> dst, dst16, dstF;
    for (uint32_t c = 0; c < ch; ++c) {
      dst.push_back(bufs[c].data());
      dst16.push_back(bufs16[c].data());
      dstF.push_back(bufsF[c].data());
    }
    std::vector<int16_t> src16(src.begin(), src.end());
    TASIOAudioOut::DeinterleaveToAsio32(src.data(), dst.data(), ch, frames);
    TASIOAudioOut::DeinterleaveToAsio16(src16.data(), dst16.data(), ch, frames);
    TASIOAudioOut::DeinterleaveToAsioFloat(src.data(), dstF.data(), ch, frames);
    for (uint32_t c = 0; c < ch; ++c) {
      for (uint32_t f = 0; f < frames; ++f) {
        ASSERT_EQ(bufs[c][f], src[f * ch + c]);
        ASSERT_EQ(bufs16[c][f], src16[f * ch + c]);
        ASSERT_EQ(bufsF[c][f], AsioFloat(src[f * ch + c]));
      }
      EXPECT_EQ(bufs[c][frames], -7);  // nothing beyond the frames
    }
  }
}

}  // namespace
