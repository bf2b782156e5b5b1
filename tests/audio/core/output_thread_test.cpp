// The playback thread, its runs and the events that reach the UI thread,
// proven end to end on real threads with a generated source and a recording
// sink.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/core/AudioClasses.h"
#include "audio/core/EventHandler.h"
#include "audio/core/UiDispatcher.h"
#include "common/Pump.h"
#include "common/RecordingSink.h"
#include "common/TestSource.h"

using namespace lirvo;
using namespace lirvo::test;
using namespace std::chrono_literals;

namespace {

// A pass-through processor, to run the chain source -> converter -> sink.
class TPassThrough : public TAuConverter {
 public:
  using TAuConverter::TAuConverter;
  ~TPassThrough() override { NotifyRemoval(); }

 protected:
  void InitInternal() override {
    if (!Input()) throw EAuException("Input is not assigned");
    Input()->Init();
    Busy = true;
    FPosition = 0;
    FSize = Input()->Size();
  }
  void FlushInternal() override {
    Input()->Flush();
    Busy = false;
  }
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override {
    Input()->GetData(Buffer, Bytes);
  }
};

// A door the playback thread waits at, up to a time-out.
class TGate {
 public:
  void Open() {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FOpen = true;
    }
    FCond.notify_all();
  }
  bool Wait(std::chrono::milliseconds Timeout) {
    std::unique_lock<std::mutex> lock(FMutex);
    return FCond.wait_for(lock, Timeout, [this] { return FOpen; });
  }

 private:
  std::mutex FMutex;
  std::condition_variable FCond;
  bool FOpen = false;
};

// The recording sink with hooks into its run: each is called on the playback
// thread before the sink does its own part (OnWake on the stopping thread).
// Set them while idle.
class THookSink : public TRecordingSink {
 public:
  using TRecordingSink::TRecordingSink;
  ~THookSink() override { EndThread(); }

  std::function<void()> OnPrepare, OnWrite, OnFinish, OnWake;

 protected:
  void PrepareOutput() override {
    if (OnPrepare) OnPrepare();
    TRecordingSink::PrepareOutput();
  }
  bool WriteBlock(bool Abort) override {
    if (OnWrite && !Abort) OnWrite();
    return TRecordingSink::WriteBlock(Abort);
  }
  void FinishOutput() override {
    if (OnFinish) OnFinish();
    TRecordingSink::FinishOutput();
  }
  void WakeForStop() noexcept override {
    if (OnWake) OnWake();
  }
};

