#include "audio/processors/AudioCache.h"

#include <algorithm>
#include <thread>

#include "audio/core/Pool.h"
#include "audio/core/ThreadSetup.h"
#include "audio/processors/TrackQueue.h"

namespace lirvo {

namespace {

// DataCS of a source held across a read and the publication of its block.
class TSourceLock {
 public:
  explicit TSourceLock(TAuInput& In) : FIn(In) { FIn._Lock(); }
  ~TSourceLock() { FIn._Unlock(); }
  TSourceLock(const TSourceLock&) = delete;
  TSourceLock& operator=(const TSourceLock&) = delete;

 private:
  TAuInput& FIn;
};

}  // namespace

// ---------------------------------------------------------------------------
// TAudioCacheThread

TAudioCacheThread::TAudioCacheThread(TAuInput* AParent, TCircularBuffer* ABuf,
                                     TCacheTrackMark* AMark)
    : Parent(AParent),
      FQueue(dynamic_cast<TTrackQueue*>(AParent)),
      Buf(ABuf),
      FMark(AMark),
      FSerial(AParent->TrackSerial()) {
  const uint32_t frame = Parent->BitsPerSample() / 8 * Parent->Channels();
  FFrameSize = frame > 0 ? frame : 1;
  if (FQueue) FQueue->SetGate(true);
}

TAudioCacheThread::~TAudioCacheThread() {
  TerminateAndWait();
}

void TAudioCacheThread::Start() {
  FThread = std::thread([this] { Execute(); });
}

bool TAudioCacheThread::Terminate(bool AllowRetire) noexcept {
  int s = FState.load();
  bool retired = false;
  for (;;) {
    if (s == kEnd || s == kRetired) {
      retired = s == kRetired;
      break;
    }
    const int to = AllowRetire && s == kReading ? kRetired : kEnd;
    if (FState.compare_exchange_weak(s, to)) {
      retired = to == kRetired;
      break;
    }
  }
  FState.notify_all();
  // A filler asleep on the ring or on the queue looks at its state again.
  Buf->WakeProducer();
  if (FQueue) {
    try {
      FQueue->Wake();
    } catch (...) {
      // Only a failing mutex could get here; the filler's guard wait remains.
    }
  }
  return retired;
}

void TAudioCacheThread::Join() {
  if (FThread.joinable()) FThread.join();
}

void TAudioCacheThread::Execute() {
  SetupAudioThread(TAudioThreadKind::CacheFiller);
  FTid = CurrentTid();
  try {
    Fill();
  } catch (...) {
    // The source failed: end the filling normally so that neither the reader
    // nor Flush waits for ever; the reader reports the error.
    FError = std::current_exception();
  }
  if (FState.load() == kRetired) {
    // Flush handed the source over while it was being read: finish it here,
    // where waiting for it harms nobody.
    try {
      Parent->Flush();
    } catch (...) {
      // The run is over; a source that fails to close changes nothing.
    }
  } else {
    Buf->SetEOF(true);
  }
  FStopped = true;
}

int64_t TAudioCacheThread::SourceSize() const {
  // Over a queue the next track follows the present one's rest: the stream's
  // length is not known.
  return FQueue ? -1 : Parent->Size();
}

bool TAudioCacheThread::SourceGoesOn() {
  if (!FQueue) return false;
  auto stop = [this] { return FState.load() >= kEnd || Buf->IsBreak(); };
  // The next track begins in the ring only when no more than
  // kCacheTrackLeadSeconds of the present one are left ahead of the reader:
  // until then the listener may still change what follows (or seek) while
  // nothing of the next track has been read.
  const uint64_t lead =
      std::min<uint64_t>(Buf->Capacity() / 2, static_cast<uint64_t>(FFrameSize) *
                                                  Parent->SampleRate() * kCacheTrackLeadSeconds);
  const uint32_t wantFree = Buf->Capacity() - static_cast<uint32_t>(lead);
  try {
    for (;;) {
      if (stop()) return false;
      switch (FQueue->ReadState()) {
        case TTrackQueue::TReadState::ReadOn:
          return true;
        case TTrackQueue::TReadState::Ended:
          return false;
        case TTrackQueue::TReadState::NextWaiting:
          if (Buf->FreeSpace() >= wantFree) {
            FQueue->BeginNextTrack();
            return true;
          }
          // The reader wakes this thread when the free space reaches it; a
          // seek's discard and a stop wake it too.
          Buf->WaitForSpace(wantFree, TCircularBuffer::kWaitGuard * 5);
          break;
        case TTrackQueue::TReadState::AwaitAnswer:
          FQueue->WaitForChange(stop);
          break;
      }
    }
  } catch (...) {
    return false;
  }
}

uint32_t TAudioCacheThread::RefillThreshold() const {
  // A refill must be worth more than kCacheMinRefill (see Fill).
  const uint32_t least = std::min(Buf->Capacity(), kCacheMinRefill + 2 * FFrameSize);
  const int64_t size = SourceSize();
  if (size <= 0) return least;
  // The same rule as Fill's: a rest that does not fit into the free space is
  // read as soon as a round is worth it; a rest that fits waits until
  // kCacheRefillFree is free. (A lower target would end the wait while Fill
  // still has nothing to do, and the filler would spin.)
  const int64_t rest = size - Parent->Position();
  if (rest > static_cast<int64_t>(Buf->FreeSpace())) return least;
  return std::max(kCacheRefillFree, least);
}

void TAudioCacheThread::Fill() {
  while (FState.load() < kEnd) {
    if (Buf->IsBreak()) {
      // The run is being stopped: nothing more to fill, and the ring's
      // waits no longer sleep; sleep until Terminate instead.
      FState.wait(kIdle);
      continue;
    }
    ++FRounds;
    const uint32_t free = Buf->FreeSpace();
    const int64_t size = SourceSize();
    bool refill = free >= kCacheRefillFree || size <= 0 ||
                  size - Parent->Position() > static_cast<int64_t>(free);
    if (refill) {
      uint32_t chunk = std::min(free, kCacheChunk);
      chunk -= chunk % FFrameSize;
      if (chunk > kCacheMinRefill && !Buf->IsEOF()) {
        uint32_t copied = 0;
        int32_t last = 1;
        while (copied < chunk && last > 0) {
          uint8_t* p = nullptr;
          uint32_t room = 0;
          Buf->ExposeSingleBufferWrite(p, room);
          room = std::min(room, chunk - copied);
          if (room == 0) break;
          {
            // A seek moves the source and drops the ring under this lock, so
            // a block is either read after the seek or dropped by it.
            TSourceLock source(*Parent);
            int idle = kIdle;
            if (!FState.compare_exchange_strong(idle, kReading)) return;
            // The read goes into the ring's storage but is published only
            // while the filler is still wanted; a retired filler's block stays
            // unpublished (and the ring is reset before it is used again).
            last = Parent->CopyData(p, static_cast<int32_t>(room));
            int reading = kReading;
            if (!FState.compare_exchange_strong(reading, kIdle)) return;
            if (last > 0) {
              const uint64_t serial = Parent->TrackSerial();
              if (serial != FSerial) {
                // This block is the first of a new track.
                FSerial = serial;
                FMark->Size.store(Parent->Size(), std::memory_order_relaxed);
                FMark->At.store(Buf->WritePosition(), std::memory_order_release);
              }
              Buf->AddBytesWritten(static_cast<uint32_t>(last));
              copied += static_cast<uint32_t>(last);
            }
          }
          if (last <= 0 && SourceGoesOn()) last = 1;
        }
        if (last <= 0) Buf->SetEOF(true);
      }
    }
    if (FState.load() >= kEnd) break;
    // Sleep until the reader has freed enough for the next refill (it wakes
    // this thread once, when the free space reaches it), or Terminate. Once
    // the source is exhausted, only Terminate ends the wait.
    const uint32_t want = Buf->IsEOF() ? Buf->Capacity() + 1 : RefillThreshold();
    Buf->WaitForSpace(want, TCircularBuffer::kWaitGuard * 5);
  }
}

// ---------------------------------------------------------------------------
// TAudioCache

TAudioCache::TAudioCache(TComponent* AOwner) : TAuConverter(AOwner), pInBuf(PoolCacheBlock) {}

TAudioCache::~TAudioCache() {
  NotifyRemoval();
  StopFiller();
  pInBuf = nullptr;
}

void TAudioCache::StartFillerLocked(TAuInput* In) {
  const uint32_t frame = In->BitsPerSample() / 8 * In->Channels();
  FFrameSize = frame > 0 ? frame : 1;
  // A whole number of frames, so no frame is ever split at the wrap-around.
  const uint32_t bytes = kCacheRingSize - kCacheRingSize % FFrameSize;
  if (!FBuf) {
    FBuf = std::make_unique<TCircularBuffer>(bytes);
    FRing = FBuf.get();
  } else {
    FBuf->Resize(bytes);
  }
  FBuf->Reset();  // clears a Break of the last run: BreakWait is re-armed
  FMark.At = -1;
  FCarryBytes = 0;
  FPosBase = 0;
  FTrackRead = 0;
  CacheThread = std::make_unique<TAudioCacheThread>(In, FBuf.get(), &FMark);
  CacheThread->Start();
}

void TAudioCache::InitInternal() {
  TAuInput* in = Input();
  if (!in) throw EAuException("Input is not assigned");
  StopFiller();
  in->Init();
  if (!pInBuf) pInBuf = PoolCacheBlock;
  {
    std::lock_guard<std::mutex> lock(FRingCS);
    StartFillerLocked(in);
  }
  FPosition = 0;
  FSize = in->Size();
  Busy = true;
  // Let the filler deliver its first block before the output asks, but do
  // not wait long for a slow source.
  FBuf->WaitForData(kCacheFirstBlockWait);
}

void TAudioCache::StopFiller() {
  std::lock_guard<std::mutex> lock(FRingCS);
  if (FRetired) FRetired->TerminateAndWait();
  FRetired.reset();
  if (CacheThread) CacheThread->TerminateAndWait();
  CacheThread.reset();
}

void TAudioCache::FlushInternal() {
  std::unique_ptr<TAudioCacheThread> filler;
  {
    std::lock_guard<std::mutex> lock(FRingCS);
    filler = std::move(CacheThread);
    if (filler && filler->Terminate(true)) {
      // Stuck in the source, perhaps for long: it flushes the source itself
      // when its read returns, and the next Init joins it.
      FRetired = std::move(filler);
    }
  }
  if (filler) filler->Join();
  if (!FRetired) {
    if (TAuInput* in = Input()) in->Flush();
  }
  Busy = false;
}

void TAudioCache::SetInput(TAuInput* Value) {
  if (Value == this) return;
  std::lock_guard<std::recursive_mutex> lock(DataCS);
  // The old source is flushed below (busy) or may go away (its removal):
  // no filler may still read it.
  StopFiller();
  TAuConverter::SetInput(Value);
  if (Busy) {
    std::lock_guard<std::mutex> ringLock(FRingCS);
    if (Value) {
      StartFillerLocked(Value);
      FSize = Value->Size();
    } else if (FBuf) {
      FBuf->SetEOF(true);  // nothing to read: the run ends
    }
  }
}

void TAudioCache::BreakWait() noexcept {
  if (TCircularBuffer* ring = FRing.load()) ring->Break();
  // A filler waiting in the source (the queue's next track) ends too.
  if (TAuInput* in = Input()) in->BreakWait();
}

void TAudioCache::NewTrack(int64_t Size) {
  // What was delivered of the old track has been or will be added to
  // FPosition by the caller; take exactly that away.
  FPosition -= FPosBase.load() + FTrackRead.load();
  FPosBase = 0;
  FTrackRead = 0;
  FSize = Size;
  FTrackSerial.fetch_add(1, std::memory_order_release);
}

void TAudioCache::Delivered(uint32_t Bytes) {
  // A source that delivers more than its size said starts the count again.
  const int64_t size = FSize;
  const int64_t sofar = FPosBase.load() + FTrackRead.load();
  if (size > 0 && sofar + Bytes > size) {
    FPosition -= sofar;
    FPosBase = 0;
    FTrackRead = 0;
  }
  FTrackRead += Bytes;
}

void TAudioCache::GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) {
  if (!CacheThread) {
    Buffer = nullptr;
    Bytes = 0;
    return;
  }
  if (Bytes > kCacheChunk) Bytes = kCacheChunk - kCacheChunk % FFrameSize;
  const uint64_t seeks = FSeeks.load();
  if (FCarryBytes > 0) {
    // The next track's start, split off the last read.
    int64_t at = FCarryAt;
    if (seeks == FCarrySeeks && (!FCarryCross || FMark.At.compare_exchange_strong(at, -1))) {
      if (FCarryCross) NewTrack(FCarrySize);
      FCarryCross = false;
      uint32_t n = std::min(Bytes, FCarryBytes);
      n -= n % FFrameSize;
      if (n > 0) {
        Buffer = pInBuf + FCarryFrom;
        Bytes = n;
        FCarryFrom += n;
        FCarryBytes -= n;
        Delivered(n);
        return;
      }
    }
    // A seek dropped it with the ring.
    FCarryBytes = 0;
    FCarryCross = false;
  }
  const int64_t from = FBuf->ReadPosition();
  uint32_t n = FBuf->Read(pInBuf, Bytes);
  if (n == 0) {
    if (CacheThread->Stopped() && CacheThread->Error()) {
      try {
        std::rethrow_exception(CacheThread->Error());
      } catch (const std::exception& e) {
        throw EAuException(e.what());
      } catch (...) {
        throw EAuException("The source failed while filling the cache");
      }
    }
    Buffer = nullptr;
    Bytes = 0;
    return;
  }
  const int64_t at = FMark.At.load(std::memory_order_acquire);
  if (at >= 0 && at < from + n) {
    if (at <= from) {
      int64_t expected = at;
      if (FMark.At.compare_exchange_strong(expected, -1)) NewTrack(FMark.Size.load());
    } else {
      // The old track's end now, the new one's start with the next call.
      FCarryFrom = static_cast<uint32_t>(at - from);
      FCarryBytes = n - FCarryFrom;
      FCarryAt = at;
      FCarryCross = true;
      FCarrySize = FMark.Size.load();
      FCarrySeeks = seeks;
      n = FCarryFrom;
    }
  }
  Buffer = pInBuf;
  Bytes = n;
  Delivered(n);
}

