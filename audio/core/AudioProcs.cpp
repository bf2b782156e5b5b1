#include "audio/core/AudioProcs.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "audio/core/Pcm.h"

// The scaling below relies on float arithmetic being done in float and double
// arithmetic in double (SSE, not the x87 stack with its wider registers), so
// that "product formed in single precision" means a plain float multiply.
static_assert(FLT_EVAL_METHOD == 0, "float expressions must be evaluated in their own type");

// The float-to-integer loops of the converter clip with integer masks; with
// only SSE2 that is several times slower than the conversion itself, AVX2 has
// the wider integer operations. An AVX2 copy is built next to the baseline one
// and picked once at load time. (AVX2 alone does not allow fused
// multiply-add, so every product is still rounded on its own.)
// Not under ThreadSanitizer: its runtime is not ready when the loader runs
// the clones' resolvers.
#if defined(__SANITIZE_THREAD__)
#define LIRVO_NO_CLONES 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define LIRVO_NO_CLONES 1
#endif
#endif
#if defined(__x86_64__) && defined(__has_attribute) && !defined(LIRVO_NO_CLONES)
#if __has_attribute(target_clones)
#define LIRVO_FLOAT_LOOP __attribute__((target_clones("avx2", "default")))
#endif
#endif
#ifndef LIRVO_FLOAT_LOOP
#define LIRVO_FLOAT_LOOP
#endif

namespace lirvo {

namespace {

// Byte-wise loads and stores: the buffers are reinterpreted between sample
// widths in place, so every access goes through memcpy (no aliasing
// assumptions, no alignment requirements). Compilers turn these into plain
// moves.
template <class T>
inline T Load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}

template <class T>
inline void Store(uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof(T));
}

// Rounds to the nearest integer, ties to even (under the default rounding
// mode), for |v| < 2^22 (float) and |v| < 2^51 (double). Adding 1.5 x 2^23
// (float) or 1.5 x 2^52 (double) pushes the fraction out of the mantissa;
// unlike nearbyint this stays a plain add the compiler can vectorise. Needs
// strict IEEE evaluation (no -ffast-math).
inline float RoundHalfEven(float v) {
  constexpr float kMagic = 12582912.0f;
  return (v + kMagic) - kMagic;
}

inline double RoundHalfEven(double v) {
  constexpr double kMagic = 6755399441055744.0;
  return (v + kMagic) - kMagic;
}

// The per-sample rules below are written with all-ones / all-zero masks
// instead of branches or conditional expressions: the compiler turns some of
// those back into control flow, and then the loop does not vectorise.
inline int32_t Mask(bool b) {
  return -int32_t(b);
}

// floor(v) as an integer for values inside the int32 range: truncate, then
// step down when truncation went up.
inline int32_t FloorToInt(float v) {
  int32_t t = int32_t(v);
  return t - int32_t(float(t) > v);
}

// Magnitude 1.0 or more (exponent field 127 or more, infinities included)
// becomes +1.0 when >= 1.0 and -1.0 otherwise; NaN becomes 0.0, silence
// rather than a full-scale click. Done on the bit pattern: +1.0 and above up
// to +infinity are the patterns 0x3F800000..0x7F800000 read as signed; NaNs
// have a magnitude above 0x7F800000.
inline float ClipUnit(float x) {
  int32_t bits = std::bit_cast<int32_t>(x);
  int32_t nan = Mask((bits & 0x7FFFFFFF) > 0x7F800000);
  int32_t big = Mask((bits & 0x7FFFFFFF) >= 0x3F800000);
  int32_t plus = Mask(uint32_t(bits) - 0x3F800000u <= 0x7F800000u - 0x3F800000u);
  int32_t one = int32_t(0xBF800000u) ^ (plus & int32_t(0x80000000u));  // -1.0 or +1.0
  return std::bit_cast<float>(~nan & ((big & one) | (~big & bits)));
}

// The float-to-int32 rule of decoded float data: >= 1.0 gives the maximum,
// -1.0 and below the minimum, NaN 0 (silence, not a click), otherwise
// floor(x x 2147483647) as an extended-precision (64-bit mantissa) product
// gives it. The double product is enough whenever it is not a whole number:
// rounding can move the product onto an integer from below, never across
// one. Only then is the product redone in long double (exact for floats).
inline int32_t UnitToInt32Floor(double x) {
  if (x >= 1.0) return 2147483647;
  if (x <= -1.0) return int32_t(-2147483647 - 1);
  if (std::isnan(x)) return 0;
  double p = x * 2147483647.0;
  int32_t t = int32_t(p);
  double tp = double(t);
  if (tp == p && x != 0.0) {
    return int32_t(std::floor(static_cast<long double>(x) * 2147483647.0L));
  }
  return t - int32_t(tp > p);
}

