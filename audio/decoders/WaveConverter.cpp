#include "audio/decoders/WaveConverter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "audio/lib/ffmpeg/FfmpegHandles.h"
#include "audio/lib/ffmpeg/FrameReader.h"

namespace lirvo {

namespace {

using namespace lirvo::ffmpeg;

void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void PutU32(uint8_t* p, uint32_t v) {
  PutU16(p, static_cast<uint16_t>(v));
  PutU16(p + 2, static_cast<uint16_t>(v >> 16));
}

// The largest PCM payload a WAV data chunk can describe next to its 44-byte
// header.
constexpr uint64_t kMaxPcmBytes = 0xFFFFFFFFull - 36;
// A tiny payload must not be able to claim an unbounded amount of PCM: no
// codec a WAV file carries expands its data by more than this.
constexpr uint64_t kMaxExpansion = 1024;
constexpr uint64_t kMinPcmLimit = 16ull << 20;
constexpr int64_t kPcmHeaderSize = 44;

// A read-only WAV image for FFmpeg's demuxer: header bytes held here, then
// the payload read straight from its place in the source file.
class SourceImage : public TStream {
 public:
  SourceImage(std::vector<uint8_t> Header, TStream* Source, int64_t DataAt, int64_t DataLen)
      : FHeader(std::move(Header)), FSource(Source), FDataAt(DataAt), FDataLen(DataLen) {}

  int64_t Read(void* Buffer, int64_t Count) override {
    auto* dst = static_cast<uint8_t*>(Buffer);
    int64_t done = 0;
    const auto hsize = static_cast<int64_t>(FHeader.size());
    if (FPos < hsize && Count > 0) {
      const int64_t n = std::min(Count, hsize - FPos);
      std::memcpy(dst, FHeader.data() + FPos, static_cast<size_t>(n));
      done = n;
      FPos += n;
    }
    const int64_t want = std::min(Count - done, Size() - FPos);
    if (want > 0) {
      const int64_t at = FDataAt + (FPos - hsize);
      if (FSource->Seek(at, soBeginning) != at) return done;
      const int64_t n = std::max<int64_t>(0, FSource->Read(dst + done, want));
      done += n;
      FPos += n;
    }
    return done;
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
    const int64_t base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPos : Size();
    if (base + Offset < 0) return -1;
    FPos = base + Offset;
    return FPos;
  }
  int64_t Size() override { return static_cast<int64_t>(FHeader.size()) + FDataLen; }

 private:
  std::vector<uint8_t> FHeader;
  TStream* FSource;
  int64_t FDataAt;
  int64_t FDataLen;
  int64_t FPos = 0;
};

// The decoded file as the WAV input reads it: a canonical 44-byte header and
// the PCM blocks.
class PcmImage : public TStream {
 public:
  PcmImage(const TACMWaveFormat& Format, TBlockBytes Pcm) : FPcm(std::move(Pcm)) {
    std::memcpy(FHeader, "RIFF", 4);
    PutU32(FHeader + 4, static_cast<uint32_t>(
                            std::min<uint64_t>(FPcm.Size() + kPcmHeaderSize - 8, 0xFFFFFFFFu)));
    std::memcpy(FHeader + 8, "WAVE", 4);
    std::memcpy(FHeader + 12, "fmt ", 4);
    PutU32(FHeader + 16, 16);
    std::memcpy(FHeader + 20, Format.RawData, 16);
    std::memcpy(FHeader + 36, "data", 4);
    PutU32(FHeader + 40, static_cast<uint32_t>(std::min<uint64_t>(FPcm.Size(), 0xFFFFFFFFu)));
  }

  int64_t Read(void* Buffer, int64_t Count) override {
    auto* dst = static_cast<uint8_t*>(Buffer);
    int64_t done = 0;
    if (FPos < kPcmHeaderSize && Count > 0) {
      const int64_t n = std::min(Count, kPcmHeaderSize - FPos);
      std::memcpy(dst, FHeader + FPos, static_cast<size_t>(n));
      done = n;
      FPos += n;
    }
    if (Count > done && FPos >= kPcmHeaderSize) {
      const size_t n = FPcm.CopyOut(static_cast<uint64_t>(FPos - kPcmHeaderSize), dst + done,
                                    static_cast<size_t>(Count - done));
      done += static_cast<int64_t>(n);
      FPos += static_cast<int64_t>(n);
    }
    return done;
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
    const int64_t base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPos : Size();
    if (base + Offset < 0) return -1;
    FPos = base + Offset;
    return FPos;
  }
  int64_t Size() override { return kPcmHeaderSize + static_cast<int64_t>(FPcm.Size()); }

