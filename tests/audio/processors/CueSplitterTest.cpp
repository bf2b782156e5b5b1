// The splitter as a component over a trivial raw decoder: the window each
// track sets, the bytes it passes through, its properties and its errors.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/core/AuException.h"
#include "audio/processors/AudioMisc.h"
#include "common/RawFileIn.h"
#include "common/TestFiles.h"
#include "common/TestPaths.h"
#include "common/TestSource.h"

using namespace lirvo;
using namespace lirvo::test;

namespace {

constexpr int kFrame = 4;            // stereo 16-bit
constexpr int64_t kFrames = 154350;  // 3.5 s at 44100 Hz

const char* kThreeTracks =
    "PERFORMER \"Album Artist\"\n"
    "TITLE \"The Album\"\n"
    "GENRE Classical\n"
    "DATE 2003\n"
    "FILE \"image.raw\" WAVE\n"
    "TRACK 01 AUDIO\n  TITLE One\n  INDEX 01 00:00:00\n"
    "TRACK 02 AUDIO\n  TITLE \"Track Two\"\n  PERFORMER Guest\n  INDEX 01 00:01:00\n"
    "TRACK 03 AUDIO\n  TITLE Three\n  INDEX 01 00:02:00\n";

class CueSplitterTest : public ::testing::Test {
 protected:
  std::string dir = ScratchDir("cue_splitter");
  std::string image = dir + "/image.raw";
  std::string cue = dir + "/album.cue";
  std::vector<uint8_t> pcm;  // the image's PCM
  TRawIn in;
  TCueSplitter cs;

  void SetUp() override {
    WriteRawFile(image, 2, 16, 44100, kFrames);
    std::ifstream f(image, std::ios::binary);
    pcm.assign(std::istreambuf_iterator<char>(f), {});
    pcm.erase(pcm.begin(), pcm.begin() + 12);
    in.BlockFrames = 4096;
    in.SetFileName(image);
    WriteText(cue, kThreeTracks);
    cs.SetCueFile(cue);
    cs.SetInput(&in);
  }

