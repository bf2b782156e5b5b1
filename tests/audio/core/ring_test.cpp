// The byte ring on one thread (positions, exposures, wrap-around, end of
// stream, discards), plus Stop against a side blocked in Read or Write.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <future>
#include <numeric>
#include <thread>
#include <vector>

#include "audio/core/AuException.h"
#include "audio/core/CircularBuffer.h"
#include "audio/core/Pool.h"

namespace lirvo {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::vector<uint8_t> Bytes(size_t n, uint8_t first) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), first);
  return v;
}

// A ring over its own zeroed storage.
struct SmallRing {
  explicit SmallRing(uint32_t capacity) : storage(capacity, 0), ring(storage.data(), capacity) {}
  std::vector<uint8_t> storage;
  TCircularBuffer ring;
};

TEST(CircularBufferCreate, PoolRingUsesRingStorageUpToItsFullSize) {
  TCircularBuffer ring(0x900000, 7);
  EXPECT_EQ(ring.Storage(), PoolRingStorage);
  EXPECT_EQ(ring.Capacity(), 0x900000u);
  EXPECT_EQ(ring.FreeSpace(), 0x900000u);
  EXPECT_EQ(ring.ReadPosition(), 0);
  EXPECT_EQ(ring.WritePosition(), 0);
  EXPECT_FALSE(ring.IsEOF());
  EXPECT_FALSE(ring.IsBreak());
}

TEST(CircularBufferCreate, RefusesCapacityThatWouldRunPastTheStorage) {
  EXPECT_THROW(TCircularBuffer(0x900001, 0), EAuException);
  EXPECT_THROW(TCircularBuffer(0xFFFFFFFFu, 0), EAuException);
  EXPECT_THROW(TCircularBuffer(0u, 0), EAuException);  // every offset would divide by 0
  uint8_t byte = 0;
  EXPECT_THROW(TCircularBuffer(&byte, 0), EAuException);
  EXPECT_THROW(TCircularBuffer(static_cast<uint8_t*>(nullptr), 16), EAuException);
}

// A fresh ring, a full ring and a partly wrapped ring, over capacities from 1
// byte to the cache's 6 MiB: exposures must give exactly the contiguous part.
class CircularBufferCapacity : public ::testing::TestWithParam<uint32_t> {};

TEST_P(CircularBufferCapacity, FreshRingExposesWholeCapacityAtOffsetZero) {
  const uint32_t c = GetParam();
  TCircularBuffer ring(c);
  ring.Reset();
  EXPECT_EQ(ring.FreeSpace(), c);
  EXPECT_TRUE(ring.WouldReadBlock());
  EXPECT_FALSE(ring.WouldWriteBlock());
  uint8_t* p = nullptr;
  uint32_t n = 99;
  ring.ExposeSingleBufferWrite(p, n);
  EXPECT_EQ(p, ring.Storage());
  EXPECT_EQ(n, c);
  ring.ExposeSingleBufferRead(p, n);
  EXPECT_EQ(n, 0u);
  ring.AddBytesRead(0);
}

TEST_P(CircularBufferCapacity, FullRingExposesNothingToWriteAndEverythingToRead) {
  const uint32_t c = GetParam();
  TCircularBuffer ring(c);
  uint8_t* p = nullptr;
  uint32_t n = 0;
  ring.ExposeSingleBufferWrite(p, n);
  ASSERT_EQ(n, c);
  ring.AddBytesWritten(c);
  ring.ExposeSingleBufferWrite(p, n);
  EXPECT_EQ(n, 0u);
  EXPECT_TRUE(ring.WouldWriteBlock());
  EXPECT_FALSE(ring.WouldReadBlock());
  EXPECT_EQ(ring.FreeSpace(), 0u);
  ring.ExposeSingleBufferRead(p, n);
  EXPECT_EQ(p, ring.Storage());
  EXPECT_EQ(n, c);
  ring.AddBytesRead(c);
  EXPECT_TRUE(ring.WouldReadBlock());
  EXPECT_EQ(ring.FreeSpace(), c);
}

