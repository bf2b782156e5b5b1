#pragma once
// What the kernel says about one thread of the test process: its class,
// real-time priority, nice value and processors, read per thread ID, and the
// way the real-time tests run a copy of their own binary as a child.

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

#include "audio/core/ThreadSetup.h"
#include "common/ExternalTools.h"

namespace lirvo::test {

struct TThreadSched {
  int Policy = -1;  // without SCHED_RESET_ON_FORK
  bool ResetOnFork = false;
  int Priority = 0;
  int Nice = 0;
  cpu_set_t Cpus{};
};

inline std::optional<TThreadSched> ReadThreadSched(int Tid) {
  TThreadSched s;
  const int policy = sched_getscheduler(Tid);
  if (policy < 0) return std::nullopt;
  s.Policy = policy & ~SCHED_RESET_ON_FORK;
  s.ResetOnFork = (policy & SCHED_RESET_ON_FORK) != 0;
  sched_param sp{};
  if (sched_getparam(Tid, &sp) != 0) return std::nullopt;
  s.Priority = sp.sched_priority;
  errno = 0;
  s.Nice = getpriority(PRIO_PROCESS, static_cast<id_t>(Tid));
  if (errno != 0) return std::nullopt;
  CPU_ZERO(&s.Cpus);
  if (sched_getaffinity(Tid, sizeof(s.Cpus), &s.Cpus) != 0) return std::nullopt;
  return s;
}

inline std::string CpuList(const cpu_set_t& Set) {
  std::string s;
  for (int i = 0; i < 64; ++i)
    if (CPU_ISSET(i, &Set)) s += (s.empty() ? "" : ",") + std::to_string(i);
  return "{" + s + "}";
}

inline bool SameCpus(const cpu_set_t& A, const cpu_set_t& B) {
  return CPU_EQUAL(&A, &B);
}

// The one running audio thread of Kind (0 when there is none or several).
inline int AudioThreadOf(TAudioThreadKind Kind) {
  int found = 0;
  for (const TAudioThreadInfo& t : RunningAudioThreads()) {
    if (t.Kind != Kind) continue;
    if (found) return 0;
    found = t.Tid;
  }
  return found;
}

inline std::string SelfExe() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// The environment variable that turns a child copy's DISABLED_ test on.
inline constexpr const char* kChildVar = "LIRVO_REALTIME_CHILD";

inline bool IsChild() {
  return std::getenv(kChildVar) != nullptr;
}

// Runs Filter (one DISABLED_ test of this binary) in a child copy, behind
// Prefix (e.g. "taskset -c 1"); the child prints "CHILD-OK" when its test
// passed. Returns the child's output.
inline std::string RunChild(const std::string& Filter, const std::string& Prefix = "") {
  const std::string cmd = std::string(kChildVar) + "=1 " + Prefix + " " + Quote(SelfExe()) +
                          " --gtest_also_run_disabled_tests --gtest_filter=" + Quote(Filter) +
                          " 2>&1 && echo CHILD-OK";
  const std::vector<uint8_t> out = RunCapture(cmd);
  return std::string(out.begin(), out.end());
}

}  // namespace lirvo::test