 private:
  uint8_t FHeader[kPcmHeaderSize] = {};
  TBlockBytes FPcm;
  int64_t FPos = 0;
};

// The sample format a decoded format is delivered in: integer formats keep
// their width, floating-point ones become 16-bit, as codec managers suggest
// for lossy codecs.
AVSampleFormat TargetFormat(int Format) {
  switch (av_get_packed_sample_fmt(static_cast<AVSampleFormat>(Format))) {
    case AV_SAMPLE_FMT_U8:
      return AV_SAMPLE_FMT_U8;
    case AV_SAMPLE_FMT_S32:
      return AV_SAMPLE_FMT_S32;
    default:
      return AV_SAMPLE_FMT_S16;
  }
}

AVChannelLayout LayoutOf(const AVChannelLayout& In) {
  AVChannelLayout out{};
  if (In.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_check(&In) == 0)
    av_channel_layout_default(&out, In.nb_channels);
  else
    av_channel_layout_copy(&out, &In);
  return out;
}

// Decodes an in-memory WAV image to packed PCM.
class PayloadDecoder {
 public:
  std::string Error;

  int Open(SourceImage* Image) {
    FIO = MakeStreamIO(Image);
    if (!FIO) return Fail(AVERROR(ENOMEM), "Out of memory");
    std::string err;
    FFormat = OpenInput(FIO.get(), "wav", err);
    if (!FFormat) return Fail(AVERROR_INVALIDDATA, err);
    if (FFormat->nb_streams < 1) return Fail(TWaveConverter::kNotPossible, "No audio stream");
    const int rc = FReader.Open(FFormat.get(), 0);
    if (rc == AVERROR_DECODER_NOT_FOUND)
      return Fail(TWaveConverter::kNotPossible, "No decoder for the format");
    if (rc == AVERROR(ENOMEM)) return Fail(rc, "Out of memory");
    if (rc < 0) return Fail(rc, ErrorText(rc));
    return 0;
  }

  // The format a frame-less guess gives: the decoder's own after opening.
  void Guess(int& Channels, int& Rate, int& Bits) const {
    const AVCodecContext* codec = FReader.Codec();
    Channels = codec->ch_layout.nb_channels;
    Rate = codec->sample_rate;
    Bits = av_get_bytes_per_sample(TargetFormat(codec->sample_fmt)) * 8;
  }

  // Decodes everything into Out; the format comes from the first frame.
  int Run(TBlockBytes& Out, uint64_t Limit, int& Channels, int& Rate, int& Bits) {
    bool draining = false;
    for (;;) {
      if (!draining) {
        if (FReader.ReadPacket() < 0) {
          draining = true;
          FReader.SendEnd();
        } else {
          // A damaged packet is dropped and decoding goes on, as players do.
          FReader.SendPacket();
        }
      }
      for (;;) {
        int rc = FReader.ReceiveFrame();
        if (rc == 0) {
          rc = Append(FReader.Frame(), Out, Limit);
          FReader.DropFrame();
          if (rc != 0) return rc;
          continue;
        }
        if (rc == AVERROR_EOF || (draining && (rc == AVERROR(EAGAIN) || rc == AVERROR_INVALIDDATA)))
          return Finish(Out, Limit, Channels, Rate, Bits);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_INVALIDDATA) break;
        return Fail(rc, ErrorText(rc));
      }
    }
  }

 private:
  int Fail(int Code, const std::string& Text) {
    Error = Text;
    return Code;
  }

