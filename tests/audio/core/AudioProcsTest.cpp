// Sample format conversions: the exact value rules (scale, clipping, rounding,
// floor) and the in-place walks over blocks of every length.

#include "audio/core/AudioProcs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace lirvo {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

template <class T>
T LoadAt(const std::vector<uint8_t>& b, size_t offset) {
  T v;
  std::memcpy(&v, b.data() + offset, sizeof(T));
  return v;
}

// ---------------------------------------------------------------------------
// Float to integer, one value at a time: output and what is left in Src.

enum class Routine { Byte, SmallInt, Int24, Int32, ConvSingle, ConvDouble };

struct FloatCase {
  const char* what;
  Routine routine;
  float in;
  int64_t out;
  float srcAfter;  // the source after the call (the clipping pass writes it)
};

int64_t RunOne(Routine r, float& x) {
  switch (r) {
    case Routine::Byte: {
      uint8_t d = 0xAA;
      SingleToByte(&x, &d, 1);
      return d;
    }
    case Routine::SmallInt: {
      int16_t d = 0x5A5A;
      SingleToSmallInt(&x, &d, 1);
      return d;
    }
    case Routine::Int24: {
      uint8_t d[3] = {0xAA, 0xAA, 0xAA};
      SingleToInt24(&x, d, 1);
      return int32_t(uint32_t(d[0]) << 8 | uint32_t(d[1]) << 16 | uint32_t(d[2]) << 24) >> 8;
    }
    case Routine::Int32: {
      int32_t d = 0x5A5A5A5A;
      SingleToInt32(&x, &d, 1);
      return d;
    }
    case Routine::ConvSingle: {
      float buf = x;
      ConvertSingleToInt32(&buf, 4);
      return std::bit_cast<int32_t>(buf);
    }
    case Routine::ConvDouble: {
      double buf = x;
      ConvertDoubleToInt32(&buf, 8);
      int32_t v;
      std::memcpy(&v, &buf, 4);
      return v;
    }
  }
  return 0;
}

