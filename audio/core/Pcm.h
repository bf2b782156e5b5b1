#pragma once
// PCM sample layouts: single samples of every width and byte order the
// decoders and drivers use, and the block routines that move samples between
// planar channel buffers and interleaved frames. Pure functions on
// caller-owned memory: no state, no allocation, no I/O. These carry audio
// bit for bit, so every rule below (truncation, rounding, saturation) is
// part of the output the rest of the program expects.
//
// The single-sample routines are inline templates so that per-sample loops
// elsewhere compile to plain moves; the block routines pick the template once
// per block.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace lirvo {

// How one integer sample sits in memory.
enum class TPcmSample : uint8_t {
  U8,         // unsigned 8-bit, 0x80 is zero
  S16LE,      // ASIO Int16LSB
  S16BE,      // ASIO Int16MSB
  S24LE,      // three bytes (ALSA S24_3LE, ASIO Int24LSB)
  S24BE,      // three bytes (ASIO Int24MSB)
  S24In32LE,  // low 24 bits of 32, sign-extended (ALSA S24_LE, ASIO Int32LSB24)
  S24In32BE,  // the same, big-endian (ASIO Int32MSB24)
  S32LE,      // ASIO Int32LSB
  S32BE,      // ASIO Int32MSB
};

// Bytes one sample of Layout takes: 1, 2, 3 or 4.
constexpr uint32_t PcmSampleBytes(TPcmSample Layout) {
  switch (Layout) {
    case TPcmSample::U8:
      return 1;
    case TPcmSample::S16LE:
    case TPcmSample::S16BE:
      return 2;
    case TPcmSample::S24LE:
    case TPcmSample::S24BE:
      return 3;
    default:
      return 4;
  }
}

// Significant bits of a sample of Layout: 8, 16, 24 or 32.
constexpr uint32_t PcmSampleBits(TPcmSample Layout) {
  return Layout == TPcmSample::S24In32LE || Layout == TPcmSample::S24In32BE
             ? 24
             : PcmSampleBytes(Layout) * 8;
}

namespace pcm_detail {

constexpr bool kLittle = std::endian::native == std::endian::little;

inline uint16_t Swap16(uint16_t v) {
  return static_cast<uint16_t>(v << 8 | v >> 8);
}
inline uint32_t Swap32(uint32_t v) {
  return __builtin_bswap32(v);
}

// Byte-wise through memcpy: no alignment or aliasing assumptions, and on a
// matching host a plain move.
inline void Store16(uint8_t* p, uint16_t v, bool Little) {
  if (Little != kLittle) v = Swap16(v);
  std::memcpy(p, &v, 2);
}
inline void Store32(uint8_t* p, uint32_t v, bool Little) {
  if (Little != kLittle) v = Swap32(v);
  std::memcpy(p, &v, 4);
}
inline uint16_t Load16(const uint8_t* p, bool Little) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return Little != kLittle ? Swap16(v) : v;
}
inline uint32_t Load32(const uint8_t* p, bool Little) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return Little != kLittle ? Swap32(v) : v;
}

// The low 24 bits of v as a signed value.
inline int32_t SignExtend24(uint32_t v) {
  return static_cast<int32_t>(v << 8) >> 8;
}

}  // namespace pcm_detail

// Stores the sample value V (right-justified: the layout's own width, e.g.
// -32768..32767 for 16 bits) at P. Bits above the layout's width are dropped
// (two's complement truncation); U8 adds the 128 offset.
template <TPcmSample S>
inline void PcmPut(uint8_t* P, int32_t V) {
  using namespace pcm_detail;
  const uint32_t u = static_cast<uint32_t>(V);
  if constexpr (S == TPcmSample::U8) {
    P[0] = static_cast<uint8_t>(u + 128);
  } else if constexpr (S == TPcmSample::S16LE || S == TPcmSample::S16BE) {
    Store16(P, static_cast<uint16_t>(u), S == TPcmSample::S16LE);
  } else if constexpr (S == TPcmSample::S24LE) {
    P[0] = static_cast<uint8_t>(u);
    P[1] = static_cast<uint8_t>(u >> 8);
    P[2] = static_cast<uint8_t>(u >> 16);
  } else if constexpr (S == TPcmSample::S24BE) {
    P[0] = static_cast<uint8_t>(u >> 16);
    P[1] = static_cast<uint8_t>(u >> 8);
    P[2] = static_cast<uint8_t>(u);
  } else if constexpr (S == TPcmSample::S24In32LE || S == TPcmSample::S24In32BE) {
    Store32(P, static_cast<uint32_t>(SignExtend24(u)), S == TPcmSample::S24In32LE);
  } else {
    Store32(P, u, S == TPcmSample::S32LE);
  }
}

// Loads the sample at P as a right-justified signed value (U8 loses its
// offset; 24 bits in 32 ignore the top byte).
template <TPcmSample S>
inline int32_t PcmGet(const uint8_t* P) {
  using namespace pcm_detail;
  if constexpr (S == TPcmSample::U8) {
    return static_cast<int32_t>(P[0]) - 128;
  } else if constexpr (S == TPcmSample::S16LE || S == TPcmSample::S16BE) {
    return static_cast<int16_t>(Load16(P, S == TPcmSample::S16LE));
  } else if constexpr (S == TPcmSample::S24LE) {
    return SignExtend24(uint32_t(P[0]) | uint32_t(P[1]) << 8 | uint32_t(P[2]) << 16);
  } else if constexpr (S == TPcmSample::S24BE) {
    return SignExtend24(uint32_t(P[2]) | uint32_t(P[1]) << 8 | uint32_t(P[0]) << 16);
  } else if constexpr (S == TPcmSample::S24In32LE || S == TPcmSample::S24In32BE) {
    return SignExtend24(Load32(P, S == TPcmSample::S24In32LE));
  } else {
    return static_cast<int32_t>(Load32(P, S == TPcmSample::S32LE));
  }
}

