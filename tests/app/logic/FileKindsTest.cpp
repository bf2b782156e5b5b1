// File kinds by extension, and the audio file behind a CUE sheet: the FILE
// line, an image beside the sheet under its own name, Windows paths in
// sheets written on Windows, and sheets that cannot be read.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/logic/playlist/FileKinds.h"
#include "common/TestPaths.h"

using namespace lirvo;
using namespace lirvo::test;

namespace {

struct KindCase {
  const char* path;
  TAudioFileType kind;
};

class FileKindTest : public ::testing::TestWithParam<KindCase> {};

TEST_P(FileKindTest, KindComesFromTheExtensionAlone) {
  EXPECT_EQ(GetAudioFileType(GetParam().path), GetParam().kind) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, FileKindTest,
    ::testing::Values(KindCase{"/m/x.WAV", aftWAV}, KindCase{"x.wav", aftWAV},
                      KindCase{"/m/a.b.Flac", aftFLAC}, KindCase{"x.ape", aftAPE},
                      KindCase{"x.mP3", aftMP3}, KindCase{"x.wma", aftWMA},
                      KindCase{"/m/album.cue", aftCUE}, KindCase{"x.wave", aftUnknown},
                      KindCase{"/m/noext", aftUnknown}, KindCase{"/m.wav/noext", aftUnknown},
                      KindCase{"x.", aftUnknown}, KindCase{"", aftUnknown},
                      KindCase{"x.wav.txt", aftUnknown}));

class CueAudioFileTest : public ::testing::Test {
 protected:
  std::string dir = ScratchDir("cue_audio_file");
  std::string cue = dir + "/album.cue";

  void Write(const std::string& Path, const std::string& Text) {
    std::filesystem::create_directories(std::filesystem::path(Path).parent_path());
    std::ofstream f(Path, std::ios::binary);
    f << Text;
  }
  void Touch(const std::string& Path) { Write(Path, "x"); }
};

TEST_F(CueAudioFileTest, RelativeNameIsJoinedToTheSheetsFolder) {
  Write(cue, "REM x\r\nfile \"image.wav\" wave  \r\nTRACK 01 AUDIO\r\n");
  EXPECT_EQ(GetCueAudioFileName(cue), dir + "/image.wav") << "the file need not exist";
}

TEST_F(CueAudioFileTest, BackslashesOfARelativeNameAreFolders) {
  Write(cue, "FILE \"disc 1\\image.flac\" WAVE\n");
  EXPECT_EQ(GetCueAudioFileName(cue), dir + "/disc 1/image.flac");
}

TEST_F(CueAudioFileTest, SheetGivenWithoutFolderGivesNameWithoutFolder) {
  Write(cue, "FILE \"image.wav\" WAVE\n");
  const auto old = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  const std::string got = GetCueAudioFileName("album.cue");
  std::filesystem::current_path(old);
  EXPECT_EQ(got, "image.wav");
}

TEST_F(CueAudioFileTest, ImageBesideTheSheetUnderItsOwnNameWins) {
  Write(cue, "FILE \"image.ape\" WAVE\n");
  Touch(dir + "/album.flac");
  Touch(dir + "/album.ape");
  EXPECT_EQ(GetCueAudioFileName(cue), dir + "/album.flac") << ".flac comes before .ape";
  Touch(dir + "/album.wav");
  EXPECT_EQ(GetCueAudioFileName(cue), dir + "/album.wav");
}

TEST_F(CueAudioFileTest, AFolderNamedLikeTheImageIsNotAnImage) {
  Write(cue, "FILE \"image.ape\" WAVE\n");
  std::filesystem::create_directories(dir + "/album.wav");
  EXPECT_EQ(GetCueAudioFileName(cue), dir + "/image.ape");
}

TEST_F(CueAudioFileTest, AbsolutePathIsTakenWhenItExists) {
  const std::string other = ScratchDir("cue_audio_file_other") + "/image.flac";
  Touch(other);
  Write(cue, "FILE \"" + other + "\" WAVE\n");
  EXPECT_EQ(GetCueAudioFileName(cue), other);
}

TEST_F(CueAudioFileTest, MissingAbsolutePathIsLookedUpBesideTheSheet) {
  Touch(dir + "/image.flac");
  for (const std::string name : {"D:\\music\\image.flac", "/nowhere/at/all/image.flac",
                                 "\\\\server\\share\\image.flac", "d:image.flac"}) {
    Write(cue, "FILE \"" + name + "\" WAVE\n");
    EXPECT_EQ(GetCueAudioFileName(cue), dir + "/image.flac") << name;
  }
}

TEST_F(CueAudioFileTest, MissingAbsolutePathWithNothingBesideStaysAsWritten) {
  Write(cue, "FILE \"D:\\music\\image.flac\" WAVE\n");
  EXPECT_EQ(GetCueAudioFileName(cue), "D:\\music\\image.flac");
}

TEST_F(CueAudioFileTest, OnlyWaveFileLinesBeforeTheFirstTrackCount) {
  Write(cue, "FILE \"a.mp3\" MP3\nFILE no quotes WAVE\nFILE \"b.wav\" WAVE\n");
  EXPECT_EQ(GetCueAudioFileName(cue), dir + "/b.wav") << "MP3 and unquoted lines are skipped";
  Write(cue, "FILE \"a.mp3\" MP3\n");
  EXPECT_EQ(GetCueAudioFileName(cue), "") << "no WAVE line and nothing beside the sheet";
  Write(cue, "  TRACK 01 AUDIO\nFILE \"late.wav\" WAVE\n");
  EXPECT_EQ(GetCueAudioFileName(cue), "") << "a FILE line after the first TRACK is not seen";
  Write(cue, "FILE \"\" WAVE\n");
  EXPECT_EQ(GetCueAudioFileName(cue), "") << "an empty name is not the sheet's folder";
}

TEST_F(CueAudioFileTest, ChineseNameFromAGb18030Sheet) {
  // 晴天.wav in GB18030, as a Chinese Windows editor saves it.
  Write(cue, "FILE \"\xC7\xE7\xCC\xEC.wav\" WAVE\r\nTRACK 01 AUDIO\r\n");
  EXPECT_EQ(GetCueAudioFileName(cue), dir + "/\xE6\x99\xB4\xE5\xA4\xA9.wav");
}

TEST_F(CueAudioFileTest, UnreadableSheetGivesNothing) {
  Touch(dir + "/gone.flac");
  EXPECT_EQ(GetCueAudioFileName(dir + "/gone.cue"), "")
      << "a missing sheet names no file, even with an image beside it";
  EXPECT_FALSE(CueHasSeveralFiles(dir + "/gone.cue"));
  EXPECT_EQ(GetCueAudioFileName(""), "");
}

TEST_F(CueAudioFileTest, SeveralFilesAreFoundAnywhereInTheSheet) {
  Write(cue, "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\n  file \"b.wav\" WAVE\n");
  EXPECT_TRUE(CueHasSeveralFiles(cue));
  Write(cue, "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nFILEX\nREM FILE \"b.wav\"\n");
  EXPECT_FALSE(CueHasSeveralFiles(cue));
  Write(cue, "FILE \"a.wav\" WAVE\n\tFILE\t\"b.wav\" WAVE\n");
  EXPECT_FALSE(CueHasSeveralFiles(cue)) << "only \"FILE \" with a space counts";
}

}  // namespace
