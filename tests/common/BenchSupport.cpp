#include "common/BenchSupport.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace lirvo::test {

namespace {

// utime + stime of a /proc stat line, in seconds. The name in parentheses
// may hold spaces, so the fields are counted from the last ')'.
double StatCpuSeconds(const std::string& Line) {
  const size_t close = Line.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream in(Line.substr(close + 1));
  std::string field;
  double utime = -1, stime = -1;
  // After the name: state is field 3, utime 14, stime 15.
  for (int n = 3; n <= 15 && in >> field; ++n) {
    if (n == 14) utime = std::atof(field.c_str());
    if (n == 15) stime = std::atof(field.c_str());
  }
  if (utime < 0 || stime < 0) return -1;
  return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::string FirstLine(const std::filesystem::path& P) {
  std::ifstream in(P);
  std::string line;
  std::getline(in, line);
  return line;
}

int64_t StatusField(const std::filesystem::path& P, const std::string& Key) {
  std::ifstream in(P);
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, Key.size(), Key) == 0 && line.size() > Key.size() &&
        line[Key.size()] == ':')
      return std::atoll(line.c_str() + Key.size() + 1);
  return 0;
}

}  // namespace

std::string MakeTempDir(const std::string& Prefix) {
  const std::string pattern = "/tmp/" + Prefix + "-XXXXXX";
  std::vector<char> tmpl(pattern.begin(), pattern.end());
  tmpl.push_back('\0');
  if (!mkdtemp(tmpl.data())) return "";
  return tmpl.data();
}

double CpuSeconds(int Who) {
  rusage ru{};
  getrusage(Who, &ru);
  return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
         ru.ru_stime.tv_usec / 1e6;
}

std::vector<TThreadSample> SampleThreads(pid_t Pid) {
  std::vector<TThreadSample> out;
  std::error_code ec;
  const std::filesystem::path tasks = "/proc/" + std::to_string(Pid) + "/task";
  for (const auto& entry : std::filesystem::directory_iterator(tasks, ec)) {
    TThreadSample s;
    s.Tid = static_cast<pid_t>(std::atoi(entry.path().filename().c_str()));
    s.Comm = FirstLine(entry.path() / "comm");
    // schedstat counts nanoseconds on the CPU; stat only clock ticks.
    const std::string sched = FirstLine(entry.path() / "schedstat");
    const double cpu = sched.empty() ? StatCpuSeconds(FirstLine(entry.path() / "stat"))
                                     : std::atof(sched.c_str()) / 1e9;
    // A thread that ended between the listing and the reads.
    if (s.Tid <= 0 || s.Comm.empty() || cpu < 0) continue;
    s.CpuSeconds = cpu;
    s.Voluntary = StatusField(entry.path() / "status", "voluntary_ctxt_switches");
    s.Involuntary = StatusField(entry.path() / "status", "nonvoluntary_ctxt_switches");
    out.push_back(std::move(s));
  }
  std::sort(out.begin(), out.end(),
            [](const TThreadSample& A, const TThreadSample& B) { return A.Tid < B.Tid; });
  return out;
}

double ProcessCpuSeconds(pid_t Pid) {
  const std::string line = FirstLine("/proc/" + std::to_string(Pid) + "/stat");
  return line.empty() ? -1 : StatCpuSeconds(line);
}

TThreadWatch::TThreadWatch(pid_t Pid, std::chrono::milliseconds Interval,
                           std::chrono::milliseconds MarkAfter)
    : FPid(Pid), FStart(std::chrono::steady_clock::now()), FMarkAfter(MarkAfter) {
  SampleNow();
  FThread = std::jthread([this, Interval](std::stop_token Stop) {
    std::unique_lock lock(FMutex);
    // Woken by Stop() at once, not at the next round.
    while (!FWake.wait_for(lock, Stop, Interval, [] { return false; }) && !Stop.stop_requested()) {
      lock.unlock();
      SampleNow();
      lock.lock();
    }
  });
}

TThreadWatch::~TThreadWatch() {
  Stop();
}

void TThreadWatch::SampleNow() {
  const auto at = std::chrono::steady_clock::now() - FStart;
  const double cpu = ProcessCpuSeconds(FPid);
  std::vector<TThreadSample> now = SampleThreads(FPid);
  std::lock_guard lock(FMutex);
  for (TThreadSample& s : now)
    FLast[s.Tid] = std::move(s);
  if (cpu < 0 || now.empty()) return;
  FLastPoint = {std::chrono::duration<double>(at).count(), cpu, FLast};
  if (FMark.AtS < 0 && at >= FMarkAfter) FMark = FLastPoint;
  FPoints.push_back(FLastPoint);
}

TThreadWatch::TPoint TThreadWatch::PointBefore(double AtS) const {
  std::lock_guard lock(FMutex);
  TPoint found;
  for (const TPoint& p : FPoints) {
    if (p.AtS > AtS) break;
    found = p;
  }
  return found;
}

TThreadWatch::TPoint TThreadWatch::Mark() const {
  std::lock_guard lock(FMutex);
  return FMark;
}

TThreadWatch::TPoint TThreadWatch::LastPoint() const {
  std::lock_guard lock(FMutex);
  return FLastPoint;
}

void TThreadWatch::Stop() {
  if (!FThread.joinable()) return;
  FThread.request_stop();
  FThread.join();
  SampleNow();
}

std::map<pid_t, TThreadSample> TThreadWatch::Last() const {
  std::lock_guard lock(FMutex);
  return FLast;
}

}  // namespace lirvo::test
