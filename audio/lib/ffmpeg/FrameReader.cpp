#include "audio/lib/ffmpeg/FrameReader.h"

#include <algorithm>
#include <limits>

namespace lirvo::ffmpeg {

namespace {

constexpr int64_t kUnknown = std::numeric_limits<int64_t>::min();
// Packets decoded after a move before the count may resume: enough for the
// decoders' overlap and bit reservoirs to hold what a decode from the start
// would hold.
constexpr int kWarmupPackets = 2;
// Packets sent after a move without finding a remembered packet before the
// reader gives up and decodes forward from the start.
constexpr int kAnchorGiveUp = kWarmupPackets + 32;
// Consecutive decoding errors without progress after which the stream ends.
constexpr int kErrorGiveUp = 1000;

}  // namespace

TFrameReader::TFrameReader() = default;
TFrameReader::~TFrameReader() = default;

int TFrameReader::Open(AVFormatContext* Format, int Index) {
  Close();
  if (!Format || Index < 0 || Index >= static_cast<int>(Format->nb_streams)) return AVERROR(EINVAL);
  FFormat = Format;
  FIndex = Index;
  FStream = Format->streams[Index];
  FSampleRate = FStream->codecpar->sample_rate;
  FPacket.reset(av_packet_alloc());
  FFrame.reset(av_frame_alloc());
  if (!FPacket || !FFrame) {
    Close();
    return AVERROR(ENOMEM);
  }
  int rc = OpenCodec();
  if (rc < 0) {
    Close();
    return rc;
  }
  if (FSampleRate <= 0) FSampleRate = FCodec->sample_rate;
  const AVRational tb = FStream->time_base;
  FExactTimestamps = FSampleRate > 0 && tb.num > 0 && tb.den > 0 &&
                     tb.den % (static_cast<int64_t>(tb.num) * FSampleRate) == 0;
  // Monkey's Audio frames decode on their own; MP3 and the others need the
  // frames before the target for their overlap and bit reservoir.
  if (FStream->codecpar->codec_id == AV_CODEC_ID_APE)
    FPreroll = 0;
  else if (FCodec->frame_size > 0)
    FPreroll = std::max<int64_t>(8192, 16LL * FCodec->frame_size);
  else
    FPreroll = 18432;
  FNext = 0;
  FTarget = 0;
  FDraining = false;
  FPending = false;
  FEnded = false;
  FWarmup = 0;
  FUnanchored = 0;
  FOvershot = false;
  FErrors = 0;
  FLastError = 0;
  FMarks.clear();
  return 0;
}

void TFrameReader::Close() {
  FCodec.reset();
  FFrame.reset();
  FPacket.reset();
  FFormat = nullptr;
  FStream = nullptr;
  FIndex = -1;
  FMarks.clear();
  FMarks.shrink_to_fit();
}

int TFrameReader::OpenCodec() {
  const AVCodec* codec = avcodec_find_decoder(FStream->codecpar->codec_id);
  if (!codec) return AVERROR_DECODER_NOT_FOUND;
  CodecContextPtr ctx(avcodec_alloc_context3(codec));
  if (!ctx) return AVERROR(ENOMEM);
  int rc = avcodec_parameters_to_context(ctx.get(), FStream->codecpar);
  if (rc < 0) return rc;
  // As the command-line tool sets it: the decoder moves the timestamps of
  // frames it trims (encoder delay) with it.
  ctx->pkt_timebase = FStream->time_base;
  rc = avcodec_open2(ctx.get(), codec, nullptr);
  if (rc < 0) return rc;
  FCodec = std::move(ctx);
  return 0;
}

int64_t TFrameReader::Position() const {
  return FNext == kUnknown ? -1 : FNext;
}

int64_t TFrameReader::PacketTime(const AVPacket* Packet) const {
  return Packet->pts != AV_NOPTS_VALUE ? Packet->pts : Packet->dts;
}

int64_t TFrameReader::FrameSampleFromTimestamp(const AVFrame* Frame) const {
  int64_t ts = Frame->pts != AV_NOPTS_VALUE ? Frame->pts : Frame->best_effort_timestamp;
  if (ts == AV_NOPTS_VALUE) return kUnknown;
  const int64_t start = FStream->start_time != AV_NOPTS_VALUE ? FStream->start_time : 0;
  // The first frame keeps the timestamp of its packet although the decoder
  // trimmed its front: anything before the stream's start is sample 0.
  return std::max<int64_t>(
      0, av_rescale_q(ts - start, FStream->time_base, AVRational{1, FSampleRate}));
}

int TFrameReader::LastMarkAtOrBefore(int64_t Sample) const {
  auto it = std::upper_bound(FMarks.begin(), FMarks.end(), Sample,
                             [](int64_t s, const TMark& m) { return s < m.First; });
  return static_cast<int>(it - FMarks.begin()) - 1;
}

AVFrame* TFrameReader::Next(int& Skip) {
  Skip = 0;
  if (!FCodec || FEnded) return nullptr;
  av_frame_unref(FFrame.get());
  for (;;) {
    int rc = avcodec_receive_frame(FCodec.get(), FFrame.get());
    if (rc == 0) {
      FErrors = 0;
      if (FNext == kUnknown) {
        if (!FExactTimestamps) {
          // Warm-up output after a move: its place is not known yet.
          av_frame_unref(FFrame.get());
          continue;
        }
        FNext = FrameSampleFromTimestamp(FFrame.get());
        if (FNext == kUnknown || FNext > FTarget) {
          // No timestamp to go by, or the demuxer moved past the target:
          // count from the start instead.
          av_frame_unref(FFrame.get());
          if (!Rewind()) return nullptr;
          continue;
        }
      }
      const int64_t first = FNext;
      FNext += FFrame->nb_samples;
      if (FFrame->nb_samples <= 0 || FNext <= FTarget) {
        av_frame_unref(FFrame.get());
        continue;
      }
      Skip = static_cast<int>(std::max<int64_t>(0, FTarget - first));
      return FFrame.get();
    }
    if (rc == AVERROR_EOF) return nullptr;
    if (rc != AVERROR(EAGAIN)) {
      // A frame the decoder rejected: dropped, as the command-line tool does.
      FLastError = rc;
      if (++FErrors > kErrorGiveUp) {
        FEnded = true;
        return nullptr;
      }
      continue;
    }
    if (FDraining) return nullptr;
    if (!FPending) {
      rc = av_read_frame(FFormat, FPacket.get());
      if (rc < 0) {
        // End of the file (or a read error, which ends it as well): let the
        // decoder hand out what it still holds.
        avcodec_send_packet(FCodec.get(), nullptr);
        FDraining = true;
        continue;
      }
      if (FPacket->stream_index != FIndex) {
        av_packet_unref(FPacket.get());
        continue;
      }
    }
    FPending = false;
    BeforeSend(FPacket.get());
    rc = avcodec_send_packet(FCodec.get(), FPacket.get());
    av_packet_unref(FPacket.get());
    if (rc < 0 && rc != AVERROR(EAGAIN)) {
      FLastError = rc;
      if (++FErrors > kErrorGiveUp) {
        FEnded = true;
        return nullptr;
      }
    }
    if (!FExactTimestamps && FNext == kUnknown && (FUnanchored > kAnchorGiveUp || FOvershot)) {
      // The packets after the move do not match those remembered, or they
      // start past the target: decode forward from the start instead.
      if (!Rewind()) return nullptr;
    }
  }
}

void TFrameReader::BeforeSend(const AVPacket* Packet) {
  if (FExactTimestamps) return;
  const int64_t t = PacketTime(Packet);
  if (FNext != kUnknown) {
    if (t != AV_NOPTS_VALUE && (FMarks.empty() || t > FMarks.back().Pts))
      FMarks.push_back({t, FNext});
    return;
  }
  ++FUnanchored;
  if (FWarmup > 0) {
    --FWarmup;
    return;
  }
  if (t == AV_NOPTS_VALUE) return;
  auto it = std::lower_bound(FMarks.begin(), FMarks.end(), t,
                             [](const TMark& m, int64_t pts) { return m.Pts < pts; });
  if (it != FMarks.end() && it->Pts == t) {
    if (it->First > FTarget) {
      FOvershot = true;
      return;
    }
    FNext = it->First;
    FUnanchored = 0;
  }
}

void TFrameReader::StartWarmup() {
  avcodec_flush_buffers(FCodec.get());
  FDraining = false;
  FEnded = false;
  FNext = kUnknown;
  FWarmup = kWarmupPackets;
  FUnanchored = 0;
  FOvershot = false;
  FErrors = 0;
}

bool TFrameReader::SeekToStart() {
  const int64_t start =
      FStream->start_time != AV_NOPTS_VALUE && FStream->start_time < 0 ? FStream->start_time : 0;
  if (av_seek_frame(FFormat, FIndex, start, AVSEEK_FLAG_BACKWARD) >= 0) return true;
  return avformat_seek_file(FFormat, FIndex, INT64_MIN, start, start, 0) >= 0;
}

bool TFrameReader::Rewind() {
  av_packet_unref(FPacket.get());
  FPending = false;
  av_frame_unref(FFrame.get());
  if (!SeekToStart()) {
    FEnded = true;
    return false;
  }
  // A fresh decoder decodes the start exactly as the first pass did
  // (flushing would keep state such as a pending start trim).
  FCodec.reset();
  if (OpenCodec() < 0) {
    FEnded = true;
    return false;
  }
  FNext = 0;
  FDraining = false;
  FEnded = false;
  FWarmup = 0;
  FUnanchored = 0;
  FOvershot = false;
  FErrors = 0;
  return true;
}

bool TFrameReader::ReadUpTo(int64_t Pts) {
  av_packet_unref(FPacket.get());
  FPending = false;
  bool seenEarlier = false;
  while (av_read_frame(FFormat, FPacket.get()) >= 0) {
    if (FPacket->stream_index != FIndex) {
      av_packet_unref(FPacket.get());
      continue;
    }
    const int64_t t = PacketTime(FPacket.get());
    if (t == AV_NOPTS_VALUE || t < Pts) {
      seenEarlier = seenEarlier || t != AV_NOPTS_VALUE;
      av_packet_unref(FPacket.get());
      continue;
    }
    if (t > Pts && !seenEarlier) {
      // The demuxer landed after the packet wanted.
      av_packet_unref(FPacket.get());
      return false;
    }
    FPending = true;
    return true;
  }
  return false;
}

bool TFrameReader::RewindAndSkipTo(int64_t Pts) {
  return SeekToStart() && ReadUpTo(Pts);
}

bool TFrameReader::Seek(int64_t Sample) {
  if (!FCodec) return false;
  av_frame_unref(FFrame.get());
  FTarget = std::max<int64_t>(0, Sample);
  const int64_t target = FTarget;

  if (FExactTimestamps) {
    if (FNext != kUnknown && !FEnded && FNext <= target && target - FNext <= FPreroll)
      return true;  // a short way ahead: decoding on is cheaper than a move
    const int64_t from = target - FPreroll;
    if (from <= 0) return Rewind();
    const int64_t start = FStream->start_time != AV_NOPTS_VALUE ? FStream->start_time : 0;
    const int64_t ts = av_rescale_q(from, AVRational{1, FSampleRate}, FStream->time_base) + start;
    av_packet_unref(FPacket.get());
    FPending = false;
    if (av_seek_frame(FFormat, FIndex, ts, AVSEEK_FLAG_BACKWARD) < 0) return Rewind();
    avcodec_flush_buffers(FCodec.get());
    FDraining = false;
    FEnded = false;
    FNext = kUnknown;
    FErrors = 0;
    return true;
  }

  const int a = LastMarkAtOrBefore(target);
  if (FNext != kUnknown && !FEnded && FNext <= target) {
    // Decoding on from here is the shorter way when the packet to resume at
    // is not much further than where the decoder stands.
    auto c = std::lower_bound(FMarks.begin(), FMarks.end(), FNext,
                              [](const TMark& m, int64_t s) { return m.First < s; });
    if (a < 0 || a - static_cast<int>(c - FMarks.begin()) <= kWarmupPackets) return true;
  }
  if (a < 0) return Rewind();
  const int j = a - kWarmupPackets;
  if (j <= 0) return Rewind();
  const int64_t pts = FMarks[j].Pts;
  av_packet_unref(FPacket.get());
  FPending = false;
  bool moved = av_seek_frame(FFormat, FIndex, pts, AVSEEK_FLAG_BACKWARD) >= 0 && ReadUpTo(pts);
  if (!moved && !RewindAndSkipTo(pts)) return Rewind();
  StartWarmup();
  return true;
}

}  // namespace lirvo::ffmpeg
