// The INI text: how values are found and read, that writing keeps what the
// player does not know about, and that text written reads back the same.

#include <gtest/gtest.h>

#include <QBuffer>
#include <string>

#include "app/logic/settings/Settings.h"
#include "audio/core/AuException.h"

namespace lirvo {
namespace {

TEST(IniDocument, ValuesAreFoundTheWayWindowsIniFilesAreRead) {
  const TIniDocument doc = TIniDocument::Parse(
      "\xEF\xBB\xBF"
      "; a comment\r\n"
      "[system]\r\n"
      "  audioengine = 1 \r\n"
      "AudioEngine=0\r\n"
      "stray line without equals\r\n"
      "[ Interface ]\n"
      "FileViewDirectory=\"  /music/with blanks  \"\n"
      "Empty=\n"
      "[Other]\n"
      "LeftPanel=999\n");
  EXPECT_EQ(doc.ReadInteger("System", "AudioEngine", -1), 1) << "case and blanks; first wins";
  EXPECT_EQ(doc.ReadString("Interface", "FileViewDirectory", ""), "  /music/with blanks  ");
  EXPECT_EQ(doc.Value("Interface", "Empty"), std::optional<std::string>(""));
  EXPECT_EQ(doc.ReadInteger("Interface", "LeftPanel", 185), 185) << "key of another section";
  EXPECT_FALSE(doc.Value("Missing", "AudioEngine").has_value());
}

TEST(IniDocument, NumbersThatAreNotPlainDecimalIntegersGiveTheDefault) {
  const struct {
    const char* Text;
    int32_t Expected;
  } cases[] = {
      {"42", 42},         {"-7", -7},  {"+7", 7},  {" 12 ", 12},       {"", 5},
      {"12abc", 5},       {"abc", 5},  {"1.5", 5}, {"99999999999", 5}, {"2147483647", 2147483647},
      {"-2147483649", 5}, {"0x10", 5}, {"- 3", 5},
  };
  for (const auto& c : cases) {
    const TIniDocument doc = TIniDocument::Parse(std::string("[S]\nK=") + c.Text + "\n");
    EXPECT_EQ(doc.ReadInteger("S", "K", 5), c.Expected) << '"' << c.Text << '"';
  }
  const TIniDocument bools = TIniDocument::Parse("[S]\nTwo=2\nZero=0\nWord=true\nNeg=-1\n");
  EXPECT_TRUE(bools.ReadBool("S", "Two", false));
  EXPECT_FALSE(bools.ReadBool("S", "Zero", true));
  EXPECT_FALSE(bools.ReadBool("S", "Word", false)) << "not an integer: the default";
  EXPECT_TRUE(bools.ReadBool("S", "Word", true));
  EXPECT_TRUE(bools.ReadBool("S", "Neg", false));
}

TEST(IniDocument, WritingUpdatesInPlaceAndKeepsForeignKeysSectionsAndComments) {
  TIniDocument doc = TIniDocument::Parse(
      "; kept\n"
      "[System]\n"
      "DSoundLatency=50\n"
      "Foreign=x\n"
      "\n"
      "[AudioOutput]\n"
      "Latency=130\n");
  doc.WriteInteger("system", "DSoundLatency", 130);
  doc.WriteInteger("System", "ASIODevice", 1);
  doc.WriteBool("Optimize", "Realtime", true);
  EXPECT_EQ(doc.ToText(),
            "; kept\n"
            "[System]\n"
            "DSoundLatency=130\n"
            "Foreign=x\n"
            "ASIODevice=1\n"
            "\n"
            "[AudioOutput]\n"
            "Latency=130\n"
            "\n"
            "[Optimize]\n"
            "Realtime=1\n");
}

TEST(IniDocument, TextValuesReadBackExactly) {
  const std::string values[] = {"/music",
                                "  leading and trailing  ",
                                "\"quoted\"",
                                "a=b;c[d]",
                                "",
                                "中文 目录",
                                "\"half quoted",
                                "tab\tinside"};
  for (const std::string& value : values) {
    TIniDocument doc;
    doc.WriteString("Interface", "FileViewDirectory", value);
    const TIniDocument back = TIniDocument::Parse(doc.ToText());
    EXPECT_EQ(back.ReadString("Interface", "FileViewDirectory", "?"), value) << doc.ToText();
  }
}

TEST(IniDocument, DevicesCarryTheTextAndRefuseOversizedInput) {
  TIniDocument doc;
  doc.WriteInteger("System", "DSoundLatency", 130);
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  WriteIniDocument(buffer, doc);
  buffer.close();
  buffer.open(QIODevice::ReadOnly);
  EXPECT_EQ(ReadIniDocument(buffer).ReadInteger("System", "DSoundLatency", 0), 130);

  QByteArray big(kMaxSettingsFileBytes + 1, 'x');
  QBuffer oversized(&big);
  oversized.open(QIODevice::ReadOnly);
  EXPECT_THROW(ReadIniDocument(oversized), EAuException);

  QBuffer closed;  // not open: reading fails
  EXPECT_THROW(ReadIniDocument(closed), EAuException);
}

}  // namespace
}  // namespace lirvo
