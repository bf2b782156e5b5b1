// The grid's column layout as hexadecimal digits: what the encoder writes
// comes back whole, what it cannot hold is cut so it still decodes, and no
// other text decodes, crashes or allocates without bound.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "app/logic/playlist/ColumnLayout.h"

namespace lirvo {
namespace {

TColumnLayout ReorderedGrid() {
  // The reset columns after the user moved "艺术家" to the front, widened
  // "标题" and the hidden "Filename" stayed hidden.
  return {{5, "艺术家", 150, true}, {0, "ID", 40, true},    {1, "Filename", 0, false},
          {2, "音轨", 40, true},    {3, "标题", 321, true}, {4, "专辑", 150, true},
          {6, "时间", 60, true}};
}

TEST(ColumnLayout, RoundTripKeepsOrderCaptionsWidthsAndVisibility) {
  for (const TColumnLayout& layout : {ReorderedGrid(), TColumnLayout{}}) {
    const std::string hex = EncodeColumnLayout(layout);
    EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos) << hex;
    const std::optional<TColumnLayout> back = DecodeColumnLayout(hex);
    ASSERT_TRUE(back.has_value()) << hex;
    EXPECT_EQ(*back, layout);
  }
}

TEST(ColumnLayout, LowerCaseDigitsDecodeToo) {
  std::string hex = EncodeColumnLayout(ReorderedGrid());
  for (char& c : hex)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  ASSERT_TRUE(DecodeColumnLayout(hex).has_value());
  EXPECT_EQ(*DecodeColumnLayout(hex), ReorderedGrid());
}

TEST(ColumnLayout, EncoderCutsWhatTheBlockCannotHoldAndStillDecodes) {
  TColumnLayout layout;
  layout.push_back({0, std::string(100, 'x') + std::string(300, 'y'), -5, true});
  // 86 characters of three bytes: a cut at 255 bytes would split the 86th.
  std::string wide;
  for (int i = 0; i < 86; ++i)
    wide += "标";
  layout.push_back({1, wide, 70000, true});
  layout.push_back({1, "repeated field", 10, true});
  layout.push_back({300, "field out of range", 10, true});
  layout.push_back({-1, "negative field", 10, true});
  for (int field = 2; field < 100; ++field)
    layout.push_back({field, "c", 10, false});

  const std::optional<TColumnLayout> back = DecodeColumnLayout(EncodeColumnLayout(layout));
  ASSERT_TRUE(back.has_value());
  ASSERT_EQ(back->size(), kMaxLayoutColumns);
  EXPECT_EQ((*back)[0].Caption.size(), kMaxCaptionBytes);
  EXPECT_EQ((*back)[0].Width, 0);
  EXPECT_EQ((*back)[1].Caption.size(), 85u * 3);  // whole characters only
  EXPECT_EQ((*back)[1].Width, kMaxColumnWidth);
  EXPECT_EQ((*back)[2].Field, 2);  // the refused entries are left out
  EXPECT_EQ(back->back().Field, static_cast<int>(kMaxLayoutColumns) - 1);  // fields 0..63
}

TEST(ColumnLayout, MalformedTextIsRefusedWhole) {
  const std::string good = EncodeColumnLayout(ReorderedGrid());
  // Header of a one-column block, then the column (field 0, visible, width
  // 40, caption "ID").
  const std::string one =
      "4C430101"
      "00012800"
      "024944";
  ASSERT_TRUE(DecodeColumnLayout(one).has_value());
  const struct {
    std::string Hex;
    const char* Why;
  } cases[] = {
      {"", "empty"},
      {one.substr(1), "odd length"},
      {"4C43010100012800024G44", "not a hex digit"},
      {" " + one.substr(1), "blank"},
      {"4D43010100012800024944", "wrong magic"},
      {"4C43020100012800024944", "unknown version"},
      {"4C434101", "more columns than the limit"},
      {"4C430102"
       "00012800024944",
       "count larger than the columns present"},
      {one + "00", "trailing byte"},
      {"4C430101"
       "00022800024944",
       "visibility neither 0 nor 1"},
      {"4C430102"
       "00012800024944"
       "00012800024944",
       "field repeated"},
      {"4C430101"
       "000128000A4944",
       "caption longer than the block"},
      {std::string(kMaxColumnLayoutHexChars + 2, '0'), "longer than any block"},
  };
  for (const auto& c : cases)
    EXPECT_FALSE(DecodeColumnLayout(c.Hex).has_value()) << c.Why;
  // Every cut of a valid block is refused.
  for (size_t len = 0; len < good.size(); len += 2)
    EXPECT_FALSE(DecodeColumnLayout(good.substr(0, len)).has_value()) << len;
}

TEST(ColumnLayout, RandomTextNeverCrashes) {
  std::mt19937 rng(1234);
  const std::string valid = EncodeColumnLayout(ReorderedGrid());
  for (int round = 0; round < 3000; ++round) {
    std::string hex = valid;
    // Flip a few digits of a valid block, or make up a random one.
    if (round % 2 == 0) {
      for (int k = 0; k < 3; ++k)
        hex[rng() % hex.size()] = "0123456789ABCDEFZ"[rng() % 17];
    } else {
      hex.resize(rng() % 200);
      for (char& c : hex)
        c = "0123456789ABCDEF"[rng() % 16];
      if (hex.size() >= 6) hex.replace(0, 6, "4C4301");
    }
    const std::optional<TColumnLayout> layout = DecodeColumnLayout(hex);
    if (layout) {
      EXPECT_LE(layout->size(), kMaxLayoutColumns);
      EXPECT_EQ(DecodeColumnLayout(EncodeColumnLayout(*layout)), layout);
    }
  }
}

}  // namespace
}  // namespace lirvo
