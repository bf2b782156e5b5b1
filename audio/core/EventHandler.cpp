#include "audio/core/EventHandler.h"

#include <algorithm>
#include <exception>

#include "audio/core/AuThread.h"
#include "audio/core/UiDispatcher.h"

namespace lirvo {

namespace {

constexpr auto kIdleWait = std::chrono::milliseconds(100);
constexpr auto kDonePoll = std::chrono::milliseconds(10);

std::mutex gEventHandlerCS;  // guards the two below
TEventHandler* gEventHandler = nullptr;
int32_t gEventHandlerRefCount = 0;

}  // namespace

void AcquireEventHandler() {
  std::lock_guard<std::mutex> lock(gEventHandlerCS);
  if (gEventHandlerRefCount == 0) gEventHandler = new TEventHandler();
  ++gEventHandlerRefCount;
}

void ReleaseEventHandler() {
  TEventHandler* last = nullptr;
  {
    std::lock_guard<std::mutex> lock(gEventHandlerCS);
    if (gEventHandlerRefCount <= 0) return;
    if (--gEventHandlerRefCount == 0) {
      last = gEventHandler;
      gEventHandler = nullptr;
    }
  }
  delete last;
}

TEventHandler* EventHandler() {
  std::lock_guard<std::mutex> lock(gEventHandlerCS);
  return gEventHandler;
}

TEventHandler::TEventHandler() {
  FThread = std::thread([this] { Execute(); });
}

TEventHandler::~TEventHandler() {
  FTerminated = true;
  _Evt.Signal();
  // The thread may be blocked in a delivery to the UI thread: serve it while
  // waiting when we are the UI thread.
  const bool onUi = IsUiThread();
  while (!FFinished) {
    if (onUi)
      CheckSynchronize(std::chrono::milliseconds(1));
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  FThread.join();
}

void TEventHandler::Post(TEventRecord Record, bool AtHead) {
  {
    std::lock_guard<std::mutex> lock(CS);
    if (Record.Sender != nullptr && Record.Sender == BlockedSender) return;
    if (AtHead)
      Events.push_front(std::move(Record));
    else
      Events.push_back(std::move(Record));
  }
  _Evt.Signal();
}

void TEventHandler::PostOnProgress(TAuOutput* Sender) {
  TEventRecord r;
  r._type = etOnProgress;
  r.Sender = Sender;
  Post(std::move(r), false);
}

void TEventHandler::PostOnDone(TAuOutput* Sender, TAuThread* Thread) {
  TEventRecord r;
  r._type = etOnDone;
  r.Sender = Sender;
  r.Thread = Thread;
  r.StopGeneration = Sender->FSyncStops.load();
  Post(std::move(r), false);
}

void TEventHandler::PostGenericEvent(TComponent* Sender, TGenericEvent Handler) {
  TEventRecord r;
  r._type = etGeneric;
  r.Sender = Sender;
  r.Handler = std::move(Handler);
  Post(std::move(r), false);
}

void TEventHandler::PostNonGuiEvent(TComponent* Sender, TGenericEvent Handler) {
  TEventRecord r;
  r._type = etNonGUI;
  r.Sender = Sender;
  r.Handler = std::move(Handler);
  Post(std::move(r), true);
}

void TEventHandler::ClearEvents(TComponent* Sender) {
  std::lock_guard<std::mutex> lock(CS);
  Events.erase(std::remove_if(Events.begin(), Events.end(),
                              [Sender](const TEventRecord& r) { return r.Sender == Sender; }),
               Events.end());
}

void TEventHandler::BlockEvents(TComponent* Sender) {
  std::lock_guard<std::mutex> lock(CS);
  BlockedSender = Sender;
}

void TEventHandler::UnblockEvents(TComponent*) {
  std::lock_guard<std::mutex> lock(CS);
  BlockedSender = nullptr;
}

void TEventHandler::Purge(TComponent* Sender) {
  BlockEvents(Sender);
  ClearEvents(Sender);
  const bool onUi = IsUiThread();
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(CS);
      if (FCurrentSender != Sender) break;
    }
    if (onUi)
      CheckSynchronize(std::chrono::milliseconds(1));
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ClearEvents(Sender);
  UnblockEvents(Sender);
}

void TEventHandler::Execute() {
  SetupAudioThread(TAudioThreadKind::Event);
  FTid = CurrentTid();
  while (!FTerminated) {
    TEventRecord record;
    bool have = false;
    {
      std::lock_guard<std::mutex> lock(CS);
      if (!Events.empty()) {
        record = std::move(Events.front());
        Events.pop_front();
        FCurrentSender = record.Sender;
        have = true;
      }
    }
    if (!have) {
      _Evt.WaitFor(kIdleWait);
      continue;
    }
    try {
      Deliver(record);
    } catch (...) {
      // A handler's failure must not end the event thread; the handlers of
      // this program report their own errors on the status line.
    }
    std::lock_guard<std::mutex> lock(CS);
    FCurrentSender = nullptr;
  }
  FFinished = true;
}

void TEventHandler::Deliver(TEventRecord& Record) {
  switch (Record._type) {
    case etOnDone: {
      auto* out = static_cast<TAuOutput*>(Record.Sender);
      // The handler may start the next run: wait until this run's thread is
      // asleep.
      while (!Record.Thread->WaitSleeping(kDonePoll)) {
        if (FTerminated) return;
      }
      ClearEvents(out);
      const uint64_t generation = Record.StopGeneration;
      TAuThread* thread = Record.Thread;
      Synchronize([out, thread, generation] {
        // Read the handler and the flags on the UI thread, where they are set.
        if (out->FSyncStops.load() != generation || !thread->DoNotify) return;
        if (TOutputDoneEvent h = out->OnDone()) h(out);
      });
      break;
    }
    case etNonGUI:
      if (Record.Handler) Record.Handler(Record.Sender);
      break;
    case etOnProgress: {
      auto* out = static_cast<TAuOutput*>(Record.Sender);
      Synchronize([out] {
        if (TOutputProgressEvent h = out->OnProgress()) h(out);
      });
      break;
    }
    case etGeneric: {
      TComponent* sender = Record.Sender;
      TGenericEvent& h = Record.Handler;
      Synchronize([sender, &h] {
        if (h) h(sender);
      });
      break;
    }
  }
}

}  // namespace lirvo