// Waits without running the UI dispatcher, so that deliveries stay pending.
bool WaitWithoutPumping(const std::function<bool()>& Done, std::chrono::milliseconds Timeout) {
  const auto deadline = std::chrono::steady_clock::now() + Timeout;
  while (!Done()) {
    if (std::chrono::steady_clock::now() >= deadline) return Done();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

struct EventLog {
  std::atomic<int> done{0};
  std::atomic<int> progress{0};
  std::atomic<int> exceptions{0};
  std::atomic<int> offUiThread{0};
  std::vector<int> order;  // 0 progress, 1 exception, 2 done; UI thread only

  void Wire(TAuOutput& out) {
    out.SetOnDone([this](TComponent*) {
      if (!IsUiThread()) ++offUiThread;
      order.push_back(2);
      ++done;
    });
    out.SetOnProgress([this](TComponent*) {
      if (!IsUiThread()) ++offUiThread;
      order.push_back(0);
      ++progress;
    });
    out.SetOnThreadException([this](TComponent*) {
      if (!IsUiThread()) ++offUiThread;
      order.push_back(1);
      ++exceptions;
    });
  }
};

class OutputThreadTest : public ::testing::Test {
 protected:
  TComponent owner;
  TTestSource* source = nullptr;
  TPassThrough* through = nullptr;
  THookSink* sink = nullptr;
  std::unique_ptr<TTestSource> sourceHolder;
  std::unique_ptr<TPassThrough> throughHolder;
  std::unique_ptr<THookSink> sinkHolder;
  EventLog log;

  void SetUp() override {
    sourceHolder = std::make_unique<TTestSource>(&owner);
    throughHolder = std::make_unique<TPassThrough>(&owner);
    sinkHolder = std::make_unique<THookSink>(&owner);
    source = sourceHolder.get();
    through = throughHolder.get();
    sink = sinkHolder.get();
    through->SetInput(source);
    sink->SetInput(through);
    log.Wire(*sink);
  }
  void TearDown() override {
    // Outputs first: their threads read the inputs.
    sinkHolder.reset();
    throughHolder.reset();
    sourceHolder.reset();
  }
};

TEST_F(OutputThreadTest, ChainPlaysToTheEndDeliversEveryByteAndPostsOnDoneOnce) {
  source->TotalBytes = 1'000'003 * 4;  // not a multiple of the block size
  sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return log.done >= 1; }));
  PumpFor(50ms);
  EXPECT_EQ(log.done, 1);
  EXPECT_EQ(sink->Status(), tosIdle);
  std::vector<uint8_t> data = sink->Recorded();
  EXPECT_EQ(static_cast<int64_t>(data.size()), source->TotalBytes);
  EXPECT_EQ(FirstPatternMismatch(data), -1);
  EXPECT_EQ(source->InitCount, 1);
  EXPECT_EQ(source->FlushCount, 1);
  EXPECT_EQ(sink->FinishCount, 1);
  EXPECT_EQ(log.offUiThread, 0);
  EXPECT_GE(log.progress, 1);
  EXPECT_EQ(sink->SeenBits, 16u);
  EXPECT_EQ(sink->SeenChannels, 2u);
  ASSERT_FALSE(log.order.empty());
  EXPECT_EQ(log.order.back(), 2) << "OnDone comes after every progress event";
}

TEST_F(OutputThreadTest, ProgressEventsArePostedOnlyWhenThePercentageChanges) {
  source->TotalBytes = 400'000;
  sink->BlockBytes = 400;  // 1000 blocks, 100 distinct percentages
  sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return log.done >= 1; }));
  EXPECT_LE(log.progress, 101);
  EXPECT_GE(log.progress, 50);
}

TEST_F(OutputThreadTest, RunTwiceRaisesBusyAndDoesNotDisturbTheRun) {
  source->TotalBytes = 44100 * 4;
  sink->PaceFactor = 0.02;  // ~20 ms
  sink->Run();
  try {
    sink->Run();
    FAIL() << "second Run must raise";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "Component is Busy");
  }
  ASSERT_TRUE(PumpUntil([&] { return log.done >= 1; }));
  EXPECT_EQ(FirstPatternMismatch(sink->Recorded()), -1);
  EXPECT_EQ(static_cast<int64_t>(sink->RecordedBytes()), source->TotalBytes);
}

TEST_F(OutputThreadTest, RunWithoutInputRaisesAndALaterRunWorks) {
  sink->SetInput(nullptr);
  try {
    sink->Run();
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "Input is not assigned");
  }
  EXPECT_EQ(sink->Status(), tosIdle);
  try {
    sink->Pause();
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "Input is not assigned.");
  }
  sink->SetInput(through);
  sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return log.done >= 1; }));
  EXPECT_EQ(log.done, 1);
}

TEST_F(OutputThreadTest, AsyncStopEndsAfterTheCurrentBlockAndDeliversOnDoneOnce) {
  source->TotalBytes = 44100 * 4 * 60;
  sink->PaceFactor = 1.0;
  sink->Run();
  PumpFor(30ms);
  sink->Stop(true);
  ASSERT_TRUE(PumpUntil([&] { return sink->Status() == tosIdle; }, 2s));
  ASSERT_TRUE(PumpUntil([&] { return log.done >= 1; }));
  PumpFor(50ms);
  EXPECT_EQ(log.done, 1);
  EXPECT_LT(static_cast<int64_t>(sink->RecordedBytes()), source->TotalBytes);
  EXPECT_EQ(FirstPatternMismatch(sink->Recorded()), -1);
  EXPECT_EQ(source->FlushCount, 1);
}

