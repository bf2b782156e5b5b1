#include "audio/decoders/FrameSeeker.h"

#include <algorithm>
#include <limits>

namespace lirvo {

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

TFrameSeeker::TFrameSeeker() = default;
TFrameSeeker::~TFrameSeeker() = default;

int TFrameSeeker::Open(AVFormatContext* Format, int Index) {
  Close();
  const int rc = FReader.Open(Format, Index);
  if (rc < 0) {
    Close();
    return rc;
  }
  FStream = FReader.Stream();
  AVCodecContext* codec = FReader.Codec();
  FSampleRate = FStream->codecpar->sample_rate;
  if (FSampleRate <= 0) FSampleRate = codec->sample_rate;
  const AVRational tb = FStream->time_base;
  FExactTimestamps = FSampleRate > 0 && tb.num > 0 && tb.den > 0 &&
                     tb.den % (static_cast<int64_t>(tb.num) * FSampleRate) == 0;
  // Monkey's Audio frames decode on their own; MP3 and the others need the
  // frames before the target for their overlap and bit reservoir.
  if (FStream->codecpar->codec_id == AV_CODEC_ID_APE)
    FPreroll = 0;
  else if (codec->frame_size > 0)
    FPreroll = std::max<int64_t>(8192, 16LL * codec->frame_size);
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

void TFrameSeeker::Close() {
  FReader.Close();
  FStream = nullptr;
  FMarks.clear();
  FMarks.shrink_to_fit();
}

int64_t TFrameSeeker::Position() const {
  return FNext == kUnknown ? -1 : FNext;
}

int64_t TFrameSeeker::PacketTime(const AVPacket* Packet) const {
  return Packet->pts != AV_NOPTS_VALUE ? Packet->pts : Packet->dts;
}

int64_t TFrameSeeker::FrameSampleFromTimestamp(const AVFrame* Frame) const {
  int64_t ts = Frame->pts != AV_NOPTS_VALUE ? Frame->pts : Frame->best_effort_timestamp;
  if (ts == AV_NOPTS_VALUE) return kUnknown;
  const int64_t start = FStream->start_time != AV_NOPTS_VALUE ? FStream->start_time : 0;
  // The first frame keeps the timestamp of its packet although the decoder
  // trimmed its front: anything before the stream's start is sample 0.
  return std::max<int64_t>(
      0, av_rescale_q(ts - start, FStream->time_base, AVRational{1, FSampleRate}));
}

int TFrameSeeker::LastMarkAtOrBefore(int64_t Sample) const {
  auto it = std::upper_bound(FMarks.begin(), FMarks.end(), Sample,
                             [](int64_t s, const TMark& m) { return s < m.First; });
  return static_cast<int>(it - FMarks.begin()) - 1;
}

AVFrame* TFrameSeeker::Next(int& Skip) {
  Skip = 0;
  if (!FReader.IsOpen() || FEnded) return nullptr;
  AVFrame* frame = FReader.Frame();
  FReader.DropFrame();
  for (;;) {
    int rc = FReader.ReceiveFrame();
    if (rc == 0) {
      FErrors = 0;
      if (FNext == kUnknown) {
        if (!FExactTimestamps) {
          // Warm-up output after a move: its place is not known yet.
          FReader.DropFrame();
          continue;
        }
        FNext = FrameSampleFromTimestamp(frame);
        if (FNext == kUnknown || FNext > FTarget) {
          // No timestamp to go by, or the demuxer moved past the target:
          // count from the start instead.
          FReader.DropFrame();
          if (!Rewind()) return nullptr;
          continue;
        }
      }
      const int64_t first = FNext;
      FNext += frame->nb_samples;
      if (frame->nb_samples <= 0 || FNext <= FTarget) {
        FReader.DropFrame();
        continue;
      }
      Skip = static_cast<int>(std::max<int64_t>(0, FTarget - first));
      return frame;
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
    if (!FPending && FReader.ReadPacket() < 0) {
      // End of the file (or a read error, which ends it as well): let the
      // decoder hand out what it still holds.
      FReader.SendEnd();
      FDraining = true;
      continue;
    }
    FPending = false;
    BeforeSend(FReader.Packet());
    rc = FReader.SendPacket();
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

void TFrameSeeker::BeforeSend(const AVPacket* Packet) {
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

void TFrameSeeker::StartWarmup() {
  FReader.FlushDecoder();
  FDraining = false;
  FEnded = false;
  FNext = kUnknown;
  FWarmup = kWarmupPackets;
  FUnanchored = 0;
  FOvershot = false;
  FErrors = 0;
}

bool TFrameSeeker::SeekToStart() {
  const int64_t start =
      FStream->start_time != AV_NOPTS_VALUE && FStream->start_time < 0 ? FStream->start_time : 0;
  if (FReader.SeekBackward(start) >= 0) return true;
  return FReader.SeekBetween(INT64_MIN, start, start) >= 0;
}

bool TFrameSeeker::Rewind() {
  FReader.DropPacket();
  FPending = false;
  FReader.DropFrame();
  if (!SeekToStart()) {
    FEnded = true;
    return false;
  }
  // A fresh decoder decodes the start exactly as the first pass did
  // (flushing would keep state such as a pending start trim).
  if (FReader.ReopenDecoder() < 0) {
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

bool TFrameSeeker::ReadUpTo(int64_t Pts) {
  FReader.DropPacket();
  FPending = false;
  bool seenEarlier = false;
  while (FReader.ReadPacket() >= 0) {
    const int64_t t = PacketTime(FReader.Packet());
    if (t == AV_NOPTS_VALUE || t < Pts) {
      seenEarlier = seenEarlier || t != AV_NOPTS_VALUE;
      FReader.DropPacket();
      continue;
    }
    if (t > Pts && !seenEarlier) {
      // The demuxer landed after the packet wanted.
      FReader.DropPacket();
      return false;
    }
    FPending = true;
    return true;
  }
  return false;
}

bool TFrameSeeker::RewindAndSkipTo(int64_t Pts) {
  return SeekToStart() && ReadUpTo(Pts);
}

bool TFrameSeeker::Seek(int64_t Sample) {
  if (!FReader.IsOpen()) return false;
  FReader.DropFrame();
  FTarget = std::max<int64_t>(0, Sample);
  const int64_t target = FTarget;

  if (FExactTimestamps) {
    if (FNext != kUnknown && !FEnded && FNext <= target && target - FNext <= FPreroll)
      return true;  // a short way ahead: decoding on is cheaper than a move
    const int64_t from = target - FPreroll;
    if (from <= 0) return Rewind();
    const int64_t start = FStream->start_time != AV_NOPTS_VALUE ? FStream->start_time : 0;
    const int64_t ts = av_rescale_q(from, AVRational{1, FSampleRate}, FStream->time_base) + start;
    FReader.DropPacket();
    FPending = false;
    if (FReader.SeekBackward(ts) < 0) return Rewind();
    FReader.FlushDecoder();
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
  FReader.DropPacket();
  FPending = false;
  bool moved = FReader.SeekBackward(pts) >= 0 && ReadUpTo(pts);
  if (!moved && !RewindAndSkipTo(pts)) return Rewind();
  StartWarmup();
  return true;
}

}  // namespace lirvo
