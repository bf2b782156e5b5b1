// Rounding at and next to ties. Each scaled product is rounded to its own
// precision first, then to the nearest integer (ties to even); a compiler
// that fuses the product into the rounding add skips the first rounding and
// lands one step off on these inputs. The same table runs in the normal core
// tests and against a copy of the conversions built with contraction forced
// on (and FMA where the target has it); both must give these values.
// Expected values are the long double products rounded by hand: first to
// float (16-bit) or double (32-bit), then to the nearest integer.

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "audio/core/AudioProcs.h"

namespace lirvo {
namespace {

// The FMA copy of the conversions cannot run on a processor without FMA.
bool CannotRunHere() {
#if defined(LIRVO_TEST_NEEDS_FMA)
  __builtin_cpu_init();
  return !__builtin_cpu_supports("fma");
#else
  return false;
#endif
}

enum class Rounding { SmallInt, Int32 };

struct TieCase {
  Rounding routine;
  float in;
  int32_t want;  // the rounded-first value
  const char* why;
};

const TieCase kTies[] = {
    // Exact ties: x 32767 = 16383.5, x 2147483647 = 1073741823.5.
    {Rounding::SmallInt, 0.5f, 16384, "exact tie goes to even"},
    {Rounding::SmallInt, -0.5f, -16384, "exact tie goes to even"},
    // Just below a tie; the float product rounds up onto it, then to even.
    {Rounding::SmallInt, 0x1.8003p-15f, 2, "1.4999999986 -> 1.5 -> 2 (fused: 1)"},
    {Rounding::SmallInt, -0x1.8003p-15f, -2, "-1.4999999986 -> -1.5 -> -2 (fused: -1)"},
    {Rounding::SmallInt, 0x1.c0038p-14f, 4, "3.4999999967 -> 3.5 -> 4 (fused: 3)"},
    {Rounding::SmallInt, 0x1.0008p-1f, 16386, "16385.49994 -> 16385.5 -> 16386 (fused: 16385)"},
    {Rounding::SmallInt, -0x1.0008p-1f, -16386, "-16385.49994 -> -16386 (fused: -16385)"},
    // Just above a tie; the float product rounds down onto it, then to even.
    {Rounding::SmallInt, 0x1.008202p-7f, 256, "256.500015 -> 256.5 -> 256 (fused: 257)"},
    {Rounding::SmallInt, -0x1.008202p-7f, -256, "-256.500015 -> -256.5 -> -256 (fused: -257)"},
    // Neighbours that stay clear of the tie.
    {Rounding::SmallInt, 0x1.8002p-15f, 1, "1.49998 stays below"},
    {Rounding::SmallInt, 0x1.0007fep-1f, 16385, "16385.498 stays below"},
    {Rounding::SmallInt, 0x1.000802p-1f, 16386, "16385.502 stays above"},
    {Rounding::SmallInt, 0x1.0082p-7f, 256, "256.49998 stays below"},
    {Rounding::Int32, 0.5f, 1073741824, "exact tie goes to even"},
    {Rounding::Int32, -0.5f, -1073741824, "exact tie goes to even"},
    {Rounding::Int32, 0x1.000002p-1f, 1073741952,
     "1073741951.49999994 -> .5 in double -> 1073741952 (fused: ...951)"},
    {Rounding::Int32, -0x1.000002p-1f, -1073741952, "negative of the above"},
    {Rounding::Int32, 0x1.000004p-1f, 1073742080,
     "1073742079.49999988 -> .5 in double -> 1073742080 (fused: ...079)"},
    {Rounding::Int32, -0x1.000004p-1f, -1073742080, "negative of the above"},
    {Rounding::Int32, 0x1.000006p-1f, 1073742207, "1073742207.4999998 stays below"},
    {Rounding::Int32, 0x1.fffffep-2f, 1073741760, "1073741759.50000003 -> .5 -> even"},
};

TEST(RoundingTies, ProductIsRoundedBeforeTheIntegerRounding) {
  if (CannotRunHere()) GTEST_SKIP() << "no FMA on this processor";
  for (const TieCase& c : kTies) {
    SCOPED_TRACE(c.why);
    float x = c.in;
    int32_t got = 0;
    if (c.routine == Rounding::SmallInt) {
      int16_t d = 0;
      SingleToSmallInt(&x, &d, 1);
      got = d;
    } else {
      SingleToInt32(&x, &got, 1);
    }
    EXPECT_EQ(got, c.want) << std::hexfloat << c.in;
  }
}

// The same inputs in one long block, so that the vectorised loop bodies
// (not only the one-sample tail) are checked.
TEST(RoundingTies, VectorisedLoopsGiveTheSameValues) {
  if (CannotRunHere()) GTEST_SKIP() << "no FMA on this processor";
  constexpr int kRepeat = 37;
  for (Rounding r : {Rounding::SmallInt, Rounding::Int32}) {
    std::vector<float> in;
    std::vector<int32_t> want;
    for (int k = 0; k < kRepeat; ++k) {
      for (const TieCase& c : kTies) {
        if (c.routine != r) continue;
        in.push_back(c.in);
        want.push_back(c.want);
      }
    }
    const int32_t n = int32_t(in.size());
    std::vector<int32_t> got(n);
    if (r == Rounding::SmallInt) {
      std::vector<int16_t> d(n);
      SingleToSmallInt(in.data(), d.data(), n);
      got.assign(d.begin(), d.end());
    } else {
      SingleToInt32(in.data(), got.data(), n);
    }
    EXPECT_EQ(got, want) << (r == Rounding::SmallInt ? "16-bit" : "32-bit");
  }
}

}  // namespace
}  // namespace lirvo
