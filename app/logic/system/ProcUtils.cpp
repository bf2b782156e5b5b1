#include "app/logic/system/ProcUtils.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "audio/core/ThreadSetup.h"

namespace lirvo {

std::atomic<int> CpuCount{1};
std::atomic<bool> MmcssAvailable{false};

namespace {

// Reads at most Limit bytes of a /proc file; empty when it cannot be opened.
std::string ReadSmallFile(const std::string& Path, size_t Limit) {
  std::string out;
  int fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return out;
  char buf[4096];
  while (out.size() < Limit) {
    ssize_t n = read(fd, buf, std::min(sizeof(buf), Limit - out.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return out;
}

// Numeric names of a directory (/proc or /proc/PID/task), in directory order.
std::vector<pid_t> NumericEntries(const std::string& Dir, size_t Max) {
  std::vector<pid_t> ids;
  DIR* d = opendir(Dir.c_str());
  if (!d) return ids;
  while (ids.size() < Max) {
    dirent* e = readdir(d);
    if (!e) break;
    const char* name = e->d_name;
    size_t len = strlen(name);
    pid_t id = 0;
    auto [end, ec] = std::from_chars(name, name + len, id);
    if (ec == std::errc() && end == name + len && id > 0) ids.push_back(id);
  }
  closedir(d);
  return ids;
}

std::vector<pid_t> ProcessTaskIds(pid_t Pid) {
  // More threads than processes allowed in the list would be a runaway
  // process; the bound only keeps the allocation finite.
  return NumericEntries("/proc/" + std::to_string(Pid) + "/task", MaxProcessCount);
}

bool HasEffectiveCapability(int Capability) {
  __user_cap_header_struct hdr{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (syscall(SYS_capget, &hdr, data) != 0) return false;
  if (Capability < 0 || Capability >= 64) return false;
  return (data[Capability / 32].effective & (1u << (Capability % 32))) != 0;
}

// One numeric field (counted from 1) of a /proc stat file. The name in
// parentheses may hold spaces and parentheses: fields are counted after the
// last ')', which field 3 (state) follows.
bool ReadStatField(const std::string& Path, int Field, uint64_t& Value) {
  std::string stat = ReadSmallFile(Path, 4096);
  size_t pos = stat.rfind(')');
  if (pos == std::string::npos || Field < 3) return false;
  pos += 1;
  for (int field = 3; field <= Field; ++field) {
    while (pos < stat.size() && stat[pos] == ' ')
      ++pos;
    size_t end = stat.find_first_of(" \n", pos);
    if (end == std::string::npos) end = stat.size();
    if (field == Field) {
      auto [p, ec] = std::from_chars(stat.data() + pos, stat.data() + end, Value);
      return ec == std::errc() && p == stat.data() + end && end > pos;
    }
    pos = end;
  }
  return false;
}

// The kernel's flag for its own threads (PF_KTHREAD, field 9 of stat).
constexpr uint64_t kPfKthread = 0x00200000;

void FillMask(uint32_t Mask, cpu_set_t& Set) {
  CPU_ZERO(&Set);
  for (int i = 0; i < 32; ++i)
    if (Mask & (1u << i)) CPU_SET(i, &Set);
}

}  // namespace

int NiceOfPriorityClass(TPriorityClass Class) {
  switch (Class) {
    case IDLE_PRIORITY_CLASS:
      return 19;
    case NORMAL_PRIORITY_CLASS:
      return 0;
    case HIGH_PRIORITY_CLASS:
      return -10;
    case REALTIME_PRIORITY_CLASS:
      return -20;
  }
  return 0;
}

bool CanSetNice(int Nice, int Current) {
  // Making a thread nicer is always allowed; going lower needs CAP_SYS_NICE
  // or an RLIMIT_NICE of at least 20 - Nice.
  if (Nice >= Current) return true;
  if (HasEffectiveCapability(CAP_SYS_NICE)) return true;
  struct rlimit rl {};
  if (getrlimit(RLIMIT_NICE, &rl) != 0) return false;
  return rl.rlim_cur == RLIM_INFINITY || static_cast<rlim_t>(20 - Nice) <= rl.rlim_cur;
}

int ReachableNice(int Wanted, int Current) {
  Wanted = std::clamp(Wanted, -20, 19);
  if (CanSetNice(Wanted, Current)) return Wanted;
  // Wanted is below Current and out of reach: as low as the limit allows,
  // never higher than where the thread already is.
  for (int n = Wanted + 1; n < Current; ++n)
    if (CanSetNice(n, Current)) return n;
  return Current;
}

bool EnablePrivilege(int Capability) {
  if (Capability < 0 || Capability >= 64) return false;
  __user_cap_header_struct hdr{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (syscall(SYS_capget, &hdr, data) != 0) return false;
  const uint32_t bit = 1u << (Capability % 32);
  __user_cap_data_struct& word = data[Capability / 32];
  if (!(word.permitted & bit)) return false;
  if (word.effective & bit) return true;
  word.effective |= bit;
  hdr = {_LINUX_CAPABILITY_VERSION_3, 0};
  return syscall(SYS_capset, &hdr, data) == 0;
}

void LoadProcUtils() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Failures are expected without capabilities; the optimiser then does
    // what the limits allow.
    EnablePrivilege(CAP_SYS_NICE);
    EnablePrivilege(CAP_SYS_BOOT);
    EnablePrivilege(CAP_IPC_LOCK);
    CpuCount = GetCpuCount();
    MmcssAvailable = RealtimeSchedulingAvailable();
  });
}

std::vector<pid_t> TProcFsProcessSource::GetProcessIdList() {
  return lirvo::GetProcessIdList();
}

std::vector<pid_t> GetProcessIdList() {
  return NumericEntries("/proc", MaxProcessCount);
}

int GetTaskNice(pid_t Tid, bool& Ok) {
  errno = 0;
  int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(Tid));
  Ok = errno == 0;
  return Ok ? nice : 0;
}

bool SetTaskNice(pid_t Tid, int Nice) {
  return setpriority(PRIO_PROCESS, static_cast<id_t>(Tid), Nice) == 0;
}

bool GetTaskAffinity(pid_t Tid, cpu_set_t& Set) {
  CPU_ZERO(&Set);
  return sched_getaffinity(Tid, sizeof(Set), &Set) == 0;
}

bool SetTaskAffinity(pid_t Tid, const cpu_set_t& Set) {
  return sched_setaffinity(Tid, sizeof(Set), &Set) == 0;
}

bool SetProcessPriorityClassById(pid_t Pid, TPriorityClass Class) {
  if (Pid <= 0) return false;
  const int wanted = NiceOfPriorityClass(Class);
  std::vector<pid_t> tids = ProcessTaskIds(Pid);
  bool ok = !tids.empty();
  for (pid_t tid : tids) {
    bool read = false;
    int current = GetTaskNice(tid, read);
    ok = read && SetTaskNice(tid, ReachableNice(wanted, current)) && ok;
  }
  return ok;
}

bool SetProcessAffinityById(pid_t Pid, uint32_t Mask) {
  if (Pid <= 0 || Mask == 0) return false;
  cpu_set_t set;
  FillMask(Mask, set);
  std::vector<pid_t> tids = ProcessTaskIds(Pid);
  bool ok = !tids.empty();
  for (pid_t tid : tids)
    ok = SetTaskAffinity(tid, set) && ok;
  return ok;
}

std::string GetProcessCommandLine(pid_t Pid) {
  if (Pid <= 0) return {};
  std::string raw = ReadSmallFile("/proc/" + std::to_string(Pid) + "/cmdline", 64 * 1024);
  // Arguments end with NUL each; the last one's NUL may be cut by the limit.
  while (!raw.empty() && raw.back() == '\0')
    raw.pop_back();
  std::replace(raw.begin(), raw.end(), '\0', ' ');
  return raw;
}

int GetCpuCount() {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(std::min<long>(n, CPU_SETSIZE)) : 1;
}

uint32_t AllProcessorsMask(int Count) {
  if (Count >= 32) return 0xFFFFFFFFu;
  if (Count <= 1) return 1;
  return (1u << Count) - 1;
}

uint32_t LastProcessorMask(int Count) {
  // A shift by 32 or more is undefined; the mask cannot name processors
  // beyond the 32nd.
  return 1u << (std::clamp(Count, 1, 32) - 1);
}

uint32_t SetTimerResolution(uint32_t Resolution100ns, bool Set) {
  // Slack 0 means "the thread's default"; 1 ns is the smallest there is.
  prctl(PR_SET_TIMERSLACK, Set ? 1UL : 0UL, 0, 0, 0);
  int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
  if (slack < 0) return 0;
  return static_cast<uint32_t>((static_cast<uint64_t>(slack) + 99) / 100);
}

bool RealtimeSchedulingAvailable() {
  if (!RealtimeAllowed()) return false;
  if (HasEffectiveCapability(CAP_SYS_NICE)) return true;
  struct rlimit rl {};
  return getrlimit(RLIMIT_RTPRIO, &rl) == 0 && rl.rlim_cur > 0;
}

bool JoinProAudioTask() {
  if (!RealtimeAllowed()) return false;
  // Below the playback thread (AudioRealtimePriority): the window must never
  // hold it off, only everything ordinary. With the playback thread at 1 or
  // not real-time there is no room below it.
  const int audio = AudioRealtimePriority();
  if (audio <= 1) return false;
  int prio = std::max(1, audio - 10);
  if (!HasEffectiveCapability(CAP_SYS_NICE)) {
    struct rlimit rl {};
    if (getrlimit(RLIMIT_RTPRIO, &rl) != 0 || rl.rlim_cur == 0) return false;
    if (rl.rlim_cur != RLIM_INFINITY) prio = std::min<int>(prio, static_cast<int>(rl.rlim_cur));
  }
  struct sched_param sp {};
  sp.sched_priority = prio;
  return sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &sp) == 0;
}

bool ReadTaskStartTime(pid_t Pid, pid_t Tid, uint64_t& StartTime) {
  return ReadStatField("/proc/" + std::to_string(Pid) + "/task/" + std::to_string(Tid) + "/stat",
                       22, StartTime);
}

bool IsKernelThread(pid_t Pid) {
  uint64_t flags = 0;
  return ReadStatField("/proc/" + std::to_string(Pid) + "/stat", 9, flags) &&
         (flags & kPfKthread) != 0;
}

bool ReadTaskState(pid_t Pid, pid_t Tid, TTaskSchedState& State) {
  State.Pid = Pid;
  State.Tid = Tid;
  if (!ReadTaskStartTime(Pid, Tid, State.StartTime)) return false;
  bool ok = false;
  State.Nice = GetTaskNice(Tid, ok);
  return ok && GetTaskAffinity(Tid, State.Affinity);
}

std::vector<TTaskSchedState> ReadProcessTasks(pid_t Pid) {
  std::vector<TTaskSchedState> tasks;
  if (Pid <= 0) return tasks;
  for (pid_t tid : ProcessTaskIds(Pid)) {
    TTaskSchedState s;
    if (ReadTaskState(Pid, tid, s)) tasks.push_back(s);
  }
  return tasks;
}

}  // namespace lirvo