const FloatCase kFloatCases[] = {
    // Clipping replaces the source value and saturates the output.
    {"SmallInt clips 1.5 to 1.0", Routine::SmallInt, 1.5f, 32767, 1.0f},
    {"SmallInt clips -3.0 to -1.0", Routine::SmallInt, -3.0f, -32767, -1.0f},
    {"SmallInt keeps -1.0 symmetric", Routine::SmallInt, -1.0f, -32767, -1.0f},
    {"SmallInt NaN becomes silence", Routine::SmallInt, kNaN, 0, 0.0f},
    {"SmallInt +inf becomes 1.0", Routine::SmallInt, kInf, 32767, 1.0f},
    {"SmallInt -inf becomes -1.0", Routine::SmallInt, -kInf, -32767, -1.0f},
    {"SmallInt 0.5 ties to even", Routine::SmallInt, 0.5f, 16384, 0.5f},
    {"SmallInt -0.5 ties to even", Routine::SmallInt, -0.5f, -16384, -0.5f},
    {"SmallInt just below 1.0 is not clipped", Routine::SmallInt, 0.99999994f, 32767, 0.99999994f},
    {"Int32 1.0 gives max", Routine::Int32, 1.0f, 2147483647, 1.0f},
    {"Int32 -1.0 gives -max", Routine::Int32, -1.0f, -2147483647, -1.0f},
    {"Int32 clips 2.0", Routine::Int32, 2.0f, 2147483647, 1.0f},
    {"Int32 NaN becomes silence", Routine::Int32, kNaN, 0, 0.0f},
    {"Int32 negative NaN becomes silence", Routine::Int32, -kNaN, 0, 0.0f},
    {"Int32 +inf becomes 1.0", Routine::Int32, kInf, 2147483647, 1.0f},
    {"Int32 -inf becomes -1.0", Routine::Int32, -kInf, -2147483647, -1.0f},
    {"Int32 0.5 ties to even in double", Routine::Int32, 0.5f, 1073741824, 0.5f},
    {"Int32 -0.5 ties to even in double", Routine::Int32, -0.5f, -1073741824, -0.5f},
    {"Int24 0.5 floors 4194303.5", Routine::Int24, 0.5f, 4194303, 0.5f},
    {"Int24 -0.5 floors -4194303.5", Routine::Int24, -0.5f, -4194304, -0.5f},
    {"Int24 1.0 gives max", Routine::Int24, 1.0f, 8388607, 1.0f},
    {"Int24 clips -7.0", Routine::Int24, -7.0f, -8388607, -1.0f},
    {"Int24 NaN becomes silence", Routine::Int24, kNaN, 0, 0.0f},
    {"Int24 +inf becomes 1.0", Routine::Int24, kInf, 8388607, 1.0f},
    {"Int24 -inf becomes -1.0", Routine::Int24, -kInf, -8388607, -1.0f},
    {"Byte 0.0 is silence 128", Routine::Byte, 0.0f, 128, 0.0f},
    {"Byte -1.0 gives 0", Routine::Byte, -1.0f, 0, -1.0f},
    {"Byte 0.999 gives 255", Routine::Byte, 0.999f, 255, 0.999f},
    {"Byte 1.0 and above give 255", Routine::Byte, 5.0f, 255, 5.0f},
    {"Byte below -1.0 gives 0", Routine::Byte, -5.0f, 0, -5.0f},
    {"Byte NaN gives silence 128 and is not clipped", Routine::Byte, kNaN, 128, kNaN},
    {"Byte negative NaN gives silence 128", Routine::Byte, -kNaN, 128, -kNaN},
    {"Byte +inf gives 255", Routine::Byte, kInf, 255, kInf},
    {"Byte -inf gives 0", Routine::Byte, -kInf, 0, -kInf},
    {"Byte tiny negative: the sum rounds to 1.0 first", Routine::Byte, -1e-30f, 128, -1e-30f},
    {"Byte just below 1.0 clamps instead of wrapping", Routine::Byte, 0.99999994f, 255,
     0.99999994f},
    {"Byte -0.5 gives 64", Routine::Byte, -0.5f, 64, -0.5f},
    // Decoded float data: floor, and the asymmetric saturation.
    {"ConvSingle 1.0 gives max", Routine::ConvSingle, 1.0f, 2147483647, 0},
    {"ConvSingle -1.0 gives min", Routine::ConvSingle, -1.0f, -2147483647LL - 1, 0},
    {"ConvSingle NaN gives silence", Routine::ConvSingle, kNaN, 0, 0},
    {"ConvSingle negative NaN gives silence", Routine::ConvSingle, -kNaN, 0, 0},
    {"ConvSingle -inf gives min", Routine::ConvSingle, -kInf, -2147483647LL - 1, 0},
    {"ConvSingle +inf gives max", Routine::ConvSingle, kInf, 2147483647, 0},
    {"ConvSingle zero gives zero", Routine::ConvSingle, 0.0f, 0, 0},
    {"ConvSingle negative zero gives zero", Routine::ConvSingle, -0.0f, 0, 0},
    {"ConvSingle 0.5 floors", Routine::ConvSingle, 0.5f, 1073741823, 0},
    {"ConvSingle -0.5 floors down", Routine::ConvSingle, -0.5f, -1073741824, 0},
    // Exact product -2147483519.00000006: a double product rounds up onto
    // -2147483519 and floors one too high.
    {"ConvSingle floors the exact product near -1", Routine::ConvSingle, -0.99999994f, -2147483520,
     0},
    {"ConvSingle smallest positive floors to 0", Routine::ConvSingle, 1e-45f, 0, 0},
    {"ConvSingle smallest negative floors to -1", Routine::ConvSingle, -1e-45f, -1, 0},
    {"ConvDouble 1.0 gives max", Routine::ConvDouble, 1.0f, 2147483647, 0},
    {"ConvDouble -1.0 gives min", Routine::ConvDouble, -1.0f, -2147483647LL - 1, 0},
    {"ConvDouble NaN gives silence", Routine::ConvDouble, kNaN, 0, 0},
    {"ConvDouble negative NaN gives silence", Routine::ConvDouble, -kNaN, 0, 0},
    {"ConvDouble +inf gives max", Routine::ConvDouble, kInf, 2147483647, 0},
    {"ConvDouble -inf gives min", Routine::ConvDouble, -kInf, -2147483647LL - 1, 0},
    {"ConvDouble -0.5 floors down", Routine::ConvDouble, -0.5f, -1073741824, 0},
    {"ConvDouble floors the exact product near -1", Routine::ConvDouble, -0.99999994f, -2147483520,
     0},
};

