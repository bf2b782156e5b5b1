#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "audio/core/Stream.h"
#include "audio/tags/AudioTags.h"
#include "common/TestPaths.h"

namespace lirvo {
namespace {

using Bytes = std::string;

// One frame: id, then the size in the version's layout, then the data.
Bytes Frame(int Version, std::string_view Id, std::string_view Data, uint32_t SizeOverride = ~0u) {
  const uint32_t n = SizeOverride != ~0u ? SizeOverride : static_cast<uint32_t>(Data.size());
  Bytes f(Id);
  if (Version == 2) {
    f += {static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
  } else if (Version == 4) {
    f += {static_cast<char>((n >> 21) & 0x7F),
          static_cast<char>((n >> 14) & 0x7F),
          static_cast<char>((n >> 7) & 0x7F),
          static_cast<char>(n & 0x7F),
          0,
          0};
  } else {
    f += {static_cast<char>(n >> 24),
          static_cast<char>(n >> 16),
          static_cast<char>(n >> 8),
          static_cast<char>(n),
          0,
          0};
  }
  return f + Bytes(Data);
}

// A complete tag: header (size sync-safe) over Body plus Padding zero bytes.
Bytes Tag(int Version, const Bytes& Body, size_t Padding = 16, uint8_t Flags = 0) {
  const size_t n = Body.size() + Padding;
  Bytes h = {'I',
             'D',
             '3',
             static_cast<char>(Version),
             0,
             static_cast<char>(Flags),
             static_cast<char>((n >> 21) & 0x7F),
             static_cast<char>((n >> 14) & 0x7F),
             static_cast<char>((n >> 7) & 0x7F),
             static_cast<char>(n & 0x7F)};
  return h + Body + Bytes(Padding, '\0');
}

Bytes Latin(std::string_view Text) {
  return Bytes(1, '\0') + Bytes(Text);
}
Bytes Utf8(std::string_view Text) {
  return Bytes(1, '\3') + Bytes(Text);
}
Bytes Utf16(std::string_view Mark, std::u16string_view Text, bool BigEndian = false) {
  Bytes b = Bytes(1, '\1') + Bytes(Mark);
  for (char16_t c : Text) {
    const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
    b += BigEndian ? Bytes{hi, lo} : Bytes{lo, hi};
  }
  return b;
}

TMemoryStream StreamOf(const Bytes& B) {
  return TMemoryStream(B.data(), B.size());
}

TEST(Id3v2Read, ReadsTextFramesAndLeavesPositionAfterTheTag) {
  const Bytes tag = Tag(3, Frame(3, "TIT2", Latin("Title")) + Frame(3, "TPE1", Utf8("Artist")) +
                               Frame(3, "TRCK", Latin("7/11")) + Frame(3, "TYER", Latin("1991")) +
                               Frame(3, "TCON", Utf16("\xFF\xFE", u"Punk")));
  TMemoryStream s = StreamOf(tag + "audio");
  TId3v2Tags tags;
  EXPECT_TRUE(tags.Presents(&s));
  EXPECT_EQ(s.Position(), 0);
  ASSERT_TRUE(tags.ReadFromFile(&s));
  EXPECT_TRUE(tags.IsNew());
  EXPECT_EQ(tags.Title(), "Title");
  EXPECT_EQ(tags.Values("TIT2").Kind(), TTagValueKind::AnsiString);
  EXPECT_EQ(tags.Artist(), "Artist");
  EXPECT_EQ(tags.Values("TPE1").Kind(), TTagValueKind::WideString);
  EXPECT_EQ(tags.Track(), "7/11");
  EXPECT_EQ(tags.Year(), "1991");
  EXPECT_EQ(tags.Genre(), "Punk");
  EXPECT_EQ(s.Position(), static_cast<int64_t>(tag.size()));
}

TEST(Id3v2Read, Version22SwitchesThePropertiesToThreeLetterIds) {
  const Bytes tag = Tag(2, Frame(2, "TT2", Latin("Old")) + Frame(2, "TIT2", Latin("ignored")));
  TMemoryStream s = StreamOf(tag);
  TId3v2Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(&s));
  EXPECT_FALSE(tags.IsNew());
  EXPECT_EQ(tags.Title(), "Old");
  EXPECT_EQ(tags.AsWideString("TT2"), "Old");
  EXPECT_TRUE(tags.Values("TIT2").IsNull());
  tags.SetArtist("Someone");
  EXPECT_EQ(tags.AsWideString("TP1"), "Someone");
  EXPECT_TRUE(tags.Values("TPE1").IsNull());
}

TEST(Id3v2Read, FrameIdsOfTheOtherVersionAreIgnored) {
  const Bytes tag = Tag(3, Frame(3, "TT2x", Latin("x")) + Frame(3, "tit2", Latin("y")));
  TMemoryStream s = StreamOf(tag);
  TId3v2Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(&s));
  EXPECT_TRUE(tags.Empty());
}

TEST(Id3v2Read, Utf16TextHandlesMarksOddLengthsAndSurrogates) {
  struct Case {
    const char* name;
    Bytes data;
    std::string expected;
  } cases[] = {
      {"FF FE mark skipped", Utf16("\xFF\xFE", u"Ti"), "Ti"},
      {"no mark: from position 1", Utf16("", u"Ti"), "Ti"},
      {"FE FF mark: big-endian", Utf16("\xFE\xFF", u"A", true), "A"},
      {"stops at the first zero unit", Utf16("\xFF\xFE", std::u16string(u"Ab\0Cd", 5)), "Ab"},
      {"odd trailing byte dropped", Utf16("\xFF\xFE", u"Ab") + "x", "Ab"},
      {"only the mark", Bytes("\x01\xFF\xFE", 3), ""},
      {"mark cut short", Bytes("\x01\xFF", 2), ""},
      {"surrogate pair", Utf16("\xFF\xFE", u"\U0001F3B5"), "\xF0\x9F\x8E\xB5"},
      {"lone surrogate",
       Utf16("\xFF\xFE",
             u"\xD83C"
             u"A"),
       "\xEF\xBF\xBD"
       "A"},
  };
  for (const Case& c : cases) {
    for (int version : {2, 3, 4}) {
      const char* id = version == 2 ? "TT2" : "TIT2";
      TMemoryStream s = StreamOf(Tag(version, Frame(version, id, c.data)));
      TId3v2Tags tags;
      ASSERT_TRUE(tags.ReadFromFile(&s)) << c.name;
      EXPECT_EQ(tags.Title(), c.expected) << c.name << " v2." << version;
      EXPECT_EQ(tags.Values(id).Kind(), TTagValueKind::WideString) << c.name;
    }
  }
}

TEST(Id3v2Read, EncodingsZeroAndThreeAndOthers) {
  struct Case {
    const char* name;
    Bytes data;
    bool stored;
    std::string expected;
  } cases[] = {
      {"latin up to zero", Latin(Bytes("One\0Two", 7)), true, "One"},
      {"GB18030 bytes decoded", Latin("\xD6\xD0\xCE\xC4"), true, "\xE4\xB8\xAD\xE6\x96\x87"},
      {"UTF-8 kept", Utf8("\xE4\xB8\xAD"), true, "\xE4\xB8\xAD"},
      {"bad UTF-8 replaced", Utf8("a\xFF"), true, "a\xEF\xBF\xBD"},
      {"encoding 2 is big-endian UTF-16", Bytes("\x02\0T", 3), true, "T"},
      {"encoding 9 skipped", Bytes("\x09T", 2), false, ""},
      {"only the encoding byte", Bytes(1, '\0'), true, ""},
  };
  for (const Case& c : cases) {
    TMemoryStream s = StreamOf(Tag(3, Frame(3, "TALB", c.data)));
    TId3v2Tags tags;
    ASSERT_TRUE(tags.ReadFromFile(&s)) << c.name;
    EXPECT_EQ(tags.Album(), c.expected) << c.name;
    EXPECT_EQ(!tags.Values("TALB").IsNull(), c.stored) << c.name;
  }
}

// Text in the byte orders and encodings writers use, the extended headers of
// 2.3 and 2.4, and the 2.4 recording time as the year.
TEST(Id3v2Read, ByteOrdersExtendedHeadersAndRecordingTime) {
  const Bytes title = Frame(3, "TIT2", Latin("T"));
  const Bytes title4 = Frame(4, "TIT2", Latin("T"));
  struct Case {
    const char* name;
    int version;
    uint8_t flags;
    Bytes body;
    std::string title, year;
  } cases[] = {
      {"UTF-16 FF FE", 3, 0, Frame(3, "TIT2", Utf16("\xFF\xFE", u"Ab\u00E9")), "Ab\xC3\xA9", ""},
      {"UTF-16 FE FF", 3, 0, Frame(3, "TIT2", Utf16("\xFE\xFF", u"Ab\u00E9", true)), "Ab\xC3\xA9",
       ""},
      {"UTF-16 FE FF, 2.4", 4, 0, Frame(4, "TIT2", Utf16("\xFE\xFF", u"\u4E2D", true)),
       "\xE4\xB8\xAD", ""},
      {"UTF-16 FE FF ends at zero", 3, 0,
       Frame(3, "TIT2", Utf16("\xFE\xFF", std::u16string(u"Ab\0Cd", 5), true)), "Ab", ""},
      {"UTF-16BE without mark", 4, 0,
       Frame(4, "TIT2", Bytes(1, '\2') + Bytes("\0A\x4E\x2D\0\0", 6)), "A\xE4\xB8\xAD", ""},
      {"UTF-16BE surrogate pair", 4, 0,
       Frame(4, "TIT2", Bytes(1, '\2') + Bytes("\xD8\x3C\xDF\xB5", 4)), "\xF0\x9F\x8E\xB5", ""},
      {"2.3 extended header (6 bytes)", 3, 0x40, Bytes("\0\0\0\6\0\0\0\0\0\0", 10) + title, "T",
       ""},
      {"2.3 extended header with CRC", 3, 0x40,
       Bytes("\0\0\0\x0A\x80\0\0\0\0\0\1\2\3\4", 14) + title, "T", ""},
      {"2.4 extended header", 4, 0x40, Bytes("\0\0\0\6\1\0", 6) + title4, "T", ""},
      {"2.4 extended header, sync-safe size", 4, 0x40,
       Bytes("\0\0\1\0\1\0", 6) + Bytes(122, 'x') + title4, "T", ""},
      {"extended header larger than the tag", 3, 0x40, Bytes("\0\x7F\0\0\0\0", 6) + title, "", ""},
      {"2.4 extended header smaller than its size field", 4, 0x40, Bytes("\0\0\0\2", 4) + title4,
       "", ""},
      {"2.4 extended header, size not sync-safe", 4, 0x40, Bytes("\0\0\0\x86\1\0", 6) + title4, "",
       ""},
      {"2.4 TDRC date", 4, 0, Frame(4, "TDRC", Latin("2010-05-03T10:00")) + title4, "T", "2010"},
      {"2.4 TDRC year only, UTF-8", 4, 0, Frame(4, "TDRC", Utf8("1999")), "", "1999"},
      {"2.4 TDRC UTF-16", 4, 0, Frame(4, "TDRC", Utf16("\xFE\xFF", u"2001-01", true)), "", "2001"},
      {"2.4 TDRC not a date kept", 4, 0, Frame(4, "TDRC", Latin("circa 1970")), "", "circa 1970"},
  };
  for (const Case& c : cases) {
    const Bytes tag = Tag(c.version, c.body, 16, c.flags);
    TMemoryStream s = StreamOf(tag + "audio");
    TId3v2Tags tags;
    ASSERT_TRUE(tags.ReadFromFile(&s)) << c.name;
    EXPECT_EQ(tags.Title(), c.title) << c.name;
    EXPECT_EQ(tags.Year(), c.year) << c.name;
    EXPECT_EQ(s.Position(), static_cast<int64_t>(tag.size())) << c.name;
  }
  // An extended header flag on a 2.2 tag means compression: no header is
  // skipped, and the frames are not read as if one were.
  const Bytes v22 = Tag(2, Frame(2, "TT2", Latin("Old")), 16, 0x40);
  TMemoryStream s22 = StreamOf(v22);
  TId3v2Tags tags22;
  ASSERT_TRUE(tags22.ReadFromFile(&s22));
  EXPECT_EQ(tags22.Title(), "Old");
}

TEST(Id3v2Read, CommentIsSkippedLinkKeepsDescriptionLaterFrameWins) {
  const Bytes body = Frame(3, "COMM", Latin("eng\0text")) +
                     Frame(3, "WXXX", Latin(Bytes("desc\0http://x", 13))) +
                     Frame(3, "TIT2", Latin("First")) + Frame(3, "TIT2", Latin("Second"));
  TMemoryStream s = StreamOf(Tag(3, body));
  TId3v2Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(&s));
  EXPECT_TRUE(tags.Values("COMM").IsNull());
  EXPECT_EQ(tags.Link(), "desc");
  EXPECT_EQ(tags.Title(), "Second");
}

