// Adding files, sheets and folders to the playlist synchronously: what each
// kind of file puts into its row, the silent failures, and the order a
// folder's tree comes in.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/logic/playlist/PlaylistAdder.h"
#include "common/ExternalTools.h"
#include "common/TestPaths.h"
#include "tests/app/logic/AdderTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;

namespace {

std::vector<std::string> Filenames(const TPlaylistTable& T) {
  std::vector<std::string> out;
  for (int i = 0; i < T.RowCount(); ++i)
    out.push_back(T.Row(i).Filename.value_or("<null>"));
  return out;
}

constexpr int32_t kMinute = 60;

// --- Helpers -------------------------------------------------------------------

TEST(AdderHelpers, SecondsToTimeWrapsToMidnightFromADayOn) {
  const struct {
    uint32_t In;
    int32_t Out;
  } cases[] = {{0, 0},          {59, 59},   {3599, 3599},
               {86399, 86399},  {86400, 0}, {90000, 0},  // a 25-hour image
               {0xFFFFFFFFu, 0}};                        // a negative count seen as unsigned
  for (const auto& c : cases)
    EXPECT_EQ(SecondsToTime(c.In), c.Out) << c.In;
}

TEST(AdderHelpers, TrackNumberTakesLeadingDigitsOfTrimmedText) {
  const struct {
    const char* In;
    int32_t Out;
  } cases[] = {{"05/12", 5},
               {"3/12", 3},
               {" 07", 7},
               {"\t4 ", 4},
               {"A1", 0},
               {"", 0},
               {"   ", 0},
               {"12abc", 12},
               {"0", 0},
               {"-3", 0},
               {"99999999999", 0},  // junk must not throw
               {"2147483647", 2147483647},
               {"2147483648", 0}};
  for (const auto& c : cases)
    EXPECT_EQ(TrackNumberFromText(c.In), c.Out) << '"' << c.In << '"';
  EXPECT_EQ(LeadingDigits("123x45"), "123");
  EXPECT_EQ(LeadingDigits("x1"), "");
  EXPECT_EQ(LeadingDigits(" 1"), "");  // no trimming here
}

// --- Files -----------------------------------------------------------------------

class AdderFiles : public ::testing::Test {
 protected:
  void SetUp() override { Dir = ScratchDir("adder-files"); }
  std::string Dir;
  TPlaylistTable Table;
  TPlaylistAdder Adder{Table};
};

TEST_F(AdderFiles, FlacTrackSlashTotalAndBlankTitleFallBackToFileName) {
  REQUIRE_TOOL("sox");
  REQUIRE_TOOL("metaflac");
  const std::string path = Dir + "/song.one.flac";
  ASSERT_TRUE(MakeTaggedFlac(
      path, 3, {"TRACKNUMBER=05/12", "TITLE=   ", "ALBUM=The Album", "ARTIST=Someone"}));
  Adder.AddAudioFile(path);
  ASSERT_EQ(Table.RowCount(), 1);
  const PlaylistRecord& r = Table.Row(0);
  EXPECT_EQ(r.ID, 1);
  EXPECT_EQ(r.Filename, path);
  EXPECT_EQ(r.Track, 5);
  EXPECT_EQ(r.Title, "song.one");
  EXPECT_EQ(r.Album, "The Album");
  EXPECT_EQ(r.Artist, "Someone");
  EXPECT_EQ(r.Time, 3);
}

TEST_F(AdderFiles, FlacTitleKeptUntrimmedAndTrackZeroLeftEmpty) {
  REQUIRE_TOOL("sox");
  REQUIRE_TOOL("metaflac");
  const std::string path = Dir + "/t.flac";
  ASSERT_TRUE(MakeTaggedFlac(path, 1, {"TRACKNUMBER=0", "TITLE= Padded "}));
  Adder.AddFLACFile(path);
  ASSERT_EQ(Table.RowCount(), 1);
  EXPECT_EQ(Table.Row(0).Title, " Padded ");
  EXPECT_FALSE(Table.Row(0).Track.has_value());
}

TEST_F(AdderFiles, UpperCaseWavAddedWaveExtensionIgnored) {
  WriteWav(Dir + "/x.WAV", 8000, 1, 16, 8000 * 2);
  WriteWav(Dir + "/x.wave", 8000, 1, 16, 8000 * 2);
  Adder.AddAudioFile(Dir + "/x.WAV");
  Adder.AddAudioFile(Dir + "/x.wave");
  ASSERT_EQ(Table.RowCount(), 1);
  const PlaylistRecord& r = Table.Row(0);
  EXPECT_EQ(r.Filename, Dir + "/x.WAV");
  EXPECT_EQ(r.Title, "x");
  EXPECT_FALSE(r.Track || r.Album || r.Artist);
  EXPECT_EQ(r.Time, 2);
}

TEST_F(AdderFiles, TwentyFiveHourWavGetsMidnightNotEmpty) {
  // 1000 Hz, 8-bit mono: 90,000,000 bytes claimed are 25 hours.
  WriteWav(Dir + "/long.wav", 1000, 1, 8, 100, 90000000);
  Adder.AddAudioFile(Dir + "/long.wav");
  ASSERT_EQ(Table.RowCount(), 1);
  EXPECT_EQ(Table.Row(0).Time, 0);
}

TEST_F(AdderFiles, TagsOfMp3WmaAndApeReachTheRow) {
  Adder.AddAudioFile(FixturePath("audio/duplicate_id3v2.mp3"));
  Adder.AddAudioFile(FixturePath("audio/mac-399-id3v2.ape"));
  Adder.AddAudioFile(FixturePath("audio/silence-1.wma"));
  ASSERT_EQ(Table.RowCount(), 3);
  EXPECT_EQ(Table.Row(0).Title, "TitleXXXX");
  EXPECT_EQ(Table.Row(0).Artist, "ArtistXXXX");
  EXPECT_EQ(Table.Row(0).Album, "AlbumXXXX");
  EXPECT_EQ(Table.Row(0).Track, 7);
  EXPECT_EQ(Table.Row(1).Title, "TitleXXXX");
  EXPECT_EQ(Table.Row(2).Title, "test");
  EXPECT_EQ(Table.Row(2).Filename, FixturePath("audio/silence-1.wma"));
}

TEST_F(AdderFiles, UndecodableOrMissingFileAddsNothingAndKeepsEarlierRows) {
  WriteWav(Dir + "/good.wav", 8000, 1, 16, 800);
  WriteText(Dir + "/text.flac", "this is not a FLAC stream at all");
  WriteText(Dir + "/text.wav", "RIFF....nonsense");
  Adder.AddAudioFile(Dir + "/good.wav");
  Adder.AddAudioFile(Dir + "/text.flac");
  Adder.AddAudioFile(Dir + "/text.wav");
  Adder.AddAudioFile(FixturePath("bad/longloop.ape"));
  Adder.AddAudioFile(Dir + "/missing.flac");
  Adder.AddAudioFile(Dir + "/missing.cue");
  Adder.AddAudioFile(Dir);  // a folder as a file
  ASSERT_EQ(Filenames(Table), std::vector<std::string>{Dir + "/good.wav"});
  // A failed file takes no ID: the next row follows on.
  Adder.AddAudioFile(Dir + "/good.wav");
  ASSERT_EQ(Table.RowCount(), 2);
  EXPECT_EQ(Table.Row(1).ID, 2);
}

TEST_F(AdderFiles, FifoWithAudioExtensionDoesNotHang) {
  const std::string fifo = Dir + "/pipe.wav";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string cue = Dir + "/pipe.cue";
  ASSERT_EQ(::mkfifo(cue.c_str(), 0600), 0);
  Adder.AddAudioFile(fifo);
  Adder.AddAudioFile(cue);
  Adder.AddPaths({fifo, Dir});
  EXPECT_EQ(Table.RowCount(), 0);
}

TEST_F(AdderFiles, SameFileTwiceGivesTwoRowsWithNewIds) {
  WriteWav(Dir + "/a.wav", 8000, 1, 16, 800);
  Table.SetAudioID(41);  // IDs continue after what was handed out before
  Adder.AddAudioFile(Dir + "/a.wav");
  Adder.AddAudioFile(Dir + "/a.wav");
  ASSERT_EQ(Table.RowCount(), 2);
  EXPECT_EQ(Table.Row(0).ID, 42);
  EXPECT_EQ(Table.Row(1).ID, 43);
}

// --- CUE sheets -------------------------------------------------------------------

std::string Sheet(const std::string& File, const std::vector<std::string>& Starts) {
  std::string s = "PERFORMER \"Band\"\r\nTITLE \"Disc\"\r\nFILE \"" + File + "\" WAVE\r\n";
  for (size_t i = 0; i < Starts.size(); ++i) {
    char num[24];
    std::snprintf(num, sizeof num, "%02zu", i + 1);
    s += std::string("  TRACK ") + num + " AUDIO\r\n    TITLE \"Song " + num + "\"\r\n";
    if (i == 1) s += "    PERFORMER \"Guest\"\r\n";
    s += "    INDEX 01 " + Starts[i] + "\r\n";
  }
  return s;
}

TEST_F(AdderFiles, CueLastTrackGetsRestOfImage) {
  WriteWav(Dir + "/image.wav", 1000, 1, 8, 600 * 1000);  // 10:00
  WriteText(Dir + "/disc.cue", Sheet("image.wav", {"00:00:00", "03:00:00", "07:00:00"}));
  Table.SetAudioID(10);
  Adder.AddAudioFile(Dir + "/disc.cue");
  ASSERT_EQ(Table.RowCount(), 3);
  const int32_t times[] = {3 * kMinute, 4 * kMinute, 3 * kMinute};
  for (int i = 0; i < 3; ++i) {
    const PlaylistRecord& r = Table.Row(i);
    EXPECT_EQ(r.ID, 11 + i);
    EXPECT_EQ(r.Filename, Dir + "/disc.cue");
    EXPECT_EQ(r.Track, i + 1);
    EXPECT_EQ(r.Title, "Song 0" + std::to_string(i + 1));
    EXPECT_EQ(r.Album, "Disc");
    EXPECT_EQ(r.Artist, i == 1 ? "Guest" : "Band");
    EXPECT_EQ(r.Time, times[i]) << "track " << i + 1;
  }
}

TEST_F(AdderFiles, CueZeroLengthTrackGetsEmptyTime) {
  WriteWav(Dir + "/image.wav", 1000, 1, 8, 600 * 1000);
  WriteText(Dir + "/disc.cue", Sheet("image.wav", {"00:00:00", "03:00:00", "03:00:00"}));
  Adder.AddCueFile(Dir + "/disc.cue");
  ASSERT_EQ(Table.RowCount(), 3);
  EXPECT_EQ(Table.Row(0).Time, 3 * kMinute);
  EXPECT_FALSE(Table.Row(1).Time.has_value());
  EXPECT_EQ(Table.Row(2).Time, 7 * kMinute);
}

TEST_F(AdderFiles, CueOnTwentyFiveHourImageLeavesLastTrackEmpty) {
  WriteWav(Dir + "/image.wav", 1000, 1, 8, 100, 90000000);
  WriteText(Dir + "/disc.cue", Sheet("image.wav", {"00:00:00", "60:00:00"}));
  Adder.AddCueFile(Dir + "/disc.cue");
  ASSERT_EQ(Table.RowCount(), 2);
  EXPECT_EQ(Table.Row(0).Time, 60 * kMinute);
  // 24 hours left: midnight, and a 0 is left empty.
  EXPECT_FALSE(Table.Row(1).Time.has_value());
}

TEST_F(AdderFiles, CueTracksBeyondShortImageLeaveLastTrackEmpty) {
  // The sheet claims more than the image holds: the rest is "negative".
  WriteWav(Dir + "/image.wav", 1000, 1, 8, 60 * 1000);
  WriteText(Dir + "/disc.cue", Sheet("image.wav", {"00:00:00", "05:00:00", "06:00:00"}));
  Adder.AddCueFile(Dir + "/disc.cue");
  ASSERT_EQ(Table.RowCount(), 3);
  EXPECT_FALSE(Table.Row(2).Time.has_value());
}

TEST_F(AdderFiles, CueNamingApeUsesFlacOfSheetsOwnName) {
  REQUIRE_TOOL("sox");
  ASSERT_TRUE(MakeTaggedFlac(Dir + "/album.flac", 10, {}));
  WriteText(Dir + "/album.cue", Sheet("image.ape", {"00:00:00", "00:04:00"}));
  Adder.AddAudioFile(Dir + "/album.cue");
  ASSERT_EQ(Table.RowCount(), 2);
  EXPECT_EQ(Table.Row(0).Time, 4);
  EXPECT_EQ(Table.Row(1).Time, 6);
}

TEST_F(AdderFiles, CueWithoutUsableAudioAddsNothing) {
  WriteWav(Dir + "/image.wav", 1000, 1, 8, 60 * 1000);
  // Two FILE lines.
  WriteText(Dir + "/two.cue",
            "FILE \"image.wav\" WAVE\r\n  TRACK 01 AUDIO\r\n    INDEX 01 "
            "00:00:00\r\nFILE \"image.wav\" WAVE\r\n  TRACK 02 AUDIO\r\n"
            "    INDEX 01 00:00:00\r\n");
  // Audio missing.
  WriteText(Dir + "/gone.cue", Sheet("nothing.wav", {"00:00:00"}));
  // MP3 images are not cut.
  WriteText(Dir + "/mp3.cue", Sheet(FixturePath("audio/xing.mp3"), {"00:00:00"}));
  // Undecodable image.
  WriteText(Dir + "/junk.wav", "not a wave file");
  WriteText(Dir + "/junk.cue", Sheet("junk.wav", {"00:00:00"}));
  for (const char* name : {"two.cue", "gone.cue", "mp3.cue", "junk.cue"})
    Adder.AddAudioFile(Dir + "/" + name);
  EXPECT_EQ(Table.RowCount(), 0);
  EXPECT_EQ(Table.AudioID(), 0u);
}

TEST_F(AdderFiles, CueWithBrokenIndexAddsNothing) {
  WriteWav(Dir + "/image.wav", 1000, 1, 8, 60 * 1000);
  WriteText(Dir + "/bad.cue",
            "FILE \"image.wav\" WAVE\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00\r\n");
  Adder.AddAudioFile(Dir + "/bad.cue");
  EXPECT_EQ(Table.RowCount(), 0);
}

// --- Folders and drops -------------------------------------------------------------

TEST_F(AdderFiles, DropPutsSubfolderFilesAtTheirPlaceAndSurvivesLinkLoops) {
  const std::string root = Dir + "/root";
  ASSERT_EQ(::mkdir(root.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((root + "/b").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((root + "/b/deeper").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((root + "/z.wav").c_str(), 0755), 0);  // a folder with an audio name
  for (const char* f : {"/a.wav", "/.hidden.wav", "/c.wav", "/b/c.wav", "/b/deeper/d.wav"})
    WriteWav(root + f, 8000, 1, 16, 80);
  WriteText(root + "/b/notes.txt", "not audio");
  ASSERT_EQ(::symlink(root.c_str(), (root + "/loop").c_str()), 0);         // back to the root
  ASSERT_EQ(::symlink("..", (root + "/b/deeper/up").c_str()), 0);          // back to b
  ASSERT_EQ(::symlink((root + "/b").c_str(), (root + "/bl").c_str()), 0);  // a sibling: followed
  WriteWav(Dir + "/single.wav", 8000, 1, 16, 80);

  Adder.AddPaths({root, Dir + "/single.wav", Dir + "/absent"});
  const std::vector<std::string> want = {
      root + "/.hidden.wav", root + "/a.wav",           root + "/b/c.wav", root + "/b/deeper/d.wav",
      root + "/bl/c.wav",    root + "/bl/deeper/d.wav", root + "/c.wav",   Dir + "/single.wav"};
  EXPECT_EQ(Filenames(Table), want);
  for (int i = 0; i < Table.RowCount(); ++i)
    EXPECT_EQ(Table.Row(i).ID, i + 1);
}

TEST_F(AdderFiles, AddDirAcceptsTrailingSlashAndIgnoresNonFolders) {
  ASSERT_EQ(::mkdir((Dir + "/f").c_str(), 0755), 0);
  WriteWav(Dir + "/f/a.wav", 8000, 1, 16, 80);
  Adder.AddDir(Dir + "/f/");
  Adder.AddDir(Dir + "/f/a.wav");  // a file, not a folder
  Adder.AddDir(Dir + "/nowhere");
  EXPECT_EQ(Filenames(Table), std::vector<std::string>{Dir + "/f/a.wav"});
}

}  // namespace