INSTANTIATE_TEST_SUITE_P(Capacities, CircularBufferCapacity,
                         ::testing::Values(1u, 2u, 21u, 4099u, 0x600000u));

// Capacities with room for the 10- and 20-byte offsets below.
class CircularBufferWrap : public ::testing::TestWithParam<uint32_t> {};

TEST_P(CircularBufferWrap, WriteExposureStopsAtEndOfStorageNotAtTotalFreeSpace) {
  const uint32_t c = GetParam();
  TCircularBuffer ring(c);
  uint8_t* p = nullptr;
  uint32_t n = 0;
  ring.AddBytesWritten(c - 10);
  ring.AddBytesRead(10);
  EXPECT_EQ(ring.FreeSpace(), 20u);
  ring.ExposeSingleBufferWrite(p, n);
  EXPECT_EQ(p, ring.Storage() + (c - 10));
  EXPECT_EQ(n, 10u);
  ring.ExposeSingleBufferRead(p, n);
  EXPECT_EQ(p, ring.Storage() + 10);
  EXPECT_EQ(n, c - 20);
  ring.AddBytesRead(0);
  // Across the wrap: the write exposure restarts at offset 0 and ends at the
  // read position; the read exposure stops at the end of the storage.
  ring.AddBytesWritten(15);
  EXPECT_EQ(ring.FreeSpace(), 5u);
  ring.ExposeSingleBufferWrite(p, n);
  EXPECT_EQ(p, ring.Storage() + 5);
  EXPECT_EQ(n, 5u);
  ring.ExposeSingleBufferRead(p, n);
  EXPECT_EQ(p, ring.Storage() + 10);
  EXPECT_EQ(n, c - 10);
  ring.AddBytesRead(c - 10);
  ring.ExposeSingleBufferRead(p, n);
  EXPECT_EQ(p, ring.Storage());
  EXPECT_EQ(n, 5u);
  ring.AddBytesRead(0);
}

INSTANTIATE_TEST_SUITE_P(Capacities, CircularBufferWrap, ::testing::Values(21u, 4099u, 0x600000u));

TEST(CircularBuffer, ReadAndWriteNeverWrapAndKeepByteOrder) {
  SmallRing s(100);
  TCircularBuffer& ring = s.ring;
  const auto first = Bytes(90, 1);
  ASSERT_EQ(ring.Write(first.data(), 90), 90u);
  std::vector<uint8_t> out(200);
  ASSERT_EQ(ring.Read(out.data(), 80), 80u);
  // 30 bytes to store, 10 fit before the end of the storage.
  const auto second = Bytes(30, 200);
  EXPECT_EQ(ring.Write(second.data(), 30), 10u);
  EXPECT_EQ(ring.Write(second.data() + 10, 20), 20u);
  EXPECT_EQ(ring.FreeSpace(), 60u);
  // A request for 200 bytes returns only the 20 up to the end of the storage.
  ASSERT_EQ(ring.Read(out.data(), 200), 20u);
  EXPECT_EQ(0, std::memcmp(out.data(), first.data() + 80, 10));
  EXPECT_EQ(0, std::memcmp(out.data() + 10, second.data(), 10));
  ASSERT_EQ(ring.Read(out.data(), 200), 20u);
  EXPECT_EQ(0, std::memcmp(out.data(), second.data() + 10, 20));
  EXPECT_TRUE(ring.WouldReadBlock());
  EXPECT_EQ(ring.ReadPosition(), 120);
  EXPECT_EQ(ring.WritePosition(), 120);
}

