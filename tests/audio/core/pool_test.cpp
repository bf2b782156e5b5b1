// The locked buffer pool: its layout, its contents at start-up and the
// start-up / shut-down life cycle.

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "audio/core/AuException.h"
#include "audio/core/CircularBuffer.h"
#include "audio/core/Pool.h"

namespace lirvo {
namespace {

struct PoolEntry {
  const char* name;
  uint8_t* const* pointer;
  size_t offset;
  size_t size;
};

// The layout, in address order. Components rely on every offset and size.
const std::vector<PoolEntry>& Layout() {
  static const std::vector<PoolEntry> layout = {
      {"PoolAsioSpare", &PoolAsioSpare, 0x000000, 0x80000},
      {"PoolAsioBlock", &PoolAsioBlock, 0x080000, 0x80000},
      {"PoolOutputBlock", &PoolOutputBlock, 0x100000, 0x80000},
      {"PoolWaveBlock", &PoolWaveBlock, 0x180000, 0x80000},
      {"PoolWaveBlock2", &PoolWaveBlock2, 0x200000, 0x80000},
      {"PoolConverterOut2", &PoolConverterOut2, 0x280000, 0x80000},
      {"PoolConverterFloat2", &PoolConverterFloat2, 0x300000, 0x80000},
      {"PoolFreeBlock7", &PoolFreeBlock7, 0x380000, 0x80000},
      {"PoolConverterOut", &PoolConverterOut, 0x400000, 0x80000},
      {"PoolConverterFloat", &PoolConverterFloat, 0x480000, 0x80000},
      {"PoolCacheBlock", &PoolCacheBlock, 0x500000, 0xC0000},
      {"PoolRingStorage", &PoolRingStorage, 0x5C0000, 0x900000},
  };
  return layout;
}

TEST(Pool, EveryBufferSitsAtItsOffsetAndTheyTileTheRegion) {
  ASSERT_TRUE(FrameworkStarted());
  uint8_t* base = PoolAsioSpare;
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(base) % sysconf(_SC_PAGESIZE), 0u);
  size_t expected_next = 0;
  for (const PoolEntry& e : Layout()) {
    SCOPED_TRACE(e.name);
    EXPECT_EQ(*e.pointer, base + e.offset);
    EXPECT_EQ(e.offset, expected_next) << "gap or overlap before this buffer";
    expected_next = e.offset + e.size;
  }
  EXPECT_EQ(expected_next, kPoolSize);
  EXPECT_EQ(kPoolSize, 0xEC0000u);
  EXPECT_EQ(kPoolCacheBlockSize, 0xC0000u);
  EXPECT_EQ(kPoolRingStorageSize, 0x900000u);
}

TEST(Pool, WholeRegionIsMapped) {
  // mincore fails with ENOMEM for any page of the range that is not mapped.
  const long page = sysconf(_SC_PAGESIZE);
  std::vector<unsigned char> residency((kPoolSize + page - 1) / page);
  EXPECT_EQ(mincore(PoolAsioSpare, kPoolSize, residency.data()), 0);
  if (PoolLocked()) {
    EXPECT_TRUE(std::all_of(residency.begin(), residency.end(), [](unsigned char c) {
      return (c & 1) != 0;
    })) << "a locked pool must be resident";
  }
}

TEST(Pool, RestartGivesAZeroedPoolAndResetsThePollInterval) {
  std::fill_n(PoolAsioSpare, kPoolSize, uint8_t{0xA5});
  PollSleepMs = 0;
  FrameworkShutdown();
  FrameworkStartup();
  ASSERT_NE(PoolAsioSpare, nullptr);
  EXPECT_TRUE(
      std::all_of(PoolAsioSpare, PoolAsioSpare + kPoolSize, [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(PollSleepMs.load(), 1);
}

TEST(Pool, StartupAndShutdownAreIdempotent) {
  FrameworkStartup();
  uint8_t* const base = PoolAsioSpare;
  PoolRingStorage[0] = 42;
  FrameworkStartup();  // a second start-up must not remap or re-zero
  EXPECT_EQ(PoolAsioSpare, base);
  EXPECT_EQ(PoolRingStorage[0], 42);

  FrameworkShutdown();
  FrameworkShutdown();
  EXPECT_FALSE(FrameworkStarted());
  for (const PoolEntry& e : Layout()) {
    EXPECT_EQ(*e.pointer, nullptr) << e.name << " still points into the released pool";
  }
  // Without a pool there is no ring storage to lend.
  EXPECT_THROW(TCircularBuffer(16), EAuException);

  FrameworkStartup();
  EXPECT_TRUE(FrameworkStarted());
  EXPECT_EQ(PoolRingStorage, PoolAsioSpare + 0x5C0000);
}

}  // namespace
}  // namespace lirvo