  std::vector<uint8_t> Frames(int64_t First, int64_t Last) {
    return {pcm.begin() + First * kFrame, pcm.begin() + (Last + 1) * kFrame};
  }
};

TEST_F(CueSplitterTest, TrackFromOneToTwoSecondsIsThatSecondsFrames) {
  cs.SetCurrentItem(1);
  cs.Init();
  EXPECT_EQ(in.StartSample(), 44100);
  EXPECT_EQ(in.EndSample(), 88199) << "the last frame before the next track's first";
  EXPECT_EQ(cs.Size(), 44100 * kFrame);
  const std::vector<uint8_t> got = ReadAll(cs, 7777 * kFrame);
  cs.Flush();
  EXPECT_TRUE(got == Frames(44100, 88199)) << "got " << got.size() / kFrame << " frames";
  EXPECT_EQ(in.StartSample(), 0) << "Flush clears the input's window";
  EXPECT_EQ(in.EndSample(), -1);
}

TEST_F(CueSplitterTest, LastTrackRunsToTheImagesEnd) {
  cs.SetCurrentItem(2);
  cs.Init();
  EXPECT_EQ(in.StartSample(), 88200);
  EXPECT_EQ(in.EndSample(), -1);
  EXPECT_EQ(cs.Size(), (kFrames - 88200) * kFrame);
  const std::vector<uint8_t> got = ReadAll(cs, 10000);
  cs.Flush();
  EXPECT_TRUE(got == Frames(88200, kFrames - 1)) << "got " << got.size() / kFrame << " frames";
}

TEST_F(CueSplitterTest, TracksPlayedInTurnGiveBackTheImage) {
  std::vector<uint8_t> all;
  for (uint8_t i = 0; i < cs.ItemsCount(); ++i) {
    cs.SetCurrentItem(i);
    cs.Init();
    const int64_t size = cs.Size();
    std::vector<uint8_t> got = ReadAll(cs, 10000);
    cs.Flush();
    EXPECT_EQ(static_cast<int64_t>(got.size()), size) << "track " << int(i);
    all.insert(all.end(), got.begin(), got.end());
  }
  EXPECT_EQ(all.size(), pcm.size());
  EXPECT_TRUE(all == pcm) << "nothing lost or played twice at a boundary";
}

TEST_F(CueSplitterTest, PropertiesFollowTheCurrentTrack) {
  EXPECT_EQ(cs.ItemsCount(), 3);
  EXPECT_EQ(cs.Album(), "The Album");
  EXPECT_EQ(cs.Year(), "2003");
  EXPECT_EQ(cs.Genre(), "Classical");
  EXPECT_EQ(cs.Title(), "One");
  EXPECT_EQ(cs.Performer(), "Album Artist");
  EXPECT_EQ(cs.Time(), 1u);
  cs.SetCurrentItem(1);
  EXPECT_EQ(cs.Title(), "Track Two");
  EXPECT_EQ(cs.Performer(), "Guest");
  cs.SetCurrentItem(2);
  EXPECT_EQ(cs.Time(), 1u) << "(3 s of whole seconds * 1000 - 2000) div 1000";
  cs.SetInput(nullptr);
  EXPECT_EQ(cs.Time(), 0u) << "a last track without an input has no length";
}

TEST_F(CueSplitterTest, PregapTrackLastsWholeSecondsToItsPregap) {
  WriteText(cue,
            "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 00 03:58:20\n"
            "INDEX 01 04:00:00\n");
  cs.SetCueFile(cue);
  EXPECT_EQ(cs.Time(), 238u);
  EXPECT_EQ(cs.Items()[0].EndIndex, 238267u);
  EXPECT_EQ(cs.Items()[0].EndFrame, (3 * 60 + 58) * 75 + 20u);
  cs.SetCurrentItem(1);
  EXPECT_EQ(cs.Time(), 0u) << "a track starting after the image's end is empty, not 4 billion s";
}

TEST_F(CueSplitterTest, SettingTheSheetForgetsTheOldOneAndSelectsTrackOne) {
  cs.SetCurrentItem(2);
  WriteText(dir + "/other.cue", "TITLE Other\nTRACK 01\nTITLE Solo\n");
  cs.SetCueFile(dir + "/other.cue");
  EXPECT_EQ(cs.CurrentItem(), 0);
  EXPECT_EQ(cs.ItemsCount(), 1);
  EXPECT_EQ(cs.Title(), "Solo");
}

TEST_F(CueSplitterTest, SheetIsReadOnceUnlessItHadNoTrack) {
  WriteText(cue, "TITLE x\n");
  cs.SetCueFile(cue);
  EXPECT_EQ(cs.ItemsCount(), 0);
  WriteText(cue, kThreeTracks);
  EXPECT_EQ(cs.ItemsCount(), 3) << "a sheet without tracks is read again";
  WriteText(cue, "TRACK 01\n");
  EXPECT_EQ(cs.ItemsCount(), 3) << "tracks once read are kept";
  EXPECT_EQ(cs.Album(), "The Album");
}

TEST_F(CueSplitterTest, ItemIndexIsCheckedAgainstTheTracks) {
  EXPECT_THROW(cs.SetCurrentItem(3), EAuException);
  EXPECT_EQ(cs.CurrentItem(), 0);
  WriteText(cue, "TITLE no tracks\n");
  cs.SetCueFile(cue);
  EXPECT_NO_THROW(cs.SetCurrentItem(0)) << "0 is accepted on a sheet without tracks";
  try {
    cs.SetCurrentItem(1);
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "Item index out of bounds");
  }
}

TEST_F(CueSplitterTest, MissingSheetNameAndUnreadableSheetRaise) {
  TCueSplitter other;
  try {
    other.ItemsCount();
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "Cue-file not set");
  }
  other.SetCueFile(dir + "/missing.cue");
  try {
    other.Title();
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_NE(std::string(e.what()).find("No such file or directory"), std::string::npos);
  }
}

