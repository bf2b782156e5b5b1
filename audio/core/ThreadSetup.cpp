#include "audio/core/ThreadSetup.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>

namespace lirvo {

namespace {

std::atomic<bool> gRealtimeAllowed{true};

// Nice value of the cache filler: above ordinary work, yet never a
// real-time thread. It decodes in bursts far ahead of the playback thread
// (seconds of ring); at SCHED_FIFO one burst would hold a processor off every
// ordinary thread (the UI, the server's helpers) for its whole length.
constexpr int kFillerNice = -5;

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

bool HasSysNice() {
  __user_cap_header_struct hdr{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (syscall(SYS_capget, &hdr, data) != 0) return false;
  return (data[CAP_SYS_NICE / 32].effective & (1u << (CAP_SYS_NICE % 32))) != 0;
}

int RtprioLimit() {
  struct rlimit rl {};
  if (getrlimit(RLIMIT_RTPRIO, &rl) != 0) return 0;
  if (rl.rlim_cur == RLIM_INFINITY || rl.rlim_cur > static_cast<rlim_t>(kRtprioUnlimited))
    return kRtprioUnlimited;
  return static_cast<int>(rl.rlim_cur);
}

TAudioPriorities PrioritiesNow(TAudioServer Server, int ServerPriority) {
  if (!gRealtimeAllowed) return {};
  if (Server == TAudioServer::Shared && ServerPriority < 0)
    ServerPriority = SharedServerRealtimePriority();
  return ChooseAudioPriorities(Server, ServerPriority, RtprioLimit(), HasSysNice());
}

// Real-time class, or the lowest nice value allowed when Priority is 0 or
// refused. SCHED_RESET_ON_FORK: a thread this one creates starts ordinary at
// nice 0, not at our priority, until it sets itself up.
bool ApplyRealtime(int tid, int Priority) {
  if (Priority > 0 && SetPolicy(tid, SCHED_FIFO | SCHED_RESET_ON_FORK, Priority)) return true;
  SetPolicy(tid, SCHED_OTHER | SCHED_RESET_ON_FORK, 0);
  return ApplyNice(tid, NiceOf(tpTimeCritical));
}

bool ApplyOrdinary(int tid, int Nice) {
  SetPolicy(tid, SCHED_OTHER, 0);
  return ApplyNice(tid, Nice);
}

// --- The server the calling thread feeds ---

struct TServerRecord {
  TAudioServer Server = TAudioServer::Shared;
  int Priority = -1;  // not read yet
};
thread_local TServerRecord tServer;

// --- The registry of running audio threads ---
// Fixed slots, so that registering never allocates; a slot holds a tid while
// its thread runs (0: free). The priority is what the thread took, so that
// another thread (the UI's priority setting) can restore it.

constexpr size_t kSlots = 64;
struct TSlot {
  std::atomic<int> Tid{0};
  std::atomic<int> Kind{0};
  std::atomic<int> Priority{0};
  // Its class is time-critical (not one its owner chose instead), so a new
  // server choice applies to it.
  std::atomic<bool> TimeCritical{false};
};
std::array<TSlot, kSlots> gSlots;

// Frees the calling thread's slot when it ends.
struct TRegistration {
  TSlot* Slot = nullptr;
  ~TRegistration() {
    if (Slot) Slot->Tid.store(0, std::memory_order_release);
  }
};
thread_local TRegistration tRegistration;

TSlot* Register(TAudioThreadKind Kind) {
  if (!tRegistration.Slot) {
    const int tid = CurrentTid();
    for (TSlot& s : gSlots) {
      int expected = 0;
      if (s.Tid.compare_exchange_strong(expected, tid, std::memory_order_acq_rel)) {
        tRegistration.Slot = &s;
        break;
      }
    }
  }
  if (tRegistration.Slot)
    tRegistration.Slot->Kind.store(static_cast<int>(Kind), std::memory_order_release);
  return tRegistration.Slot;
}

TSlot* FindSlot(int Tid) {
  if (Tid <= 0) return nullptr;
  for (TSlot& s : gSlots)
    if (s.Tid.load(std::memory_order_acquire) == Tid) return &s;
  return nullptr;
}

// --- /proc, read-only ---

std::string ReadSmall(const std::string& Path) {
  std::string out;
  int fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return out;
  char buf[1024];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || out.size() > 8192) break;
    out.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return out;
}

template <typename F>
void ForEachNumericEntry(const std::string& Dir, F&& Visit) {
  DIR* d = opendir(Dir.c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    const char* name = e->d_name;
    const size_t len = strlen(name);
    int id = 0;
    auto [end, ec] = std::from_chars(name, name + len, id);
    if (ec == std::errc() && end == name + len && id > 0) Visit(id);
  }
  closedir(d);
}

// Fields 40 (rt_priority) and 41 (policy) of a thread's stat, counted after
// the name in parentheses, which may hold anything.
bool ReadRtFields(const std::string& StatPath, int& RtPriority, int& Policy) {
  const std::string stat = ReadSmall(StatPath);
  size_t pos = stat.rfind(')');
  if (pos == std::string::npos) return false;
  pos += 1;
  int field = 2;
  while (field < 41) {
    while (pos < stat.size() && stat[pos] == ' ')
      ++pos;
    if (pos >= stat.size()) return false;
    size_t end = stat.find_first_of(" \n", pos);
    if (end == std::string::npos) end = stat.size();
    ++field;
    if (field == 40 || field == 41) {
      int v = 0;
      auto [p, ec] = std::from_chars(stat.data() + pos, stat.data() + end, v);
      if (ec != std::errc()) return false;
      (field == 40 ? RtPriority : Policy) = v;
    }
    pos = end;
  }
  return true;
}

const cpu_set_t gStartupCpusTouch = AllowedCpus();

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

TAudioPriorities ChooseAudioPriorities(TAudioServer Server, int ServerPriority, int RtprioLimit,
                                       bool Privileged) {
  TAudioPriorities p;
  switch (Server) {
    case TAudioServer::Jack:
      // JACK's process thread pulls from us: stay one below it.
      if (ServerPriority > 0) p.Playback = std::max(1, ServerPriority - 1);
      break;
    case TAudioServer::Shared:
      if (ServerPriority < 0) ServerPriority = kUnknownSharedServerPriority;
      if (ServerPriority > 0) p.Playback = std::max(1, ServerPriority - 1);
      break;
    case TAudioServer::None:
      // Our own driver thread is the device's consumer, as a server would be.
      p.Driver = kDirectDriverPriority;
      p.Playback = kDirectDriverPriority - 1;
      break;
  }
  // Feeding a server far up (PipeWire or JACK set to 80 and more) needs no
  // more than feeding the hardware.
  p.Playback = std::min(p.Playback, kDirectDriverPriority - 1);
  if (!Privileged) {
    const int limit = std::max(0, RtprioLimit);
    p.Playback = std::min(p.Playback, limit);
    p.Driver = std::min(p.Driver, limit);
  }
  return p;
}

int SharedServerRealtimePriority() {
  static constexpr std::array<std::string_view, 3> kServers = {"pulseaudio", "pipewire",
                                                               "pipewire-pulse"};
  int result = -1;
  ForEachNumericEntry("/proc", [&](int pid) {
    const std::string dir = "/proc/" + std::to_string(pid);
    std::string comm = ReadSmall(dir + "/comm");
    while (!comm.empty() && comm.back() == '\n')
      comm.pop_back();
    if (std::find(kServers.begin(), kServers.end(), comm) == kServers.end()) return;
    int top = 0;
    bool any = false;
    ForEachNumericEntry(dir + "/task", [&](int tid) {
      int rt = 0, policy = 0;
      if (!ReadRtFields(dir + "/task/" + std::to_string(tid) + "/stat", rt, policy)) return;
      any = true;
      if (policy == SCHED_FIFO || policy == SCHED_RR) top = std::max(top, rt);
    });
    // Below every server that runs: the one we feed is among them.
    if (any) result = result < 0 ? top : std::min(result, top);
  });
  return result;
}

void SetAudioServer(TAudioServer Server, int ServerPriority) {
  tServer.Server = Server;
  tServer.Priority = ServerPriority;
  TSlot* slot = FindSlot(CurrentTid());
  if (!slot ||
      slot->Kind.load(std::memory_order_acquire) != static_cast<int>(TAudioThreadKind::Playback))
    return;
  const int prio = PrioritiesNow(Server, ServerPriority).Playback;
  slot->Priority.store(prio, std::memory_order_release);
  // A playback thread its owner gave an ordinary class keeps it.
  if (slot->TimeCritical.load(std::memory_order_acquire)) ApplyRealtime(CurrentTid(), prio);
}

int AudioRealtimePriority() {
  return PrioritiesNow(tServer.Server, tServer.Priority).Playback;
}

int CurrentTid() {
  return static_cast<int>(syscall(SYS_gettid));
}

bool SetThreadPriorityByTid(int Tid, TThreadPriority Priority) {
  TSlot* slot = FindSlot(Tid);
  if (slot) slot->TimeCritical.store(Priority == tpTimeCritical, std::memory_order_release);
  if (Priority == tpIdle) {
    // SCHED_IDLE runs only when nothing else wants the processor.
    if (SetPolicy(Tid, SCHED_IDLE, 0)) return true;
    return SetNice(Tid, 19);
  }
  if (Priority == tpTimeCritical) {
    // An audio thread goes back to what it chose for its server.
    const int prio =
        slot ? slot->Priority.load(std::memory_order_acquire) : AudioRealtimePriority();
    return ApplyRealtime(Tid, gRealtimeAllowed ? prio : 0);
  }
  // Leave a real-time or idle class for an ordinary one before setting nice.
  return ApplyOrdinary(Tid, NiceOf(Priority));
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

cpu_set_t MaskWithin(uint32_t Mask, const cpu_set_t& Allowed) {
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int i = 0; i < 32; ++i)
    if ((Mask & (1u << i)) && CPU_ISSET(i, &Allowed)) CPU_SET(i, &set);
  return set;
}

const cpu_set_t& AllowedCpus() {
  // Read once, before any audio thread pins itself (the namespace-scope
  // copy above forces it at load time, on the thread that loads the program).
  static const cpu_set_t allowed = [] {
    cpu_set_t s;
    CPU_ZERO(&s);
    if (sched_getaffinity(0, sizeof(s), &s) != 0)
      for (int i = 0; i < CPUCount() && i < CPU_SETSIZE; ++i)
        CPU_SET(i, &s);
    return s;
  }();
  return allowed;
}

bool SetCurrentThreadAffinity(uint32_t Mask) {
  cpu_set_t set = MaskWithin(Mask, AllowedCpus());
  if (CPU_COUNT(&set) == 0) set = AllowedCpus();
  return pthread_setaffinity_np(pthread_self(), sizeof(set), &set) == 0;
}

void SetupAudioThread(TAudioThreadKind Kind) {
  // Priority boost, stack guarantee and error mode have no counterpart here.
  TSlot* slot = Register(Kind);
  const int tid = CurrentTid();
  // Named, so that top, perf and the benchmarks tell the audio threads apart
  // (at most 15 characters).
  const char* name = Kind == TAudioThreadKind::Playback ? "lirvo-playback"
                     : Kind == TAudioThreadKind::Driver ? "lirvo-driver"
                     : Kind == TAudioThreadKind::Event  ? "lirvo-events"
                                                        : "lirvo-filler";
  pthread_setname_np(pthread_self(), name);
  const int cpus = CPUCount();
  int rt = 0;
  switch (Kind) {
    case TAudioThreadKind::Playback:
      rt = PrioritiesNow(tServer.Server, tServer.Priority).Playback;
      ApplyRealtime(tid, rt);
      SetCurrentThreadAffinity(ProcessorMask0);
      break;
    case TAudioThreadKind::Driver:
      rt = PrioritiesNow(TAudioServer::None, 0).Driver;
      ApplyRealtime(tid, rt);
      // Anywhere: on the playback thread's processor it would only take
      // turns with it.
      SetCurrentThreadAffinity(~0u);
      break;
    case TAudioThreadKind::Event:
      if (!SetPolicy(tid, SCHED_IDLE, 0)) SetNice(tid, 19);
      SetCurrentThreadAffinity(cpus == 1 ? ProcessorMask0 : ProcessorMask1);
      break;
    case TAudioThreadKind::CacheFiller:
      ApplyOrdinary(tid, kFillerNice);
      SetCurrentThreadAffinity(cpus == 1   ? ProcessorMask0
                               : cpus == 2 ? ProcessorMask1
                                           : ProcessorMask2);
      break;
  }
  if (slot) {
    slot->Priority.store(rt, std::memory_order_release);
    slot->TimeCritical.store(Kind == TAudioThreadKind::Playback || Kind == TAudioThreadKind::Driver,
                             std::memory_order_release);
  }
}

std::vector<TAudioThreadInfo> RunningAudioThreads() {
  std::vector<TAudioThreadInfo> out;
  for (const TSlot& s : gSlots) {
    const int tid = s.Tid.load(std::memory_order_acquire);
    if (tid > 0)
      out.push_back({tid, static_cast<TAudioThreadKind>(s.Kind.load(std::memory_order_acquire))});
  }
  return out;
}

bool IsAudioThread(int Tid) {
  return FindSlot(Tid) != nullptr;
}

}  // namespace lirvo
