#pragma once
// TCircularBuffer: the byte ring between one producer thread and one consumer
// thread (the read-ahead cache's filler and the output's playback thread).
//
// Positions are running byte counts: WritePos is the total ever written,
// ReadPos the total ever read. The byte at logical position p lives at
// storage offset p mod FBufSize. Invariant: 0 <= WritePos - ReadPos <= FBufSize
// (empty when equal, full when they differ by FBufSize).
//
// Synchronisation:
// - Each side publishes its own position with a release store after it has
//   finished with the storage, and loads the other side's position with an
//   acquire load before it touches the storage. That is the whole protocol
//   between producer and consumer: no lock, and every byte a reader copies
//   was written before the position that made it visible.
// - Blocking Read and Write sleep on a futex word of the other side: every
//   publication of WritePos (and SetEOF) bumps FDataSeq, every move of
//   ReadPos bumps FSpaceSeq, and the side that bumped wakes the waiter only
//   when one is registered, so the notifying side stays lock-free and makes
//   no system call while nobody waits. A waiter takes the sequence value
//   before it looks at the positions, so a publication between its look and
//   its sleep makes the sleep return at once. The sleeps carry a long guard
//   time-out (kWaitGuard) only; nothing depends on it. Break (and Stop) ends
//   every wait at once; Reset clears it.
// - The producer may wait for a given amount of free space (WaitForSpace):
//   the consumer wakes it once, when its read makes the free space reach
//   that amount, not on every read.
// - Reset2 (discard the buffered bytes) may come from a third thread while
//   both sides run. It only ever moves ReadPos forward to a WritePos value,
//   so the producer's view of the free space stays conservative; and a
//   consumer copy in progress keeps its bytes from being overwritten, because
//   the consumer's read transfers and the discard exclude each other through
//   a small gate (see Reset2). WritePos is never touched by Reset2, so a block
//   the producer is writing at that moment is published after the discard and
//   is kept.
// - Reset and Stop rewrite both positions and must not overlap a transfer or
//   a Reset2 (the owner calls them before the producer starts, or to end
//   both sides: Stop is safe against sides that are only waiting in Read or
//   Write).
//
// The ring never allocates; its storage is PoolRingStorage of the locked pool,
// or storage lent by the caller (tests, benchmarks).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

namespace lirvo {

class TCircularBuffer {
 public:
  // Largest capacity over the pool: the size of PoolRingStorage.
  static constexpr uint32_t kMaxPoolCapacity = 0x900000;
  // The longest single sleep of a blocking call: a guard against a lost
  // wake-up only, never the way a waiter learns of data or space.
  static constexpr std::chrono::milliseconds kWaitGuard{200};

  // A ring of BufSize bytes over PoolRingStorage; Mode is accepted and has no
  // effect. Throws EAuException when BufSize is 0 or larger than the ring
  // storage, or when the pool is not started. Positions start at 0, FBreak and
  // FEOF clear.
  explicit TCircularBuffer(uint32_t BufSize, int32_t Mode = 0);
  // A ring over Storage (BufSize bytes, lent by the caller for the ring's
  // lifetime). Throws EAuException for a null Storage or a BufSize of 0.
  TCircularBuffer(uint8_t* Storage, uint32_t BufSize);
  // Forgets the storage; never frees it.
  ~TCircularBuffer() = default;

  TCircularBuffer(const TCircularBuffer&) = delete;
  TCircularBuffer& operator=(const TCircularBuffer&) = delete;

  // Any thread. Take / release CS, the lock Reset and Stop hold.
  void Lock() { CS.lock(); }
  void Unlock() { CS.unlock(); }

  // --- Producer side (one thread at a time) ---

