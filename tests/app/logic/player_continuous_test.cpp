// Albums play as one: rows of one format played from the playlist reach the
// device as one stream, exactly the concatenation of their samples, on both
// engines; the window's state follows the track heard.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "audio/outputs/AuASIO.h"
#include "audio/outputs/DSAudioOut.h"
#include "audio/outputs/drivers/AlsaDirect.h"
#include "audio/processors/AudioCache.h"
#include "audio/processors/TrackQueue.h"
#include "common/TestFiles.h"
#include "tests/app/logic/PlayerTestSupport.h"
#include "tests/audio/outputs/AsioTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;
using namespace std::chrono_literals;

namespace {

std::vector<uint8_t> Concat(const std::vector<std::vector<uint8_t>>& Parts) {
  std::vector<uint8_t> all;
  for (const auto& p : Parts)
    all.insert(all.end(), p.begin(), p.end());
  return all;
}

// 16-bit samples as the direct engine's converter delivers them: 32 bits.
std::vector<uint8_t> Widened(const std::vector<uint8_t>& Pcm16) {
  std::vector<int32_t> wide(Pcm16.size() / 2);
  for (size_t i = 0; i < wide.size(); ++i) {
    int16_t s;
    std::memcpy(&s, Pcm16.data() + 2 * i, 2);
    wide[i] = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(s)) << 16);
  }
  return Bytes32(wide);
}

enum class TEngine { Shared, Direct };

// A rig for either engine, each into a device with a clock: the shared
// engine into the test sound server (captured by ALSA's file plugin in
// front of it), the direct engine into the paced test card.
struct TAlbumRig {
  TAlbumRig(const std::string& Name, TEngine AEngine)
      : Engine(AEngine), Card(ScratchDir(Name + "_card") + "/card.raw") {
    TAudioEnvironment env;
    if (Engine == TEngine::Direct) env = PacedCardEnvironment("lirvo_album_card", Card);
    Rig = std::make_unique<TPlayerRig>(Name, /*Paced=*/true, Engine == TEngine::Direct, env);
    Rig->Ctl->FAudioEngine = Engine == TEngine::Direct ? aeASIO : aeDSound;
  }
  // What reached the device, and whether it is Pcm16 (the decoded rows'
  // samples) exactly, then silence.
  ::testing::AssertionResult Received(const std::vector<uint8_t>& Pcm16) const {
    if (Engine == TEngine::Direct) return ExactThenSilence(ReadWholeFile(Card), Widened(Pcm16));
    return IsDataThenSilence(ReadFileBytes(Rig->CapturePath), Pcm16, 0, 44100 * 4);
  }

  TEngine Engine;
  std::string Card;
  std::unique_ptr<TPlayerRig> Rig;
};

const char* EngineName(TEngine E) {
  return E == TEngine::Direct ? "direct engine" : "shared engine";
}

}  // namespace

// Separate files, the tracks of one CUE image (whose concatenation is the
// image), and a CUE track followed by a plain file: one run each, every
// sample once, nothing between the tracks; the status line names each row
// in turn and the list ends with the last.
TEST(PlayerContinuous, RowsOfOneFormatReachTheDeviceAsOneStreamOnBothEngines) {
  REQUIRE_TOOL("sox");
  LIRVO_REQUIRE_PULSE();
  for (TEngine engine : {TEngine::Shared, TEngine::Direct}) {
    SCOPED_TRACE(EngineName(engine));
    TAlbumRig album(std::string("album_") + (engine == TEngine::Direct ? "direct" : "shared"),
                    engine);
    TPlayerRig& rig = *album.Rig;
    // Lengths that end inside blocks and periods.
    const std::string a = rig.Tone("a.flac", 0.731, 440);
    const std::string b = rig.Tone("b.flac", 0.419, 550);
    const std::string c = rig.Tone("c.flac", 0.887, 660);
    // An image of 3 s with tracks at CD frames 0, 80 and 161.
    const std::string image = rig.Tone("image.flac", 3.0, 330);
    WriteText(rig.Dir + "/image.cue",
              "TITLE \"Image\"\nFILE \"image.flac\" WAVE\n"
              "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
              "  TRACK 02 AUDIO\n    INDEX 01 00:01:05\n"
              "  TRACK 03 AUDIO\n    INDEX 01 00:02:11\n");
    const std::string cue = rig.Dir + "/image.cue";
    const std::vector<uint8_t> pa = DecodedBytes(a), pb = DecodedBytes(b), pc = DecodedBytes(c),
                               pimage = DecodedBytes(image);
    const size_t track3 = (2 * 75 + 11) * 588 * 4;

    struct Case {
      const char* Name;
      std::vector<std::pair<std::string, int>> Rows;  // file, CUE track (0: none)
      std::vector<uint8_t> Expected;
    };
    const Case cases[] = {
        {"three files", {{a, 0}, {b, 0}, {c, 0}}, Concat({pa, pb, pc})},
        {"a CUE image's tracks", {{cue, 1}, {cue, 2}, {cue, 3}}, pimage},
        {"a CUE track, then a file",
         {{cue, 3}, {b, 0}},
         Concat({std::vector<uint8_t>(pimage.begin() + track3, pimage.end()), pb})},
    };
    for (const Case& k : cases) {
      SCOPED_TRACE(k.Name);
      rig.Ctl->StopAudioOut();
      rig.Table.Clear();
      rig.Host.Messages.clear();
      rig.Host.TracksDone = 0;
      std::vector<std::string> titles;
      for (size_t i = 0; i < k.Rows.size(); ++i) {
        titles.push_back("T" + std::to_string(i + 1));
        rig.AddRow(k.Rows[i].first, titles.back(),
                   k.Rows[i].second ? std::optional<int32_t>(k.Rows[i].second) : std::nullopt);
      }
      rig.Table.SetCurrentRow(0);
      rig.Ctl->miPlayClick();
      ASSERT_TRUE(rig.WaitForMessage(kNothingToPlay, false, 30s));
      EXPECT_EQ(rig.Host.Started(), titles);
      EXPECT_EQ(rig.Host.TracksDone, static_cast<int>(titles.size()));
      EXPECT_EQ(rig.Table.CurrentRow(), static_cast<int>(titles.size()) - 1);
      EXPECT_TRUE(album.Received(k.Expected));
      if (engine == TEngine::Direct) {
        const TPacedCardStats stats = ReadPacedCardStats(album.Card);
        EXPECT_EQ(stats.Starts, 1) << "the card was started once for the whole list";
        EXPECT_EQ(rig.Pipeline->Components().ASIO->ExceptionMessage(), "");
      }
    }
  }
}

