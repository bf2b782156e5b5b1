// What the read-ahead cache costs: a 10-minute 16-bit stereo FLAC read to
// the end through the decoder alone and through decoder -> cache, into a null
// consumer, in one run. Reports CPU seconds (all threads of the process) per
// second of audio for both and their ratio (goal: the cache adds at most
// 5 %), and the filler's wake-ups per second while the consumer takes audio
// at real-time pace (it sleeps 10 ms per round).
//
//   bench_cache_chain            (needs sox and flac on the PATH)

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "audio/core/Pool.h"
#include "audio/core/ThreadSetup.h"
#include "audio/decoders/AudioFLAC.h"
#include "audio/processors/AudioCache.h"
#include "common/BenchSupport.h"

namespace {

using lirvo::test::CpuSeconds;

constexpr int kSeconds = 600;
constexpr double kBytesPerSecond = 44100.0 * 4;

// Reads In to the end in blocks like an output's; returns the bytes read.
int64_t Drain(lirvo::TAuInput& In) {
  int64_t total = 0;
  for (;;) {
    uint8_t* p = nullptr;
    uint32_t n = 16384;
    In.GetData(p, n);
    if (n == 0) return total;
    total += n;
  }
}

}  // namespace

int main() {
  using namespace lirvo;
  SetRealtimeAllowed(false);
  FrameworkStartup();
  const std::string dir = test::MakeTempDir("lirvo-bench-cache");
  if (dir.empty()) return 1;
  const std::string path = dir + "/ten-minutes.flac";
  const std::string make =
      "sox -n -r 44100 -c 2 -b 16 -e signed-integer -t wav - synth " + std::to_string(kSeconds) +
      " sine 200-4000 pinknoise vol 0.8 2>/dev/null | flac -s -f -o '" + path + "' - 2>/dev/null";
  if (std::system(make.c_str()) != 0) {
    std::fprintf(stderr, "bench_cache_chain: cannot make the test file (sox, flac)\n");
    return 1;
  }

  double alone = 1e9, cached = 1e9;
  for (int run = 0; run < 7; ++run) {
    TFLACIn flac(nullptr);
    flac.SetFileName(path);
    double t0 = CpuSeconds();
    flac.Init();
    int64_t a = Drain(flac);
    flac.Flush();
    double t1 = CpuSeconds();

    TAudioCache cache(nullptr);
    cache.SetInput(&flac);
    cache.Init();
    int64_t c = Drain(cache);
    cache.Flush();
    double t2 = CpuSeconds();
    cache.SetInput(nullptr);
    if (a != c) {
      std::fprintf(stderr, "bench_cache_chain: %lld bytes alone, %lld through the cache\n",
                   static_cast<long long>(a), static_cast<long long>(c));
      return 1;
    }
    alone = std::min(alone, (t1 - t0) / (a / kBytesPerSecond));
    cached = std::min(cached, (t2 - t1) / (c / kBytesPerSecond));
  }
  std::printf("decoder alone:           %.6f CPU s per audio s\n", alone);
  std::printf("decoder -> cache:        %.6f CPU s per audio s\n", cached);
  std::printf("ratio:                   %.3f\n", cached / alone);

  // Real-time pace for a few seconds: the filler's rounds per second.
  {
    TFLACIn flac(nullptr);
    flac.SetFileName(path);
    TAudioCache cache(nullptr);
    cache.SetInput(&flac);
    cache.Init();
    const auto start = std::chrono::steady_clock::now();
    const uint64_t rounds0 = cache.FillerRounds();
    int64_t taken = 0;
    const int kPacedSeconds = 3;
    while (taken < kPacedSeconds * kBytesPerSecond) {
      uint8_t* p = nullptr;
      uint32_t n = 4096;  // ~23 ms of audio, like a device period
      cache.GetData(p, n);
      if (n == 0) break;
      taken += n;
      std::this_thread::sleep_until(start + std::chrono::duration<double>(taken / kBytesPerSecond));
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const uint64_t rounds = cache.FillerRounds() - rounds0;
    cache.Flush();
    cache.SetInput(nullptr);
    std::printf("filler wake-ups:         %.1f per second of real-time playback\n", rounds / wall);
  }
  std::filesystem::remove_all(dir);
  FrameworkShutdown();
  return 0;
}
