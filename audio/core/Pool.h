#pragma once
// The locked buffer pool and the framework's start-up and shut-down.
//
// One anonymous mapping of 0xEC0000 bytes, zero-filled, touched and locked in
// memory (a refused lock is ignored: the pool then stays pageable), carved into
// fixed buffers that components borrow for the life of the process. Nothing
// on the audio path allocates; every buffer of the chain is one of these.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace lirvo {

inline constexpr size_t kPoolSize = 0xEC0000;
inline constexpr size_t kPoolBlockSize = 0x80000;         // every 512 KiB block
inline constexpr size_t kPoolCacheBlockSize = 0xC0000;    // PoolCacheBlock, 768 KiB
inline constexpr size_t kPoolRingStorageSize = 0x900000;  // PoolRingStorage, 9 MiB

// Set by FrameworkStartup, cleared by FrameworkShutdown.
extern uint8_t* PoolAsioSpare;    // 0x000000, not used
extern uint8_t* PoolAsioBlock;    // 0x080000, ASIO output staging block
extern uint8_t* PoolOutputBlock;  // 0x100000, DirectSound output transfer buffer
extern uint8_t* PoolWaveBlock;    // 0x180000, WAV decoder buffer
// The second track's chain (the next track is decoded while one plays):
extern uint8_t* PoolWaveBlock2;       // 0x200000, its WAV decoder buffer
extern uint8_t* PoolConverterOut2;    // 0x280000, its converter output
extern uint8_t* PoolConverterFloat2;  // 0x300000, its converter float stage
extern uint8_t* PoolFreeBlock7;       // 0x380000, not assigned
extern uint8_t* PoolConverterOut;     // 0x400000, converter output
extern uint8_t* PoolConverterFloat;   // 0x480000, converter float stage
extern uint8_t* PoolCacheBlock;       // 0x500000, cache delivery buffer (768 KiB)
extern uint8_t* PoolRingStorage;      // 0x5C0000, ring storage (9 MiB)

// Interval in ms the ASIO output sleeps between polls (1 at start-up; the
// optimiser sets 0 or 1). Written by the UI thread, read by the playback thread.
extern std::atomic<int32_t> PollSleepMs;

// Serialises loading and binding of the codec libraries.
extern std::recursive_mutex LoadLibCS;

// Maps, zeroes and locks the pool and sets the pointers. Throws EAuException
// with a clear message when the pool cannot be mapped. Idempotent.
void FrameworkStartup();
// Unlocks and unmaps the pool and clears the pointers. Idempotent.
void FrameworkShutdown();

bool FrameworkStarted();
// Whether mlock accepted the pool (false: it stays pageable).
bool PoolLocked();

}  // namespace lirvo