  // The largest contiguous free region at the write position: Buffer :=
  // storage + WritePos mod FBufSize, Bytes := min(free space, bytes to the end
  // of the storage); 0 when full. The producer writes into it without a copy
  // and then calls AddBytesWritten. Never blocks.
  void ExposeSingleBufferWrite(uint8_t*& Buffer, uint32_t& Bytes);
  // Publishes Bytes written into the last exposed region (WritePos +=
  // Bytes). A count larger than the free space is cut to it, so a caller's
  // mistake cannot break the ring's invariant.
  void AddBytesWritten(uint32_t Bytes);
  // Copies up to BufSize bytes from Buf, only into the contiguous free region
  // (never wraps), and returns the count. Returns 0 at once when FEOF is set.
  // While the ring is full it sleeps until the consumer frees space, and
  // returns 0 once FBreak is set (Break, Stop).
  uint32_t Write(const void* Buf, uint32_t BufSize);
  // Sleeps until at least MinFree bytes are free (true), or until Max has
  // passed, Break or WakeProducer was called (false unless the space is
  // there). The consumer wakes it once, when a read makes the space reach
  // MinFree. A MinFree above the capacity waits for a wake-up only.
  bool WaitForSpace(uint32_t MinFree, std::chrono::nanoseconds Max);
  // Ends a WaitForSpace in progress at once, without breaking the ring (the
  // owner tells its producer to end). Lock-free; any thread.
  void WakeProducer() noexcept;
  // Marks the producer's end (true) after its last AddBytesWritten / Write:
  // further Writes are refused and a consumer that finds the ring empty gets
  // 0 instead of waiting (a waiting one is woken). The owner clears it
  // (false) before a new stream.
  void SetEOF(bool Value) noexcept;

  // --- Consumer side (one thread at a time) ---

  // The largest contiguous filled region at the read position: Buffer :=
  // storage + ReadPos mod FBufSize, Bytes := min(buffered bytes, bytes to the
  // end of the storage); 0 when empty. Opens a read transfer that
  // AddBytesRead closes (call AddBytesRead(0) when nothing was consumed); a
  // Reset2 meanwhile takes effect when the transfer closes. Never blocks
  // (except for the few instructions of a concurrent Reset2).
  void ExposeSingleBufferRead(uint8_t*& Buffer, uint32_t& Bytes);
  // ReadPos += Bytes, cut to the buffered bytes; closes the read transfer
  // opened by ExposeSingleBufferRead.
  void AddBytesRead(uint32_t Bytes);
  // Copies up to BufSize bytes into Buf, only from the contiguous filled region
  // (a request spanning the end of the storage returns the part up to the
  // end), and returns the count. On an empty ring it sleeps until bytes
  // arrive; returns 0 when FBreak is set (Break, Stop), or when FEOF is set
  // and nothing is left, rewinding both positions to 0 (end of stream).
  // Returns 0 at once for a BufSize of 0.
  uint32_t Read(void* Buf, uint32_t BufSize);
  // Sleeps until the ring holds data, FEOF or FBreak is set, or Max has
  // passed; true when data is there. Consumes nothing. Any thread (more than
  // one may wait).
  bool WaitForData(std::chrono::nanoseconds Max);

  // --- Any thread (snapshots; exact for the side that owns the answer) ---

  // True when full (a Write would wait).
  bool WouldWriteBlock() const;
  // True when empty (a Read would wait).
  bool WouldReadBlock() const;
  // ReadPos + FBufSize - WritePos.
  uint32_t FreeSpace() const;
  bool IsEOF() const { return FEOF.load(std::memory_order_acquire); }
  bool IsBreak() const { return FBreak.load(std::memory_order_acquire); }

  // --- Owner (not while a transfer or Reset2 is in progress) ---

  // Under CS: both positions 0, FBreak and FEOF clear; a pending discard is
  // dropped.
  void Reset();
  // Under CS: FBreak and FEOF set, then both positions 0. A side waiting in
  // Read or Write returns 0 at once; later calls return 0 at once.
  void Stop();
  // Under CS, positions kept: the capacity becomes BufSize (1 .. the storage
  // given at construction), both positions 0. Throws EAuException outside
  // that range.
  void Resize(uint32_t BufSize);