  int Append(AVFrame* F, TBlockBytes& Out, uint64_t Limit) {
    if (F->nb_samples <= 0) return 0;
    if (!FSwr) {
      if (F->ch_layout.nb_channels <= 0 || F->ch_layout.nb_channels > 0xFFFF || F->sample_rate <= 0)
        return Fail(TWaveConverter::kNotPossible, "Decoded frames have no format");
      FOutLayout.L = LayoutOf(F->ch_layout);
      FOutRate = F->sample_rate;
      FOutFormat = TargetFormat(F->format);
    }
    if (!FSwr.MadeFor(F)) {
      // The first frame, or a stream that changes its format on the way:
      // (re)build the conversion to the format chosen at the first frame.
      ChannelLayout in;
      in.L = LayoutOf(F->ch_layout);
      const int rc = FSwr.Make(F, in.L, FOutFormat, FOutLayout.L, FOutRate);
      if (rc < 0) return Fail(rc, ErrorText(rc));
    }
    return Convert(F->extended_data, F->nb_samples, Out, Limit);
  }

  int Convert(const uint8_t* const* In, int Count, TBlockBytes& Out, uint64_t Limit) {
    const int frameBytes = FOutLayout.L.nb_channels * av_get_bytes_per_sample(FOutFormat);
    const int room = FSwr.OutSamples(Count);
    if (room < 0) return Fail(room, ErrorText(room));
    if (room == 0) return 0;
    const uint64_t need = Out.Size() + static_cast<uint64_t>(room) * frameBytes;
    if (need > Limit) return Fail(TWaveConverter::kNotPossible, "The decoded data are too large");
    // One frame's worth, reused: the blocks get each byte exactly once.
    FScratch.resize(static_cast<size_t>(room) * frameBytes);
    const int got = FSwr.Convert(FScratch.data(), room, In, Count);
    if (got < 0) return Fail(got, ErrorText(got));
    Out.Append(FScratch.data(), static_cast<size_t>(got) * frameBytes);
    return 0;
  }

  int Finish(TBlockBytes& Out, uint64_t Limit, int& Channels, int& Rate, int& Bits) {
    if (!FSwr) return Fail(TWaveConverter::kNotPossible, "Nothing could be decoded");
    // Samples a resampling stage still holds (only when the rate changed).
    int rc = Convert(nullptr, 0, Out, Limit);
    if (rc != 0) return rc;
    if (Out.Size() == 0) return Fail(TWaveConverter::kNotPossible, "Nothing could be decoded");
    Channels = FOutLayout.L.nb_channels;
    Rate = FOutRate;
    Bits = av_get_bytes_per_sample(FOutFormat) * 8;
    return 0;
  }

  IOContextPtr FIO;
  FormatContextPtr FFormat;
  TFrameReader FReader;
  TResampler FSwr;
  ChannelLayout FOutLayout;
  std::vector<uint8_t> FScratch;
  AVSampleFormat FOutFormat = AV_SAMPLE_FMT_S16;
  int FOutRate = 0;
};

// The WAV image FFmpeg's demuxer reads: the held format record and the
// payload as its only data.
std::vector<uint8_t> ImageHeader(const TACMWaveFormat& Format, uint32_t FmtSize,
                                 uint64_t PayloadSize) {
  const uint32_t fmtLen = std::clamp<uint32_t>(FmtSize, 18, TACMWaveFormat::kSize);
  const uint32_t padded = fmtLen + (fmtLen & 1);
  std::vector<uint8_t> h(12 + 8 + padded + 8, 0);
  const uint32_t dataLen = static_cast<uint32_t>(std::min<uint64_t>(PayloadSize, 0xFFFFFFFFu));
  std::memcpy(h.data(), "RIFF", 4);
  PutU32(h.data() + 4,
         static_cast<uint32_t>(std::min<uint64_t>(h.size() - 8 + uint64_t{dataLen}, 0xFFFFFFFFu)));
  std::memcpy(h.data() + 8, "WAVE", 4);
  std::memcpy(h.data() + 12, "fmt ", 4);
  PutU32(h.data() + 16, fmtLen);
  std::memcpy(h.data() + 20, Format.RawData, fmtLen);
  uint8_t* data = h.data() + 20 + padded;
  std::memcpy(data, "data", 4);
  PutU32(data + 4, dataLen);
  return h;
}

}  // namespace