TEST(Id3v2Read, Version24FrameSizesAreSyncSafe) {
  // A 200-byte frame before the title: read as a plain number its size would
  // be 328 and the title would be lost.
  const Bytes body = Frame(4, "TXXX", Latin(Bytes(199, 'x'))) + Frame(4, "TIT2", Latin("After"));
  TMemoryStream s = StreamOf(Tag(4, body));
  TId3v2Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(&s));
  EXPECT_EQ(tags.Title(), "After");
}

TEST(Id3v2Read, Version23FrameSizesArePlain) {
  const Bytes body = Frame(3, "TXXX", Latin(Bytes(199, 'x'))) + Frame(3, "TIT2", Latin("After"));
  TMemoryStream s = StreamOf(Tag(3, body));
  TId3v2Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(&s));
  EXPECT_EQ(tags.Title(), "After");
}

TEST(Id3v2Read, DamagedFramesEndTheWalkButTheTagStillCounts) {
  struct Case {
    const char* name;
    Bytes body;
    size_t padding;
    std::string title;
  } cases[] = {
      {"frame larger than the tag",
       Frame(3, "TIT2", Latin("A")) + Frame(3, "TALB", Latin("B"), 0x7FFFFFF0), 16, "A"},
      {"huge size on the first frame", Frame(3, "TIT2", Latin("A"), 0xFFFFFFFE), 16, ""},
      {"frame running past the tag end", Frame(3, "TIT2", Latin("Title"), 20), 0, ""},
      {"lower-case id stops", Frame(3, "xIT2", Latin("A")) + Frame(3, "TIT2", Latin("B")), 16, ""},
      {"zero-size frame is skipped", Frame(3, "TALB", "") + Frame(3, "TIT2", Latin("B")), 16, "B"},
      {"header ending at the tag end", Frame(3, "TIT2", Latin("A")) + Bytes("TALB\0\0\0\5\0\0", 10),
       0, "A"},
      {"extended header is not skipped", Bytes("\0\0\0\6\0\0", 6) + Frame(3, "TIT2", Latin("A")),
       16, ""},
  };
  for (const Case& c : cases) {
    const Bytes tag = Tag(3, c.body, c.padding);
    TMemoryStream s = StreamOf(tag + "after");
    TId3v2Tags tags;
    ASSERT_TRUE(tags.ReadFromFile(&s)) << c.name;
    EXPECT_EQ(tags.Title(), c.title) << c.name;
    EXPECT_EQ(s.Position(), static_cast<int64_t>(tag.size())) << c.name;
  }
}