// IEEE single precision, little-endian (ASIO Float32LSB).
inline void PcmPutF32LE(uint8_t* P, float V) {
  pcm_detail::Store32(P, std::bit_cast<uint32_t>(V), true);
}
inline float PcmGetF32LE(const uint8_t* P) {
  return std::bit_cast<float>(pcm_detail::Load32(P, true));
}

// The same for a layout known only at run time (one switch per sample: for
// headers, tests and other cold paths).
void PcmPutSample(TPcmSample Layout, uint8_t* P, int32_t V);
int32_t PcmGetSample(TPcmSample Layout, const uint8_t* P);

// The nearest value of a Bits-wide sample (8, 16 or 24) to the full-scale
// 32-bit value S: S / 2^(32 - Bits) rounded half up, saturating at the top
// (the bottom cannot overflow). 32 returns S.
template <uint32_t Bits>
inline int32_t PcmRoundTo(int32_t S) {
  static_assert(Bits == 8 || Bits == 16 || Bits == 24 || Bits == 32);
  if constexpr (Bits == 32) {
    return S;
  } else {
    constexpr uint32_t shift = 32 - Bits;
    constexpr int32_t half = int32_t(1) << (shift - 1);
    constexpr int32_t top = INT32_MAX - half;  // from here on, S + half overflows
    if (S > top) return INT32_MAX >> shift;
    return (S + half) >> shift;
  }
}

// ---------------------------------------------------------------------------
// Planar -> interleaved

// Decoded samples: Frames values of each channel Src[0..Channels), each
// shifted left by Shift (a narrower stream left-justified in the layout's
// width, e.g. 4 for 12 bits in 16) and stored in Layout, frame after frame.
void PcmInterleave(const int32_t* const* Src, uint32_t Channels, uint32_t Frames, uint32_t Shift,
                   TPcmSample Layout, uint8_t* Dst);

// Full-scale 32-bit samples: each rounded to the layout's width with
// PcmRoundTo and stored in Layout, frame after frame. A null Src[c] is a
// silent channel (zero; 0x80 for U8).
void PcmInterleaveRounded(const int32_t* const* Src, uint32_t Channels, uint32_t Frames,
                          TPcmSample Layout, uint8_t* Dst);

// Interleaved -> planar: frame f, channel c of Src (SrcChannels samples per
// frame) goes to position f of Dst[c], for c < DstChannels (DstChannels <=
// SrcChannels; the other channels are skipped). Zero frames or channels
// write nothing.
void PcmDeinterleave32(const int32_t* Src, uint32_t SrcChannels, int32_t* const* Dst,
                       uint32_t DstChannels, uint32_t Frames);
void PcmDeinterleave16(const int16_t* Src, uint32_t SrcChannels, int16_t* const* Dst,
                       uint32_t DstChannels, uint32_t Frames);
// The same from full-scale 32-bit integers to floats scaled by 2^-31 (exact
// for |s| < 2^24, otherwise rounded to nearest).
void PcmDeinterleaveToFloat(const int32_t* Src, uint32_t SrcChannels, float* const* Dst,
                            uint32_t DstChannels, uint32_t Frames);

// Copies Count samples of Width bytes, taken from byte From of each Src sample
// (SrcStep bytes apart), to Dst (DstStep bytes apart): one channel of a
// planar or interleaved block into its place in interleaved frames, and with
// Width 3, From 1 the top three bytes of little-endian 32-bit samples (24-bit
// truncation). Src and Dst must not overlap.
void PcmCopySamples(const uint8_t* Src, size_t SrcStep, uint8_t* Dst, size_t DstStep, size_t Count,
                    uint32_t Width, uint32_t From);

// ---------------------------------------------------------------------------
// Widening and narrowing of whole blocks (little-endian samples)

// S16LE -> 32-bit left-justified (value x 65536): Count samples, Src and Dst
// disjoint.
void PcmUnpack16To32(const uint8_t* Src, uint8_t* Dst, size_t Count);
// S24LE (three bytes) -> 32-bit left-justified (value x 256): Count samples,
// Src and Dst disjoint.
void PcmUnpack24To32(const uint8_t* Src, uint8_t* Dst, size_t Count);
// The same with the processor's byte shuffle (SSSE3), for a leading part:
// returns the samples done (0 where the instructions are not built in); the
// caller finishes the rest with PcmUnpack24To32. Only to be called when the
// processor has SSSE3. Reads never reach past the Count samples.
size_t PcmUnpack24To32Shuffle(const uint8_t* Src, uint8_t* Dst, size_t Count);

// In place: Count little-endian 32-bit samples -> their top three bytes,
// packed at the start of Buf (24-bit truncation).
void PcmPack32To24InPlace(uint8_t* Buf, size_t Count);

}  // namespace lirvo
