#include <cmath>
#include <exception>

#include "audio/core/AuThread.h"
#include "audio/core/AudioClasses.h"
#include "audio/core/EventHandler.h"
#include "audio/core/UiDispatcher.h"

namespace lirvo {

namespace {
// How long a synchronous stop or a pause waits between looks at the thread.
constexpr auto kPollStep = std::chrono::milliseconds(1);
}  // namespace

// ---------------------------------------------------------------------------
// TAuThread

TAuThread::TAuThread(TAuOutput* AParent) : Parent(AParent) {
  FThread = std::thread([this] { Execute(); });
  // The owner may set the priority right after construction: wait until the
  // thread has published its id and is asleep.
  std::unique_lock<std::mutex> lock(FMutex);
  FCond.wait(lock, [this] { return Sleeping.load(); });
}

TAuThread::~TAuThread() {
  Terminate();
}

void TAuThread::Terminate() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FTerminated = true;
    FWake = true;
  }
  FCond.notify_all();
  if (FThread.joinable()) FThread.join();
}

void TAuThread::RequestRun() {
  const bool self = std::this_thread::get_id() == FThread.get_id();
  std::unique_lock<std::mutex> lock(FMutex);
  Stopped = false;
  Stop = false;
  AbortDevice = false;
  SetPause = false;
  FRunRequested = true;
  FCond.notify_all();
  // Return once the thread has taken the request, so that a Stop right after
  // Run sees the run. (Run from the thread's own OnSyncDone cannot wait: the
  // thread takes the request when the current run has ended.)
  if (self) return;
  FCond.wait(lock, [this] { return !FRunRequested || FTerminated; });
}

void TAuThread::SoftWake() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FWake = true;
  }
  FCond.notify_all();
}

void TAuThread::WakeFromPause() {
  std::unique_lock<std::mutex> lock(FMutex);
  FWake = true;
  FCond.notify_all();
  FCond.wait(lock, [this] { return !Paused.load() || FTerminated; });
}

bool TAuThread::WaitForPause() {
  std::unique_lock<std::mutex> lock(FMutex);
  return FCond.wait_for(lock, std::chrono::milliseconds(5000),
                        [this] { return Paused.load() || Sleeping.load() || FTerminated; });
}

bool TAuThread::WaitSleeping(std::chrono::milliseconds Timeout) {
  std::unique_lock<std::mutex> lock(FMutex);
  return FCond.wait_for(lock, Timeout, [this] { return Sleeping.load() && !FRunRequested; });
}

void TAuThread::SoftSleep() {
  std::unique_lock<std::mutex> lock(FMutex);
  Sleeping = true;
  FCond.notify_all();
  FCond.wait(lock, [this] { return FRunRequested || FTerminated; });
  Sleeping = false;
  if (FRunRequested) {
    // A stop requested while asleep belongs to no run.
    Stop = false;
    FRunRequested = false;
  }
  FCond.notify_all();
}

void TAuThread::SoftPause() {
  std::unique_lock<std::mutex> lock(FMutex);
  FWake = false;
  Paused = true;
  FCond.notify_all();
  FCond.wait(lock, [this] { return FWake || Stop.load() || FTerminated; });
  FWake = false;
  Paused = false;
  FCond.notify_all();
}

void TAuThread::Execute() {
  SetupAudioThread(TAudioThreadKind::Playback);
  FTid = CurrentTid();
  SoftSleep();
  while (!FTerminated) {
    DoRun();
    std::unique_lock<std::mutex> lock(FMutex);
    if (FRunRequested) {
      // A new Run arrived while this one was ending: go straight on.
      FRunRequested = false;
      Stop = false;
      FCond.notify_all();
      continue;
    }
    Stopped = true;
    lock.unlock();
    if (FTerminated) break;
    SoftSleep();
  }
  Sleeping = true;
  FCond.notify_all();
}

