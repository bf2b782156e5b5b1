#include "audio/core/Pcm.h"

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#endif

namespace lirvo {

namespace {

using pcm_detail::Load32;
using pcm_detail::Store32;

// Calls F with the layout as a compile-time constant, so that each block
// routine is one template per layout with the store inlined in its loop.
template <class F>
void WithLayout(TPcmSample Layout, F&& Fn) {
  switch (Layout) {
    case TPcmSample::U8:
      Fn.template operator()<TPcmSample::U8>();
      return;
    case TPcmSample::S16LE:
      Fn.template operator()<TPcmSample::S16LE>();
      return;
    case TPcmSample::S16BE:
      Fn.template operator()<TPcmSample::S16BE>();
      return;
    case TPcmSample::S24LE:
      Fn.template operator()<TPcmSample::S24LE>();
      return;
    case TPcmSample::S24BE:
      Fn.template operator()<TPcmSample::S24BE>();
      return;
    case TPcmSample::S24In32LE:
      Fn.template operator()<TPcmSample::S24In32LE>();
      return;
    case TPcmSample::S24In32BE:
      Fn.template operator()<TPcmSample::S24In32BE>();
      return;
    case TPcmSample::S32LE:
      Fn.template operator()<TPcmSample::S32LE>();
      return;
    case TPcmSample::S32BE:
      Fn.template operator()<TPcmSample::S32BE>();
      return;
  }
}

template <TPcmSample S>
void InterleaveShifted(const int32_t* const* Src, uint32_t Channels, uint32_t Frames,
                       uint32_t Shift, uint8_t* Out) {
  constexpr uint32_t B = PcmSampleBytes(S);
  auto put = [Shift](uint8_t* p, int32_t s) {
    PcmPut<S>(p, static_cast<int32_t>(static_cast<uint32_t>(s) << Shift));
  };
  if (Channels == 2) {
    // The common case, kept free of the inner channel loop.
    const int32_t* l = Src[0];
    const int32_t* r = Src[1];
    for (uint32_t i = 0; i < Frames; ++i) {
      put(Out, l[i]);
      put(Out + B, r[i]);
      Out += 2 * B;
    }
    return;
  }
  for (uint32_t i = 0; i < Frames; ++i)
    for (uint32_t c = 0; c < Channels; ++c) {
      put(Out, Src[c][i]);
      Out += B;
    }
}

template <TPcmSample S>
void InterleaveRoundedAs(const int32_t* const* Src, uint32_t Channels, uint32_t Frames,
                         uint8_t* Dst) {
  constexpr uint32_t B = PcmSampleBytes(S);
  constexpr uint32_t Bits = PcmSampleBits(S);
  const size_t step = static_cast<size_t>(B) * Channels;
  // Channel by channel: each pass reads one buffer straight through.
  for (uint32_t c = 0; c < Channels; ++c) {
    const int32_t* s = Src[c];
    uint8_t* d = Dst + static_cast<size_t>(c) * B;
    if (!s) {
      for (uint32_t f = 0; f < Frames; ++f, d += step)
        PcmPut<S>(d, 0);
      continue;
    }
    for (uint32_t f = 0; f < Frames; ++f, d += step)
      PcmPut<S>(d, PcmRoundTo<Bits>(s[f]));
  }
}

template <uint32_t C>
void Deinterleave32Fixed(const int32_t* Src, int32_t* const* Dst, uint32_t Frames) {
  for (uint32_t f = 0; f < Frames; ++f)
    for (uint32_t c = 0; c < C; ++c)
      Dst[c][f] = Src[f * C + c];
}

// The width and offset are constants, so the copies compile to plain loads
// and stores.
template <uint32_t Width, uint32_t From>
void CopyFixed(const uint8_t* Src, size_t SrcStep, uint8_t* Dst, size_t DstStep, size_t Count) {
  for (size_t i = 0; i < Count; ++i, Src += SrcStep, Dst += DstStep)
    std::memcpy(Dst, Src + From, Width);
}

}  // namespace

void PcmPutSample(TPcmSample Layout, uint8_t* P, int32_t V) {
  WithLayout(Layout, [&]<TPcmSample S>() { PcmPut<S>(P, V); });
}

int32_t PcmGetSample(TPcmSample Layout, const uint8_t* P) {
  int32_t v = 0;
  WithLayout(Layout, [&]<TPcmSample S>() { v = PcmGet<S>(P); });
  return v;
}

void PcmInterleave(const int32_t* const* Src, uint32_t Channels, uint32_t Frames, uint32_t Shift,
                   TPcmSample Layout, uint8_t* Dst) {
  if (Frames == 0 || Channels == 0) return;
  WithLayout(Layout,
             [&]<TPcmSample S>() { InterleaveShifted<S>(Src, Channels, Frames, Shift, Dst); });
}

void PcmInterleaveRounded(const int32_t* const* Src, uint32_t Channels, uint32_t Frames,
                          TPcmSample Layout, uint8_t* Dst) {
  if (Frames == 0 || Channels == 0) return;
  WithLayout(Layout, [&]<TPcmSample S>() { InterleaveRoundedAs<S>(Src, Channels, Frames, Dst); });
}

void PcmDeinterleave32(const int32_t* Src, uint32_t SrcChannels, int32_t* const* Dst,
                       uint32_t DstChannels, uint32_t Frames) {
  if (Frames == 0 || DstChannels == 0) return;
  if (SrcChannels == DstChannels) {
    switch (SrcChannels) {
      case 2:
        Deinterleave32Fixed<2>(Src, Dst, Frames);
        return;
      case 4:
        Deinterleave32Fixed<4>(Src, Dst, Frames);
        return;
      case 6:
        Deinterleave32Fixed<6>(Src, Dst, Frames);
        return;
      case 8:
        Deinterleave32Fixed<8>(Src, Dst, Frames);
        return;
      default:
        break;
    }
  }
  for (uint32_t f = 0; f < Frames; ++f)
    for (uint32_t c = 0; c < DstChannels; ++c)
      Dst[c][f] = Src[static_cast<size_t>(f) * SrcChannels + c];
}

void PcmDeinterleave16(const int16_t* Src, uint32_t SrcChannels, int16_t* const* Dst,
                       uint32_t DstChannels, uint32_t Frames) {
  if (Frames == 0 || DstChannels == 0) return;
  for (uint32_t c = 0; c < DstChannels; ++c) {
    int16_t* d = Dst[c];
    for (uint32_t f = 0; f < Frames; ++f)
      d[f] = Src[static_cast<size_t>(f) * SrcChannels + c];
  }
}

void PcmDeinterleaveToFloat(const int32_t* Src, uint32_t SrcChannels, float* const* Dst,
                            uint32_t DstChannels, uint32_t Frames) {
  if (Frames == 0 || DstChannels == 0) return;
  constexpr float kScale = 1.0f / 2147483648.0f;
  for (uint32_t c = 0; c < DstChannels; ++c) {
    float* d = Dst[c];
    for (uint32_t f = 0; f < Frames; ++f)
      d[f] = static_cast<float>(Src[static_cast<size_t>(f) * SrcChannels + c]) * kScale;
  }
}

void PcmCopySamples(const uint8_t* Src, size_t SrcStep, uint8_t* Dst, size_t DstStep, size_t Count,
                    uint32_t Width, uint32_t From) {
  const uint32_t key = Width << 8 | From;
  switch (key) {
    case 1 << 8 | 0:
      CopyFixed<1, 0>(Src, SrcStep, Dst, DstStep, Count);
      return;
    case 2 << 8 | 0:
      CopyFixed<2, 0>(Src, SrcStep, Dst, DstStep, Count);
      return;
    case 3 << 8 | 0:
      CopyFixed<3, 0>(Src, SrcStep, Dst, DstStep, Count);
      return;
    case 3 << 8 | 1:
      CopyFixed<3, 1>(Src, SrcStep, Dst, DstStep, Count);
      return;
    case 4 << 8 | 0:
      CopyFixed<4, 0>(Src, SrcStep, Dst, DstStep, Count);
      return;
    default:
      for (size_t i = 0; i < Count; ++i, Src += SrcStep, Dst += DstStep)
        std::memcpy(Dst, Src + From, Width);
      return;
  }
}

void PcmUnpack16To32(const uint8_t* __restrict Src, uint8_t* __restrict Dst, size_t Count) {
  for (size_t i = 0; i < Count; ++i) {
    Store32(Dst + 4 * i, uint32_t(pcm_detail::Load16(Src + 2 * i, true)) << 16, true);
  }
}

void PcmUnpack24To32(const uint8_t* __restrict Src, uint8_t* __restrict Dst, size_t Count) {
  // Four samples (12 bytes, three 32-bit words) per step: the compiler
  // cannot vectorise the byte-wise form well.
  size_t i = 0;
  for (; i + 4 <= Count; i += 4) {
    const uint8_t* s = Src + 3 * i;
    const uint32_t w0 = Load32(s, true);
    const uint32_t w1 = Load32(s + 4, true);
    const uint32_t w2 = Load32(s + 8, true);
    uint8_t* d = Dst + 4 * i;
    Store32(d, w0 << 8, true);
    Store32(d + 4, ((w0 >> 16) & 0xFF00u) | (w1 << 16), true);
    Store32(d + 8, ((w1 >> 8) & 0xFFFF00u) | (w2 << 24), true);
    Store32(d + 12, w2 & 0xFFFFFF00u, true);
  }
  for (; i < Count; ++i) {
    const uint8_t* s = Src + 3 * i;
    Store32(Dst + 4 * i, uint32_t(s[0]) << 8 | uint32_t(s[1]) << 16 | uint32_t(s[2]) << 24, true);
  }
}

#if defined(__x86_64__) || defined(__i386__)
namespace {

// One SSSE3 shuffle per four samples: close to memcpy speed, where the
// portable loop reaches about a fifth of it.
__attribute__((target("ssse3"))) size_t Unpack24Ssse3(const uint8_t* __restrict Src,
                                                      uint8_t* __restrict Dst, size_t Count) {
  const __m128i order = _mm_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11);
  size_t i = 0;
  // Each step loads 16 bytes for 12 bytes of samples: stop while 4 more
  // bytes remain inside the block.
  for (; i + 6 <= Count; i += 4) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + 3 * i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Dst + 4 * i), _mm_shuffle_epi8(v, order));
  }
  return i;
}

}  // namespace

size_t PcmUnpack24To32Shuffle(const uint8_t* Src, uint8_t* Dst, size_t Count) {
  return Unpack24Ssse3(Src, Dst, Count);
}
#else
size_t PcmUnpack24To32Shuffle(const uint8_t*, uint8_t*, size_t) {
  return 0;
}
#endif

void PcmPack32To24InPlace(uint8_t* Buf, size_t Count) {
  // Forward: sample i is read whole before its three bytes are written, and
  // they land below sample i + 1.
  for (size_t i = 0; i < Count; ++i) {
    const uint32_t v = Load32(Buf + 4 * i, true);
    uint8_t* d = Buf + 3 * i;
    d[0] = static_cast<uint8_t>(v >> 8);
    d[1] = static_cast<uint8_t>(v >> 16);
    d[2] = static_cast<uint8_t>(v >> 24);
  }
}

}  // namespace lirvo
