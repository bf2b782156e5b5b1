#pragma once
// The read-ahead cache: the last processor before the output. While it is
// initialised (Busy), a filler thread of its own pulls decoded audio from the
// source into a 6 MiB ring in the locked pool; the playback thread only
// copies from the ring, so decoding stalls are absorbed by up to 6 MiB of
// audio.
//
// Threads: Init, Flush and the data calls on the playback thread; _Jump,
// SetInput and BreakWait on the UI thread; the filler on its own thread.
// FRingCS guards CacheThread and FRetired (started by Init, handed over by
// Flush, joined by Init, SetInput and the destructor). Lock order: cache
// DataCS -> FRingCS -> source DataCS.
//
// Who owns the source: while a filler runs, only the filler reads it. Flush
// (on the playback thread, which must not wait for a source that stalls)
// asks the filler to end; if the filler is inside a read of the source at
// that moment, it is retired: it drops what that read returns, flushes the
// source itself and ends. Until it is joined, nobody else touches the source
// or the ring: the next Init, SetInput and the destructor join a retired
// filler first. The ring (one per cache, over PoolRingStorage) is reset
// only after that join, so a retired filler never writes into a new run.
//
// Over a track queue (audio/processors/TrackQueue.h) the ring holds one
// track's end and the next one's start: the filler marks where in the ring
// the next track begins, and the reader, when it gets there, starts the new
// track's position and size and counts it (TrackSerial). A block never
// spans two tracks. A seek while the filler already reads the next track
// goes back to the track being heard.
//
// A seek and the filler's reads exclude each other through the source's
// DataCS: the filler publishes each block it read under that lock, and the
// seek moves the source and drops the ring under it, so no block read from
// before the seek is kept.

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
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
// Over a track queue the next track enters the ring when this much of the
// present one is left to be heard.
inline constexpr uint32_t kCacheTrackLeadSeconds = 5;
// Init waits at most this long for the filler's first block.
inline constexpr auto kCacheFirstBlockWait = std::chrono::milliseconds(50);
// _Jump waits at most this long for the refill from the new place.
inline constexpr auto kCacheRefillWait = std::chrono::milliseconds(10);

class TTrackQueue;

// Where in the ring the next track begins; written by the filler, taken by
// the reader (or by a seek that goes back).
struct TCacheTrackMark {
  std::atomic<int64_t> At{-1};   // ring position of its first byte; -1: none
  std::atomic<int64_t> Size{0};  // its size, as the source told it then
};

class TAudioCacheThread {
 public:
  // Parent: the source it reads. Buf: the ring it fills (owned by the cache,
  // which keeps it until this thread is joined). Mark: where it notes the
  // start of a track (the cache's).
  TAudioCacheThread(TAuInput* Parent, TCircularBuffer* Buf, TCacheTrackMark* Mark);
  ~TAudioCacheThread();  // ends (without retiring) and joins

  void Start();
  // Tells the body to end. With AllowRetire and the filler inside a read of
  // the source, the filler is retired (true): it flushes the source itself
  // when the read returns. Otherwise (false) the caller owns the source
  // again once Join returns. Never waits.
  bool Terminate(bool AllowRetire) noexcept;
  void Join();
  void TerminateAndWait() {
    Terminate(false);
    Join();
  }
  bool Stopped() const { return FStopped.load(); }
  // The exception that ended the body early, or null. Valid once Stopped.
  std::exception_ptr Error() const { return FError; }
  int Tid() const { return FTid.load(); }
  // Filling rounds so far (for measuring the filler's wake-ups).
  uint64_t Rounds() const { return FRounds.load(); }

 private:
  void Execute();
  void Fill();
  // The free space at which the next refill is due.
  uint32_t RefillThreshold() const;

  // FState: who may touch the source.
  static constexpr int kIdle = 0;     // between reads
  static constexpr int kReading = 1;  // inside a read of the source
  static constexpr int kEnd = 2;      // told to end; the owner takes the source back
  static constexpr int kRetired = 3;  // told to end inside a read; the filler flushes it