void TAuThread::DoRun() {
  TAuOutput* out = Parent;
  bool more = true;
  try {
    out->PrepareOutput();
    out->CanOutput = true;
    // SetPause was cleared by Run: a Pause asked for during PrepareOutput
    // still pauses this run.
    while (more && !Stop) {
      int32_t p = out->Progress();
      if (p != out->CurProgr.load()) {
        out->CurProgr = p;
        if (out->OnProgress()) {
          if (TEventHandler* eh = EventHandler()) eh->PostOnProgress(out);
        }
      }
      if (SetPause.exchange(false)) SoftPause();
      more = out->WriteBlock(Stop && AbortDevice);
    }
    if (Stop && AbortDevice && more) out->WriteBlock(true);
    Stop = false;
  } catch (const std::exception& e) {
    out->SetExceptionMessage(e.what());
    if (TThreadExceptionEvent h = out->OnThreadException()) {
      if (TEventHandler* eh = EventHandler()) eh->PostGenericEvent(out, std::move(h));
    }
    Stop = true;
  } catch (...) {
    out->SetExceptionMessage("Unknown error");
    if (TThreadExceptionEvent h = out->OnThreadException()) {
      if (TEventHandler* eh = EventHandler()) eh->PostGenericEvent(out, std::move(h));
    }
    Stop = true;
  }
  out->EndRun();
  if (TOutputDoneEvent h = out->OnSyncDone()) {
    try {
      h(out);
    } catch (...) {
      // A handler's failure must not unwind through the thread.
    }
  }
  if (TEventHandler* eh = EventHandler()) eh->PostOnDone(out, this);
}

// ---------------------------------------------------------------------------
// TAuOutput

TAuOutput::TAuOutput(TComponent* AOwner) : TComponent(AOwner) {
  AcquireEventHandler();
  FEventHandlerAcquired = true;
  FThread = std::make_unique<TAuThread>(this);
}

TAuOutput::~TAuOutput() {
  EndThread();
  if (FEventHandlerAcquired) {
    FEventHandlerAcquired = false;
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
  if (TEventHandler* eh = EventHandler()) eh->Purge(this);
  FThread.reset();
  // Links to this output's input are dropped with it.
  NotifyRemoval();
}

void TAuOutput::SetInput(TAuInput* Value) {
  TAuInput* old = FInput.load();
  if (Busy) {
    Stop(false);
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
  std::lock_guard<std::mutex> lock(RunCS);
  SetExceptionMessage("");
  if (Busy) throw EAuException("Component is Busy");
  if (!FInput.load()) throw EAuException("Input is not assigned");
  if (!FThread) throw EAuException("Component is Busy");
  Busy = true;
  FThread->RequestRun();
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
  t->DoNotify = Async;
  t->AbortDevice = AbortDevice;
  t->Stop = true;
  if (t->Paused) t->SoftWake();
  WakeForStop();
  if (TAuInput* in = FInput.load()) in->BreakWait();
  if (Async) return;

  // An end-of-run event posted before this point must not be delivered.
  FSyncStops.fetch_add(1);
  TEventHandler* eh = EventHandler();
  if (eh) {
    eh->BlockEvents(this);
    eh->ClearEvents(this);
  }
  const bool onUi = IsUiThread();
  // Wait for the thread to sleep. On the UI thread keep serving the event
  // thread, which may be blocked delivering to us.
  while (!t->WaitSleeping(kPollStep)) {
    if (t->Paused) t->SoftWake();
    if (onUi) CheckSynchronize(std::chrono::milliseconds(0));
  }
  if (eh) {
    eh->ClearEvents(this);
    eh->UnblockEvents(this);
  }
  t->DoNotify = true;
}

void TAuOutput::Pause() {
  if (!FInput.load()) throw EAuException("Input is not assigned.");
  if (!Busy) return;
  FThread->SetPause = true;
  FThread->WaitForPause();
  if (TAuInput* in = FInput.load()) in->_Pause();
}

void TAuOutput::Resume() {
  if (!Busy || !FThread->Paused) return;
  if (TAuInput* in = FInput.load()) in->_Resume();
  FThread->WakeFromPause();
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

void TAuOutput::EndRun() {
  if (!Busy) return;
  try {
    CanOutput = false;
    FinishOutput();
    FStopped = false;
  } catch (...) {
    // The output becomes idle whatever the device did while closing.
  }
  Busy = false;
}

TOutputStatus TAuOutput::Status() const {
  if (!Busy) return tosIdle;
  if (FThread && FThread->Paused) return tosPaused;
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
  return FThread ? FThread->Delay.load() : 0;
}

void TAuOutput::SetDelay(int32_t Value) {
  if (FThread && Value <= 100) FThread->Delay = Value;
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
