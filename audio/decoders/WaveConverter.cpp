#include "audio/decoders/WaveConverter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "audio/core/AuException.h"
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

uint32_t GetU32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The largest PCM payload a WAV data chunk can describe next to its 44-byte
// header.
constexpr uint64_t kMaxPcmBytes = 0xFFFFFFFFull - 36;
// A tiny payload must not be able to claim an unbounded amount of PCM: no
// codec a WAV file carries expands its data by more than this.
constexpr uint64_t kMaxExpansion = 1024;
constexpr uint64_t kMinPcmLimit = 16ull << 20;

// Positioned reads of a stream through one cached window, for the header
// search that tries a chunk header at every byte offset.
class CachedReader {
 public:
  explicit CachedReader(TStream* S) : FStream(S) {}

  // Copies up to Count bytes from Pos; returns how many there were.
  int64_t ReadAt(int64_t Pos, uint8_t* Dst, int64_t Count) {
    if (Pos < 0) return 0;
    if (Pos < FStart || Pos + Count > FStart + static_cast<int64_t>(FLen)) {
      if (FStream->Seek(Pos, soBeginning) != Pos) return 0;
      FLen = static_cast<size_t>(std::max<int64_t>(0, FStream->Read(FBuf, sizeof FBuf)));
      FStart = Pos;
    }
    const int64_t n = std::clamp<int64_t>(FStart + static_cast<int64_t>(FLen) - Pos, 0, Count);
    std::memcpy(Dst, FBuf + (Pos - FStart), static_cast<size_t>(n));
    return n;
  }

 private:
  TStream* FStream;
  int64_t FStart = 0;
  size_t FLen = 0;
  uint8_t FBuf[64 * 1024];
};

// A read-only WAV image (header bytes followed by a payload held elsewhere),
// so FFmpeg's WAV demuxer can read the payload without copying it.
class ImageStream : public TStream {
 public:
  ImageStream(std::vector<uint8_t> Header, const std::vector<uint8_t>& Payload)
      : FHeader(std::move(Header)), FPayload(Payload) {}

