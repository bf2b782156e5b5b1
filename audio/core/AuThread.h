#pragma once
// The playback thread of one output. It sleeps between runs; Run wakes it for
// one run (PrepareOutput, WriteBlock until done, EndRun, events) and it sleeps
// again. Every flag read by another thread is atomic; sleeping, waking and
// pausing go through one mutex and condition variable, so no wake-up is lost.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace lirvo {

class TAuOutput;

class TAuThread {
 public:
  explicit TAuThread(TAuOutput* Parent);
  ~TAuThread();  // Terminate and join

  // Ends the thread (waking it from its sleep) and joins it. Idempotent.
  void Terminate();

  // Wake for one run; returns once the thread has taken the request.
  void RequestRun();
  // Wake a paused thread (Stop).
  void SoftWake();
  // Wake a paused thread and wait until it has left the pause (Resume).
  void WakeFromPause();
  // Waits until the thread pauses, the run ends, or 5 s pass.
  bool WaitForPause();
  // Waits up to Timeout for the thread to be sleeping between runs.
  bool WaitSleeping(std::chrono::milliseconds Timeout);

  int Tid() const { return FTid.load(); }

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