TEST(Id3v2Read, TagLongerThanTheFileIsNotWalked) {
  const Bytes frame = Frame(3, "TIT2", Latin("A"));
  Bytes tag = Tag(3, frame, 4000);
  tag.resize(100);  // the header claims far more than the file holds
  TMemoryStream s = StreamOf(tag);
  TId3v2Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(&s));
  EXPECT_EQ(tags.Title(), "");
  EXPECT_EQ(s.Position(), static_cast<int64_t>(10 + frame.size() + 4000));
}

TEST(Id3v2Header, RejectsWhatIsNotATag) {
  const Bytes good = Tag(3, Frame(3, "TIT2", Latin("A")));
  struct Case {
    const char* name;
    size_t offset;
    char value;
    bool valid;
  } cases[] = {
      {"good", 0, 'I', true},
      {"not ID3", 0, 'X', false},
      {"version 5", 3, 5, false},
      {"version 1", 3, 1, false},
      {"revision FF", 4, '\xFF', false},
      {"size byte 0x80", 7, '\x80', false},
      {"size byte 0xFF", 9, '\xFF', false},
      {"v2.3 unknown flag", 5, 0x10, false},
      {"v2.3 known flags", 5, '\xE0', true},
  };
  for (const Case& c : cases) {
    Bytes b = good;
    b[c.offset] = c.value;
    TMemoryStream s = StreamOf(b);
    TId3v2Tags tags;
    EXPECT_EQ(tags.Presents(&s), c.valid) << c.name;
    EXPECT_EQ(s.Position(), 0) << c.name;
    EXPECT_EQ(tags.ReadFromFile(&s), c.valid) << c.name;
    if (!c.valid) {
      EXPECT_EQ(s.Position(), 10) << c.name;
    }
  }
  struct FlagCase {
    int version;
    uint8_t flags;
    bool valid;
  } flagCases[] = {{2, 0xC0, true},  {2, 0x20, false}, {3, 0xE0, true},
                   {3, 0x10, false}, {4, 0xF0, true},  {4, 0x08, false}};
  for (const FlagCase& c : flagCases) {
    TMemoryStream s = StreamOf(Tag(c.version, "", 4, c.flags));
    TId3v2Tags tags;
    EXPECT_EQ(tags.Presents(&s), c.valid) << c.version << " " << int(c.flags);
  }
  TId3v2Tags tags;
  TMemoryStream shortFile = StreamOf("ID3\3\0");
  EXPECT_FALSE(tags.ReadFromFile(&shortFile));
  EXPECT_FALSE(tags.Presents(nullptr));
  EXPECT_FALSE(tags.ReadFromFile(nullptr));
}