TEST_F(OutputThreadTest, SyncStopReturnsIdleDropsQueuedEventsAndDeliversNoOnDone) {
  source->TotalBytes = 44100 * 4 * 4;  // a percent every 40 ms
  sink->BlockBytes = 400;
  sink->PaceFactor = 1.0;
  sink->Run();
  // Without pumping, the event thread sits in its first progress delivery
  // and the later changes stay pending behind it.
  ASSERT_TRUE(
      WaitWithoutPumping([&] { return PendingSyncCalls() >= 1 && sink->Progress() >= 3; }, 5s));
  ASSERT_EQ(log.progress, 0);
  sink->Stop(false);
  EXPECT_EQ(sink->Status(), tosIdle);
  EXPECT_EQ(sink->FinishCount, 1);
  PumpFor(150ms);
  EXPECT_EQ(log.done, 0);
  EXPECT_EQ(log.progress, 0) << "the pending progress events of the stopped run are dropped";
  // The output can run again.
  source->TotalBytes = 8000;
  sink->PaceFactor = 0;
  sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return log.done >= 1; }));
  EXPECT_EQ(log.done, 1);
}

TEST_F(OutputThreadTest, SyncStopOnTheUiThreadServesABlockedDeliveryInsteadOfDeadlocking) {
  source->TotalBytes = 44100 * 4 * 60;
  sink->BlockBytes = 400;
  sink->PaceFactor = 1.0;
  std::atomic<bool> inHandler{false};
  // The run cannot end before a call that only the UI thread can run has
  // run: a generic event, which the event thread delivers synchronously.
  sink->OnFinish = [&] { WaitWithoutPumping([&] { return inHandler.load(); }, 5s); };
  sink->Run();
  PumpFor(30ms);
  EventHandler()->PostGenericEvent(&owner, [&](TComponent*) { inHandler = true; });
  ASSERT_TRUE(WaitWithoutPumping([] { return PendingSyncCalls() >= 1; }, 2s));
  ASSERT_FALSE(inHandler);
  sink->Stop(false);
  EXPECT_TRUE(inHandler) << "Stop(false) ran the pending delivery while it waited";
  EXPECT_EQ(sink->Status(), tosIdle) << "and so the run ended within its wait";
}

TEST_F(OutputThreadTest, PauseAndResumeLoseAndRepeatNoByte) {
  source->TotalBytes = 44100 * 4 / 2;  // half a second
  sink->PaceFactor = 1.0;
  sink->Run();
  PumpFor(100ms);
  sink->Pause();
  EXPECT_EQ(sink->Status(), tosPaused);
  size_t atPause = sink->RecordedBytes();
  PumpFor(150ms);
  EXPECT_EQ(sink->RecordedBytes(), atPause) << "nothing is written while paused";
  sink->Resume();
  EXPECT_EQ(sink->Status(), tosPlaying);
  ASSERT_TRUE(PumpUntil([&] { return log.done >= 1; }));
  EXPECT_EQ(static_cast<int64_t>(sink->RecordedBytes()), source->TotalBytes);
  EXPECT_EQ(FirstPatternMismatch(sink->Recorded()), -1);
}

TEST_F(OutputThreadTest, PauseIsForwardedThroughTheConverterAndResumeOnlyWhenPaused) {
  source->TotalBytes = 44100 * 4;
  sink->PaceFactor = 1.0;
  sink->Resume();  // not busy: nothing
  sink->Pause();   // not busy: nothing
  EXPECT_EQ(source->PauseCount, 0);
  sink->Run();
  sink->Resume();  // not paused: nothing
  EXPECT_EQ(source->ResumeCount, 0);
  sink->Pause();
  EXPECT_EQ(source->PauseCount, 1);
  sink->Resume();
  EXPECT_EQ(source->ResumeCount, 1);
  sink->Stop(false);
}

TEST_F(OutputThreadTest, StopWhilePausedWakesTheThreadAndEndsTheRun) {
  source->TotalBytes = 44100 * 4 * 10;
  sink->PaceFactor = 1.0;
  sink->Run();
  sink->Pause();
  ASSERT_EQ(sink->Status(), tosPaused);
  sink->Stop(true);
  ASSERT_TRUE(PumpUntil([&] { return log.done >= 1; }, 2s));
  EXPECT_EQ(sink->Status(), tosIdle);
}

