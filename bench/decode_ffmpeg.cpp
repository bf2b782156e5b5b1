// CPU cost of decoding MP3, WMA and APE through TWMIn and TMACIn compared
// with the reference command-line decoder on the same file, in the same run.
//
// A 10-minute stereo 44.1 kHz tone is encoded once per run with ffmpeg into
// MP3 (libmp3lame, 192 kbit/s) and WMA (wmav2, 128 kbit/s) in a temporary
// folder. No APE encoder is available (ffmpeg has none), so the APE case
// plays the 3.55-second fixture mac-399.ape 170 times in a loop (about 10
// minutes of audio) and the reference decodes it with -stream_loop 169.
//
// Each input is read to the end into a null consumer and its process CPU
// time measured; `ffmpeg -i F -f null -` runs as a child and its CPU time is
// taken from the children's resource usage (it converts to 16-bit for the
// null muxer, so TWMIn is measured in its default 32-bit format and in
// 16-bit). Reported as CPU seconds per second of audio, and the ratios after
// the run (goal: within 1.15x of ffmpeg).

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

#include "audio/decoders/AudioMAC.h"
#include "audio/decoders/AudioWinMedia.h"
#include "common/BenchSupport.h"
#include "common/ExternalTools.h"

namespace {

using lirvo::test::CpuSeconds;
using lirvo::test::Quote;

constexpr int kSeconds = 600;
constexpr int kApeRepeats = 170;
constexpr double kApeFixtureSeconds = 156556.0 / 44100.0;

// The shared fixtures beside the source tree (LIRVO_FIXTURES overrides).
std::string FixturesDir() {
  if (const char* env = std::getenv("LIRVO_FIXTURES")) return env;
  return (std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "shared" /
          "fixtures")
      .string();
}

struct TBenchFiles {
  std::string Dir, Mp3, Wma;
  std::string Ape = FixturesDir() + "/audio/mac-399.ape";
  TBenchFiles() {
    Dir = lirvo::test::MakeTempDir("lirvo-bench-ffmpeg");
    if (Dir.empty()) return;
    const std::string tone =
        "ffmpeg -v error -y -f lavfi -i 'sine=frequency=440:sample_rate=44100:duration=" +
        std::to_string(kSeconds) +
        "' -f lavfi -i 'anoisesrc=color=pink:sample_rate=44100:amplitude=0.2:duration=" +
        std::to_string(kSeconds) + "' -filter_complex '[0][1]amerge=inputs=2' ";
    Mp3 = Dir + "/ten-minutes.mp3";
    Wma = Dir + "/ten-minutes.wma";
    if (std::system((tone + "-c:a libmp3lame -b:a 192k " + Quote(Mp3)).c_str()) != 0) Mp3.clear();
    if (std::system((tone + "-c:a wmav2 -b:a 128k " + Quote(Wma)).c_str()) != 0) Wma.clear();
  }
  ~TBenchFiles() {
    std::error_code ec;
    if (!Dir.empty()) std::filesystem::remove_all(Dir, ec);
  }
};

const TBenchFiles& Files() {
  static TBenchFiles files;
  return files;
}

enum TSlot { kMp3In, kMp3In16, kMp3Cli, kWmaIn, kWmaIn16, kWmaCli, kApeIn, kApeCli, kSlots };
double gBest[kSlots];

void Record(TSlot Slot, double Value) {
  gBest[Slot] = std::min(gBest[Slot], Value);
}

uint64_t Drain(lirvo::TAuInput& In) {
  uint64_t bytes = 0;
  for (;;) {
    uint8_t* p = nullptr;
    uint32_t n = 65536;
    In.GetData(p, n);
    if (n == 0) break;
    benchmark::DoNotOptimize(p);
    bytes += n;
  }
  return bytes;
}

void DecodeWithTWMIn(benchmark::State& State, const std::string& Path, int Bits, TSlot Slot) {
  if (Path.empty()) {
    State.SkipWithError("ffmpeg could not make the test file");
    return;
  }
  uint64_t bytes = 0;
  for (auto _ : State) {
    const double before = CpuSeconds(RUSAGE_SELF);
    lirvo::TWMIn in;
    in.SetFileName(Path);
    for (int i = 0; i < in.FormatsCount(); ++i)
      if (in.FormatSpec(i).BitsPerSample == Bits) in.SetFormatSelected(i);
    in.Init();
    bytes += Drain(in);
    in.Flush();
    const double cpu = CpuSeconds(RUSAGE_SELF) - before;
    State.SetIterationTime(cpu);
    Record(Slot, cpu / kSeconds);
  }
  State.SetBytesProcessed(static_cast<int64_t>(bytes));
  State.counters["cpu_s_per_audio_s"] = gBest[Slot];
}

void RunCli(benchmark::State& State, const std::string& Command, double AudioSeconds, TSlot Slot) {
  for (auto _ : State) {
    const double before = CpuSeconds(RUSAGE_CHILDREN);
    if (std::system(Command.c_str()) != 0) {
      State.SkipWithError("ffmpeg failed");
      return;
    }
    const double cpu = CpuSeconds(RUSAGE_CHILDREN) - before;
    State.SetIterationTime(cpu);
    Record(Slot, cpu / AudioSeconds);
  }
  State.counters["cpu_s_per_audio_s"] = gBest[Slot];
}

void BM_Mp3_TWMIn(benchmark::State& State) {
  DecodeWithTWMIn(State, Files().Mp3, 32, kMp3In);
}
void BM_Mp3_TWMIn_16bit(benchmark::State& State) {
  DecodeWithTWMIn(State, Files().Mp3, 16, kMp3In16);
}
void BM_Mp3_ffmpeg(benchmark::State& State) {
  if (Files().Mp3.empty()) return State.SkipWithError("no test file");
  RunCli(State, "ffmpeg -v quiet -i " + Quote(Files().Mp3) + " -f null -", kSeconds, kMp3Cli);
}
void BM_Wma_TWMIn(benchmark::State& State) {
  DecodeWithTWMIn(State, Files().Wma, 32, kWmaIn);
}
void BM_Wma_TWMIn_16bit(benchmark::State& State) {
  DecodeWithTWMIn(State, Files().Wma, 16, kWmaIn16);
}
void BM_Wma_ffmpeg(benchmark::State& State) {
  if (Files().Wma.empty()) return State.SkipWithError("no test file");
  RunCli(State, "ffmpeg -v quiet -i " + Quote(Files().Wma) + " -f null -", kSeconds, kWmaCli);
}

void BM_Ape_TMACIn(benchmark::State& State) {
  const std::string& path = Files().Ape;
  uint64_t bytes = 0;
  for (auto _ : State) {
    const double before = CpuSeconds(RUSAGE_SELF);
    // Looping the input, as -stream_loop loops the reference's input.
    lirvo::TMACIn in;
    in.SetFileName(path);
    in.SetLoop(true);
    in.Init();
    const uint64_t want = static_cast<uint64_t>(kApeRepeats) * in.Size();
    uint64_t got = 0;
    while (got < want) {
      uint8_t* p = nullptr;
      uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(65536, want - got));
      in.GetData(p, n);
      if (n == 0) break;
      benchmark::DoNotOptimize(p);
      got += n;
    }
    in.Flush();
    bytes += got;
    const double cpu = CpuSeconds(RUSAGE_SELF) - before;
    State.SetIterationTime(cpu);
    Record(kApeIn, cpu / (kApeRepeats * kApeFixtureSeconds));
  }
  State.SetBytesProcessed(static_cast<int64_t>(bytes));
  State.counters["cpu_s_per_audio_s"] = gBest[kApeIn];
}
void BM_Ape_ffmpeg(benchmark::State& State) {
  RunCli(State,
         "ffmpeg -v quiet -stream_loop " + std::to_string(kApeRepeats - 1) + " -i " +
             Quote(Files().Ape) + " -f null -",
         kApeRepeats * kApeFixtureSeconds, kApeCli);
}

