#include "app/logic/settings/IniDocument.h"

#include <charconv>
#include <system_error>
#include <utility>

namespace lirvo {

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view Text) {
  const size_t first = Text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const size_t last = Text.find_last_not_of(kBlanks);
  return Text.substr(first, last - first + 1);
}

bool SameName(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i) {
    char a = A[i], b = B[i];
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
    if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
    if (a != b) return false;
  }
  return true;
}

// A value as it goes into the text: enclosed in quotes when reading it back
// would otherwise lose blanks at its ends or a pair of quotes of its own.
std::string QuoteValue(std::string_view Value) {
  const bool blankAtEnd =
      !Value.empty() && (kBlanks.find(Value.front()) != std::string_view::npos ||
                         kBlanks.find(Value.back()) != std::string_view::npos);
  const bool quoted = Value.size() >= 2 && Value.front() == '"' && Value.back() == '"';
  if (blankAtEnd || quoted) return "\"" + std::string(Value) + "\"";
  return std::string(Value);
}

}  // namespace

TIniDocument TIniDocument::Parse(std::string_view Text) {
  TIniDocument doc;
  if (Text.substr(0, 3) == "\xEF\xBB\xBF") Text.remove_prefix(3);
  doc.FSections.push_back(TSection{});
  while (!Text.empty()) {
    const size_t end = Text.find('\n');
    std::string_view line = Text.substr(0, end);
    Text = end == std::string_view::npos ? std::string_view() : Text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    const std::string_view trimmed = Trim(line);
    if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
      TSection section;
      section.Name = std::string(Trim(trimmed.substr(1, trimmed.size() - 2)));
      section.HasHeader = true;
      doc.FSections.push_back(std::move(section));
      continue;
    }
    TLine entry;
    const size_t eq = trimmed.find('=');
    if (!trimmed.empty() && trimmed.front() != ';' && trimmed.front() != '#' &&
        eq != std::string_view::npos && eq > 0) {
      entry.IsEntry = true;
      entry.Key = std::string(Trim(trimmed.substr(0, eq)));
      entry.Value = std::string(Trim(trimmed.substr(eq + 1)));
    } else {
      entry.Raw = std::string(line);
    }
    doc.FSections.back().Lines.push_back(std::move(entry));
  }
  return doc;
}

const TIniDocument::TSection* TIniDocument::FindSection(std::string_view Name) const {
  for (const TSection& section : FSections) {
    if (section.HasHeader && SameName(section.Name, Name)) return &section;
  }
  return nullptr;
}

TIniDocument::TSection* TIniDocument::FindSection(std::string_view Name) {
  return const_cast<TSection*>(std::as_const(*this).FindSection(Name));
}

std::optional<std::string> TIniDocument::Value(std::string_view Section,
                                               std::string_view Key) const {
  const TSection* section = FindSection(Section);
  if (!section) return std::nullopt;
  for (const TLine& line : section->Lines) {
    if (!line.IsEntry || !SameName(line.Key, Key)) continue;
    std::string_view value = line.Value;
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
  }
  return std::nullopt;
}

std::string TIniDocument::ReadString(std::string_view Section, std::string_view Key,
                                     const std::string& Default) const {
  return Value(Section, Key).value_or(Default);
}

int32_t TIniDocument::ReadInteger(std::string_view Section, std::string_view Key,
                                  int32_t Default) const {
  const std::optional<std::string> text = Value(Section, Key);
  if (!text) return Default;
  std::string_view digits = Trim(*text);
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  if (digits.empty()) return Default;
  int32_t value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size()) return Default;
  return value;
}

bool TIniDocument::ReadBool(std::string_view Section, std::string_view Key, bool Default) const {
  return ReadInteger(Section, Key, Default ? 1 : 0) != 0;
}

void TIniDocument::WriteString(std::string_view Section, std::string_view Key,
                               std::string_view Value) {
  TSection* section = FindSection(Section);
  if (!section) {
    // A new section stands apart from the text before it by one blank line.
    if (!FSections.empty()) {
      std::vector<TLine>& last = FSections.back().Lines;
      const bool endsBlank = !last.empty() && !last.back().IsEntry && Trim(last.back().Raw).empty();
      if (!endsBlank && (FSections.back().HasHeader || !last.empty())) last.push_back(TLine{});
    }
    TSection fresh;
    fresh.Name = std::string(Section);
    fresh.HasHeader = true;
    FSections.push_back(std::move(fresh));
    section = &FSections.back();
  }
  const std::string text = QuoteValue(Value);
  size_t insertAt = 0;  // after the section's last entry
  for (size_t i = 0; i < section->Lines.size(); ++i) {
    TLine& line = section->Lines[i];
    if (!line.IsEntry) continue;
    if (SameName(line.Key, Key)) {
      line.Value = text;
      return;
    }
    insertAt = i + 1;
  }
  TLine entry;
  entry.IsEntry = true;
  entry.Key = std::string(Key);
  entry.Value = text;
  section->Lines.insert(section->Lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                        std::move(entry));
}

void TIniDocument::WriteInteger(std::string_view Section, std::string_view Key, int32_t Value) {
  WriteString(Section, Key, std::to_string(Value));
}

void TIniDocument::WriteBool(std::string_view Section, std::string_view Key, bool Value) {
  WriteString(Section, Key, Value ? "1" : "0");
}

std::string TIniDocument::ToText() const {
  std::string text;
  for (const TSection& section : FSections) {
    if (section.HasHeader) text += '[' + section.Name + "]\n";
    for (const TLine& line : section.Lines) {
      if (line.IsEntry) {
        text += line.Key + '=' + line.Value + '\n';
      } else {
        text += line.Raw + '\n';
      }
    }
  }
  return text;
}

}  // namespace lirvo