TEST(FloatToIntegerEdgeCases, ScaleClipRoundAndFloorAsSpecified) {
  for (const FloatCase& c : kFloatCases) {
    SCOPED_TRACE(c.what);
    float x = c.in;
    EXPECT_EQ(RunOne(c.routine, x), c.out);
    bool clips = c.routine == Routine::SmallInt || c.routine == Routine::Int24 ||
                 c.routine == Routine::Int32 || c.routine == Routine::Byte;
    if (!clips) continue;
    if (std::isnan(c.srcAfter)) {
      EXPECT_TRUE(std::isnan(x));
    } else {
      EXPECT_EQ(std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(c.srcAfter));
    }
  }
}

TEST(FloatToIntegerEdgeCases, Int24WritesLowByteFirst) {
  struct {
    float in;
    uint8_t bytes[3];
  } cases[] = {{0.5f, {0xFF, 0xFF, 0x3F}},
               {-1.0f, {0x01, 0x00, 0x80}},
               {1.0f, {0xFF, 0xFF, 0x7F}},
               {-1e-30f, {0xFF, 0xFF, 0xFF}}};
  for (auto& c : cases) {
    float x = c.in;
    uint8_t d[3];
    SingleToInt24(&x, d, 1);
    EXPECT_EQ(d[0], c.bytes[0]) << c.in;
    EXPECT_EQ(d[1], c.bytes[1]) << c.in;
    EXPECT_EQ(d[2], c.bytes[2]) << c.in;
  }
}

// ---------------------------------------------------------------------------
// Integer to float.

TEST(IntegerToFloat, ExactScalesAndSignHandling) {
  uint8_t bytes[] = {0, 128, 255, 1};
  float f[4];
  ByteToSingle(bytes, f, 4);
  EXPECT_EQ(f[0], -1.0f);
  EXPECT_EQ(std::bit_cast<uint32_t>(f[1]), 0u) << "128 must give +0.0 exactly";
  EXPECT_EQ(f[2], 0.9921875f);
  EXPECT_EQ(f[3], -0.9921875f);

  // The low byte is unsigned; the upper 16 bits carry the sign.
  uint8_t i24[] = {0x80, 0x00, 0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F};
  Int24ToSingle(i24, f, 4);
  EXPECT_EQ(f[0], 128.0f / 8388608.0f);
  EXPECT_EQ(f[1], -1.0f);
  EXPECT_EQ(f[2], -1.0f / 8388608.0f);
  EXPECT_EQ(f[3], 8388607.0f / 8388608.0f);

  int16_t s16[] = {-32768, 32767, 1, -1};
  SmallIntToSingle(s16, f, 4);
  EXPECT_EQ(f[0], -1.0f);
  EXPECT_EQ(f[1], 32767.0f / 32768.0f);
  EXPECT_EQ(f[2], 1.0f / 32768.0f);
  EXPECT_EQ(f[3], -1.0f / 32768.0f);

  int32_t s32[] = {int32_t(-2147483647 - 1), 2147483647, 1 << 8, 16777217};
  Int32ToSingle(s32, f, 4);
  EXPECT_EQ(f[0], -1.0f);
  EXPECT_EQ(f[1], 1.0f) << "2^31-1 rounds to 2^31 in single precision";
  EXPECT_EQ(f[2], 256.0f / 2147483648.0f);
  EXPECT_EQ(f[3], 16777216.0f / 2147483648.0f) << "ties to even in single precision";
}