#define LIRVO_BENCH(fn) BENCHMARK(fn)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond)
LIRVO_BENCH(BM_Mp3_TWMIn);
LIRVO_BENCH(BM_Mp3_TWMIn_16bit);
LIRVO_BENCH(BM_Mp3_ffmpeg);
LIRVO_BENCH(BM_Wma_TWMIn);
LIRVO_BENCH(BM_Wma_TWMIn_16bit);
LIRVO_BENCH(BM_Wma_ffmpeg);
LIRVO_BENCH(BM_Ape_TMACIn);
LIRVO_BENCH(BM_Ape_ffmpeg);

void PrintRatio(const char* Name, TSlot In, TSlot Cli) {
  const double max = std::numeric_limits<double>::max();
  if (gBest[In] == max || gBest[Cli] == max || gBest[Cli] <= 0) return;
  std::printf("  %-24s %.5f   ffmpeg -f null %.5f   ratio %.3f (goal <= 1.15)\n", Name, gBest[In],
              gBest[Cli], gBest[In] / gBest[Cli]);
}

}  // namespace

int main(int argc, char** argv) {
  std::fill(std::begin(gBest), std::end(gBest), std::numeric_limits<double>::max());
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("\nCPU seconds per audio second (best of the iterations):\n");
  PrintRatio("MP3, TWMIn 32-bit", kMp3In, kMp3Cli);
  PrintRatio("MP3, TWMIn 16-bit", kMp3In16, kMp3Cli);
  PrintRatio("WMA, TWMIn 32-bit", kWmaIn, kWmaCli);
  PrintRatio("WMA, TWMIn 16-bit", kWmaIn16, kWmaCli);
  PrintRatio("APE (fixture x170), TMACIn", kApeIn, kApeCli);
  return 0;
}
