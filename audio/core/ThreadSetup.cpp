#include "audio/core/ThreadSetup.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace lirvo {

namespace {

std::atomic<bool> gRealtimeAllowed{true};

// Nice values of the priority classes below time-critical.
int NiceOf(TThreadPriority p) {
  switch (p) {
    case tpIdle:
      return 19;
    case tpLowest:
      return 10;
    case tpLower:
      return 5;
    case tpNormal:
      return 0;
    case tpHigher:
      return -5;
    case tpHighest:
      return -10;
    case tpTimeCritical:
      return -20;
  }
  return 0;
}

bool SetNice(int tid, int nice) {
  return setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0;
}

// Sets the nice value Want, or the nearest value RLIMIT_NICE allows when an
// unprivileged thread may not go that low; leaves it alone otherwise.
bool ApplyNice(int tid, int want) {
  if (SetNice(tid, want)) return true;
  struct rlimit rl;
  if (getrlimit(RLIMIT_NICE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY && rl.rlim_cur > 0) {
    const int lowest = std::clamp(20 - static_cast<int>(rl.rlim_cur), -20, 19);
    if (want < lowest) return SetNice(tid, lowest);
  }
  return false;
}

bool SetPolicy(int tid, int policy, int priority) {
  struct sched_param sp {};
  sp.sched_priority = priority;
  return sched_setscheduler(tid, policy, &sp) == 0;
}

}  // namespace

int CPUCount() {
  static const int count = [] {
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<int>(n) : 1;
  }();
  return count;
}

void SetRealtimeAllowed(bool Allowed) {
  gRealtimeAllowed = Allowed;
}
bool RealtimeAllowed() {
  return gRealtimeAllowed;
}

int AudioRealtimePriority() {
  // PipeWire and JACK run their own threads at 88 and above (PulseAudio at 5
  // with rtkit); stay below the servers but above ordinary real-time work.
  int maxp = sched_get_priority_max(SCHED_FIFO);
  return std::min(70, maxp);
}

int CurrentTid() {
  return static_cast<int>(syscall(SYS_gettid));
}

bool SetThreadPriorityByTid(int Tid, TThreadPriority Priority) {
  if (Priority == tpIdle) {
    // SCHED_IDLE runs only when nothing else wants the processor.
    if (SetPolicy(Tid, SCHED_IDLE, 0)) return true;
    return SetNice(Tid, 19);
  }
  if (Priority == tpTimeCritical && gRealtimeAllowed) {
    int prio = AudioRealtimePriority();
    if (SetPolicy(Tid, SCHED_FIFO, prio)) return true;
    // Without CAP_SYS_NICE, RLIMIT_RTPRIO caps the priority we may take.
    struct rlimit rl;
    if (getrlimit(RLIMIT_RTPRIO, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY &&
        static_cast<int>(rl.rlim_cur) < prio && rl.rlim_cur > 0 &&
        SetPolicy(Tid, SCHED_FIFO, static_cast<int>(rl.rlim_cur)))
      return true;
  }
  // Leave a real-time or idle class for an ordinary one before setting nice.
  SetPolicy(Tid, SCHED_OTHER, 0);
  return ApplyNice(Tid, NiceOf(Priority));
}

TThreadPriority GetThreadPriorityByTid(int Tid) {
  int policy = sched_getscheduler(Tid);
  if (policy == SCHED_FIFO || policy == SCHED_RR) return tpTimeCritical;
  if (policy == SCHED_IDLE) return tpIdle;
  errno = 0;
  int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(Tid));
  if (errno != 0) return tpNormal;
  if (nice >= 19) return tpIdle;
  if (nice >= 10) return tpLowest;
  if (nice >= 5) return tpLower;
  if (nice > -5) return tpNormal;
  if (nice > -10) return tpHigher;
  if (nice > -20) return tpHighest;
  return tpTimeCritical;
}

bool SetCurrentThreadPriority(TThreadPriority Priority) {
  return SetThreadPriorityByTid(CurrentTid(), Priority);
}

bool SetCurrentThreadAffinity(uint32_t Mask) {
  cpu_set_t set;
  CPU_ZERO(&set);
  int cpus = CPUCount();
  bool any = false;
  for (int i = 0; i < 32 && i < cpus; ++i) {
    if (Mask & (1u << i)) {
      CPU_SET(i, &set);
      any = true;
    }
  }
  if (!any) return false;
  return pthread_setaffinity_np(pthread_self(), sizeof(set), &set) == 0;
}

void SetupAudioThread(TAudioThreadKind Kind) {
  // Priority boost, stack guarantee and error mode have no counterpart here.
  switch (Kind) {
    case TAudioThreadKind::Playback:
      SetCurrentThreadPriority(tpTimeCritical);
      SetCurrentThreadAffinity(ProcessorMask0);
      break;
    case TAudioThreadKind::Event:
      SetCurrentThreadPriority(tpIdle);
      SetCurrentThreadAffinity(CPUCount() == 1 ? ProcessorMask0 : ProcessorMask1);
      break;
    case TAudioThreadKind::CacheFiller:
      SetCurrentThreadPriority(tpTimeCritical);
      SetCurrentThreadAffinity(CPUCount() == 1   ? ProcessorMask0
                               : CPUCount() == 2 ? ProcessorMask1
                                                 : ProcessorMask2);
      break;
  }
}

}  // namespace lirvo