// Every 16-bit value through the float stage and back: the result is the
// rounded single-precision product and never more than one step away.
TEST(RoundTrip, All16BitValuesThroughFloatStage) {
  std::vector<int16_t> in(65536), out(65536);
  for (int i = 0; i < 65536; ++i)
    in[i] = int16_t(i - 32768);
  std::vector<float> f(65536);
  SmallIntToSingle(in.data(), f.data(), 65536);
  std::vector<float> copy = f;
  SingleToSmallInt(f.data(), out.data(), 65536);
  int mismatches = 0;
  for (int i = 0; i < 65536; ++i) {
    float ref = std::nearbyint(copy[i] * 32767.0f);
    if (out[i] != int16_t(ref) || std::abs(out[i] - in[i]) > 1) ++mismatches;
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(out[0], -32767);
  EXPECT_EQ(out[32768], 0);
  EXPECT_EQ(out[65535], 32766);
}

// A spread of float bit patterns over (-1, 1), both signs: the fast
// rounding and floor paths agree with the library functions.
std::vector<float> SpreadOfUnitFloats() {
  std::vector<float> v;
  for (uint32_t bits = 0; bits < 0x3F800000u; bits += 1021) {
    float x = std::bit_cast<float>(bits);
    v.push_back(x);
    v.push_back(-x);
  }
  // Values whose products sit on or next to rounding ties.
  for (int k = -2000; k <= 2000; ++k)
    v.push_back(float(k) / 4096.0f);
  v.push_back(0.99999994f);
  v.push_back(-0.99999994f);
  return v;
}

TEST(FloatToIntegerReference, RoundingAndFloorMatchLibraryOverWholeRange) {
  const std::vector<float> xs = SpreadOfUnitFloats();
  const int n = int(xs.size());
  std::vector<float> a = xs, b = xs, c = xs, d = xs;
  std::vector<int16_t> o16(n);
  std::vector<int32_t> o32(n);
  std::vector<uint8_t> o24(3 * n), o8(n);
  SingleToSmallInt(a.data(), o16.data(), n);
  SingleToInt32(b.data(), o32.data(), n);
  SingleToInt24(c.data(), o24.data(), n);
  SingleToByte(d.data(), o8.data(), n);
  std::vector<float> conv = xs;
  ConvertSingleToInt32(conv.data(), uint32_t(4 * n));
  std::vector<double> dbl(xs.begin(), xs.end());
  ConvertDoubleToInt32(dbl.data(), uint32_t(8 * n));
  std::vector<int32_t> convd(n);
  std::memcpy(convd.data(), dbl.data(), 4 * n);

  int bad16 = 0, bad32 = 0, bad24 = 0, bad8 = 0, badConv = 0, badConvD = 0;
  for (int i = 0; i < n; ++i) {
    float x = xs[i];
    if (o16[i] != int16_t(std::nearbyint(x * 32767.0f))) ++bad16;
    if (o32[i] != int32_t(std::nearbyint(double(x) * 2147483647.0))) ++bad32;
    int32_t v24 = int32_t(std::floor(x * 8388607.0f));
    int32_t got24 = int32_t(uint32_t(o24[3 * i]) << 8 | uint32_t(o24[3 * i + 1]) << 16 |
                            uint32_t(o24[3 * i + 2]) << 24) >>
                    8;
    if (got24 != v24) ++bad24;
    // The sum is rounded in single precision, then scaled exactly; the top
    // is clamped to 255.
    double ref8 = std::min(255.0, std::floor(double(x + 1.0f) * 128.0));
    if (o8[i] != uint8_t(ref8)) ++bad8;
    int32_t exact = int32_t(std::floor(static_cast<long double>(x) * 2147483647.0L));
    if (std::bit_cast<int32_t>(conv[i]) != exact) ++badConv;
    if (convd[i] != exact) ++badConvD;
  }
  EXPECT_EQ(bad16, 0);
  EXPECT_EQ(bad32, 0);
  EXPECT_EQ(bad24, 0);
  EXPECT_EQ(bad8, 0);
  EXPECT_EQ(badConv, 0);
  EXPECT_EQ(badConvD, 0);
}

// Doubles carry more bits than a double product keeps; the floor still
// follows the extended-precision product.
TEST(FloatToIntegerReference, DoubleInputFollowsExtendedProduct) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<double> xs(20000);
  for (double& x : xs)
    x = dist(rng);
  xs.push_back(-1.0 + 0x1p-53);
  xs.push_back(1.0 - 0x1p-53);
  std::vector<double> buf = xs;
  ConvertDoubleToInt32(buf.data(), uint32_t(8 * buf.size()));
  std::vector<int32_t> got(xs.size());
  std::memcpy(got.data(), buf.data(), 4 * got.size());
  int bad = 0;
  for (size_t i = 0; i < xs.size(); ++i) {
    if (got[i] != int32_t(std::floor(static_cast<long double>(xs[i]) * 2147483647.0L))) ++bad;
  }
  EXPECT_EQ(bad, 0);
}