TEST_F(OutputThreadTest, ExceptionInPrepareOutputIsReportedThenOnDoneAndTheOutputRunsAgain) {
  sink->PrepareError = "Failed to open the device";
  sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return log.done >= 1; }));
  EXPECT_EQ(log.exceptions, 1);
  EXPECT_EQ(sink->ExceptionMessage(), "Failed to open the device");
  ASSERT_EQ(log.order.size(), 2u);
  EXPECT_EQ(log.order[0], 1);
  EXPECT_EQ(log.order[1], 2);
  EXPECT_EQ(sink->Status(), tosIdle);

  sink->PrepareError.clear();
  sink->Run();
  EXPECT_EQ(sink->ExceptionMessage(), "") << "Run clears the last message";
  ASSERT_TRUE(PumpUntil([&] { return log.done >= 2; }));
  EXPECT_EQ(log.exceptions, 1);
}

TEST_F(OutputThreadTest, ExceptionFromTheInputChainEndsTheRunAndFlushes) {
  source->InitError = "The file name is not assigned";
  sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return log.done >= 1; }));
  EXPECT_EQ(log.exceptions, 1);
  EXPECT_EQ(sink->ExceptionMessage(), "The file name is not assigned");
  EXPECT_EQ(sink->FinishCount, 1) << "EndRun releases the device after a failed run";
}

TEST_F(OutputThreadTest, ProgressReportsUnknownAndZeroSizes) {
  sink->SetInput(source);
  source->ReportSize = false;
  source->Init();
  EXPECT_EQ(sink->Progress(), -1);
  source->Flush();
  source->ReportSize = true;
  source->TotalBytes = 0;
  source->Init();
  EXPECT_EQ(sink->Progress(), 0);
  source->Flush();
  sink->SetInput(nullptr);
  EXPECT_EQ(sink->Progress(), 0);
  EXPECT_EQ(sink->TimeElapsed(), 0);
}

TEST_F(OutputThreadTest, TimeElapsedCountsSecondsOfDeliveredAudio) {
  source->TotalBytes = 44100 * 4 * 3;
  sink->SetOnDone(nullptr);
  sink->BlockingRun();
  // BlockingRun flushed the source; Position stays at what was delivered.
  EXPECT_EQ(sink->TimeElapsed(), 3);
  EXPECT_EQ(log.done, 0) << "BlockingRun posts no events";
  EXPECT_EQ(FirstPatternMismatch(sink->Recorded()), -1);
  EXPECT_EQ(static_cast<int64_t>(sink->RecordedBytes()), source->TotalBytes);
}

TEST_F(OutputThreadTest, ChangingTheInputOfABusyOutputStopsSwapsAndRunsAgain) {
  source->TotalBytes = 44100 * 4 * 10;
  sink->PaceFactor = 1.0;
  TTestSource other(&owner);
  other.TotalBytes = 4000;
  sink->Run();
  PumpFor(20ms);
  sink->SetInput(&other);
  EXPECT_EQ(source->FlushCount, 1);
  ASSERT_TRUE(PumpUntil([&] { return log.done >= 1; }));
  EXPECT_EQ(other.InitCount, 1);
  EXPECT_EQ(log.done, 1) << "the synchronous stop of the first run posts no OnDone";
  sink->SetInput(nullptr);
}

TEST_F(OutputThreadTest, RemovingTheInputComponentClearsTheReferences) {
  auto extra = std::make_unique<TTestSource>(&owner);
  sink->SetInput(extra.get());
  through->SetInput(extra.get());
  extra.reset();
  EXPECT_EQ(sink->Input(), nullptr);
  EXPECT_EQ(through->Input(), nullptr);
}

TEST_F(OutputThreadTest, RemovingTheInputOfARunningOutputStopsIt) {
  auto extra = std::make_unique<TTestSource>(&owner);
  extra->TotalBytes = 44100 * 4 * 10;
  sink->PaceFactor = 1.0;
  sink->SetInput(extra.get());
  sink->Run();
  PumpFor(20ms);
  extra.reset();
  EXPECT_EQ(sink->Input(), nullptr);
  EXPECT_EQ(sink->Status(), tosIdle);
}

