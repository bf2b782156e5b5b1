#include "audio/processors/AudioCache.h"

#include <algorithm>
#include <thread>

#include "audio/core/Pool.h"
#include "audio/core/ThreadSetup.h"

namespace lirvo {

// ---------------------------------------------------------------------------
// TAudioCacheThread

TAudioCacheThread::TAudioCacheThread(TAuInput* AParent, TCircularBuffer* ABuf)
    : Parent(AParent), Buf(ABuf) {
  const uint32_t frame = Parent->BitsPerSample() / 8 * Parent->Channels();
  FFrameSize = frame > 0 ? frame : 1;
}

TAudioCacheThread::~TAudioCacheThread() {
  TerminateAndWait();
}

void TAudioCacheThread::Start() {
  FThread = std::thread([this] { Execute(); });
}

void TAudioCacheThread::TerminateAndWait() {
  {
    std::lock_guard<std::mutex> lock(FSleepCS);
    FTerminated = true;
  }
  FSleepCond.notify_all();
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
  Buf->SetEOF(true);
  FStopped = true;
}

void TAudioCacheThread::Fill() {
  while (!FTerminated) {
    ++FRounds;
    const uint32_t free = Buf->FreeSpace();
    const int64_t size = Parent->Size();
    bool refill = free >= kCacheRefillFree || size <= 0 ||
                  size - Parent->Position() > static_cast<int64_t>(free);
    if (refill) {
      uint32_t chunk = std::min(free, kCacheChunk);
      chunk -= chunk % FFrameSize;
      if (chunk > kCacheMinRefill && !Buf->IsEOF()) {
        uint32_t copied = 0;
        int32_t last = 1;
        while (copied < chunk && last > 0 && !FTerminated) {
          uint8_t* p = nullptr;
          uint32_t room = 0;
          Buf->ExposeSingleBufferWrite(p, room);
          room = std::min(room, chunk - copied);
          if (room == 0) break;
          last = Parent->CopyData(p, static_cast<int32_t>(room));
          if (last > 0) {
            Buf->AddBytesWritten(static_cast<uint32_t>(last));
            copied += static_cast<uint32_t>(last);
          }
        }
        if (last <= 0) Buf->SetEOF(true);
      }
    }
    std::unique_lock<std::mutex> lock(FSleepCS);
    if (Buf->IsEOF()) {
      // The source is exhausted: nothing more to do until Flush, so wait for
      // it instead of waking every 10 ms.
      FSleepCond.wait(lock, [this] { return FTerminated.load(); });
    } else {
      FSleepCond.wait_for(lock, kCacheFillerSleep, [this] { return FTerminated.load(); });
    }
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

void TAudioCache::InitInternal() {
  TAuInput* in = Input();
  if (!in) throw EAuException("Input is not assigned");
  StopFiller();
  in->Init();
  if (!pInBuf) pInBuf = PoolCacheBlock;
  const uint32_t frame = in->BitsPerSample() / 8 * in->Channels();
  FFrameSize = frame > 0 ? frame : 1;
  {
    std::lock_guard<std::mutex> lock(FRingCS);
    // A whole number of frames, so no frame is ever split at the wrap-around.
    FBuf = std::make_unique<TCircularBuffer>(kCacheRingSize - kCacheRingSize % FFrameSize);
    FBuf->Reset();
    FBuf->SetEOF(false);
    CacheThread = std::make_unique<TAudioCacheThread>(in, FBuf.get());
    CacheThread->Start();
  }
  FPosition = 0;
  FSize = in->Size();
  // Let the filler make its first round before the output asks.
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void TAudioCache::StopFiller() {
  std::lock_guard<std::mutex> lock(FRingCS);
  if (CacheThread) CacheThread->TerminateAndWait();
  CacheThread.reset();
  FBuf.reset();
}

void TAudioCache::FlushInternal() {
  {
    std::lock_guard<std::mutex> lock(FRingCS);
    if (CacheThread) CacheThread->TerminateAndWait();
  }
  if (TAuInput* in = Input()) in->Flush();
  StopFiller();
}

void TAudioCache::GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) {
  if (!FBuf) {
    Buffer = nullptr;
    Bytes = 0;
    return;
  }
  if (Bytes > kCacheChunk) Bytes = kCacheChunk - kCacheChunk % FFrameSize;
  const uint32_t n = FBuf->Read(pInBuf, Bytes);
  if (n == 0) {
    if (CacheThread && CacheThread->Stopped() && CacheThread->Error()) {
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
  Buffer = pInBuf;
  Bytes = n;
  const int64_t size = FSize;
  if (size > 0 && FPosition + n > size) FPosition = 0;
}

void TAudioCache::_Jump(int32_t Offs) {
  std::lock_guard<std::mutex> lock(FRingCS);
  if (!FBuf || FBuf->IsEOF()) return;
  TAuInput* in = Input();
  if (!in) return;
  in->_Jump(Offs);
  FPosition = in->Position();
  FBuf->Reset2();
  // Give the filler a moment to refill from the new place.
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

uint64_t TAudioCache::FillerRounds() {
  std::lock_guard<std::mutex> lock(FRingCS);
  return CacheThread ? CacheThread->Rounds() : 0;
}

}  // namespace lirvo
