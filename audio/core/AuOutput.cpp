#include <chrono>
#include <cmath>
#include <exception>

#include "audio/core/AuThread.h"
#include "audio/core/AudioClasses.h"
#include "audio/core/EventHandler.h"
#include "audio/core/UiDispatcher.h"

namespace lirvo {

namespace {
// The longest a synchronous stop waits for the run to end before it
// abandons it.
constexpr auto kStopWait = std::chrono::milliseconds(100);
constexpr auto kPauseWait = std::chrono::milliseconds(5000);
// For the waits without a time-out that go through the dispatcher: they wake
// on notifications only.
constexpr auto kNoTimeout = std::chrono::hours(24);
}  // namespace

// ---------------------------------------------------------------------------
// TAuThread

TAuThread::TAuThread(TAuOutput* AParent) : Parent(AParent) {
  FThread = std::thread([this] { Execute(); });
  // The owner may set the priority right after construction: wait until the
  // thread has published its id and is asleep.
  std::unique_lock<std::mutex> lock(FMutex);
  FCond.wait(lock, [this] { return FState != TState::Starting; });
}

TAuThread::~TAuThread() {
  Terminate();
}

void TAuThread::SetCommands(uint32_t Value) {
  FCommands = Value;
  FPending.store(Value, std::memory_order_release);
}

bool TAuThread::IdleLocked() const {
  return !FRunActive && (FCommands & cmdRun) == 0 && FEndedSeq.load() == FRunSeq.load();
}

void TAuThread::Terminate() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    SetCommands((FCommands & ~cmdRun) | cmdTerminate | cmdStop);
  }
  FCond.notify_all();
  if (FThread.joinable()) FThread.join();
}

TAuThread::TRunRequest TAuThread::RequestRun(bool HasInput) {
  const bool self = OnThread();
  std::unique_lock<std::mutex> lock(FMutex);
  if (FCommands & cmdTerminate) return TRunRequest::Busy;
  if (Parent->Busy) {
    // Only a run abandoned by a timed-out stop lets a new one wait its turn.
    if (!FAbandoned || (FCommands & cmdRun)) return TRunRequest::Busy;
    if (!HasInput) return TRunRequest::NoInput;
    SetCommands(FCommands | cmdRun);
    return TRunRequest::Queued;
  }
  if (!HasInput) return TRunRequest::NoInput;
  Parent->Busy = true;
  SetCommands(FCommands | cmdRun);
  FCond.notify_all();
  // Return once the thread has taken the request, so that a Stop right after
  // Run sees the run. From the thread itself the run follows this one.
  if (self) return TRunRequest::Started;
  FCond.wait(lock, [this] { return (FCommands & (cmdRun | cmdTerminate)) != cmdRun; });
  return TRunRequest::Started;
}

uint64_t TAuThread::RequestStop(bool AbortDevice) {
  uint64_t seq;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    // A run requested and not yet taken never starts; when no run is active
    // nothing else would clear its Busy.
    if ((FCommands & cmdRun) && !FRunActive) Parent->Busy = false;
    uint32_t c = (FCommands & ~(cmdRun | cmdPause)) | cmdStop;
    if (AbortDevice) c |= cmdAbort;
    // A queued run that never started ends with the stop; its Busy goes with
    // the run it waited for.
    SetCommands(c);
    seq = FRunSeq.load();
  }
  FCond.notify_all();
  return seq;
}

bool TAuThread::WaitRunEnded(uint64_t Seq, std::chrono::milliseconds Timeout) {
  auto ended = [this, Seq] { return FEndedSeq.load() >= Seq; };
  if (IsUiThread()) return ServeUntil(ended, Timeout);
  std::unique_lock<std::mutex> lock(FMutex);
  return FCond.wait_for(lock, Timeout, ended);
}

void TAuThread::Abandon(uint64_t Seq) {
  std::lock_guard<std::mutex> lock(FMutex);
  if (FRunActive && FRunSeq.load() == Seq) FAbandoned = true;
}

void TAuThread::WaitIdle() {
  if (OnThread()) return;
  if (IsUiThread()) {
    // IdleLocked needs the lock; its parts are mirrored in atomics.
    auto idle = [this] {
      return (FPending.load() & cmdRun) == 0 && FEndedSeq.load() == FRunSeq.load();
    };
    while (!ServeUntil(idle, kNoTimeout)) {
    }
    return;
  }
  std::unique_lock<std::mutex> lock(FMutex);
  FCond.wait(lock, [this] { return IdleLocked() || (FCommands & cmdTerminate); });
}

