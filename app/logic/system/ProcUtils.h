#pragma once
// Process utilities behind the system optimiser: the process list, the
// priority classes (nice values over every thread of a process), affinity,
// command lines, capabilities, timer slack and real-time scheduling of the
// calling thread. Linux only; no Qt.
//
// A process is changed task by task (/proc/PID/task): on Linux nice values and
// affinity belong to threads, so "the process's class" is the same nice value
// on each of its threads. A thread started after a change inherits the value
// of the thread that created it.
//
// Every operation reports failure as a value and never throws: a process that
// vanished, is protected or belongs to another user is simply not changed.

#include <sched.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lirvo {

// The process list holds at most this many IDs; further processes are left
// out of one snapshot.
inline constexpr size_t MaxProcessCount = 16384;

// Priority classes, with the values the settings and callers know them by.
// Each maps to one nice value: idle 19, normal 0, high -10, real-time -20.
enum TPriorityClass : uint32_t {
  IDLE_PRIORITY_CLASS = 0x40,
  NORMAL_PRIORITY_CLASS = 0x20,
  HIGH_PRIORITY_CLASS = 0x80,
  REALTIME_PRIORITY_CLASS = 0x100,
};
int NiceOfPriorityClass(TPriorityClass Class);

// Number of processors, set by LoadProcUtils (1 until then).
extern std::atomic<int> CpuCount;
// Whether the calling thread may be given real-time scheduling (the
// "ProAudio" step); set by LoadProcUtils.
extern std::atomic<bool> MmcssAvailable;

// Raises the three capabilities the player uses (CAP_SYS_NICE, CAP_SYS_BOOT,
// CAP_IPC_LOCK) from permitted to effective, sets CpuCount and decides
// MmcssAvailable. Call on the main thread before other threads start:
// capabilities belong to a thread and are inherited by the threads it starts.
// Idempotent.
void LoadProcUtils();

// Raises one permitted capability (CAP_...) to effective on the calling
// thread. True when the capability is effective afterwards.
bool EnablePrivilege(int Capability);

// Where the optimiser takes its process list from. The real one reads /proc;
// tests offer only processes they started.
class IProcessSource {
 public:
  virtual ~IProcessSource() = default;
  // Process IDs in snapshot order, at most MaxProcessCount.
  virtual std::vector<pid_t> GetProcessIdList() = 0;
};

// The numeric entries of /proc, in directory order.
class TProcFsProcessSource final : public IProcessSource {
 public:
  std::vector<pid_t> GetProcessIdList() override;
};

// The process list of /proc (at most MaxProcessCount IDs).
std::vector<pid_t> GetProcessIdList();

// Whether this process may set a thread now at nice Current to Nice
// (raising a nice value is always allowed; lowering it needs CAP_SYS_NICE or
// a large enough RLIMIT_NICE).
bool CanSetNice(int Nice, int Current);
// The nice value closest to Wanted this process may give a thread now at
// Current (Current itself when no step towards Wanted is allowed).
int ReachableNice(int Wanted, int Current);

// Sets the nice value of Class on every thread of the process. A class above
// a thread's present one that the limits refuse is applied as far as they
// allow (ReachableNice). False when the process has no threads left or any
// thread refused.
bool SetProcessPriorityClassById(pid_t Pid, TPriorityClass Class);

// Sets the processors of Mask (bit n = processor n) on every thread of the
// process. False when the process has no threads left, any thread refused or
// Mask names no processor.
bool SetProcessAffinityById(pid_t Pid, uint32_t Mask);

// The process's arguments (/proc/PID/cmdline) joined with single spaces;
// empty when it cannot be read (vanished, kernel thread, zombie). At most
// 64 KiB of the arguments are read.
std::string GetProcessCommandLine(pid_t Pid);

// Whether Pid is one of the kernel's own threads (kthreadd, workers, IRQ
// threads). False when it cannot be read.
bool IsKernelThread(pid_t Pid);

// Processors online.
int GetCpuCount();

// Masks of the optimiser: processors 0..Count-1, the last one, the first one.
// Masks are 32 bits wide: beyond 32 processors the 32nd stands for the last.
uint32_t AllProcessorsMask(int Count);
uint32_t LastProcessorMask(int Count);
inline constexpr uint32_t FirstProcessorMask = 1;

// Timer resolution of the calling thread, mapped onto its timer slack:
// Set asks for the smallest slack the kernel allows (any resolution request
// is met best by it), !Set goes back to the thread's default slack. Returns
// the slack in effect afterwards, in units of 100 ns (rounded up).
uint32_t SetTimerResolution(uint32_t Resolution100ns, bool Set);

// Whether the calling thread can be given real-time scheduling: real-time
// use is allowed for the process (RealtimeAllowed) and RLIMIT_RTPRIO or
// CAP_SYS_NICE permit it.
bool RealtimeSchedulingAvailable();
// Puts the calling thread into SCHED_FIFO, below the playback thread's
// priority, with SCHED_RESET_ON_FORK so programs it starts do not inherit
// it. True when it took effect; false also when the playback thread has no
// real-time priority above 1 to stay below.
bool JoinProAudioTask();

// The scheduling state of one thread as the optimiser records it.
struct TTaskSchedState {
  pid_t Pid = 0;           // the process
  pid_t Tid = 0;           // the thread
  uint64_t StartTime = 0;  // clock ticks after boot; tells a reused ID apart
  int Nice = 0;
  cpu_set_t Affinity{};
};

// The threads of a process with their nice value and affinity; threads that
// vanish while being read are left out.
std::vector<TTaskSchedState> ReadProcessTasks(pid_t Pid);
// The state of one thread now; false when it no longer exists or cannot be
// read.
bool ReadTaskState(pid_t Pid, pid_t Tid, TTaskSchedState& State);
// Start time of a thread (field 22 of its stat); false when unreadable.
bool ReadTaskStartTime(pid_t Pid, pid_t Tid, uint64_t& StartTime);

// Nice value of one thread; sets Ok.
int GetTaskNice(pid_t Tid, bool& Ok);
bool SetTaskNice(pid_t Tid, int Nice);
bool GetTaskAffinity(pid_t Tid, cpu_set_t& Set);
bool SetTaskAffinity(pid_t Tid, const cpu_set_t& Set);

}  // namespace lirvo
