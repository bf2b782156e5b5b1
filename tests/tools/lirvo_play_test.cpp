// lirvo-play run end to end on the shared fixtures: what a user sees from
// --info and gets from --decode, and how it fails.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "common/ExternalTools.h"
#include "common/TestFiles.h"
#include "common/TestPaths.h"

using namespace lirvo::test;

namespace {

using Bytes = std::vector<uint8_t>;

// The tool sits in the same build tree as this test binary
// (build/tests/test_tools -> build/tools/lirvo-play/lirvo-play).
std::string ToolPath() {
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  return (self.parent_path().parent_path() / "tools" / "lirvo-play" / "lirvo-play").string();
}

struct TRun {
  int Status = -1;
  std::string Err;
  Bytes Out;
  std::string OutText() const { return std::string(Out.begin(), Out.end()); }
};

class LirvoPlay : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = ScratchDir(std::string("lirvo-play-") +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_TRUE(std::filesystem::exists(ToolPath()))
        << ToolPath() << " is missing: build the lirvo-play target";
  }

  TRun Run(const std::string& Args) {
    TRun r;
    const std::string out = dir + "/stdout", err = dir + "/stderr";
    const int rc = std::system(
        (Quote(ToolPath()) + " " + Args + " >" + Quote(out) + " 2>" + Quote(err)).c_str());
    r.Status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.Out = ReadFileBytes(out);
    r.Err = ReadText(err);
    return r;
  }

  std::string dir;
};

std::vector<std::string> Lines(const std::string& Text) {
  std::vector<std::string> lines;
  std::istringstream s(Text);
  for (std::string l; std::getline(s, l);)
    lines.push_back(l);
  return lines;
}

const std::string kSine = FixturePath("audio/sinewave.flac");
constexpr int64_t kSineFrames = 156556;

TEST_F(LirvoPlay, InfoPrintsKindFormatLengthAndTagsOneKeyPerLine) {
  const TRun r = Run("--info " + Quote(FixturePath("audio/silence-44-s.flac")));
  ASSERT_EQ(r.Status, 0) << r.Err;
  const std::vector<std::string> expected = {"kind: FLAC",      "valid: yes",
                                             "channels: 2",     "rate: 44100",
                                             "bits: 16",        "frames: 162496",
                                             "duration: 3.685", "title: Silence",
                                             "artist: piman",   "album: Quod Libet Test Data",
                                             "genre: Silence",  "year: 2004",
                                             "track: 02/10"};
  EXPECT_EQ(Lines(r.OutText()), expected);
}

TEST_F(LirvoPlay, InfoOfAnUntaggedFileShowsEmptyTags) {
  const TRun r = Run("--info " + Quote(kSine));
  ASSERT_EQ(r.Status, 0) << r.Err;
  const std::vector<std::string> lines = Lines(r.OutText());
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[5], "frames: 156556");
  EXPECT_EQ(lines[6], "duration: 3.550");
  EXPECT_EQ(lines[7], "title: ");
}

TEST_F(LirvoPlay, DecodeToStandardOutputGivesTheListedPcm) {
  const struct {
    const char* File;
    const char* Md5;
  } cases[] = {
      {"audio/sinewave.flac", "cfe3d9dabadeab2cbf2ca235274b7f76"},
      {"audio/no-tags.flac", "a1b141f766e9849ac3db1030a20a3c77"},
      {"audio/pcm_with_fact_chunk.wav", "2ea0da50e40096bb4c74b91b45774c2b"},
      {"audio/mac-399.ape", "cfe3d9dabadeab2cbf2ca235274b7f76"},
      {"audio/lossless.wma", "cfe3d9dabadeab2cbf2ca235274b7f76"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.File);
    const TRun r = Run("--decode " + Quote(FixturePath(c.File)) + " --out -");
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(Md5(r.Out), c.Md5);
  }
}