TEST_F(CueSplitterTest, MalformedIndexRaisesOnEveryUseAndKeepsNothing) {
  WriteText(cue, "TITLE x\nTRACK 01\nINDEX 01 00:00:00\nTRACK 02\nINDEX 01\n");
  cs.SetCueFile(cue);
  EXPECT_THROW(cs.ItemsCount(), EAuException);
  EXPECT_THROW(cs.Album(), EAuException) << "the half-read sheet was not kept";
  try {
    cs.Init();
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_NE(std::string(e.what()).find("Line 5"), std::string::npos) << e.what();
  }
  cs.Reset();
}

TEST_F(CueSplitterTest, InitNeedsAFileInput) {
  TCueSplitter noInput;
  noInput.SetCueFile(cue);
  try {
    noInput.Init();
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "Input is not assigned.");
  }
  TTestSource source;
  TCueSplitter wrong;
  wrong.SetCueFile(cue);
  wrong.SetInput(&source);
  EXPECT_THROW(wrong.Init(), EAuException);
  EXPECT_EQ(source.InitCount, 0);
  wrong.Reset();
  noInput.Reset();
}

TEST_F(CueSplitterTest, TrackWhoseNextTrackHasNoIndexRunsToTheEnd) {
  WriteText(cue, "TRACK 01\nINDEX 01 00:03:00\nTRACK 02\nTITLE no index\n");
  cs.SetCueFile(cue);
  cs.Init();
  EXPECT_EQ(in.EndSample(), -1);
  const std::vector<uint8_t> got = ReadAll(cs, 10000);
  cs.Flush();
  EXPECT_TRUE(got == Frames(3 * 44100, kFrames - 1));
}

TEST_F(CueSplitterTest, TrackEndingBeforeItStartsDeliversNothing) {
  // Track 2's pregap lies before track 1's start.
  WriteText(cue, "TRACK 01\nINDEX 01 00:02:00\nTRACK 02\nINDEX 00 00:01:00\nINDEX 01 00:03:00\n");
  cs.SetCueFile(cue);
  EXPECT_EQ(cs.Time(), 0u);
  cs.Init();
  EXPECT_TRUE(ReadAll(cs, 10000).empty());
  cs.Flush();
}

TEST_F(CueSplitterTest, BoundariesAreTheSheetsCdFramesAtTheImagesRate) {
  // One CD frame is 1/75 s: 588 frames at 44.1 kHz, 640 at 48 kHz, and
  // 106.67 at 8 kHz, where a boundary is the frame it falls in.
  WriteText(cue, "TRACK 01\nINDEX 01 00:00:01\nTRACK 02\nINDEX 01 00:00:02\n");
  const struct {
    uint32_t Rate;
    int64_t Start, End;
  } cases[] = {{44100, 588, 1175}, {48000, 640, 1279}, {8000, 106, 212}, {96000, 1280, 2559}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Rate);
    const std::string path = dir + "/image" + std::to_string(c.Rate) + ".raw";
    WriteRawFile(path, 2, 16, c.Rate, 4000);
    TRawIn other;
    other.SetFileName(path);
    TCueSplitter split;
    split.SetCueFile(cue);
    split.SetInput(&other);
    split.Init();
    EXPECT_EQ(other.StartSample(), c.Start);
    EXPECT_EQ(other.EndSample(), c.End);
    EXPECT_EQ(split.Size(), (c.End - c.Start + 1) * kFrame);
    split.Flush();
    split.SetInput(nullptr);
  }
}

}  // namespace

// An input that fails to open (a missing image, a damaged sheet entry's
// file) must leave the splitter idle: the next Init works without a Reset.
TEST_F(CueSplitterTest, AFailedInputInitLeavesTheSplitterIdle) {
  in.SetFileName(dir + "/missing.raw");
  cs.SetCurrentItem(1);
  EXPECT_THROW(cs.Init(), EAuException);
  EXPECT_FALSE(cs.IsBusy()) << "a failed Init left the splitter Busy";
  in.SetFileName(image);
  cs.Init();  // no Reset in between
  EXPECT_TRUE(cs.IsBusy());
  const std::vector<uint8_t> got = ReadAll(cs, 7777 * kFrame);
  cs.Flush();
  EXPECT_FALSE(cs.IsBusy());
  EXPECT_TRUE(got == Frames(44100, 88199)) << "got " << got.size() / kFrame << " frames";
}
