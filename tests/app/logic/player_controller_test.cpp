// The playback controller driving the player's real pipeline from a real
// playlist table into capture devices: which row plays when, what the status
// line says, and what reaches the device.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/decoders/AudioWave.h"
#include "audio/outputs/AuASIO.h"
#include "audio/outputs/DSAudioOut.h"
#include "audio/outputs/drivers/AlsaDirect.h"
#include "audio/processors/AudioCache.h"
#include "audio/processors/AudioConverters.h"
#include "audio/processors/AudioMisc.h"
#include "audio/processors/TrackQueue.h"
#include "common/TestFiles.h"
#include "tests/app/logic/PlayerTestSupport.h"
#include "tests/audio/outputs/AsioTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;
using namespace std::chrono_literals;

namespace {

bool AllIdle(const TPlayerRig& Rig) {
  const TPlayerComponents& c = Rig.Pipeline->Components();
  return c.DSound->Status() == tosIdle && (!c.ASIO || c.ASIO->Status() == tosIdle);
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& V, size_t From, size_t Count) {
  return std::vector<uint8_t>(V.begin() + From, V.begin() + From + Count);
}

}  // namespace

TEST(PlayerCommands, PlayOnAnEmptyListShowsTheMessageInRedAndStartsNothing) {
  TPlayerRig rig("player_empty");
  rig.Ctl->miPlayClick();
  ASSERT_EQ(rig.Host.Messages.size(), 1u);
  EXPECT_EQ(rig.Host.Messages[0].Text, kNothingToPlay);
  EXPECT_TRUE(rig.Host.Messages[0].Error);
  EXPECT_EQ(rig.Ctl->FAudioOut, nullptr);
  EXPECT_TRUE(AllIdle(rig));
}