// In-place widening of n samples of In bytes to Out bytes (Out > In), from
// the end of the block to its start. Each step takes the largest tail range
// [lo, hi) whose input [lo*In, hi*In) and output [lo*Out, hi*Out) do not
// overlap (lo*Out >= hi*In), and converts it with a plain forward loop over
// disjoint memory; the range below lo still holds untouched input. Where no
// such range of more than one sample exists (near the start), one sample is
// read completely before it is written.
template <size_t In, size_t Out, class Block, class One>
inline void WidenInPlace(uint8_t* buf, size_t n, Block block, One one) {
  static_assert(Out > In);
  size_t hi = n;
  while (hi > 0) {
    size_t lo = (hi * In + Out - 1) / Out;
    if (lo >= hi - 1 || lo == 0) {
      one(buf + (hi - 1) * In, buf + (hi - 1) * Out);
      --hi;
      continue;
    }
    block(buf + lo * In, buf + lo * Out, hi - lo);
    hi = lo;
  }
}

// In-place narrowing of n samples of In bytes to Out bytes (Out < In), from
// the start: the range [lo, hi) is disjoint from what it writes when
// hi*Out <= lo*In.
template <size_t In, size_t Out, class Block, class One>
inline void NarrowInPlace(uint8_t* buf, size_t n, Block block, One one) {
  static_assert(Out < In);
  size_t lo = 0;
  while (lo < n) {
    size_t hi = lo * In / Out;
    if (hi > n) hi = n;
    if (hi <= lo + 1) {
      one(buf + lo * In, buf + lo * Out);
      ++lo;
      continue;
    }
    block(buf + lo * In, buf + lo * Out, hi - lo);
    lo = hi;
  }
}

void Widen16Block(const uint8_t* __restrict src, uint8_t* __restrict dst, size_t n) {
  PcmUnpack16To32(src, dst, n);
}

// One sample, read whole before it is written (src and dst may overlap).
void Widen16One(const uint8_t* src, uint8_t* dst) {
  PcmPut<TPcmSample::S32LE>(dst, int32_t(uint32_t(PcmGet<TPcmSample::S16LE>(src)) << 16));
}

void Widen24One(const uint8_t* src, uint8_t* dst) {
  PcmPut<TPcmSample::S32LE>(dst, int32_t(uint32_t(PcmGet<TPcmSample::S24LE>(src)) << 8));
}

#if defined(__x86_64__) || defined(__i386__)
bool DetectSsse3() {
  __builtin_cpu_init();  // may run before the runtime's own initialisation
  return __builtin_cpu_supports("ssse3");
}
const bool kHaveSsse3 = DetectSsse3();
#else
const bool kHaveSsse3 = false;
#endif
// Cleared by tests to run the portable loops on any machine.
std::atomic<bool> gUseShuffle{kHaveSsse3};

// 24-bit samples to 32-bit (value x 256), Src and Dst disjoint.
void Widen24Block(const uint8_t* __restrict src, uint8_t* __restrict dst, size_t n) {
  size_t i = gUseShuffle.load(std::memory_order_relaxed) ? PcmUnpack24To32Shuffle(src, dst, n) : 0;
  PcmUnpack24To32(src + 3 * i, dst + 4 * i, n - i);
}

void MonoToStereoBlock(const uint8_t* __restrict src, uint8_t* __restrict dst, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    uint32_t v = Load<uint32_t>(src + 4 * i);
    Store<uint32_t>(dst + 8 * i, v);
    Store<uint32_t>(dst + 8 * i + 4, v);
  }
}

void MonoToStereoOne(const uint8_t* src, uint8_t* dst) {
  uint32_t v = Load<uint32_t>(src);
  Store<uint32_t>(dst + 4, v);
  Store<uint32_t>(dst, v);
}

void DoubleToInt32Block(const uint8_t* __restrict src, uint8_t* __restrict dst, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    Store<int32_t>(dst + 4 * i, UnitToInt32Floor(Load<double>(src + 8 * i)));
  }
}

void DoubleToInt32One(const uint8_t* src, uint8_t* dst) {
  Store<int32_t>(dst, UnitToInt32Floor(Load<double>(src)));
}

}  // namespace

void Convert24To32(void* Buf, uint32_t Bytes) {
  WidenInPlace<3, 4>(static_cast<uint8_t*>(Buf), Bytes / 3, Widen24Block, Widen24One);
}

void Convert16To32(void* Buf, uint32_t Bytes) {
  WidenInPlace<2, 4>(static_cast<uint8_t*>(Buf), Bytes / 2, Widen16Block, Widen16One);
}

void Convert16To32Copy(const void* Src, void* Dst, uint32_t Bytes) {
  Widen16Block(static_cast<const uint8_t*>(Src), static_cast<uint8_t*>(Dst), Bytes / 2);
}

void Convert8To32Copy(const void* Src, void* Dst, uint32_t Bytes) {
  const uint8_t* src = static_cast<const uint8_t*>(Src);
  uint8_t* dst = static_cast<uint8_t*>(Dst);
  // Flipping the top bit re-centres the unsigned sample on zero.
  for (uint32_t i = 0; i < Bytes; ++i)
    Store<uint32_t>(dst + 4 * size_t(i), (uint32_t(src[i]) ^ 0x80u) << 24);
}

void Convert24To32Copy(const void* Src, void* Dst, uint32_t Bytes) {
  Widen24Block(static_cast<const uint8_t*>(Src), static_cast<uint8_t*>(Dst), Bytes / 3);
}

