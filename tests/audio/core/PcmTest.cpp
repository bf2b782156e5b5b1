// PCM sample layouts and the interleaving routines: hand-written bytes for
// every layout, then interleaving, de-interleaving and packing checked against
// those bytes over mono, stereo and wider frames, odd and zero frame counts.

#include "audio/core/Pcm.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

namespace lirvo {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kGuard = 0xA5;

struct SampleBytes {
  int32_t value;   // right-justified value stored
  Bytes bytes;     // what lands in memory
  int32_t loaded;  // what loading those bytes gives back
};

struct LayoutCase {
  const char* what;
  TPcmSample layout;
  std::vector<SampleBytes> samples;
};

// Every value is written out by hand; the last entries of a layout show the
// truncation of a value too wide for it.
const LayoutCase kLayouts[] = {
    {"U8",
     TPcmSample::U8,
     {{0, {0x80}, 0},
      {1, {0x81}, 1},
      {-1, {0x7F}, -1},
      {127, {0xFF}, 127},
      {-128, {0x00}, -128},
      {0x1FF, {0x7F}, -1}}},
    {"S16LE",
     TPcmSample::S16LE,
     {{0x1234, {0x34, 0x12}, 0x1234},
      {-2, {0xFE, 0xFF}, -2},
      {32767, {0xFF, 0x7F}, 32767},
      {-32768, {0x00, 0x80}, -32768},
      {0x12345, {0x45, 0x23}, 0x2345}}},
    {"S16BE",
     TPcmSample::S16BE,
     {{0x1234, {0x12, 0x34}, 0x1234},
      {-2, {0xFF, 0xFE}, -2},
      {-32768, {0x80, 0x00}, -32768},
      {0x18001, {0x80, 0x01}, -32767}}},
    {"S24LE",
     TPcmSample::S24LE,
     {{0x123456, {0x56, 0x34, 0x12}, 0x123456},
      {-2, {0xFE, 0xFF, 0xFF}, -2},
      {0x7FFFFF, {0xFF, 0xFF, 0x7F}, 0x7FFFFF},
      {-0x800000, {0x00, 0x00, 0x80}, -0x800000},
      {0x7F800001, {0x01, 0x00, 0x80}, -0x7FFFFF}}},
    {"S24BE",
     TPcmSample::S24BE,
     {{0x123456, {0x12, 0x34, 0x56}, 0x123456},
      {-2, {0xFF, 0xFF, 0xFE}, -2},
      {-0x800000, {0x80, 0x00, 0x00}, -0x800000},
      {0x1ABCDEF, {0xAB, 0xCD, 0xEF}, -0x543211}}},
    {"S24In32LE",
     TPcmSample::S24In32LE,
     {{0x123456, {0x56, 0x34, 0x12, 0x00}, 0x123456},
      {-2, {0xFE, 0xFF, 0xFF, 0xFF}, -2},
      {-0x800000, {0x00, 0x00, 0x80, 0xFF}, -0x800000},
      {0x7F123456, {0x56, 0x34, 0x12, 0x00}, 0x123456},
      {0x00923456, {0x56, 0x34, 0x92, 0xFF}, -0x6DCBAA}}},
    {"S24In32BE",
     TPcmSample::S24In32BE,
     {{0x123456, {0x00, 0x12, 0x34, 0x56}, 0x123456},
      {-2, {0xFF, 0xFF, 0xFF, 0xFE}, -2},
      {0x7FFFFF, {0x00, 0x7F, 0xFF, 0xFF}, 0x7FFFFF}}},
    {"S32LE",
     TPcmSample::S32LE,
     {{0x12345678, {0x78, 0x56, 0x34, 0x12}, 0x12345678},
      {-2, {0xFE, 0xFF, 0xFF, 0xFF}, -2},
      {INT32_MIN, {0x00, 0x00, 0x00, 0x80}, INT32_MIN},
      {INT32_MAX, {0xFF, 0xFF, 0xFF, 0x7F}, INT32_MAX}}},
    {"S32BE",
     TPcmSample::S32BE,
     {{0x12345678, {0x12, 0x34, 0x56, 0x78}, 0x12345678},
      {-2, {0xFF, 0xFF, 0xFF, 0xFE}, -2},
      {INT32_MIN, {0x80, 0x00, 0x00, 0x00}, INT32_MIN}}},
};

TEST(PcmSamples, EveryLayoutStoresAndLoadsTheBytesWrittenOut) {
  for (const LayoutCase& lc : kLayouts) {
    SCOPED_TRACE(lc.what);
    for (const SampleBytes& s : lc.samples) {
      SCOPED_TRACE(s.value);
      ASSERT_EQ(s.bytes.size(), PcmSampleBytes(lc.layout));
      Bytes out(s.bytes.size() + 1, kGuard);
      PcmPutSample(lc.layout, out.data(), s.value);
      EXPECT_EQ(Bytes(out.begin(), out.end() - 1), s.bytes);
      EXPECT_EQ(out.back(), kGuard);
      EXPECT_EQ(PcmGetSample(lc.layout, s.bytes.data()), s.loaded);
    }
  }
  // 24 bits in 32: the top byte is not part of the value.
  const uint8_t junkLe[] = {0x56, 0x34, 0x12, 0xAB};
  EXPECT_EQ(PcmGetSample(TPcmSample::S24In32LE, junkLe), 0x123456);
  const uint8_t junkBe[] = {0x7E, 0xFF, 0xFF, 0xFE};
  EXPECT_EQ(PcmGetSample(TPcmSample::S24In32BE, junkBe), -2);
  EXPECT_EQ(PcmSampleBits(TPcmSample::S24In32LE), 24u);
  EXPECT_EQ(PcmSampleBits(TPcmSample::S24LE), 24u);
  EXPECT_EQ(PcmSampleBits(TPcmSample::U8), 8u);
  EXPECT_EQ(PcmSampleBits(TPcmSample::S32BE), 32u);
}

TEST(PcmSamples, Float32LittleEndian) {
  struct {
    float value;
    Bytes bytes;
  } const cases[] = {{1.0f, {0x00, 0x00, 0x80, 0x3F}},
                     {-0.5f, {0x00, 0x00, 0x00, 0xBF}},
                     {0.0f, {0x00, 0x00, 0x00, 0x00}},
                     {-2.0f, {0x00, 0x00, 0x00, 0xC0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    uint8_t out[4];
    PcmPutF32LE(out, c.value);
    EXPECT_EQ(Bytes(out, out + 4), c.bytes);
    EXPECT_EQ(PcmGetF32LE(c.bytes.data()), c.value);
  }
}

// The bytes interleaving Frames frames of Channels channels should give, when
// channel c of frame f takes entry (f * Channels + c) of the layout's table.
Bytes ExpectedFrames(const LayoutCase& lc, uint32_t Channels, uint32_t Frames) {
  Bytes out;
  for (uint32_t i = 0; i < Frames * Channels; ++i) {
    const Bytes& b = lc.samples[i % lc.samples.size()].bytes;
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

TEST(PcmInterleave, EveryLayoutChannelCountAndFrameCount) {
  for (const LayoutCase& lc : kLayouts) {
    for (uint32_t ch : {1u, 2u, 3u, 6u}) {
      for (uint32_t frames : {0u, 1u, 5u, 64u}) {
        SCOPED_TRACE(testing::Message() << lc.what << ", " << ch << " ch, " << frames << " frames");
        std::vector<std::vector<int32_t>> planar(ch, std::vector<int32_t>(frames));
        std::vector<const int32_t*> src(ch);
        for (uint32_t c = 0; c < ch; ++c) {
          for (uint32_t f = 0; f < frames; ++f)
            planar[c][f] = lc.samples[(f * ch + c) % lc.samples.size()].value;
          src[c] = planar[c].data();
        }
        const Bytes want = ExpectedFrames(lc, ch, frames);
        Bytes out(want.size() + 4, kGuard);
        PcmInterleave(src.data(), ch, frames, 0, lc.layout, out.data());
        EXPECT_EQ(Bytes(out.begin(), out.begin() + want.size()), want);
        EXPECT_EQ(Bytes(out.end() - 4, out.end()), Bytes(4, kGuard));  // nothing beyond

        // Back: loading every sample and splitting the frames gives the
        // values as the layout keeps them.
        std::vector<int32_t> loaded(want.size() / PcmSampleBytes(lc.layout));
        for (size_t i = 0; i < loaded.size(); ++i)
          loaded[i] = PcmGetSample(lc.layout, out.data() + i * PcmSampleBytes(lc.layout));
        std::vector<std::vector<int32_t>> back(ch, std::vector<int32_t>(frames + 1, 7));
        std::vector<int32_t*> dst(ch);
        for (uint32_t c = 0; c < ch; ++c)
          dst[c] = back[c].data();
        PcmDeinterleave32(loaded.data(), ch, dst.data(), ch, frames);
        for (uint32_t c = 0; c < ch; ++c) {
          for (uint32_t f = 0; f < frames; ++f)
            ASSERT_EQ(back[c][f], lc.samples[(f * ch + c) % lc.samples.size()].loaded);
          EXPECT_EQ(back[c][frames], 7);
        }
      }
    }
  }
}

// Narrow decoded streams are left-justified in their container.
TEST(PcmInterleave, LeftJustifiesNarrowStreams) {
  struct {
    const char* what;
    TPcmSample layout;
    uint32_t shift;
    std::vector<std::vector<int32_t>> planar;
    Bytes want;
  } const cases[] = {
      {"12 bits in 16, stereo",
       TPcmSample::S16LE,
       4,
       {{0x7FF, -0x800, 0x123}, {1, -1, 0}},
       {0xF0, 0x7F, 0x10, 0x00, 0x00, 0x80, 0xF0, 0xFF, 0x30, 0x12, 0x00, 0x00}},
      {"20 bits in 24, mono",
       TPcmSample::S24LE,
       4,
       {{0x7FFFF, -0x80000, 0x12345}},
       {0xF0, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0x50, 0x34, 0x12}},
      {"4 bits in 8, stereo, unsigned",
       TPcmSample::U8,
       4,
       {{7, -8, 0}, {1, -1, 3}},
       {0xF0, 0x90, 0x00, 0x70, 0x80, 0xB0}},
      {"28 bits in 32, three channels",
       TPcmSample::S32LE,
       4,
       {{-1}, {0x7FFFFFF}, {0x1234567}},
       {0xF0, 0xFF, 0xFF, 0xFF, 0xF0, 0xFF, 0xFF, 0x7F, 0x70, 0x56, 0x34, 0x12}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<const int32_t*> src;
    for (const auto& p : c.planar)
      src.push_back(p.data());
    Bytes out(c.want.size() + 1, kGuard);
    PcmInterleave(src.data(), static_cast<uint32_t>(src.size()),
                  static_cast<uint32_t>(c.planar[0].size()), c.shift, c.layout, out.data());
    EXPECT_EQ(Bytes(out.begin(), out.end() - 1), c.want);
    EXPECT_EQ(out.back(), kGuard);
  }
}

struct RoundedCase {
  const char* what;
  TPcmSample layout;
  // Full-scale inputs with the bytes each rounds to; silence is what a null
  // channel gives.
  std::vector<std::pair<int32_t, Bytes>> samples;
  Bytes silence;
};

const RoundedCase kRounded[] = {
    {"U8",
     TPcmSample::U8,
     {{0x12345678, {0x92}},
      {0x00800000, {0x81}},  // a half rounds up
      {-0x00800000, {0x80}},
      {-0x00800001, {0x7F}},
      {0x7F7FFFFF, {0xFF}},
      {0x7F800000, {0xFF}},  // would round past the top
      {INT32_MIN, {0x00}}},
     {0x80}},
    {"S16LE",
     TPcmSample::S16LE,
     {{0x12345678, {0x34, 0x12}},
      {0x12348000, {0x35, 0x12}},
      {-0x8000, {0x00, 0x00}},
      {-0x8001, {0xFF, 0xFF}},
      {0x7FFF7FFF, {0xFF, 0x7F}},
      {0x7FFF8000, {0xFF, 0x7F}},
      {INT32_MAX, {0xFF, 0x7F}},
      {INT32_MIN, {0x00, 0x80}}},
     {0x00, 0x00}},
    {"S16BE",
     TPcmSample::S16BE,
     {{0x12345678, {0x12, 0x34}}, {0x7FFF8000, {0x7F, 0xFF}}, {INT32_MIN, {0x80, 0x00}}},
     {0x00, 0x00}},
    {"S24LE",
     TPcmSample::S24LE,
     {{0x12345678, {0x56, 0x34, 0x12}},
      {0x12345680, {0x57, 0x34, 0x12}},
      {-0x81, {0xFF, 0xFF, 0xFF}},
      {-0x80, {0x00, 0x00, 0x00}},
      {0x7FFFFF80, {0xFF, 0xFF, 0x7F}},
      {INT32_MIN, {0x00, 0x00, 0x80}}},
     {0x00, 0x00, 0x00}},
    {"S24BE",
     TPcmSample::S24BE,
     {{0x12345678, {0x12, 0x34, 0x56}}, {0x7FFFFFFF, {0x7F, 0xFF, 0xFF}}},
     {0x00, 0x00, 0x00}},
    {"S24In32LE",
     TPcmSample::S24In32LE,
     {{0x12345678, {0x56, 0x34, 0x12, 0x00}},
      {-0x81, {0xFF, 0xFF, 0xFF, 0xFF}},
      {0x7FFFFF80, {0xFF, 0xFF, 0x7F, 0x00}},
      {INT32_MIN, {0x00, 0x00, 0x80, 0xFF}}},
     {0x00, 0x00, 0x00, 0x00}},
    {"S24In32BE",
     TPcmSample::S24In32BE,
     {{0x12345678, {0x00, 0x12, 0x34, 0x56}}, {INT32_MIN, {0xFF, 0x80, 0x00, 0x00}}},
     {0x00, 0x00, 0x00, 0x00}},
    {"S32LE",
     TPcmSample::S32LE,
     {{0x12345678, {0x78, 0x56, 0x34, 0x12}},
      {INT32_MAX, {0xFF, 0xFF, 0xFF, 0x7F}},
      {INT32_MIN, {0x00, 0x00, 0x00, 0x80}}},
     {0x00, 0x00, 0x00, 0x00}},
    {"S32BE",
     TPcmSample::S32BE,
     {{0x12345678, {0x12, 0x34, 0x56, 0x78}}, {-2, {0xFF, 0xFF, 0xFF, 0xFE}}},
     {0x00, 0x00, 0x00, 0x00}},
};

// Full-scale samples rounded to each layout, with a silent (null) channel
// among real ones.
TEST(PcmInterleaveRounded, EveryLayoutRoundsSaturatesAndSilencesNullChannels) {
  for (const RoundedCase& rc : kRounded) {
    // Channel lists: mono, stereo, and three channels whose middle is silent.
    for (uint32_t shape = 0; shape < 3; ++shape) {
      const uint32_t ch = shape == 0 ? 1 : shape == 1 ? 2 : 3;
      for (uint32_t frames : {0u, 1u, 7u}) {
        SCOPED_TRACE(testing::Message() << rc.what << ", " << ch << " ch, " << frames << " frames");
        auto silent = [&](uint32_t c) { return shape == 2 && c == 1; };
        std::vector<std::vector<int32_t>> planar(ch, std::vector<int32_t>(frames));
        std::vector<const int32_t*> src(ch);
        Bytes want;
        for (uint32_t f = 0; f < frames; ++f)
          for (uint32_t c = 0; c < ch; ++c) {
            const auto& s = rc.samples[(f * ch + c) % rc.samples.size()];
            planar[c][f] = s.first;
            const Bytes& b = silent(c) ? rc.silence : s.second;
            want.insert(want.end(), b.begin(), b.end());
          }
        for (uint32_t c = 0; c < ch; ++c)
          src[c] = silent(c) ? nullptr : planar[c].data();
        Bytes out(want.size() + 3, kGuard);
        PcmInterleaveRounded(src.data(), ch, frames, rc.layout, out.data());
        EXPECT_EQ(Bytes(out.begin(), out.begin() + want.size()), want);
        EXPECT_EQ(Bytes(out.end() - 3, out.end()), Bytes(3, kGuard));
      }
    }
  }
}

TEST(PcmInterleaveRounded, ThirtyTwoBitsRoundTripUnchanged) {
  std::vector<int32_t> l = {INT32_MIN, -1, 0, 1, INT32_MAX}, r = {5, 4, 3, 2, 1};
  const int32_t* src[] = {l.data(), r.data()};
  std::vector<int32_t> inter(10);
  PcmInterleaveRounded(src, 2, 5, TPcmSample::S32LE, reinterpret_cast<uint8_t*>(inter.data()));
  std::vector<int32_t> l2(5), r2(5);
  int32_t* dst[] = {l2.data(), r2.data()};
  PcmDeinterleave32(inter.data(), 2, dst, 2, 5);
  EXPECT_EQ(l2, l);
  EXPECT_EQ(r2, r);
}

// De-interleaving: the fixed channel counts (2, 4, 6, 8), the others, and a
// destination taking fewer channels than the frames hold.
TEST(PcmDeinterleave, EveryChannelCountSplitsFramesIntoTheirChannels) {
  struct {
    uint32_t srcCh, dstCh;
  } const shapes[] = {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6},
                      {8, 8}, {9, 9}, {4, 2}, {3, 1}, {8, 6}};
  for (const auto& sh : shapes) {
    for (uint32_t frames : {0u, 1u, 3u, 33u}) {
      SCOPED_TRACE(testing::Message() << sh.srcCh << "->" << sh.dstCh << " ch, " << frames);
      const size_t n = static_cast<size_t>(frames) * sh.srcCh;
      std::vector<int32_t> src32(n);
      std::vector<int16_t> src16(n);
      for (size_t i = 0; i < n; ++i) {
        src32[i] = static_cast<int32_t>(0x01000000u * (i % 128) + 0x100u * i + 0x80000001u);
        src16[i] = static_cast<int16_t>(0x8001 + 0x101 * i);
      }
      std::vector<std::vector<int32_t>> b32(sh.dstCh, std::vector<int32_t>(frames + 1, -7));
      std::vector<std::vector<int16_t>> b16(sh.dstCh, std::vector<int16_t>(frames + 1, -7));
      std::vector<std::vector<float>> bF(sh.dstCh, std::vector<float>(frames + 1, -7.0f));
      std::vector<int32_t*> d32;
      std::vector<int16_t*> d16;
      std::vector<float*> dF;
      for (uint32_t c = 0; c < sh.dstCh; ++c) {
        d32.push_back(b32[c].data());
        d16.push_back(b16[c].data());
        dF.push_back(bF[c].data());
      }
      PcmDeinterleave32(src32.data(), sh.srcCh, d32.data(), sh.dstCh, frames);
      PcmDeinterleave16(src16.data(), sh.srcCh, d16.data(), sh.dstCh, frames);
      PcmDeinterleaveToFloat(src32.data(), sh.srcCh, dF.data(), sh.dstCh, frames);
      for (uint32_t c = 0; c < sh.dstCh; ++c) {
        for (uint32_t f = 0; f < frames; ++f) {
          const size_t at = static_cast<size_t>(f) * sh.srcCh + c;
          ASSERT_EQ(b32[c][f], src32[at]);
          ASSERT_EQ(b16[c][f], src16[at]);
          ASSERT_EQ(bF[c][f], static_cast<float>(static_cast<double>(src32[at]) / 2147483648.0));
        }
        EXPECT_EQ(b32[c][frames], -7);
        EXPECT_EQ(b16[c][frames], -7);
        EXPECT_EQ(bF[c][frames], -7.0f);
      }
    }
  }
}

TEST(PcmDeinterleave, FloatScaleIsTwoToTheMinus31) {
  const int32_t src[] = {0x40000000, INT32_MIN, 1, -0x20000000, INT32_MAX, 0};
  float l[3], r[3];
  float* dst[] = {l, r};
  PcmDeinterleaveToFloat(src, 2, dst, 2, 3);
  EXPECT_EQ(l[0], 0.5f);
  EXPECT_EQ(r[0], -1.0f);
  EXPECT_EQ(l[1], 0x1p-31f);
  EXPECT_EQ(r[1], -0.25f);
  EXPECT_EQ(l[2], 1.0f);  // 2^31 - 1 rounds to 2^31 in single precision
  EXPECT_EQ(r[2], 0.0f);
}

// Widening to left-justified 32 bits, over every length to reach the word
// loop, its tail and the shuffle's stopping point.
TEST(PcmUnpack, SixteenAndTwentyFourBitsBecomeLeftJustified) {
  const Bytes s16 = {0x34, 0x12, 0xFE, 0xFF, 0x00, 0x80, 0xFF, 0x7F};
  const uint32_t want16[] = {0x12340000u, 0xFFFE0000u, 0x80000000u, 0x7FFF0000u};
  const Bytes s24 = {0x56, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F};
  const uint32_t want24[] = {0x12345600u, 0xFFFFFE00u, 0x80000000u, 0x7FFFFF00u};
  for (size_t n = 0; n <= 40; ++n) {
    SCOPED_TRACE(n);
    Bytes in16, in24;
    for (size_t i = 0; i < n; ++i) {
      in16.insert(in16.end(), s16.begin() + 2 * (i % 4), s16.begin() + 2 * (i % 4) + 2);
      in24.insert(in24.end(), s24.begin() + 3 * (i % 4), s24.begin() + 3 * (i % 4) + 3);
    }
    std::vector<uint32_t> out16(n + 1, 0xA5A5A5A5u), out24(n + 1, 0xA5A5A5A5u);
    std::vector<uint32_t> outShuffle(n + 1, 0xA5A5A5A5u);
    PcmUnpack16To32(in16.data(), reinterpret_cast<uint8_t*>(out16.data()), n);
    PcmUnpack24To32(in24.data(), reinterpret_cast<uint8_t*>(out24.data()), n);
    auto* sh = reinterpret_cast<uint8_t*>(outShuffle.data());
    size_t done = 0;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("ssse3")) done = PcmUnpack24To32Shuffle(in24.data(), sh, n);
#endif
    ASSERT_LE(done, n);
    PcmUnpack24To32(in24.data() + 3 * done, sh + 4 * done, n - done);
    for (size_t i = 0; i < n; ++i) {
      ASSERT_EQ(out16[i], want16[i % 4]);
      ASSERT_EQ(out24[i], want24[i % 4]);
      ASSERT_EQ(outShuffle[i], want24[i % 4]);
    }
    EXPECT_EQ(out16[n], 0xA5A5A5A5u);
    EXPECT_EQ(out24[n], 0xA5A5A5A5u);
    EXPECT_EQ(outShuffle[n], 0xA5A5A5A5u);
  }
}

// 24-bit truncation of 32-bit samples: in place, and strided from one
// channel into interleaved frames.
TEST(PcmPack, TopThreeBytesOfThirtyTwoBitSamples) {
  const Bytes words = {0x78, 0x56, 0x34, 0x12, 0xDD, 0xCC, 0xBB, 0xAA,
                       0xFF, 0x00, 0x00, 0x80, 0x01, 0xFF, 0xFF, 0x7F};
  const Bytes top = {0x56, 0x34, 0x12, 0xCC, 0xBB, 0xAA, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F};
  for (size_t n = 0; n <= 13; ++n) {
    SCOPED_TRACE(n);
    Bytes buf, want;
    for (size_t i = 0; i < n; ++i) {
      buf.insert(buf.end(), words.begin() + 4 * (i % 4), words.begin() + 4 * (i % 4) + 4);
      want.insert(want.end(), top.begin() + 3 * (i % 4), top.begin() + 3 * (i % 4) + 3);
    }
    const Bytes tail(buf.begin() + want.size(), buf.end());
    PcmPack32To24InPlace(buf.data(), n);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + want.size()), want);
    // The bytes after the packed samples are not written.
    EXPECT_EQ(Bytes(buf.begin() + want.size(), buf.end()), tail);
  }
}

TEST(PcmCopySamples, OneChannelIntoItsPlaceInInterleavedFrames) {
  struct {
    const char* what;
    uint32_t width, from;
    size_t srcStep;
    Bytes src;
    Bytes want;  // into two-channel frames of Width bytes, channel 1
  } const cases[] = {
      {"8-bit", 1, 0, 1, {0x01, 0x02, 0x03}, {kGuard, 0x01, kGuard, 0x02, kGuard, 0x03}},
      {"16-bit",
       2,
       0,
       2,
       {0x01, 0x02, 0x03, 0x04},
       {kGuard, kGuard, 0x01, 0x02, kGuard, kGuard, 0x03, 0x04}},
      {"24-bit from the top of 32",
       3,
       1,
       4,
       {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77},
       {kGuard, kGuard, kGuard, 0x11, 0x22, 0x33, kGuard, kGuard, kGuard, 0x55, 0x66, 0x77}},
      {"16-bit from interleaved stereo (every other sample)",
       2,
       0,
       4,
       {0x01, 0x02, 0xEE, 0xEE, 0x03, 0x04, 0xEE, 0xEE},
       {kGuard, kGuard, 0x01, 0x02, kGuard, kGuard, 0x03, 0x04}},
      {"32-bit", 4, 0, 4, {1, 2, 3, 4}, {kGuard, kGuard, kGuard, kGuard, 1, 2, 3, 4}},
      {"odd width", 2, 1, 3, {0xEE, 0x01, 0x02}, {kGuard, kGuard, 0x01, 0x02}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t count = c.src.size() / c.srcStep;
    Bytes out(c.want.size() + 2, kGuard);
    PcmCopySamples(c.src.data(), c.srcStep, out.data() + c.width, 2 * c.width, count, c.width,
                   c.from);
    EXPECT_EQ(Bytes(out.begin(), out.end() - 2), c.want);
    EXPECT_EQ(Bytes(out.end() - 2, out.end()), Bytes(2, kGuard));
    // Zero samples write nothing.
    Bytes none(8, kGuard);
    PcmCopySamples(c.src.data(), c.srcStep, none.data(), 2 * c.width, 0, c.width, c.from);
    EXPECT_EQ(none, Bytes(8, kGuard));
  }
}

}  // namespace
}  // namespace lirvo