TEST_F(OutputThreadTest, AbortStopsTheDeviceWithoutDrainingAndKillsNoThread) {
  source->TotalBytes = 44100 * 4 * 10;
  sink->PaceFactor = 1.0;
  sink->Run();
  PumpFor(20ms);
  sink->Abort(false);
  EXPECT_EQ(sink->Status(), tosIdle);
  EXPECT_EQ(sink->AbortedWrites, 1);
  // The thread is alive: it runs again.
  source->TotalBytes = 4000;
  sink->PaceFactor = 0;
  sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return log.done >= 1; }));
}

TEST_F(OutputThreadTest, DestroyingARunningOutputStopsItsThreadCleanly) {
  source->TotalBytes = 44100 * 4 * 10;
  sink->PaceFactor = 1.0;
  sink->Run();
  PumpFor(20ms);
  sinkHolder.reset();
  sink = nullptr;
  EXPECT_EQ(source->FlushCount, 1);
}

TEST_F(OutputThreadTest, OnSyncDoneRunsOnThePlaybackThreadBeforeOnDone) {
  std::atomic<bool> syncOnUi{true};
  std::atomic<int> syncDone{0};
  sink->SetOnSyncDone([&](TComponent*) {
    syncOnUi = IsUiThread();
    ++syncDone;
  });
  source->TotalBytes = 4000;
  sink->Run();
  ASSERT_TRUE(PumpUntil([&] { return log.done >= 1; }));
  EXPECT_EQ(syncDone, 1);
  EXPECT_FALSE(syncOnUi);
}

TEST(OutputThreadPriority, ThreadPriorityCanBeSetAndReadBack) {
  TRecordingSink sink;
  sink.SetThreadPriority(tpLower);
  EXPECT_EQ(sink.ThreadPriority(), tpLower);
  sink.SetDelay(50);
  EXPECT_EQ(sink.Delay(), 50);
  sink.SetDelay(101);
  EXPECT_EQ(sink.Delay(), 50) << "values above 100 are ignored";
}

TEST(OutputThreadMany, RepeatedRunsAndStopsNeverHangOrLoseTheEnd) {
  TComponent owner;
  TTestSource source(&owner);
  TRecordingSink sink(&owner);
  sink.SetInput(&source);
  std::atomic<int> done{0};
  sink.SetOnDone([&](TComponent*) { ++done; });
  for (int i = 0; i < 40; ++i) {
    source.TotalBytes = 4 * (1000 + 37 * i);
    sink.ClearRecorded();
    int before = done;
    sink.Run();
    if (i % 3 == 2) {
      sink.Stop(false);
      PumpFor(2ms);
      EXPECT_EQ(done, before);
    } else {
      ASSERT_TRUE(PumpUntil([&] { return done == before + 1; })) << "run " << i;
      EXPECT_EQ(static_cast<int64_t>(sink.RecordedBytes()), source.TotalBytes);
    }
  }
  sink.SetInput(nullptr);
}

}  // namespace

