// Vorbis comments reach VorbisComments() and CommonTags(), and never survive
// into the next file.

#include <gtest/gtest.h>

#include "audio/decoders/AudioFLAC.h"
#include "common/TestPaths.h"
#include "tests/audio/decoders/FlacTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;

namespace {

TEST(FlacTags, LowerCaseCommentsFillVorbisCommentsAndCommonTags) {
  TFLACIn in;
  in.SetFileName(FixturePath("audio/silence-44-s.flac"));
  TVorbisTags& vc = in.VorbisComments();
  EXPECT_EQ(vc.Title(), "Silence");
  EXPECT_EQ(vc.Album(), "Quod Libet Test Data");
  EXPECT_EQ(vc.Track(), "02/10");
  EXPECT_EQ(vc.Date(), "2004");
  EXPECT_EQ(vc.Genre(), "Silence");
  EXPECT_EQ(vc.Artist(), "piman");  // the first of two artist comments
  EXPECT_EQ(vc.Disc(), "");
  TCommonTags& ct = in.CommonTags();
  EXPECT_EQ(ct.Title(), "Silence");
  EXPECT_EQ(ct.Album(), "Quod Libet Test Data");
  EXPECT_EQ(ct.Track(), "02/10");
  EXPECT_EQ(ct.Year(), "2004");
  EXPECT_EQ(ct.Genre(), "Silence");
  EXPECT_EQ(ct.Artist(), "piman");
}

// Two comment blocks, each with an upper-case ARTIST: the name matches
// without regard to case, and the second block does not replace the first.
TEST(FlacTags, UpperCaseNamesMatchAndTheFirstOfTwoBlocksWins) {
  TFLACIn in;
  in.SetFileName(FixturePath("audio/multiple-vc.flac"));
  EXPECT_EQ(in.VorbisComments().Artist(), "Artist 1");
  EXPECT_EQ(in.CommonTags().Artist(), "Artist 1");
  EXPECT_EQ(in.CommonTags().Title(), "");
}

TEST(FlacTags, ASecondFileWithoutTagsClearsTheFirstFilesValues) {
  TFLACIn in;
  in.SetFileName(FixturePath("audio/silence-44-s.flac"));
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.CommonTags().Title(), "Silence");
  in.SetFileName(FixturePath("audio/no-tags.flac"));
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.CommonTags().Title(), "");
  EXPECT_EQ(in.CommonTags().Year(), "");
  EXPECT_EQ(in.VorbisComments().Title(), "");
}

TEST(FlacTags, AnInvalidFileAfterATaggedOneLeavesNoStaleTags) {
  const std::string dir = ScratchDir("flac-tags-invalid");
  const std::string junk = dir + "/junk.flac";
  WriteFileBytes(junk, Bytes(5000, 0x5A));
  TFLACIn in;
  in.SetFileName(FixturePath("audio/silence-44-s.flac"));
  ASSERT_TRUE(in.Valid());
  in.SetFileName(junk);
  EXPECT_FALSE(in.Valid());
  EXPECT_EQ(in.CommonTags().Title(), "");
  EXPECT_EQ(in.CommonTags().Album(), "");
}

// Every one of the twelve names reaches its property, whatever its case in
// the file; a name the input does not know is ignored.
TEST(FlacTags, AllTwelveCommentNamesReachTheirProperties) {
  ASSERT_TRUE(HaveTool("metaflac")) << "metaflac is needed to tag the test file";
  const std::string dir = ScratchDir("flac-tags-twelve");
  const std::string path = MakeFlac(dir, "tagged", {44100, 2, 16, 0.5});
  ASSERT_FALSE(path.empty());
  const std::string cmd =
      "metaflac --set-tag='Title=T \xC3\xA9' --set-tag=ARTIST=Ar --set-tag=album=Al "
      "--set-tag=Date=1999 --set-tag=GENRE=Ge --set-tag=TrackNumber=3/9 "
      "--set-tag=DISCNUMBER=2 --set-tag=REPLAYGAIN_REFERENCE_LOUDNESS='89.0 dB' "
      "--set-tag=REPLAYGAIN_TRACK_GAIN='-7.03 dB' --set-tag=REPLAYGAIN_TRACK_PEAK=0.98 "
      "--set-tag=REPLAYGAIN_ALBUM_GAIN='-6.5 dB' --set-tag=REPLAYGAIN_ALBUM_PEAK=0.99 "
      "--set-tag=COMMENT=ignored " +
      Quote(path);
  ASSERT_TRUE(RunCommand(cmd));

  TFLACIn in;
  in.SetFileName(path);
  TVorbisTags& vc = in.VorbisComments();
  EXPECT_EQ(vc.Title(), "T \xC3\xA9");
  EXPECT_EQ(vc.Artist(), "Ar");
  EXPECT_EQ(vc.Album(), "Al");
  EXPECT_EQ(vc.Date(), "1999");
  EXPECT_EQ(vc.Genre(), "Ge");
  EXPECT_EQ(vc.Track(), "3/9");
  EXPECT_EQ(vc.Disc(), "2");
  EXPECT_EQ(vc.Reference(), "89.0 dB");
  EXPECT_EQ(vc.TrackGain(), "-7.03 dB");
  EXPECT_EQ(vc.TrackPeak(), "0.98");
  EXPECT_EQ(vc.AlbumGain(), "-6.5 dB");
  EXPECT_EQ(vc.AlbumPeak(), "0.99");
  EXPECT_EQ(in.CommonTags().Title(), "T \xC3\xA9");
  EXPECT_EQ(in.CommonTags().Track(), "3/9");
  EXPECT_EQ(in.CommonTags().Year(), "1999");
}

}  // namespace