TEST(Id3v2Header, FooterAddsTenBytesToTheTagSize) {
  const Bytes tag =
      Tag(4, Frame(4, "TIT2", Latin("A")), 4, 0x10) + Bytes("3DI\4\0\x10\0\0\0\x0F", 10);
  TMemoryStream s = StreamOf(tag + "mp3");
  TId3v2Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(&s));
  EXPECT_EQ(tags.Title(), "A");
  EXPECT_EQ(s.Position(), static_cast<int64_t>(tag.size()));
}

TEST(Id3v2Read, ReadingAgainClearsTheOldValues) {
  TMemoryStream withTitle = StreamOf(Tag(3, Frame(3, "TIT2", Latin("A"))));
  TMemoryStream withAlbum = StreamOf(Tag(3, Frame(3, "TALB", Latin("B"))));
  TId3v2Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(&withTitle));
  ASSERT_TRUE(tags.ReadFromFile(&withAlbum));
  EXPECT_EQ(tags.Title(), "");
  EXPECT_EQ(tags.Album(), "B");
}

TEST(Id3v2Fixture, ReadsBothTagsOfAFileWithTwo) {
  TAuFileStream f(test::FixturePath("audio/duplicate_id3v2.mp3"), fmOpenRead);
  TId3v2Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(&f));
  EXPECT_EQ(tags.Title(), "TitleXXXX");
  EXPECT_EQ(tags.Artist(), "ArtistXXXX");
  EXPECT_EQ(tags.Album(), "AlbumXXXX");
  EXPECT_EQ(f.Position(), 3943);
  // The second tag (2.4) follows directly.
  ASSERT_TRUE(tags.ReadFromFile(&f));
  EXPECT_EQ(tags.Title(), "Jo Ones Ugly After 2 AM");
  EXPECT_EQ(tags.Track(), "7/11");
  EXPECT_EQ(tags.Genre(), "Punk");
  EXPECT_EQ(tags.Album(), "All Fired Up");
  EXPECT_FALSE(tags.ReadFromFile(&f));
}

