// Throughput of the byte ring between two threads, used as the read-ahead
// cache uses it: the producer copies into the exposed storage and publishes
// with AddBytesWritten (waiting by yielding when the ring is full, where the
// cache sleeps its 10 ms rounds); the consumer takes blocks with Read (which
// polls every 1 ms while the ring is empty). The baseline is one thread
// copying the same bytes with memcpy in the same chunk sizes.
//
// Argument: the chunk size of both sides. Each iteration moves kStreamBytes.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "audio/core/CircularBuffer.h"
#include "audio/core/Pool.h"

namespace {

constexpr uint32_t kCacheRingCapacity = 0x600000;  // the read-ahead cache's ring
constexpr size_t kStreamBytes = size_t{256} << 20;

// The decoded data the producer copies from: a source block larger than the
// cache so the copy really reads memory.
const std::vector<uint8_t>& SourceBlock() {
  static const std::vector<uint8_t> block = [] {
    std::vector<uint8_t> v(8u << 20);
    for (size_t i = 0; i < v.size(); ++i)
      v[i] = static_cast<uint8_t>(i * 131);
    return v;
  }();
  return block;
}

void BM_RingTwoThreads(benchmark::State& state) {
  const uint32_t chunk = static_cast<uint32_t>(state.range(0));
  const std::vector<uint8_t>& source = SourceBlock();
  std::vector<uint8_t> delivery(chunk);  // the cache's delivery buffer
  lirvo::TCircularBuffer ring(kCacheRingCapacity);
  for (auto _ : state) {
    ring.Reset();
    std::thread producer([&] {
      size_t sent = 0, at = 0;
      while (sent < kStreamBytes) {
        uint8_t* p = nullptr;
        uint32_t n = 0;
        ring.ExposeSingleBufferWrite(p, n);
        if (n == 0) {
          std::this_thread::yield();
          continue;
        }
        n = static_cast<uint32_t>(std::min<size_t>({n, chunk, kStreamBytes - sent}));
        if (at + n > source.size()) at = 0;
        std::memcpy(p, source.data() + at, n);
        ring.AddBytesWritten(n);
        at += n;
        sent += n;
      }
      ring.SetEOF(true);
    });
    size_t received = 0;
    while (uint32_t n = ring.Read(delivery.data(), chunk)) {
      benchmark::DoNotOptimize(delivery.data());
      received += n;
    }
    producer.join();
    if (received != kStreamBytes) {
      state.SkipWithError("the ring lost bytes");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kStreamBytes));
}

void BM_MemcpySingleThread(benchmark::State& state) {
  const uint32_t chunk = static_cast<uint32_t>(state.range(0));
  const std::vector<uint8_t>& source = SourceBlock();
  std::vector<uint8_t> delivery(chunk);
  for (auto _ : state) {
    size_t sent = 0, at = 0;
    while (sent < kStreamBytes) {
      const size_t n = std::min<size_t>(chunk, kStreamBytes - sent);
      if (at + n > source.size()) at = 0;
      std::memcpy(delivery.data(), source.data() + at, n);
      benchmark::DoNotOptimize(delivery.data());
      benchmark::ClobberMemory();
      at += n;
      sent += n;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kStreamBytes));
}

BENCHMARK(BM_RingTwoThreads)
    ->Arg(4096)
    ->Arg(65536)
    ->Arg(0xC0000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpySingleThread)
    ->Arg(4096)
    ->Arg(65536)
    ->Arg(0xC0000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  lirvo::FrameworkStartup();  // the ring's storage is the pool's
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  lirvo::FrameworkShutdown();
  return 0;
}
