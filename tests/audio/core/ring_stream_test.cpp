// The byte ring between a real producer thread and a real consumer thread:
// every byte must arrive once, in order, and unchanged, through a small ring
// of odd capacity that wraps at every possible offset. Run under
// ThreadSanitizer too, which proves the position hand-over.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "audio/core/CircularBuffer.h"

namespace lirvo {
namespace {

// Byte i of the stream. Counting, but with a period of 2^32 rather than 256,
// so a block delivered at a multiple of 256 bytes off still shows.
uint8_t PatternByte(uint64_t i) {
  return static_cast<uint8_t>(i ^ (i >> 8) ^ (i >> 16) ^ (i >> 24));
}

void FillPattern(uint8_t* dest, uint64_t first, uint32_t n) {
  for (uint32_t k = 0; k < n; ++k)
    dest[k] = PatternByte(first + k);
}

// Index of the first byte that differs from the pattern, or n.
uint32_t FirstMismatch(const uint8_t* src, uint64_t first, uint32_t n) {
  for (uint32_t k = 0; k < n; ++k) {
    if (src[k] != PatternByte(first + k)) return k;
  }
  return n;
}

// Odd request sizes, some larger than the ring.
constexpr std::array<uint32_t, 8> kWriteSizes = {1, 7, 333, 4099, 5003, 65, 2047, 12289};
constexpr std::array<uint32_t, 7> kReadSizes = {3, 4096, 511, 1, 9001, 777, 4099};

constexpr uint32_t kOddCapacity = 4099;

struct ConsumerResult {
  uint64_t received = 0;
  uint64_t bad_at = UINT64_MAX;  // stream offset of the first wrong byte
  bool got_zero_before_end = false;
};

// Reads until the end of stream (Read returns 0), checking every byte.
ConsumerResult ConsumeAndVerify(TCircularBuffer& ring, uint64_t expected_total) {
  ConsumerResult result;
  std::vector<uint8_t> buf(16384);
  for (size_t i = 0;; ++i) {
    const uint32_t want = kReadSizes[i % kReadSizes.size()];
    const uint32_t n = ring.Read(buf.data(), want);
    if (n == 0) break;
    const uint32_t bad = FirstMismatch(buf.data(), result.received, n);
    if (bad != n && result.bad_at == UINT64_MAX) result.bad_at = result.received + bad;
    result.received += n;
  }
  result.got_zero_before_end = result.received < expected_total;
  return result;
}

TEST(CircularBufferStream, BlockingWriteAndReadDeliverEveryByteInOrder) {
  constexpr uint64_t kTotal = 8u << 20;
  std::vector<uint8_t> storage(kOddCapacity);
  TCircularBuffer ring(storage.data(), kOddCapacity);

  std::thread producer([&] {
    std::vector<uint8_t> chunk(16384);
    uint64_t sent = 0;
    for (size_t i = 0; sent < kTotal; ++i) {
      uint32_t n = static_cast<uint32_t>(
          std::min<uint64_t>(kWriteSizes[i % kWriteSizes.size()], kTotal - sent));
      FillPattern(chunk.data(), sent, n);
      // Write copies only the contiguous part: offer the rest again.
      for (uint32_t done = 0; done < n;) {
        const uint32_t w = ring.Write(chunk.data() + done, n - done);
        if (w == 0) return;  // stopped
        done += w;
      }
      sent += n;
    }
    ring.SetEOF(true);
  });
  const ConsumerResult r = ConsumeAndVerify(ring, kTotal);
  producer.join();

  EXPECT_EQ(r.received, kTotal);
  EXPECT_EQ(r.bad_at, UINT64_MAX) << "first wrong byte at stream offset " << r.bad_at;
  EXPECT_FALSE(r.got_zero_before_end);
  // The end of stream rewinds the ring.
  EXPECT_EQ(ring.ReadPosition(), 0);
  EXPECT_EQ(ring.WritePosition(), 0);
}

// Both sides copy straight to and from the exposed storage and wait by
// yielding, so the 1 ms polls of Read and Write do not bound the volume.
TEST(CircularBufferStream, ZeroCopySidesDeliverEveryByteInOrder) {
  constexpr uint64_t kTotal = 64u << 20;
  std::vector<uint8_t> storage(kOddCapacity);
  TCircularBuffer ring(storage.data(), kOddCapacity);

  std::thread producer([&] {
    uint64_t sent = 0;
    for (size_t i = 0; sent < kTotal; ++i) {
      uint8_t* p = nullptr;
      uint32_t n = 0;
      ring.ExposeSingleBufferWrite(p, n);
      if (n == 0) {
        std::this_thread::yield();
        continue;
      }
      n = static_cast<uint32_t>(
          std::min<uint64_t>({n, kWriteSizes[i % kWriteSizes.size()], kTotal - sent}));
      FillPattern(p, sent, n);
      ring.AddBytesWritten(n);
      sent += n;
    }
    ring.SetEOF(true);
  });

  uint64_t received = 0, bad_at = UINT64_MAX;
  for (size_t i = 0; received < kTotal;) {
    uint8_t* p = nullptr;
    uint32_t n = 0;
    ring.ExposeSingleBufferRead(p, n);
    if (n == 0) {
      ring.AddBytesRead(0);
      if (ring.IsEOF() && ring.WouldReadBlock()) break;  // ended early
      std::this_thread::yield();
      continue;
    }
    n = std::min(n, kReadSizes[i++ % kReadSizes.size()]);
    const uint32_t bad = FirstMismatch(p, received, n);
    if (bad != n && bad_at == UINT64_MAX) bad_at = received + bad;
    ring.AddBytesRead(n);
    received += n;
  }
  producer.join();

  EXPECT_EQ(received, kTotal);
  EXPECT_EQ(bad_at, UINT64_MAX) << "first wrong byte at stream offset " << bad_at;
  EXPECT_TRUE(ring.WouldReadBlock());
}

// A seek thread discards the buffered bytes again and again while both sides
// stream fixed-size records. A discard may drop whole records, but a record
// the consumer gets must never be torn or overwritten while it copies, and the
// order must hold.
TEST(CircularBufferStream, DiscardsFromAThirdThreadNeverTearARecord) {
  constexpr uint32_t kRecord = 64;
  constexpr uint32_t kCapacity = kRecord * 67;  // records never straddle the wrap
  constexpr uint64_t kRecords = 200000;
  std::vector<uint8_t> storage(kCapacity);
  TCircularBuffer ring(storage.data(), kCapacity);
  std::atomic<bool> producing{true};

  std::thread producer([&] {
    for (uint64_t seq = 0; seq < kRecords;) {
      uint8_t* p = nullptr;
      uint32_t n = 0;
      ring.ExposeSingleBufferWrite(p, n);
      if (n < kRecord) {
        std::this_thread::yield();
        continue;
      }
      FillPattern(p, seq * kRecord, kRecord);
      std::memcpy(p, &seq, sizeof seq);
      ring.AddBytesWritten(kRecord);
      ++seq;
    }
    ring.SetEOF(true);
    producing = false;
  });
  std::thread seeker([&] {
    while (producing) {
      ring.Reset2();
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });

  uint64_t records = 0, torn = 0, out_of_order = 0;
  int64_t last_seq = -1;
  std::array<uint8_t, kRecord> rec;
  for (;;) {
    const uint32_t n = ring.Read(rec.data(), kRecord);
    if (n == 0) break;
    if (n != kRecord) {
      ++torn;
      continue;
    }
    uint64_t seq;
    std::memcpy(&seq, rec.data(), sizeof seq);
    if (FirstMismatch(rec.data() + 8, seq * kRecord + 8, kRecord - 8) != kRecord - 8) ++torn;
    if (static_cast<int64_t>(seq) <= last_seq) ++out_of_order;
    last_seq = static_cast<int64_t>(seq);
    ++records;
  }
  producer.join();
  seeker.join();

  EXPECT_EQ(torn, 0u);
  EXPECT_EQ(out_of_order, 0u);
  EXPECT_GT(records, 0u);
  EXPECT_LE(records, kRecords);
}

}  // namespace
}  // namespace lirvo