TEST(Id3v2Fixture, ReadsAVersion22Tag) {
  TAuFileStream f(test::FixturePath("audio/id3v22-tda.mp3"), fmOpenRead);
  TId3v2Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(&f));
  EXPECT_FALSE(tags.IsNew());
  EXPECT_EQ(tags.Track(), "1");
  EXPECT_EQ(tags.Year(), "2010");
  EXPECT_EQ(f.Position(), 512);
}

TEST(Id3v2Fixture, ReadsUnusualFramesOfA24Tag) {
  TAuFileStream f(test::FixturePath("audio/rare_frames.mp3"), fmOpenRead);
  TId3v2Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(&f));
  EXPECT_EQ(tags.Genre(), "13");
  EXPECT_EQ(tags.Comment(), "");
  // Two link frames: the second, with an empty description, replaces the first.
  EXPECT_EQ(tags.Link(), "");
  EXPECT_FALSE(tags.Values("WXXX").IsNull());
}

TEST(Id3v2Fixture, ApeFileWithLeadingTag) {
  TAuFileStream f(test::FixturePath("audio/mac-399-id3v2.ape"), fmOpenRead);
  TId3v2Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(&f));
  EXPECT_EQ(tags.Title(), "TitleXXXX");
}

// Every container reader over every shared fixture, damaged ones included:
// no crash, no exception, and the position lands inside what was claimed.
TEST(TagReadersOnFixtures, NeverFailOnDamagedOrForeignFiles) {
  int files = 0;
  for (const char* dir : {"bad", "audio"}) {
    for (const auto& entry : std::filesystem::directory_iterator(test::FixturePath(dir))) {
      if (!entry.is_regular_file() || entry.path().extension() == ".md") continue;
      ++files;
      TAuFileStream f(entry.path().string(), fmOpenRead);
      TId3v1Tags v1;
      TId3v2Tags v2;
      EXPECT_NO_THROW({
        v1.ReadFromFile(&f);
        f.SetPosition(0);
        while (v2.ReadFromFile(&f)) {
        }
      }) << entry.path();
    }
  }
  EXPECT_GT(files, 20);
  TAuFileStream bad(test::FixturePath("bad/excessive_alloc.mp3"), fmOpenRead);
  TId3v2Tags v2;
  EXPECT_TRUE(v2.ReadFromFile(&bad));  // the header is valid; the tag runs past the file
  EXPECT_EQ(v2.Title(), "");
}

}  // namespace
}  // namespace lirvo
