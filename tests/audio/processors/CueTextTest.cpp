// Sheet files in the encodings they come in: UTF-8 with and without a
// byte-order mark, UTF-16 with a mark, and GB18030 without one (Chinese
// sheets saved by Windows programs), all read from disk.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "audio/core/AuException.h"
#include "audio/core/TextCodec.h"
#include "audio/processors/CueSheet.h"
#include "common/TestPaths.h"

using namespace lirvo;
using namespace lirvo::test;

namespace {

// The sheet every encoding carries, in UTF-8, with Windows line ends.
const std::string kSheetUtf8 =
    "REM DATE 2003\r\n"
    "PERFORMER \"\xE5\x91\xA8\xE6\x9D\xB0\xE4\xBC\xA6\"\r\n"  // 周杰伦
    "TITLE \"\xE5\x8F\xB6\xE6\x83\xA0\xE7\xBE\x8E\"\r\n"      // 叶惠美
    "FILE \"image.wav\" WAVE\r\n"
    "  TRACK 01 AUDIO\r\n"
    "    TITLE \"\xE6\x99\xB4\xE5\xA4\xA9\"\r\n"  // 晴天
    "    INDEX 01 00:00:00\r\n"
    "  TRACK 02 AUDIO\r\n"
    "    TITLE \"\xE8\x93\x9D \xE5\xA4\xA9\"\r\n"             // 蓝 天
    "    PERFORMER \xE4\xB8\x9C\xE9\xA3\x8E\xE7\xA0\xB4\r\n"  // 东风破
    "    INDEX 01 04:29:00\r\n";

// The same sheet as the GB18030 bytes a Chinese Windows editor saves.
const std::string kSheetGb18030 =
    "REM DATE 2003\r\n"
    "PERFORMER \"\xD6\xDC\xBD\xDC\xC2\xD7\"\r\n"
    "TITLE \"\xD2\xB6\xBB\xDD\xC3\xC0\"\r\n"
    "FILE \"image.wav\" WAVE\r\n"
    "  TRACK 01 AUDIO\r\n"
    "    TITLE \"\xC7\xE7\xCC\xEC\"\r\n"
    "    INDEX 01 00:00:00\r\n"
    "  TRACK 02 AUDIO\r\n"
    "    TITLE \"\xC0\xB6 \xCC\xEC\"\r\n"
    "    PERFORMER \xB6\xAB\xB7\xE7\xC6\xC6\r\n"
    "    INDEX 01 04:29:00\r\n";

std::string Utf16Bytes(const std::string& Utf8, bool BigEndian) {
  std::string out = BigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t u : Utf8ToUtf16(Utf8)) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += BigEndian ? hi : lo;
    out += BigEndian ? lo : hi;
  }
  return out;
}

void WriteFile(const std::string& Path, const std::string& Bytes) {
  std::ofstream f(Path, std::ios::binary);
  f << Bytes;
}

struct EncodingCase {
  const char* name;
  std::string bytes;
};

class CueEncodingTest : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(CueEncodingTest, ChineseTitlesAndPerformersReadAsUtf8) {
  const std::string path = ScratchDir("cue_encoding_" + std::string(GetParam().name)) + "/a.cue";
  WriteFile(path, GetParam().bytes);
  const TCueSheet s = ParseCueSheet(LoadCueSheetLines(path));
  EXPECT_EQ(s.Performer, "\xE5\x91\xA8\xE6\x9D\xB0\xE4\xBC\xA6");
  EXPECT_EQ(s.Album, "\xE5\x8F\xB6\xE6\x83\xA0\xE7\xBE\x8E");
  EXPECT_EQ(s.Year, "") << "REM DATE is a comment";
  ASSERT_EQ(s.Items.size(), 2u);
  EXPECT_EQ(s.Items[0].Title, "\xE6\x99\xB4\xE5\xA4\xA9");
  EXPECT_EQ(s.Items[0].Performer, s.Performer);
  EXPECT_EQ(s.Items[1].Title, "\xE8\x93\x9D \xE5\xA4\xA9");
  EXPECT_EQ(s.Items[1].Performer, "\xE4\xB8\x9C\xE9\xA3\x8E\xE7\xA0\xB4");
  EXPECT_EQ(s.Items[0].EndIndex, 269000u);
  EXPECT_EQ(s.Items[1].BeginIndex, 269000u);
}

INSTANTIATE_TEST_SUITE_P(
    Files, CueEncodingTest,
    ::testing::Values(EncodingCase{"Utf8", kSheetUtf8},
                      EncodingCase{"Utf8Bom", "\xEF\xBB\xBF" + kSheetUtf8},
                      EncodingCase{"Utf16LeBom", Utf16Bytes(kSheetUtf8, false)},
                      EncodingCase{"Utf16BeBom", Utf16Bytes(kSheetUtf8, true)},
                      EncodingCase{"Gb18030", kSheetGb18030}),
    [](const ::testing::TestParamInfo<EncodingCase>& Info) { return Info.param.name; });

TEST(CueTextTest, LinesEndAtCrLfOrCrLf) {
  EXPECT_EQ(CueTextToLines("a\r\nb\rc\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(CueTextToLines("a\n\nb\n"), (std::vector<std::string>{"a", "", "b"}))
      << "empty lines stay, a final break adds none";
  EXPECT_EQ(CueTextToLines("a\n\r\nb"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_TRUE(CueTextToLines("").empty());
  EXPECT_TRUE(CueTextToLines("\xEF\xBB\xBF").empty());
}

TEST(CueTextTest, UnreadableSheetRaisesWithTheSystemText) {
  const std::string dir = ScratchDir("cue_unreadable");
  try {
    LoadCueSheetLines(dir + "/missing.cue");
    FAIL() << "no exception for a missing sheet";
  } catch (const EAuException& e) {
    EXPECT_NE(std::string(e.what()).find("No such file or directory"), std::string::npos)
        << e.what();
    EXPECT_NE(std::string(e.what()).find("missing.cue"), std::string::npos) << e.what();
  }
  EXPECT_THROW(LoadCueSheetLines(dir), EAuException) << "a folder is not a sheet";
}

TEST(CueTextTest, OversizedFileIsRefusedInsteadOfLoaded) {
  const std::string path = ScratchDir("cue_oversized") + "/big.cue";
  {
    std::ofstream f(path, std::ios::binary);
    f.seekp(kMaxCueSheetBytes + 10);
    f.put('\n');
  }
  EXPECT_THROW(LoadCueSheetLines(path), EAuException);
}

}  // namespace