TEST(CircularBuffer, OverlongAddsAreCutSoThePositionsStayConsistent) {
  SmallRing s(64);
  TCircularBuffer& ring = s.ring;
  ring.AddBytesWritten(60);
  ring.AddBytesWritten(10);  // only 4 bytes were free
  EXPECT_EQ(ring.WritePosition(), 64);
  EXPECT_TRUE(ring.WouldWriteBlock());
  ring.AddBytesRead(100);  // only 64 bytes were buffered
  EXPECT_EQ(ring.ReadPosition(), 64);
  EXPECT_TRUE(ring.WouldReadBlock());
  EXPECT_EQ(ring.FreeSpace(), 64u);
}

TEST(CircularBufferEndOfStream, ReadOnEmptyEndedRingReturnsZeroAndRewinds) {
  SmallRing s(64);
  TCircularBuffer& ring = s.ring;
  std::vector<uint8_t> buf(64);
  ASSERT_EQ(ring.Write(buf.data(), 40), 40u);
  ASSERT_EQ(ring.Read(buf.data(), 40), 40u);
  ring.SetEOF(true);
  const auto start = Clock::now();
  EXPECT_EQ(ring.Read(buf.data(), 64), 0u);
  EXPECT_LT(Clock::now() - start, milliseconds(500));
  EXPECT_EQ(ring.ReadPosition(), 0);
  EXPECT_EQ(ring.WritePosition(), 0);
}

TEST(CircularBufferEndOfStream, ConsumerDrainsWhatIsLeftBeforeGettingZero) {
  SmallRing s(64);
  TCircularBuffer& ring = s.ring;
  const auto data = Bytes(30, 7);
  ASSERT_EQ(ring.Write(data.data(), 30), 30u);
  ring.SetEOF(true);
  std::vector<uint8_t> out(64);
  ASSERT_EQ(ring.Read(out.data(), 64), 30u);
  EXPECT_EQ(0, std::memcmp(out.data(), data.data(), 30));
  EXPECT_EQ(ring.Read(out.data(), 64), 0u);
  EXPECT_EQ(ring.ReadPosition(), 0);
  EXPECT_EQ(ring.WritePosition(), 0);
}

TEST(CircularBufferEndOfStream, WriteAfterEndIsRefusedWithoutCopying) {
  SmallRing s(64);
  TCircularBuffer& ring = s.ring;
  ring.SetEOF(true);
  const auto data = Bytes(16, 1);
  EXPECT_EQ(ring.Write(data.data(), 16), 0u);
  EXPECT_EQ(ring.WritePosition(), 0);
  EXPECT_EQ(s.storage, std::vector<uint8_t>(64, 0));
}

TEST(CircularBuffer, ResetClearsPositionsAndBothFlags) {
  SmallRing s(64);
  TCircularBuffer& ring = s.ring;
  ring.AddBytesWritten(50);
  ring.AddBytesRead(20);
  ring.Stop();
  ring.Reset();
  EXPECT_EQ(ring.ReadPosition(), 0);
  EXPECT_EQ(ring.WritePosition(), 0);
  EXPECT_FALSE(ring.IsEOF());
  EXPECT_FALSE(ring.IsBreak());
  const auto data = Bytes(10, 1);
  EXPECT_EQ(ring.Write(data.data(), 10), 10u);
}

TEST(CircularBufferDiscard, Reset2DropsBufferedBytesAndKeepsCounting) {
  SmallRing s(64);
  TCircularBuffer& ring = s.ring;
  const auto data = Bytes(50, 1);
  ASSERT_EQ(ring.Write(data.data(), 50), 50u);
  ring.Reset2();
  EXPECT_TRUE(ring.WouldReadBlock());
  EXPECT_EQ(ring.FreeSpace(), 64u);
  EXPECT_EQ(ring.ReadPosition(), 50);
  EXPECT_EQ(ring.WritePosition(), 50);
}

