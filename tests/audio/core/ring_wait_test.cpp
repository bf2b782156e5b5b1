// The ring's blocking calls sleep until the other side acts: a waiting side
// wakes because of the write, the read or the Break that ends its wait, not
// on a timer. Counted in sleeps (wake-ups), so a poll shows up whatever the
// machine's speed.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <thread>
#include <vector>

#include "audio/core/CircularBuffer.h"

namespace lirvo {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct SmallRing {
  explicit SmallRing(uint32_t capacity) : storage(capacity, 0), ring(storage.data(), capacity) {}
  std::vector<uint8_t> storage;
  TCircularBuffer ring;
};

enum class Waiter { kRead, kWrite };
enum class Release { kOtherSide, kBreak };

struct WakeCase {
  const char* name;
  Waiter waiter;
  Release release;
  uint32_t expected;  // bytes the waiting call returns
};

class CircularBufferWake : public ::testing::TestWithParam<WakeCase> {};

// The side waits 40 ms before it is released. A poll of 1 ms would take
// about 40 sleeps; a notified wait takes one (two if a spurious wake-up
// comes). And it must return soon after the release, not at a guard timer.
TEST_P(CircularBufferWake, BlockedSideSleepsOnceAndWakesWhenReleased) {
  const WakeCase& c = GetParam();
  SmallRing s(64);
  TCircularBuffer& ring = s.ring;
  std::vector<uint8_t> full(64, 7);
  if (c.waiter == Waiter::kWrite) {
    ASSERT_EQ(ring.Write(full.data(), 64), 64u);
  }

  auto blocked = std::async(std::launch::async, [&] {
    std::vector<uint8_t> local(16, 1);
    const uint32_t n =
        c.waiter == Waiter::kRead ? ring.Read(local.data(), 16) : ring.Write(local.data(), 16);
    return std::make_pair(n, Clock::now());
  });
  std::this_thread::sleep_for(milliseconds(40));
  ASSERT_EQ(blocked.wait_for(milliseconds(0)), std::future_status::timeout)
      << "the call should wait";
  const auto released_at = Clock::now();
  if (c.release == Release::kBreak) {
    ring.Break();
  } else if (c.waiter == Waiter::kRead) {
    ASSERT_EQ(ring.Write(full.data(), 16), 16u);
  } else {
    std::vector<uint8_t> sink(16);
    ASSERT_EQ(ring.Read(sink.data(), 16), 16u);
  }
  ASSERT_EQ(blocked.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  const auto [n, returned_at] = blocked.get();
  EXPECT_EQ(n, c.expected);
  const uint64_t sleeps = c.waiter == Waiter::kRead ? ring.ReadSleeps() : ring.WriteSleeps();
  EXPECT_GE(sleeps, 1u) << "the call should have slept";
  EXPECT_LE(sleeps, 2u) << "the waiting side woke on a timer";
  // Well below the guard time-out: the release woke it.
  EXPECT_LT(returned_at - released_at, TCircularBuffer::kWaitGuard / 2);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CircularBufferWake,
    ::testing::Values(WakeCase{"ReadWokenByWrite", Waiter::kRead, Release::kOtherSide, 16},
                      WakeCase{"WriteWokenByRead", Waiter::kWrite, Release::kOtherSide, 16},
                      WakeCase{"ReadEndedByBreak", Waiter::kRead, Release::kBreak, 0},
                      WakeCase{"WriteEndedByBreak", Waiter::kWrite, Release::kBreak, 0}),
    [](const auto& Info) { return std::string(Info.param.name); });

TEST(CircularBufferWake, ReaderWokenBySetEofGetsZero) {
  SmallRing s(64);
  auto blocked = std::async(std::launch::async, [&] {
    uint8_t b[8];
    return s.ring.Read(b, 8);
  });
  std::this_thread::sleep_for(milliseconds(40));
  const auto at = Clock::now();
  s.ring.SetEOF(true);
  ASSERT_EQ(blocked.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(blocked.get(), 0u);
  EXPECT_LT(Clock::now() - at, TCircularBuffer::kWaitGuard / 2);
  EXPECT_LE(s.ring.ReadSleeps(), 2u);
}

// The producer waiting for a refill threshold is woken once, by the read
// that makes the free space reach it; the reads before it do not wake it.
TEST(CircularBufferWake, ProducerWaitingForSpaceWakesOnlyWhenThresholdIsReached) {
  SmallRing s(64);
  TCircularBuffer& ring = s.ring;
  std::vector<uint8_t> full(64, 3);
  ASSERT_EQ(ring.Write(full.data(), 64), 64u);
  std::atomic<bool> done{false};
  auto waiting = std::async(std::launch::async, [&] {
    const bool ok = ring.WaitForSpace(32, std::chrono::seconds(5));
    done = true;
    return ok;
  });
  uint8_t b[8];
  for (int i = 0; i < 3; ++i) {  // 24 bytes free: below the threshold
    std::this_thread::sleep_for(milliseconds(15));
    ASSERT_EQ(ring.Read(b, 8), 8u);
  }
  std::this_thread::sleep_for(milliseconds(15));
  EXPECT_FALSE(done) << "woken before the threshold";
  ASSERT_EQ(ring.Read(b, 8), 8u);  // 32 free
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_TRUE(waiting.get());
  // One sleep per ignored read at most would mean a wake-up for each read.
  EXPECT_LE(ring.WriteSleeps(), 2u);
}

TEST(CircularBufferWake, WakeProducerEndsASpaceWaitWithoutBreakingTheRing) {
  SmallRing s(64);
  std::vector<uint8_t> full(64, 3);
  ASSERT_EQ(s.ring.Write(full.data(), 64), 64u);
  auto waiting = std::async(std::launch::async,
                            [&] { return s.ring.WaitForSpace(1, std::chrono::seconds(5)); });
  std::this_thread::sleep_for(milliseconds(30));
  s.ring.WakeProducer();
  ASSERT_EQ(waiting.wait_for(milliseconds(100)), std::future_status::ready);
  EXPECT_FALSE(waiting.get());
  EXPECT_FALSE(s.ring.IsBreak());
}

// Break lasts until Reset: later calls return at once, and after Reset a
// read on the empty ring waits again.
TEST(CircularBufferWake, BreakHoldsUntilResetRearmsTheWaits) {
  SmallRing s(64);
  TCircularBuffer& ring = s.ring;
  ring.Break();
  uint8_t b[8];
  const auto start = Clock::now();
  EXPECT_EQ(ring.Read(b, 8), 0u);
  EXPECT_FALSE(ring.WaitForData(std::chrono::seconds(5)));
  EXPECT_LT(Clock::now() - start, milliseconds(100));
  ring.Reset();
  EXPECT_FALSE(ring.IsBreak());
  const auto again = Clock::now();
  EXPECT_FALSE(ring.WaitForData(milliseconds(30)));
  EXPECT_GE(Clock::now() - again, milliseconds(25)) << "the wait no longer waits after Reset";
  ASSERT_EQ(ring.Write(b, 8), 8u);
  EXPECT_EQ(ring.Read(b, 8), 8u);
}

}  // namespace
}  // namespace lirvo
