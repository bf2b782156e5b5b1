// Decoding speed of the WAV input: a 10-minute 16-bit stereo 44.1 kHz file
// read through TWaveIn into a consumer that only touches the data, as the
// playback chain would pull it. Reports the CPU time per second of audio and
// the multiple of real time one core achieves.
//
// The file is generated once per run into the system's temporary folder (and
// removed at the end) and stays in the page cache between iterations, so the
// figure is the decoder's own cost (header, reads, buffer handling), not the
// disk's.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/core/Pool.h"
#include "audio/decoders/AudioWave.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kChannels = 2;
constexpr uint32_t kSeconds = 600;

void Put32(std::ofstream& f, uint32_t v) {
  const char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
  f.write(b, 4);
}
void Put16(std::ofstream& f, uint16_t v) {
  const char b[2] = {char(v), char(v >> 8)};
  f.write(b, 2);
}

const std::string& TestFile() {
  static const std::string path = [] {
    const std::string p =
        (std::filesystem::temp_directory_path() / "lirvo_bench_10min.wav").string();
    const uint64_t frames = uint64_t{kRate} * kSeconds;
    const uint32_t dataBytes = static_cast<uint32_t>(frames * kChannels * 2);
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write("RIFF", 4);
    Put32(f, 36 + dataBytes);
    f.write("WAVEfmt ", 8);
    Put32(f, 16);
    Put16(f, 1);
    Put16(f, kChannels);
    Put32(f, kRate);
    Put32(f, kRate * kChannels * 2);
    Put16(f, kChannels * 2);
    Put16(f, 16);
    f.write("data", 4);
    Put32(f, dataBytes);
    // A tone with a little noise, one second at a time.
    std::vector<int16_t> second(kRate * kChannels);
    uint32_t x = 1;
    for (uint32_t i = 0; i < kRate; ++i) {
      x = x * 1664525u + 1013904223u;
      const int16_t noise = static_cast<int16_t>((x >> 20) & 0xFF) - 128;
      second[2 * i] = static_cast<int16_t>((i * 440 % kRate) * 20000 / kRate - 10000 + noise);
      second[2 * i + 1] = static_cast<int16_t>(noise * 16);
    }
    for (uint32_t s = 0; s < kSeconds; ++s)
      f.write(reinterpret_cast<const char*>(second.data()),
              static_cast<std::streamsize>(second.size() * 2));
    return p;
  }();
  return path;
}

// Pulls the whole file in blocks of Ask bytes.
void BM_DecodeWav10Min(benchmark::State& state) {
  lirvo::FrameworkStartup();
  const std::string& path = TestFile();
  const auto ask = static_cast<uint32_t>(state.range(0));
  int64_t bytes = 0;
  uint64_t check = 0;
  for (auto _ : state) {
    lirvo::TWaveIn in;
    in.SetFileName(path);
    in.Init();
    for (;;) {
      uint8_t* p = nullptr;
      uint32_t n = ask;
      in.GetData(p, n);
      if (n == 0) break;
      // The null consumer: look at the first and last byte of each block.
      check += p[0] + p[n - 1];
      bytes += n;
    }
    in.Flush();
  }
  benchmark::DoNotOptimize(check);
  const double audioSeconds =
      static_cast<double>(bytes) / (kRate * kChannels * 2) / state.iterations();
  state.SetBytesProcessed(bytes);
  state.counters["audio_s"] = audioSeconds;
  // CPU seconds per audio second, and how many times faster than real time
  // (benchmark divides rate counters by the measured CPU time).
  state.counters["realtime_x"] =
      benchmark::Counter(audioSeconds * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["cpu_s_per_audio_s"] = benchmark::Counter(
      audioSeconds * state.iterations(), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DecodeWav10Min)->Arg(4096)->Arg(16384)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  // The generated file is large: do not leave it behind.
  std::error_code ec;
  std::filesystem::remove(std::filesystem::temp_directory_path() / "lirvo_bench_10min.wav", ec);
  lirvo::FrameworkShutdown();
  return 0;
}
