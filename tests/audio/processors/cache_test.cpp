// The read-ahead cache: its refill rule, delivery limits, ends, errors and
// seeks, with its filler thread running for real.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "audio/processors/AudioCache.h"
#include "common/BlockingSource.h"
#include "common/Pump.h"
#include "common/RawFileIn.h"
#include "common/RecordingSink.h"
#include "common/TestPaths.h"
#include "common/TestSource.h"

using namespace lirvo;
using namespace lirvo::test;
using namespace std::chrono_literals;

namespace {

constexpr int64_t MiB = 1 << 20;

bool WaitFor(const std::function<bool()>& Done, std::chrono::milliseconds Timeout = 5s) {
  auto deadline = std::chrono::steady_clock::now() + Timeout;
  while (!Done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

std::vector<uint8_t> Drain(TAuInput& in, uint32_t ask = 64 * 1024) {
  std::vector<uint8_t> out;
  for (;;) {
    uint8_t* p = nullptr;
    uint32_t n = ask;
    in.GetData(p, n);
    if (n == 0) break;
    out.insert(out.end(), p, p + n);
  }
  return out;
}

struct CacheFixture : ::testing::Test {
  TTestSource source;
  TAudioCache cache{nullptr};
  void SetUp() override { cache.SetInput(&source); }
  void TearDown() override {
    cache.Reset();
    cache.SetInput(nullptr);
  }
};

TEST_F(CacheFixture, TwoMegabyteSourceIsReadLazilyAtItsEndAndDeliveredWhole) {
  source.TotalBytes = 2 * MiB;
  source.MaxBlock = 64 * 1024;
  cache.Init();
  // Two rounds of 768 KiB; the remaining 0.5 MiB fits into the free space, so
  // it waits until at most 0.75 MiB is left buffered.
  ASSERT_TRUE(WaitFor([&] { return source.Position() >= 1536 * 1024; }));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(source.Position(), 1536 * 1024);

  std::vector<uint8_t> got;
  while (static_cast<int64_t>(got.size()) < 800 * 1024) {
    uint8_t* p = nullptr;
    uint32_t n = 64 * 1024;
    cache.GetData(p, n);
    ASSERT_GT(n, 0u);
    got.insert(got.end(), p, p + n);
  }
  // Now 1536 - 832 = 704 KiB are buffered: the rest is read.
  ASSERT_TRUE(WaitFor([&] { return source.Position() == 2 * MiB; }));
  std::vector<uint8_t> rest = Drain(cache);
  got.insert(got.end(), rest.begin(), rest.end());
  EXPECT_EQ(static_cast<int64_t>(got.size()), 2 * MiB);
  EXPECT_EQ(FirstPatternMismatch(got), -1);
  uint8_t* p = nullptr;
  uint32_t n = 100;
  cache.GetData(p, n);
  EXPECT_EQ(n, 0u) << "then 0";
  cache.Flush();
  EXPECT_EQ(source.FlushCount, 1);
}

TEST_F(CacheFixture, SourceOfUnknownSizeIsReadWheneverMoreThanAMinimumIsFree) {
  source.ReportSize = false;
  source.TotalBytes = 7 * MiB;
  source.MaxBlock = 64 * 1024;
  cache.Init();
  EXPECT_EQ(cache.Size(), -1);
  // Nothing consumed: it fills until no more than 384 KiB are free.
  ASSERT_TRUE(WaitFor([&] { return source.Position() >= 6 * MiB - 384 * 1024; }));
  std::this_thread::sleep_for(50ms);
  EXPECT_LE(source.Position(), 6 * MiB);
  std::vector<uint8_t> got = Drain(cache);
  EXPECT_EQ(static_cast<int64_t>(got.size()), 7 * MiB);
  EXPECT_EQ(FirstPatternMismatch(got), -1);
  cache.Flush();
}

struct CutCase {
  uint32_t bits, channels;
  uint32_t expected;
};

class CacheCutTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(CacheCutTest, ALargeRequestIsCutToTheDeliveryBufferInWholeFrames) {
  const CutCase& c = GetParam();
  TTestSource source;
  source.Bits = c.bits;
  source.Chans = c.channels;
  source.TotalBytes = 4 * MiB - (4 * MiB) % (c.bits / 8 * c.channels);
  source.MaxBlock = 1 * MiB;
  TAudioCache cache(nullptr);
  cache.SetInput(&source);
  cache.Init();
  ASSERT_TRUE(WaitFor([&] { return source.Position() >= 1 * MiB; }));
  // The largest single read is the contiguous part, at most the cut size.
  uint32_t largest = 0;
  for (int i = 0; i < 8; ++i) {
    uint8_t* p = nullptr;
    uint32_t n = 1 * MiB;
    cache.GetData(p, n);
    if (n == 0) break;
    largest = std::max(largest, n);
    EXPECT_EQ(n % (c.bits / 8 * c.channels), 0u);
  }
  EXPECT_EQ(largest, c.expected);
  cache.Reset();
  cache.SetInput(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Frames, CacheCutTest,
                         ::testing::Values(CutCase{8, 1, 786432}, CutCase{16, 2, 786432},
                                           CutCase{24, 2, 786432}, CutCase{32, 2, 786432},
                                           CutCase{16, 9, 786420}));

TEST(CacheRing, OddFrameSizesNeverSplitAFrameAtTheWrapAround) {
  // 18-byte frames: 6 MiB is not a whole number of them.
  TTestSource source;
  source.Bits = 16;
  source.Chans = 9;
  source.TotalBytes = 18 * 1'000'000;  // ~17 MiB, wraps the ring twice
  source.MaxBlock = 18 * 5000;
  TAudioCache cache(nullptr);
  cache.SetInput(&source);
  cache.Init();
  std::vector<uint8_t> got;
  for (;;) {
    uint8_t* p = nullptr;
    uint32_t n = 18 * 4000;
    cache.GetData(p, n);
    if (n == 0) break;
    ASSERT_EQ(n % 18, 0u) << "a partial frame at " << got.size();
    got.insert(got.end(), p, p + n);
  }
  EXPECT_EQ(static_cast<int64_t>(got.size()), source.TotalBytes);
  EXPECT_EQ(FirstPatternMismatch(got), -1);
  cache.Reset();
  cache.SetInput(nullptr);
}

TEST_F(CacheFixture, AReaderWaitingOnAnEmptyRingGetsZeroAsSoonAsTheFillerEnds) {
  source.TotalBytes = 4096;
  cache.Init();
  std::vector<uint8_t> got = Drain(cache);
  EXPECT_EQ(got.size(), 4096u);
  auto t0 = std::chrono::steady_clock::now();
  uint8_t* p = nullptr;
  uint32_t n = 100;
  cache.GetData(p, n);
  EXPECT_EQ(n, 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 50ms);
  cache.Flush();
}

// A source that fails after delivering some audio.
class TFailingSource : public TTestSource {
 public:
  int64_t FailAfter = 1 * MiB;
  ~TFailingSource() override { NotifyRemoval(); }

 protected:
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override {
    if (Position() >= FailAfter) throw EAuException("Damaged frame at 1 MiB");
    TTestSource::GetDataInternal(Buffer, Bytes);
  }
};

TEST(CacheErrors, ASourceErrorEndsTheFillerAndReachesTheReaderWithoutHanging) {
  TFailingSource source;
  source.TotalBytes = 4 * MiB;
  source.MaxBlock = 64 * 1024;
  TAudioCache cache(nullptr);
  cache.SetInput(&source);
  cache.Init();
  std::vector<uint8_t> got;
  try {
    for (;;) {
      uint8_t* p = nullptr;
      uint32_t n = 64 * 1024;
      cache.GetData(p, n);
      if (n == 0) break;
      got.insert(got.end(), p, p + n);
    }
    FAIL() << "the source's error must reach the reader";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "Damaged frame at 1 MiB");
  }
  EXPECT_EQ(static_cast<int64_t>(got.size()), 1 * MiB) << "everything before the error plays";
  EXPECT_EQ(FirstPatternMismatch(got), -1);
  cache.Flush();  // must not hang
  cache.SetInput(nullptr);
}

TEST(CacheErrors, InitWithoutInputRaises) {
  TAudioCache cache(nullptr);
  try {
    cache.Init();
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "Input is not assigned");
  }
}

TEST(CachePipeline, ASlowSourcePlaysWithoutAGapInThePacedSink) {
  // 16-bit stereo at 44.1 kHz played 20 times faster than real time: the
  // 6 MiB ring holds ~1.8 s of it, more than the 500 ms stalls of the source.
  TComponent owner;
  TTestSource source(&owner);
  source.TotalBytes = 16 * MiB;
  source.MaxBlock = 256 * 1024;
  TAudioCache cache(&owner);
  cache.SetInput(&source);
  TRecordingSink sink(&owner);
  sink.SetInput(&cache);
  sink.BlockBytes = 16 * 1024;
  sink.PaceFactor = 0.05;
  std::atomic<int> done{0};
  sink.SetOnDone([&](TComponent*) { ++done; });

  // Stall for 500 ms each time the ring holds at least 5 MiB, twice. (Timing
  // alone would not do: a busy machine fills the ring later.)
  std::atomic<bool> stop{false};
  std::thread staller([&] {
    for (int i = 0; i < 2 && !stop; ++i) {
      auto deadline = std::chrono::steady_clock::now() + 20s;
      while (!stop && std::chrono::steady_clock::now() < deadline &&
             source.Position() - static_cast<int64_t>(sink.RecordedBytes()) < 5 * MiB)
        std::this_thread::sleep_for(5ms);
      if (stop) break;
      source.BlockDelay = 500ms;
      std::this_thread::sleep_for(600ms);
      source.BlockDelay = 0ms;
    }
  });
  auto longest = std::chrono::nanoseconds(0);
  sink.Run();
  auto last = std::chrono::steady_clock::now();
  size_t seen = 0;
  while (done == 0) {
    CheckSynchronize(1ms);
    size_t now = sink.RecordedBytes();
    auto t = std::chrono::steady_clock::now();
    if (now != seen) {
      longest = std::max(longest, std::chrono::nanoseconds(t - last));
      last = t;
      seen = now;
    }
    if (t - last > 10s) break;
  }
  stop = true;
  staller.join();
  ASSERT_EQ(done, 1);
  EXPECT_EQ(static_cast<int64_t>(sink.RecordedBytes()), source.TotalBytes);
  EXPECT_EQ(FirstPatternMismatch(sink.Recorded()), -1);
  // A stall that reached the sink would leave a gap of about 500 ms; shorter
  // ones come from a busy machine descheduling this thread.
  const auto bound = 400ms;
  EXPECT_LT(longest, bound) << "the sink never waited for the stalled source";
  sink.SetInput(nullptr);
}

TEST(CachePipeline, PauseAndResumeThroughTheCacheLoseAndRepeatNoByte) {
  TComponent owner;
  TTestSource source(&owner);
  source.TotalBytes = 3 * MiB;
  TAudioCache cache(&owner);
  cache.SetInput(&source);
  TRecordingSink sink(&owner);
  sink.SetInput(&cache);
  sink.PaceFactor = 0.1;
  std::atomic<int> done{0};
  sink.SetOnDone([&](TComponent*) { ++done; });
  sink.Run();
  PumpFor(200ms);
  sink.Pause();
  size_t at = sink.RecordedBytes();
  int64_t filled = source.Position();
  PumpFor(200ms);
  EXPECT_EQ(sink.RecordedBytes(), at);
  EXPECT_GE(source.Position(), filled) << "the filler keeps running while paused";
  sink.Resume();
  ASSERT_TRUE(PumpUntil([&] { return done == 1; }, 20s));
  EXPECT_EQ(static_cast<int64_t>(sink.RecordedBytes()), source.TotalBytes);
  EXPECT_EQ(FirstPatternMismatch(sink.Recorded()), -1);
  sink.SetInput(nullptr);
}

TEST(CacheJump, JumpDropsTheBufferedAudioAndReadsFromTheNewPlace) {
  std::string dir = ScratchDir("cache_jump");
  WriteRawFile(dir + "/a.raw", 2, 16, 1000, 400'000);  // 1.6 MB
  TRawIn raw;
  raw.BlockFrames = 1000;
  raw.SetFileName(dir + "/a.raw");
  TAudioCache cache(nullptr);
  cache.SetInput(&raw);
  cache.Init();
  ASSERT_TRUE(WaitFor([&] { return raw.Position() >= 768 * 1024; }));
  cache._Jump(-1000);  // back to the start
  // Everything after the jump comes from frame 0 on, except at most one block
  // the filler was writing during the jump.
  std::vector<uint8_t> got = Drain(cache, 4000);
  // The whole file from frame 0 ends what was read. Located from the end:
  // the pattern repeats every 256 frames, so a search for frame 0 from the
  // front could land inside that one block.
  const size_t fileBytes = 400'000u * 4;
  ASSERT_GE(got.size(), fileBytes);
  const size_t stale = got.size() - fileBytes;
  EXPECT_LE(stale, 1000u * 4) << "more than the block the filler was writing came first";
  size_t bad = fileBytes;
  for (size_t i = 0; i < fileBytes && bad == fileBytes; i += 4) {
    const int64_t f = static_cast<int64_t>(i / 4);
    if (got[stale + i] != RawSampleByte(f, 0, 0) || got[stale + i + 1] != RawSampleByte(f, 0, 1) ||
        got[stale + i + 2] != RawSampleByte(f, 1, 0) ||
        got[stale + i + 3] != RawSampleByte(f, 1, 1))
      bad = i;
  }
  EXPECT_EQ(bad, fileBytes) << "the whole file plays from the start; first difference at byte "
                            << bad;
  cache.Flush();
  cache.SetInput(nullptr);
}

TEST_F(CacheFixture, JumpAfterTheSourceHasEndedIsIgnored) {
  source.TotalBytes = 100'000;
  cache.Init();
  ASSERT_TRUE(WaitFor([&] { return source.Position() == 100'000; }));
  ASSERT_TRUE(WaitFor([&] { return cache.FillerRounds() > 0; }));
  std::this_thread::sleep_for(20ms);
  cache._Jump(-1000);
  std::vector<uint8_t> got = Drain(cache);
  EXPECT_EQ(got.size(), 100'000u);
  EXPECT_EQ(FirstPatternMismatch(got), -1);
  cache.Flush();
}

}  // namespace

// --- The filler's ownership of the source, and the waits that end a run ---

namespace {

// Records every read made after it was unlinked from the cache.
class TWatchedSource : public TTestSource {
 public:
  ~TWatchedSource() override { NotifyRemoval(); }
  std::atomic<bool> Unlinked{false};
  std::atomic<int> ReadsAfterUnlink{0};

 protected:
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override {
    if (Unlinked) ++ReadsAfterUnlink;
    TTestSource::GetDataInternal(Buffer, Bytes);
  }
};

}  // namespace

// Changing the input of a running cache (to another source, or removing it
// by destroying the source) must stop the filler before the old source is
// flushed or freed: afterwards nothing reads it.
struct SwapCase {
  const char* name;
  bool destroyOld;  // removal through the source's destruction
};

class CacheSwapTest : public ::testing::TestWithParam<SwapCase> {};

TEST_P(CacheSwapTest, ChangingTheInputOfABusyCacheStopsTheFillerFirst) {
  auto old = std::make_unique<TWatchedSource>();
  old->ReportSize = false;  // endless: the filler keeps reading it
  old->MaxBlock = 16 * 1024;
  old->BlockDelay = std::chrono::microseconds(200);
  TTestSource next;
  next.TotalBytes = 8 * MiB;
  TAudioCache cache(nullptr);
  cache.SetInput(old.get());
  cache.Init();
  EXPECT_TRUE(cache.IsBusy()) << "an initialised cache is busy";
  ASSERT_TRUE(WaitFor([&] { return old->Position() > 0; }));

  if (GetParam().destroyOld) {
    // What the source's destruction does (Notification), with the object
    // kept alive for the check.
    old->Unlinked = true;
    cache.SetInput(nullptr);
  } else {
    old->Unlinked = true;
    cache.SetInput(&next);
  }
  EXPECT_FALSE(old->IsBusy()) << "the old source is flushed";
  // Make room in the ring so that a filler still on the old source reads it.
  for (int i = 0; i < 40; ++i) {
    uint8_t* p = nullptr;
    uint32_t n = 64 * 1024;
    cache.GetData(p, n);
    if (n == 0) break;
  }
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(old->ReadsAfterUnlink.load(), 0) << "the filler read the old source after the swap";
  if (GetParam().destroyOld) old.reset();
  cache.Reset();
  cache.SetInput(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Cases, CacheSwapTest,
                         ::testing::Values(SwapCase{"AnotherSource", false},
                                           SwapCase{"Removal", true}),
                         [](const auto& Info) { return std::string(Info.param.name); });

TEST(CacheWaits, InitMakesTheCacheBusyAndFlushIdle) {
  TTestSource source;
  TAudioCache cache(nullptr);
  cache.SetInput(&source);
  EXPECT_FALSE(cache.IsBusy());
  cache.Init();
  EXPECT_TRUE(cache.IsBusy());
  cache.Flush();
  EXPECT_FALSE(cache.IsBusy());
  cache.SetInput(nullptr);
}

// A source that stalls (10 s) leaves the reader waiting on an empty ring:
// BreakWait ends that wait at once, Flush does not wait for the stalled read,
// and the next Init still works once the source moves again.
TEST(CacheWaits, BreakWaitEndsAReaderOnAnEmptyRingAndFlushDoesNotWaitForTheSource) {
  TBlockingSource source;
  source.TotalBytes = 1 * MiB;
  source.Stall();
  TAudioCache cache(nullptr);
  cache.SetInput(&source);
  cache.Init();
  ASSERT_TRUE(WaitFor([&] { return source.StallsEntered.load() > 0; }));
  auto reader = std::async(std::launch::async, [&] {
    uint8_t* p = nullptr;
    uint32_t n = 4096;
    cache.GetData(p, n);
    return n;
  });
  std::this_thread::sleep_for(50ms);
  ASSERT_EQ(reader.wait_for(0ms), std::future_status::timeout) << "the ring is empty: it waits";
  const auto broke = std::chrono::steady_clock::now();
  cache.BreakWait();
  ASSERT_EQ(reader.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(reader.get(), 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - broke, 100ms);

  const auto flushStart = std::chrono::steady_clock::now();
  cache.Flush();
  EXPECT_LT(std::chrono::steady_clock::now() - flushStart, 100ms)
      << "Flush waited for the stalled source";
  EXPECT_FALSE(cache.IsBusy());

  source.Release();
  // The filler that was stuck finishes the source; the next run starts clean
  // and delivers the whole source from its start.
  cache.Init();
  std::vector<uint8_t> got = Drain(cache);
  EXPECT_EQ(static_cast<int64_t>(got.size()), source.TotalBytes);
  EXPECT_EQ(FirstPatternMismatch(got), -1);
  EXPECT_GE(source.FlushCount.load(), 1);
  cache.Flush();
  cache.SetInput(nullptr);
}

// A source whose rest fits into the free space after two chunks (a 10 s
// CD-format file): the refill rule waits for kCacheRefillFree to be free, and
// so must the filler, instead of going round without reading.
TEST(CacheWaits, TheFillerSleepsWhileTheRestOfTheSourceFitsAndWaits) {
  TTestSource source;
  source.TotalBytes = 2 * int64_t{kCacheChunk} + 191136;
  source.MaxBlock = 256 * 1024;
  TAudioCache cache(nullptr);
  cache.SetInput(&source);
  cache.Init();
  ASSERT_TRUE(WaitFor([&] { return source.Position() >= 2 * static_cast<int64_t>(kCacheChunk); }));
  std::this_thread::sleep_for(50ms);
  const uint64_t rounds0 = cache.FillerRounds();
  std::this_thread::sleep_for(1s);
  EXPECT_LE(cache.FillerRounds() - rounds0, 2u) << "the filler went round with nothing to do";
  // Every byte still arrives, the rest once enough has been read.
  std::vector<uint8_t> got = Drain(cache);
  EXPECT_EQ(static_cast<int64_t>(got.size()), source.TotalBytes);
  EXPECT_EQ(FirstPatternMismatch(got), -1);
  cache.Flush();
  cache.SetInput(nullptr);
}

// While the ring is full the filler has nothing to do: it must sleep until
// the reader frees space, not wake every few milliseconds.
TEST(CacheWaits, TheFillerSleepsWhileTheRingIsFull) {
  TTestSource source;
  source.TotalBytes = 64 * MiB;
  source.MaxBlock = 256 * 1024;
  TAudioCache cache(nullptr);
  cache.SetInput(&source);
  cache.Init();
  // Filled as far as the refill rule goes: the rest never fits, so the
  // filler reads until a round would be worth no more than kCacheMinRefill;
  // then the ring is full and the filler has nothing to do.
  const int64_t full = static_cast<int64_t>(kCacheRingSize) - (kCacheMinRefill + 8);
  ASSERT_TRUE(WaitFor([&] { return source.Position() >= full; }));
  std::this_thread::sleep_for(50ms);
  const uint64_t rounds0 = cache.FillerRounds();
  std::this_thread::sleep_for(1s);
  EXPECT_LE(cache.FillerRounds() - rounds0, 2u) << "the filler woke on a timer";
  // And it wakes when space frees below the refill threshold.
  const int64_t before = source.Position();
  std::vector<uint8_t> sink;
  while (sink.size() < kCacheChunk + 64 * 1024) {
    uint8_t* p = nullptr;
    uint32_t n = 64 * 1024;
    cache.GetData(p, n);
    ASSERT_GT(n, 0u);
    sink.insert(sink.end(), p, p + n);
  }
  EXPECT_TRUE(WaitFor([&] { return source.Position() > before; }, 2s));
  cache.Flush();
  cache.SetInput(nullptr);
}
