// The sheet reader on its own: track boundaries, album data, the quoting and
// keyword rules, the track limit and malformed INDEX lines.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/core/AuException.h"
#include "audio/processors/CueSheet.h"

using namespace lirvo;

namespace {

TCueSheet Parse(const std::string& Text) {
  return ParseCueSheet(CueTextToLines(Text));
}

struct Bounds {
  uint32_t begin, end;
};

std::vector<Bounds> BoundsOf(const TCueSheet& Sheet) {
  std::vector<Bounds> out;
  for (const TCueItem& i : Sheet.Items)
    out.push_back({i.BeginIndex, i.EndIndex});
  return out;
}

bool operator==(const Bounds& A, const Bounds& B) {
  return A.begin == B.begin && A.end == B.end;
}
void PrintTo(const Bounds& B, std::ostream* os) {
  *os << "{" << B.begin << ", " << B.end << "}";
}

struct BoundsCase {
  const char* name;
  const char* sheet;
  std::vector<Bounds> expected;
};

class CueBoundsTest : public ::testing::TestWithParam<BoundsCase> {};

TEST_P(CueBoundsTest, TrackBoundariesFollowIndexLines) {
  EXPECT_EQ(BoundsOf(Parse(GetParam().sheet)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sheets, CueBoundsTest,
    ::testing::Values(
        // The pregap belongs to neither track: round(20 * 1000 / 75) = 267.
        BoundsCase{"PregapEndsPreviousTrack",
                   "TRACK 01 AUDIO\n INDEX 01 00:00:00\nTRACK 02 AUDIO\n INDEX 00 03:58:20\n"
                   " INDEX 01 04:00:00\n",
                   {{0, 238267}, {240000, 0}}},
        BoundsCase{"WithoutPregapNextStartEndsTrack",
                   "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 04:00:00\n"
                   "TRACK 03 AUDIO\nINDEX 01 07:30:37\n",
                   {{0, 240000}, {240000, 450493}, {450493, 0}}},
        // INDEX 00 replaces an end that an earlier INDEX 01 had set.
        BoundsCase{"PregapAfterStartStillWins",
                   "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 04:00:00\n"
                   "INDEX 00 03:58:20\n",
                   {{0, 238267}, {240000, 0}}},
        // A non-zero INDEX after the first moves the start, not the end of
        // the previous track (already set).
        BoundsCase{"LaterIndexMovesStart",
                   "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 01:00:00\n"
                   "INDEX 02 01:05:00\n",
                   {{0, 60000}, {65000, 0}}},
        // The first track's pregap has no previous track; its time is not
        // even read.
        BoundsCase{"FirstTrackPregapIgnored",
                   "TRACK 01 AUDIO\nINDEX 00 garbage\nINDEX 01 00:02:00\n",
                   {{2000, 0}}},
        BoundsCase{"MinutesBeyond99AndFrameRounding",
                   "TRACK 01 AUDIO\nINDEX 01 00:00:01\nTRACK 02 AUDIO\nINDEX 01 00:00:02\n"
                   "TRACK 03 AUDIO\nINDEX 01 00:00:74\nTRACK 04 AUDIO\nINDEX 01 120:00:00\n",
                   {{13, 27}, {27, 987}, {987, 7200000}, {7200000, 0}}},
        // Digit runs: whatever separates the fields is skipped.
        BoundsCase{"FieldsAreDigitRuns", "TRACK 01\nINDEX01 1.2-3\n", {{62040, 0}}},
        BoundsCase{"TrackWithoutIndexStartsAtZero", "TRACK 01 AUDIO\nTITLE x\n", {{0, 0}}},
        // Lower-case keywords are not keywords.
        BoundsCase{"LowerCaseIndexIgnored",
                   "TRACK 01 AUDIO\nINDEX 01 00:00:00\ntrack 02 audio\nindex 01 01:00:00\n",
                   {{0, 0}}},
        BoundsCase{"NoTrackLinesNoTracks", "PERFORMER x\nINDEX 01 00:00:00\n", {}}),
    [](const ::testing::TestParamInfo<BoundsCase>& Info) { return Info.param.name; });

TEST(CueSheetTest, AlbumAndTrackTextFollowKeywordAndQuotingRules) {
  const TCueSheet s = Parse(
      "REM GENRE Rock\n"
      "REM DATE 2003\n"
      "CATALOG 0000000000000\n"
      "PERFORMER \"The Band\"\n"
      "title \"lower case is not a keyword\"\n"
      "TITLE \"A\" B\n"
      "GENRE Jazz Funk\n"
      "DATE \"1999/05\"\n"
      "FILE \"image.wav\" WAVE\n"
      "  TRACK 01 AUDIO\n"
      "    TITLE \"Hello World\"\n"
      "    PERFORMER Someone Else\n"
      "    INDEX 01 00:00:00\n"
      "  TRACK 02 AUDIO\n"
      "    TITLE Hello World\n"
      "    Title \"ignored\"\n"
      "    FILE \"second.wav\" WAVE\n"
      "    INDEX 01 01:00:00\n"
      "  TRACK 03 AUDIO\n"
      "    TITLE\"no separator\"\n"
      "    PERFORMER \"\"\n"
      "    INDEX 01 02:00:00\n");
  EXPECT_EQ(s.Performer, "The Band");
  EXPECT_EQ(s.Album, "A B") << "quoting stays on after the closing quote";
  EXPECT_EQ(s.Genre, "JazzFunk") << "blanks of an unquoted value are dropped";
  EXPECT_EQ(s.Year, "1999") << "the first digit run of DATE; REM DATE is ignored";
  ASSERT_EQ(s.Items.size(), 3u) << "a second FILE line starts no new image";
  EXPECT_EQ(s.Items[0].Title, "Hello World");
  EXPECT_EQ(s.Items[0].Performer, "SomeoneElse");
  EXPECT_EQ(s.Items[1].Title, "HelloWorld");
  EXPECT_EQ(s.Items[1].Performer, "The Band") << "a track without PERFORMER has the album's";
  EXPECT_EQ(s.Items[2].Title, "no separator");
  EXPECT_EQ(s.Items[2].Performer, "");
  EXPECT_EQ(s.Items[1].EndIndex, 120000u);
}

TEST(CueSheetTest, YearAndGenreComeOnlyFromTheHeader) {
  EXPECT_EQ(Parse("REM DATE 2003\n").Year, "");
  EXPECT_EQ(Parse("DATE 2003\n").Year, "2003");
  EXPECT_EQ(Parse("YEAR 1987\n").Year, "1987");
  EXPECT_EQ(Parse("rem date 2003\nDATE x\n").Year, "") << "a DATE without digits gives nothing";
  const TCueSheet s = Parse("DATE 2001\nTRACK 01\nDATE 1990\nGENRE Pop\nPERFORMER P\n");
  EXPECT_EQ(s.Year, "2001");
  EXPECT_EQ(s.Genre, "");
  EXPECT_EQ(s.Performer, "") << "a track's PERFORMER is not the album's";
}

TEST(CueSheetTest, TrackPerformerDefaultsToAlbumPerformerReadBeforeIt) {
  const TCueSheet s = Parse("TRACK 01\nPERFORMER Solo\nTRACK 02\n");
  ASSERT_EQ(s.Items.size(), 2u);
  EXPECT_EQ(s.Items[0].Performer, "Solo");
  EXPECT_EQ(s.Items[1].Performer, "") << "the album performer was never set";
}

TEST(CueSheetTest, LinesAreTrimmedOfBlanksAndControlCharacters) {
  const TCueSheet s = Parse("\t PERFORMER \"Blue Sky\"\x01 \r\n\x02TITLE X\r\nTRACK 01\r\n");
  EXPECT_EQ(s.Performer, "Blue Sky");
  EXPECT_EQ(s.Album, "X");
}

TEST(CueSheetTest, TracksBeyondTheTableAreIgnoredWithoutDisturbingTheLastKept) {
  std::string text = "PERFORMER Album\n";
  for (int t = 1; t <= 300; ++t) {
    text += "TRACK " + std::to_string(t) + " AUDIO\n";
    text += "TITLE T" + std::to_string(t) + "\n";
    text += "PERFORMER P" + std::to_string(t) + "\n";
    text += "INDEX 01 " + std::to_string(t) + ":00:00\n";
  }
  const TCueSheet s = Parse(text);
  ASSERT_EQ(s.Items.size(), kMaxCueItems);
  const TCueItem& last = s.Items.back();
  EXPECT_EQ(last.Title, "T255");
  EXPECT_EQ(last.Performer, "P255");
  EXPECT_EQ(last.BeginIndex, 255u * 60000);
  EXPECT_EQ(last.EndIndex, 256u * 60000) << "the 255th track ends where the next one starts";
}

struct BadIndexCase {
  const char* name;
  const char* line;
};

class CueBadIndexTest : public ::testing::TestWithParam<BadIndexCase> {};

TEST_P(CueBadIndexTest, MalformedIndexRaisesNamingTheLine) {
  const std::string text =
      std::string("TITLE x\nTRACK 01\nINDEX 01 00:00:00\nTRACK 02\n") + GetParam().line + "\n";
  try {
    Parse(text);
    FAIL() << "no exception for " << GetParam().line;
  } catch (const EAuException& e) {
    const std::string msg = e.what();
    EXPECT_NE(msg.find("Line 5"), std::string::npos) << msg;
    EXPECT_NE(msg.find(GetParam().line), std::string::npos) << msg;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CueBadIndexTest,
    ::testing::Values(BadIndexCase{"NoNumber", "INDEX"}, BadIndexCase{"NoNumberAtAll", "INDEX :"},
                      BadIndexCase{"NoTime", "INDEX 01"},
                      BadIndexCase{"TwoFieldTime", "INDEX 01 04:00"},
                      BadIndexCase{"LettersForTime", "INDEX 01 mm:ss:ff"},
                      BadIndexCase{"PregapWithoutTime", "INDEX 00"},
                      BadIndexCase{"TimeBeyond32BitMs", "INDEX 01 71583:00:00"},
                      BadIndexCase{"HugeDigitRun", "INDEX 01 99999999999999999999999:00:00"}),
    [](const ::testing::TestParamInfo<BadIndexCase>& Info) { return Info.param.name; });

TEST(CueSheetTest, LargestTimeThatFitsIsAccepted) {
  // 71582 min 47 s 22 frames = 4294967293 ms, just below 2^32.
  const TCueSheet s = Parse("TRACK 01\nINDEX 01 71582:47:22\n");
  ASSERT_EQ(s.Items.size(), 1u);
  EXPECT_EQ(s.Items[0].BeginIndex, 71582u * 60000 + 47000 + 293);
  EXPECT_EQ(s.Items[0].BeginFrame, 71582u * 4500 + 47 * 75 + 22);
}

}  // namespace
