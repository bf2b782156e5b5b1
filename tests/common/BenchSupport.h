#pragma once
// What the benchmark programs share: a scratch folder of their own, the CPU
// time a run cost, and what another process's threads cost while it runs.

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lirvo::test {

// A fresh folder /tmp/<Prefix>-XXXXXX; "" when it cannot be made. The caller
// removes it.
std::string MakeTempDir(const std::string& Prefix);

// User plus system CPU seconds of Who (RUSAGE_SELF or RUSAGE_CHILDREN).
double CpuSeconds(int Who = RUSAGE_SELF);

// One thread of another process as /proc shows it.
struct TThreadSample {
  pid_t Tid = 0;
  std::string Comm;
  double CpuSeconds = 0;  // time on a CPU
  int64_t Voluntary = 0;  // voluntary_ctxt_switches: times it went to sleep
  int64_t Involuntary = 0;
};

// Every live thread of Pid, by ascending tid (the order of creation unless
// the tids wrapped); empty when the process is gone.
std::vector<TThreadSample> SampleThreads(pid_t Pid);

// User plus system CPU seconds of the whole process Pid so far, its ended
// threads included; negative when it is gone.
double ProcessCpuSeconds(pid_t Pid);

// Samples Pid's threads every Interval on a thread of its own, keeping the
// last values seen for each tid: a thread that ends before the process
// keeps its last sample. Stops (and takes a last sample) on Stop() or
// destruction. The first sample at least MarkAfter after the start is kept
// as the mark: from it to the last sample is the process's steady state,
// without its start-up.
class TThreadWatch {
 public:
  struct TPoint {
    double AtS = -1;  // seconds since the watch started; < 0: none yet
    double ProcessCpuS = 0;
    std::map<pid_t, TThreadSample> Threads;
  };

  TThreadWatch(pid_t Pid, std::chrono::milliseconds Interval,
               std::chrono::milliseconds MarkAfter = std::chrono::milliseconds(0));
  ~TThreadWatch();
  TThreadWatch(const TThreadWatch&) = delete;
  TThreadWatch& operator=(const TThreadWatch&) = delete;

  // Takes one sample now (e.g. right before the process is reaped).
  void SampleNow();
  void Stop();
  // The last values of every thread seen, by tid.
  std::map<pid_t, TThreadSample> Last() const;
  // The mark and the last sample in which the process was still there.
  TPoint Mark() const;
  TPoint LastPoint() const;
  // The last sample taken at or before AtS (AtS < 0 when there is none).
  TPoint PointBefore(double AtS) const;

 private:
  pid_t FPid;
  mutable std::mutex FMutex;
  std::condition_variable_any FWake;
  std::map<pid_t, TThreadSample> FLast;
  std::chrono::steady_clock::time_point FStart;
  std::chrono::milliseconds FMarkAfter;
  TPoint FMark;
  TPoint FLastPoint;
  std::vector<TPoint> FPoints;  // every sample, in order
  std::jthread FThread;
};

}  // namespace lirvo::test