bool TAuThread::RequestPause() {
  std::unique_lock<std::mutex> lock(FMutex);
  if (!FRunActive) return true;
  SetCommands(FCommands | cmdPause);
  Parent->WakeForPause();
  const uint64_t seq = FRunSeq.load();
  return FCond.wait_for(lock, kPauseWait, [this, seq] {
    return FState == TState::Paused || !FRunActive || FRunSeq.load() != seq ||
           (FCommands & cmdTerminate);
  });
}

void TAuThread::Resume() {
  std::unique_lock<std::mutex> lock(FMutex);
  if (FState != TState::Paused) return;
  SetCommands(FCommands | cmdResume);
  FCond.notify_all();
  FCond.wait(lock, [this] { return FState != TState::Paused; });
}

void TAuThread::PauseHere() {
  std::unique_lock<std::mutex> lock(FMutex);
  SetCommands(FCommands & ~(cmdPause | cmdResume));
  if (FCommands & cmdStop) return;
  FState = TState::Paused;
  FPausedMirror = true;
  FCond.notify_all();
  FCond.wait(lock, [this] { return (FCommands & (cmdResume | cmdStop | cmdTerminate)) != 0; });
  SetCommands(FCommands & ~cmdResume);
  FState = TState::Running;
  FPausedMirror = false;
  FCond.notify_all();
}

bool TAuThread::TakeRun(std::unique_lock<std::mutex>& Lock) {
  FState = TState::Sleeping;
  FCond.notify_all();
  FCond.wait(Lock, [this] { return (FCommands & (cmdRun | cmdTerminate)) != 0; });
  if (FCommands & cmdTerminate) return false;
  // A stop or pause recorded between runs belongs to no run.
  SetCommands(FCommands & ~(cmdRun | cmdStop | cmdAbort | cmdPause | cmdResume));
  FRunActive = true;
  FAbandoned = false;
  FRunSeq.fetch_add(1);
  FState = TState::Running;
  FCond.notify_all();
  return true;
}

void TAuThread::Execute() {
  SetupAudioThread(TAudioThreadKind::Playback);
  FTid = CurrentTid();
  FThreadId = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(FMutex);
  while (TakeRun(lock)) {
    const uint64_t seq = FRunSeq.load();
    lock.unlock();
    DoRun(seq);
    EndRun(seq);
    lock.lock();
  }
  FState = TState::Sleeping;
  FCond.notify_all();
}

void TAuThread::DoRun(uint64_t Seq) {
  TAuOutput* out = Parent;
  TAuOutput::TEventSlot& slot = out->FEventSlot;
  TEventHandler* events = out->FEvents;
  bool more = true;
  // The track the blocks written so far belong to: a change is announced
  // with the progress, so the window follows the track that is heard.
  uint64_t track = 0;
  try {
    out->PrepareOutput();
    out->CanOutput = true;
    if (TAuInput* in = out->Input()) track = in->TrackSerial();
    // Between blocks: one atomic load when nobody asks anything; no lock, no
    // allocation and no call into handlers on this path.
    for (;;) {
      uint32_t cmd = FPending.load(std::memory_order_acquire);
      if (cmd & cmdStop) break;
      if (cmd & cmdPause) {
        PauseHere();
        continue;
      }
      const int32_t p = out->Progress();
      TAuInput* in = out->Input();
      const uint64_t t = in ? in->TrackSerial() : 0;
      if (p != out->CurProgr.load(std::memory_order_relaxed) || t != track) {
        track = t;
        out->CurProgr.store(p, std::memory_order_relaxed);
        slot.PostProgress(Seq);
        if (events) events->Wake();
      }
      if (!out->WriteBlock(false)) {
        more = false;
        break;
      }
    }
    const uint32_t cmd = FPending.load(std::memory_order_acquire);
    if (more && (cmd & cmdStop) && (cmd & cmdAbort)) out->WriteBlock(true);
  } catch (const std::exception& e) {
    out->SetExceptionMessage(e.what());
    slot.ErrorRun.store(Seq, std::memory_order_release);
  } catch (...) {
    out->SetExceptionMessage("Unknown error");
    slot.ErrorRun.store(Seq, std::memory_order_release);
  }
}