// Three rows of one sample format in two file formats play one after the
// other as one stream: the device receives exactly their samples, nothing
// between them; after the last one the player stops with the message in the
// normal colour.
TEST(PlayerSequence, EndOfTrackStartsTheNextRowAndAfterTheLastStopsWithANormalMessage) {
  REQUIRE_TOOL("sox");
  TPlayerRig rig("player_sequence");
  const std::string first = rig.Tone("a.wav", 0.2, 440);
  const std::string second = rig.Tone("b.flac", 0.2, 550);
  rig.AddRow(first, "A");
  rig.AddRow(second, "B");
  const std::string last = rig.Tone("c.wav", 0.3, 660);
  const int32_t lastId = rig.AddRow(last, "C");
  rig.Table.SetCurrentRow(0);

  rig.Ctl->miPlayClick();
  ASSERT_TRUE(rig.WaitForMessage(kNothingToPlay)) << "the list did not play to its end";
  EXPECT_FALSE(rig.Host.Shown(kNothingToPlay, true));
  EXPECT_EQ(rig.Host.Started(), (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(rig.Host.TracksDone, 3);
  EXPECT_EQ(rig.Ctl->FCurrentID, lastId);
  EXPECT_EQ(rig.Table.CurrentRow(), 2);
  EXPECT_FALSE(rig.Ctl->FHavePlayError);
  EXPECT_TRUE(AllIdle(rig));
  ASSERT_FALSE(rig.Host.Progress.empty());
  EXPECT_EQ(rig.Host.Progress.back(), 0) << "the end of a track resets the progress bar";
  EXPECT_EQ(rig.Host.GridUpdateDepth, 0);
  std::vector<uint8_t> all = DecodedBytes(first);
  for (const std::string& f : {second, last}) {
    const std::vector<uint8_t> pcm = DecodedBytes(f);
    all.insert(all.end(), pcm.begin(), pcm.end());
  }
  EXPECT_TRUE(IsDataThenSilence(ReadFileBytes(rig.CapturePath), all, 0, 17640 * 20));
}

TEST(PlayerSequence, SortedByTitleTheEndOfATrackPlaysTheNextTitle) {
  REQUIRE_TOOL("sox");
  TPlayerRig rig("player_sorted");
  rig.AddRow(rig.Tone("c.wav", 0.1, 440), "C");
  rig.AddRow(rig.Tone("a.wav", 0.1, 550), "A");
  rig.AddRow(rig.Tone("b.wav", 0.1, 660), "B");
  rig.Table.SetIndex(PlaylistIndexForField(pfTitle));
  rig.Table.SetCurrentRow(0);

  rig.Ctl->miPlayClick();
  ASSERT_TRUE(rig.WaitForMessage(kNothingToPlay));
  EXPECT_EQ(rig.Host.Started(), (std::vector<std::string>{"A", "B", "C"}));
}

TEST(PlayerSequence, NextBeforeAnythingPlayedStartsTheRowAfterTheSelectedOne) {
  REQUIRE_TOOL("sox");
  TPlayerRig rig("player_next_first");
  rig.AddRow(rig.Tone("a.wav", 0.1, 440), "A");
  rig.AddRow(rig.Tone("b.wav", 0.1, 550), "B");
  rig.AddRow(rig.Tone("c.wav", 0.1, 660), "C");
  rig.Table.SetCurrentRow(0);
  rig.Ctl->miNextClick();
  ASSERT_EQ(rig.Host.Started(), (std::vector<std::string>{"B"}));
  EXPECT_EQ(rig.Ctl->FCurrentID, rig.Table.Row(1).ID);
}

// The playing row is gone, so "next" cannot find it and moves on from the
// cursor's row (the row after the deleted one).
TEST(PlayerSequence, DeletingThePlayingRowThenNextPlaysTheRowAfterTheCursor) {
  REQUIRE_TOOL("sox");
  TPlayerRig rig("player_delete");
  for (const char* t : {"A", "B", "C", "D"})
    rig.AddRow(rig.Tone(std::string(t) + ".wav", 0.1, 440), t);
  rig.Table.SetCurrentRow(1);
  rig.Ctl->miPlayClick();
  rig.Table.Delete(1);  // the cursor moves to C
  rig.Ctl->miNextClick();
  EXPECT_EQ(rig.Host.Started(), (std::vector<std::string>{"B", "D"}));
}

// A track ends and its end-of-track event is on its way to the UI thread
// when the user starts another row. That late event must not advance the
// playlist past the new track.
TEST(PlayerSequence, EndOfTrackDeliveredAfterAnotherRowStartedDoesNotCutItShort) {
  REQUIRE_TOOL("sox");
  LIRVO_REQUIRE_PULSE();
  TPlayerRig rig("player_late_done", /*Paced=*/true);
  // Another rate: A's run ends before B (which would otherwise follow it in
  // the same run).
  rig.AddRow(rig.Tone("a.wav", 0.1, 440, 48000), "A");
  rig.AddRow(rig.Tone("b.wav", 3.0, 550), "B");
  rig.AddRow(rig.Tone("c.wav", 0.1, 660), "C");
  rig.Table.SetCurrentRow(0);
  rig.Ctl->miPlayClick();
  // Serve A's progress events until A's run is over, then stop serving, so
  // that the end of A waits on the UI thread's queue.
  TAuOutput* ds = rig.Pipeline->Components().DSound;
  const auto deadline = std::chrono::steady_clock::now() + 15s;
  while (ds->Status() != tosIdle && std::chrono::steady_clock::now() < deadline) {
    CheckSynchronize(0ms);
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_EQ(ds->Status(), tosIdle);
  std::this_thread::sleep_for(100ms);
  ASSERT_EQ(rig.Host.TracksDone, 0);

  rig.Table.SetCurrentRow(1);
  rig.Ctl->miPlayClick();
  PumpFor(600ms);
  EXPECT_EQ(ds->Status(), tosPlaying);
  EXPECT_EQ(rig.Host.Started(), (std::vector<std::string>{"A", "B"}));
  rig.Ctl->miStopClick();
}

// Pause and resume act on the playing output; "play" while paused starts the
// current row again from its first frame. The filter box keeps Enter and
// Space for itself.
TEST(PlayerCommands, PauseResumeAndPlayWhilePausedRestartsTheRowFromItsStart) {
  REQUIRE_TOOL("sox");
  LIRVO_REQUIRE_PULSE();
  TPlayerRig rig("player_pause", /*Paced=*/true);
  const std::string file = rig.Tone("a.wav", 4.0, 440);
  rig.AddRow(file, "A");
  TAuOutput* ds = rig.Pipeline->Components().DSound;
  const std::string info = "A / Artist A / Album";

  rig.Host.FilterFocus = true;
  rig.Ctl->miPlayClick();
  EXPECT_EQ(rig.Host.FiltersApplied, 1);
  EXPECT_TRUE(rig.Host.Messages.empty());
  EXPECT_EQ(ds->Status(), tosIdle);
  rig.Host.FilterFocus = false;

  rig.Ctl->miPlayClick();
  PumpFor(400ms);
  ASSERT_EQ(ds->Status(), tosPlaying);
  rig.Host.FilterFocus = true;
  rig.Ctl->miPauseClick();
  EXPECT_EQ(ds->Status(), tosPlaying) << "space typed into the filter box paused playback";
  rig.Host.FilterFocus = false;

  rig.Ctl->miPauseClick();
  EXPECT_EQ(ds->Status(), tosPaused);
  EXPECT_EQ(rig.Host.Messages.back().Text, "暂停播放：" + info);
  rig.Ctl->miPauseClick();
  EXPECT_EQ(ds->Status(), tosPlaying);
  EXPECT_EQ(rig.Host.Messages.back().Text, kPlayingPrefix + info);
  PumpFor(300ms);
  rig.Ctl->miPauseClick();
  ASSERT_EQ(ds->Status(), tosPaused);

  rig.Ctl->miPlayClick();
  EXPECT_EQ(ds->Status(), tosPlaying);
  EXPECT_EQ(rig.Host.Messages.back().Text, kPlayingPrefix + info);
  PumpFor(500ms);
  rig.Ctl->miStopClick();
  EXPECT_EQ(ds->Status(), tosIdle);
  EXPECT_EQ(rig.Host.Messages.back().Text, "播放停止");
  EXPECT_FALSE(rig.Host.Messages.back().Error);
  EXPECT_EQ(rig.Host.Progress.back(), 0);
  PumpFor(100ms);
  EXPECT_EQ(rig.Host.TracksDone, 0) << "a stop must not count as the end of a track";

  // The capture holds the restarted run only: the file from its first frame.
  const std::vector<uint8_t> cap = ReadFileBytes(rig.CapturePath);
  const std::vector<uint8_t> pcm = DecodedBytes(file);
  // (The capture device truncates its file when a run opens it.)
  const size_t check = std::min<size_t>(cap.size(), 44100 / 4 * 4);
  ASSERT_GE(check, 4096u) << "too little reached the device after the restart";
  EXPECT_EQ(Slice(cap, 0, check), Slice(pcm, 0, check));
}

struct TBadRow {
  const char* Name;
  const char* File;  // in the rig's folder
  std::optional<int32_t> Track;
  const char* Message;  // nullptr: no message at all
};

// Rows that cannot be played: each gets its message in red (or silently
// nothing for a vanished file), and nothing starts.
TEST(PlayerRowErrors, EachUnplayableRowShowsItsMessageAndStartsNothing) {
  REQUIRE_TOOL("sox");
  TPlayerRig rig("player_bad_rows");
  const std::string d = rig.Dir + "/";
  rig.Tone("album.wav", 3.0, 440);
  const std::string sheet =
      "FILE \"album.wav\" WAVE\n"
      "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
      "  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n"
      "  TRACK 03 AUDIO\n    INDEX 01 00:02:00\n";
  WriteText(d + "album.cue", sheet);
  WriteText(d + "orphan.cue", "FILE \"gone.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  WriteText(d + "nested.cue", "FILE \"album.cue\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  WriteText(d + "tune.ogg", "not audio");

  const TBadRow rows[] = {
      {"file deleted after loading", "deleted.wav", std::nullopt, nullptr},
      {"unknown extension", "tune.ogg", std::nullopt, "打开文件失败，未知音频格式"},
      {"CUE track 0", "album.cue", 0, "CUE索引无效，播放失败"},
      {"CUE row without a track", "album.cue", std::nullopt, "CUE索引无效，播放失败"},
      {"audio file behind the sheet missing", "orphan.cue", 1, "要播放的文件不存在"},
      {"sheet behind a sheet", "nested.cue", 1, "打开文件失败，未知音频格式"},
      {"track beyond the sheet", "album.cue", 4, "Item index out of bounds"},
      {"track number past the splitter's range", "album.cue", 257, "Item index out of bounds"},
  };
  for (const TBadRow& c : rows) {
    SCOPED_TRACE(c.Name);
    rig.Table.Clear();
    rig.Host.Messages = {{"earlier text", false}};
    rig.Ctl->FCurrentID = 12345;
    rig.AddRow(d + c.File, "X", c.Track);
    rig.Ctl->miPlayClick();
    if (c.Message) {
      ASSERT_EQ(rig.Host.Messages.size(), 2u);
      EXPECT_EQ(rig.Host.Messages.back().Text, c.Message);
      EXPECT_TRUE(rig.Host.Messages.back().Error);
    } else {
      EXPECT_EQ(rig.Host.Messages.size(), 1u) << "the earlier status text must stay";
      EXPECT_EQ(rig.Ctl->FCurrentID, 12345);
    }
    EXPECT_TRUE(AllIdle(rig));
    EXPECT_TRUE(rig.Host.Started().empty());
  }
}

TEST(PlayerCue, ACueRowPlaysExactlyItsTrackThenStops) {
  REQUIRE_TOOL("sox");
  TPlayerRig rig("player_cue");
  const std::string wav = rig.Tone("album.wav", 3.0, 440);
  WriteText(rig.Dir + "/album.cue",
            "TITLE \"Album\"\nFILE \"album.wav\" WAVE\n"
            "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n"
            "  TRACK 03 AUDIO\n    INDEX 01 00:02:00\n");
  rig.AddRow(rig.Dir + "/album.cue", "Two", 2);
  rig.Ctl->miPlayClick();
  ASSERT_TRUE(rig.WaitForMessage(kNothingToPlay));
  EXPECT_EQ(rig.Host.Started(), (std::vector<std::string>{"Two"}));
  const std::vector<uint8_t> pcm = DecodedBytes(wav);
  const size_t second = 44100 * 4;
  ASSERT_GE(pcm.size(), 3 * second);
  // Exactly the second second: the track ends on the frame before track 3's
  // first.
  EXPECT_TRUE(
      IsDataThenSilence(ReadFileBytes(rig.CapturePath), Slice(pcm, second, second), 0, 17640 * 20));
  EXPECT_EQ(rig.Pipeline->Components().CUE->Input(), rig.Pipeline->Components().WAV);
}

// The direct engine reaches its driver through the converter (32-bit
// stereo); the shared engine gets the decoder's own samples.
TEST(PlayerEngines, DirectEngineChainRunsThroughTheConverterAndTheSharedOneDoesNot) {
  REQUIRE_TOOL("sox");
  const std::string dir = ScratchDir("player_engines");
  const std::string card = dir + "/card.raw";
  const TAudioEnvironment env = PacedCardEnvironment("lirvo_player_card", card);
  {
    TPlayerRig rig("player_engines_rig", false, /*WithASIO=*/true, env);
    const TPlayerComponents& c = rig.Pipeline->Components();
    const std::string file = rig.Tone("a.wav", 0.5, 440);
    rig.AddRow(file, "A");

    rig.Ctl->FAudioEngine = aeASIO;
    rig.Ctl->miPlayClick();
    EXPECT_EQ(rig.Ctl->FAudioOut, c.ASIO);
    EXPECT_EQ(c.ASIO->Input(), c.Cache);
    EXPECT_EQ(c.Cache->Input(), c.Queue);
    EXPECT_EQ(c.Queue->Input(), c.BPS);
    EXPECT_EQ(c.BPS->Input(), c.WAV);
    EXPECT_EQ(rig.Host.TimerCalls, (std::vector<std::pair<uint32_t, bool>>{{9000, true}}));
    ASSERT_TRUE(rig.WaitForMessage(kNothingToPlay, false, 60s));
    EXPECT_EQ(c.ASIO->ExceptionMessage(), "");
    EXPECT_EQ(c.ASIO->Shortfalls(), 0u);
    EXPECT_EQ(ReadPacedCardStats(card).Xruns, 0);

    // 16-bit samples widened to 32 bits, exactly.
    const std::vector<uint8_t> pcm = DecodedBytes(file);
    std::vector<int32_t> wide(pcm.size() / 2);
    for (size_t i = 0; i < wide.size(); ++i) {
      int16_t s;
      std::memcpy(&s, pcm.data() + 2 * i, 2);
      wide[i] = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(s)) << 16);
    }
    EXPECT_TRUE(ExactThenSilence(ReadFileBytes(card), Bytes32(wide)));

    rig.Ctl->FAudioEngine = aeDSound;
    rig.Table.SetCurrentRow(0);
    rig.Ctl->miPlayClick();
    EXPECT_EQ(rig.Ctl->FAudioOut, c.DSound);
    EXPECT_EQ(c.DSound->Input(), c.Cache);
    EXPECT_EQ(c.Cache->Input(), c.Queue);
    EXPECT_EQ(c.Queue->Input(), c.WAV);
    ASSERT_TRUE(PumpUntil([&] { return rig.Host.TracksDone == 2; }, 20s));
    EXPECT_EQ(rig.Host.TimerCalls.size(), 1u);
    EXPECT_TRUE(IsDataThenSilence(ReadFileBytes(rig.CapturePath), pcm, 0, 17640 * 20));
  }
}

// A failing device must stop the list at the failed row and say why, not
// run silently through every following row.
TEST(PlayerEvents, ErrorOnThePlaybackThreadStopsTheListAndShowsTheErrorInRed) {
  REQUIRE_TOOL("sox");
  TPlayerRig rig("player_thread_error");
  rig.AddRow(rig.Tone("a.wav", 0.1, 440), "A");
  rig.AddRow(rig.Tone("b.wav", 0.1, 550), "B");
  rig.Table.SetCurrentRow(0);
  rig.Pipeline->Components().DSound->SetDeviceNumber(5);
  rig.Ctl->miPlayClick();
  ASSERT_TRUE(rig.WaitForMessage("Invalid device number", true));
  PumpFor(300ms);
  EXPECT_TRUE(rig.Ctl->FHavePlayError);
  EXPECT_EQ(rig.Host.Started(), (std::vector<std::string>{"A"})) << "the list moved on";
  EXPECT_FALSE(rig.Host.Shown(kNothingToPlay, false));
  EXPECT_EQ(rig.Table.CurrentRow(), 0);
  EXPECT_TRUE(AllIdle(rig));
  ASSERT_FALSE(rig.Host.Messages.empty());
  EXPECT_TRUE(rig.Host.Messages.back().Error) << "the error must stay on the status line";

  // The next start is a new run: a working device plays on as usual.
  rig.Pipeline->Components().DSound->SetDeviceNumber(0);
  rig.Ctl->miPlayClick();
  EXPECT_FALSE(rig.Ctl->FHavePlayError);
  ASSERT_TRUE(rig.WaitForMessage(kNothingToPlay));
  EXPECT_FALSE(rig.Ctl->FHavePlayError);
  EXPECT_EQ(rig.Host.Started(), (std::vector<std::string>{"A", "A", "B"}));
}
