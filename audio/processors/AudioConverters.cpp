#include "audio/processors/AudioConverters.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "audio/core/AudioProcs.h"
#include "audio/core/Pool.h"

namespace lirvo {

namespace {

bool ConvertibleWidth(int64_t Bits) {
  return Bits == 8 || Bits == 16 || Bits == 24 || Bits == 32;
}

// Round(Size x Num / Den), ties to even, without overflow for any size.
int64_t ScaleSize(int64_t Size, int64_t Num, int64_t Den) {
  if (Den <= 0) return Size;
  __int128 product = static_cast<__int128>(Size) * Num;
  __int128 q = product / Den;
  __int128 twice = 2 * (product % Den);
  if (twice > Den || (twice == Den && (q & 1))) ++q;
  return q > INT64_MAX ? INT64_MAX : static_cast<int64_t>(q);
}

}  // namespace

TAudioConverter::TAudioConverter(TComponent* AOwner) : TAuConverter(AOwner) {}

TAudioConverter::~TAudioConverter() {
  // Whoever reads from this converter drops its link (and may flush it)
  // while the converter is still whole.
  NotifyRemoval();
}

uint32_t TAudioConverter::GetBitsPerSample() {
  int32_t bits = FOutBitsPerSample.load();
  if (bits != 0) return static_cast<uint32_t>(bits);
  return TAuConverter::GetBitsPerSample();
}

uint32_t TAudioConverter::GetChannels() {
  TAuInput* in = FInput.load();
  if (!in) return 0;
  uint32_t inCh = in->Channels();
  int32_t outCh = FOutChannels.load();
  if ((outCh == 1 || outCh == 2) && (inCh == 1 || inCh == 2)) return static_cast<uint32_t>(outCh);
  return inCh;
}

uint32_t TAudioConverter::GetSampleRate() {
  return TAuConverter::GetSampleRate();
}

void TAudioConverter::InitInternal() {
  TAuInput* in = FInput.load();
  if (!in) throw EAuException("Input is not assigned");
  in->Init();
  Busy = true;
  FPosition = 0;
  BufStart = 0;
  BufEnd = 0;
  IBPS = static_cast<int32_t>(GetBitsPerSample());
  ICh = static_cast<int32_t>(GetChannels());
  InBits = static_cast<int32_t>(in->BitsPerSample());
  InCh = static_cast<int32_t>(in->Channels());
  InBytesPerSample = InBits / 8;
  OutBytesPerSample = IBPS / 8;

  // Widths other than these four have no conversion: refuse them rather
  // than deliver blocks without meaningful samples. A pure pass-through
  // never looks at the samples, so it takes any format.
  FFormatError.clear();
  if (!ConvertibleWidth(InBits)) {
    FFormatError = "Cannot convert " + std::to_string(InBits) +
                   "-bit samples (supported: 8, 16, 24 and 32 bits)";
  } else if (!ConvertibleWidth(IBPS)) {
    FFormatError = "Cannot convert to " + std::to_string(IBPS) +
                   "-bit samples (supported: 8, 16, 24 and 32 bits)";
  } else if (InCh <= 0 || ICh <= 0) {
    FFormatError = "Cannot convert a stream without channels";
  }
  bool passThrough = FOutBitsPerSample.load() == 0 && FOutChannels.load() == 0;
  if (!FFormatError.empty() && !passThrough) {
    Busy = false;
    in->Flush();
    throw EAuException(FFormatError);
  }

  int64_t inSize = in->Size();
  if (inSize < 0) {
    FSize = -1;
  } else {
    int64_t size = ScaleSize(inSize, int64_t(IBPS) * ICh, int64_t(InBits) * InCh);
    int64_t frame = int64_t(IBPS) * ICh / 8;
    if (frame > 0) size -= size % frame;
    FSize = size;
  }
  OutFrames = 0;
  OutBuf = nullptr;
  FloatBuf = nullptr;
}

void TAudioConverter::FlushInternal() {
  if (TAuInput* in = FInput.load()) in->Flush();
  Busy = false;
}

void TAudioConverter::GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) {
  TAuInput* in = FInput.load();
  if (!in) {
    Buffer = nullptr;
    Bytes = 0;
    return;
  }
  if (FOutBitsPerSample.load() == 0 && FOutChannels.load() == 0) {
    in->GetData(Buffer, Bytes);
    return;
  }
  if (!FFormatError.empty()) throw EAuException(FFormatError);

  // Whole output frames wanted, cut to what both pool buffers hold: the
  // output block, and the float stage with the wider of the two layouts.
  const uint32_t outFrame = uint32_t(OutBytesPerSample) * uint32_t(ICh);
  const uint32_t inFrame = uint32_t(InBytesPerSample) * uint32_t(InCh);
  const size_t floatFrame = sizeof(float) * size_t(std::max(InCh, ICh));
  size_t frames = Bytes / outFrame;
  frames = std::min({frames, kPoolBlockSize / outFrame, kPoolBlockSize / floatFrame});
  if (frames == 0) {
    Buffer = nullptr;
    Bytes = 0;
    return;
  }

  const uint32_t asked = static_cast<uint32_t>(frames) * inFrame;
  uint8_t* src = nullptr;
  uint32_t got = asked;
  in->GetData(src, got);
  if (!src || got == 0) {
    Buffer = nullptr;
    Bytes = 0;
    return;
  }
  // An input that returns more than asked must not push the conversion past
  // the pool buffers.
  got = std::min(got, asked);
  const int32_t n = static_cast<int32_t>(got / inFrame);
  Bytes = uint32_t(n) * outFrame;
  if (n == 0) {
    Buffer = nullptr;
    return;
  }

  if (n > OutFrames) {
    uint8_t* out = FSecondBuffers ? PoolConverterOut2 : PoolConverterOut;
    uint8_t* stage = FSecondBuffers ? PoolConverterFloat2 : PoolConverterFloat;
    if (!out || !stage) throw EAuException("The audio buffer pool is not started");
    OutBuf = out;
    FloatBuf = reinterpret_cast<float*>(stage);
    OutFrames = n;
  }

  // Every mono or stereo source reaches 32-bit stereo exactly, without the
  // float stage: value x 2^(32 - bits) (8-bit re-centred first), mono on
  // both channels, 32-bit copied. The same music then gives the same bits
  // whatever its width or channel count.
  if (IBPS == 32 && ICh == 2 && (InCh == 1 || InCh == 2)) {
    const uint32_t bytes = uint32_t(n) * inFrame;
    switch (InBits) {
      case 8:
        Convert8To32Copy(src, OutBuf, bytes);
        break;
      case 16:
        Convert16To32Copy(src, OutBuf, bytes);
        break;
      case 24:
        Convert24To32Copy(src, OutBuf, bytes);
        break;
      default:
        std::memcpy(OutBuf, src, bytes);
        break;
    }
    // The output buffer holds a whole stereo block, so the mono samples are
    // spread over it in place.
    if (InCh == 1) MonoToStereo(OutBuf, n);
    Buffer = OutBuf;
    return;
  }

  const int32_t inSamples = n * InCh;
  switch (InBits) {
    case 8:
      ByteToSingle(src, FloatBuf, inSamples);
      break;
    case 16:
      SmallIntToSingle(reinterpret_cast<const int16_t*>(src), FloatBuf, inSamples);
      break;
    case 24:
      Int24ToSingle(src, FloatBuf, inSamples);
      break;
    default:
      Int32ToSingle(reinterpret_cast<const int32_t*>(src), FloatBuf, inSamples);
      break;
  }
  if (ICh == 2 && InCh == 1) {
    MonoToStereo(FloatBuf, n);
  } else if (ICh == 1 && InCh == 2) {
    StereoToMono(FloatBuf, n);
  }
  const int32_t outSamples = n * ICh;
  switch (IBPS) {
    case 8:
      SingleToByte(FloatBuf, OutBuf, outSamples);
      break;
    case 16:
      SingleToSmallInt(FloatBuf, reinterpret_cast<int16_t*>(OutBuf), outSamples);
      break;
    case 24:
      SingleToInt24(FloatBuf, OutBuf, outSamples);
      break;
    default:
      SingleToInt32(FloatBuf, reinterpret_cast<int32_t*>(OutBuf), outSamples);
      break;
  }
  Buffer = OutBuf;
}

}  // namespace lirvo
