#include "audio/lib/ffmpeg/FfmpegHandles.h"

#include <cstdint>

#include "audio/core/AuException.h"

namespace lirvo::ffmpeg {

namespace {

constexpr int kIOBufferSize = 64 * 1024;

int ReadPacket(void* Opaque, uint8_t* Buf, int Size) noexcept {
  try {
    int64_t n = static_cast<TStream*>(Opaque)->Read(Buf, Size);
    return n > 0 ? static_cast<int>(n) : AVERROR_EOF;
  } catch (...) {
    return AVERROR(EIO);
  }
}

int64_t SeekStream(void* Opaque, int64_t Offset, int Whence) noexcept {
  try {
    auto* s = static_cast<TStream*>(Opaque);
    switch (Whence & ~AVSEEK_FORCE) {
      case AVSEEK_SIZE:
        return s->Size();
      case SEEK_SET:
        return s->Seek(Offset, soBeginning);
      case SEEK_CUR:
        return s->Seek(Offset, soCurrent);
      case SEEK_END:
        return s->Seek(Offset, soEnd);
      default:
        return -1;
    }
  } catch (...) {
    return -1;
  }
}

}  // namespace

std::string ErrorText(int Code) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(Code, buf, sizeof(buf));
  return buf;
}

std::string ErrorMessage(int Code, const char* Context) {
  return std::string(Context) + ": " + ErrorText(Code);
}

int Check(int Code, const char* Context) {
  if (Code < 0) throw EAuException(ErrorMessage(Code, Context));
  return Code;
}

IOContextPtr MakeStreamIO(TStream* Stream) {
  auto* buffer = static_cast<unsigned char*>(av_malloc(kIOBufferSize));
  if (!buffer) return nullptr;
  AVIOContext* io =
      avio_alloc_context(buffer, kIOBufferSize, 0, Stream, &ReadPacket, nullptr, &SeekStream);
  if (!io) {
    av_free(buffer);
    return nullptr;
  }
  return IOContextPtr(io);
}

FormatContextPtr OpenInput(AVIOContext* IO, const char* Format, std::string& Error) {
  int code = 0;
  return OpenInput(IO, Format, Error, code);
}

FormatContextPtr OpenInput(AVIOContext* IO, const char* Format, std::string& Error, int& Code) {
  Code = 0;
  AVFormatContext* ctx = avformat_alloc_context();
  if (!ctx) {
    Error = "Out of memory";
    Code = AVERROR(ENOMEM);
    return nullptr;
  }
  ctx->pb = IO;
  ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
  const AVInputFormat* fmt = Format ? av_find_input_format(Format) : nullptr;
  int rc = avformat_open_input(&ctx, nullptr, fmt, nullptr);
  if (rc < 0) {
    // avformat_open_input frees the context on failure.
    Error = ErrorText(rc);
    Code = rc;
    return nullptr;
  }
  return FormatContextPtr(ctx);
}

int FindStreamInfo(AVFormatContext* Format) {
  return avformat_find_stream_info(Format, nullptr);
}

std::vector<TIndexEntry> IndexEntries(const AVStream* Stream) {
  std::vector<TIndexEntry> out;
  const int count = avformat_index_get_entries_count(Stream);
  out.reserve(static_cast<size_t>(count > 0 ? count : 0));
  for (int i = 0; i < count; ++i) {
    const AVIndexEntry* e = avformat_index_get_entry(const_cast<AVStream*>(Stream), i);
    out.push_back({e->pos, e->timestamp});
  }
  return out;
}

int OpenDecoder(const AVCodecParameters* Parameters, AVRational PacketTimeBase,
                CodecContextPtr& Out) {
  Out.reset();
  const AVCodec* codec = avcodec_find_decoder(Parameters->codec_id);
  if (!codec) return AVERROR_DECODER_NOT_FOUND;
  CodecContextPtr ctx(avcodec_alloc_context3(codec));
  if (!ctx) return AVERROR(ENOMEM);
  int rc = avcodec_parameters_to_context(ctx.get(), Parameters);
  if (rc < 0) return rc;
  ctx->pkt_timebase = PacketTimeBase;
  rc = avcodec_open2(ctx.get(), codec, nullptr);
  if (rc < 0) return rc;
  Out = std::move(ctx);
  return 0;
}

bool HasDecoder(AVCodecID Codec) {
  return avcodec_find_decoder(Codec) != nullptr;
}

bool HasRiffAudioDecoder(uint16_t FormatTag) {
  const AVCodecTag* tables[] = {avformat_get_riff_audio_tags(), nullptr};
  const AVCodecID id = av_codec_get_id(tables, FormatTag);
  return id != AV_CODEC_ID_NONE && HasDecoder(id);
}

bool IsFloatSampleFormat(AVSampleFormat Format) {
  switch (av_get_packed_sample_fmt(Format)) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S32:
      return false;
    default:
      return true;
  }
}

bool TResampler::MadeFor(const AVFrame* Frame) const {
  return FSwr && Frame->format == FInFormat && Frame->sample_rate == FInRate &&
         av_channel_layout_compare(&Frame->ch_layout, &FInLayout.L) == 0;
}

int TResampler::Make(const AVFrame* Frame, const AVChannelLayout& InLayout,
                     AVSampleFormat OutFormat, const AVChannelLayout& OutLayout, int OutRate) {
  Reset();
  SwrContext* swr = nullptr;
  // Older libswresample takes the layouts without const; it only reads them.
  int rc = swr_alloc_set_opts2(&swr, const_cast<AVChannelLayout*>(&OutLayout), OutFormat, OutRate,
                               const_cast<AVChannelLayout*>(&InLayout),
                               static_cast<AVSampleFormat>(Frame->format), Frame->sample_rate, 0,
                               nullptr);
  FSwr.reset(swr);
  if (rc >= 0) rc = swr_init(FSwr.get());
  if (rc >= 0) rc = av_channel_layout_copy(&FInLayout.L, &Frame->ch_layout);
  if (rc < 0) {
    Reset();
    return rc;
  }
  FInFormat = Frame->format;
  FInRate = Frame->sample_rate;
  return 0;
}

int TResampler::OutSamples(int InSamples) const {
  return swr_get_out_samples(FSwr.get(), InSamples);
}

int TResampler::Convert(uint8_t* Out, int OutSamples, const uint8_t* const* In, int InSamples) {
  uint8_t* out[] = {Out};
  return swr_convert(FSwr.get(), out, OutSamples, const_cast<const uint8_t**>(In), InSamples);
}

void TResampler::Reset() {
  FSwr.reset();
  av_channel_layout_uninit(&FInLayout.L);
  FInFormat = -1;
  FInRate = 0;
}

}  // namespace lirvo::ffmpeg