TEST_F(LirvoPlay, DecodeToAWavFileWritesItsFormatAndTheSameData) {
  const std::string out = dir + "/out.WAV";  // the extension in any case
  const TRun r = Run("--decode " + Quote(kSine) + " --out " + Quote(out));
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(r.Out.empty());
  const Bytes wav = ReadFileBytes(out);
  ASSERT_EQ(wav.size(), 44u + kSineFrames * 4);
  auto le = [&](size_t at, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i)
      v |= uint32_t{wav[at + i]} << (8 * i);
    return v;
  };
  EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
  EXPECT_EQ(le(4, 4), wav.size() - 8);
  EXPECT_EQ(le(20, 2), 1u);  // PCM
  EXPECT_EQ(le(22, 2), 2u);
  EXPECT_EQ(le(24, 4), 44100u);
  EXPECT_EQ(le(34, 2), 16u);
  EXPECT_EQ(std::string(wav.begin() + 36, wav.begin() + 40), "data");
  EXPECT_EQ(le(40, 4), kSineFrames * 4);
  EXPECT_EQ(Md5(Bytes(wav.begin() + 44, wav.end())), "cfe3d9dabadeab2cbf2ca235274b7f76");
}

// --start and --frames cut the output on exact frames, at block boundaries
// and at the end of the file alike.
TEST_F(LirvoPlay, StartAndFramesSliceTheOutputExactly) {
  const TRun full = Run("--decode " + Quote(kSine) + " --out -");
  ASSERT_EQ(full.Status, 0) << full.Err;
  ASSERT_EQ(full.Out.size(), static_cast<size_t>(kSineFrames) * 4);
  const struct {
    int64_t Start;
    int64_t Frames;  // -1: no --frames
  } cases[] = {{0, 100},
               {1, 10},
               {4095, 2},
               {4096, 4096},
               {10000, 5000},
               {100000, -1},
               {kSineFrames - 10, 100},
               {kSineFrames, 5},
               {500, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE("start " + std::to_string(c.Start) + " frames " + std::to_string(c.Frames));
    std::string args = "--decode " + Quote(kSine) + " --out - --start " + std::to_string(c.Start);
    if (c.Frames >= 0) args += " --frames " + std::to_string(c.Frames);
    const TRun r = Run(args);
    ASSERT_EQ(r.Status, 0) << r.Err;
    const int64_t end = c.Frames < 0 ? kSineFrames : std::min(kSineFrames, c.Start + c.Frames);
    const Bytes want(full.Out.begin() + c.Start * 4, full.Out.begin() + end * 4);
    EXPECT_TRUE(r.Out == want) << r.Out.size() / 4 << " frames, expected " << want.size() / 4;
  }
}

TEST_F(LirvoPlay, AMissingFileFailsWithTheSystemsText) {
  for (const char* command : {"--info", "--decode"}) {
    SCOPED_TRACE(command);
    std::string args = std::string(command) + " " + Quote(dir + "/missing.flac");
    if (std::string(command) == "--decode") args += " --out " + Quote(dir + "/x.raw");
    const TRun r = Run(args);
    EXPECT_NE(r.Status, 0);
    EXPECT_NE(r.Err.find("missing.flac: No such file or directory"), std::string::npos) << r.Err;
    EXPECT_TRUE(r.Out.empty());
  }
}

TEST_F(LirvoPlay, AFileTheDecoderRejectsIsReportedNotValid) {
  const std::string junk = dir + "/junk.flac";
  std::ofstream(junk) << std::string(4000, 'x');
  const TRun info = Run("--info " + Quote(junk));
  EXPECT_NE(info.Status, 0);
  EXPECT_EQ(Lines(info.OutText()), (std::vector<std::string>{"kind: FLAC", "valid: no"}));
  EXPECT_NE(info.Err.find("not a valid FLAC file"), std::string::npos) << info.Err;
  const TRun decode = Run("--decode " + Quote(junk) + " --out -");
  EXPECT_NE(decode.Status, 0);
  EXPECT_TRUE(decode.Out.empty());
}

TEST_F(LirvoPlay, BadArgumentsAndUnknownKindsFailWithAReason) {
  const struct {
    std::string Args;
    const char* Reason;
  } cases[] = {
      {"", "give --info FILE or --decode FILE"},
      {"--decode " + Quote(kSine), "--decode needs --out OUT"},
      {"--decode " + Quote(kSine) + " --out - --start -5", "invalid value for --start"},
      {"--decode " + Quote(kSine) + " --out - --frames 1x", "invalid value for --frames"},
      {"--info " + Quote(kSine) + " --bogus", "unknown argument '--bogus'"},
      {"--info " + Quote(dir + "/song.ogg"), "not a supported file type"},
      {"--decode " + Quote(kSine) + " --out - --start 200000", "past the end"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Args);
    const TRun r = Run(c.Args);
    EXPECT_NE(r.Status, 0);
    EXPECT_NE(r.Err.find(c.Reason), std::string::npos) << r.Err;
    EXPECT_TRUE(r.Out.empty());
  }
}

}  // namespace

