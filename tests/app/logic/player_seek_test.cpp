// Seeking from the window's controller while a track plays, on both engines:
// what reaches the device after the seek is the track's own frames from the
// place sought, with nothing from before the seek in between.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "audio/decoders/AudioFLAC.h"
#include "audio/decoders/AudioMAC.h"
#include "audio/decoders/AudioWinMedia.h"
#include "audio/outputs/AuASIO.h"
#include "audio/outputs/drivers/AlsaDirect.h"
#include "common/TestFiles.h"
#include "common/TestPaths.h"
#include "tests/app/logic/PlayerTestSupport.h"
#include "tests/audio/outputs/AsioTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;
using namespace std::chrono_literals;

namespace {

// Everything a decoder delivers for Path, as the player's chain gets it, and
// its sample width.
struct TDecoded {
  std::vector<uint8_t> Pcm;
  uint32_t Bits = 0;
};
TDecoded DecodeAll(TAuFileIn& In, const std::string& Path) {
  In.SetFileName(Path);
  In.Init();
  TDecoded d;
  d.Bits = In.BitsPerSample();
  std::vector<uint8_t>& out = d.Pcm;
  for (;;) {
    uint8_t* p = nullptr;
    uint32_t n = 65536;
    In.GetData(p, n);
    if (!p || n == 0) break;
    out.insert(out.end(), p, p + n);
  }
  In.Reset();
  return d;
}

// What the direct engine's converter makes of it: 32-bit samples.
std::vector<uint8_t> Widened(const TDecoded& D) {
  if (D.Bits == 32) return D.Pcm;
  std::vector<int32_t> wide(D.Pcm.size() / 2);
  for (size_t i = 0; i < wide.size(); ++i) {
    int16_t s;
    std::memcpy(&s, D.Pcm.data() + 2 * i, 2);
    wide[i] = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(s)) << 16);
  }
  return Bytes32(wide);
}

// Where the capture came from: the track from its first frame (Before
// frames), then silence only, then the track from frame After on, to the
// capture's end (Count frames, with SilentFrames of silence among them).
struct TSeekSplit {
  int64_t Before = 0;
  int64_t After = -1;
  int64_t Count = 0;
  int64_t SilentFrames = 0;  // silence between the frames after the seek
  std::string Problem;
};

// Hint: where the audio after the seek should begin (looked at first, as a
// periodic signal matches elsewhere too).
TSeekSplit Split(const std::vector<uint8_t>& Cap, const std::vector<uint8_t>& Ref, size_t Frame,
                 int64_t Hint) {
  TSeekSplit s;
  const size_t frames = Cap.size() / Frame, refFrames = Ref.size() / Frame;
  auto same = [&](size_t C, size_t R) {
    return std::memcmp(Cap.data() + C * Frame, Ref.data() + R * Frame, Frame) == 0;
  };
  auto silent = [&](size_t C) {
    for (size_t i = 0; i < Frame; ++i)
      if (Cap[C * Frame + i] != 0) return false;
    return true;
  };
  size_t c = 0;
  while (c < frames && c < refFrames && same(c, c))
    ++c;
  s.Before = static_cast<int64_t>(c);
  while (c < frames && silent(c))
    ++c;
  if (c + 64 > frames) {
    s.Problem = "nothing after the seek";
    return s;
  }
  // The first 64 frames after the seek, found in the track.
  auto matchesAt = [&](size_t r) {
    if (r + 64 > refFrames) return false;
    for (size_t k = 0; k < 64; ++k)
      if (!same(c + k, r + k)) return false;
    return true;
  };
  if (Hint >= 0 && matchesAt(static_cast<size_t>(Hint))) {
    s.After = Hint;
  } else {
    for (size_t r = 0; r + 64 <= refFrames; ++r)
      if (matchesAt(r)) {
        s.After = static_cast<int64_t>(r);
        break;
      }
  }
  if (s.After < 0) {
    s.Problem = "the audio after the seek is not the track's";
    return s;
  }
  // From there the track's frames follow one another. A period of silence
  // may come between them when the machine was too busy to refill the ring
  // in time after the seek; that loses nothing, while a frame out of place
  // (from before the seek, or skipped) breaks the run.
  size_t r = static_cast<size_t>(s.After);
  while (c < frames && r < refFrames) {
    if (same(c, r)) {
      ++c;
      ++r;
      ++s.Count;
    } else if (silent(c)) {
      ++c;
      ++s.SilentFrames;
    } else {
      break;
    }
  }
  // A stop may end the capture with a period of silence.
  while (c < frames && silent(c))
    ++c;
  if (c < frames) s.Problem = "the track's frames after the seek break off";
  return s;
}

enum class TEngine { Shared, Direct };

}  // namespace