  // --- Any thread, lock-free ---

  // Sets FBreak and wakes every waiting side: Read and Write return 0,
  // WaitForData and WaitForSpace return, now and until Reset.
  void Break() noexcept;

  // Sleeps taken by waiting sides so far (each sleep that ended counts once),
  // for measuring wake-ups.
  uint64_t ReadSleeps() const { return FReadSleeps.load(std::memory_order_relaxed); }
  uint64_t WriteSleeps() const { return FWriteSleeps.load(std::memory_order_relaxed); }

  // --- Third thread allowed (a seek), concurrently with both sides ---

  // Discards the buffered bytes: ReadPos := WritePos (as loaded now). Bytes the
  // producer publishes afterwards, including a block it was writing during the
  // call, are kept. Applied at once when the consumer is not inside a read
  // transfer, otherwise by the consumer as its transfer ends, so a copy in
  // progress is never overwritten. Never blocks.
  void Reset2();

  uint32_t Capacity() const { return FBufSize; }
  uint8_t* Storage() const { return FBuffer; }
  int64_t ReadPosition() const { return ReadPos.load(std::memory_order_acquire); }
  int64_t WritePosition() const { return WritePos.load(std::memory_order_acquire); }

 private:
  // Bytes buffered between r and w, kept within [0, FBufSize]. Outside that
  // range only while Stop or the end-of-stream rewind races a side's snapshot;
  // clamping keeps every exposure inside the storage then.
  uint32_t Used(int64_t r, int64_t w) const;

  void TakeGate();
  bool TryTakeGate();
  void ReleaseGate();
  void ApplyDiscard();
  // After WritePos or FEOF changed: wakes readers that sleep.
  void NotifyData() noexcept;
  // After ReadPos moved: wakes the producer when the free space reached what
  // it waits for (once per wait).
  void NotifySpace() noexcept;

  uint8_t* FBuffer;   // first byte of the storage (= FP)
  uint8_t* FP;        // the storage: PoolRingStorage, or the caller's
  uint32_t FBufSize;  // capacity in bytes, never 0
  uint32_t FMaxSize;  // the storage's size: the limit of Resize
  // Written by the consumer (and by Reset2 through the gate); read by both.
  alignas(64) std::atomic<int64_t> ReadPos{0};
  // Written by the producer; read by both.
  alignas(64) std::atomic<int64_t> WritePos{0};
  alignas(64) std::mutex CS;        // held by Reset and Stop (and Lock)
  std::atomic<bool> FBreak{false};  // blocking Read and Write give up
  std::atomic<bool> FEOF{false};    // the producer has delivered its last byte

  // Discard requested by Reset2: the WritePos to move ReadPos to, -1 when none.
  std::atomic<int64_t> FDiscardTo{-1};
  // Held by the consumer for the length of a read transfer and by whoever
  // applies a discard: only its holder moves ReadPos.
  std::atomic<bool> FReadGate{false};
  // An ExposeSingleBufferRead awaits its AddBytesRead. Consumer thread only.
  bool FReadExposed = false;

  // Futex words (see the header comment) and the waiters they wake.
  alignas(64) std::atomic<uint32_t> FDataSeq{0};
  std::atomic<uint32_t> FDataWaiters{0};
  alignas(64) std::atomic<uint32_t> FSpaceSeq{0};
  // The free space the sleeping producer waits for; kNoSpaceWanted when none.
  std::atomic<uint32_t> FSpaceWanted{kNoSpaceWanted};
  static constexpr uint32_t kNoSpaceWanted = 0xFFFFFFFFu;
  std::atomic<uint64_t> FReadSleeps{0};
  std::atomic<uint64_t> FWriteSleeps{0};
};

}  // namespace lirvo
