// Throughput of the sample conversions, each next to a plain memcpy of the
// same number of output bytes (the bound a conversion can hope for).
//
// Bytes per second count the bytes written. Blocks are 64 Ki samples, the
// size of a large converter block, so that they stay in the cache the way
// the pool buffers do during playback.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <vector>

#include "audio/core/AudioProcs.h"
#include "audio/core/Pool.h"
#include "audio/processors/AudioConverters.h"

namespace {

constexpr size_t kSamples = 65536;

// Every buffer starts on a page, as the pool buffers do. How source and
// destination sit relative to each other modulo 4 KiB changes the speed of
// the streaming loops by up to a factor of two (loads falsely waiting on
// stores with the same low address bits), so the layout is fixed to keep
// runs comparable.
template <class T>
struct PageAllocator {
  using value_type = T;
  PageAllocator() = default;
  template <class U>
  PageAllocator(const PageAllocator<U>&) {}
  T* allocate(size_t n) {
    size_t bytes = (n * sizeof(T) + 4095) / 4096 * 4096;
    void* p = std::aligned_alloc(4096, bytes);
    if (!p) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, size_t) { std::free(p); }
  bool operator==(const PageAllocator&) const { return true; }
};

template <class T>
using Buffer = std::vector<T, PageAllocator<T>>;

Buffer<uint8_t> Noise(size_t bytes) {
  Buffer<uint8_t> v(bytes);
  std::mt19937 rng(1);
  for (auto& b : v)
    b = uint8_t(rng());
  return v;
}

Buffer<float> UnitNoise(size_t n) {
  Buffer<float> v(n);
  std::mt19937 rng(2);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  for (float& x : v)
    x = dist(rng);
  return v;
}

void Memcpy(benchmark::State& state, size_t bytes) {
  Buffer<uint8_t> src = Noise(bytes), dst(bytes);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), bytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

void BM_Memcpy_256KiB(benchmark::State& state) {
  Memcpy(state, kSamples * 4);
}
BENCHMARK(BM_Memcpy_256KiB);

// In place, as the output stages use them. The buffer is not restored: the
// work per call is the same whatever the sample values.
void BM_Convert16To32_InPlace(benchmark::State& state) {
  Buffer<uint8_t> buf = Noise(kSamples * 4);
  for (auto _ : state) {
    lirvo::Convert16To32(buf.data(), uint32_t(kSamples * 2));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSamples * 4));
}
BENCHMARK(BM_Convert16To32_InPlace);

void BM_Convert16To32_Copy(benchmark::State& state) {
  Buffer<uint8_t> src = Noise(kSamples * 2), dst(kSamples * 4);
  for (auto _ : state) {
    lirvo::Convert16To32Copy(src.data(), dst.data(), uint32_t(kSamples * 2));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSamples * 4));
}
BENCHMARK(BM_Convert16To32_Copy);

void BM_Convert24To32_InPlace(benchmark::State& state) {
  Buffer<uint8_t> buf = Noise(kSamples * 4);
  for (auto _ : state) {
    lirvo::Convert24To32(buf.data(), uint32_t(kSamples * 3));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSamples * 4));
}
BENCHMARK(BM_Convert24To32_InPlace);

void BM_Convert24To32_Copy(benchmark::State& state) {
  Buffer<uint8_t> src = Noise(kSamples * 3), dst(kSamples * 4);
  for (auto _ : state) {
    lirvo::Convert24To32Copy(src.data(), dst.data(), uint32_t(kSamples * 3));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSamples * 4));
}
BENCHMARK(BM_Convert24To32_Copy);

void BM_SmallIntToSingle(benchmark::State& state) {
  Buffer<uint8_t> src = Noise(kSamples * 2);
  Buffer<float> dst(kSamples);
  for (auto _ : state) {
    lirvo::SmallIntToSingle(reinterpret_cast<const int16_t*>(src.data()), dst.data(),
                            int32_t(kSamples));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSamples * 4));
}
BENCHMARK(BM_SmallIntToSingle);

void BM_Int24ToSingle(benchmark::State& state) {
  Buffer<uint8_t> src = Noise(kSamples * 3);
  Buffer<float> dst(kSamples);
  for (auto _ : state) {
    lirvo::Int24ToSingle(src.data(), dst.data(), int32_t(kSamples));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSamples * 4));
}
BENCHMARK(BM_Int24ToSingle);

void BM_Int32ToSingle(benchmark::State& state) {
  Buffer<uint8_t> src = Noise(kSamples * 4);
  Buffer<float> dst(kSamples);
  for (auto _ : state) {
    lirvo::Int32ToSingle(reinterpret_cast<const int32_t*>(src.data()), dst.data(),
                         int32_t(kSamples));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSamples * 4));
}
BENCHMARK(BM_Int32ToSingle);

