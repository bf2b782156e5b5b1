#pragma once
// RAII owners of FFmpeg's handles and a custom I/O context that reads a
// lirvo::TStream, so the FFmpeg-backed decoders read files through the same
// streams as the others (a stream given from outside included).
//
// No exception ever unwinds through FFmpeg: the I/O callbacks catch
// everything and report AVERROR(EIO).

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
}

#include <memory>
#include <string>

#include "audio/core/Stream.h"

namespace lirvo::ffmpeg {

struct FormatContextDeleter {
  void operator()(AVFormatContext* p) const { avformat_close_input(&p); }
};
struct CodecContextDeleter {
  void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct FrameDeleter {
  void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwrDeleter {
  void operator()(SwrContext* p) const { swr_free(&p); }
};
struct IOContextDeleter {
  void operator()(AVIOContext* p) const {
    if (p) av_freep(&p->buffer);
    avio_context_free(&p);
  }
};

using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;
using IOContextPtr = std::unique_ptr<AVIOContext, IOContextDeleter>;

// The text of an FFmpeg error code.
std::string ErrorText(int Code);

// An AVIOContext reading (and seeking in) a TStream it does not own. The
// stream must outlive the context.
IOContextPtr MakeStreamIO(TStream* Stream);

// Opens a demuxer over an I/O context (Format may name the demuxer, e.g.
// "ape", or be null to probe). Returns null and sets Error on failure. The
// returned context refers to IO, which must outlive it.
FormatContextPtr OpenInput(AVIOContext* IO, const char* Format, std::string& Error);
// The same, also giving the AVERROR code of a failure (0 on success).
FormatContextPtr OpenInput(AVIOContext* IO, const char* Format, std::string& Error, int& Code);

}  // namespace lirvo::ffmpeg
