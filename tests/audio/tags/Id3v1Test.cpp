#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "audio/core/Stream.h"
#include "audio/tags/Id3Tags.h"
#include "common/TestPaths.h"

namespace lirvo {
namespace {

// A file of Lead bytes of audio followed by a 128-byte ID3v1 tag.
struct Id3v1Image {
  std::vector<uint8_t> bytes;
  explicit Id3v1Image(size_t Lead = 300) : bytes(Lead + 128, 0xAA) {
    std::memset(Tag(), 0, 128);
    std::memcpy(Tag(), "TAG", 3);
  }
  uint8_t* Tag() { return bytes.data() + bytes.size() - 128; }
  Id3v1Image& Field(size_t Offset, std::string_view Text) {
    std::memcpy(Tag() + Offset, Text.data(), Text.size());
    return *this;
  }
  Id3v1Image& Byte(size_t Offset, uint8_t Value) {
    Tag()[Offset] = Value;
    return *this;
  }
  TMemoryStream Stream() const { return TMemoryStream(bytes); }
};

TEST(Id3v1Read, ReadsEveryFieldAndLeavesPositionAtEnd) {
  Id3v1Image img;
  img.Field(3, "  Title  ").Field(33, "Artist").Field(63, "Album").Field(93, "1991");
  img.Field(97, "A comment").Byte(127, 43);
  TMemoryStream s = img.Stream();
  TId3v1Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(&s));
  EXPECT_EQ(tags.Title(), "Title");
  EXPECT_EQ(tags.Artist(), "Artist");
  EXPECT_EQ(tags.Album(), "Album");
  EXPECT_EQ(tags.Year(), 1991);
  EXPECT_EQ(tags.Comment(), "A comment");
  EXPECT_EQ(tags.Track(), 0);
  EXPECT_EQ(tags.GenreId(), 43);
  EXPECT_EQ(tags.Genre(), "Punk");
  EXPECT_EQ(s.Position(), s.Size());
  EXPECT_EQ(tags.Values("year").Kind(), TTagValueKind::UInt16);
  EXPECT_EQ(tags.Values("track").Kind(), TTagValueKind::UInt8);
  EXPECT_EQ(tags.Values("title").Kind(), TTagValueKind::AnsiString);
}

TEST(Id3v1Read, TrackByteOnlyWhenMarkedByByte125) {
  const std::string full30 = "abcdefghijklmnopqrstuvwxyz0123";
  struct Case {
    const char* name;
    uint8_t b125, b126;
    std::string comment;
    uint8_t track;
  } cases[] = {
      {"zero then 7: ID3v1.1 track", 0, 7, full30.substr(0, 28), 7},
      {"zero then zero: 30-byte comment", 0, 0, full30.substr(0, 28), 0},
      {"blank then 7: track", ' ', 7, full30.substr(0, 28), 7},
      {"blank then blank: 30-byte comment", ' ', ' ', full30.substr(0, 28), 0},
      {"text to the end: 30-byte comment", '2', '3', full30, 0},
  };
  for (const Case& c : cases) {
    Id3v1Image img;
    img.Field(97, full30.substr(0, 28)).Byte(125, c.b125).Byte(126, c.b126);
    if (c.b125 == '2') img.Field(97, full30);
    TMemoryStream s = img.Stream();
    TId3v1Tags tags;
    ASSERT_TRUE(tags.ReadFromFile(&s)) << c.name;
    EXPECT_EQ(tags.Comment(), c.comment) << c.name;
    EXPECT_EQ(tags.Track(), c.track) << c.name;
  }
}

TEST(Id3v1Read, StaleBytesAfterANulAreNotPartOfTheText) {
  Id3v1Image img;
  img.Field(3, std::string_view("\0\0Short\0old long title", 23));
  TMemoryStream s = img.Stream();
  TId3v1Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(&s));
  EXPECT_EQ(tags.Title(), "Short");
}

TEST(Id3v1Read, UnparsableOrNegativeYearReadsZero) {
  for (const char* year : {"19x1", "-1", "    "}) {
    Id3v1Image img;
    img.Field(93, year);
    TMemoryStream s = img.Stream();
    TId3v1Tags tags;
    ASSERT_TRUE(tags.ReadFromFile(&s));
    EXPECT_EQ(tags.Year(), 0) << year;
  }
}

