#pragma once
// RAII owners of FFmpeg's handles, a custom I/O context that reads a
// lirvo::TStream (so the FFmpeg-backed decoders read files through the same
// streams as the others, a stream given from outside included), and the
// small helpers the decoders need to open a demuxer and a decoder, to map
// formats and to turn an error code into text. No decoding policy lives here.
//
// No exception ever unwinds through FFmpeg: the I/O callbacks catch
// everything and report AVERROR(EIO).

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
}

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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

// An owned channel layout (a custom-order layout holds an allocated map).
struct ChannelLayout {
  AVChannelLayout L{};
  ChannelLayout() = default;
  ~ChannelLayout() { av_channel_layout_uninit(&L); }
  ChannelLayout(const ChannelLayout&) = delete;
  ChannelLayout& operator=(const ChannelLayout&) = delete;
};

// The text of an FFmpeg error code.
std::string ErrorText(int Code);
// "Context: text of Code".
std::string ErrorMessage(int Code, const char* Context);
// Returns Code when it is not an error (>= 0); otherwise throws EAuException
// with ErrorMessage(Code, Context).
int Check(int Code, const char* Context);

// An AVIOContext reading (and seeking in) a TStream it does not own. The
// stream must outlive the context.
IOContextPtr MakeStreamIO(TStream* Stream);

// Opens a demuxer over an I/O context (Format may name the demuxer, e.g.
// "ape", or be null to probe). Returns null and sets Error on failure. The
// returned context refers to IO, which must outlive it.
FormatContextPtr OpenInput(AVIOContext* IO, const char* Format, std::string& Error);
// The same, also giving the AVERROR code of a failure (0 on success).
FormatContextPtr OpenInput(AVIOContext* IO, const char* Format, std::string& Error, int& Code);

// Reads packets of an open demuxer to fill in the streams' facts (the
// duration among them), as the command-line tool does. 0 or an AVERROR code.
int FindStreamInfo(AVFormatContext* Format);

// The index entries of a stream (for a demuxer that builds a full index, one
// per frame).
struct TIndexEntry {
  int64_t Pos;        // byte position in the file
  int64_t Timestamp;  // in the stream's time base
};
std::vector<TIndexEntry> IndexEntries(const AVStream* Stream);

// Allocates and opens a decoder for the codec parameters. PacketTimeBase is
// the time base of the packets it will get ({0, 1}: unset); with it the
// decoder moves the timestamps of frames it trims (encoder delay) along.
// Returns 0 or an AVERROR code (AVERROR_DECODER_NOT_FOUND when FFmpeg has
// no decoder for the codec).
int OpenDecoder(const AVCodecParameters* Parameters, AVRational PacketTimeBase,
                CodecContextPtr& Out);

// Whether FFmpeg has a decoder for a codec.
bool HasDecoder(AVCodecID Codec);
// Whether FFmpeg has a decoder for a WAV format tag.
bool HasRiffAudioDecoder(uint16_t FormatTag);

// Whether a sample format holds floating-point samples (as opposed to
// unsigned 8-bit or signed 16/32-bit integers).
bool IsFloatSampleFormat(AVSampleFormat Format);

// A converter of decoded frames (libswresample) to one packed output format,
// which remembers the format, rate and layout of the frames it was made for.
class TResampler {
 public:
  explicit operator bool() const { return FSwr != nullptr; }

  // Whether the converter exists and was made for frames like Frame.
  bool MadeFor(const AVFrame* Frame) const;
  // Makes the converter anew for frames like Frame, read in the layout
  // InLayout, to OutFormat/OutLayout/OutRate. 0 or an AVERROR code; on a
  // failure there is no converter.
  int Make(const AVFrame* Frame, const AVChannelLayout& InLayout, AVSampleFormat OutFormat,
           const AVChannelLayout& OutLayout, int OutRate);
  // Room (in samples per channel) that converting InSamples may need.
  int OutSamples(int InSamples) const;
  // Converts InSamples of In (null with 0 to take out what the converter
  // still holds) into Out; the number of samples per channel written, or an
  // AVERROR code.
  int Convert(uint8_t* Out, int OutSamples, const uint8_t* const* In, int InSamples);
  void Reset();

 private:
  SwrPtr FSwr;
  int FInFormat = -1;
  int FInRate = 0;
  ChannelLayout FInLayout;  // the frames' own layout
};

}  // namespace lirvo::ffmpeg