// ---------------------------------------------------------------------------
// In-place widening and narrowing: every length, so that each split of the
// walk (block sizes, the samples near the start) is exercised.

std::vector<uint8_t> PatternBytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  std::mt19937 rng(seed);
  for (auto& b : v)
    b = uint8_t(rng());
  return v;
}

TEST(Widening, KnownSamples) {
  std::vector<uint8_t> b = {0x01, 0x02, 0x03, 0xEE};
  Convert24To32(b.data(), 3);
  EXPECT_EQ(LoadAt<uint32_t>(b, 0), 0x03020100u);

  std::vector<uint8_t> w = {0x00, 0x80, 0x01, 0x00, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0};
  Convert16To32(w.data(), 6);
  EXPECT_EQ(LoadAt<uint32_t>(w, 0), 0x80000000u);
  EXPECT_EQ(LoadAt<uint32_t>(w, 4), 0x00010000u);
  EXPECT_EQ(LoadAt<uint32_t>(w, 8), 0xFFFF0000u);
}

TEST(Widening, ShortBlocksLeaveBufferUntouched) {
  std::vector<uint8_t> b = {0x11, 0x22, 0x33, 0x44};
  Convert24To32(b.data(), 2);
  Convert24To32(b.data(), 0);
  Convert16To32(b.data(), 1);
  Convert16To32(b.data(), 0);
  ConvertDoubleToInt32(b.data(), 7);
  ConvertSingleToInt32(b.data(), 3);
  MonoToStereo(b.data(), 0);
  EXPECT_EQ(b, (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44}));
}

// Runs a check with the shuffle instructions (where the processor has them)
// and with the portable loops.
class BothPaths : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { previous_ = UseShuffleInstructions(GetParam()); }
  void TearDown() override { UseShuffleInstructions(previous_); }

 private:
  bool previous_ = true;
};

INSTANTIATE_TEST_SUITE_P(Procs, BothPaths, ::testing::Values(true, false),
                         [](const auto& Info) { return Info.param ? "Shuffle" : "Portable"; });

