#include "audio/tags/AuTags.h"

#include <gtest/gtest.h>

#include "audio/core/Stream.h"
#include "audio/core/TextCodec.h"
#include "audio/tags/AudioTags.h"

namespace lirvo {
namespace {

TEST(TagContainer, IdsDifferingOnlyInCaseAddressTheSameValue) {
  TCommonTags tags;
  tags.SetValues("title", TTagValue::WideString("Song"));
  EXPECT_EQ(tags.AsWideString("TITLE"), "Song");
  EXPECT_EQ(tags.Title(), "Song");
  EXPECT_EQ(tags.IdCount(), 6);
}

TEST(TagContainer, WritingAnUndeclaredIdChangesNothing) {
  TCommonTags tags;
  tags.SetValues("Composer", TTagValue::WideString("Bach"));
  EXPECT_EQ(tags.IdCount(), 6);
  EXPECT_TRUE(tags.Values("Composer").IsNull());
  EXPECT_EQ(tags.AsString("Composer"), "");
  EXPECT_EQ(tags.AsInteger("Composer"), 0);
  EXPECT_TRUE(tags.Empty());
  EXPECT_FALSE(tags.Changed());
}

TEST(TagContainer, RewritingTheStoredValueLeavesEmptyAndChangedAlone) {
  TCommonTags tags;
  // The initial value is an empty UnicodeString; an empty WideString is the
  // same text, so nothing changes.
  tags.SetTitle("");
  EXPECT_TRUE(tags.Empty());
  EXPECT_FALSE(tags.Changed());
  tags.SetTitle("A");
  EXPECT_FALSE(tags.Empty());
  EXPECT_TRUE(tags.Changed());
  tags.Clear();
  EXPECT_TRUE(tags.Empty());
  EXPECT_TRUE(tags.Changed());  // Clear counts as a change and is never undone
  tags.SetTitle("A");
  tags.SetTitle("A");
  EXPECT_FALSE(tags.Empty());
}

TEST(TagContainer, VariantComparisonDecidesWhatCountsAsAChange) {
  struct Case {
    const char* name;
    TTagValue a, b;
    bool same;
  } cases[] = {
      {"null vs null", TTagValue(), TTagValue(), true},
      {"null vs empty text", TTagValue(), TTagValue::AnsiString(""), false},
      {"byte vs int", TTagValue::UInt8(12), TTagValue::Int32(12), true},
      {"word vs byte", TTagValue::UInt16(300), TTagValue::UInt8(44), false},
      {"ansi vs wide", TTagValue::AnsiString("x"), TTagValue::WideString("x"), true},
      {"case matters", TTagValue::WideString("x"), TTagValue::WideString("X"), false},
      {"number text", TTagValue::UInt8(7), TTagValue::AnsiString("7"), true},
      {"non-number text", TTagValue::UInt8(7), TTagValue::AnsiString("Jazz"), false},
      {"text 0 vs 0", TTagValue::WideString("0"), TTagValue::Int32(0), true},
      {"text 1 vs 0", TTagValue::WideString("1"), TTagValue::Int32(0), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SameTagValue(c.a, c.b), c.same) << c.name;
    EXPECT_EQ(SameTagValue(c.b, c.a), c.same) << c.name << " (swapped)";
  }
}

TEST(TagContainer, GetIdListsIdsInCaseInsensitiveSortedOrder) {
  TCommonTags tags;
  const char* expected[] = {"Album", "Artist", "Genre", "Title", "Track", "Year"};
  ASSERT_EQ(tags.IdCount(), 6);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(tags.GetId(i), expected[i]);
  EXPECT_EQ(tags.GetId(-1), "");
  EXPECT_EQ(tags.GetId(6), "");

  TVorbisTags vorbis;
  for (int i = 1; i < vorbis.IdCount(); ++i)
    EXPECT_LT(CompareText(vorbis.GetId(i - 1), vorbis.GetId(i)), 0) << i;
}

TEST(TagContainer, TypedReadsFollowTheStoredKind) {
  struct Case {
    const char* name;
    TTagValue value;
    int32_t asInteger;
    const char* asString;
    const char* asWide;
  } cases[] = {
      {"null", TTagValue(), 0, "", ""},
      {"uint8", TTagValue::UInt8(200), 200, "200", "200"},
      {"uint16", TTagValue::UInt16(1991), 1991, "1991", "1991"},
      {"int32", TTagValue::Int32(-5), -5, "-5", "-5"},
      {"wide number", TTagValue::WideString("12"), 12, "12", "12"},
      {"wide text", TTagValue::WideString("7/11"), 0, "7/11", "7/11"},
      {"ansi number", TTagValue::AnsiString("3"), 3, "3", "3"},
      {"unicode", TTagValue::UnicodeString("9"), 0, "", "9"},
  };
  for (const Case& c : cases) {
    TCommonTags tags;
    tags.SetValues("Track", c.value);
    EXPECT_EQ(tags.AsInteger("Track"), c.asInteger) << c.name;
    EXPECT_EQ(tags.AsString("Track"), c.asString) << c.name;
    EXPECT_EQ(tags.AsWideString("Track"), c.asWide) << c.name;
  }
}

TEST(CommonTags, FreshAndClearedContainersReadEmpty) {
  TCommonTags tags;
  EXPECT_EQ(tags.Values("Title").Kind(), TTagValueKind::UnicodeString);
  EXPECT_EQ(tags.Title(), "");
  EXPECT_EQ(tags.Track(), "");
  tags.SetTrack("4");
  tags.SetTitle("Song");
  EXPECT_EQ(tags.Values("Track").Kind(), TTagValueKind::AnsiString);
  EXPECT_EQ(tags.Values("Title").Kind(), TTagValueKind::WideString);
  tags.Clear();
  EXPECT_TRUE(tags.Values("Title").IsNull());
  EXPECT_EQ(tags.Title(), "");
  EXPECT_EQ(tags.Track(), "");
}

TEST(CommonTags, UnicodeTrackIsInvisibleToAsString) {
  // The playlist reads Track as a string: a UnicodeString value reads empty.
  TCommonTags tags;
  tags.SetValues("Track", TTagValue::UnicodeString("5"));
  EXPECT_EQ(tags.Track(), "");
  EXPECT_EQ(tags.AsWideString("Track"), "5");
}

TEST(TagAssignment, CopiesOnlyTheIdsBothClassesDeclare) {
  TAPEv2Tags ape;
  ape.SetTitle("Title");
  ape.SetArtist("Artist");
  ape.SetComposer("Composer");
  TCommonTags common;
  common.SetGenre("Rock");
  common.Assign(ape);
  EXPECT_EQ(common.Title(), "Title");
  EXPECT_EQ(common.Artist(), "Artist");
  EXPECT_EQ(common.Genre(), "");  // cleared first; Null in the source
  EXPECT_TRUE(common.Values("Genre").IsNull());
  EXPECT_EQ(common.IdCount(), 6);

  TAPEv2Tags back;
  common.AssignTo(back);
  EXPECT_EQ(back.Title(), "Title");
  EXPECT_EQ(back.Composer(), "");
}

TEST(TagAssignment, AssigningAContainerToItselfKeepsItsValues) {
  TCommonTags tags;
  tags.SetTitle("Keep");
  tags.Assign(tags);
  EXPECT_EQ(tags.Title(), "Keep");
  tags.AssignTo(tags);
  EXPECT_EQ(tags.Title(), "Keep");
}

TEST(TagAssignment, FromAnAllNullSourceLeavesTheCopyEmpty) {
  TVorbisTags vorbis;
  TCommonTags common;
  common.SetTitle("x");
  common.Assign(vorbis);
  EXPECT_TRUE(common.Empty());
  EXPECT_TRUE(common.Changed());
}

TEST(TagFileHooks, BaseOperationsAnswerByHandleValidity) {
  TCommonTags tags;
  tags.SetTitle("x");
  TMemoryStream stream;
  EXPECT_FALSE(tags.Presents(nullptr));
  EXPECT_TRUE(tags.Presents(&stream));
  EXPECT_FALSE(tags.ReadFromFile(nullptr));
  EXPECT_EQ(tags.Title(), "x");  // an invalid handle does not clear
  EXPECT_TRUE(tags.ReadFromFile(&stream));
  EXPECT_TRUE(tags.Empty());
  EXPECT_FALSE(tags.WriteToFile(nullptr, true));
  EXPECT_TRUE(tags.WriteToFile(&stream, true));
  EXPECT_EQ(stream.Size(), 0);
}

TEST(ApeTags, YearReadsThroughWideStringButTrackDoesNot) {
  TAPEv2Tags ape;
  EXPECT_EQ(ape.IdCount(), 25);
  ape.SetValues("Year", TTagValue::UnicodeString("2004"));
  ape.SetValues("Track", TTagValue::UnicodeString("2"));
  EXPECT_EQ(ape.Year(), "2004");
  EXPECT_EQ(ape.Track(), "");
  ape.SetYear("1999");
  EXPECT_EQ(ape.Values("Year").Kind(), TTagValueKind::AnsiString);
  EXPECT_EQ(ape.Values("EAN/UPC").Kind(), TTagValueKind::Null);
  ape.SetBarCode("123");
  EXPECT_EQ(ape.AsString("ean/upc"), "123");
}

TEST(ApeTags, ClearedContainerReadsEveryPropertyEmpty) {
  TAPEv2Tags ape;
  ape.SetTitle("t");
  ape.SetRecordDate("d");
  ape.SetSubTitle("s");
  ape.Clear();
  for (int i = 0; i < ape.IdCount(); ++i)
    EXPECT_EQ(ape.AsWideString(ape.GetId(i)), "") << i;
  EXPECT_EQ(ape.Title(), "");
  EXPECT_EQ(ape.RecordDate(), "");
}

TEST(VorbisTags, UpperAndLowerCaseNamesAddressTheSameValue) {
  TVorbisTags vorbis;
  EXPECT_EQ(vorbis.IdCount(), 12);
  vorbis.SetValues("TITLE", TTagValue::WideString("Silence"));
  EXPECT_EQ(vorbis.Title(), "Silence");
  vorbis.SetTrack("02/10");
  EXPECT_EQ(vorbis.AsWideString("TrackNumber"), "02/10");
  vorbis.SetAlbumPeak("0.9");
  EXPECT_EQ(vorbis.AsWideString(kVorbisAlbumPeak), "0.9");
  for (std::string_view id : kVorbisIds)
    EXPECT_FALSE(id.empty());
  vorbis.Clear();
  EXPECT_EQ(vorbis.Title(), "");
  EXPECT_EQ(vorbis.Track(), "");
}

}  // namespace
}  // namespace lirvo