void ConvertDoubleToInt32(void* Buf, uint32_t Bytes) {
  NarrowInPlace<8, 4>(static_cast<uint8_t*>(Buf), Bytes / 8, DoubleToInt32Block, DoubleToInt32One);
}

void ConvertSingleToInt32(void* Buf, uint32_t Bytes) {
  uint8_t* p = static_cast<uint8_t*>(Buf);
  size_t n = Bytes / 4;
  for (size_t i = 0; i < n; ++i) {
    Store<int32_t>(p + 4 * i, UnitToInt32Floor(Load<float>(p + 4 * i)));
  }
}

LIRVO_FLOAT_LOOP void SingleToByte(float* Src, uint8_t* Dst, int32_t Count) {
  // floor((x + 1) x 128) with the sum rounded in single precision, as the
  // float stage has always produced it. Just below 1.0 the sum rounds to 2.0;
  // that sample is clamped to 255 instead of wrapping to 0. NaN is silence
  // (128).
  for (int32_t i = 0; i < Count; ++i) {
    float x = Src[i];
    int32_t top = Mask(x >= 1.0f);
    int32_t inside = Mask(x > -1.0f) & ~top;
    int32_t nan = Mask(x != x);
    // Outside (-1, 1) the scaled value is replaced by 0 so the conversion
    // stays in range.
    float y = std::bit_cast<float>(std::bit_cast<int32_t>((x + 1.0f) * 128.0f) & inside);
    int32_t v = (top & 255) | (inside & std::min(FloorToInt(y), 255)) | (nan & 128);
    Dst[i] = uint8_t(v);
  }
}

// The two rounding conversions below take the product rounded to its own
// precision, then round that to an integer. Written as x x 32767 the product
// could be fused into the rounding add (contraction, wherever FMA exists) and
// skip its own rounding, which moves results next to ties. x x 2^k - x has an
// exact product, so fused or not the single rounding is the subtraction's and
// the result is the same.
LIRVO_FLOAT_LOOP void SingleToSmallInt(float* Src, int16_t* Dst, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i) {
    float x = ClipUnit(Src[i]);
    Src[i] = x;
    Dst[i] = int16_t(int32_t(RoundHalfEven(x * 32768.0f - x)));
  }
}

LIRVO_FLOAT_LOOP void SingleToInt24(float* Src, uint8_t* Dst, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i) {
    float x = ClipUnit(Src[i]);
    Src[i] = x;
    PcmPut<TPcmSample::S24LE>(Dst + 3 * size_t(i), FloorToInt(x * 8388607.0f));
  }
}

LIRVO_FLOAT_LOOP void SingleToInt32(float* Src, int32_t* Dst, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i) {
    float x = ClipUnit(Src[i]);
    Src[i] = x;
    double d = x;
    Dst[i] = int32_t(RoundHalfEven(d * 2147483648.0 - d));
  }
}

void ByteToSingle(const uint8_t* Src, float* Dst, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i)
    Dst[i] = float(Src[i]) * (1.0f / 128.0f) - 1.0f;
}

void SmallIntToSingle(const int16_t* Src, float* Dst, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i)
    Dst[i] = float(Src[i]) * (1.0f / 32768.0f);
}

void Int24ToSingle(const uint8_t* Src, float* Dst, int32_t Count) {
  // s x 2^-23 equals (s x 256) x 2^-31 exactly (24 bits fit a float), so the
  // samples are widened in slices and scaled as 32-bit ones.
  constexpr int32_t kSlice = 256;
  int32_t v[kSlice];
  for (int32_t base = 0; base < Count; base += kSlice) {
    int32_t m = std::min(kSlice, Count - base);
    Widen24Block(Src + 3 * size_t(base), reinterpret_cast<uint8_t*>(v), size_t(m));
    for (int32_t i = 0; i < m; ++i)
      Dst[base + i] = float(v[i]) * (1.0f / 2147483648.0f);
  }
}

void Int32ToSingle(const int32_t* Src, float* Dst, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i)
    Dst[i] = float(Src[i]) * (1.0f / 2147483648.0f);
}

void StereoToMono(float* Buf, int32_t Frames) {
  // Forward: output i lands at or before input 2i, which is already read.
  // The sum is formed in double so that only the final store rounds.
  for (int32_t i = 0; i < Frames; ++i) {
    Buf[i] = float((double(Buf[2 * i]) + double(Buf[2 * i + 1])) * 0.5);
  }
}

void MonoToStereo(void* Buf, int32_t Frames) {
  if (Frames <= 0) return;
  WidenInPlace<4, 8>(static_cast<uint8_t*>(Buf), size_t(Frames), MonoToStereoBlock,
                     MonoToStereoOne);
}

bool UseShuffleInstructions(bool Enabled) {
  bool was = gUseShuffle.load();
  gUseShuffle = Enabled && kHaveSsse3;
  return was;
}

bool SameGUID(const TGUID& A, const TGUID& B) {
  return A.D1 == B.D1 && A.D2 == B.D2 && A.D3 == B.D3 && std::memcmp(A.D4, B.D4, 8) == 0;
}

}  // namespace lirvo