void TAuThread::EndRun(uint64_t Seq) {
  TAuOutput* out = Parent;
  out->FinishRun();
  bool abandoned;
  {
    // Busy and the abandoned mark change together, under the lock Run
    // decides under: a Run never sees a half-ended run.
    std::lock_guard<std::mutex> lock(FMutex);
    abandoned = FAbandoned;
    FAbandoned = false;
    FRunActive = false;
    if ((FCommands & cmdRun) == 0) out->Busy = false;
  }
  // The stopper of an abandoned run has moved on; nobody waits for its end.
  if (!abandoned) {
    if (TOutputDoneEvent h = out->OnSyncDone()) {
      try {
        h(out);
      } catch (...) {
        // A handler's failure must not unwind through the thread.
      }
    }
  }
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FEndedSeq.store(Seq);
  }
  FCond.notify_all();
  WakeUiWaiters();
  out->FEventSlot.EndedRun.store(Seq, std::memory_order_release);
  if (TEventHandler* events = out->FEvents) events->Wake();
}

// ---------------------------------------------------------------------------
// TAuOutput

TAuOutput::TAuOutput(TComponent* AOwner) : TComponent(AOwner) {
  FEvents = AcquireEventHandler();
  FEventHandlerAcquired = true;
  FEvents->AddOutput(this);
  FThread = std::make_unique<TAuThread>(this);
}

TAuOutput::~TAuOutput() {
  EndThread();
  if (FEventHandlerAcquired) {
    FEventHandlerAcquired = false;
    FEvents = nullptr;
    ReleaseEventHandler();
  }
}

void TAuOutput::EndThread() {
  if (!FThread) return;
  try {
    Stop(false);
  } catch (...) {
    // Going away: nothing to report to.
  }
  FThread->Terminate();
  if (FEvents) FEvents->Purge(this);
  FThread.reset();
  // Links to this output's input are dropped with it.
  NotifyRemoval();
}

void TAuOutput::SetInput(TAuInput* Value) {
  TAuInput* old = FInput.load();
  if (Busy) {
    Stop(false);
    // A stop that timed out left the run pulling the old input: wait for it.
    if (FThread) FThread->WaitIdle();
    if (old && old != Value) RemoveFreeNotification(old);
    FInput = Value;
    if (Value) FreeNotification(Value);
    // Without an input there is nothing to run again.
    if (Value) Run();
    return;
  }
  if (old && old != Value) RemoveFreeNotification(old);
  FInput = Value;
  if (Value) FreeNotification(Value);
}

void TAuOutput::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent != nullptr && AComponent == FInput.load()) {
    SetInput(nullptr);
  }
  TComponent::Notification(AComponent, Operation);
}

void TAuOutput::Run() {
  // From the playback thread (OnSyncDone) RunCS may be held by a Run on
  // another thread that waits for this thread to take its request.
  std::unique_lock<std::mutex> lock(RunCS, std::defer_lock);
  if (!FThread || !FThread->OnThread()) lock.lock();
  SetExceptionMessage("");
  if (!FThread) throw EAuException("Component is Busy");
  switch (FThread->RequestRun(FInput.load() != nullptr)) {
    case TAuThread::TRunRequest::Busy:
      throw EAuException("Component is Busy");
    case TAuThread::TRunRequest::NoInput:
      throw EAuException("Input is not assigned");
    case TAuThread::TRunRequest::Started:
    case TAuThread::TRunRequest::Queued:
      break;
  }
}

void TAuOutput::Stop(bool Async) {
  StopInternal(Async, false);
}

void TAuOutput::Abort(bool Async) {
  StopInternal(Async, true);
}

void TAuOutput::StopInternal(bool Async, bool AbortDevice) {
  FStopped = true;
  TAuThread* t = FThread.get();
  if (!t) return;
  const uint64_t seq = t->RequestStop(AbortDevice);
  // Drop the stopped runs' events before anything can wait: a delivery
  // already on its way checks this on the UI thread.
  if (!Async) {
    uint64_t cur = FDropUpTo.load();
    while (cur < seq && !FDropUpTo.compare_exchange_weak(cur, seq)) {
    }
  }
  WakeForStop();
  if (TAuInput* in = FInput.load()) in->BreakWait();
  if (Async || seq == 0 || t->OnThread()) return;
  if (!t->WaitRunEnded(seq, kStopWait)) t->Abandon(seq);
}

