#include "audio/decoders/FrameSeeker.h"

#include <algorithm>
#include <limits>
#include <string_view>

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
// Frames between the index points the frame map adds: a seek reads at most
// this many packets past the point it lands on.
constexpr int kMapStep = 16;

// One MPEG audio frame header: its length in bytes, its samples, its rate
// and the version and layer bits (which stay the same in a stream).
struct TMpegFrame {
  int Bytes = 0;
  int Samples = 0;
  int Rate = 0;
  int Kind = 0;
};

bool ParseMpegAudioHeader(const uint8_t* H, TMpegFrame& Out) {
  if (H[0] != 0xFF || (H[1] & 0xE0) != 0xE0) return false;
  const int version = (H[1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1
  const int layer = (H[1] >> 1) & 3;    // 1: III, 2: II, 3: I
  const int bitrateIndex = H[2] >> 4;
  const int rateIndex = (H[2] >> 2) & 3;
  // Free-format frames (bitrate index 0) have no length in their header.
  if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
    return false;
  static constexpr int kRates[3] = {44100, 48000, 32000};
  static constexpr int16_t kKbps[2][3][15] = {
      {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
       {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
       {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
      {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
  const bool mpeg1 = version == 3;
  const int rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
  const int bitrate = kKbps[mpeg1 ? 0 : 1][3 - layer][bitrateIndex] * 1000;
  const int padding = (H[2] >> 1) & 1;
  if (layer == 3) {
    Out.Samples = 384;
    Out.Bytes = (12 * bitrate / rate + padding) * 4;
  } else if (layer == 2 || mpeg1) {
    Out.Samples = 1152;
    Out.Bytes = 144 * bitrate / rate + padding;
  } else {
    Out.Samples = 576;
    Out.Bytes = 72 * bitrate / rate + padding;
  }
  Out.Rate = rate;
  Out.Kind = H[1] & 0x1E;
  return true;
}

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
  // frames before the target for their overlap and bit reservoir. An MP3
  // frame's data may begin up to 255 (MPEG-2) or 511 (MPEG-1) bytes back; in
  // the smallest frames (8 kbit/s at 24 kHz, 11 bytes of data) that is 24
  // frames, which a decoder started later answers with silence.
  const AVCodecID codecId = FStream->codecpar->codec_id;
  if (codecId == AV_CODEC_ID_APE)
    FPreroll = 0;
  else if (codecId == AV_CODEC_ID_MP3 && codec->frame_size > 0)
    FPreroll = 32LL * codec->frame_size;
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
  // A raw MPEG audio file has no index: without one the demuxer finds a
  // timestamp by reading every packet before it. The frame map gives it
  // exact index points from the frame headers alone.
  FMapFrames =
      FExactTimestamps && Format->iformat && std::string_view(Format->iformat->name) == "mp3" &&
      (codecId == AV_CODEC_ID_MP3 || codecId == AV_CODEC_ID_MP2 || codecId == AV_CODEC_ID_MP1);
  FTicksPerSample = FExactTimestamps ? tb.den / (static_cast<int64_t>(tb.num) * FSampleRate) : 0;
  FMapPos = -1;
  FMapTs = kUnknown;
  FMapKind = -1;
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

// Walks the frame headers from the furthest point the demuxer knows (or the
// map reached) up to timestamp Ts, adding an index point every kMapStep
// frames. The walk only reads headers, a few bytes a frame. It ends for good
// where the frames do (the end, a tag, damage, a frame of another kind):
// past that the demuxer finds its way as before.
void TFrameSeeker::MapFramesUpTo(int64_t Ts) {
  if (!FMapFrames) return;
  int64_t pos = FMapPos, ts = FMapTs;
  int64_t knownPos = 0, knownTs = 0;
  // The demuxer indexes the packets it hands out; one read gives the first
  // point (the caller moves the demuxer afterwards anyway).
  if (!FReader.LastIndexPoint(knownPos, knownTs) && FReader.ReadPacket() >= 0) FReader.DropPacket();
  if (FReader.LastIndexPoint(knownPos, knownTs) && (ts == kUnknown || knownTs > ts)) {
    pos = knownPos;
    ts = knownTs;
  }
  if (pos < 0 || ts == kUnknown || ts >= Ts) return;
  std::vector<uint8_t> buf(64 * 1024);
  int64_t bufPos = 0;
  int bufLen = 0;
  for (int frames = 0; ts < Ts; ++frames) {
    if (pos < bufPos || pos + 4 > bufPos + bufLen) {
      bufPos = pos;
      bufLen = std::max(0, FReader.ReadBytesAt(pos, buf.data(), static_cast<int>(buf.size())));
      if (bufLen < 4) {
        FMapFrames = false;
        break;
      }
    }
    TMpegFrame f;
    if (!ParseMpegAudioHeader(&buf[static_cast<size_t>(pos - bufPos)], f) ||
        f.Rate != FSampleRate || (FMapKind >= 0 && f.Kind != FMapKind)) {
      FMapFrames = false;
      break;
    }
    FMapKind = f.Kind;
    if (frames > 0 && frames % kMapStep == 0) FReader.AddIndexPoint(pos, ts);
    pos += f.Bytes;
    ts += f.Samples * FTicksPerSample;
  }
  FMapPos = pos;
  FMapTs = ts;
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
    MapFramesUpTo(ts);
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