// A seek to 60 % lands exactly there (FLAC, APE, a CUE track) or on the
// decoder's own frame boundary before it (MP3), and the device receives the
// track from that frame on: nothing stale, nothing lost.
TEST(PlayerSeek, ASeekTo60PercentPlaysTheTrackFromThereOnBothEngines) {
  REQUIRE_TOOL("sox");
  REQUIRE_TOOL("ffmpeg");
  LIRVO_REQUIRE_PULSE();
  const std::string dir = ScratchDir("player_seek");
  const std::string flac = dir + "/noise.flac";
  RunCapture("sox -n -r 44100 -c 2 -b 16 " + Quote(flac) + " synth 20 whitenoise vol 0.3 2>&1");
  const std::string mp3 = dir + "/noise.mp3";
  RunCapture("ffmpeg -v error -y -i " + Quote(flac) + " -c:a libmp3lame -b:a 192k " + Quote(mp3) +
             " 2>&1");
  // A 20 s second track inside a 30 s image.
  const std::string image = dir + "/image.flac";
  RunCapture("sox -n -r 44100 -c 2 -b 16 " + Quote(image) + " synth 30 whitenoise vol 0.3 2>&1");
  WriteText(dir + "/image.cue",
            "FILE \"image.flac\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    INDEX 01 00:05:00\n  TRACK 03 AUDIO\n    INDEX 01 00:25:00\n");
  const std::string ape = FixturePath("audio/mac-399.ape");

  TDecoded refFlac, refMp3, refApe, refCue;
  {
    TFLACIn f;
    refFlac = DecodeAll(f, flac);
    TWMIn w;
    w.SetHighPrecision(false);
    w.SetOutputChannels(cnMonoOrStereo);
    refMp3 = DecodeAll(w, mp3);
    TMACIn m;
    refApe = DecodeAll(m, ape);
    TFLACIn g;
    const TDecoded all = DecodeAll(g, image);
    refCue.Bits = all.Bits;
    refCue.Pcm.assign(all.Pcm.begin() + 5 * 44100 * 4, all.Pcm.begin() + 25 * 44100 * 4);
  }
  ASSERT_FALSE(refApe.Pcm.empty());
  ASSERT_FALSE(refMp3.Pcm.empty());

  struct Case {
    const char* Name;
    std::string File;
    std::optional<int32_t> Track;
    const TDecoded* Ref;
    bool Exact;  // lands on the very frame
  };
  const Case cases[] = {
      {"FLAC", flac, std::nullopt, &refFlac, true},
      {"APE", ape, std::nullopt, &refApe, true},
      {"MP3", mp3, std::nullopt, &refMp3, false},
      {"CUE track", dir + "/image.cue", 2, &refCue, true},
  };
  for (TEngine engine : {TEngine::Shared, TEngine::Direct}) {
    SCOPED_TRACE(engine == TEngine::Direct ? "direct engine" : "shared engine");
    const std::string card = dir + "/card.raw";
    TAudioEnvironment env;
    if (engine == TEngine::Direct) env = PacedCardEnvironment("lirvo_seek_card", card);
    TPlayerRig rig(engine == TEngine::Direct ? "player_seek_direct" : "player_seek_shared", true,
                   engine == TEngine::Direct, env);
    rig.Ctl->FAudioEngine = engine == TEngine::Direct ? aeASIO : aeDSound;
    for (const Case& k : cases) {
      SCOPED_TRACE(k.Name);
      rig.Table.Clear();
      rig.AddRow(k.File, k.Name, k.Track);
      rig.Table.SetCurrentRow(0);
      rig.Ctl->miPlayClick();
      ASSERT_TRUE(PumpUntil([&] { return rig.Ctl->FAudioOut->Progress() > 0; }, 10s));
      PumpFor(300ms);
      const bool direct = engine == TEngine::Direct;
      const size_t frame = direct ? 8 : k.Ref->Bits / 8 * 2;
      const int64_t total = static_cast<int64_t>(k.Ref->Pcm.size() / (k.Ref->Bits / 8 * 2));
      rig.Ctl->SeekToFraction(0.6);
      // The test server's sink takes up to 2 s to start a stream again.
      PumpFor(direct ? 1000ms : 3000ms);
      rig.Ctl->miStopClick();

      const std::vector<uint8_t> cap =
          direct ? ReadWholeFile(card) : ReadFileBytes(rig.CapturePath);
      const std::vector<uint8_t> ref = direct ? Widened(*k.Ref) : k.Ref->Pcm;
      const int64_t target = std::llround(0.6 * static_cast<double>(total));
      const TSeekSplit s = Split(cap, ref, frame, target);
      EXPECT_EQ(s.Problem, "");
      EXPECT_GT(s.Before, 0);
      if (k.Exact) {
        EXPECT_EQ(s.After, target);
      } else {
        // MP3 lands on one of its own frames (1152 samples) near the target.
        EXPECT_NEAR(static_cast<double>(s.After), static_cast<double>(target), 3 * 1152.0);
      }
      EXPECT_GT(s.Count, 44100 / 4) << "too little of the track after the seek reached the device";
    }
  }
}

