// Compressed payloads converted when a file is opened: decoded once, into
// memory of about their decoded size, and a failed conversion is not
// repeated by every format query.
//
// The memory test counts what operator new hands out while it runs; the
// counting is off for every other test of this binary.

#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>

#include "tests/audio/decoders/WavTestSupport.h"

namespace {

std::atomic<bool> gCounting{false};
std::atomic<int64_t> gLive{0};
std::atomic<int64_t> gPeak{0};

void* Counted(std::size_t Size) {
  void* p = std::malloc(Size == 0 ? 1 : Size);
  if (!p) throw std::bad_alloc();
  if (gCounting.load(std::memory_order_relaxed)) {
    const int64_t now = gLive += static_cast<int64_t>(malloc_usable_size(p));
    int64_t peak = gPeak.load();
    while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
    }
  }
  return p;
}

void Uncounted(void* P) {
  if (!P) return;
  if (gCounting.load(std::memory_order_relaxed))
    gLive -= static_cast<int64_t>(malloc_usable_size(P));
  std::free(P);
}

// The most bytes held at once while Fn runs, above what was held before.
template <typename F>
int64_t PeakWhile(F&& Fn) {
  gLive = 0;
  gPeak = 0;
  gCounting = true;
  Fn();
  gCounting = false;
  return gPeak;
}

}  // namespace

void* operator new(std::size_t Size) {
  return Counted(Size);
}
void* operator new[](std::size_t Size) {
  return Counted(Size);
}
void operator delete(void* P) noexcept {
  Uncounted(P);
}
void operator delete[](void* P) noexcept {
  Uncounted(P);
}
void operator delete(void* P, std::size_t) noexcept {
  Uncounted(P);
}
void operator delete[](void* P, std::size_t) noexcept {
  Uncounted(P);
}

using namespace lirvo;
using namespace lirvo::test;
using namespace lirvo::test::wav;

namespace {

// A 50 MB A-law file decodes to 100 MB of 16-bit PCM; opening it may hold
// that and a few blocks, not the payload or a second copy besides.
TEST(WaveConvertedMemory, OpeningHoldsTheDecodedSizeOnly) {
  REQUIRE_TOOL("ffmpeg");
  const std::string dir = ScratchDir("wav_converted_memory");
  const std::string file = dir + "/alaw50.wav";
  // 48 kHz stereo A-law: 96,000 bytes a second.
  const int seconds = 546;
  ASSERT_TRUE(Ffmpeg("-f lavfi -i sine=frequency=440:sample_rate=48000:duration=" +
                         std::to_string(seconds) + " -ac 2 -c:a pcm_alaw",
                     file));
  const int64_t decoded = int64_t{seconds} * 48000 * 2 * 2;
  TWaveIn in;
  in.SetFileName(file);
  int64_t total = 0;
  const int64_t peak = PeakWhile([&] {
    EXPECT_EQ(in.WavType(), wtACM);
    total = in.TotalSamples();
  });
  EXPECT_EQ(total, int64_t{seconds} * 48000);
  RecordProperty("peak_bytes", std::to_string(peak));
  EXPECT_LE(peak, decoded + (4 << 20)) << "decoded size " << decoded;
  // Still readable from the one image.
  in.Init();
  uint8_t* p = nullptr;
  uint32_t n = 4096;
  in.GetData(p, n);
  EXPECT_EQ(n, 4096u);
  in.Flush();
  std::remove(file.c_str());
}

// A stream that counts what is read from it.
class CountingStream : public TMemoryStream {
 public:
  using TMemoryStream::TMemoryStream;
  int64_t Read(void* Buffer, int64_t Count) override {
    ++Reads;
    return TMemoryStream::Read(Buffer, Count);
  }
  int Reads = 0;
};

// A payload FFmpeg cannot decode: the conversion fails once, and the format
// queries after it answer without reading the file again; a stream assigned
// anew is tried again.
TEST(WaveConvertedFailure, IsRememberedUntilANewStream) {
  Bytes fmt = FmtBody(0x55, 2, 44100, 0, 1152);
  Put16(fmt, 0);
  Bytes body;
  PutChunk(body, "fmt ", fmt);
  PutChunk(body, "fact", Bytes{0, 1, 0, 0});
  PutChunk(body, "data", Bytes(5000, 0));
  const Bytes file = Riff(body);
  CountingStream s(file.data(), file.size());
  TWaveIn in;
  in.SetStream(&s);
  EXPECT_FALSE(in.Valid());
  ASSERT_GT(s.Reads, 0);
  const int afterFirst = s.Reads;
  struct Query {
    const char* name;
    std::function<void()> run;
  } queries[] = {
      {"Valid", [&] { EXPECT_FALSE(in.Valid()); }},
      {"WavType", [&] { EXPECT_EQ(in.WavType(), wtACM); }},
      {"BitsPerSample", [&] { in.BitsPerSample(); }},
      {"Channels", [&] { in.Channels(); }},
      {"SampleRate", [&] { in.SampleRate(); }},
      {"TotalSamples", [&] { in.TotalSamples(); }},
      {"TotalTime", [&] { in.TotalTime(); }},
      {"InitAndFlush",
       [&] {
         in.Init();
         EXPECT_TRUE(ReadAll(in).empty());
         in.Flush();
       }},
  };
  for (const Query& q : queries) {
    q.run();
    EXPECT_EQ(s.Reads, afterFirst) << q.name;
  }
  in.SetStream(&s);
  EXPECT_FALSE(in.Valid());
  EXPECT_GT(s.Reads, afterFirst);
  in.SetStream(nullptr);
}

}  // namespace
