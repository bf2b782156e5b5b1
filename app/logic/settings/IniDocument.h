#pragma once
// The INI text format of the settings file, on its own: sections of
// "key=value" lines read and written in place, so a key or section the
// reader does not know, comments and the order of the keys survive a
// rewrite. No file access; the settings file (Settings.h) reads and writes
// the text. Not thread-safe; a document belongs to one thread at a time.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lirvo {

// An INI text as sections of lines. Section and key names match without
// regard to ASCII case; the first of two equal keys counts. Lines that are
// not "key=value" (comments, blank lines, stray text) are kept as they are.
class TIniDocument {
 public:
  // Never fails: a line that is not understood is kept and ignored. A UTF-8
  // byte-order mark and CR before LF are dropped.
  static TIniDocument Parse(std::string_view Text);

  // The value with surrounding blanks removed and one pair of enclosing
  // double quotes taken off; nullopt when the key is missing.
  std::optional<std::string> Value(std::string_view Section, std::string_view Key) const;
  std::string ReadString(std::string_view Section, std::string_view Key,
                         const std::string& Default) const;
  // Decimal with an optional sign, within 32 bits; anything else gives Default.
  int32_t ReadInteger(std::string_view Section, std::string_view Key, int32_t Default) const;
  // ReadInteger(..., Default ? 1 : 0) != 0.
  bool ReadBool(std::string_view Section, std::string_view Key, bool Default) const;

  // Replaces the key's value where it stands, or adds the key after the last
  // key of its section, or appends the section to the text (after a blank
  // line).
  void WriteString(std::string_view Section, std::string_view Key, std::string_view Value);
  void WriteInteger(std::string_view Section, std::string_view Key, int32_t Value);
  void WriteBool(std::string_view Section, std::string_view Key, bool Value);

  // The text, every line ended by LF.
  std::string ToText() const;

 private:
  struct TLine {
    bool IsEntry = false;
    std::string Key;    // IsEntry
    std::string Value;  // IsEntry: as written after '=' (quotes kept)
    std::string Raw;    // !IsEntry
  };
  struct TSection {
    std::string Name;  // empty for the lines before the first section
    bool HasHeader = false;
    std::vector<TLine> Lines;
  };
  const TSection* FindSection(std::string_view Name) const;
  TSection* FindSection(std::string_view Name);

  std::vector<TSection> FSections;
};

}  // namespace lirvo