  // After a read that gave nothing: waits for the queue's next track (true:
  // read on), false at the end of the source.
  bool SourceGoesOn();
  // What the refill rule takes as the source's size (-1: unknown).
  int64_t SourceSize() const;

  TAuInput* Parent;
  TTrackQueue* FQueue;  // Parent as a track queue, or null
  TCircularBuffer* Buf;
  TCacheTrackMark* FMark;
  uint64_t FSerial = 0;  // the source's track count at the last block
  uint32_t FFrameSize = 1;
  std::atomic<int> FState{kIdle};
  std::atomic<bool> FStopped{false};
  std::atomic<int> FTid{0};
  std::atomic<uint64_t> FRounds{0};
  std::exception_ptr FError;  // written before FStopped is set
  std::thread FThread;
};

class TAudioCache : public TAuConverter {
 public:
  explicit TAudioCache(TComponent* AOwner);
  ~TAudioCache() override;

  // The source is not told: the filler keeps the ring full while paused.
  void _Pause() override {}
  void _Resume() override {}
  // Relative seek of the source in thousandths; drops the buffered audio,
  // also after the whole source has been read (the filler reads on from the
  // new place).
  void _Jump(int32_t Offs) override;
  // Absolute seek of the track heard; as _Jump.
  void _SeekTo(int64_t Frame) override;
  // On a busy cache: ends the filler (waiting for a read in progress), then
  // flushes the old input, initialises the new one and fills from it. The
  // removal of the input comes here too.
  void SetInput(TAuInput* Value) override;
  // Ends the playback thread's wait on an empty ring at once: its read
  // returns 0 bytes, so the run ends; passed on to the source. The next Init
  // re-arms it.
  void BreakWait() noexcept override;
  // The tracks begun in what the reader got so far (see the top).
  uint64_t TrackSerial() const override { return FTrackSerial.load(); }

  // The running filler's rounds so far (0 when idle).
  uint64_t FillerRounds();

 protected:
  void InitInternal() override;
  void FlushInternal() override;
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override;

 private:
  // Ends and joins the running and the retired filler (never retiring).
  void StopFiller();
  // A seek of the source (Move) with the ring dropped; see _Jump.
  void MoveSource(const std::function<void(TAuInput*)>& Move);
  // Starts a filler on In over a reset ring. Under FRingCS.
  void StartFillerLocked(TAuInput* In);
  // Reader: a new track starts with the next byte delivered.
  void NewTrack(int64_t Size);
  // Reader: Bytes are delivered (the position's account, see FTrackRead).
  void Delivered(uint32_t Bytes);

  uint8_t* pInBuf;  // PoolCacheBlock, the delivery buffer
  uint32_t FFrameSize = 1;
  std::mutex FRingCS;
  std::unique_ptr<TCircularBuffer> FBuf;  // made by the first Init, kept
  // The ring BreakWait breaks: FBuf once made (it lives as long as the cache).
  std::atomic<TCircularBuffer*> FRing{nullptr};
  std::unique_ptr<TAudioCacheThread> CacheThread;
  std::unique_ptr<TAudioCacheThread> FRetired;  // flushes the source, then ends

  TCacheTrackMark FMark;
  std::atomic<uint64_t> FTrackSerial{0};
  // The reader's account of Position, so that a new track starts at 0 however
  // the caller adds the blocks up: FPosition was set to FPosBase, and
  // FTrackRead bytes were delivered since.
  std::atomic<int64_t> FPosBase{0};
  std::atomic<int64_t> FTrackRead{0};
  // The part of the last ring read that belongs to the next track: delivered
  // (from pInBuf + FCarryFrom) by the next data call. Reader only; a seek
  // drops it through FSeeks.
  uint32_t FCarryFrom = 0;
  uint32_t FCarryBytes = 0;
  uint64_t FCarrySeeks = 0;
  int64_t FCarryAt = -1;     // the mark the carry begins at
  int64_t FCarrySize = 0;    // the new track's size
  bool FCarryCross = false;  // the new track is not yet counted
  std::atomic<uint64_t> FSeeks{0};
};

}  // namespace lirvo
