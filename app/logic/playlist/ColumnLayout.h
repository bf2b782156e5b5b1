#pragma once
// The playlist grid's column layout as the settings file keeps it
// ([Interface] ColumnSetting): for each column in display order its field,
// title caption, width and visibility, packed into a small binary block and
// written as hexadecimal digits, two per byte (upper case).
//
// Block layout (all integers little-endian):
//   "LC"            two magic bytes
//   version         1 byte, kColumnLayoutVersion
//   count           1 byte, number of columns that follow (at most kMaxLayoutColumns)
//   count times:
//     field         1 byte, the table's field position
//     visible       1 byte, 0 or 1
//     width         2 bytes, pixels
//     caption size  1 byte, bytes of UTF-8 that follow (at most kMaxCaptionBytes)
//     caption       UTF-8
//
// The block is bounded by construction, so the decoder refuses longer text
// before it allocates anything, and it refuses every malformed block as a
// whole (the caller then keeps the columns it has). UI thread; no state.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lirvo {

struct TColumnSetting {
  int Field = 0;        // position of the playlist field the column shows
  std::string Caption;  // title caption, UTF-8
  int Width = 0;        // pixels; 0 for a hidden column whose width is not known
  bool Visible = true;

  bool operator==(const TColumnSetting&) const = default;
};

// Columns in display order.
using TColumnLayout = std::vector<TColumnSetting>;

inline constexpr uint8_t kColumnLayoutVersion = 1;
inline constexpr size_t kMaxLayoutColumns = 64;
inline constexpr size_t kMaxCaptionBytes = 255;
inline constexpr int kMaxColumnWidth = 0xFFFF;
inline constexpr int kMaxColumnField = 0xFF;
// Longest text DecodeColumnLayout looks at.
inline constexpr size_t kMaxColumnLayoutHexChars =
    2 * (4 + kMaxLayoutColumns * (5 + kMaxCaptionBytes));

// The layout as hexadecimal digits. What does not fit the block is cut so the
// result always decodes: columns after the 64th and columns whose field is
// outside 0..255 or repeats an earlier one are left out, widths are clamped
// to 0..65535, captions are cut to 255 bytes at a character boundary.
std::string EncodeColumnLayout(const TColumnLayout& Layout);

// The layout of a text EncodeColumnLayout wrote; nullopt for anything else
// (empty, odd length, a non-hex digit, wrong magic or version, a count over
// the limit, a block cut short or followed by extra bytes, a field repeated).
std::optional<TColumnLayout> DecodeColumnLayout(std::string_view Hex);

}  // namespace lirvo