TEST(CircularBufferDiscard, BlockBeingWrittenDuringReset2IsKept) {
  SmallRing s(64);
  TCircularBuffer& ring = s.ring;
  const auto old_data = Bytes(20, 1);
  ASSERT_EQ(ring.Write(old_data.data(), 20), 20u);
  uint8_t* p = nullptr;
  uint32_t n = 0;
  ring.ExposeSingleBufferWrite(p, n);
  ASSERT_GE(n, 7u);
  const auto new_data = Bytes(7, 100);
  std::memcpy(p, new_data.data(), 7);
  ring.Reset2();  // the seek comes while the block is being written
  ring.AddBytesWritten(7);
  std::vector<uint8_t> out(64);
  ASSERT_EQ(ring.Read(out.data(), 64), 7u);
  EXPECT_EQ(0, std::memcmp(out.data(), new_data.data(), 7));
}

TEST(CircularBufferDiscard, Reset2DuringConsumerCopyKeepsItsRegionUntilTheCopyEnds) {
  SmallRing s(64);
  TCircularBuffer& ring = s.ring;
  ring.AddBytesWritten(64);
  uint8_t* p = nullptr;
  uint32_t n = 0;
  ring.ExposeSingleBufferRead(p, n);
  ASSERT_EQ(n, 64u);
  ring.Reset2();
  // The consumer is still copying out of the region: the producer must not be
  // offered any of it yet.
  EXPECT_EQ(ring.FreeSpace(), 0u);
  ring.AddBytesRead(5);
  EXPECT_TRUE(ring.WouldReadBlock());
  EXPECT_EQ(ring.ReadPosition(), 64);
  EXPECT_EQ(ring.FreeSpace(), 64u);
}

// Stop must release a side that waits in a blocking call, whichever it is.
enum class Side { kReader, kWriter };

class CircularBufferStop : public ::testing::TestWithParam<Side> {};

TEST_P(CircularBufferStop, ReleasesABlockedSideWithinAFewMilliseconds) {
  SmallRing s(64);
  TCircularBuffer& ring = s.ring;
  std::vector<uint8_t> buf(64);
  if (GetParam() == Side::kWriter) {
    ASSERT_EQ(ring.Write(buf.data(), 64), 64u);
  }
  std::atomic<bool> returned{false};
  auto blocked = std::async(std::launch::async, [&] {
    std::vector<uint8_t> local(64);
    const uint32_t n =
        GetParam() == Side::kReader ? ring.Read(local.data(), 64) : ring.Write(local.data(), 64);
    returned = true;
    return std::make_pair(n, Clock::now());
  });
  std::this_thread::sleep_for(milliseconds(30));
  ASSERT_FALSE(returned) << "the call should wait while the ring is "
                         << (GetParam() == Side::kReader ? "empty" : "full");
  const auto stopped_at = Clock::now();
  ring.Stop();
  ASSERT_EQ(blocked.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  const auto [n, returned_at] = blocked.get();
  EXPECT_EQ(n, 0u);
  // Stop wakes the side at once; the margin is for loaded or instrumented runs.
  EXPECT_LT(returned_at - stopped_at, milliseconds(100));
  EXPECT_EQ(ring.ReadPosition(), 0);
  EXPECT_EQ(ring.WritePosition(), 0);
}

TEST_P(CircularBufferStop, CallsAfterStopReturnZeroWithoutWaiting) {
  SmallRing s(64);
  TCircularBuffer& ring = s.ring;
  std::vector<uint8_t> buf(64);
  ASSERT_EQ(ring.Write(buf.data(), 64), 64u);  // full: a Write would wait
  ring.Stop();
  const auto start = Clock::now();
  if (GetParam() == Side::kReader) {
    EXPECT_EQ(ring.Read(buf.data(), 64), 0u);
  } else {
    EXPECT_EQ(ring.Write(buf.data(), 64), 0u);
  }
  EXPECT_LT(Clock::now() - start, milliseconds(100));
}

INSTANTIATE_TEST_SUITE_P(Sides, CircularBufferStop, ::testing::Values(Side::kReader, Side::kWriter),
                         [](const auto& Info) {
                           return Info.param == Side::kReader ? "Read" : "Write";
                         });

}  // namespace
}  // namespace lirvo