namespace {

// A three-track sheet over sinewave.flac (156556 frames at 44100 Hz), with a
// pregap before track 2.
TEST_F(LirvoPlay, CueSheetInfoListsTheAlbumTheImageAndEveryTrack) {
  const std::string sheet = dir + "/album.cue";
  std::ofstream(sheet) << "PERFORMER \"歌手\"\r\nTITLE \"专辑\"\r\nDATE 2003\r\nFILE \"" << kSine
                       << "\" WAVE\r\n"
                       << "TRACK 01 AUDIO\r\nTITLE \"一\"\r\nINDEX 01 00:00:00\r\n"
                       << "TRACK 02 AUDIO\r\nTITLE \"Two\"\r\nPERFORMER \"Other\"\r\n"
                       << "INDEX 00 00:01:00\r\nINDEX 01 00:01:40\r\n"
                       << "TRACK 03 AUDIO\r\nTITLE \"Three\"\r\nINDEX 01 00:02:00\r\n";
  const TRun r = Run("--info " + Quote(sheet));
  ASSERT_EQ(r.Status, 0) << r.Err;
  const std::vector<std::string> want = {
      "kind: CUE",
      "file: " + kSine,
      "album: 专辑",
      "year: 2003",
      "genre: ",
      "channels: 2",
      "rate: 44100",
      "bits: 16",
      "tracks: 3",
      "track 1: start 0, end 44099, duration 1.000, title 一, performer 歌手",
      "track 2: start 67620, end 88199, duration 0.467, title Two, performer Other",
      "track 3: start 88200, end 156555, duration 1.550, title Three, performer 歌手"};
  EXPECT_EQ(Lines(r.OutText()), want);
}

TEST_F(LirvoPlay, CueTrackDecodeWritesExactlyThatTracksFrames) {
  const std::string sheet = dir + "/album.cue";
  std::ofstream(sheet) << "FILE \"" << kSine << "\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                       << "TRACK 02 AUDIO\nINDEX 01 00:01:40\n";
  const TRun full = Run("--decode " + Quote(kSine) + " --out -");
  ASSERT_EQ(full.Status, 0) << full.Err;
  const struct {
    std::string Args;
    int64_t First, Count;
  } cases[] = {
      // 00:01:40 is CD frame 115: 115 * 588 frames; the tracks meet there.
      {"--track 1", 0, 67620},
      {"--track 2", 67620, 156556 - 67620},
      {"--track 2 --start 100 --frames 10", 67720, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Args);
    const TRun r = Run("--decode " + Quote(sheet) + " " + c.Args + " --out -");
    ASSERT_EQ(r.Status, 0) << r.Err;
    const Bytes want(full.Out.begin() + c.First * 4, full.Out.begin() + (c.First + c.Count) * 4);
    EXPECT_TRUE(r.Out == want) << r.Out.size() << " bytes";
  }
  const TRun beyond = Run("--decode " + Quote(sheet) + " --track 3 --out -");
  EXPECT_EQ(beyond.Status, 1);
  EXPECT_NE(beyond.Err.find("Item index out of bounds"), std::string::npos) << beyond.Err;
  const TRun noTrack = Run("--decode " + Quote(sheet) + " --out -");
  EXPECT_EQ(noTrack.Status, 2);
}

}  // namespace
