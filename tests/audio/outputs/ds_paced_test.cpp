// The shared-device output against the test sound server's paced device:
// cursors and halves in real time, underruns and calibration, pause, jump and
// latency changes while playing, and a device that stops advancing. Without
// the server (LIRVO_TEST_PULSE) these tests skip.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>
#include <cstdlib>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/outputs/DSAudioOut.h"
#include "audio/processors/AudioCache.h"
#include "common/BlockingSource.h"
#include "common/JumpingSource.h"
#include "common/Pump.h"
#include "common/TestPaths.h"
#include "common/TestSource.h"
#include "tests/audio/outputs/DsTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point T0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - T0).count();
}

std::vector<uint8_t> Pattern(int64_t From, int64_t Bytes) {
  std::vector<uint8_t> v(static_cast<size_t>(Bytes));
  for (int64_t i = 0; i < Bytes; ++i)
    v[static_cast<size_t>(i)] = PatternByte(From + i);
  return v;
}

// Keeps one processor busy for as long as it lives.
class TCoreLoad {
 public:
  TCoreLoad() {
    FThread = std::thread([this] {
      volatile uint64_t x = 0;
      while (!FStop.load(std::memory_order_relaxed))
        for (int i = 0; i < 100000; ++i)
          x = x + 1;
    });
  }
  ~TCoreLoad() {
    FStop = true;
    FThread.join();
  }