// The window's state moves to the next row when its first frames reach the
// device, not when it is opened or decoded: while the first track is heard
// the status names it, though the next one is already prepared.
TEST(PlayerContinuous, TheStatusAndTheCursorMoveWhenTheNextTrackIsHeard) {
  REQUIRE_TOOL("sox");
  LIRVO_REQUIRE_PULSE();
  TPlayerRig rig("album_heard", /*Paced=*/true);
  rig.AddRow(rig.Tone("a.wav", 1.5, 440), "A");
  rig.AddRow(rig.Tone("b.wav", 1.5, 550), "B");
  rig.Table.SetCurrentRow(0);
  const auto t0 = std::chrono::steady_clock::now();
  rig.Ctl->miPlayClick();
  // Half-way through A: B is prepared (the queue holds it), A is shown.
  PumpFor(700ms);
  EXPECT_EQ(rig.Host.Started(), (std::vector<std::string>{"A"}));
  EXPECT_EQ(rig.Table.CurrentRow(), 0);
  ASSERT_TRUE(PumpUntil([&] { return rig.Host.Started().size() == 2; }, 10s));
  const double heard = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  // A lasts 1.5 s at the device; the server's start adds its latency.
  EXPECT_GE(heard, 1.3) << "B was announced before A had played";
  EXPECT_EQ(rig.Table.CurrentRow(), 1);
  EXPECT_EQ(rig.Host.TracksDone, 1);
  ASSERT_TRUE(rig.WaitForMessage(kNothingToPlay, false, 20s));
}

// Stop, next and a new row chosen while the next track is prepared: nothing
// of the prepared track is heard.
TEST(PlayerContinuous, StoppingOrChoosingAnotherRowWhileTheNextIsPreparedPlaysNoneOfIt) {
  REQUIRE_TOOL("sox");
  LIRVO_REQUIRE_PULSE();
  TPlayerRig rig("album_stop", /*Paced=*/true);
  const std::string a = rig.Tone("a.wav", 1.0, 440);
  const std::string b = rig.Tone("b.wav", 1.0, 550);
  const std::string c = rig.Tone("c.wav", 0.3, 660);
  rig.AddRow(a, "A");
  rig.AddRow(b, "B");
  rig.AddRow(c, "C");
  const std::vector<uint8_t> pa = DecodedBytes(a), pb = DecodedBytes(b), pc = DecodedBytes(c);
  auto contains = [](const std::vector<uint8_t>& Hay, const std::vector<uint8_t>& Needle) {
    // The needle's first 64 frames: enough to tell the tones apart.
    const size_t n = std::min<size_t>(256, Needle.size());
    return std::search(Hay.begin(), Hay.end(), Needle.begin(), Needle.begin() + n) != Hay.end();
  };

  // Stop while B is prepared.
  rig.Table.SetCurrentRow(0);
  rig.Ctl->miPlayClick();
  PumpFor(500ms);
  rig.Ctl->miStopClick();
  PumpFor(300ms);
  std::vector<uint8_t> cap = ReadFileBytes(rig.CapturePath);
  EXPECT_TRUE(contains(cap, pa));
  EXPECT_FALSE(contains(cap, pb)) << "the prepared track was heard after the stop";
  EXPECT_EQ(rig.Host.Started(), (std::vector<std::string>{"A"}));

  // A double-click on C while B is prepared: C follows A, not B.
  rig.Host.Messages.clear();
  rig.Table.SetCurrentRow(0);
  rig.Ctl->miPlayClick();
  PumpFor(500ms);
  rig.Table.SetCurrentRow(2);
  rig.Ctl->miPlayClick();
  ASSERT_TRUE(rig.WaitForMessage(kNothingToPlay, false, 20s));
  cap = ReadFileBytes(rig.CapturePath);
  EXPECT_TRUE(IsDataThenSilence(cap, pc, 0, 44100 * 4)) << "C's run holds C alone";
  EXPECT_EQ(rig.Host.Started(), (std::vector<std::string>{"A", "C"}));
}

