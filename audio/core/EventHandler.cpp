#include "audio/core/EventHandler.h"

#include <algorithm>
#include <exception>

#include "audio/core/UiDispatcher.h"

namespace lirvo {

namespace {

std::mutex gEventHandlerCS;  // guards the two below
TEventHandler* gEventHandler = nullptr;
int32_t gEventHandlerRefCount = 0;
// For the waits without a time-out that go through the dispatcher: they wake
// on notifications only.
constexpr auto kNoTimeout = std::chrono::hours(24);

}  // namespace

TEventHandler* AcquireEventHandler() {
  std::lock_guard<std::mutex> lock(gEventHandlerCS);
  if (gEventHandlerRefCount == 0) gEventHandler = new TEventHandler();
  ++gEventHandlerRefCount;
  return gEventHandler;
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
  Wake();
  // The thread may be blocked in a delivery to the UI thread: serve it while
  // waiting when we are the UI thread.
  if (IsUiThread()) {
    while (!ServeUntil([this] { return FFinished.load(); }, kNoTimeout)) {
    }
  }
  FThread.join();
}

void TEventHandler::Wake() noexcept {
  FWakeCount.fetch_add(1, std::memory_order_release);
  FWakeCount.notify_one();
}

void TEventHandler::AddOutput(TAuOutput* Output) {
  std::lock_guard<std::mutex> lock(CS);
  FOutputs.push_back(Output);
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
  Wake();
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

void TEventHandler::SetCurrent(TComponent* Sender) {
  {
    std::lock_guard<std::mutex> lock(CS);
    FCurrentSender = Sender;
  }
  FDeliveredCV.notify_all();
  // A Purge on the UI thread waits in the dispatcher.
  if (Sender == nullptr) WakeUiWaiters();
}

void TEventHandler::Purge(TComponent* Sender) {
  BlockEvents(Sender);
  {
    std::lock_guard<std::mutex> lock(CS);
    Events.erase(std::remove_if(Events.begin(), Events.end(),
                                [Sender](const TEventRecord& r) { return r.Sender == Sender; }),
                 Events.end());
    // Removing shifts the list under a round in progress: the wake below
    // makes the thread look again.
    FOutputs.erase(std::remove(FOutputs.begin(), FOutputs.end(), Sender), FOutputs.end());
  }
  Wake();
  if (IsUiThread()) {
    while (!ServeUntil([this, Sender] { return FCurrentSender.load() != Sender; }, kNoTimeout)) {
    }
  } else {
    std::unique_lock<std::mutex> lock(CS);
    FDeliveredCV.wait(lock, [this, Sender] { return FCurrentSender.load() != Sender; });
  }
  ClearEvents(Sender);
  UnblockEvents(Sender);
}

void TEventHandler::Execute() {
  SetupAudioThread(TAudioThreadKind::Event);
  FTid = CurrentTid();
  while (!FTerminated) {
    const uint32_t seen = FWakeCount.load(std::memory_order_acquire);
    bool busy = false;

    // One queued record per round, so queued events and the outputs' slots
    // take turns.
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
    if (have) {
      busy = true;
      try {
        Deliver(record);
      } catch (...) {
        // A handler's failure must not end the event thread; the handlers of
        // this program report their own errors on the status line.
      }
      record = TEventRecord();
      SetCurrent(nullptr);
    }

    for (size_t i = 0; !FTerminated; ++i) {
      TAuOutput* out = nullptr;
      {
        std::lock_guard<std::mutex> lock(CS);
        if (i >= FOutputs.size()) break;
        out = FOutputs[i];
        FCurrentSender = out;
      }
      try {
        if (ServeSlot(out)) busy = true;
      } catch (...) {
        // As above.
      }
      SetCurrent(nullptr);
    }

    // Sleep until someone wakes us; a wake after `seen` was read returns at once.
    if (!busy) FWakeCount.wait(seen, std::memory_order_acquire);
  }
  FFinished = true;
  WakeUiWaiters();
}

bool TEventHandler::ServeSlot(TAuOutput* Out) {
  TAuOutput::TEventSlot& slot = Out->FEventSlot;
  constexpr uint32_t kRing = TAuOutput::TEventSlot::kProgressRing;
  const uint64_t ended = slot.EndedRun.load(std::memory_order_acquire);
  const uint32_t head = slot.ProgressHead.load(std::memory_order_acquire);
  uint32_t tail = slot.ProgressTail.load(std::memory_order_relaxed);
  const uint64_t overflow = slot.ProgressOverflow.exchange(0, std::memory_order_acq_rel);
  if (head == tail && overflow == 0 && ended == slot.DeliveredEnd) return false;

  // The drop checks run on the UI thread, where synchronous stops are made,
  // so nothing of a stopped run gets through once Stop has returned.
  const bool wantProgress = static_cast<bool>(Out->OnProgress());
  auto deliverProgress = [Out, wantProgress](uint64_t Run) {
    if (!wantProgress) return;
    Synchronize([Out, Run] {
      if (Run <= Out->FDropUpTo.load()) return;
      if (TOutputProgressEvent h = Out->OnProgress()) h(Out);
    });
  };
  // Progress changes of a run that has ended come before its end, those of
  // the next run after it.
  auto drainProgress = [&](bool OnlyEnded) {
    while (tail != head && !FTerminated) {
      const uint64_t run = slot.ProgressRuns[tail % kRing];
      if (OnlyEnded && run > ended) break;
      ++tail;
      slot.ProgressTail.store(tail, std::memory_order_release);
      deliverProgress(run);
    }
  };

  drainProgress(true);
  if (overflow != 0 && overflow <= ended) deliverProgress(overflow);
  while (slot.DeliveredEnd < ended && !FTerminated) {
    const uint64_t run = ++slot.DeliveredEnd;
    if (slot.ErrorRun.load(std::memory_order_acquire) == run && Out->OnThreadException()) {
      Synchronize([Out, run] {
        if (run <= Out->FDropUpTo.load()) return;
        if (TThreadExceptionEvent h = Out->OnThreadException()) h(Out);
      });
    }
    if (Out->OnDone()) {
      Synchronize([Out, run] {
        if (run <= Out->FDropUpTo.load()) return;
        if (TOutputDoneEvent h = Out->OnDone()) h(Out);
      });
    }
  }
  drainProgress(false);
  if (overflow > ended) deliverProgress(overflow);
  return true;
}

void TEventHandler::Deliver(TEventRecord& Record) {
  switch (Record._type) {
    case etNonGUI:
      if (Record.Handler) Record.Handler(Record.Sender);
      break;
    case etGeneric: {
      TComponent* sender = Record.Sender;
      TGenericEvent& h = Record.Handler;
      Synchronize([sender, &h] {
        if (h) h(sender);
      });
      break;
    }
    case etOnProgress:
    case etOnDone:
      // The outputs' own events come through their slots.
      break;
  }
}

}  // namespace lirvo
