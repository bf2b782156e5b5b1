// CPU cost of decoding FLAC through TFLACIn compared with the reference
// command-line decoder on the same file, in the same run.
//
// A 10-minute 16-bit stereo 44.1 kHz file is made once per run (sox into
// flac at the default level) in a temporary folder. TFLACIn is read to the
// end into a null consumer and its process CPU time measured; `flac -d -c F
// > /dev/null` is run as a child and its CPU time taken from the children's
// resource usage. Both are reported as CPU seconds per second of audio, and
// the ratio after the run (goal: TFLACIn within 1.10x of flac -d). flac -d
// verifies the MD5 signature as it decodes, so TFLACIn is measured with and
// without its MD5 check.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

#include "audio/decoders/AudioFLAC.h"
#include "common/BenchSupport.h"
#include "common/ExternalTools.h"

namespace {

using lirvo::test::CpuSeconds;
using lirvo::test::Quote;

constexpr int kSeconds = 600;

struct TBenchFile {
  std::string Dir;
  std::string Path;
  TBenchFile() {
    Dir = lirvo::test::MakeTempDir("lirvo-bench-flac");
    if (Dir.empty()) return;
    Path = Dir + "/ten-minutes.flac";
    const std::string cmd = "sox -n -r 44100 -c 2 -b 16 -e signed-integer -t wav - synth " +
                            std::to_string(kSeconds) +
                            " sine 200-4000 pinknoise vol 0.8 2>/dev/null | flac -s -f -o " +
                            Quote(Path) + " - 2>/dev/null";
    if (std::system(cmd.c_str()) != 0) Path.clear();
  }
  ~TBenchFile() {
    std::error_code ec;
    if (!Dir.empty()) std::filesystem::remove_all(Dir, ec);
  }
};

const TBenchFile& BenchFile() {
  static TBenchFile file;
  return file;
}

// Best (lowest) CPU seconds per audio second seen by each benchmark.
double gBest[3] = {std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
                   std::numeric_limits<double>::max()};
enum { kTFLACIn = 0, kTFLACInMd5 = 1, kFlacCli = 2 };

void DecodeWithTFLACIn(benchmark::State& State, bool CheckMd5, int Slot) {
  const std::string& path = BenchFile().Path;
  if (path.empty()) {
    State.SkipWithError("sox and flac could not make the test file");
    return;
  }
  uint64_t bytes = 0;
  for (auto _ : State) {
    const double before = CpuSeconds(RUSAGE_SELF);
    lirvo::TFLACIn in;
    in.SetCheckMD5Signature(CheckMd5);
    in.SetFileName(path);
    in.Init();
    for (;;) {
      uint8_t* p = nullptr;
      uint32_t n = 65536;
      in.GetData(p, n);
      if (n == 0) break;
      benchmark::DoNotOptimize(p);
      bytes += n;
    }
    in.Flush();
    const double cpu = CpuSeconds(RUSAGE_SELF) - before;
    State.SetIterationTime(cpu);
    gBest[Slot] = std::min(gBest[Slot], cpu / kSeconds);
  }
  State.SetBytesProcessed(static_cast<int64_t>(bytes));
  State.counters["cpu_s_per_audio_s"] = gBest[Slot];
}

void BM_TFLACIn(benchmark::State& State) {
  DecodeWithTFLACIn(State, false, kTFLACIn);
}

void BM_TFLACInMd5(benchmark::State& State) {
  DecodeWithTFLACIn(State, true, kTFLACInMd5);
}

void BM_FlacCommandLine(benchmark::State& State) {
  const std::string& path = BenchFile().Path;
  if (path.empty()) {
    State.SkipWithError("sox and flac could not make the test file");
    return;
  }
  const std::string cmd = "flac -d -s -c " + Quote(path) + " > /dev/null";
  for (auto _ : State) {
    const double before = CpuSeconds(RUSAGE_CHILDREN);
    if (std::system(cmd.c_str()) != 0) {
      State.SkipWithError("flac -d failed");
      return;
    }
    const double cpu = CpuSeconds(RUSAGE_CHILDREN) - before;
    State.SetIterationTime(cpu);
    gBest[kFlacCli] = std::min(gBest[kFlacCli], cpu / kSeconds);
  }
  State.counters["cpu_s_per_audio_s"] = gBest[kFlacCli];
}

BENCHMARK(BM_TFLACIn)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TFLACInMd5)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlacCommandLine)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const double cli = gBest[kFlacCli];
  if (cli > 0 && cli < std::numeric_limits<double>::max()) {
    std::printf("\nCPU seconds per audio second (best of the iterations):\n");
    std::printf("  flac -d -c F > /dev/null      %.5f\n", cli);
    for (int slot : {kTFLACIn, kTFLACInMd5}) {
      if (gBest[slot] == std::numeric_limits<double>::max()) continue;
      std::printf("  %-29s %.5f   ratio %.3f (goal <= 1.10)\n",
                  slot == kTFLACIn ? "TFLACIn" : "TFLACIn, MD5 check on", gBest[slot],
                  gBest[slot] / cli);
    }
  }
  return 0;
}
