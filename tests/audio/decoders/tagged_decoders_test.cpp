// The real tagged inputs (every decoder deriving from TAuTaggedFileIn) read
// the common values of real files, and none of them carries a value of one
// file into the next file it opens.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "audio/decoders/AudioFLAC.h"
#include "audio/decoders/AudioMAC.h"
#include "audio/decoders/AudioWinMedia.h"
#include "common/TestPaths.h"

using namespace lirvo;
using namespace lirvo::test;

namespace {

using TMakeInput = std::function<std::unique_ptr<TAuTaggedFileIn>()>;

template <typename T>
TMakeInput Make() {
  return [] { return std::make_unique<T>(); };
}

// nullptr: the fixture's facts say nothing about that value.
struct TagCase {
  const char* Decoder;
  TMakeInput New;
  const char* File;
  const char* Title;
  const char* Artist;
  const char* Album;
  const char* Track;
  const char* Year;
  const char* Genre;
};

void ExpectValue(const std::string& Got, const char* Want, const char* What) {
  if (Want) {
    EXPECT_EQ(Got, Want) << What;
  }
}

void ExpectTags(TAuTaggedFileIn& In, const TagCase& C) {
  TCommonTags& t = In.CommonTags();
  ExpectValue(t.Title(), C.Title, "title");
  ExpectValue(t.Artist(), C.Artist, "artist");
  ExpectValue(t.Album(), C.Album, "album");
  ExpectValue(t.Track(), C.Track, "track");
  ExpectValue(t.Year(), C.Year, "year");
  ExpectValue(t.Genre(), C.Genre, "genre");
}

TEST(TaggedDecoders, EachDecoderReadsTheCommonValuesOfARealFile) {
  const TagCase cases[] = {
      {"FLAC", Make<TFLACIn>(), "silence-44-s.flac", "Silence", "piman", "Quod Libet Test Data",
       "02/10", "2004", "Silence"},
      {"FLAC", Make<TFLACIn>(), "no-tags.flac", "", "", "", "", "", ""},
      // "TitleXXXX" and its kin are what that file's tag really holds.
      {"APE", Make<TMACIn>(), "mac-399-id3v2.ape", "TitleXXXX", "ArtistXXXX", "AlbumXXXX", nullptr,
       nullptr, nullptr},
      {"APE", Make<TMACIn>(), "mac-399.ape", "", "", "", "", "", ""},
      {"WMA", Make<TWMIn>(), "silence-1.wma", "test", nullptr, nullptr, nullptr, nullptr, nullptr},
      {"WMA", Make<TWMIn>(), "lossless.wma", "", "", "", "", "", ""},
  };
  for (const TagCase& c : cases) {
    SCOPED_TRACE(std::string(c.Decoder) + " " + c.File);
    std::unique_ptr<TAuTaggedFileIn> in = c.New();
    in->SetFileName(FixturePath(std::string("audio/") + c.File));
    ASSERT_TRUE(in->Valid());
    ExpectTags(*in, c);
  }
}

// One input object opens a tagged file, then one without tags: nothing of
// the first survives, whichever of its containers the decoder filled.
TEST(TaggedDecoders, NoValueOfAnEarlierFileSurvivesIntoTheNext) {
  struct Case {
    const char* Decoder;
    TMakeInput New;
    const char* Tagged;
    const char* Untagged;
  };
  const Case cases[] = {
      {"FLAC", Make<TFLACIn>(), "silence-44-s.flac", "no-tags.flac"},
      {"APE", Make<TMACIn>(), "mac-399-id3v2.ape", "mac-399.ape"},
      {"WMA", Make<TWMIn>(), "silence-1.wma", "lossless.wma"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Decoder);
    std::unique_ptr<TAuTaggedFileIn> in = c.New();
    in->SetFileName(FixturePath(std::string("audio/") + c.Tagged));
    ASSERT_TRUE(in->Valid());
    ASSERT_NE(in->CommonTags().Title(), "") << "the tagged file has a title";
    // Played through, as the playlist does, before the next file.
    in->Init();
    in->Flush();
    in->SetFileName(FixturePath(std::string("audio/") + c.Untagged));
    ASSERT_TRUE(in->Valid());
    in->Init();
    TCommonTags& t = in->CommonTags();
    EXPECT_EQ(t.Title(), "");
    EXPECT_EQ(t.Artist(), "");
    EXPECT_EQ(t.Album(), "");
    EXPECT_EQ(t.Track(), "");
    EXPECT_EQ(t.Year(), "");
    EXPECT_EQ(t.Genre(), "");
    in->Flush();
  }
}

}  // namespace