// The clipping routines write their source; values stay inside (-1, 1), so
// repeating on the same block does the same work.
void BM_SingleToInt32(benchmark::State& state) {
  Buffer<float> src = UnitNoise(kSamples);
  Buffer<int32_t> dst(kSamples);
  for (auto _ : state) {
    lirvo::SingleToInt32(src.data(), dst.data(), int32_t(kSamples));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSamples * 4));
}
BENCHMARK(BM_SingleToInt32);

void BM_SingleToSmallInt(benchmark::State& state) {
  Buffer<float> src = UnitNoise(kSamples);
  Buffer<int16_t> dst(kSamples);
  for (auto _ : state) {
    lirvo::SingleToSmallInt(src.data(), dst.data(), int32_t(kSamples));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSamples * 2));
}
BENCHMARK(BM_SingleToSmallInt);

void BM_SingleToInt24(benchmark::State& state) {
  Buffer<float> src = UnitNoise(kSamples);
  Buffer<uint8_t> dst(kSamples * 3);
  for (auto _ : state) {
    lirvo::SingleToInt24(src.data(), dst.data(), int32_t(kSamples));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSamples * 3));
}
BENCHMARK(BM_SingleToInt24);

// Decoded float data (float WAV files): floor with extended-precision
// exactness. Restores the floats each round because the call overwrites them.
void BM_ConvertSingleToInt32(benchmark::State& state) {
  const Buffer<float> src = UnitNoise(kSamples);
  Buffer<float> buf(kSamples);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(buf.data(), src.data(), kSamples * 4);
    state.ResumeTiming();
    lirvo::ConvertSingleToInt32(buf.data(), uint32_t(kSamples * 4));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSamples * 4));
}
BENCHMARK(BM_ConvertSingleToInt32);

void BM_MonoToStereo(benchmark::State& state) {
  Buffer<uint8_t> buf = Noise(kSamples * 4);
  for (auto _ : state) {
    lirvo::MonoToStereo(buf.data(), int32_t(kSamples / 2));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSamples * 4));
}
BENCHMARK(BM_MonoToStereo);

// The converter's whole data call on the program's configuration (32-bit
// stereo out) for the two common inputs; the source hands out one prepared
// block without copying, so the figure is the converter's own cost.
class TEndlessSource : public lirvo::TAuInput {
 public:
  TEndlessSource(uint32_t Bits, uint32_t Chans, Buffer<uint8_t> Block)
      : TAuInput(nullptr), FBits(Bits), FChans(Chans), FBlock(std::move(Block)) {}
  ~TEndlessSource() override { NotifyRemoval(); }

 protected:
  uint32_t GetBitsPerSample() override { return FBits; }
  uint32_t GetChannels() override { return FChans; }
  uint32_t GetSampleRate() override { return 44100; }
  void InitInternal() override {
    FSize = -1;
    Busy = true;
  }
  void FlushInternal() override { Busy = false; }
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override {
    uint32_t frame = FBits / 8 * FChans;
    Bytes = std::min<uint32_t>(Bytes, uint32_t(FBlock.size()));
    Bytes -= Bytes % frame;
    Buffer = FBlock.data();
  }

 private:
  uint32_t FBits;
  uint32_t FChans;
  Buffer<uint8_t> FBlock;
};

// Blocks of 32 Ki frames: 256 KiB of 32-bit stereo out.
void ConverterGetData(benchmark::State& state, uint32_t bits, uint32_t chans) {
  const size_t frames = kSamples / 2;
  TEndlessSource source(bits, chans, Noise(frames * chans * bits / 8));
  lirvo::TAudioConverter conv;
  conv.SetOutBitsPerSample(32);
  conv.SetOutChannels(2);
  conv.SetMode(lirvo::msmMonoToBoth);
  conv.SetInput(&source);
  conv.Init();
  for (auto _ : state) {
    uint8_t* p = nullptr;
    uint32_t bytes = uint32_t(frames * 8);
    conv.GetData(p, bytes);
    if (bytes != frames * 8) state.SkipWithError("short block");
    benchmark::DoNotOptimize(p);
    benchmark::ClobberMemory();
  }
  conv.Flush();
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frames * 8));
}

void BM_Converter_16To32Stereo(benchmark::State& state) {
  ConverterGetData(state, 16, 2);
}
BENCHMARK(BM_Converter_16To32Stereo);

void BM_Converter_24To32Stereo(benchmark::State& state) {
  ConverterGetData(state, 24, 2);
}
BENCHMARK(BM_Converter_24To32Stereo);

// For comparison: the float stage, which 8-bit, mono and 32-bit inputs take.
void BM_Converter_16MonoTo32Stereo(benchmark::State& state) {
  ConverterGetData(state, 16, 1);
}
BENCHMARK(BM_Converter_16MonoTo32Stereo);

}  // namespace

// The converter's blocks live in the locked pool.
int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  lirvo::FrameworkStartup();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  lirvo::FrameworkShutdown();
  return 0;
}