// The compressed formats' length is an estimate that grows as they are
// decoded: through the direct engine's chain (converter, queue, cache) every
// frame the decoder produces reaches the card, none cut at the estimate.
TEST(PlayerDirectChain, WmaAndMp3DeliverEveryFrameTheDecoderProduces) {
  REQUIRE_TOOL("sox");
  REQUIRE_TOOL("ffmpeg");
  const std::string dir = ScratchDir("player_direct_lossy");
  const std::string wav = dir + "/noise.wav";
  RunCapture("sox -n -r 44100 -c 2 -b 16 " + Quote(wav) + " synth 2.3 whitenoise vol 0.3 2>&1");
  const std::string card = dir + "/card.raw";
  const TAudioEnvironment env = PacedCardEnvironment("lirvo_lossy_card", card);
  TPlayerRig rig("player_direct_lossy_rig", false, /*WithASIO=*/true, env);
  rig.Ctl->FAudioEngine = aeASIO;
  for (const char* codec : {"wmav2", "libmp3lame"}) {
    SCOPED_TRACE(codec);
    const std::string file = dir + (std::string(codec) == "wmav2" ? "/noise.wma" : "/noise.mp3");
    RunCapture("ffmpeg -v error -y -i " + Quote(wav) + " -c:a " + codec + " -b:a 192k " +
               Quote(file) + " 2>&1");
    TWMIn decoder;
    decoder.SetHighPrecision(false);
    decoder.SetOutputChannels(cnMonoOrStereo);
    const TDecoded ref = DecodeAll(decoder, file);
    ASSERT_GT(ref.Pcm.size(), 44100u * 4);
    rig.Table.Clear();
    rig.Host.Messages.clear();
    rig.AddRow(file, codec);
    rig.Table.SetCurrentRow(0);
    rig.Ctl->miPlayClick();
    ASSERT_TRUE(rig.WaitForMessage(kNothingToPlay, false, 30s));
    EXPECT_TRUE(ExactThenSilence(ReadWholeFile(card), Widened(ref)));
    EXPECT_EQ(rig.Pipeline->Components().ASIO->Shortfalls(), 0u);
  }
}

// A seek while paused keeps the pause; the resumed track goes on from the
// new place, with nothing from before the seek in between.
TEST(PlayerSeek, ASeekWhilePausedStaysPausedAndResumesAtTheNewPlace) {
  REQUIRE_TOOL("sox");
  LIRVO_REQUIRE_PULSE();
  const std::string dir = ScratchDir("player_seek_paused");
  const std::string flac = dir + "/noise.flac";
  RunCapture("sox -n -r 44100 -c 2 -b 16 " + Quote(flac) + " synth 10 whitenoise vol 0.3 2>&1");
  TFLACIn f;
  const TDecoded ref = DecodeAll(f, flac);
  const int64_t total = static_cast<int64_t>(ref.Pcm.size() / 4);
  for (TEngine engine : {TEngine::Shared, TEngine::Direct}) {
    const bool direct = engine == TEngine::Direct;
    SCOPED_TRACE(direct ? "direct engine" : "shared engine");
    const std::string card = dir + "/card.raw";
    TAudioEnvironment env;
    if (direct) env = PacedCardEnvironment("lirvo_pause_card", card);
    TPlayerRig rig(direct ? "player_pause_direct" : "player_pause_shared", true, direct, env);
    rig.Ctl->FAudioEngine = direct ? aeASIO : aeDSound;
    rig.AddRow(flac, "N");
    rig.Table.SetCurrentRow(0);
    rig.Ctl->miPlayClick();
    ASSERT_TRUE(PumpUntil([&] { return rig.Ctl->FAudioOut->Progress() > 0; }, 10s));
    PumpFor(300ms);
    rig.Ctl->miPauseClick();
    ASSERT_EQ(rig.Ctl->FAudioOut->Status(), tosPaused);
    rig.Ctl->SeekToFraction(0.5);
    EXPECT_EQ(rig.Ctl->FAudioOut->Status(), tosPaused) << "the seek ended the pause";
    EXPECT_EQ(rig.Ctl->FAudioOut->Progress(), 50);
    PumpFor(300ms);
    rig.Ctl->miPauseClick();  // resumes
    EXPECT_EQ(rig.Ctl->FAudioOut->Status(), tosPlaying);
    PumpFor(direct ? 1000ms : 3000ms);
    rig.Ctl->miStopClick();
    const std::vector<uint8_t> cap = direct ? ReadWholeFile(card) : ReadFileBytes(rig.CapturePath);
    const TSeekSplit s = Split(cap, direct ? Widened(ref) : ref.Pcm, direct ? 8 : 4, total / 2);
    EXPECT_EQ(s.Problem, "");
    EXPECT_GT(s.Before, 0);
    EXPECT_EQ(s.After, total / 2);
    EXPECT_GT(s.Count, 44100 / 4);
  }
}
