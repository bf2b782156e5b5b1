#pragma once
// The read-ahead cache: the last processor before the output. While it is
// initialised, a filler thread of its own pulls decoded audio from the source
// into a 6 MiB ring in the locked pool; the playback thread only copies from
// the ring, so decoding stalls are absorbed by up to 6 MiB of audio.
//
// Threads: Init, Flush and the data calls on the playback thread; _Jump on
// the UI thread; the filler on its own thread. FRingCS guards the existence
// of the ring and the filler (created by Init, destroyed by Flush, used by
// _Jump). Lock order: cache DataCS -> FRingCS -> source DataCS.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "audio/core/AudioClasses.h"
#include "audio/core/CircularBuffer.h"

namespace lirvo {

inline constexpr uint32_t kCacheRingSize = 0x600000;    // 6 MiB
inline constexpr uint32_t kCacheChunk = 0xC0000;        // 768 KiB
inline constexpr uint32_t kCacheRefillFree = 0x540000;  // refill when this much is free
inline constexpr uint32_t kCacheMinRefill = 0x60000;    // 384 KiB
inline constexpr auto kCacheFillerSleep = std::chrono::milliseconds(10);

class TAudioCacheThread {
 public:
  // Parent: the source it reads. Buf: the ring it fills (owned by the cache).
  TAudioCacheThread(TAuInput* Parent, TCircularBuffer* Buf);
  ~TAudioCacheThread();  // terminates and joins

  void Start();
  // Tells the body to end after the round in progress and waits until it has
  // (Stopped set), then joins.
  void TerminateAndWait();
  bool Stopped() const { return FStopped.load(); }
  // The exception that ended the body early, or null. Valid once Stopped.
  std::exception_ptr Error() const { return FError; }
  int Tid() const { return FTid.load(); }
  // Filling rounds so far (for measuring the filler's wake-ups).
  uint64_t Rounds() const { return FRounds.load(); }

 private:
  void Execute();
  void Fill();

  TAuInput* Parent;
  TCircularBuffer* Buf;
  uint32_t FFrameSize = 1;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FStopped{false};
  std::atomic<int> FTid{0};
  std::atomic<uint64_t> FRounds{0};
  std::exception_ptr FError;  // written before FStopped is set
  std::mutex FSleepCS;        // for the interruptible 10 ms sleeps
  std::condition_variable FSleepCond;
  std::thread FThread;
};

class TAudioCache : public TAuConverter {
 public:
  explicit TAudioCache(TComponent* AOwner);
  ~TAudioCache() override;

  // The source is not told: the filler keeps the ring full while paused.
  void _Pause() override {}
  void _Resume() override {}
  // Relative seek of the source in thousandths; drops the buffered audio.
  // Ignored once the whole source has been read.
  void _Jump(int32_t Offs) override;

  // The running filler's rounds so far (0 when idle).
  uint64_t FillerRounds();

 protected:
  void InitInternal() override;
  void FlushInternal() override;
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override;

 private:
  void StopFiller();

  uint8_t* pInBuf;  // PoolCacheBlock, the delivery buffer
  uint32_t FFrameSize = 1;
  std::mutex FRingCS;
  std::unique_ptr<TCircularBuffer> FBuf;
  std::unique_ptr<TAudioCacheThread> CacheThread;
};

}  // namespace lirvo