void TACMWaveFormat::SetPcm(uint16_t Channels, uint32_t Rate, uint16_t Bits) {
  std::memset(RawData, 0, sizeof RawData);
  const uint32_t align = static_cast<uint32_t>(Channels) * (Bits / 8);
  PutU16(RawData, 1);
  PutU16(RawData + 2, Channels);
  PutU32(RawData + 4, Rate);
  PutU32(RawData + 8,
         static_cast<uint32_t>(std::min<uint64_t>(uint64_t{Rate} * align, 0xFFFFFFFFu)));
  PutU16(RawData + 12, static_cast<uint16_t>(std::min<uint32_t>(align, 0xFFFF)));
  PutU16(RawData + 14, Bits);
}

void TBlockBytes::Append(const uint8_t* Data, size_t Count) {
  while (Count > 0) {
    const size_t used = static_cast<size_t>(FSize % kBlock);
    if (used == 0 && FSize / kBlock == FBlocks.size())
      FBlocks.push_back(std::make_unique_for_overwrite<uint8_t[]>(kBlock));
    const size_t n = std::min(Count, kBlock - used);
    std::memcpy(FBlocks.back().get() + used, Data, n);
    Data += n;
    Count -= n;
    FSize += n;
  }
}

size_t TBlockBytes::CopyOut(uint64_t Pos, uint8_t* Dst, size_t Count) const {
  size_t done = 0;
  while (done < Count && Pos < FSize) {
    const size_t at = static_cast<size_t>(Pos % kBlock);
    const size_t n =
        static_cast<size_t>(std::min<uint64_t>({Count - done, kBlock - at, FSize - Pos}));
    std::memcpy(Dst + done, FBlocks[static_cast<size_t>(Pos / kBlock)].get() + at, n);
    done += n;
    Pos += n;
  }
  return done;
}

void TBlockBytes::Clear() {
  FBlocks.clear();
  FSize = 0;
}

TWaveConverter::TWaveConverter() = default;

bool TWaveConverter::CanDecode(uint16_t FormatTag) {
  return HasRiffAudioDecoder(FormatTag);
}

void TWaveConverter::Load(TStream* Source, const uint8_t* Fmt, uint32_t FmtSize, int64_t DataAt,
                          int64_t DataLen) {
  FPcm.Clear();
  FConverted = false;
  FSource = Source;
  FDataAt = std::max<int64_t>(0, DataAt);
  std::memset(CurrentFormat.RawData, 0, sizeof CurrentFormat.RawData);
  const uint32_t keep = std::min(FmtSize, TACMWaveFormat::kSize);
  std::memcpy(CurrentFormat.RawData, Fmt, keep);
  FFmtSize = std::max<uint32_t>(keep, 18);
  // A data chunk that claims more than the file holds yields what is there.
  const int64_t size = Source ? Source->Size() : 0;
  FDataLen = std::max<int64_t>(0, DataLen);
  if (size >= 0) FDataLen = std::clamp<int64_t>(size - FDataAt, 0, FDataLen);
}

int TWaveConverter::Convert() {
  FLastError.clear();
  FPcm.Clear();
  FConverted = false;
  if (!FSource || FDataLen == 0) {
    FLastError = "No sample data";
    return kNotPossible;
  }
  int channels = 0, rate = 0, bits = 0;
  {
    SourceImage image(ImageHeader(CurrentFormat, FFmtSize, static_cast<uint64_t>(FDataLen)),
                      FSource, FDataAt, FDataLen);
    PayloadDecoder dec;
    int rc = dec.Open(&image);
    if (rc == 0) {
      const uint64_t limit = std::min(
          kMaxPcmBytes, std::max(kMinPcmLimit, kMaxExpansion * static_cast<uint64_t>(FDataLen)));
      rc = dec.Run(FPcm, limit, channels, rate, bits);
    }
    if (rc != 0) {
      FLastError = dec.Error;
      FPcm.Clear();
      return rc;
    }
  }
  CurrentFormat.SetPcm(static_cast<uint16_t>(channels), static_cast<uint32_t>(rate),
                       static_cast<uint16_t>(bits));
  FFmtSize = 16;
  FConverted = true;
  return 0;
}

std::unique_ptr<TStream> TWaveConverter::TakeWavImage() {
  if (!FConverted) return nullptr;
  FConverted = false;
  auto image = std::make_unique<PcmImage>(CurrentFormat, std::move(FPcm));
  FPcm.Clear();
  return image;
}

}  // namespace lirvo