 private:
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

std::string Shell(const std::string& Command) {
  std::string out;
  if (FILE* p = popen(Command.c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof(buf), p))
      out += buf;
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
    out.pop_back();
  return out;
}

// ---------------------------------------------------------------------------
// The layer on the paced device

class PacedRingTest : public ::testing::Test {
 protected:
  DSOut ds;
  void SetUp() override {
    LIRVO_REQUIRE_PULSE();
    TDsDeviceEntry e = PulseDevice();
    ASSERT_EQ(CreateDsDevice(ds, {e.Pcm, e.Config, e.Name}), kDsOk);
    ASSERT_EQ(CreateDsBuffers(ds, BuildDsWaveFormat(2, 44100, 16), 17640), kDsOk);
  }
  void TearDown() override { ReleaseDs(ds); }
};

TEST_F(PacedRingTest, NothingPlaysBeforeStartAndTheRingTakesOnlyWhatFits) {
  EXPECT_EQ(ds.BufferSize, 17640u);
  EXPECT_EQ(ds.HalfFrames, 2205u);
  std::vector<uint8_t> block(10000, 0);
  uint32_t written = 0, play = 1, write = 0, free = 0;
  ASSERT_EQ(WriteDsBlock(ds, block.data(), 10000, written), kDsOk);
  EXPECT_EQ(written, 10000u);
  std::this_thread::sleep_for(60ms);
  EXPECT_EQ(GetDsCursors(ds, play, write), kDsOk);
  EXPECT_EQ(play, 0u) << "nothing plays before the start";
  EXPECT_EQ(write, 10000u);
  EXPECT_EQ(GetDsFreeSpace(ds, free), kDsOk);
  EXPECT_EQ(free, 7640u);
  ASSERT_EQ(WriteDsBlock(ds, block.data(), 10000, written), kDsOk);
  EXPECT_EQ(written, 7640u) << "the rest is the caller's to keep";
  EXPECT_EQ(ds.Offset, 0u);
  EXPECT_EQ(GetDsFreeSpace(ds, free), kDsOk);
  EXPECT_EQ(free, 0u);

  ASSERT_EQ(StartDsPlayback(ds), kDsOk);
  bool other = true;
  ASSERT_EQ(WaitDsHalf(ds, 0, other), kDsOk);
  EXPECT_FALSE(other);
  EXPECT_EQ(GetDsFreeSpace(ds, free), kDsOk);
  EXPECT_GE(free, 8820u);
  EXPECT_EQ(ds.Underflows, 0u);
  EXPECT_EQ(GetDsCursors(ds, play, write), kDsOk);
  EXPECT_EQ(play, free % ds.BufferSize)
      << "the play cursor is as far past the start as has been played";
}

TEST_F(PacedRingTest, HalvesAreSignalledAtTheDevicesPace) {
  // The server's plugin takes no fewer than three periods: it gets three,
  // the fewest wake-ups of it and of its server.
  EXPECT_EQ(ds.PeriodFrames, 1470u);
  std::vector<uint8_t> half(8820, 0);
  uint32_t written = 0;
  ASSERT_EQ(WriteDsBlock(ds, half.data(), 8820, written), kDsOk);
  ASSERT_EQ(StartDsPlayback(ds), kDsOk);
  bool other = true;
  auto t0 = Clock::now();
  ASSERT_EQ(WaitDsHalf(ds, 0, other), kDsOk);
  EXPECT_LT(MsSince(t0), 20) << "half the ring is free at the start";
  EXPECT_FALSE(other);
  ASSERT_EQ(WriteDsBlock(ds, half.data(), 8820, written), kDsOk);
  // The server may take a while to start consuming (its sink adjusts to the
  // new stream); from then on the halves come at the device's pace.
  ASSERT_EQ(WaitDsHalf(ds, 1, other), kDsOk);
  ASSERT_EQ(WriteDsBlock(ds, half.data(), 8820, written), kDsOk);
  rusage before{}, after{};
  getrusage(RUSAGE_THREAD, &before);
  t0 = Clock::now();
  for (int i = 0; i < 8; ++i) {
    ASSERT_EQ(WaitDsHalf(ds, i % 2, other), kDsOk);
    EXPECT_FALSE(other) << "half " << i;
    ASSERT_EQ(WriteDsBlock(ds, half.data(), 8820, written), kDsOk);
    EXPECT_EQ(written, 8820u);
  }
  // Eight halves of 50 ms each.
  EXPECT_GE(MsSince(t0), 330);
  EXPECT_LE(MsSince(t0), 500);
  getrusage(RUSAGE_THREAD, &after);
  // The server's plugin wakes at each of its periods, several per half;
  // the wait sleeps until the half is due instead: about one sleep per half,
  // at times one or two more when the server's request comes late or a lock
  // of the plugin's is taken (a loaded machine). Waking at each of its
  // periods would take five per half.
  EXPECT_LE(after.ru_nvcsw - before.ru_nvcsw, 8 * 3)
      << "sleeps while waiting for 8 halves (device period " << ds.PeriodFrames << " frames)";
}

TEST_F(PacedRingTest, WaitOnARingThatNeverStartsGivesUpAfterItsTimeOutWithoutSpinning) {
  std::vector<uint8_t> full(17640, 0);
  uint32_t written = 0;
  ASSERT_EQ(WriteDsBlock(ds, full.data(), 17640, written), kDsOk);
  ds.WaitTimeoutMs = 500;
  rusage before{}, after{};
  getrusage(RUSAGE_THREAD, &before);
  auto t0 = Clock::now();
  bool other = false;
  EXPECT_EQ(WaitDsHalf(ds, 0, other), kDsErrTimeout);
  const int64_t ms = MsSince(t0);
  getrusage(RUSAGE_THREAD, &after);
  EXPECT_GE(ms, 490);
  EXPECT_LT(ms, 1500);
  auto cpuUs = [](const rusage& r) {
    return r.ru_utime.tv_sec * 1000000LL + r.ru_utime.tv_usec + r.ru_stime.tv_sec * 1000000LL +
           r.ru_stime.tv_usec;
  };
  EXPECT_LT(cpuUs(after) - cpuUs(before), 150000) << "the wait must sleep, not spin";
}

// ---------------------------------------------------------------------------
// The output on the paced device

struct PacedRig {
  TComponent owner;
  std::unique_ptr<TTestSource> source = std::make_unique<TTestSource>(&owner);
  std::unique_ptr<TAudioCache> cache;
  std::unique_ptr<TDSAudioOut> out;
  std::atomic<int> done{0}, errors{0}, underrunEvents{0};

