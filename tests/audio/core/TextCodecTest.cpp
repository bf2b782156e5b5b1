#include "audio/core/TextCodec.h"

#include <gtest/gtest.h>

#include <string>

namespace lirvo {
namespace {

TEST(Utf8Validity, RejectsEveryKindOfMalformedSequence) {
  struct Case {
    const char* name;
    std::string bytes;
    bool valid;
  } cases[] = {
      {"empty", "", true},
      {"ascii", "Title 01", true},
      {"two-byte", "caf\xC3\xA9", true},
      {"three-byte", "\xE4\xB8\xAD\xE6\x96\x87", true},
      {"four-byte", "\xF0\x9F\x8E\xB5", true},
      {"literal U+FFFD", "\xEF\xBF\xBD", true},
      {"stray continuation", "a\x80", false},
      {"truncated at end", "\xE4\xB8", false},
      {"overlong slash", "\xC0\xAF", false},
      {"overlong three-byte", "\xE0\x80\xAF", false},
      {"surrogate", "\xED\xA0\x80", false},
      {"above U+10FFFF", "\xF4\x90\x80\x80", false},
      {"byte F5", "\xF5\x80\x80\x80", false},
      {"GB18030 text", "\xD6\xD0\xCE\xC4", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << c.name;
}

TEST(AnsiDecoding, KeepsValidUtf8AndDecodesOtherBytesAsGb18030) {
  EXPECT_EQ(AnsiToUtf8("Title"), "Title");
  EXPECT_EQ(AnsiToUtf8("\xE4\xB8\xAD\xE6\x96\x87"), "\xE4\xB8\xAD\xE6\x96\x87");  // already UTF-8
  // Two-byte (GBK range) and four-byte GB18030 sequences: "中文" and U+1F3B5.
  EXPECT_EQ(AnsiToUtf8("\xD6\xD0\xCE\xC4"), "\xE4\xB8\xAD\xE6\x96\x87");
  EXPECT_EQ(AnsiToUtf8("a\x94\x39\xC1\x39z"), "a\xF0\x9F\x8E\xB5z");
}

TEST(AnsiDecoding, InvalidGb18030NeverThrowsAndBecomesReplacementChars) {
  const std::string fffd = "\xEF\xBF\xBD";
  // 0xFF starts no sequence; a lead byte at the very end is truncated.
  EXPECT_EQ(AnsiToUtf8("a\xFF"
                       "b"),
            "a" + fffd + "b");
  EXPECT_EQ(AnsiToUtf8("\xD6\xD0\xCE"), "\xE4\xB8\xAD" + fffd);
  // A lead byte followed by a byte that cannot follow it keeps the second byte.
  EXPECT_EQ(AnsiToUtf8("\x81 x"), fffd + " x");
  std::string all;
  for (int b = 0; b < 256; ++b)
    all.push_back(static_cast<char>(b));
  EXPECT_TRUE(IsValidUtf8(AnsiToUtf8(all)));
}

TEST(Utf16Decoding, CombinesPairsAndReplacesLoneSurrogates) {
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(Utf16ToUtf8(std::u16string_view(u"A\u00E9\u4E2D")), "A\xC3\xA9\xE4\xB8\xAD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(u"\xD83C\xDFB5")), "\xF0\x9F\x8E\xB5");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(u"\xD83C"
                                       u"A")),
            fffd + "A");  // high without low
  EXPECT_EQ(Utf16ToUtf8(std::u16string(u"\xDFB5"
                                       u"A")),
            fffd + "A");                                           // low without high
  EXPECT_EQ(Utf16ToUtf8(std::u16string(u"A\xD83C")), "A" + fffd);  // high at the end
}

TEST(Utf16Decoding, ByteFormHonoursByteOrderAndDropsOddByte) {
  EXPECT_EQ(Utf16ToUtf8(std::string_view("T\0i\0", 4), false), "Ti");
  EXPECT_EQ(Utf16ToUtf8(std::string_view("\0T\0i", 4), true), "Ti");
  EXPECT_EQ(Utf16ToUtf8(std::string_view("T\0i\0x", 5), false), "Ti");
  EXPECT_EQ(Utf16ToUtf8(std::string_view("x", 1), false), "");
  EXPECT_EQ(Utf16ToUtf8(std::string_view("\x3C\xD8\xB5\xDF", 4), false), "\xF0\x9F\x8E\xB5");
}

TEST(Utf16Encoding, RoundTripsAstralCharactersAndReplacesBadBytes) {
  const std::string text = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x8E\xB5";
  const std::u16string units = Utf8ToUtf16(text);
  EXPECT_EQ(units, u"a\u00E9\u4E2D\U0001F3B5");
  EXPECT_EQ(Utf16ToUtf8(units), text);
  EXPECT_EQ(Utf8ToUtf16("a\xFF"
                        "b"),
            u"a\uFFFDb");
}

TEST(TextFiles, ByteOrderMarkSelectsTheEncoding) {
  EXPECT_EQ(TextFileToUtf8("\xEF\xBB\xBFTitle"), "Title");
  EXPECT_EQ(TextFileToUtf8(std::string_view("\xFF\xFET\0i\0", 6)), "Ti");
  EXPECT_EQ(TextFileToUtf8(std::string_view("\xFE\xFF\0T\0i", 6)), "Ti");
  EXPECT_EQ(TextFileToUtf8("\xD6\xD0\xCE\xC4"), "\xE4\xB8\xAD\xE6\x96\x87");
}

TEST(Utf8Limits, TruncationCountsCharactersAndNeverSplitsOne) {
  const std::string zh = "\xE4\xB8\xAD\xE6\x96\x87";  // two characters, six bytes
  struct Case {
    std::string text;
    size_t max;
    std::string expected;
  } cases[] = {
      {"abc", 2, "ab"},
      {"abc", 10, "abc"},
      {"abc", 0, ""},
      {zh, 1, "\xE4\xB8\xAD"},
      {"a" + zh, 2, "a\xE4\xB8\xAD"},
      {"\xF0\x9F\x8E\xB5x", 1, "\xF0\x9F\x8E\xB5"},
      {"\xE4\xB8", 1, "\xE4\xB8"},  // a broken tail counts as one character
  };
  for (const Case& c : cases)
    EXPECT_EQ(Utf8Truncate(c.text, c.max), c.expected) << c.text;
  EXPECT_EQ(Utf8Length(zh), 2u);
  EXPECT_EQ(Utf8Length("a\xFF"
                       "b"),
            3u);
  EXPECT_EQ(Utf8Length(""), 0u);
}

TEST(TextHelpers, TrimRemovesControlsAndBlanksOnly) {
  EXPECT_EQ(Trim(std::string_view(" \t\0Jazz \0\0", 10)), "Jazz");
  EXPECT_EQ(Trim("\xE4\xB8\xAD "), "\xE4\xB8\xAD");
  EXPECT_EQ(TrimLeft("  a "), "a ");
  EXPECT_EQ(TrimRight("  a "), "  a");
  EXPECT_EQ(CutAtNul(std::string_view("ab\0cd", 5)), "ab");
  EXPECT_TRUE(SameText("TITLE", "title"));
  EXPECT_FALSE(SameText("title", "titles"));
  EXPECT_LT(CompareText("Album", "artist"), 0);
}

TEST(TextHelpers, StrToIntDefAcceptsOnlyWholeDecimalNumbers) {
  struct Case {
    const char* text;
    int32_t expected;
  } cases[] = {
      {"1991", 1991},     {"  42", 42},
      {"-7", -7},         {"+3", 3},
      {"", -1},           {"7/11", -1},
      {"12 ", -1},        {"0x10", -1},
      {"-", -1},          {"2147483647", 2147483647},
      {"2147483648", -1}, {"-2147483648", INT32_MIN},
  };
  for (const Case& c : cases)
    EXPECT_EQ(StrToIntDef(c.text, -1), c.expected) << c.text;
}

}  // namespace
}  // namespace lirvo
