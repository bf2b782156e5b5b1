#include "app/logic/playlist/ColumnLayout.h"

#include <algorithm>
#include <bitset>

namespace lirvo {

namespace {

constexpr char kMagic0 = 'L';
constexpr char kMagic1 = 'C';
constexpr char kHexDigits[] = "0123456789ABCDEF";

// Longest prefix of Text of at most Limit bytes that does not end inside a
// UTF-8 sequence.
std::string_view CutAtCharBoundary(std::string_view Text, size_t Limit) {
  if (Text.size() <= Limit) return Text;
  size_t end = Limit;
  // Step back over continuation bytes to the lead byte of the cut sequence.
  while (end > 0 && (static_cast<unsigned char>(Text[end]) & 0xC0) == 0x80)
    --end;
  return Text.substr(0, end);
}

int HexValue(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  return -1;
}

// Reads the block front to back; every read checks the bytes left.
class TBlockReader {
 public:
  explicit TBlockReader(const std::vector<uint8_t>& Bytes) : FBytes(Bytes) {}
  bool Byte(uint8_t& Out) {
    if (FPos >= FBytes.size()) return false;
    Out = FBytes[FPos++];
    return true;
  }
  bool Word(uint16_t& Out) {
    uint8_t lo = 0, hi = 0;
    if (!Byte(lo) || !Byte(hi)) return false;
    Out = static_cast<uint16_t>(lo | (hi << 8));
    return true;
  }
  bool Text(size_t Size, std::string& Out) {
    if (FBytes.size() - FPos < Size) return false;
    Out.assign(reinterpret_cast<const char*>(FBytes.data()) + FPos, Size);
    FPos += Size;
    return true;
  }
  bool AtEnd() const { return FPos == FBytes.size(); }

 private:
  const std::vector<uint8_t>& FBytes;
  size_t FPos = 0;
};

}  // namespace

std::string EncodeColumnLayout(const TColumnLayout& Layout) {
  std::vector<uint8_t> block = {static_cast<uint8_t>(kMagic0), static_cast<uint8_t>(kMagic1),
                                kColumnLayoutVersion, 0};
  std::bitset<kMaxColumnField + 1> seen;
  size_t count = 0;
  for (const TColumnSetting& column : Layout) {
    if (count == kMaxLayoutColumns) break;
    if (column.Field < 0 || column.Field > kMaxColumnField || seen[column.Field]) continue;
    seen[column.Field] = true;
    const int width = std::clamp(column.Width, 0, kMaxColumnWidth);
    const std::string_view caption = CutAtCharBoundary(column.Caption, kMaxCaptionBytes);
    block.push_back(static_cast<uint8_t>(column.Field));
    block.push_back(column.Visible ? 1 : 0);
    block.push_back(static_cast<uint8_t>(width & 0xFF));
    block.push_back(static_cast<uint8_t>(width >> 8));
    block.push_back(static_cast<uint8_t>(caption.size()));
    block.insert(block.end(), caption.begin(), caption.end());
    ++count;
  }
  block[3] = static_cast<uint8_t>(count);

  std::string hex;
  hex.reserve(block.size() * 2);
  for (uint8_t b : block) {
    hex.push_back(kHexDigits[b >> 4]);
    hex.push_back(kHexDigits[b & 0x0F]);
  }
  return hex;
}

std::optional<TColumnLayout> DecodeColumnLayout(std::string_view Hex) {
  // Checked before anything is allocated: no valid block is longer.
  if (Hex.empty() || Hex.size() > kMaxColumnLayoutHexChars || Hex.size() % 2 != 0) {
    return std::nullopt;
  }
  std::vector<uint8_t> bytes;
  bytes.reserve(Hex.size() / 2);
  for (size_t i = 0; i < Hex.size(); i += 2) {
    const int hi = HexValue(Hex[i]);
    const int lo = HexValue(Hex[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>((hi << 4) | lo));
  }

  TBlockReader reader(bytes);
  uint8_t magic0 = 0, magic1 = 0, version = 0, count = 0;
  if (!reader.Byte(magic0) || !reader.Byte(magic1) || !reader.Byte(version) ||
      !reader.Byte(count)) {
    return std::nullopt;
  }
  if (magic0 != kMagic0 || magic1 != kMagic1 || version != kColumnLayoutVersion ||
      count > kMaxLayoutColumns) {
    return std::nullopt;
  }

  TColumnLayout layout;
  layout.reserve(count);
  std::bitset<kMaxColumnField + 1> seen;
  for (int i = 0; i < count; ++i) {
    uint8_t field = 0, visible = 0, captionSize = 0;
    uint16_t width = 0;
    TColumnSetting column;
    if (!reader.Byte(field) || !reader.Byte(visible) || !reader.Word(width) ||
        !reader.Byte(captionSize) || !reader.Text(captionSize, column.Caption)) {
      return std::nullopt;
    }
    if (visible > 1 || seen[field]) return std::nullopt;
    seen[field] = true;
    column.Field = field;
    column.Visible = visible == 1;
    column.Width = width;
    layout.push_back(std::move(column));
  }
  if (!reader.AtEnd()) return std::nullopt;
  return layout;
}

}  // namespace lirvo