TEST_P(BothPaths, InPlaceWideningMatchesReferenceForEveryLength) {
  for (size_t n = 0; n <= 300; ++n) {
    SCOPED_TRACE(n);
    // 24-bit; Bytes not a multiple of 3 converts only whole samples.
    for (size_t extra : {size_t(0), size_t(2)}) {
      std::vector<uint8_t> src = PatternBytes(3 * n + extra, uint32_t(n));
      std::vector<uint8_t> buf(4 * n + 8, 0xCD);
      std::copy(src.begin(), src.end(), buf.begin());
      Convert24To32(buf.data(), uint32_t(src.size()));
      bool ok = true;
      for (size_t k = 0; k < n; ++k) {
        uint32_t want = uint32_t(src[3 * k]) << 8 | uint32_t(src[3 * k + 1]) << 16 |
                        uint32_t(src[3 * k + 2]) << 24;
        ok &= LoadAt<uint32_t>(buf, 4 * k) == want;
      }
      for (size_t k = 4 * n; k < buf.size(); ++k)
        ok &= k < src.size() || buf[k] == 0xCD;
      EXPECT_TRUE(ok) << "24-bit, bytes " << src.size();

      std::vector<uint8_t> out(4 * n + 4, 0xCD);
      Convert24To32Copy(src.data(), out.data(), uint32_t(src.size()));
      EXPECT_TRUE(std::equal(out.begin(), out.begin() + 4 * n, buf.begin()));
      EXPECT_EQ(out[4 * n], 0xCD) << "copy wrote past its output";
    }
    {
      std::vector<uint8_t> src = PatternBytes(2 * n, uint32_t(n) + 1000);
      std::vector<uint8_t> buf(4 * n + 8, 0xCD);
      std::copy(src.begin(), src.end(), buf.begin());
      Convert16To32(buf.data(), uint32_t(src.size()));
      bool ok = true;
      for (size_t k = 0; k < n; ++k) {
        ok &= LoadAt<uint32_t>(buf, 4 * k) == uint32_t(LoadAt<uint16_t>(src, 2 * k)) << 16;
      }
      for (size_t k = 4 * n; k < buf.size(); ++k)
        ok &= buf[k] == 0xCD;
      EXPECT_TRUE(ok) << "16-bit";
      std::vector<uint8_t> out(4 * n + 4, 0xCD);
      Convert16To32Copy(src.data(), out.data(), uint32_t(src.size()));
      EXPECT_TRUE(std::equal(out.begin(), out.begin() + 4 * n, buf.begin()));
      EXPECT_EQ(out[4 * n], 0xCD) << "copy wrote past its output";
    }
    {
      std::vector<uint8_t> src = PatternBytes(4 * n, uint32_t(n) + 2000);
      std::vector<uint8_t> buf(8 * n + 8, 0xCD);
      std::copy(src.begin(), src.end(), buf.begin());
      MonoToStereo(buf.data(), int32_t(n));
      bool ok = true;
      for (size_t k = 0; k < n; ++k) {
        ok &= LoadAt<uint32_t>(buf, 8 * k) == LoadAt<uint32_t>(src, 4 * k);
        ok &= LoadAt<uint32_t>(buf, 8 * k + 4) == LoadAt<uint32_t>(src, 4 * k);
      }
      for (size_t k = 8 * n; k < buf.size(); ++k)
        ok &= buf[k] == 0xCD;
      EXPECT_TRUE(ok) << "mono to stereo";
    }
    {
      std::vector<double> xs(n);
      std::mt19937 rng{uint32_t(n)};
      for (double& x : xs)
        x = std::uniform_real_distribution<double>(-1.2, 1.2)(rng);
      std::vector<uint8_t> buf(8 * n + 8, 0xCD);
      if (n > 0) std::memcpy(buf.data(), xs.data(), 8 * n);
      ConvertDoubleToInt32(buf.data(), uint32_t(8 * n));
      bool ok = true;
      for (size_t k = 0; k < n; ++k) {
        double x = xs[k];
        int32_t want = x >= 1.0 ? 2147483647
                       : x <= -1.0
                           ? int32_t(-2147483647 - 1)
                           : int32_t(std::floor(static_cast<long double>(x) * 2147483647.0L));
        ok &= LoadAt<int32_t>(buf, 4 * k) == want;
      }
      EXPECT_TRUE(ok) << "double to int32 packed at the start";
    }
  }
}

