// Cost of playing a WAV file through the shared-device engine (decoder ->
// read-ahead cache -> TDSAudioOut) on the paced "pulse" device of the test
// sound server, against `aplay` playing the same file on the same device in
// the same run. Counters per second of audio: CPU time of the whole process
// (all its threads) and context switches, voluntary and involuntary.
//
// Needs the test sound server: source scripts/test-servers and call
// start_test_servers first (LIRVO_TEST_PULSE=1). LIRVO_BENCH_SECONDS sets the
// length of the file (default 10 s).

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "audio/core/Pool.h"
#include "audio/core/UiDispatcher.h"
#include "audio/decoders/DecoderFactory.h"
#include "audio/outputs/DSAudioOut.h"
#include "audio/processors/AudioCache.h"

namespace {

struct Usage {
  double CpuMs = 0;
  double Switches = 0;
};

Usage Diff(const rusage& A, const rusage& B) {
  auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  Usage u;
  u.CpuMs = ms(B.ru_utime) - ms(A.ru_utime) + ms(B.ru_stime) - ms(A.ru_stime);
  u.Switches = static_cast<double>((B.ru_nvcsw - A.ru_nvcsw) + (B.ru_nivcsw - A.ru_nivcsw));
  return u;
}

int Seconds() {
  const char* s = std::getenv("LIRVO_BENCH_SECONDS");
  int n = s ? std::atoi(s) : 10;
  return n > 0 ? n : 10;
}

// The WAV both players play: a sweep, 16-bit stereo at 44.1 kHz.
const std::string& WavFile() {
  static const std::string path = [] {
    std::string dir = std::filesystem::temp_directory_path() / "lirvo-bench-dsound";
    std::filesystem::create_directories(dir);
    std::string file = dir + "/sweep.wav";
    std::string cmd = "sox -D -n -r 44100 -b 16 -c 2 '" + file + "' synth " +
                      std::to_string(Seconds()) + " sine 100-8000 gain -6 2>/dev/null";
    if (std::system(cmd.c_str()) != 0) return std::string();
    return file;
  }();
  return path;
}

bool ServerAvailable(benchmark::State& state) {
  const char* v = std::getenv("LIRVO_TEST_PULSE");
  if (!v || std::string(v) != "1") {
    state.SkipWithError("needs the test sound server (LIRVO_TEST_PULSE=1)");
    return false;
  }
  if (WavFile().empty()) {
    state.SkipWithError("sox could not make the WAV file");
    return false;
  }
  return true;
}

void Report(benchmark::State& state, const Usage& U) {
  const double seconds = Seconds();
  state.counters["cpu_ms_per_s"] = U.CpuMs / seconds;
  state.counters["ctx_switches_per_s"] = U.Switches / seconds;
}

// Argument: the output's latency in milliseconds.
void BM_DSoundPlay(benchmark::State& state) {
  if (!ServerAvailable(state)) return;
  Usage total;
  uint32_t underruns = 0;
  for (auto _ : state) {
    lirvo::TComponent owner;
    std::unique_ptr<lirvo::TAuFileIn> in = lirvo::CreateDecoderForFile(WavFile());
    lirvo::TAudioCache cache(&owner);
    lirvo::TDSAudioOut out(&owner, {{"Pulse", "pulse", ""}});
    out.SetLatency(static_cast<uint32_t>(state.range(0)));
    out.SetCalibrate(false);
    out.SetThreadPriority(lirvo::tpTimeCritical);  // as the player's main window does
    std::atomic<bool> done{false};
    out.SetOnSyncDone([&](lirvo::TComponent*) { done = true; });
    cache.SetInput(in.get());
    out.SetInput(&cache);
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    out.Run();
    // The UI thread's part: serve queued calls, otherwise sleep.
    while (!done)
      lirvo::CheckSynchronize(std::chrono::milliseconds(200));
    getrusage(RUSAGE_SELF, &after);
    underruns += out.Underruns();
    if (!out.ExceptionMessage().empty()) state.SkipWithError(out.ExceptionMessage().c_str());
    out.SetInput(nullptr);
    cache.SetInput(nullptr);
    Usage u = Diff(before, after);
    total.CpuMs += u.CpuMs;
    total.Switches += u.Switches;
  }
  total.CpuMs /= static_cast<double>(state.iterations());
  total.Switches /= static_cast<double>(state.iterations());
  Report(state, total);
  state.counters["underruns"] = underruns;
}

void BM_AplayPlay(benchmark::State& state) {
  if (!ServerAvailable(state)) return;
  Usage total;
  for (auto _ : state) {
    pid_t pid = fork();
    if (pid == 0) {
      execlp("aplay", "aplay", "-q", "-D", "pulse", WavFile().c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    rusage child{};
    wait4(pid, &status, 0, &child);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("aplay failed (alsa-utils installed?)");
      return;
    }
    Usage u = Diff(rusage{}, child);
    total.CpuMs += u.CpuMs;
    total.Switches += u.Switches;
  }
  total.CpuMs /= static_cast<double>(state.iterations());
  total.Switches /= static_cast<double>(state.iterations());
  Report(state, total);
}

BENCHMARK(BM_DSoundPlay)
    ->Arg(100)
    ->Arg(500)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AplayPlay)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  lirvo::SetUiThread();
  lirvo::FrameworkStartup();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  lirvo::FrameworkShutdown();
  return 0;
}
