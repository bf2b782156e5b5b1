#pragma once
// The playback thread of one output. It sleeps between runs; Run wakes it for
// one run (PrepareOutput, WriteBlock until done, EndRun, events) and it sleeps
// again. Every flag read by another thread is atomic; sleeping, waking and
// pausing go through one mutex and condition variable, so no wake-up is lost.
//
// Only TAuOutput drives it; its methods are called by the output's own
// methods (UI thread) and run on the playback thread. None of them throws.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace lirvo {

class TAuOutput;

class TAuThread {
 public:
  // Starts the thread and returns once it sleeps with its id published.
  // Throws std::system_error when no thread can be made.
  explicit TAuThread(TAuOutput* Parent);
  ~TAuThread();  // Terminate and join

  // Ends the thread (waking it from its sleep or a pause) and joins it.
  // Idempotent. Not from the playback thread itself (joining itself throws
  // std::system_error). Today it does not stop a run in progress: it waits
  // until the run ends by itself, so callers Stop first (EndThread does).
  void Terminate();

  // Wake for one run; returns once the thread has taken the request, which
  // waits for the end of a run still in progress. From the playback thread
  // (OnSyncDone) it returns at once and the run follows the current one.
  void RequestRun();
  // Wake a paused thread (Stop). Never blocks.
  void SoftWake();
  // Wake a paused thread and wait until it has left the pause (Resume). No
  // time-out: it waits as long as the thread takes to get out of SoftPause.
  void WakeFromPause();
  // Waits until the thread pauses, the run ends, or 5 s pass; false on the
  // time-out (the pause request stays set and is taken at the next block).
  bool WaitForPause();
  // Waits up to Timeout for the thread to be sleeping between runs with no
  // run requested; false on the time-out.
  bool WaitSleeping(std::chrono::milliseconds Timeout);

  // The playback thread's kernel id, for its priority. Any thread.
  int Tid() const { return FTid.load(); }

  // The flags are written by the output (UI thread) and read by the loop
  // between blocks, or the other way round for the states.

  std::atomic<bool> DoNotify{true};      // announce the end of the run through OnDone
  std::atomic<bool> Stopped{false};      // finished a run and about to sleep
  std::atomic<bool> Stop{false};         // stop request to the running loop
  std::atomic<bool> AbortDevice{false};  // with Stop: stop the device without draining
  std::atomic<bool> SetPause{false};     // pause request to the running loop
  std::atomic<bool> Paused{false};       // sitting in a pause
  std::atomic<bool> Sleeping{false};     // waiting between runs
  std::atomic<int32_t> Delay{0};         // stored for the output's Delay property

 private:
  void Execute();
  void SoftSleep();
  void SoftPause();
  void DoRun();

  TAuOutput* Parent;
  std::mutex FMutex;  // guards FRunRequested, FWake and the waits
  std::condition_variable FCond;
  bool FRunRequested = false;
  bool FWake = false;  // a pause is to end
  std::atomic<bool> FTerminated{false};
  std::atomic<int> FTid{0};
  std::thread FThread;
};

}  // namespace lirvo
