#pragma once
// The process-wide event thread: carries the outputs' events to the UI
// thread (synchronously, through the UI dispatcher) and runs non-GUI jobs
// itself. Created by the first output, destroyed with the last.
//
// Threads: the Post* calls come from playback threads, the event thread and
// the UI thread; ClearEvents/BlockEvents/UnblockEvents from the UI thread. CS
// is a leaf lock held only for list operations; handlers run without it.

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "audio/core/AudioClasses.h"
#include "audio/core/SyncEvent.h"

namespace lirvo {

struct TEventRecord {
  TEventType _type = etGeneric;
  TComponent* Sender = nullptr;
  TGenericEvent Handler;        // etGeneric and etNonGUI
  TAuThread* Thread = nullptr;  // etOnDone: the thread whose run ended
  uint64_t StopGeneration = 0;  // etOnDone: the output's synchronous-stop count at post
};

class TEventHandler {
 public:
  TEventHandler();
  ~TEventHandler();  // ends and joins the thread

  void PostOnProgress(TAuOutput* Sender);
  void PostOnDone(TAuOutput* Sender, TAuThread* Thread);
  void PostGenericEvent(TComponent* Sender, TGenericEvent Handler);
  // Goes to the head of the queue.
  void PostNonGuiEvent(TComponent* Sender, TGenericEvent Handler);

  void ClearEvents(TComponent* Sender);
  void BlockEvents(TComponent* Sender);
  void UnblockEvents(TComponent* Sender);

  // Drops Sender's queued events and waits until no event of Sender is being
  // delivered (running the UI dispatcher meanwhile when called on the UI
  // thread). Used before a component goes away.
  void Purge(TComponent* Sender);

  int Tid() const { return FTid.load(); }

 private:
  void Execute();
  void Post(TEventRecord Record, bool AtHead);
  void Deliver(TEventRecord& Record);

  std::mutex CS;                    // guards Events, BlockedSender, FCurrentSender
  std::deque<TEventRecord> Events;  // oldest first
  TComponent* BlockedSender = nullptr;
  TComponent* FCurrentSender = nullptr;  // sender of the record being delivered
  TAutoResetEvent _Evt;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  std::atomic<int> FTid{0};
  std::thread FThread;
};

// The single event thread and its reference count (guarded internally).
void AcquireEventHandler();
void ReleaseEventHandler();
// The current event thread, or nullptr when no output exists.
TEventHandler* EventHandler();

}  // namespace lirvo
