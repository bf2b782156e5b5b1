// The APE tag and ID3v1 record readers on bytes built in memory: what they
// take, what they refuse, and that damaged sizes never lead outside the data.

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "audio/decoders/ApeTagReader.h"

using namespace lirvo;

namespace {

void PutLe32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

struct Item {
  std::string Key;
  std::string Value;
  uint32_t Flags = 0;
};

// Audio-like filler, then an APE tag (items and footer).
std::vector<uint8_t> WithApeTag(const std::vector<Item>& Items, uint32_t Version = 2000,
                                size_t Filler = 300) {
  std::vector<uint8_t> b(Filler, 0x11);
  std::vector<uint8_t> items;
  for (const Item& it : Items) {
    PutLe32(items, static_cast<uint32_t>(it.Value.size()));
    PutLe32(items, it.Flags);
    items.insert(items.end(), it.Key.begin(), it.Key.end());
    items.push_back(0);
    items.insert(items.end(), it.Value.begin(), it.Value.end());
  }
  b.insert(b.end(), items.begin(), items.end());
  const char id[] = "APETAGEX";
  b.insert(b.end(), id, id + 8);
  PutLe32(b, Version);
  PutLe32(b, static_cast<uint32_t>(items.size() + 32));
  PutLe32(b, static_cast<uint32_t>(Items.size()));
  PutLe32(b, 0x80000000u);
  for (int i = 0; i < 8; ++i)
    b.push_back(0);
  return b;
}

std::vector<uint8_t> Id3v1(const std::string& Title, const std::string& Comment, uint8_t Track,
                           bool V11 = true) {
  std::vector<uint8_t> r(128, 0);
  std::memcpy(r.data(), "TAG", 3);
  std::memcpy(r.data() + 3, Title.data(), std::min<size_t>(30, Title.size()));
  std::memcpy(r.data() + 33, "Artist", 6);
  std::memcpy(r.data() + 63, "Album", 5);
  std::memcpy(r.data() + 93, "1999", 4);
  std::memcpy(r.data() + 97, Comment.data(), std::min<size_t>(V11 ? 28 : 30, Comment.size()));
  if (V11) {
    r[125] = 0;
    r[126] = Track;
  }
  r[127] = 17;
  return r;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> A, const std::vector<uint8_t>& B) {
  A.insert(A.end(), B.begin(), B.end());
  return A;
}

TEST(ApeTagReader, EveryDeclaredIdIsTakenWholeAndKeysIgnoreCase) {
  const std::string longTitle(5000, 'T');
  TMemoryStream s(WithApeTag({{"TITLE", longTitle},
                              {"artist", "Artist A"},
                              {"Album", "Album"},
                              {"Year", "2004"},
                              {"Track", "3/12"},
                              {"Genre", "Rock"},
                              {"Comment", "c"},
                              {"Composer", "Comp"},
                              {"Debut album", "Debut"},
                              {"Record Location", "Here"},
                              {"EAN/UPC", "123"},
                              {"ISRC", "US-X"},
                              {"Unknown Key", "ignored"}}));
  TAPEv2Tags ape;
  TCommonTags common;
  ASSERT_TRUE(ReadApeFileTags(&s, ape, common));
  EXPECT_EQ(ape.Title(), longTitle);
  EXPECT_EQ(ape.Artist(), "Artist A");
  EXPECT_EQ(ape.Year(), "2004");
  EXPECT_EQ(ape.Track(), "3/12");
  EXPECT_EQ(ape.Genre(), "Rock");
  EXPECT_EQ(ape.Composer(), "Comp");
  EXPECT_EQ(ape.DebutAlbum(), "Debut");
  EXPECT_EQ(ape.RecordLocation(), "Here");
  EXPECT_EQ(ape.BarCode(), "123");
  EXPECT_EQ(ape.ISRC(), "US-X");
  EXPECT_EQ(common.Title(), longTitle);
  EXPECT_EQ(common.Artist(), "Artist A");
  EXPECT_EQ(common.Album(), "Album");
  EXPECT_EQ(common.Year(), "2004");
  EXPECT_EQ(common.Track(), "3/12");
  EXPECT_EQ(common.Genre(), "Rock");
}

TEST(ApeTagReader, BinaryItemsAreSkippedAndListsAreJoined) {
  TMemoryStream s(WithApeTag({{"Title", std::string("a\0b", 3)},
                              {"Artist", std::string("\x01\x02", 2), 1u << 1},
                              {"Album", "\xE4\xB8\xAD\xE6\x96\x87"}}));
  TAPEv2Tags ape;
  TCommonTags common;
  ASSERT_TRUE(ReadApeFileTags(&s, ape, common));
  EXPECT_EQ(ape.Title(), "a; b");
  EXPECT_EQ(ape.Artist(), "") << "a binary value is not text";
  EXPECT_EQ(ape.Album(), "\xE4\xB8\xAD\xE6\x96\x87") << "UTF-8 kept as it is";
}

TEST(ApeTagReader, TheApeTagIsFoundBeforeAnId3v1TagAndALyricsBlock) {
  std::vector<uint8_t> lyrics = {'L', 'Y', 'R', 'I', 'C', 'S', 'B', 'E', 'G', 'I', 'N'};
  std::string size = "000011";
  std::vector<uint8_t> bytes = WithApeTag({{"Title", "From APE"}});
  bytes = Concat(bytes, lyrics);
  bytes.insert(bytes.end(), size.begin(), size.end());
  const char end[] = "LYRICS200";
  bytes.insert(bytes.end(), end, end + 9);
  bytes = Concat(bytes, Id3v1("From ID3v1", "", 0));
  TMemoryStream s(bytes);
  TAPEv2Tags ape;
  TCommonTags common;
  ASSERT_TRUE(ReadApeFileTags(&s, ape, common));
  EXPECT_EQ(ape.Title(), "From APE");
}

struct Id3v1Case {
  const char* Name;
  bool V11;
  uint8_t Track;
  const char* Comment;
  const char* WantTrack;
  const char* WantComment;
};
// Test names show the case, not its bytes.
void PrintTo(const Id3v1Case& C, std::ostream* Os) {
  *Os << C.Name;
}

class Id3v1Fallback : public ::testing::TestWithParam<Id3v1Case> {};

TEST_P(Id3v1Fallback, RecordFieldsFillTheContainers) {
  const Id3v1Case& c = GetParam();
  TMemoryStream s(
      Concat(std::vector<uint8_t>(500, 0x22), Id3v1("Title  ", c.Comment, c.Track, c.V11)));
  TAPEv2Tags ape;
  TCommonTags common;
  ASSERT_TRUE(ReadApeFileTags(&s, ape, common));
  EXPECT_EQ(ape.Title(), "Title") << "padding is not part of the text";
  EXPECT_EQ(ape.Artist(), "Artist");
  EXPECT_EQ(ape.Album(), "Album");
  EXPECT_EQ(ape.Year(), "1999");
  EXPECT_EQ(ape.Comment(), c.WantComment);
  EXPECT_EQ(ape.Track(), c.WantTrack);
  EXPECT_EQ(common.Track(), c.WantTrack);
  EXPECT_EQ(common.Title(), "Title");
  EXPECT_EQ(common.Genre(), "") << "the record's genre byte is not shown";
}

INSTANTIATE_TEST_SUITE_P(
    Records, Id3v1Fallback,
    ::testing::Values(Id3v1Case{"v11_track7", true, 7, "short", "7", "short"},
                      Id3v1Case{"v11_no_track", true, 0, "short", "", "short"},
                      Id3v1Case{"v10_full_comment", false, 0, "123456789012345678901234567890", "",
                                "123456789012345678901234567890"}),
    [](const ::testing::TestParamInfo<Id3v1Case>& i) { return std::string(i.param.Name); });

TEST(ApeTagReader, Id3v1TextInTheSystemCodePageIsDecoded) {
  // "中文" in GB18030, which is not valid UTF-8.
  TMemoryStream s(Id3v1("\xD6\xD0\xCE\xC4", "", 0));
  TAPEv2Tags ape;
  TCommonTags common;
  ASSERT_TRUE(ReadApeFileTags(&s, ape, common));
  EXPECT_EQ(common.Title(), "\xE4\xB8\xAD\xE6\x96\x87");
}

TEST(ApeTagReader, AFileWithoutTagsLeavesEverythingEmpty) {
  TMemoryStream s(std::vector<uint8_t>(4000, 0x33));
  TAPEv2Tags ape;
  TCommonTags common;
  common.SetTitle("stale");
  EXPECT_FALSE(ReadApeFileTags(&s, ape, common));
  EXPECT_TRUE(ape.Empty());
  EXPECT_EQ(common.Title(), "");
}

TEST(ApeTagReader, DamagedSizesAreRefusedOrCutWithoutReadingOutside) {
  struct Case {
    const char* Name;
    std::vector<uint8_t> Bytes;
    bool WantTag;
    size_t WantItems;
  };
  std::vector<Case> cases;
  {
    auto b = WithApeTag({{"Title", "abc"}});
    // Tag size larger than the file.
    b[b.size() - 32 + 12] = 0xFF;
    b[b.size() - 32 + 15] = 0x7F;
    cases.push_back({"size_beyond_file", b, false, 0});
  }
  {
    auto b = WithApeTag({{"Title", "abc"}});
    b[b.size() - 32 + 12] = 10;  // below the footer's own size
    b[b.size() - 32 + 13] = 0;
    cases.push_back({"size_below_footer", b, false, 0});
  }
  {
    auto b = WithApeTag({{"Title", "abc"}, {"Artist", "def"}});
    b[b.size() - 32 + 16] = 0xFF;  // item count far too large
    b[b.size() - 32 + 19] = 0xFF;
    cases.push_back({"count_too_large", b, true, 2});
  }
  {
    auto b = WithApeTag({{"Title", "abc"}, {"Artist", "def"}});
    // First item's value size claims more than the tag holds.
    const size_t itemStart = b.size() - 32 - (8 + 6 + 3) - (8 + 7 + 3);
    b[itemStart + 3] = 0x7F;
    cases.push_back({"value_too_long", b, true, 0});
  }
  {
    auto b = WithApeTag({{"Title", "abc"}});
    const size_t itemStart = b.size() - 32 - (8 + 6 + 3);
    for (size_t i = itemStart + 8; i < b.size() - 32; ++i)
      b[i] = 'k';  // no key terminator
    cases.push_back({"unterminated_key", b, true, 0});
  }
  cases.push_back({"footer_only", WithApeTag({}, 2000, 0), true, 0});
  cases.push_back({"shorter_than_footer", {'A', 'P', 'E'}, false, 0});
  cases.push_back({"empty", {}, false, 0});
  for (const Case& c : cases) {
    TMemoryStream s(c.Bytes);
    TApeTag tag;
    EXPECT_EQ(ReadApeTag(&s, tag), c.WantTag) << c.Name;
    EXPECT_EQ(tag.Items.size(), c.WantItems) << c.Name;
    TAPEv2Tags ape;
    TCommonTags common;
    ReadApeFileTags(&s, ape, common);
    TId3v1Record rec;
    MakeId3v1Record(&s, rec);
  }
}

TEST(ApeTagReader, TheRecordExportCutsTextsOnCharacterBoundaries) {
  // 11 three-byte characters are 33 bytes: the title keeps 10 of them.
  std::string title;
  for (int i = 0; i < 11; ++i)
    title += "\xE4\xB8\xAD";
  TMemoryStream s(WithApeTag({{"Title", title}, {"Track", "7/12"}, {"Genre", "rock"}}));
  TId3v1Record rec;
  ASSERT_TRUE(MakeId3v1Record(&s, rec));
  EXPECT_EQ(std::memcmp(rec.Header, "TAG", 3), 0);
  EXPECT_EQ(std::string(rec.Title, strnlen(rec.Title, 30)), title.substr(0, 30));
  EXPECT_EQ(rec.Track, 7);
  EXPECT_EQ(rec.Genre, 17) << "genre names map to their number";
}

}  // namespace
