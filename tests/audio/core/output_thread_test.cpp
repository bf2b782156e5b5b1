// The playback thread, its runs and the events that reach the UI thread,
// proven end to end on real threads with a generated source and a recording
// sink.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "audio/core/AudioClasses.h"
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
  TRecordingSink* sink = nullptr;
  std::unique_ptr<TTestSource> sourceHolder;
  std::unique_ptr<TPassThrough> throughHolder;
  std::unique_ptr<TRecordingSink> sinkHolder;
  EventLog log;

  void SetUp() override {
    sourceHolder = std::make_unique<TTestSource>(&owner);
    throughHolder = std::make_unique<TPassThrough>(&owner);
    sinkHolder = std::make_unique<TRecordingSink>(&owner);
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
  source->TotalBytes = 44100 * 4 * 60;
  sink->BlockBytes = 400;
  sink->PaceFactor = 1.0;
  sink->Run();
  // Let progress events queue up without pumping them.
  std::this_thread::sleep_for(50ms);
  sink->Stop(false);
  EXPECT_EQ(sink->Status(), tosIdle);
  EXPECT_EQ(sink->FinishCount, 1);
  int progressAtStop = log.progress;
  PumpFor(150ms);
  EXPECT_EQ(log.done, 0);
  EXPECT_EQ(log.progress, progressAtStop) << "queued progress events are dropped";
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
  sink->SetOnProgress([&](TComponent*) { inHandler = true; });
  sink->Run();
  // The event thread is now blocked in a synchronous delivery that only the
  // UI thread can run; Stop(false) must keep serving it.
  std::this_thread::sleep_for(30ms);
  sink->Stop(false);
  EXPECT_EQ(sink->Status(), tosIdle);
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
