#pragma once
// The playback thread of one output. It sleeps between runs; Run wakes it for
// one run (PrepareOutput, WriteBlock until done, the end of the run) and it
// sleeps again.
//
// Other threads talk to it through one command word and read one state, both
// under FMutex; synchronous commands wait on FCond for the thread's
// acknowledgement. The run loop reads an atomic mirror of the command word
// between blocks and takes the mutex only when a command is pending, so a
// run that nobody disturbs never locks. Only the end of a run (after
// FinishOutput) takes FMutex and wakes the waiters, the UI dispatcher's
// included.
//
// Runs are numbered from 1 in the order the thread starts them; the output's
// events carry that number, so a synchronous stop can drop the events of the
// runs it stopped and no others.
//
// Only TAuOutput drives it. None of its methods throws.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace lirvo {

class TAuOutput;

class TAuThread {
 public:
  enum class TRunRequest { Started, Queued, Busy, NoInput };

  // Starts the thread and returns once it sleeps with its id published.
  // Throws std::system_error when no thread can be made.
  explicit TAuThread(TAuOutput* Parent);
  ~TAuThread();  // Terminate and join

  // Stops the run in progress (as an asynchronous stop), drops a queued run,
  // ends the thread and joins it: waits as long as the run in progress takes
  // to see the stop. Idempotent. Not from the playback thread itself.
  void Terminate();

  // Decides under the thread's lock whether a run may start. Busy: a run is
  // in progress (or the thread has ended). Queued: the run in progress was
  // abandoned by a synchronous stop that timed out; the thread starts the new
  // run as soon as that one has really ended. Started: the output is marked
  // busy and the thread has taken the request (from the playback thread
  // itself it returns at once and the run follows the current one).
  TRunRequest RequestRun(bool HasInput);
  // Records a stop of the run in progress (a queued run is dropped) and
  // returns the number of the latest run started, 0 when none was. Wakes a
  // paused run. Never blocks for long.
  uint64_t RequestStop(bool AbortDevice);
  // Waits up to Timeout until run Seq has ended (its OnSyncDone returned).
  // On the UI thread it keeps running synchronous calls meanwhile, woken by
  // the dispatcher, not by a timer. True when the run has ended.
  bool WaitRunEnded(uint64_t Seq, std::chrono::milliseconds Timeout);
  // A synchronous stop of run Seq gave up waiting: that run's end is no
  // longer announced (no OnSyncDone) and a Run meanwhile is queued.
  void Abandon(uint64_t Seq);
  // Waits without a time-out until no run is in progress or queued (serving
  // the UI dispatcher on the UI thread).
  void WaitIdle();

  // Asks the run to pause at its next block and waits until it has, the run
  // has ended, or 5 s pass; false on the time-out (the request stays and is
  // taken at the next block).
  bool RequestPause();
  // Wakes a paused run and waits until it has left the pause.
  void Resume();
  bool Paused() const { return FPausedMirror.load(); }

  bool OnThread() const { return std::this_thread::get_id() == FThreadId.load(); }
  // The playback thread's kernel id, for its priority. Any thread.
  int Tid() const { return FTid.load(); }
  // Stored for the output's Delay property.
  int32_t Delay() const { return FDelay.load(); }
  void SetDelay(int32_t Value) { FDelay = Value; }

 private:
  enum : uint32_t {
    cmdRun = 1u << 0,
    cmdStop = 1u << 1,
    cmdAbort = 1u << 2,
    cmdPause = 1u << 3,
    cmdResume = 1u << 4,
    cmdTerminate = 1u << 5,
  };
  enum class TState { Starting, Sleeping, Running, Paused };

  void Execute();
  // Sleeps until a run or the end is asked for; true to run.
  bool TakeRun(std::unique_lock<std::mutex>& Lock);
  void PauseHere();
  void DoRun(uint64_t Seq);
  void EndRun(uint64_t Seq);
  // Under FMutex.
  void SetCommands(uint32_t Value);
  bool IdleLocked() const;

  TAuOutput* Parent;
  mutable std::mutex FMutex;
  std::condition_variable FCond;
  uint32_t FCommands = 0;  // under FMutex
  TState FState = TState::Starting;
  bool FRunActive = false;  // a run was taken and its end not yet decided
  bool FAbandoned = false;  // the active run's synchronous stop timed out
  // Mirrors, written under FMutex, read by the run loop and waiters' predicates.
  std::atomic<uint32_t> FPending{0};
  std::atomic<bool> FPausedMirror{false};
  std::atomic<uint64_t> FRunSeq{0};    // number of the latest run started
  std::atomic<uint64_t> FEndedSeq{0};  // number of the latest run fully ended
  std::atomic<int32_t> FDelay{0};
  std::atomic<int> FTid{0};
  std::atomic<std::thread::id> FThreadId{};
  std::thread FThread;
};

}  // namespace lirvo
