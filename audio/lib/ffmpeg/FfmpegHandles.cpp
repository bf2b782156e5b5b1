#include "audio/lib/ffmpeg/FfmpegHandles.h"

#include <cstdint>

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

}  // namespace lirvo::ffmpeg