TEST(Id3v1Read, Gb18030FieldsAreDecodedAndUtf8FieldsKept) {
  Id3v1Image img;
  img.Field(3, "\xD6\xD0\xCE\xC4").Field(33, "\xE4\xB8\xAD");
  TMemoryStream s = img.Stream();
  TId3v1Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(&s));
  EXPECT_EQ(tags.Title(), "\xE4\xB8\xAD\xE6\x96\x87");
  EXPECT_EQ(tags.Artist(), "\xE4\xB8\xAD");
}

TEST(Id3v1Read, NoTagClearsAndReportsFalse) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"empty file", {}},
      {"shorter than a tag", std::vector<uint8_t>(127, 'T')},
      {"no TAG marker", std::vector<uint8_t>(500, 0)},
  };
  for (Case& c : cases) {
    TMemoryStream s(c.bytes);
    TId3v1Tags tags;
    tags.SetTitle("stale");
    EXPECT_FALSE(tags.Presents(&s)) << c.name;
    EXPECT_FALSE(tags.ReadFromFile(&s)) << c.name;
    EXPECT_EQ(tags.Title(), "") << c.name;
  }
  TId3v1Tags tags;
  EXPECT_FALSE(tags.Presents(nullptr));
  EXPECT_FALSE(tags.ReadFromFile(nullptr));
}

TEST(Id3v1Presence, RestoresThePosition) {
  Id3v1Image img;
  TMemoryStream s = img.Stream();
  s.SetPosition(17);
  TId3v1Tags tags;
  EXPECT_TRUE(tags.Presents(&s));
  EXPECT_EQ(s.Position(), 17);
}

TEST(Id3v1Genre, OutOfTableGenreReadsAsOtherAndClearedAsBlues) {
  Id3v1Image img;
  img.Byte(127, 200);
  TMemoryStream s = img.Stream();
  TId3v1Tags tags;
  EXPECT_EQ(tags.GenreId(), 12);  // the initial value
  ASSERT_TRUE(tags.ReadFromFile(&s));
  EXPECT_EQ(tags.GenreId(), 12);
  EXPECT_EQ(tags.Genre(), "Other");
  EXPECT_EQ(tags.AsInteger("genre"), 200);
  tags.Clear();
  EXPECT_TRUE(tags.Values("genre").IsNull());
  EXPECT_EQ(tags.GenreId(), 0);
  EXPECT_EQ(tags.Genre(), "Blues");
  tags.SetValues("genre", TTagValue::Int32(-1));
  EXPECT_EQ(tags.GenreId(), 12);
}

TEST(Id3v1Genre, WritingANameMatchesTheTableIgnoringCaseAndBlanks) {
  struct Case {
    const char* name;
    int expected;
  } cases[] = {
      {"  jazz  ", 8},     {"BLUES", 0}, {"synthpop", 147}, {"Rock & Roll", 78},
      {"Not a genre", 30}, {"", 30},     {"   ", 30},       {"Jazz+Funk ", 29},
  };
  for (const Case& c : cases) {
    TId3v1Tags tags;
    tags.SetGenreId(30);
    tags.SetGenre(c.name);
    EXPECT_EQ(tags.GenreId(), c.expected) << '"' << c.name << '"';
  }
  EXPECT_EQ(kId3v1Genres.size(), 148u);
  EXPECT_EQ(kId3v1Genres[147], "Synthpop");
}

TEST(Id3v1Fixture, ReadsTheTagOfARealMp3) {
  TAuFileStream f(test::FixturePath("audio/ape-id3v1.mp3"), fmOpenRead);
  TId3v1Tags tags;
  EXPECT_TRUE(tags.Presents(&f));
  EXPECT_EQ(f.Position(), 0);
  ASSERT_TRUE(tags.ReadFromFile(&f));
  EXPECT_EQ(tags.Title(), "Title");
  EXPECT_EQ(tags.Artist(), "");
  EXPECT_EQ(tags.GenreId(), 12);  // genre byte 255
}

}  // namespace
}  // namespace lirvo
