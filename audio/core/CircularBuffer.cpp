#include "audio/core/CircularBuffer.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "audio/core/AuException.h"
#include "audio/core/Pool.h"

namespace lirvo {

namespace {

// The gate's back-off for a Reset2 holder that was preempted (rare).

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) &&
                  std::atomic<uint32_t>::is_always_lock_free,
              "a futex word is a plain 32-bit word");

uint32_t* FutexWord(std::atomic<uint32_t>& Word) {
  return reinterpret_cast<uint32_t*>(&Word);
}

// Sleeps while Word holds Expected, at most Max. Returns at once when the
// value has already changed.
void FutexWait(std::atomic<uint32_t>& Word, uint32_t Expected, std::chrono::nanoseconds Max) {
  if (Max.count() <= 0) return;
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(Max.count() / 1000000000);
  ts.tv_nsec = static_cast<long>(Max.count() % 1000000000);
  syscall(SYS_futex, FutexWord(Word), FUTEX_WAIT_PRIVATE, Expected, &ts, nullptr, 0);
}

void FutexWakeAll(std::atomic<uint32_t>& Word) noexcept {
  syscall(SYS_futex, FutexWord(Word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

using WaitClock = std::chrono::steady_clock;

static_assert(TCircularBuffer::kMaxPoolCapacity == kPoolRingStorageSize,
              "the ring's capacity limit is the size of its pool storage");

uint8_t* PoolStorage(uint32_t BufSize) {
  if (BufSize == 0) throw EAuException("Ring buffer capacity must not be 0");
  if (BufSize > TCircularBuffer::kMaxPoolCapacity) {
    throw EAuException("Ring buffer capacity of " + std::to_string(BufSize) +
                       " bytes exceeds the ring storage of " +
                       std::to_string(kPoolRingStorageSize) + " bytes");
  }
  if (!PoolRingStorage) throw EAuException("The audio buffer pool is not started");
  return PoolRingStorage;
}

}  // namespace

TCircularBuffer::TCircularBuffer(uint32_t BufSize, int32_t /*Mode*/)
    : FBuffer(PoolStorage(BufSize)), FP(FBuffer), FBufSize(BufSize), FMaxSize(kMaxPoolCapacity) {}

TCircularBuffer::TCircularBuffer(uint8_t* Storage, uint32_t BufSize)
    : FBuffer(Storage), FP(Storage), FBufSize(BufSize), FMaxSize(BufSize) {
  if (!Storage) throw EAuException("Ring buffer storage is not assigned");
  if (BufSize == 0) throw EAuException("Ring buffer capacity must not be 0");
}

uint32_t TCircularBuffer::Used(int64_t r, int64_t w) const {
  const int64_t d = w - r;
  if (d <= 0) return 0;
  if (d >= FBufSize) return FBufSize;
  return static_cast<uint32_t>(d);
}

// ---------------------------------------------------------------------------
// Producer side. WritePos is the producer's own: a relaxed load sees its last
// store. ReadPos is loaded with acquire so that the consumer's copies out of
// the region it freed happen before the producer overwrites it.

void TCircularBuffer::ExposeSingleBufferWrite(uint8_t*& Buffer, uint32_t& Bytes) {
  const int64_t w = WritePos.load(std::memory_order_relaxed);
  const int64_t r = ReadPos.load(std::memory_order_acquire);
  const uint32_t offset = static_cast<uint32_t>(w % FBufSize);
  Buffer = FBuffer + offset;
  Bytes = std::min(FBufSize - Used(r, w), FBufSize - offset);
}

void TCircularBuffer::AddBytesWritten(uint32_t Bytes) {
  const int64_t w = WritePos.load(std::memory_order_relaxed);
  const int64_t r = ReadPos.load(std::memory_order_acquire);
  Bytes = std::min(Bytes, FBufSize - Used(r, w));
  // Release: the bytes written into the storage become visible with the count.
  WritePos.store(w + Bytes, std::memory_order_release);
  NotifyData();
}

void TCircularBuffer::SetEOF(bool Value) noexcept {
  FEOF.store(Value, std::memory_order_release);
  if (Value) NotifyData();
}

void TCircularBuffer::NotifyData() noexcept {
  // seq_cst: the bump is ordered against the waiter's registration, so
  // either the waiter sees the new value or this side sees the waiter.
  FDataSeq.fetch_add(1, std::memory_order_seq_cst);
  if (FDataWaiters.load(std::memory_order_seq_cst) > 0) FutexWakeAll(FDataSeq);
}

void TCircularBuffer::NotifySpace() noexcept {
  FSpaceSeq.fetch_add(1, std::memory_order_seq_cst);
  uint32_t wanted = FSpaceWanted.load(std::memory_order_seq_cst);
  if (wanted == kNoSpaceWanted || FreeSpace() < wanted) return;
  // Once per wait: whoever takes the request away wakes the producer.
  if (FSpaceWanted.compare_exchange_strong(wanted, kNoSpaceWanted, std::memory_order_seq_cst)) {
    FutexWakeAll(FSpaceSeq);
  }
}

void TCircularBuffer::WakeProducer() noexcept {
  FSpaceSeq.fetch_add(1, std::memory_order_seq_cst);
  FSpaceWanted.store(kNoSpaceWanted, std::memory_order_seq_cst);
  FutexWakeAll(FSpaceSeq);
}

void TCircularBuffer::Break() noexcept {
  FBreak.store(true, std::memory_order_seq_cst);
  NotifyData();
  WakeProducer();
}

bool TCircularBuffer::WaitForSpace(uint32_t MinFree, std::chrono::nanoseconds Max) {
  const auto deadline = WaitClock::now() + Max;
  for (;;) {
    const uint32_t seq = FSpaceSeq.load(std::memory_order_seq_cst);
    FSpaceWanted.store(MinFree, std::memory_order_seq_cst);
    if (FreeSpace() >= MinFree) break;
    if (FBreak.load(std::memory_order_seq_cst)) break;
    const auto left = deadline - WaitClock::now();
    if (left <= std::chrono::nanoseconds::zero()) break;
    FutexWait(FSpaceSeq, seq, std::min<std::chrono::nanoseconds>(left, kWaitGuard));
    FWriteSleeps.fetch_add(1, std::memory_order_relaxed);
    // A bump without the request taken away is a WakeProducer (or a read
    // that did not free enough, which does not wake): end the wait.
    if (FSpaceSeq.load(std::memory_order_seq_cst) != seq &&
        FSpaceWanted.load(std::memory_order_seq_cst) == kNoSpaceWanted) {
      break;
    }
  }
  FSpaceWanted.store(kNoSpaceWanted, std::memory_order_seq_cst);
  return FreeSpace() >= MinFree;
}

bool TCircularBuffer::WaitForData(std::chrono::nanoseconds Max) {
  const auto deadline = WaitClock::now() + Max;
  FDataWaiters.fetch_add(1, std::memory_order_seq_cst);
  for (;;) {
    const uint32_t seq = FDataSeq.load(std::memory_order_seq_cst);
    if (!WouldReadBlock()) break;
    if (FBreak.load(std::memory_order_seq_cst) || FEOF.load(std::memory_order_seq_cst)) break;
    const auto left = deadline - WaitClock::now();
    if (left <= std::chrono::nanoseconds::zero()) break;
    FutexWait(FDataSeq, seq, std::min<std::chrono::nanoseconds>(left, kWaitGuard));
    FReadSleeps.fetch_add(1, std::memory_order_relaxed);
  }
  FDataWaiters.fetch_sub(1, std::memory_order_seq_cst);
  return !WouldReadBlock();
}

uint32_t TCircularBuffer::Write(const void* Buf, uint32_t BufSize) {
  if (FEOF.load(std::memory_order_acquire)) return 0;
  if (BufSize == 0) return 0;
  while (WouldWriteBlock()) {
    if (FBreak.load(std::memory_order_acquire)) return 0;
    WaitForSpace(1, kWaitGuard);
    if (FBreak.load(std::memory_order_acquire)) return 0;
  }
  uint8_t* dest;
  uint32_t n;
  ExposeSingleBufferWrite(dest, n);
  n = std::min(n, BufSize);
  std::memcpy(dest, Buf, n);
  WritePos.store(WritePos.load(std::memory_order_relaxed) + n, std::memory_order_release);
  NotifyData();
  return n;
}

// ---------------------------------------------------------------------------
// Consumer side. Read transfers hold the gate, so ReadPos changes only under
// the gate while one is in progress; WritePos is loaded with acquire so that
// the producer's bytes are visible before they are copied.

bool TCircularBuffer::TryTakeGate() {
  // seq_cst pairs with Reset2 (store request, then try the gate) against
  // ReleaseGate (open the gate, then look for a request): at least one of the
  // two sees the other, so no discard request is left lying.
  return !FReadGate.exchange(true, std::memory_order_seq_cst);
}

void TCircularBuffer::TakeGate() {
  // Only Reset2 competes, and it holds the gate for a few instructions; a
  // holder that was preempted meanwhile is waited for on the gate word,
  // which ReleaseGate wakes.
  for (int attempt = 0; !TryTakeGate(); ++attempt) {
    if (attempt < 64) {
      std::this_thread::yield();
    } else {
      FReadGate.wait(true, std::memory_order_seq_cst);
    }
  }
}

void TCircularBuffer::ReleaseGate() {
  for (;;) {
    FReadGate.store(false, std::memory_order_seq_cst);
    FReadGate.notify_one();
    if (FDiscardTo.load(std::memory_order_seq_cst) < 0) return;
    // A discard came while the gate was held. Apply it now, unless someone
    // else took the gate in between: then that holder applies it.
    if (!TryTakeGate()) return;
    ApplyDiscard();
  }
}

void TCircularBuffer::ApplyDiscard() {
  int64_t target = FDiscardTo.exchange(-1, std::memory_order_acq_rel);
  if (target < 0) return;
  // Never past the data actually written (the end-of-stream rewind may have
  // moved WritePos back to 0 since the request).
  target = std::min(target, WritePos.load(std::memory_order_acquire));
  if (target > ReadPos.load(std::memory_order_relaxed)) {
    ReadPos.store(target, std::memory_order_release);
    NotifySpace();
  }
}

void TCircularBuffer::ExposeSingleBufferRead(uint8_t*& Buffer, uint32_t& Bytes) {
  if (!FReadExposed) {
    TakeGate();
    FReadExposed = true;
    ApplyDiscard();
  }
  const int64_t r = ReadPos.load(std::memory_order_relaxed);
  const int64_t w = WritePos.load(std::memory_order_acquire);
  const uint32_t offset = static_cast<uint32_t>(r % FBufSize);
  Buffer = FBuffer + offset;
  Bytes = std::min(Used(r, w), FBufSize - offset);
}

void TCircularBuffer::AddBytesRead(uint32_t Bytes) {
  if (!FReadExposed) {
    TakeGate();
    ApplyDiscard();
  }
  const int64_t r = ReadPos.load(std::memory_order_relaxed);
  const int64_t w = WritePos.load(std::memory_order_acquire);
  Bytes = std::min(Bytes, Used(r, w));
  // Release: the copies out of the storage happen before the producer reuses it.
  ReadPos.store(r + Bytes, std::memory_order_release);
  FReadExposed = false;
  ReleaseGate();
  if (Bytes > 0) NotifySpace();
}

uint32_t TCircularBuffer::Read(void* Buf, uint32_t BufSize) {
  if (FReadExposed) AddBytesRead(0);
  if (BufSize == 0) return 0;
  for (;;) {
    if (WouldReadBlock()) {
      for (;;) {
        if (FEOF.load(std::memory_order_acquire)) {
          // The end mark is set after the producer's last bytes: look again,
          // so bytes published just before it are not lost.
          if (!WouldReadBlock()) break;
          TakeGate();
          const bool empty = Used(ReadPos.load(std::memory_order_relaxed),
                                  WritePos.load(std::memory_order_acquire)) == 0;
          if (empty) {
            // End of stream: rewind (the producer has finished writing).
            WritePos.store(0, std::memory_order_release);
            ReadPos.store(0, std::memory_order_release);
          }
          ReleaseGate();
          if (empty) return 0;
          break;
        }
        if (FBreak.load(std::memory_order_acquire)) return 0;
        WaitForData(kWaitGuard);
        if (FBreak.load(std::memory_order_acquire)) return 0;
        if (!WouldReadBlock()) break;
      }
    }
    TakeGate();
    ApplyDiscard();
    const int64_t r = ReadPos.load(std::memory_order_relaxed);
    const int64_t w = WritePos.load(std::memory_order_acquire);
    const uint32_t offset = static_cast<uint32_t>(r % FBufSize);
    const uint32_t n = std::min({Used(r, w), FBufSize - offset, BufSize});
    if (n == 0) {
      // A discard emptied the ring since the wait: wait again.
      ReleaseGate();
      continue;
    }
    std::memcpy(Buf, FBuffer + offset, n);
    ReadPos.store(r + n, std::memory_order_release);
    ReleaseGate();
    NotifySpace();
    return n;
  }
}

// ---------------------------------------------------------------------------
// Snapshots. ReadPos is loaded before WritePos: both only grow during a
// stream, so the difference is never negative; Stop and the end-of-stream
// rewind store WritePos before ReadPos for the same reason.

bool TCircularBuffer::WouldWriteBlock() const {
  const int64_t r = ReadPos.load(std::memory_order_acquire);
  const int64_t w = WritePos.load(std::memory_order_acquire);
  return Used(r, w) == FBufSize;
}

bool TCircularBuffer::WouldReadBlock() const {
  const int64_t r = ReadPos.load(std::memory_order_acquire);
  const int64_t w = WritePos.load(std::memory_order_acquire);
  return Used(r, w) == 0;
}

uint32_t TCircularBuffer::FreeSpace() const {
  const int64_t r = ReadPos.load(std::memory_order_acquire);
  const int64_t w = WritePos.load(std::memory_order_acquire);
  return FBufSize - Used(r, w);
}

// ---------------------------------------------------------------------------
// Owner and third thread.

void TCircularBuffer::Reset() {
  std::lock_guard<std::mutex> lock(CS);
  WritePos.store(0, std::memory_order_release);
  ReadPos.store(0, std::memory_order_release);
  FDiscardTo.store(-1, std::memory_order_release);
  FBreak.store(false, std::memory_order_release);
  FEOF.store(false, std::memory_order_release);
}

void TCircularBuffer::Stop() {
  std::lock_guard<std::mutex> lock(CS);
  // Flags first: a side that sees the rewound positions also sees why.
  FBreak.store(true, std::memory_order_release);
  FEOF.store(true, std::memory_order_release);
  WritePos.store(0, std::memory_order_release);
  ReadPos.store(0, std::memory_order_release);
  FDiscardTo.store(-1, std::memory_order_release);
  NotifyData();
  WakeProducer();
}

void TCircularBuffer::Resize(uint32_t BufSize) {
  if (BufSize == 0 || BufSize > FMaxSize) {
    throw EAuException("Ring buffer capacity of " + std::to_string(BufSize) +
                       " bytes is outside its storage of " + std::to_string(FMaxSize) + " bytes");
  }
  std::lock_guard<std::mutex> lock(CS);
  FBufSize = BufSize;
  WritePos.store(0, std::memory_order_release);
  ReadPos.store(0, std::memory_order_release);
  FDiscardTo.store(-1, std::memory_order_release);
}

void TCircularBuffer::Reset2() {
  // Acquire: the discard target is a WritePos value, so ReadPos never passes
  // WritePos; and ReadPos only moves forward, so the producer's view of the
  // free space stays conservative whatever it loaded before.
  FDiscardTo.store(WritePos.load(std::memory_order_acquire), std::memory_order_seq_cst);
  if (TryTakeGate()) {
    ApplyDiscard();
    ReleaseGate();
  }
  // Otherwise the consumer is inside a read transfer and applies the
  // discard when it releases the gate.
}

}  // namespace lirvo
