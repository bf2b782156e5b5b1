#pragma once
// The value of one tag id: a small variant that keeps the kinds the tag
// containers tell apart.
//
// The three string kinds all hold UTF-8 text. "ANSI" bytes from files are
// decoded to UTF-8 when they are read, so converting between AnsiString and
// WideString never changes the text; the kinds still matter because the
// typed reads of a container treat them differently (a UnicodeString reads
// as empty through AsString, for instance).

#include <cstdint>
#include <string>
#include <string_view>

namespace lirvo {

enum class TTagValueKind : uint8_t {
  Null,           // the absent value
  UInt8,          // unsigned 8-bit integer
  UInt16,         // unsigned 16-bit integer
  Int32,          // signed 32-bit integer
  AnsiString,     // text that was single-byte (system code page) text
  WideString,     // UTF-16 text in the original program
  UnicodeString,  // UTF-16 too, but a distinct kind
};

class TTagValue {
 public:
  TTagValue() = default;  // Null

  static TTagValue Null() { return TTagValue(); }
  static TTagValue UInt8(uint8_t Value) { return TTagValue(TTagValueKind::UInt8, Value, {}); }
  static TTagValue UInt16(uint16_t Value) { return TTagValue(TTagValueKind::UInt16, Value, {}); }
  static TTagValue Int32(int32_t Value) { return TTagValue(TTagValueKind::Int32, Value, {}); }
  static TTagValue AnsiString(std::string Text) {
    return TTagValue(TTagValueKind::AnsiString, 0, std::move(Text));
  }
  static TTagValue WideString(std::string Text) {
    return TTagValue(TTagValueKind::WideString, 0, std::move(Text));
  }
  static TTagValue UnicodeString(std::string Text) {
    return TTagValue(TTagValueKind::UnicodeString, 0, std::move(Text));
  }

  TTagValueKind Kind() const { return FKind; }
  bool IsNull() const { return FKind == TTagValueKind::Null; }
  bool IsInteger() const {
    return FKind == TTagValueKind::UInt8 || FKind == TTagValueKind::UInt16 ||
           FKind == TTagValueKind::Int32;
  }
  bool IsString() const {
    return FKind == TTagValueKind::AnsiString || FKind == TTagValueKind::WideString ||
           FKind == TTagValueKind::UnicodeString;
  }
  // The number of an integer kind; 0 for the other kinds.
  int32_t Integer() const { return FInteger; }
  // The text of a string kind; empty for the other kinds.
  const std::string& Text() const { return FText; }

  // Exact identity: same kind and same content.
  friend bool operator==(const TTagValue& A, const TTagValue& B) {
    return A.FKind == B.FKind && A.FInteger == B.FInteger && A.FText == B.FText;
  }

 private:
  TTagValue(TTagValueKind Kind, int32_t Integer, std::string Text)
      : FKind(Kind), FInteger(Integer), FText(std::move(Text)) {}

  TTagValueKind FKind = TTagValueKind::Null;
  int32_t FInteger = 0;
  std::string FText;
};

// Variant comparison, the test a container uses to decide whether a write
// changes anything. Values of different kinds compare by content:
// - Null equals only Null;
// - integers of any kind compare by number (UInt8 12 equals Int32 12);
// - strings of any kind compare by text, case-sensitively (an empty
//   WideString equals an empty UnicodeString);
// - an integer and a string are equal when the string, blanks trimmed, is
//   the decimal form of that number; otherwise they differ (never an error).
bool SameTagValue(const TTagValue& A, const TTagValue& B);

}  // namespace lirvo