  int64_t Read(void* Buffer, int64_t Count) override {
    auto* dst = static_cast<uint8_t*>(Buffer);
    int64_t done = 0;
    const auto hsize = static_cast<int64_t>(FHeader.size());
    while (done < Count && FPos < Size()) {
      int64_t n;
      if (FPos < hsize) {
        n = std::min(Count - done, hsize - FPos);
        std::memcpy(dst + done, FHeader.data() + FPos, static_cast<size_t>(n));
      } else {
        n = std::min(Count - done, Size() - FPos);
        std::memcpy(dst + done, FPayload.data() + (FPos - hsize), static_cast<size_t>(n));
      }
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
  int64_t Size() override { return static_cast<int64_t>(FHeader.size() + FPayload.size()); }

 private:
  std::vector<uint8_t> FHeader;
  const std::vector<uint8_t>& FPayload;
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

  int Open(ImageStream* Image) {
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
  int Run(std::vector<uint8_t>& Out, uint64_t Limit, int& Channels, int& Rate, int& Bits) {
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

  int Append(AVFrame* F, std::vector<uint8_t>& Out, uint64_t Limit) {
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

  int Convert(const uint8_t* const* In, int Count, std::vector<uint8_t>& Out, uint64_t Limit) {
    const int frameBytes = FOutLayout.L.nb_channels * av_get_bytes_per_sample(FOutFormat);
    const int room = FSwr.OutSamples(Count);
    if (room < 0) return Fail(room, ErrorText(room));
    if (room == 0) return 0;
    const uint64_t need = Out.size() + static_cast<uint64_t>(room) * frameBytes;
    if (need > Limit) return Fail(TWaveConverter::kNotPossible, "The decoded data are too large");
    const size_t at = Out.size();
    Out.resize(static_cast<size_t>(need));
    const int got = FSwr.Convert(Out.data() + at, room, In, Count);
    if (got < 0) {
      Out.resize(at);
      return Fail(got, ErrorText(got));
    }
    Out.resize(at + static_cast<size_t>(got) * frameBytes);
    return 0;
  }

  int Finish(std::vector<uint8_t>& Out, uint64_t Limit, int& Channels, int& Rate, int& Bits) {
    if (!FSwr) return Fail(TWaveConverter::kNotPossible, "Nothing could be decoded");
    // Samples a resampling stage still holds (only when the rate changed).
    int rc = Convert(nullptr, 0, Out, Limit);
    if (rc != 0) return rc;
    if (Out.empty()) return Fail(TWaveConverter::kNotPossible, "Nothing could be decoded");
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

TWaveConverter::TWaveConverter() {
  // Every format record used here fits the 129 bytes a record holds.
  std::memset(CurrentFormat.RawData, 0, FMaxFmtSize);
  std::memset(NewFormat.RawData, 0, FMaxFmtSize);
}

bool TWaveConverter::CanDecode(uint16_t FormatTag) {
  return HasRiffAudioDecoder(FormatTag);
}

void TWaveConverter::LoadStream(TStream* Stream) {
  FData.clear();
  FPos = 0;
  FFmtSize = 0;
  if (!Stream) return;
  CachedReader in(Stream);
  uint8_t head[12] = {};
  in.ReadAt(0, head, 12);
  int64_t count = 12;
  if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) return;
  const int64_t size = Stream->Size();
  bool haveFmt = false;
  bool haveData = false;
  // Chunk headers are tried at every byte offset from 7 bytes before the end
  // of the last chunk read, so stray bytes between chunks are passed over.
  while (count < size - 1 && !(haveFmt && haveData)) {
    count -= 7;
    uint8_t ch[8] = {};
    in.ReadAt(count, ch, 8);
    const int64_t bodyAt = count + 8;
    count += 8;
    const uint32_t len = GetU32(ch + 4);
    const int64_t avail = std::clamp<int64_t>(size - bodyAt, 0, len);
    if (std::memcmp(ch, "fmt ", 4) == 0) {
      std::memset(CurrentFormat.RawData, 0, sizeof CurrentFormat.RawData);
      const auto keep = static_cast<uint32_t>(std::min<int64_t>(avail, TACMWaveFormat::kSize));
      in.ReadAt(bodyAt, CurrentFormat.RawData, keep);
      FFmtSize = std::max<uint32_t>(keep, 18);
      count += len;
      haveFmt = true;
    } else if (std::memcmp(ch, "fact", 4) == 0) {
      count += len;
    } else if (std::memcmp(ch, "data", 4) == 0 && len > 0) {
      // A data chunk that claims more than the file holds yields what is there.
      FData.resize(static_cast<size_t>(avail));
      if (Stream->Seek(bodyAt, soBeginning) == bodyAt) {
        const int64_t got = Stream->Read(FData.data(), avail);
        FData.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
      } else {
        FData.clear();
      }
      count += len;
      haveData = true;
    }
  }
  FPos = 0;
}

int TWaveConverter::Suggest() {
  FLastError.clear();
  if (FData.empty()) {
    FLastError = "No sample data";
    return kNotPossible;
  }
  ImageStream image(ImageHeader(CurrentFormat, FFmtSize, FData.size()), FData);
  PayloadDecoder dec;
  int rc = dec.Open(&image);
  if (rc != 0) {
    FLastError = dec.Error;
    return rc;
  }
  int channels, rate, bits;
  dec.Guess(channels, rate, bits);
  NewFormat.SetPcm(static_cast<uint16_t>(std::clamp(channels, 0, 0xFFFF)),
                   static_cast<uint32_t>(std::max(rate, 0)), static_cast<uint16_t>(bits));
  return 0;
}

int TWaveConverter::Convert() {
  FLastError.clear();
  if (FData.empty()) {
    FLastError = "No sample data";
    return kNotPossible;
  }
  std::vector<uint8_t> pcm;
  int channels = 0, rate = 0, bits = 0;
  {
    ImageStream image(ImageHeader(CurrentFormat, FFmtSize, FData.size()), FData);
    PayloadDecoder dec;
    int rc = dec.Open(&image);
    if (rc == 0) {
      const uint64_t limit =
          std::min(kMaxPcmBytes, std::max(kMinPcmLimit, kMaxExpansion * FData.size()));
      rc = dec.Run(pcm, limit, channels, rate, bits);
    }
    if (rc != 0) {
      FLastError = dec.Error;
      return rc;
    }
  }
  NewFormat.SetPcm(static_cast<uint16_t>(channels), static_cast<uint32_t>(rate),
                   static_cast<uint16_t>(bits));
  std::memcpy(CurrentFormat.RawData, NewFormat.RawData, FMaxFmtSize);
  FFmtSize = 16;
  FData = std::move(pcm);
  FPos = 0;
  return 0;
}

int TWaveConverter::SaveWavToStream(TStream* MS) {
  const int64_t keep = FPos;
  try {
    uint8_t h[44] = {};
    std::memcpy(h, "RIFF", 4);
    std::memcpy(h + 8, "WAVE", 4);
    std::memcpy(h + 12, "fmt ", 4);
    PutU32(h + 16, 16);
    std::memcpy(h + 20, CurrentFormat.RawData, 16);
    std::memcpy(h + 36, "data", 4);
    PutU32(h + 40, static_cast<uint32_t>(std::min<uint64_t>(FData.size(), 0xFFFFFFFFu)));
    if (MS->Write(h, 44) != 44) throw EAuException("Stream write error");
    const auto n = static_cast<int64_t>(FData.size());
    if (n > 0 && MS->Write(FData.data(), n) != n) throw EAuException("Stream write error");
    const int64_t total = MS->Size();
    MS->Seek(0, soBeginning);
    uint8_t riff[8];
    std::memcpy(riff, "RIFF", 4);
    PutU32(riff + 4, static_cast<uint32_t>(std::clamp<int64_t>(total - 8, 0, 0xFFFFFFFF)));
    if (MS->Write(riff, 8) != 8) throw EAuException("Stream write error");
  } catch (...) {
    FPos = keep;
    return kWriteFault;
  }
  FPos = keep;
  return 0;
}

int64_t TWaveConverter::Read(void* Buffer, int64_t Count) {
  if (Count <= 0 || FPos >= Size()) return 0;
  const int64_t n = std::min(Count, Size() - FPos);
  std::memcpy(Buffer, FData.data() + FPos, static_cast<size_t>(n));
  FPos += n;
  return n;
}

int64_t TWaveConverter::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  if (FPos + Count > Size()) FData.resize(static_cast<size_t>(FPos + Count));
  std::memcpy(FData.data() + FPos, Buffer, static_cast<size_t>(Count));
  FPos += Count;
  return Count;
}

int64_t TWaveConverter::Seek(int64_t Offset, TSeekOrigin Origin) {
  const int64_t base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPos : Size();
  if (base + Offset < 0) return -1;
  FPos = base + Offset;
  return FPos;
}

}  // namespace lirvo