// Another rate needs the device opened anew: the first run ends after its
// track and the next starts at the new rate; both arrive whole. The gap is
// the device's own start.
TEST(PlayerContinuous, AnotherRateEndsTheRunAndStartsTheNextAtItsRate) {
  REQUIRE_TOOL("sox");
  LIRVO_REQUIRE_PULSE();
  const std::string dir = ScratchDir("album_rates");
  TPlayerPipelineOptions options;
  // One capture per rate: ALSA's file plugin names them by the stream's rate.
  options.DSoundDevices =
      std::vector<TDsDeviceEntry>{{"Capture", "lirvocap",
                                   "pcm.lirvocap { type file slave.pcm { type pulse } file \"" +
                                       dir + "/cap-%r.raw\" format \"raw\" }"}};
  options.WithASIO = false;
  TPlayerPipeline pipeline(options);
  TPlaylistTable table;
  TTestHost host;
  TPlaybackController ctl(table, pipeline.Components(), host);
  const std::string a = MakeTone(dir + "/a.flac", 0.6, 440, 44100);
  const std::string b = MakeTone(dir + "/b.flac", 0.6, 550, 48000);
  for (const auto& [file, title] : {std::pair{a, "A"}, std::pair{b, "B"}}) {
    PlaylistRecord r;
    r.ID = static_cast<int32_t>(table.NextAudioID());
    r.Filename = file;
    r.Title = title;
    table.Append(r);
  }
  table.SetCurrentRow(0);
  const auto t0 = std::chrono::steady_clock::now();
  ctl.miPlayClick();
  ASSERT_TRUE(PumpUntil([&] { return host.Shown(kNothingToPlay, false); }, 20s));
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_EQ(host.Started(), (std::vector<std::string>{"A", "B"}));
  EXPECT_TRUE(
      IsDataThenSilence(ReadFileBytes(dir + "/cap-44100.raw"), DecodedBytes(a), 0, 44100 * 4));
  EXPECT_TRUE(
      IsDataThenSilence(ReadFileBytes(dir + "/cap-48000.raw"), DecodedBytes(b), 0, 48000 * 4));
  // For the record: the wall time beyond the two tracks' 1.2 s.
  RecordProperty("extra_ms", static_cast<int>((wall - 1.2) * 1000));
  std::printf(
      "[ rate change ] two 0.6 s tracks at 44.1 and 48 kHz took %.0f ms beyond their length\n",
      (wall - 1.2) * 1000);
  ctl.StopAudioOut();
}

// The row that followed is deleted while the next track is prepared (more
// than the lead before the end): the row that follows now is played next.
TEST(PlayerContinuous, DeletingTheRowThatFollowsPreparesTheOneAfterIt) {
  REQUIRE_TOOL("sox");
  LIRVO_REQUIRE_PULSE();
  TPlayerRig rig("album_edit", /*Paced=*/true);
  // More than the lead ahead of the end: the next track is not yet read.
  const std::string a = rig.Tone("a.wav", 6.5, 440);
  const std::string b = rig.Tone("b.wav", 0.3, 550);
  const std::string c = rig.Tone("c.wav", 0.3, 660);
  rig.AddRow(a, "A");
  rig.AddRow(b, "B");
  rig.AddRow(c, "C");
  rig.Table.SetCurrentRow(0);
  rig.Ctl->miPlayClick();
  PumpFor(500ms);
  rig.Table.Delete(1);
  rig.Ctl->PlaylistChanged();
  ASSERT_TRUE(rig.WaitForMessage(kNothingToPlay, false, 30s));
  EXPECT_EQ(rig.Host.Started(), (std::vector<std::string>{"A", "C"}));
  EXPECT_TRUE(IsDataThenSilence(ReadFileBytes(rig.CapturePath),
                                Concat({DecodedBytes(a), DecodedBytes(c)}), 0, 44100 * 4));
}