  PacedRig(const TDsDeviceEntry& Device, TAuInput* Input = nullptr, bool ThroughCache = true) {
    out = std::make_unique<TDSAudioOut>(&owner, std::vector<TDsDeviceEntry>{Device});
    TAuInput* in = Input ? Input : source.get();
    if (ThroughCache) {
      cache = std::make_unique<TAudioCache>(&owner);
      cache->SetInput(in);
      out->SetInput(cache.get());
    } else {
      out->SetInput(in);
    }
    out->SetOnDone([this](TComponent*) { ++done; });
    out->SetOnThreadException([this](TComponent*) { ++errors; });
    out->SetOnUnderrun([this](TComponent*) { ++underrunEvents; });
  }
  ~PacedRig() {
    out.reset();
    cache.reset();
    source.reset();
  }
};

TEST(PacedOutput, HealthySourcePlaysInRealTimeWithoutUnderrunsWhileTheOtherCoreIsBusy) {
  LIRVO_REQUIRE_PULSE();
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "real-time margins mean nothing under a sanitizer's slowdown";
#endif
  // A shared build machine can starve the test's own sound server; the
  // 10-minute soak (bench_dsound_soak) is the measurement, this is a check
  // that runs when asked for.
  if (!std::getenv("LIRVO_TEST_REALTIME"))
    GTEST_SKIP() << "set LIRVO_TEST_REALTIME=1 to run the 20 s real-time check";
  PacedRig rig(PulseDevice());
  rig.source->TotalBytes = 44100 * 4 * 20;  // 20 s
  rig.out->SetCalibrate(true);
  // As the player's main window does (tests fall back from real time to the
  // lowest nice value).
  rig.out->SetThreadPriority(tpTimeCritical);
  TCoreLoad load;
  auto t0 = Clock::now();
  rig.out->Run();
  ASSERT_TRUE(PumpUntil([&] { return rig.done >= 1; }, 40s));
  const int64_t ms = MsSince(t0);
  EXPECT_EQ(rig.errors, 0) << rig.out->ExceptionMessage();
  EXPECT_EQ(rig.out->Underruns(), 0u);
  EXPECT_EQ(rig.underrunEvents, 0);
  EXPECT_EQ(rig.out->Latency(), 100u) << "no calibration without underruns";
  // Real time, plus the server's start-up.
  EXPECT_GE(ms, 20000);
  EXPECT_LE(ms, 23000);
}

TEST(PacedOutput, StarvedSourceCountsUnderrunsRaisesEachAndAsksOneCalibrationPerRefill) {
  LIRVO_REQUIRE_PULSE();
  PacedRig rig(PulseDevice(), nullptr, false);
  // 4096 bytes (23 ms of audio) every 40 ms: slower than the device plays.
  rig.source->TotalBytes = 44100 * 4;
  rig.source->BlockDelay = std::chrono::microseconds(40000);
  rig.out->SetCalibrate(true);
  rig.out->Run();
  ASSERT_TRUE(PumpUntil([&] { return rig.done >= 1; }, 30s));
  PumpFor(100ms);
  EXPECT_EQ(rig.errors, 0) << rig.out->ExceptionMessage();
  const uint32_t underruns = rig.out->Underruns();
  const uint32_t requests = rig.out->CalibrationRequests();
  EXPECT_GT(underruns, 0u);
  EXPECT_EQ(rig.underrunEvents, static_cast<int>(underruns)) << "each underrun raises its event";
  EXPECT_GE(requests, 1u);
  // One calibration per refill that saw an underrun, however many of its
  // two halves underran.
  EXPECT_EQ(requests, rig.out->UnderrunRefills()) << "one calibration per refill with underruns";
  EXPECT_LE(requests, underruns);
  EXPECT_LE(underruns, 2 * requests) << "at most one underrun per half of a refill";
  EXPECT_GT(rig.out->Latency(), 100u);
  EXPECT_EQ((rig.out->Latency() - 100) % 10, 0u);
  EXPECT_LE(rig.out->Latency(), 100u + 10 * requests);
}

// A pattern source that stalls, once each, in the reads that reach given
// byte positions (the output reads half a ring at a time, so a position
// names one read of one half).
class TStallAtSource : public TTestSource {
 public:
  explicit TStallAtSource(TComponent* AOwner) : TTestSource(AOwner) {}
  struct TStall {
    int64_t At;
    std::chrono::milliseconds For;
  };
  std::vector<TStall> Stalls;  // set before Init

 protected:
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override {
    for (const TStall& s : Stalls)
      if (s.At >= FAt && s.At < FAt + Bytes) std::this_thread::sleep_for(s.For);
    TTestSource::GetDataInternal(Buffer, Bytes);
    FAt += Bytes;
  }
  void InitInternal() override {
    FAt = 0;
    TTestSource::InitInternal();
  }

