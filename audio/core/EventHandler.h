#pragma once
// The process-wide event thread: carries the outputs' events to the UI
// thread (synchronously, through the UI dispatcher) and runs non-GUI jobs
// itself. Created by the first output, destroyed with the last.
//
// Two ways in. The outputs' own events (progress, error, end of run) are not
// queued: each output keeps them in its event slot (atomics) and calls Wake,
// which neither locks nor allocates, so the playback thread can call it
// between two blocks. Generic and non-GUI events from other threads go
// through a queue under CS.
//
// Threads: Post* from any thread but the playback threads' run loops; Wake
// from any thread; AddOutput/Purge on the thread that creates or destroys
// the component. CS is a leaf lock held only for list operations; handlers
// run without it.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/core/AudioClasses.h"

namespace lirvo {

struct TEventRecord {
  TEventType _type = etGeneric;
  TComponent* Sender = nullptr;
  TGenericEvent Handler;  // etGeneric and etNonGUI
};

class TEventHandler {
 public:
  TEventHandler();
  ~TEventHandler();  // ends and joins the thread

  // An output whose event slot the thread is to watch, until Purge.
  void AddOutput(TAuOutput* Output);
  // Something for the thread to look at: lock-free, never blocks, never
  // allocates (an atomic counter and a futex wake).
  void Wake() noexcept;

  void PostGenericEvent(TComponent* Sender, TGenericEvent Handler);
  // Goes to the head of the queue.
  void PostNonGuiEvent(TComponent* Sender, TGenericEvent Handler);

  void ClearEvents(TComponent* Sender);
  void BlockEvents(TComponent* Sender);
  void UnblockEvents(TComponent* Sender);

  // Drops Sender's queued events, stops watching it when it is an output,
  // and waits until no event of Sender is being delivered (running the UI
  // dispatcher meanwhile when called on the UI thread). Used before a
  // component goes away.
  void Purge(TComponent* Sender);

  int Tid() const { return FTid.load(); }

 private:
  void Execute();
  void Post(TEventRecord Record, bool AtHead);
  void Deliver(TEventRecord& Record);
  // Delivers what Output's slot holds; true when it held anything.
  bool ServeSlot(TAuOutput* Output);
  void SetCurrent(TComponent* Sender);

  std::mutex CS;  // guards Events, FOutputs, BlockedSender and FCurrentSender's writes
  std::condition_variable FDeliveredCV;  // FCurrentSender changed (Purge waits)
  std::deque<TEventRecord> Events;       // oldest first
  std::vector<TAuOutput*> FOutputs;
  TComponent* BlockedSender = nullptr;
  std::atomic<TComponent*> FCurrentSender{nullptr};  // sender being delivered
  std::atomic<uint32_t> FWakeCount{0};
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  std::atomic<int> FTid{0};
  std::thread FThread;
};

// The single event thread and its reference count (guarded internally).
// Acquire returns the event thread, which lives until the matching Release.
TEventHandler* AcquireEventHandler();
void ReleaseEventHandler();
// The current event thread, or nullptr when no output exists.
TEventHandler* EventHandler();

}  // namespace lirvo