void TAudioCache::_Jump(int32_t Offs) {
  MoveSource([Offs](TAuInput* In) { In->_Jump(Offs); });
}

void TAudioCache::_SeekTo(int64_t Frame) {
  MoveSource([Frame](TAuInput* In) { In->_SeekTo(Frame); });
}

void TAudioCache::MoveSource(const std::function<void(TAuInput*)>& Move) {
  std::lock_guard<std::mutex> lock(FRingCS);
  if (!CacheThread || CacheThread->Stopped()) return;
  TAuInput* in = Input();
  if (!in) return;
  {
    // The filler is between two reads while this lock is held.
    TSourceLock source(*in);
    // The listener still hears the track before the one the filler reads:
    // the seek is meant for that one.
    const bool ended = FBuf->IsEOF();
    const int64_t before = in->Position();
    if (FMark.At.exchange(-1) >= 0) in->BackToPreviousTrack();
    Move(in);
    const int64_t pos = in->Position();
    // A source that cannot seek stays where it was: after its end, what the
    // ring holds is all there is and stays.
    if (ended && pos == before) return;
    ++FSeeks;
    FPosition = pos;
    FPosBase = pos;
    FTrackRead = 0;
    FBuf->Reset2();
    // A source read to its end has more to give from the new place.
    if (ended) FBuf->SetEOF(false);
  }
  FBuf->WakeProducer();
  // The discard woke the filler; give it a moment to refill from the new
  // place, but only until its first block arrives.
  FBuf->WaitForData(kCacheRefillWait);
}

uint64_t TAudioCache::FillerRounds() {
  std::lock_guard<std::mutex> lock(FRingCS);
  return CacheThread ? CacheThread->Rounds() : 0;
}

}  // namespace lirvo
