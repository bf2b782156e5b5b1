#include "audio/core/Pool.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstring>

#include "audio/core/AuException.h"

namespace lirvo {

uint8_t* PoolAsioSpare = nullptr;
uint8_t* PoolAsioBlock = nullptr;
uint8_t* PoolOutputBlock = nullptr;
uint8_t* PoolWaveBlock = nullptr;
uint8_t* PoolWaveBlock2 = nullptr;
uint8_t* PoolConverterOut2 = nullptr;
uint8_t* PoolConverterFloat2 = nullptr;
uint8_t* PoolFreeBlock7 = nullptr;
uint8_t* PoolConverterOut = nullptr;
uint8_t* PoolConverterFloat = nullptr;
uint8_t* PoolCacheBlock = nullptr;
uint8_t* PoolRingStorage = nullptr;

std::atomic<int32_t> PollSleepMs{1};
std::recursive_mutex LoadLibCS;

namespace {

// Start-up and shut-down run on the main thread before and after every other
// thread; the mutex only makes a misuse harmless.
std::mutex gPoolMutex;
uint8_t* gPool = nullptr;
bool gLocked = false;

void SetPointers(uint8_t* base) {
  auto at = [base](size_t offset) { return base ? base + offset : nullptr; };
  PoolAsioSpare = at(0x000000);
  PoolAsioBlock = at(0x080000);
  PoolOutputBlock = at(0x100000);
  PoolWaveBlock = at(0x180000);
  PoolWaveBlock2 = at(0x200000);
  PoolConverterOut2 = at(0x280000);
  PoolConverterFloat2 = at(0x300000);
  PoolFreeBlock7 = at(0x380000);
  PoolConverterOut = at(0x400000);
  PoolConverterFloat = at(0x480000);
  PoolCacheBlock = at(0x500000);
  PoolRingStorage = at(0x5C0000);
}

}  // namespace

static_assert(0x5C0000 + kPoolRingStorageSize == kPoolSize, "pool layout must fill the region");

void FrameworkStartup() {
  std::lock_guard<std::mutex> lock(gPoolMutex);
  if (gPool) return;
  PollSleepMs = 1;
  void* p = ::mmap(nullptr, kPoolSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) {
    throw EAuException(std::string("Cannot allocate the audio buffer pool (") +
                       std::to_string(kPoolSize) + " bytes): " + std::strerror(errno));
  }
  gPool = static_cast<uint8_t*>(p);
  // Zero and touch every page so that all of it is resident before locking.
  std::memset(gPool, 0, kPoolSize);
  // A refused lock (RLIMIT_MEMLOCK) leaves the pool pageable; playback works.
  gLocked = ::mlock(gPool, kPoolSize) == 0;
  SetPointers(gPool);
}

void FrameworkShutdown() {
  std::lock_guard<std::mutex> lock(gPoolMutex);
  if (!gPool) return;
  if (gLocked) ::munlock(gPool, kPoolSize);
  ::munmap(gPool, kPoolSize);
  gPool = nullptr;
  gLocked = false;
  SetPointers(nullptr);
}

bool FrameworkStarted() {
  std::lock_guard<std::mutex> lock(gPoolMutex);
  return gPool != nullptr;
}

bool PoolLocked() {
  std::lock_guard<std::mutex> lock(gPoolMutex);
  return gLocked;
}

}  // namespace lirvo