 private:
  int64_t FAt = 0;
};

TEST(PacedOutput, EachHalfThatAStallMissesIsOneUnderrunAndEachRefillWithOneAsksOneCalibration) {
  LIRVO_REQUIRE_PULSE();
  // 100 ms ring: halves of 8820 bytes. Read 0 starts the ring, then refill
  // n reads 2n-1 (its first half) and 2n (its second). Every stall is far
  // longer than the whole ring, so the device runs dry in it exactly once
  // (it passes both halves' marks then, which is still one miss of the
  // writer). Stalls are a few refills apart: a ring restarted with half its
  // data only plays once the next half is in (the sound server prebuffers).
  constexpr int64_t kHalf = 8820;
  struct Case {
    const char* Name;
    std::vector<int> Reads;  // reads that stall
    std::chrono::milliseconds For;
    bool Calibrate;
    uint32_t Underruns, Refills, Requests;
  };
  const Case cases[] = {
      {"one stall of 600 ms", {9}, 600ms, true, 1, 1, 1},
      {"first halves of two refills", {9, 13}, 400ms, false, 2, 2, 0},
      {"second halves of two refills", {10, 14}, 400ms, false, 2, 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TComponent sourceOwner;
    TStallAtSource source(&sourceOwner);
    source.TotalBytes = kHalf * 24;
    for (int r : c.Reads)
      source.Stalls.push_back({kHalf * r, c.For});
    PacedRig rig(PulseDevice(), &source, false);
    rig.out->SetCalibrate(c.Calibrate);
    rig.out->Run();
    ASSERT_TRUE(PumpUntil([&] { return rig.done >= 1; }, 20s));
    PumpFor(100ms);
    EXPECT_EQ(rig.errors, 0) << rig.out->ExceptionMessage();
    EXPECT_EQ(rig.out->Underruns(), c.Underruns);
    EXPECT_EQ(rig.underrunEvents, static_cast<int>(c.Underruns));
    EXPECT_EQ(rig.out->UnderrunRefills(), c.Refills);
    EXPECT_EQ(rig.out->CalibrationRequests(), c.Requests);
    EXPECT_EQ(rig.out->Latency(), 100u + 10 * c.Requests);
  }
}

// Stop(false) returns at once wherever the playback thread waits: in the
// cache for a source that hangs, in the device for a long ring to free half
// of itself, in the drain at the end of the input.
TEST(PacedOutput, StopReturnsAtOnceWhateverThePlaybackThreadWaitsFor) {
  LIRVO_REQUIRE_PULSE();
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
  constexpr int64_t kStopMs = 400;
#else
  constexpr int64_t kStopMs = 100;
#endif
  struct Case {
    const char* Name;
    bool ThroughCache;
    bool StallSource;  // the source hangs for 10 s once playing
    uint32_t Latency;
    int64_t TotalBytes;
    std::chrono::milliseconds Before;  // playing time before the stop
  };
  const Case cases[] = {
      {"source hangs behind the cache", true, true, 100, 44100 * 4 * 30, 300ms},
      {"device wait of a 2 s ring", false, false, 2000, 44100 * 4 * 30, 1500ms},
      {"drain at the end of the input", false, false, 2000, 44100 * 4 / 2, 700ms},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TComponent sourceOwner;
    TBlockingSource source(&sourceOwner);
    source.TotalBytes = c.TotalBytes;
    // The cache reads the whole source ahead when it fits: the stall is set
    // before the run, at a quarter of a second into the source, so the cache
    // runs dry while the source hangs.
    if (c.StallSource) source.StallFrom(44100 * 4 / 4);
    PacedRig rig(PulseDevice(), &source, c.ThroughCache);
    rig.out->SetLatency(c.Latency);
    rig.out->Run();
    ASSERT_TRUE(PumpUntil([&] { return source.Position() > 0; }, 10s));
    if (c.StallSource) {
      ASSERT_TRUE(PumpUntil([&] { return source.StallsEntered >= 1; }, 5s));
    }
    PumpFor(c.Before);
    ASSERT_EQ(rig.out->Status(), tosPlaying);
    const auto t0 = Clock::now();
    rig.out->Stop(false);
    const int64_t ms = MsSince(t0);
    EXPECT_LT(ms, kStopMs);
    EXPECT_EQ(rig.out->Status(), tosIdle);
    EXPECT_EQ(rig.errors, 0) << rig.out->ExceptionMessage();
    source.Release();
  }
}

TEST(PacedOutput, CalibrationStopsWhereHalfTheRingWouldNoLongerFitTheStagingBlock) {
  LIRVO_REQUIRE_PULSE();
  PacedRig rig(PulseDevice(), nullptr, false);
  // 32-bit, 8 channels at 192 kHz: the ring may grow to 170 ms at most.
  rig.source->Bits = 32;
  rig.source->Chans = 8;
  rig.source->Rate = 192000;
  rig.source->TotalBytes = 192000LL * 32;
  rig.source->BlockDelay = std::chrono::microseconds(1500);
  rig.out->SetLatency(160);
  rig.out->SetCalibrate(true);
  rig.out->Run();
  ASSERT_TRUE(PumpUntil([&] { return rig.done >= 1; }, 40s));
  PumpFor(100ms);
  ASSERT_EQ(rig.errors, 0) << rig.out->ExceptionMessage();
  // One request grows the ring to 170 ms; every later one is refused.
  EXPECT_GE(rig.out->CalibrationRequests(), 2u);
  EXPECT_EQ(rig.out->Latency(), 170u);
}

TEST(PacedOutput, PauseStopsTheDeviceAndResumeLosesNothingThatWasRead) {
  LIRVO_REQUIRE_PULSE();
  std::string path = ScratchDir("ds_pause") + "/capture.raw";
  PacedRig rig(CaptureDevice(path, true), nullptr, false);
  rig.source->TotalBytes = 44100 * 4 * 2;
  rig.out->Run();
  PumpFor(500ms);
  rig.out->Pause();
  EXPECT_EQ(rig.out->Status(), tosPaused);
  const int64_t elapsedAtPause = rig.source->Position();
  PumpFor(400ms);
  EXPECT_EQ(rig.out->Status(), tosPaused);
  EXPECT_EQ(rig.source->Position(), elapsedAtPause) << "nothing is read while paused";
  auto t0 = Clock::now();
  rig.out->Resume();
  EXPECT_EQ(rig.out->Status(), tosPlaying);
  ASSERT_TRUE(PumpUntil([&] { return rig.done >= 1; }, 10s));
  EXPECT_GE(MsSince(t0), 1000) << "the rest plays in real time";
  EXPECT_EQ(rig.errors, 0) << rig.out->ExceptionMessage();
  EXPECT_TRUE(
      IsDataThenSilence(ReadFileBytes(path), Pattern(0, rig.source->TotalBytes), 0, 17640 * 10));
}

TEST(PacedOutput, LatencyChangeWhilePlayingRebuildsTheRingAndLosesNothingThatWasRead) {
  LIRVO_REQUIRE_PULSE();
  std::string path = ScratchDir("ds_latency_change") + "/capture.raw";
  PacedRig rig(CaptureDevice(path, true));
  rig.source->TotalBytes = 44100 * 4 * 2;
  rig.out->Run();
  PumpFor(400ms);
  rig.out->SetLatency(200);
  EXPECT_EQ(rig.out->Latency(), 200u);
  EXPECT_EQ(rig.out->Status(), tosPlaying);
  ASSERT_TRUE(PumpUntil([&] { return rig.done >= 1; }, 10s));
  EXPECT_EQ(rig.errors, 0) << rig.out->ExceptionMessage();
  EXPECT_TRUE(
      IsDataThenSilence(ReadFileBytes(path), Pattern(0, rig.source->TotalBytes), 0, 35280 * 10));
}

TEST(PacedOutput, JumpSilencesTheRingAndPlaysOnFromTheNewPosition) {
  LIRVO_REQUIRE_PULSE();
  std::string path = ScratchDir("ds_jump") + "/capture.raw";
  TComponent sourceOwner;
  TJumpingSource source(&sourceOwner);
  source.TotalBytes = 44100 * 4 * 4;  // 4 s
  PacedRig rig(CaptureDevice(path, true), &source, false);
  rig.out->Run();
  PumpFor(500ms);
  rig.out->Jump(500);
  EXPECT_EQ(source.Jumps, 1);
  EXPECT_EQ(rig.out->Status(), tosPlaying);
  ASSERT_TRUE(PumpUntil([&] { return rig.done >= 1; }, 10s));
  EXPECT_EQ(rig.errors, 0) << rig.out->ExceptionMessage();

  // The capture is the start of the source, then the source from a later
  // position to its end, then silence.
  std::vector<uint8_t> got = ReadFileBytes(path);
  std::vector<uint8_t> all(static_cast<size_t>(source.TotalBytes));
  for (size_t i = 0; i < all.size(); ++i)
    all[i] = JumpByte(static_cast<int64_t>(i));
  size_t a = 0;
  while (a < got.size() && a < all.size() && got[a] == all[a])
    ++a;
  ASSERT_GT(a, 0u);
  ASSERT_LT(a, all.size()) << "the jump skipped nothing";
  ASSERT_EQ(a % 4, 0u);
  size_t b = a;
  for (; b + 64 <= all.size(); b += 4)
    if (std::equal(all.begin() + b, all.begin() + b + 64, got.begin() + a)) break;
  ASSERT_LT(b + 64, all.size()) << "what follows the jump is not from the source";
  // The input moved on by half its length; at most the half block read
  // before the jump is dropped with it.
  EXPECT_GE(b - a, static_cast<size_t>(source.TotalBytes / 2));
  EXPECT_LE(b - a, static_cast<size_t>(source.TotalBytes / 2 + 8820));
  std::vector<uint8_t> expected(all.begin(), all.begin() + a);
  expected.insert(expected.end(), all.begin() + b, all.end());
  EXPECT_TRUE(IsDataThenSilence(got, expected, 0, 17640 * 10));
}

TEST(PacedOutput, ResumeAfterTheInputEndedDoesNothingAndStopStillEndsTheRun) {
  LIRVO_REQUIRE_PULSE();
  PacedRig rig(PulseDevice(), nullptr, false);
  rig.source->TotalBytes = 44100 * 4 * 12 / 10;  // 1.2 s
  rig.out->SetLatency(1000);                     // halves of 500 ms
  rig.out->Run();
  // The first refill reads the whole input and returns after the first half
  // has played; the pause parks the thread there, before the drain.
  std::this_thread::sleep_for(250ms);
  rig.out->Pause();
  ASSERT_EQ(rig.out->Status(), tosPaused);
  rig.out->Resume();
  PumpFor(300ms);
  EXPECT_EQ(rig.out->Status(), tosPaused);
  rig.out->Stop(false);
  EXPECT_EQ(rig.out->Status(), tosIdle);
  EXPECT_EQ(rig.errors, 0);
}

TEST(PacedOutput, DeviceThatStopsAdvancingEndsTheRunInsteadOfHanging) {
  LIRVO_REQUIRE_PULSE();
  const std::string sink = "lirvostall" + std::to_string(getpid());
  const std::string module = Shell("pactl load-module module-null-sink sink_name=" + sink);
  ASSERT_FALSE(module.empty()) << "pactl could not add a sink to the test server";
  struct Unload {
    std::string m;
    ~Unload() { Shell("pactl unload-module " + m); }
  } unload{module};

  PacedRig rig(PulseDevice(sink), nullptr, false);
  rig.source->TotalBytes = 44100 * 4 * 30;
  rig.out->Run();
  // Once the device plays (a second read, most of it played), it stalls.
  ASSERT_TRUE(PumpUntil([&] { return rig.source->Position() >= 44100 * 4; }, 10s));
  ASSERT_EQ(rig.errors, 0) << rig.out->ExceptionMessage();
  Shell("pactl suspend-sink " + sink + " 1");
  auto t0 = Clock::now();
  ASSERT_TRUE(PumpUntil([&] { return rig.done >= 1; }, 10s));
  EXPECT_LT(MsSince(t0), 5000);
  EXPECT_EQ(rig.errors, 1);
  EXPECT_EQ(rig.out->ExceptionMessage(), "Audio device stopped responding");
  EXPECT_EQ(rig.out->Status(), tosIdle);
}

}  // namespace
