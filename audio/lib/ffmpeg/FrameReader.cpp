#include "audio/lib/ffmpeg/FrameReader.h"

namespace lirvo::ffmpeg {

int TFrameReader::Open(AVFormatContext* Format, int Index) {
  Close();
  if (!Format || Index < 0 || Index >= static_cast<int>(Format->nb_streams)) return AVERROR(EINVAL);
  FFormat = Format;
  FIndex = Index;
  FStream = Format->streams[Index];
  FPacket.reset(av_packet_alloc());
  FFrame.reset(av_frame_alloc());
  if (!FPacket || !FFrame) {
    Close();
    return AVERROR(ENOMEM);
  }
  const int rc = OpenDecoder(FStream->codecpar, FStream->time_base, FCodec);
  if (rc < 0) {
    Close();
    return rc;
  }
  return 0;
}

void TFrameReader::Close() {
  FCodec.reset();
  FFrame.reset();
  FPacket.reset();
  FFormat = nullptr;
  FStream = nullptr;
  FIndex = -1;
}

int TFrameReader::ReopenDecoder() {
  FCodec.reset();
  return OpenDecoder(FStream->codecpar, FStream->time_base, FCodec);
}

void TFrameReader::FlushDecoder() {
  avcodec_flush_buffers(FCodec.get());
}

int TFrameReader::ReadPacket() {
  for (;;) {
    const int rc = av_read_frame(FFormat, FPacket.get());
    if (rc < 0) return rc;
    if (FPacket->stream_index == FIndex) return 0;
    av_packet_unref(FPacket.get());
  }
}

int TFrameReader::SendPacket() {
  const int rc = avcodec_send_packet(FCodec.get(), FPacket.get());
  av_packet_unref(FPacket.get());
  return rc;
}

int TFrameReader::SendEnd() {
  return avcodec_send_packet(FCodec.get(), nullptr);
}

int TFrameReader::ReceiveFrame() {
  return avcodec_receive_frame(FCodec.get(), FFrame.get());
}

void TFrameReader::DropPacket() {
  av_packet_unref(FPacket.get());
}

void TFrameReader::DropFrame() {
  av_frame_unref(FFrame.get());
}

int TFrameReader::SeekBackward(int64_t Ts) {
  return av_seek_frame(FFormat, FIndex, Ts, AVSEEK_FLAG_BACKWARD);
}

int TFrameReader::SeekBetween(int64_t Min, int64_t Ts, int64_t Max) {
  return avformat_seek_file(FFormat, FIndex, Min, Ts, Max, 0);
}

int TFrameReader::ReadBytesAt(int64_t Pos, uint8_t* Buffer, int Count) {
  if (!FFormat || !FFormat->pb) return AVERROR(EINVAL);
  const int64_t at = avio_seek(FFormat->pb, Pos, SEEK_SET);
  if (at < 0) return static_cast<int>(at);
  const int n = avio_read(FFormat->pb, Buffer, Count);
  return n == AVERROR_EOF ? 0 : n;
}

bool TFrameReader::LastIndexPoint(int64_t& Pos, int64_t& Ts) const {
  const int count = FStream ? avformat_index_get_entries_count(FStream) : 0;
  if (count <= 0) return false;
  const AVIndexEntry* e = avformat_index_get_entry(FStream, count - 1);
  if (!e) return false;
  Pos = e->pos;
  Ts = e->timestamp;
  return true;
}

int TFrameReader::AddIndexPoint(int64_t Pos, int64_t Ts) {
  if (!FStream) return AVERROR(EINVAL);
  const int rc = av_add_index_entry(FStream, Pos, Ts, 0, 0, AVINDEX_KEYFRAME);
  return rc < 0 ? rc : 0;
}

}  // namespace lirvo::ffmpeg
