#include "audio/processors/TrackQueue.h"

#include <exception>

namespace lirvo {

TTrackQueue::TTrackQueue(TComponent* AOwner) : TAuInput(AOwner) {}

TTrackQueue::~TTrackQueue() {
  NotifyRemoval();
}

void TTrackQueue::Hold(TAuInput* Track) {
  if (Track) FreeNotification(Track);
}

void TTrackQueue::SetInput(TAuInput* Value) {
  if (Value == this) return;
  {
    std::lock_guard<std::mutex> lock(FStateCS);
    FCurrent = Value;
    FNext = FFinished = FAbandoned = nullptr;
    FMore = false;
    FEnded = false;
    FBreak = false;
    FAtEnd = false;
    FBeginAllowed = false;
  }
  Hold(Value);
}

bool TTrackQueue::SetNext(TAuInput* Next) {
  if (!Next || Next == this) return false;
  {
    std::lock_guard<std::mutex> lock(FStateCS);
    if (FNext || FFinished || FEnded || FBreak) return false;
    FNext = Next;
    FMore = true;
  }
  FStateCV.notify_all();
  Hold(Next);
  return true;
}

void TTrackQueue::EndAfterCurrent() {
  {
    std::lock_guard<std::mutex> lock(FStateCS);
    FMore = false;
  }
  FStateCV.notify_all();
}

void TTrackQueue::ExpectNextTrack() {
  std::lock_guard<std::mutex> lock(FStateCS);
  FMore = true;
}

TAuInput* TTrackQueue::TakeNext() {
  std::lock_guard<std::mutex> lock(FStateCS);
  TAuInput* t = FNext;
  FNext = nullptr;
  return t;
}

TAuInput* TTrackQueue::TakeFinished() {
  std::lock_guard<std::mutex> lock(FStateCS);
  TAuInput* t = FFinished;
  FFinished = nullptr;
  return t;
}

TAuInput* TTrackQueue::TakeAbandoned() {
  std::lock_guard<std::mutex> lock(FStateCS);
  TAuInput* t = FAbandoned;
  FAbandoned = nullptr;
  return t;
}

void TTrackQueue::SetGate(bool Value) {
  std::lock_guard<std::mutex> lock(FStateCS);
  FGate = Value;
}

TTrackQueue::TReadState TTrackQueue::ReadState() {
  std::lock_guard<std::mutex> lock(FStateCS);
  if (FBreak || FEnded) return TReadState::Ended;
  if (!FAtEnd || FBeginAllowed) return TReadState::ReadOn;
  if (FNext) return FGate ? TReadState::NextWaiting : TReadState::ReadOn;
  if (FMore) return TReadState::AwaitAnswer;
  FEnded = true;
  return TReadState::Ended;
}

void TTrackQueue::BeginNextTrack() {
  std::lock_guard<std::mutex> lock(FStateCS);
  FBeginAllowed = true;
}

void TTrackQueue::Wake() {
  // Under the lock, so that a waiter between its look and its sleep is not
  // missed.
  { std::lock_guard<std::mutex> lock(FStateCS); }
  FStateCV.notify_all();
}

bool TTrackQueue::BackToPreviousTrack() {
  // The caller's seek holds DataCS: no read of a track is in progress.
  std::lock_guard<std::recursive_mutex> data(DataCS);
  TAuInput* previous = nullptr;
  {
    std::lock_guard<std::mutex> lock(FStateCS);
    if (!FFinished) return false;
    previous = FFinished;
    FAbandoned = FCurrent.load();
    FFinished = nullptr;
    FCurrent = previous;
    FMore = true;
    FEnded = false;
    FAtEnd = false;
    FBeginAllowed = false;
    ++FMoves;
  }
  FPosition = previous->Position();
  FSize = previous->Size();
  FStateCV.notify_all();
  return true;
}

void TTrackQueue::_Pause() {
  if (TAuInput* in = FCurrent.load()) in->_Pause();
}

void TTrackQueue::_Resume() {
  if (TAuInput* in = FCurrent.load()) in->_Resume();
}

void TTrackQueue::_Jump(int32_t Offs) {
  MoveInput([Offs](TAuInput* In) { In->_Jump(Offs); });
}

void TTrackQueue::_SeekTo(int64_t Frame) {
  MoveInput([Frame](TAuInput* In) { In->_SeekTo(Frame); });
}

void TTrackQueue::MoveInput(const std::function<void(TAuInput*)>& Move) {
  std::lock_guard<std::recursive_mutex> data(DataCS);
  TAuInput* in = FCurrent.load();
  if (!in) return;
  Move(in);
  FPosition = in->Position();
  FSize = in->Size();
  {
    // An input read to its end may have more to give from the new place.
    std::lock_guard<std::mutex> lock(FStateCS);
    if (!FBreak) FEnded = false;
    FAtEnd = false;
    ++FMoves;
  }
  FStateCV.notify_all();
}

void TTrackQueue::BreakWait() noexcept {
  {
    std::lock_guard<std::mutex> lock(FStateCS);
    FBreak = true;
  }
  FStateCV.notify_all();
  if (TAuInput* in = FCurrent.load()) in->BreakWait();
}

uint32_t TTrackQueue::GetBitsPerSample() {
  TAuInput* in = FCurrent.load();
  return in ? in->BitsPerSample() : 0;
}

uint32_t TTrackQueue::GetChannels() {
  TAuInput* in = FCurrent.load();
  return in ? in->Channels() : 0;
}

uint32_t TTrackQueue::GetSampleRate() {
  TAuInput* in = FCurrent.load();
  return in ? in->SampleRate() : 0;
}

uint32_t TTrackQueue::GetTotalTime() {
  TAuInput* in = FCurrent.load();
  return in ? in->TotalTime() : 0;
}

int64_t TTrackQueue::GetTotalSamples() {
  TAuInput* in = FCurrent.load();
  return in ? in->TotalSamples() : 0;
}

void TTrackQueue::InitInternal() {
  TAuInput* in = FCurrent.load();
  if (!in) throw EAuException("Input is not assigned");
  {
    std::lock_guard<std::mutex> lock(FStateCS);
    FBreak = false;
    FEnded = false;
    FAtEnd = false;
    FBeginAllowed = false;
  }
  in->Init();
  FPosition = 0;
  FSize = in->Size();
  Busy = true;
}

void TTrackQueue::FlushInternal() {
  TAuInput* tracks[4];
  {
    std::lock_guard<std::mutex> lock(FStateCS);
    tracks[0] = FCurrent.load();
    tracks[1] = FNext;
    tracks[2] = FFinished;
    tracks[3] = FAbandoned;
    FNext = FFinished = FAbandoned = nullptr;
    FMore = false;
    FEnded = true;
  }
  FStateCV.notify_all();
  std::exception_ptr first;
  for (TAuInput* t : tracks) {
    if (!t) continue;
    try {
      t->Flush();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  Busy = false;
  if (first) std::rethrow_exception(first);
}

void TTrackQueue::GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) {
  const uint32_t want = Bytes;
  Buffer = nullptr;
  Bytes = 0;
  for (;;) {
    TAuInput* in = nullptr;
    {
      std::lock_guard<std::mutex> lock(FStateCS);
      if (FBreak || FEnded) return;
      in = FCurrent.load();
    }
    if (!in) return;
    uint8_t* p = nullptr;
    uint32_t n = want;
    in->GetData(p, n);
    if (p && n > 0) {
      FPosition += n;
      // A compressed track's length is an estimate that grows as it plays.
      const int64_t size = in->Size();
      if (size != FSize.load(std::memory_order_relaxed)) FSize = size;
      Buffer = p;
      Bytes = n;
      return;
    }
    TAuInput* next = nullptr;
    {
      std::lock_guard<std::mutex> lock(FStateCS);
      FAtEnd = true;
      if (!FNext || (FGate && !FBeginAllowed)) {
        // The reader waits for the answer or for its moment (ReadState)
        // unless nothing more is expected.
        if (!FNext && !FMore) FEnded = true;
        return;
      }
      next = FNext;
      FNext = nullptr;
      FFinished = in;
      FCurrent = next;
      FMore = true;
      FAtEnd = false;
      FBeginAllowed = false;
    }
    FPosition = 0;
    FSize = next->Size();
    ++FSerial;
    // The same call delivers the next track's first block.
  }
}

void TTrackQueue::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent) {
    std::lock_guard<std::mutex> lock(FStateCS);
    if (FCurrent.load() == AComponent) FCurrent = nullptr;
    if (FNext == AComponent) FNext = nullptr;
    if (FFinished == AComponent) FFinished = nullptr;
    if (FAbandoned == AComponent) FAbandoned = nullptr;
  }
  TAuInput::Notification(AComponent, Operation);
}

}  // namespace lirvo
