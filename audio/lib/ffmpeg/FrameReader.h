#pragma once
// The packet-to-frame plumbing of one audio stream of an open demuxer: the
// stream's decoder, a packet and a frame, reading the stream's packets,
// sending them to the decoder and receiving its frames, and moving the
// demuxer. What to read, when to move and how to count samples is the
// caller's policy (audio/decoders/FrameSeeker.h).
//
// Threads: used by one thread at a time (its owner's lock).

#include <cstdint>

#include "audio/lib/ffmpeg/FfmpegHandles.h"

namespace lirvo::ffmpeg {

class TFrameReader {
 public:
  TFrameReader() = default;
  TFrameReader(const TFrameReader&) = delete;
  TFrameReader& operator=(const TFrameReader&) = delete;

  // Opens the decoder of stream Index of Format (not owned; it must outlive
  // this reader or the next Open/Close), with the stream's time base as the
  // packets' time base. Returns 0 or an AVERROR code.
  int Open(AVFormatContext* Format, int Index);
  void Close();
  bool IsOpen() const { return FCodec != nullptr; }

  AVCodecContext* Codec() const { return FCodec.get(); }
  AVStream* Stream() const { return FStream; }
  // The packet read last (empty after it was sent or dropped).
  AVPacket* Packet() const { return FPacket.get(); }
  // The frame received last (empty after it was dropped).
  AVFrame* Frame() const { return FFrame.get(); }

  // Replaces the decoder by a fresh one: nothing of the former's state (a
  // pending start trim included) is kept. 0 or an AVERROR code; on a
  // failure the reader is not open.
  int ReopenDecoder();
  // Drops what the decoder holds (after the demuxer moved).
  void FlushDecoder();

  // Reads the next packet of the stream into Packet(), passing over those of
  // other streams. 0, or an AVERROR code at the end of the file or on a
  // read error.
  int ReadPacket();
  // Sends Packet() to the decoder and empties it. 0 or an AVERROR code.
  int SendPacket();
  // Tells the decoder that no more packets come, so it hands out what it
  // still holds.
  int SendEnd();
  // Receives the next decoded frame into Frame(): 0, AVERROR(EAGAIN) when the
  // decoder wants a packet first, AVERROR_EOF after the end, or another
  // AVERROR code for a frame it rejected.
  int ReceiveFrame();
  void DropPacket();
  void DropFrame();

  // Moves the demuxer to the last key point of the stream at or before Ts
  // (in the stream's time base). 0 or an AVERROR code.
  int SeekBackward(int64_t Ts);
  // Moves the demuxer to a point of the stream between Min and Max, as near
  // Ts as it can. 0 or an AVERROR code.
  int SeekBetween(int64_t Min, int64_t Ts, int64_t Max);

  // Reads up to Count bytes of the file from byte Pos, past the demuxer:
  // the demuxer is to be moved (SeekBackward, SeekBetween) before the next
  // ReadPacket. The bytes read, or an AVERROR code.
  int ReadBytesAt(int64_t Pos, uint8_t* Buffer, int Count);
  // The last index point of the stream (the furthest the demuxer knows a
  // frame's position and timestamp of); false when it has none.
  bool LastIndexPoint(int64_t& Pos, int64_t& Ts) const;
  // Tells the demuxer that a frame of the stream starts at byte Pos with
  // timestamp Ts, so that a seek can go there directly. 0 or an AVERROR code.
  int AddIndexPoint(int64_t Pos, int64_t Ts);

 private:
  AVFormatContext* FFormat = nullptr;
  AVStream* FStream = nullptr;
  int FIndex = -1;
  CodecContextPtr FCodec;
  PacketPtr FPacket;
  FramePtr FFrame;
};

}  // namespace lirvo::ffmpeg