TEST_P(BothPaths, LargeBlockWidenedInPlace) {
  // A whole pool-sized block, so that the long walk through blocks of
  // shrinking size is covered.
  const size_t n = 0x80000 / 4;
  std::vector<uint8_t> src = PatternBytes(3 * n, 99);
  std::vector<uint8_t> buf(4 * n);
  std::memcpy(buf.data(), src.data(), src.size());
  Convert24To32(buf.data(), uint32_t(3 * n));
  std::vector<uint8_t> ref(4 * n);
  Convert24To32Copy(src.data(), ref.data(), uint32_t(3 * n));
  EXPECT_EQ(buf, ref);
  for (size_t k : {size_t(0), n / 2, n - 1}) {
    uint32_t want =
        uint32_t(src[3 * k]) << 8 | uint32_t(src[3 * k + 1]) << 16 | uint32_t(src[3 * k + 2]) << 24;
    EXPECT_EQ(LoadAt<uint32_t>(buf, 4 * k), want);
  }
}

TEST_P(BothPaths, Int24ToSingleOverEveryLength) {
  for (size_t n : {size_t(0), size_t(1), size_t(5), size_t(6), size_t(255), size_t(256),
                   size_t(257), size_t(1000)}) {
    std::vector<uint8_t> src = PatternBytes(3 * n, uint32_t(n) + 5);
    std::vector<float> out(n + 1, 42.0f);
    Int24ToSingle(src.data(), out.data(), int32_t(n));
    int bad = 0;
    for (size_t k = 0; k < n; ++k) {
      int32_t s = int32_t(uint32_t(src[3 * k]) << 8 | uint32_t(src[3 * k + 1]) << 16 |
                          uint32_t(src[3 * k + 2]) << 24) >>
                  8;
      if (out[k] != float(s) / 8388608.0f) ++bad;
    }
    EXPECT_EQ(bad, 0) << n;
    EXPECT_EQ(out[n], 42.0f) << "wrote past the output";
  }
}

// ---------------------------------------------------------------------------
// Channels.

TEST(Channels, StereoToMonoAveragesInPlace) {
  float buf[] = {1.0f, -1.0f, 0.5f, 0.25f, -1.0f, -1.0f, 3e38f, 3e38f};
  StereoToMono(buf, 4);
  EXPECT_EQ(buf[0], 0.0f);
  EXPECT_EQ(buf[1], 0.375f);
  EXPECT_EQ(buf[2], -1.0f);
  EXPECT_EQ(buf[3], 3e38f) << "the sum must not overflow to infinity";
}

TEST(Channels, MonoToStereoDuplicatesIntegers) {
  int32_t buf[6] = {int32_t(0x80000000), 7, -3, 0, 0, 0};
  MonoToStereo(buf, 3);
  EXPECT_EQ(buf[0], int32_t(0x80000000));
  EXPECT_EQ(buf[1], int32_t(0x80000000));
  EXPECT_EQ(buf[2], 7);
  EXPECT_EQ(buf[3], 7);
  EXPECT_EQ(buf[4], -3);
  EXPECT_EQ(buf[5], -3);
}

TEST(Guid, EveryFieldTakesPart) {
  const TGUID base = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
  EXPECT_TRUE(SameGUID(base, base));
  TGUID g = base;
  g.D1 ^= 1;
  EXPECT_FALSE(SameGUID(base, g));
  g = base;
  g.D2 ^= 1;
  EXPECT_FALSE(SameGUID(base, g));
  g = base;
  g.D3 ^= 1;
  EXPECT_FALSE(SameGUID(base, g));
  for (int i = 0; i < 8; ++i) {
    g = base;
    g.D4[i] ^= 0x40;
    EXPECT_FALSE(SameGUID(base, g)) << "byte " << i;
  }
}

}  // namespace
}  // namespace lirvo