namespace {

// ---------------------------------------------------------------------------
// Stops that must return although the run does not end by itself.

enum class TBlockIn { Prepare, Write };

struct StopBoundCase {
  const char* name;
  TBlockIn where;
  bool honoursWake;  // the blocking wait ends on WakeForStop
};

class StopBoundTest : public ::testing::TestWithParam<StopBoundCase> {};

TEST_P(StopBoundTest, SyncStopReturnsWithin100msWhileThePlaybackThreadBlocks) {
  const StopBoundCase& c = GetParam();
  TComponent owner;
  TTestSource source(&owner);
  source.TotalBytes = 44100 * 4;
  THookSink sink(&owner);
  sink.SetInput(&source);
  std::atomic<int> done{0};
  sink.SetOnDone([&](TComponent*) { ++done; });

  TGate gate;
  std::atomic<bool> blocked{false};
  // Only the first run's first call blocks, for up to 10 s.
  auto block = [&] {
    if (!blocked.exchange(true)) gate.Wait(10s);
  };
  if (c.where == TBlockIn::Prepare)
    sink.OnPrepare = block;
  else
    sink.OnWrite = block;
  if (c.honoursWake) sink.OnWake = [&] { gate.Open(); };

  sink.Run();
  ASSERT_TRUE(WaitWithoutPumping([&] { return blocked.load(); }, 5s));
  const auto t0 = std::chrono::steady_clock::now();
  sink.Stop(false);
  const auto took = std::chrono::steady_clock::now() - t0;
  // The wait itself is 100 ms; the rest is slack for a loaded machine.
  EXPECT_LT(took, 600ms);

  if (c.honoursWake) {
    EXPECT_EQ(sink.Status(), tosIdle) << "the wake ended the wait, so the run ended";
    EXPECT_EQ(sink.FinishCount, 1);
  } else {
    EXPECT_NE(sink.Status(), tosIdle) << "the abandoned run still holds the output";
    EXPECT_EQ(sink.FinishCount, 0);
    // No "Component is Busy": the run waits for the abandoned one.
    EXPECT_NO_THROW(sink.Run());
    gate.Open();
    ASSERT_TRUE(PumpUntil([&] { return done >= 1; }));
    EXPECT_EQ(sink.PrepareCount, 2) << "the queued run ran";
    EXPECT_EQ(sink.FinishCount, 2);
    // The abandoned run finished the one block it was writing.
    const int64_t abandonedBytes = c.where == TBlockIn::Write ? sink.BlockBytes : 0;
    EXPECT_EQ(static_cast<int64_t>(sink.RecordedBytes()), source.TotalBytes + abandonedBytes);
  }
  PumpFor(50ms);
  EXPECT_EQ(done, c.honoursWake ? 0 : 1) << "the stopped run's end is never delivered";
  gate.Open();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StopBoundTest,
    ::testing::Values(StopBoundCase{"PrepareHonoursWake", TBlockIn::Prepare, true},
                      StopBoundCase{"PrepareIgnoresWake", TBlockIn::Prepare, false},
                      StopBoundCase{"WriteHonoursWake", TBlockIn::Write, true},
                      StopBoundCase{"WriteIgnoresWake", TBlockIn::Write, false}),
    [](const ::testing::TestParamInfo<StopBoundCase>& i) { return std::string(i.param.name); });

TEST(StopBound, SetInputWaitsForAnAbandonedRunBeforeSwappingTheInput) {
  TComponent owner;
  TTestSource first(&owner), second(&owner);
  first.TotalBytes = 44100 * 4;
  second.TotalBytes = 4000;
  THookSink sink(&owner);
  sink.SetInput(&first);
  TGate gate;
  std::atomic<bool> blocked{false};
  std::atomic<bool> swappedUnderTheRun{false};
  sink.OnWrite = [&] {
    if (!blocked.exchange(true)) gate.Wait(10s);
    // The run that pulls `first` must still see it as its input.
    if (first.IsBusy() && sink.Input() != &first) swappedUnderTheRun = true;
  };
  sink.Run();
  ASSERT_TRUE(WaitWithoutPumping([&] { return blocked.load(); }, 5s));
  std::thread opener([&] {
    std::this_thread::sleep_for(300ms);
    gate.Open();
  });
  sink.SetInput(&second);
  opener.join();
  EXPECT_FALSE(swappedUnderTheRun);
  EXPECT_EQ(first.FlushCount, 1) << "the first run ended before the swap";
  ASSERT_TRUE(PumpUntil([&] { return sink.Status() == tosIdle; }));
  EXPECT_EQ(second.InitCount, 1);
  sink.SetInput(nullptr);
}

// ---------------------------------------------------------------------------
// Stop(false) called by the playback thread itself.

enum class TSelfStopFrom { SyncDone, WriteBlock };

struct SelfStopCase {
  const char* name;
  TSelfStopFrom from;
};

class SelfStopTest : public ::testing::TestWithParam<SelfStopCase> {};

TEST_P(SelfStopTest, SyncStopFromThePlaybackThreadReturnsAndTheRunEnds) {
  const SelfStopCase& c = GetParam();
  TComponent owner;
  TTestSource source(&owner);
  THookSink sink(&owner);
  sink.SetInput(&source);
  std::atomic<int> done{0};
  sink.SetOnDone([&](TComponent*) { ++done; });
  std::atomic<bool> returned{false};
  std::atomic<int> writes{0};
  if (c.from == TSelfStopFrom::SyncDone) {
    source.TotalBytes = 4000;
    sink.SetOnSyncDone([&](TComponent*) {
      sink.Stop(false);
      returned = true;
    });
  } else {
    source.TotalBytes = 44100 * 4 * 60;
    sink.OnWrite = [&] {
      if (++writes == 3) {
        sink.Stop(false);
        returned = true;
      }
    };
  }
  sink.Run();
  ASSERT_TRUE(PumpUntil([&] { return returned && sink.Status() == tosIdle; }, 5s));
  PumpFor(50ms);
  EXPECT_EQ(done, 0) << "a synchronous stop announces no end";
  EXPECT_EQ(sink.FinishCount, 1);
  if (c.from == TSelfStopFrom::WriteBlock) {
    EXPECT_EQ(writes, 3) << "the run ended at the block after the stop";
    EXPECT_LT(static_cast<int64_t>(sink.RecordedBytes()), source.TotalBytes);
  }

  // The stop left nothing behind: the next run plays to its end.
  sink.SetOnSyncDone(nullptr);
  sink.OnWrite = nullptr;
  source.TotalBytes = 4000;
  sink.ClearRecorded();
  sink.Run();
  ASSERT_TRUE(PumpUntil([&] { return done == 1; }));
  EXPECT_EQ(static_cast<int64_t>(sink.RecordedBytes()), source.TotalBytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SelfStopTest,
    ::testing::Values(SelfStopCase{"FromOnSyncDone", TSelfStopFrom::SyncDone},
                      SelfStopCase{"FromInsideWriteBlock", TSelfStopFrom::WriteBlock}),
    [](const ::testing::TestParamInfo<SelfStopCase>& i) { return std::string(i.param.name); });

// ---------------------------------------------------------------------------
// A run started exactly as the previous one ends.

enum class TRestartFrom { SyncDone, Done };

struct RestartCase {
  const char* name;
  TRestartFrom from;
};

class RestartRaceTest : public ::testing::TestWithParam<RestartCase> {};

TEST_P(RestartRaceTest, EveryRunsEndIsDeliveredAndOtherOutputsKeepTheirProgress) {
  const RestartCase& c = GetParam();
  TComponent owner;
  TTestSource sourceA(&owner), sourceB(&owner);
  THookSink a(&owner), b(&owner);
  a.SetInput(&sourceA);
  b.SetInput(&sourceB);
  // B plays 3 s in real time: a percent every 30 ms.
  sourceB.TotalBytes = 44100 * 4 * 3;
  b.BlockBytes = 400;
  b.PaceFactor = 1.0;
  std::atomic<int> progressB{0};
  b.SetOnProgress([&](TComponent*) { ++progressB; });
  // A's first run is short; the second, started right at its end, plays
  // half a second.
  sourceA.TotalBytes = 4000;
  a.PaceFactor = 1.0;
  std::atomic<int> doneA{0};
  std::atomic<bool> restarted{false};
  auto restart = [&] {
    if (restarted.exchange(true)) return;
    sourceA.TotalBytes = 44100 * 4 / 2;
    a.Run();
  };
  if (c.from == TRestartFrom::SyncDone) a.SetOnSyncDone([&](TComponent*) { restart(); });
  a.SetOnDone([&](TComponent*) {
    ++doneA;
    if (c.from == TRestartFrom::Done) restart();
  });

  b.Run();
  a.Run();
  ASSERT_TRUE(PumpUntil([&] { return a.PrepareCount == 2; }));
  const int before = progressB;
  PumpFor(200ms);
  ASSERT_NE(a.Status(), tosIdle) << "A's second run is still playing";
  EXPECT_GE(progressB - before, 3) << "B's progress is not held up by A's run";
  ASSERT_TRUE(PumpUntil([&] { return doneA == 2; }, 5s)) << "the second run's end is delivered";
  PumpFor(50ms);
  EXPECT_EQ(doneA, 2);
  b.Stop(false);
}

INSTANTIATE_TEST_SUITE_P(Cases, RestartRaceTest,
                         ::testing::Values(RestartCase{"RunFromOnSyncDone", TRestartFrom::SyncDone},
                                           RestartCase{"RunFromOnDone", TRestartFrom::Done}),
                         [](const ::testing::TestParamInfo<RestartCase>& i) {
                           return std::string(i.param.name);
                         });

// ---------------------------------------------------------------------------
// The run loop must not wait for the event side.

// A handler whose destruction blocks (once, when armed): replacing it keeps
// the output's handler lock held.
struct TBlockingHandler {
  std::shared_ptr<TGate> gate;
  std::shared_ptr<std::atomic<bool>> armed;
  std::shared_ptr<std::atomic<bool>> inDestructor;
  TBlockingHandler(std::shared_ptr<TGate> g, std::shared_ptr<std::atomic<bool>> a,
                   std::shared_ptr<std::atomic<bool>> d)
      : gate(std::move(g)), armed(std::move(a)), inDestructor(std::move(d)) {}
  TBlockingHandler(const TBlockingHandler&) = default;
  TBlockingHandler(TBlockingHandler&&) = default;
  ~TBlockingHandler() {
    if (armed && armed->exchange(false)) {
      *inDestructor = true;
      gate->Wait(10s);
    }
  }
  void operator()(TComponent*) const {}
};

enum class TEventSideStall { HandlerLockHeld, DeliveryBlockedOnUi };

struct StallCase {
  const char* name;
  TEventSideStall stall;
};

class RealTimeSideTest : public ::testing::TestWithParam<StallCase> {};

TEST_P(RealTimeSideTest, ARunOfAThousandBlocksEndsWhileTheEventSideIsStalled) {
  const StallCase& c = GetParam();
  TComponent owner;
  TTestSource source(&owner);
  source.TotalBytes = 400'000;
  THookSink sink(&owner);
  sink.SetInput(&source);
  sink.BlockBytes = 400;  // 1000 blocks, a progress change every 10
  std::atomic<int> done{0};
  std::atomic<int> progress{0};
  sink.SetOnDone([&](TComponent*) { ++done; });

  auto gate = std::make_shared<TGate>();
  auto armed = std::make_shared<std::atomic<bool>>(false);
  auto inDestructor = std::make_shared<std::atomic<bool>>(false);
  std::thread replacer;
  if (c.stall == TEventSideStall::HandlerLockHeld) {
    sink.SetOnProgress(TBlockingHandler(gate, armed, inDestructor));
    *armed = true;
    replacer = std::thread([&] { sink.SetOnProgress([&](TComponent*) { ++progress; }); });
    ASSERT_TRUE(WaitWithoutPumping([&] { return inDestructor->load(); }, 5s));
  } else {
    // Not pumping: the event thread blocks in its first delivery.
    sink.SetOnProgress([&](TComponent*) { ++progress; });
  }

  sink.Run();
  const bool ended = WaitWithoutPumping([&] { return sink.Status() == tosIdle; }, 3s);
  gate->Open();
  if (replacer.joinable()) replacer.join();
  EXPECT_TRUE(ended) << "the playback thread waited for the event side";
  EXPECT_EQ(static_cast<int64_t>(sink.RecordedBytes()), source.TotalBytes);
  ASSERT_TRUE(PumpUntil([&] { return done == 1; }));
  if (c.stall == TEventSideStall::DeliveryBlockedOnUi) {
    EXPECT_GE(progress, 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RealTimeSideTest,
    ::testing::Values(StallCase{"HandlerLockHeld", TEventSideStall::HandlerLockHeld},
                      StallCase{"DeliveryBlockedOnUi", TEventSideStall::DeliveryBlockedOnUi}),
    [](const ::testing::TestParamInfo<StallCase>& i) { return std::string(i.param.name); });

}  // namespace
