#pragma once
// The reader layer of the WMA/MP3 input: plain functions over one record,
// wma_sync_reader, over the decoding library (FFmpeg, through the helpers of
// audio/lib/ffmpeg and the seeking of TFrameSeeker). The input itself uses
// only this layer.
//
// Outputs are the file's audio streams. Each offers integer PCM formats at
// its native rate: an integer decoder (WMA Lossless, for instance) its own
// width; a float decoder (MP3, WMA) 32, 24 and 16 bits. Without discrete
// output ("EnableDiscreteOutput") a layout of more than two channels is
// folded to stereo; with it the native channels are offered, or as many as
// "SpeakerConfig" names when the layout is larger. The data are exactly what
// the decoder produces, converted to the chosen format as the command-line
// tool converts them, and seeking lands on the frame asked for.
//
// Header attributes are answered by their Windows Media names from the
// demuxer's metadata and stream facts. ID3 text that the library decoded as
// ISO-8859-1 is taken from the file's own ID3 tags instead, so that it is
// read in the system code page as everywhere else in the program.
//
// Threads: a record is used by one thread at a time (the input's locks).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "audio/core/Stream.h"
#include "audio/decoders/FrameSeeker.h"
#include "audio/lib/ffmpeg/FfmpegHandles.h"

namespace lirvo {

struct TWMAFormatSpec {
  int32_t BitsPerSample = 0;
  int32_t Channels = 0;
  int32_t SampleRate = 0;
};

// One output: an audio stream of the file and the settings made on it.
struct wma_output {
  int index = -1;           // the stream's index in the demuxer
  int native_bits = 0;      // an integer decoder's width; 0 for a float decoder
  int native_channels = 0;  // the stream's channels
  int native_rate = 0;      // the stream's sample rate, Hz
  bool discrete = false;    // "EnableDiscreteOutput"
  int speaker_config = 0;   // "SpeakerConfig": channels of the speaker layout, 0 when unset
  TWMAFormatSpec current;   // the output's properties (its chosen format)
};

struct wma_sync_reader {
  // The byte stream the demuxer reads: the input's stream, or a view of it
  // from byte 30 for the second attempt to open it.
  std::unique_ptr<TStream> StreamView;
  ffmpeg::IOContextPtr AudioStream;  // the I/O adapter over that stream
  ffmpeg::FormatContextPtr reader;   // the demuxer; null when none could be opened
  TFrameSeeker decoder;              // decodes the chosen output
  ffmpeg::TResampler converter;      // to the chosen format, made for the frames' layout

  std::vector<uint8_t> buffer;  // the decoded sample being handed out
  uint32_t length = 0;          // its bytes
  uint32_t offset = 0;          // bytes of it already handed out

  uint16_t stream = 0;  // stream number of the chosen output
  uint32_t output = 0;  // number of the chosen output
  bool has_audio = false;
  bool _protected = false;
  int32_t channels = 0;
  int32_t SampleRate = 0;
  int32_t BitsPerSample = 0;
  int64_t duration = 0;  // "Duration", 100-nanosecond units; 0 when unknown
  std::vector<wma_output> outputs;

  // Header attributes as read at opening.
  std::vector<std::pair<std::string, std::string>> metadata;
  std::vector<std::pair<std::string, std::string>> id3_text;  // the file's own ID3 reading
  bool is_mp3 = false;
  bool mp3_vbr = false;
  int64_t bitrate = 0;

  wma_sync_reader() = default;
  ~wma_sync_reader();
  wma_sync_reader(const wma_sync_reader&) = delete;
  wma_sync_reader& operator=(const wma_sync_reader&) = delete;
};

// Opens the reader on Stream (its position is used as the start) and
// chooses the output format. ChannelRequest: 0 the current layout (mono or
// stereo unless HighPrecision), -1 the largest available, 6 or 8 exactly
// that many channels. Without a reader (not a Windows Media or MP3 file)
// r.reader stays null; without a usable audio output r.has_audio is false.
void wma_open_reader(wma_sync_reader& r, TStream* Stream, bool HighPrecision,
                     int32_t ChannelRequest);
// Sets discrete output on the chosen output and counts its formats.
int32_t wma_count_formats(wma_sync_reader& r, bool HighPrecision);
// Sets discrete output and describes format Index (zeros when there is none).
TWMAFormatSpec wma_describe_format(wma_sync_reader& r, bool HighPrecision, int32_t Index);
// Sets discrete output to Discrete and makes format Index the output's
// format; the record takes its channels, bits and rate.
void wma_select_format(wma_sync_reader& r, bool Discrete, int32_t Index);
// "Duration" in hundredths of a second, rounded to the nearest (ties to even).
uint32_t wma_duration_cs(const wma_sync_reader& r);
void wma_audio_properties(const wma_sync_reader& r, uint16_t& Channels, uint16_t& BitsPerSample,
                          uint32_t& SampleRate);
// A numeric attribute ("Bitrate", "IsVBR", ...); 0 when it cannot be read.
uint32_t wma_attribute_dword(const wma_sync_reader& r, std::string_view Name);
// A text attribute ("Author", "Title", "WM/AlbumTitle", "WM/Genre",
// "WM/Track", "WM/Year", "Copyright", or any name the file carries); empty
// when the file has none.
std::string wma_attribute_text(const wma_sync_reader& r, std::string_view Name);
// Positions the reader at a time in hundredths of a second.
void wma_set_position(wma_sync_reader& r, uint32_t Centiseconds);
// Positions the reader so that the next sample handed out is frame Frame of
// the stream. False when the reader could not be moved.
bool wma_set_position_frames(wma_sync_reader& r, int64_t Frame);
// Hands out the next piece of decoded audio: on entry Bytes is the most
// wanted (whole frames); on exit Buffer points into the reader's sample
// buffer (valid until the next call) and Bytes is the count; 0 and nullptr
// at the end of the stream.
void wma_read_samples(wma_sync_reader& r, uint8_t*& Buffer, uint32_t& Bytes);
// Closes the demuxer and releases everything; the record is as new.
void wma_close_reader(wma_sync_reader& r);

}  // namespace lirvo
