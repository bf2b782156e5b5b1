#include "audio/core/TextCodec.h"

#include <iconv.h>

#include <cerrno>
#include <limits>

namespace lirvo {

namespace {

constexpr bool IsBlank(unsigned char C) {
  return C <= 0x20;
}

constexpr char AsciiLower(char C) {
  return (C >= 'A' && C <= 'Z') ? static_cast<char>(C + 32) : C;
}

// One converter per thread: an iconv descriptor keeps shift state and must
// not be shared between threads.
class TGb18030Converter {
 public:
  TGb18030Converter() : FHandle(iconv_open("UTF-8", "GB18030")) {}
  ~TGb18030Converter() {
    if (Valid()) iconv_close(FHandle);
  }
  TGb18030Converter(const TGb18030Converter&) = delete;
  TGb18030Converter& operator=(const TGb18030Converter&) = delete;

  bool Valid() const { return FHandle != reinterpret_cast<iconv_t>(-1); }

  std::string Convert(std::string_view Bytes) {
    std::string out;
    out.reserve(Bytes.size() * 3 / 2 + 4);
    iconv(FHandle, nullptr, nullptr, nullptr, nullptr);  // initial state
    char* in = const_cast<char*>(Bytes.data());
    size_t inLeft = Bytes.size();
    char buffer[1024];
    while (inLeft > 0) {
      char* outPtr = buffer;
      size_t outLeft = sizeof buffer;
      size_t r = iconv(FHandle, &in, &inLeft, &outPtr, &outLeft);
      out.append(buffer, static_cast<size_t>(outPtr - buffer));
      if (r != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      // EILSEQ: a byte that starts no valid sequence; EINVAL: the input ends
      // inside a sequence. Either way the byte is replaced and skipped.
      AppendUtf8(out, kReplacementChar);
      ++in;
      --inLeft;
      iconv(FHandle, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
  }

 private:
  iconv_t FHandle;
};

}  // namespace

namespace {

// Decodes one character; Ok tells a real character from a malformed
// sequence (both may yield U+FFFD).
char32_t DecodeUtf8(std::string_view Text, size_t& Pos, bool& Ok) {
  Ok = false;
  const auto b0 = static_cast<unsigned char>(Text[Pos++]);
  if (b0 < 0x80) {
    Ok = true;
    return b0;
  }
  int need;
  char32_t cp;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the next byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;  // overlong
    if (b0 == 0xED) hi = 0x9F;  // surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;  // overlong
    if (b0 == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    return kReplacementChar;  // continuation byte, C0, C1 or F5..FF
  }
  for (int i = 0; i < need; ++i) {
    if (Pos >= Text.size()) return kReplacementChar;
    const auto b = static_cast<unsigned char>(Text[Pos]);
    if (b < lo || b > hi) return kReplacementChar;  // b starts the next character
    lo = 0x80;
    hi = 0xBF;
    cp = (cp << 6) | (b & 0x3F);
    ++Pos;
  }
  Ok = true;
  return cp;
}

}  // namespace

char32_t NextUtf8Char(std::string_view Text, size_t& Pos) {
  bool ok;
  return DecodeUtf8(Text, Pos, ok);
}

bool IsValidUtf8(std::string_view Text) {
  size_t pos = 0;
  bool ok = true;
  while (pos < Text.size() && ok) {
    if (static_cast<unsigned char>(Text[pos]) < 0x80)
      ++pos;
    else
      DecodeUtf8(Text, pos, ok);
  }
  return ok;
}

void AppendUtf8(std::string& Out, char32_t Ch) {
  if ((Ch >= 0xD800 && Ch <= 0xDFFF) || Ch > 0x10FFFF) Ch = kReplacementChar;
  if (Ch < 0x80) {
    Out.push_back(static_cast<char>(Ch));
  } else if (Ch < 0x800) {
    Out.push_back(static_cast<char>(0xC0 | (Ch >> 6)));
    Out.push_back(static_cast<char>(0x80 | (Ch & 0x3F)));
  } else if (Ch < 0x10000) {
    Out.push_back(static_cast<char>(0xE0 | (Ch >> 12)));
    Out.push_back(static_cast<char>(0x80 | ((Ch >> 6) & 0x3F)));
    Out.push_back(static_cast<char>(0x80 | (Ch & 0x3F)));
  } else {
    Out.push_back(static_cast<char>(0xF0 | (Ch >> 18)));
    Out.push_back(static_cast<char>(0x80 | ((Ch >> 12) & 0x3F)));
    Out.push_back(static_cast<char>(0x80 | ((Ch >> 6) & 0x3F)));
    Out.push_back(static_cast<char>(0x80 | (Ch & 0x3F)));
  }
}

std::string Utf8Sanitize(std::string_view Text) {
  if (IsValidUtf8(Text)) return std::string(Text);
  std::string out;
  out.reserve(Text.size() + 8);
  size_t pos = 0;
  while (pos < Text.size())
    AppendUtf8(out, NextUtf8Char(Text, pos));
  return out;
}

std::string Gb18030ToUtf8(std::string_view Bytes) {
  thread_local TGb18030Converter converter;
  if (converter.Valid()) return converter.Convert(Bytes);
  std::string out;
  for (char c : Bytes) {
    if (static_cast<unsigned char>(c) < 0x80)
      out.push_back(c);
    else
      AppendUtf8(out, kReplacementChar);
  }
  return out;
}

std::string AnsiToUtf8(std::string_view Bytes) {
  if (IsValidUtf8(Bytes)) return std::string(Bytes);
  return Gb18030ToUtf8(Bytes);
}

std::string Utf16ToUtf8(std::u16string_view Units) {
  std::string out;
  out.reserve(Units.size() * 3 / 2 + 4);
  for (size_t i = 0; i < Units.size(); ++i) {
    const char16_t u = Units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < Units.size() && Units[i + 1] >= 0xDC00 &&
        Units[i + 1] <= 0xDFFF) {
      const char32_t cp = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                          (static_cast<char32_t>(Units[i + 1]) - 0xDC00);
      AppendUtf8(out, cp);
      ++i;
    } else {
      AppendUtf8(out, u);  // a lone surrogate becomes U+FFFD there
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::string_view Bytes, bool BigEndian) {
  std::u16string units(Bytes.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) {
    const auto a = static_cast<unsigned char>(Bytes[2 * i]);
    const auto b = static_cast<unsigned char>(Bytes[2 * i + 1]);
    units[i] = static_cast<char16_t>(BigEndian ? (a << 8) | b : (b << 8) | a);
  }
  return Utf16ToUtf8(units);
}

std::u16string Utf8ToUtf16(std::string_view Text) {
  std::u16string out;
  out.reserve(Text.size());
  size_t pos = 0;
  while (pos < Text.size()) {
    const char32_t cp = NextUtf8Char(Text, pos);
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string TextFileToUtf8(std::string_view Bytes) {
  if (Bytes.starts_with("\xEF\xBB\xBF")) return Utf8Sanitize(Bytes.substr(3));
  if (Bytes.starts_with("\xFF\xFE")) return Utf16ToUtf8(Bytes.substr(2), false);
  if (Bytes.starts_with("\xFE\xFF")) return Utf16ToUtf8(Bytes.substr(2), true);
  return AnsiToUtf8(Bytes);
}

size_t Utf8Length(std::string_view Text) {
  size_t count = 0;
  size_t pos = 0;
  while (pos < Text.size()) {
    NextUtf8Char(Text, pos);
    ++count;
  }
  return count;
}

std::string Utf8Truncate(std::string_view Text, size_t MaxChars) {
  size_t pos = 0;
  for (size_t n = 0; n < MaxChars && pos < Text.size(); ++n)
    NextUtf8Char(Text, pos);
  return std::string(Text.substr(0, pos));
}

std::string TrimLeft(std::string_view Text) {
  size_t b = 0;
  while (b < Text.size() && IsBlank(static_cast<unsigned char>(Text[b])))
    ++b;
  return std::string(Text.substr(b));
}

std::string TrimRight(std::string_view Text) {
  size_t e = Text.size();
  while (e > 0 && IsBlank(static_cast<unsigned char>(Text[e - 1])))
    --e;
  return std::string(Text.substr(0, e));
}

std::string Trim(std::string_view Text) {
  size_t b = 0, e = Text.size();
  while (b < e && IsBlank(static_cast<unsigned char>(Text[b])))
    ++b;
  while (e > b && IsBlank(static_cast<unsigned char>(Text[e - 1])))
    --e;
  return std::string(Text.substr(b, e - b));
}

std::string_view CutAtNul(std::string_view Text) {
  const size_t nul = Text.find('\0');
  return nul == std::string_view::npos ? Text : Text.substr(0, nul);
}

int CompareText(std::string_view A, std::string_view B) {
  const size_t n = A.size() < B.size() ? A.size() : B.size();
  for (size_t i = 0; i < n; ++i) {
    const auto a = static_cast<unsigned char>(AsciiLower(A[i]));
    const auto b = static_cast<unsigned char>(AsciiLower(B[i]));
    if (a != b) return a < b ? -1 : 1;
  }
  if (A.size() == B.size()) return 0;
  return A.size() < B.size() ? -1 : 1;
}

bool SameText(std::string_view A, std::string_view B) {
  return A.size() == B.size() && CompareText(A, B) == 0;
}

int32_t StrToIntDef(std::string_view Text, int32_t Default) {
  size_t i = 0;
  while (i < Text.size() && IsBlank(static_cast<unsigned char>(Text[i])))
    ++i;
  bool negative = false;
  if (i < Text.size() && (Text[i] == '+' || Text[i] == '-')) negative = Text[i++] == '-';
  if (i >= Text.size()) return Default;
  int64_t value = 0;
  for (; i < Text.size(); ++i) {
    const char c = Text[i];
    if (c < '0' || c > '9') return Default;
    value = value * 10 + (c - '0');
    if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) return Default;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max() || value < std::numeric_limits<int32_t>::min())
    return Default;
  return static_cast<int32_t>(value);
}

}  // namespace lirvo
