#pragma once
// Tuning the machine in the player's favour while it runs, and undoing it.
//
// OptimizeSystem, in this order:
//   1. the processor masks (all, last, first) from the processor count;
//   2. the player's own process: affinity all processors, priority class
//      real-time (RealTimeOptimize) or high; its audio threads (those that
//      set themselves up, see RunningAudioThreads) keep the processors and
//      scheduling they chose;
//   3. a snapshot of the process list from the process source;
//   4. SuppressOtherProcesses: every other listed process except the
//      kernel's own threads idle class, affinity the last processor;
//   5. AudioServiceOptimize with the shared-output engine (aeDSound): the
//      audio servers (pipewire, pipewire-pulse, wireplumber, pulseaudio,
//      jackd, jackdbus, by executable base name) real-time class, affinity
//      the first processor;
//   6. PollSleepMs := 0 with MutiCoreOptimize, else 1;
//   7. Windows7Optimize and real-time scheduling available: the calling
//      thread joins the "ProAudio" task (real-time scheduling; never left);
//   8. the calling thread's timer resolution (0.9 ms asked for).
// Priority boost and the stack guarantee have no counterpart and are
// skipped.
//
// Before changing a thread the optimiser records its nice value and
// affinity. NormalizeSystem puts back exactly those and touches nothing
// else: no other process, no thread started since, no value somebody else
// changed since (the audio server's and the system's own settings survive),
// and no thread whose ID now belongs to another thread. It leaves the
// real-time step and the timer slack alone; they end with the process.
//
// A lower priority is given to another process only where it could be taken
// back: a thread this process could not raise to its present nice value again
// keeps it, so closing the player never leaves a process behind at idle.
//
// Every refused change is ignored (a process that vanished, is protected or
// belongs to another user stays as it is). Both operations run on the UI
// thread; the object is not shared between threads.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/logic/common/AppTypes.h"
#include "app/logic/system/ProcUtils.h"

namespace lirvo {

// What the optimiser works on besides the process list. Current() is the
// real machine; tests replace the parts they observe.
struct TOptimizerEnvironment {
  pid_t OwnPid = 0;  // the player's process
  int CpuCount = 1;  // processors the masks are computed for
  bool MmcssAvailable = false;
  std::function<bool()> JoinProAudio;                          // the real-time step
  std::function<uint32_t(uint32_t, bool)> SetTimerResolution;  // the timer step
  std::function<bool(pid_t)> IsAudioThread;                    // threads of OwnPid left as they are

  // This process, CpuCount, MmcssAvailable (LoadProcUtils is called first),
  // JoinProAudioTask, SetTimerResolution and the audio thread registry.
  static TOptimizerEnvironment Current();
};

// True for the executable base names of the audio servers; CommandLine is
// the process's arguments joined with spaces (GetProcessCommandLine).
bool IsAudioServerCommandLine(const std::string& CommandLine);

class TSystemOptimizer {
 public:
  // Processes must outlive the optimiser.
  explicit TSystemOptimizer(IProcessSource& Processes,
                            TOptimizerEnvironment Env = TOptimizerEnvironment::Current());

  void OptimizeSystem(const TOptimizeOption& Option, TAudioEngine Engine);
  void NormalizeSystem();

  // Threads whose values are recorded for the next NormalizeSystem.
  size_t RecordedTaskCount() const { return FRecords.size(); }

 private:
  struct TRecord {
    TTaskSchedState Original;  // found before the first change
    int AppliedNice = 0;       // in effect after the last change
    cpu_set_t AppliedAffinity{};
    bool NiceChanged = false;
    bool AffinityChanged = false;
  };

  // Gives every thread of Pid the class's nice value and the processors of
  // Mask (each when given), recording first.
  void ChangeProcess(pid_t Pid, std::optional<TPriorityClass> Class, std::optional<uint32_t> Mask);
  TRecord& RecordFor(const TTaskSchedState& Now);

  IProcessSource& FProcesses;
  TOptimizerEnvironment FEnv;
  std::map<pid_t, TRecord> FRecords;  // by thread ID
};

}  // namespace lirvo
