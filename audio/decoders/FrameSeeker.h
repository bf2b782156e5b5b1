#pragma once
// Decodes one audio stream of an open demuxer frame by frame and knows, for
// every frame it hands out, where its first sample lies in the order of a
// decode of the whole file from its start (the order the command-line tool
// produces). Seeking lands exactly on a sample: the reader moves the demuxer
// to a point before the target, lets the decoder warm up there, and drops
// everything before the target.
//
// How the position is known again after the demuxer moved:
// - streams whose timestamps count single samples (MP3, APE): the timestamp
//   of the first frame decoded gives it;
// - other streams (ASF counts milliseconds): every packet decoded in order
//   from a known position is remembered with the number of samples decoded
//   before it, and after a move the count resumes at such a packet once a few
//   packets have warmed the decoder up. A target beyond the packets seen so
//   far is reached by decoding forward from the last of them.
// When neither works (a stream without timestamps, a demuxer that cannot
// seek) the reader goes back to the start and decodes forward, which is
// slower but still exact.
//
// A raw MPEG audio file has no index, and its demuxer finds a timestamp by
// reading every packet before it (on a long file, for longer than a seek
// may take). The reader walks the frame headers instead, a few bytes a
// frame, and hands the demuxer exact index points, so that it moves straight
// to the frame before the target.
//
// Decoding errors are handled as the command-line tool handles them: the
// packet is dropped and decoding goes on.
//
// The FFmpeg plumbing (reading packets, decoding, moving the demuxer) is
// ffmpeg::TFrameReader's; this class holds the policy of where to move and
// how to count.
//
// Threads: used by one thread at a time (its owner's lock).

#include <cstdint>
#include <vector>

#include "audio/lib/ffmpeg/FrameReader.h"

namespace lirvo {

class TFrameSeeker {
 public:
  TFrameSeeker();
  ~TFrameSeeker();
  TFrameSeeker(const TFrameSeeker&) = delete;
  TFrameSeeker& operator=(const TFrameSeeker&) = delete;

  // Opens the decoder of stream Index of Format (not owned; it must outlive
  // this reader or the next Open/Close). Returns 0 or an AVERROR code.
  int Open(AVFormatContext* Format, int Index);
  void Close();
  bool IsOpen() const { return FReader.IsOpen(); }

  AVCodecContext* Codec() const { return FReader.Codec(); }
  AVStream* Stream() const { return FReader.Stream(); }

  // The next decoded frame that holds samples at or after the target, or
  // nullptr at the end of the stream. Skip is the number of samples at its
  // front that lie before the target and are to be dropped. The frame stays
  // valid until the next call of Next, Seek or Close.
  AVFrame* Next(int& Skip);

  // Positions the reader so that the next sample handed out is sample Sample
  // of the whole stream (nothing is handed out when that is past the end).
  // False when the demuxer could not be moved at all.
  bool Seek(int64_t Sample);

  // Index of the sample after the last frame handed out; -1 while unknown
  // (between a seek and the first frame).
  int64_t Position() const;

  // The last decoding error (an AVERROR code), 0 when none occurred.
  int LastError() const { return FLastError; }

 private:
  struct TMark {
    int64_t Pts;    // the packet's timestamp, in the stream's time base
    int64_t First;  // samples decoded before the packet was sent
  };

  bool SeekToStart();
  bool Rewind();
  bool RewindAndSkipTo(int64_t Pts);
  bool ReadUpTo(int64_t Pts);
  void StartWarmup();
  void BeforeSend(const AVPacket* Packet);
  int64_t PacketTime(const AVPacket* Packet) const;
  int64_t FrameSampleFromTimestamp(const AVFrame* Frame) const;
  int LastMarkAtOrBefore(int64_t Sample) const;
  void MapFramesUpTo(int64_t Ts);

  ffmpeg::TFrameReader FReader;
  AVStream* FStream = nullptr;
  int FSampleRate = 0;

  bool FExactTimestamps = false;  // timestamps count single samples
  int64_t FPreroll = 0;           // samples decoded ahead of a target after a move
  int64_t FNext = 0;              // index of the next decoded sample; kUnknown after a move
  int64_t FTarget = 0;            // samples before this index are dropped
  bool FDraining = false;         // the end of the stream was signalled to the decoder
  bool FPending = false;          // the reader's packet was read ahead while moving
  bool FEnded = false;            // the stream cannot go on (unrecoverable failure)
  int FErrors = 0;                // consecutive decoding errors
  int FWarmup = 0;                // packets to send before a mark may resume the count
  int FUnanchored = 0;            // packets sent since a move without the count resuming
  bool FOvershot = false;         // the count would resume past the target
  int FLastError = 0;
  std::vector<TMark> FMarks;  // ascending Pts and First

  // The frame map of a raw MPEG audio file (MapFramesUpTo).
  bool FMapFrames = false;      // the map may still grow
  int64_t FTicksPerSample = 0;  // time-base units a sample
  int64_t FMapPos = -1;         // byte of the first frame not mapped yet
  int64_t FMapTs = 0;           // its timestamp
  int FMapKind = -1;            // version and layer bits of the stream's frames
};

}  // namespace lirvo
