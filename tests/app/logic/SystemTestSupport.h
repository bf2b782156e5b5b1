#pragma once
// Support for the system tests: child processes the test owns, a lock that
// keeps the tests that retune this process from overlapping, and a snapshot
// of every other process's nice value and affinity.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/logic/system/ProcUtils.h"

extern char** environ;

namespace lirvo::test {

// A child process started with posix_spawn, killed and reaped by PID when it
// goes out of scope.
class TChild {
 public:
  // Runs Path with Argv (Argv[0] is what the process calls itself).
  TChild(const std::string& Path, std::vector<std::string> Argv) : FArgv(std::move(Argv)) {
    std::vector<char*> argv;
    for (std::string& a : FArgv)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&FPid, Path.c_str(), nullptr, nullptr, argv.data(), environ) != 0) FPid = 0;
    // posix_spawn returns while the kernel still sets up the new program;
    // its arguments show once that is done.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (FPid > 0 && GetProcessCommandLine(FPid).empty() &&
           std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~TChild() { Kill(); }
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;

  pid_t Pid() const { return FPid; }
  void Kill() {
    if (FPid <= 0) return;
    kill(FPid, SIGKILL);
    int status;
    waitpid(FPid, &status, 0);
    FPid = 0;
  }
  // Waits (bounded) until the child runs at least Count threads.
  bool WaitForTasks(size_t Count) const {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until) {
      if (ReadProcessTasks(FPid).size() >= Count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

 private:
  std::vector<std::string> FArgv;
  pid_t FPid = 0;
};

// Held while a test retunes this process, so that another test process of
// this binary never sees that as a change of "another process".
class TSystemTestLock {
 public:
  TSystemTestLock() {
    FFd = open("/tmp/lirvo-system-tests.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (FFd >= 0) flock(FFd, LOCK_EX);
  }
  ~TSystemTestLock() {
    if (FFd >= 0) close(FFd);
  }
  TSystemTestLock(const TSystemTestLock&) = delete;
  TSystemTestLock& operator=(const TSystemTestLock&) = delete;

 private:
  int FFd = -1;
};

// The main thread's nice value and affinity of every process on the machine,
// by PID.
inline std::map<pid_t, TTaskSchedState> SnapshotProcesses() {
  std::map<pid_t, TTaskSchedState> out;
  for (pid_t pid : GetProcessIdList()) {
    TTaskSchedState s;
    if (ReadTaskState(pid, pid, s)) out[pid] = s;
  }
  return out;
}

// Processes present in both snapshots (same start time, so the same process)
// whose nice value or affinity differ, except those in Exclude.
inline std::vector<std::string> ChangedProcesses(const std::map<pid_t, TTaskSchedState>& Before,
                                                 const std::map<pid_t, TTaskSchedState>& After,
                                                 const std::vector<pid_t>& Exclude) {
  std::vector<std::string> changed;
  for (const auto& [pid, b] : Before) {
    bool excluded = false;
    for (pid_t e : Exclude)
      excluded = excluded || e == pid;
    auto it = After.find(pid);
    if (excluded || it == After.end() || it->second.StartTime != b.StartTime) continue;
    if (it->second.Nice != b.Nice || !CPU_EQUAL(&it->second.Affinity, &b.Affinity))
      changed.push_back(std::to_string(pid) + " " + GetProcessCommandLine(pid));
  }
  return changed;
}

inline cpu_set_t MaskSet(uint32_t Mask) {
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int i = 0; i < 32; ++i)
    if (Mask & (1u << i)) CPU_SET(i, &set);
  return set;
}

}  // namespace lirvo::test