void TAuOutput::Pause() {
  if (!FInput.load()) throw EAuException("Input is not assigned.");
  if (!Busy) return;
  FThread->RequestPause();
  if (TAuInput* in = FInput.load()) in->_Pause();
}

void TAuOutput::Resume() {
  if (!Busy || !FThread->Paused()) return;
  if (TAuInput* in = FInput.load()) in->_Resume();
  FThread->Resume();
}

void TAuOutput::BlockingRun() {
  Busy = true;
  try {
    PrepareOutput();
    CanOutput = true;
    while (WriteBlock(false)) {
    }
  } catch (...) {
    EndRun();
    throw;
  }
  EndRun();
}

void TAuOutput::FinishRun() noexcept {
  try {
    CanOutput = false;
    FinishOutput();
    FStopped = false;
  } catch (...) {
    // The output becomes idle whatever the device did while closing.
  }
}

void TAuOutput::EndRun() {
  if (!Busy) return;
  FinishRun();
  Busy = false;
}

TOutputStatus TAuOutput::Status() const {
  if (!Busy) return tosIdle;
  if (FThread && FThread->Paused()) return tosPaused;
  return tosPlaying;
}

int32_t TAuOutput::Progress() {
  TAuInput* in = FInput.load();
  if (!in) return 0;
  int64_t size = in->Size();
  if (size < 0) return -1;
  if (size == 0) return 0;
  return static_cast<int32_t>(std::lround(static_cast<double>(in->Position()) / size * 100.0));
}

int32_t TAuOutput::TimeElapsed() {
  TAuInput* in = FInput.load();
  if (!in) return 0;
  double bytesPerSecond =
      static_cast<double>(in->BitsPerSample() / 8) * in->Channels() * in->SampleRate();
  if (bytesPerSecond <= 0) return 0;
  return static_cast<int32_t>(std::lround(in->Position() / bytesPerSecond));
}

std::string TAuOutput::ExceptionMessage() const {
  std::lock_guard<std::mutex> lock(FMessageCS);
  return FExceptionMessage;
}

void TAuOutput::SetExceptionMessage(const std::string& Message) {
  std::lock_guard<std::mutex> lock(FMessageCS);
  FExceptionMessage = Message;
}

int32_t TAuOutput::Delay() const {
  return FThread ? FThread->Delay() : 0;
}

void TAuOutput::SetDelay(int32_t Value) {
  if (FThread && Value <= 100) FThread->SetDelay(Value);
}

TThreadPriority TAuOutput::ThreadPriority() const {
  return FThread ? GetThreadPriorityByTid(FThread->Tid()) : tpNormal;
}

void TAuOutput::SetThreadPriority(TThreadPriority Value) {
  if (FThread) SetThreadPriorityByTid(FThread->Tid(), Value);
}

void TAuOutput::SetOnDone(TOutputDoneEvent Handler) {
  std::lock_guard<std::mutex> lock(FHandlersCS);
  FOnDone = std::move(Handler);
}
void TAuOutput::SetOnProgress(TOutputProgressEvent Handler) {
  std::lock_guard<std::mutex> lock(FHandlersCS);
  FOnProgress = std::move(Handler);
}
void TAuOutput::SetOnThreadException(TThreadExceptionEvent Handler) {
  std::lock_guard<std::mutex> lock(FHandlersCS);
  FOnThreadException = std::move(Handler);
}
void TAuOutput::SetOnSyncDone(TOutputDoneEvent Handler) {
  std::lock_guard<std::mutex> lock(FHandlersCS);
  FOnSyncDone = std::move(Handler);
}
TOutputDoneEvent TAuOutput::OnDone() const {
  std::lock_guard<std::mutex> lock(FHandlersCS);
  return FOnDone;
}
TOutputProgressEvent TAuOutput::OnProgress() const {
  std::lock_guard<std::mutex> lock(FHandlersCS);
  return FOnProgress;
}
TThreadExceptionEvent TAuOutput::OnThreadException() const {
  std::lock_guard<std::mutex> lock(FHandlersCS);
  return FOnThreadException;
}
TOutputDoneEvent TAuOutput::OnSyncDone() const {
  std::lock_guard<std::mutex> lock(FHandlersCS);
  return FOnSyncDone;
}

}  // namespace lirvo
