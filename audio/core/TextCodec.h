#pragma once
// Text decoding helpers shared by the tag readers, the CUE sheet reader and
// the playlist.
//
// Text inside the program is UTF-8. Bytes that files hold in "the system's
// 8-bit code page" (ID3 text, CUE sheets without a byte-order mark, ANSI tag
// records) are taken as UTF-8 when they are valid UTF-8, otherwise decoded
// as GB18030, the code page of the Chinese systems such files come from.
//
// Every function here accepts arbitrary bytes: malformed input never throws
// or reads outside the given view; what cannot be decoded becomes U+FFFD
// (the replacement character). All functions are thread-safe.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lirvo {

inline constexpr char32_t kReplacementChar = 0xFFFD;

// True when Text is well-formed UTF-8: no stray continuation bytes, no
// truncated, overlong or surrogate sequences, nothing above U+10FFFF.
// The empty string is valid.
bool IsValidUtf8(std::string_view Text);

// Decodes the code point starting at Text[Pos] and advances Pos past it.
// A malformed sequence yields kReplacementChar and advances past its longest
// well-formed prefix (at least one byte), so a bad byte never swallows the
// valid characters after it. Pos must be below Text.size().
char32_t NextUtf8Char(std::string_view Text, size_t& Pos);

// Appends the UTF-8 form of Ch; surrogates and values above U+10FFFF are
// appended as U+FFFD.
void AppendUtf8(std::string& Out, char32_t Ch);

// Returns Text with every malformed sequence replaced by U+FFFD (valid input
// comes back unchanged).
std::string Utf8Sanitize(std::string_view Text);

// Bytes in the system code page to UTF-8: valid UTF-8 is returned as it is,
// anything else is decoded as GB18030, invalid or truncated sequences
// becoming U+FFFD.
std::string AnsiToUtf8(std::string_view Bytes);

// Raw GB18030 to UTF-8 (no UTF-8 check first); invalid sequences become
// U+FFFD. Without a GB18030 converter on the system, bytes below 0x80 pass
// through and every other byte becomes U+FFFD.
std::string Gb18030ToUtf8(std::string_view Bytes);

// UTF-16 code units to UTF-8. Surrogate pairs are combined; a lone surrogate
// becomes U+FFFD. A zero unit is kept (callers cut at it when they need to).
std::string Utf16ToUtf8(std::u16string_view Units);

// UTF-16 held as bytes (as read from a file) to UTF-8, in the given byte
// order. A trailing odd byte cannot form a unit and is dropped.
std::string Utf16ToUtf8(std::string_view Bytes, bool BigEndian);

// UTF-8 to UTF-16; malformed sequences become U+FFFD, code points above
// U+FFFF become surrogate pairs.
std::u16string Utf8ToUtf16(std::string_view Text);

// A whole text file's bytes to UTF-8, as text files are loaded everywhere in
// the program: a UTF-8 byte-order mark (EF BB BF) selects UTF-8, FF FE
// UTF-16 little-endian, FE FF UTF-16 big-endian (the mark is removed);
// without a mark the bytes are taken as the system code page (AnsiToUtf8).
std::string TextFileToUtf8(std::string_view Bytes);

// The number of characters (code points) in Text; each malformed sequence
// counts as one character, as NextUtf8Char reads it.
size_t Utf8Length(std::string_view Text);

// The first MaxChars characters of Text. The cut always falls on a character
// boundary, so a multi-byte character is kept whole or left out whole; the
// bytes that are kept are returned unchanged.
std::string Utf8Truncate(std::string_view Text, size_t MaxChars);

// Removes leading and trailing characters up to and including the space
// (control characters, NUL, blanks), as text fields read from files are
// cleaned everywhere in the program. Safe on UTF-8 and GB18030 text: no
// multi-byte sequence of either contains a byte at or below 0x20.
std::string Trim(std::string_view Text);
std::string TrimLeft(std::string_view Text);
std::string TrimRight(std::string_view Text);

// Text up to (not including) its first NUL byte; all of it when it has none.
std::string_view CutAtNul(std::string_view Text);

// ASCII case-insensitive comparison, the one ids, keywords and names use
// (bytes above 0x7F compare as they are). CompareText returns <0, 0 or >0.
int CompareText(std::string_view A, std::string_view B);
bool SameText(std::string_view A, std::string_view B);

// Parses a whole string as a decimal 32-bit integer: optional leading
// blanks, an optional sign, then only digits to the end. Returns Default when
// the text is empty, has anything else in it, or does not fit.
int32_t StrToIntDef(std::string_view Text, int32_t Default);

}  // namespace lirvo
