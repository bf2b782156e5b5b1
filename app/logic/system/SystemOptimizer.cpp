#include "app/logic/system/SystemOptimizer.h"

#include <unistd.h>

#include <array>
#include <string_view>

#include "audio/core/Pool.h"
#include "audio/core/ThreadSetup.h"

namespace lirvo {

namespace {

// The resolution asked for, in units of 100 ns (0.9 ms).
constexpr uint32_t kTimerResolution = 9000;

constexpr std::array<std::string_view, 6> kAudioServers = {
    "pipewire", "pipewire-pulse", "wireplumber", "pulseaudio", "jackd", "jackdbus"};

}  // namespace

TOptimizerEnvironment TOptimizerEnvironment::Current() {
  LoadProcUtils();
  TOptimizerEnvironment env;
  env.OwnPid = getpid();
  env.CpuCount = lirvo::CpuCount;
  env.MmcssAvailable = lirvo::MmcssAvailable;
  env.JoinProAudio = JoinProAudioTask;
  env.SetTimerResolution = lirvo::SetTimerResolution;
  env.IsAudioThread = [](pid_t Tid) { return lirvo::IsAudioThread(static_cast<int>(Tid)); };
  return env;
}

bool IsAudioServerCommandLine(const std::string& CommandLine) {
  std::string_view exe(CommandLine);
  exe = exe.substr(0, exe.find(' '));
  size_t slash = exe.rfind('/');
  if (slash != std::string_view::npos) exe.remove_prefix(slash + 1);
  for (std::string_view name : kAudioServers)
    if (exe == name) return true;
  return false;
}

TSystemOptimizer::TSystemOptimizer(IProcessSource& Processes, TOptimizerEnvironment Env)
    : FProcesses(Processes), FEnv(std::move(Env)) {}

TSystemOptimizer::TRecord& TSystemOptimizer::RecordFor(const TTaskSchedState& Now) {
  auto it = FRecords.find(Now.Tid);
  // A record of a thread that ended and whose ID was handed out again is of
  // no use: the new thread's values are what must come back.
  if (it != FRecords.end() && it->second.Original.StartTime != Now.StartTime) {
    FRecords.erase(it);
    it = FRecords.end();
  }
  if (it == FRecords.end()) {
    TRecord r;
    r.Original = Now;
    r.AppliedNice = Now.Nice;
    r.AppliedAffinity = Now.Affinity;
    it = FRecords.emplace(Now.Tid, r).first;
  }
  return it->second;
}

void TSystemOptimizer::ChangeProcess(pid_t Pid, std::optional<TPriorityClass> Class,
                                     std::optional<uint32_t> Mask) {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (Mask) {
    for (int i = 0; i < 32; ++i)
      if (*Mask & (1u << i)) CPU_SET(i, &set);
  }
  const bool own = Pid == FEnv.OwnPid && FEnv.IsAudioThread;
  for (const TTaskSchedState& now : ReadProcessTasks(Pid)) {
    // The audio threads chose their processors and class for the server they
    // feed; the process-wide values would undo that.
    if (own && FEnv.IsAudioThread(now.Tid)) continue;
    TRecord& rec = RecordFor(now);
    if (Class) {
      int nice = ReachableNice(NiceOfPriorityClass(*Class), now.Nice);
      // A lower priority this process could not take back again is not
      // given: NormalizeSystem must be able to restore what it found.
      bool reversible = nice <= rec.Original.Nice || CanSetNice(rec.Original.Nice, nice);
      if (nice != now.Nice && reversible && SetTaskNice(now.Tid, nice)) {
        rec.NiceChanged = true;
        rec.AppliedNice = nice;
      }
    }
    if (Mask && SetTaskAffinity(now.Tid, set)) {
      // The kernel drops processors that are offline or outside the cpuset;
      // what it kept is what NormalizeSystem compares with.
      cpu_set_t applied;
      if (GetTaskAffinity(now.Tid, applied)) {
        rec.AffinityChanged = true;
        rec.AppliedAffinity = applied;
      }
    }
  }
}

void TSystemOptimizer::OptimizeSystem(const TOptimizeOption& Option, TAudioEngine Engine) {
  const uint32_t allMask = AllProcessorsMask(FEnv.CpuCount);
  const uint32_t lastMask = LastProcessorMask(FEnv.CpuCount);

  ChangeProcess(FEnv.OwnPid,
                Option.RealTimeOptimize ? REALTIME_PRIORITY_CLASS : HIGH_PRIORITY_CLASS, allMask);

  const std::vector<pid_t> pids = FProcesses.GetProcessIdList();

  if (Option.SuppressOtherProcesses) {
    // The kernel's own threads (its workers, soft-interrupt and IRQ threads,
    // the sound card's among them) are not processes the user runs; pushing
    // them to idle would hold off the very audio path being favoured.
    for (pid_t pid : pids)
      if (pid != FEnv.OwnPid && !IsKernelThread(pid))
        ChangeProcess(pid, IDLE_PRIORITY_CLASS, lastMask);
  }

  if (Option.AudioServiceOptimize && Engine == aeDSound) {
    for (pid_t pid : pids)
      if (IsAudioServerCommandLine(GetProcessCommandLine(pid)))
        ChangeProcess(pid, REALTIME_PRIORITY_CLASS, FirstProcessorMask);
  }

  PollSleepMs = Option.MutiCoreOptimize ? 0 : 1;

  if (Option.Windows7Optimize && FEnv.MmcssAvailable && FEnv.JoinProAudio) FEnv.JoinProAudio();

  if (FEnv.SetTimerResolution) FEnv.SetTimerResolution(kTimerResolution, true);
}

void TSystemOptimizer::NormalizeSystem() {
  for (auto& [tid, rec] : FRecords) {
    TTaskSchedState now;
    if (!ReadTaskState(rec.Original.Pid, tid, now) || now.StartTime != rec.Original.StartTime)
      continue;  // ended; its ID may already belong to another thread
    // A value that differs from the one set here was changed by somebody
    // else since, who meant it.
    if (rec.NiceChanged && now.Nice == rec.AppliedNice) SetTaskNice(tid, rec.Original.Nice);
    if (rec.AffinityChanged && CPU_EQUAL(&now.Affinity, &rec.AppliedAffinity))
      SetTaskAffinity(tid, rec.Original.Affinity);
  }
  FRecords.clear();
}

}  // namespace lirvo
