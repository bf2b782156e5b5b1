#include "audio/processors/CueSheet.h"

#include <algorithm>

#include "audio/core/AuException.h"
#include "audio/core/Stream.h"
#include "audio/core/TextCodec.h"

namespace lirvo {

namespace {

bool StartsWith(std::string_view Text, std::string_view Prefix) {
  return Text.substr(0, Prefix.size()) == Prefix;
}

bool IsDigit(char C) {
  return C >= '0' && C <= '9';
}

// Digit runs longer than any meaningful value saturate here, so a run of a
// thousand digits neither overflows nor passes as a small number.
constexpr uint64_t kNumberCap = 1'000'000'000'000ULL;

// Reads the first digit run at or after Pos. Pos moves past the character
// that ended the run (the next number of the line is read from there). False
// when the line has no digit left.
bool ReadNumber(std::string_view Line, size_t& Pos, uint64_t& Value) {
  while (Pos < Line.size() && !IsDigit(Line[Pos]))
    ++Pos;
  if (Pos >= Line.size()) return false;
  Value = 0;
  while (Pos < Line.size() && IsDigit(Line[Pos])) {
    Value = std::min(Value * 10 + static_cast<uint64_t>(Line[Pos] - '0'), kNumberCap);
    ++Pos;
  }
  ++Pos;  // the character that ended the run
  return true;
}

// The first digit run at or after Pos as text (empty when there is none).
std::string DigitRun(std::string_view Line, size_t Pos) {
  while (Pos < Line.size() && !IsDigit(Line[Pos]))
    ++Pos;
  size_t end = Pos;
  while (end < Line.size() && IsDigit(Line[end]))
    ++end;
  return std::string(Line.substr(Pos, end - Pos));
}

// A text value from Pos to the end of the line: a double quote is dropped
// and switches quoting on for the rest of the line; blanks and control
// characters are kept only while quoting is on.
std::string TextValue(std::string_view Line, size_t Pos) {
  std::string out;
  bool quoted = false;
  for (; Pos < Line.size(); ++Pos) {
    const char c = Line[Pos];
    if (c == '"') {
      quoted = true;
    } else if (static_cast<unsigned char>(c) > ' ' || quoted) {
      out += c;
    }
  }
  return out;
}

[[noreturn]] void RaiseBadIndex(size_t LineNo, std::string_view Line) {
  throw EAuException("Line " + std::to_string(LineNo) +
                     " of the cue sheet is not a valid INDEX line: \"" + Utf8Truncate(Line, 80) +
                     "\"");
}

// An INDEX time: in CD frames (1/75 s, exact) and in milliseconds.
struct TIndexTime {
  uint32_t Ms = 0;
  uint32_t Frames = 0;
};

// mm:ss:ff from Pos on. Minutes may exceed 99; the milliseconds are the
// frames rounded to whole ms (ff * 1000 / 75 never ends in a half).
TIndexTime ReadIndexTime(std::string_view Line, size_t Pos, size_t LineNo) {
  uint64_t mm, ss, ff;
  if (!ReadNumber(Line, Pos, mm) || !ReadNumber(Line, Pos, ss) || !ReadNumber(Line, Pos, ff))
    RaiseBadIndex(LineNo, Line);
  const uint64_t ms = (ff * 40 + 1) / 3 + mm * 60000 + ss * 1000;
  if (ms > UINT32_MAX) RaiseBadIndex(LineNo, Line);
  // Each field counts at least as much in ms as in frames: the frames fit too.
  return {static_cast<uint32_t>(ms), static_cast<uint32_t>(mm * 4500 + ss * 75 + ff)};
}

}  // namespace

TCueSheet ParseCueSheet(const std::vector<std::string>& Lines) {
  TCueSheet sheet;
  size_t tracks = 0;  // TRACK lines seen, including those beyond the table
  // Receives the lines of tracks beyond the table, which are read but not kept.
  TCueItem ignored;
  auto item = [&](size_t Number) -> TCueItem& {
    return Number <= kMaxCueItems ? sheet.Items[Number - 1] : ignored;
  };
  auto openTrack = [&] {
    ++tracks;
    TCueItem fresh;
    fresh.Performer = sheet.Performer;
    if (tracks <= kMaxCueItems)
      sheet.Items.push_back(std::move(fresh));
    else
      ignored = std::move(fresh);
  };

  for (size_t i = 0; i < Lines.size(); ++i) {
    const std::string line = Trim(Lines[i]);
    if (line.size() >= 4 && SameText(std::string_view(line).substr(0, 4), "REM ")) continue;
    const size_t lineNo = i + 1;

    if (tracks == 0) {
      if (StartsWith(line, "PERFORMER")) {
        sheet.Performer = TextValue(line, 9);
      } else if (StartsWith(line, "TITLE")) {
        sheet.Album = TextValue(line, 5);
      } else if (StartsWith(line, "GENRE")) {
        sheet.Genre = TextValue(line, 5);
      } else if (StartsWith(line, "DATE") || StartsWith(line, "YEAR")) {
        sheet.Year = DigitRun(line, 4);
      } else if (StartsWith(line, "TRACK")) {
        openTrack();
      }
      continue;
    }

    if (StartsWith(line, "INDEX")) {
      size_t pos = 5;
      uint64_t number;
      if (!ReadNumber(line, pos, number)) RaiseBadIndex(lineNo, line);
      TCueItem& current = item(tracks);
      TCueItem* previous = tracks > 1 ? &item(tracks - 1) : nullptr;
      if (number != 0) {
        const TIndexTime t = ReadIndexTime(line, pos, lineNo);
        current.BeginIndex = t.Ms;
        current.BeginFrame = t.Frames;
        if (previous && previous->EndIndex == 0) {
          previous->EndIndex = t.Ms;
          previous->EndFrame = t.Frames;
        }
      } else if (previous) {
        // A pregap: the previous track ends where it starts.
        const TIndexTime t = ReadIndexTime(line, pos, lineNo);
        previous->EndIndex = t.Ms;
        previous->EndFrame = t.Frames;
      }
    } else if (StartsWith(line, "PERFORMER")) {
      item(tracks).Performer = TextValue(line, 9);
    } else if (StartsWith(line, "TITLE")) {
      item(tracks).Title = TextValue(line, 5);
    } else if (StartsWith(line, "TRACK")) {
      openTrack();
    }
  }
  return sheet;
}

std::vector<std::string> CueTextToLines(std::string_view Bytes) {
  const std::string text = TextFileToUtf8(Bytes);
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.emplace_back(text, start);
      break;
    }
    lines.emplace_back(text, start, end - start);
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return lines;
}

std::vector<std::string> LoadCueSheetLines(const std::string& Path) {
  std::string bytes;
  try {
    TAuFileStream stream(Path, fmOpenRead | fmShareDenyWrite);
    // Read to the end rather than trusting the size: a sheet may be a pipe.
    char chunk[65536];
    for (;;) {
      const int64_t n = stream.Read(chunk, sizeof chunk);
      if (n <= 0) break;
      bytes.append(chunk, static_cast<size_t>(n));
      if (static_cast<int64_t>(bytes.size()) > kMaxCueSheetBytes)
        throw EAuException("the file is too large for a cue sheet");
    }
  } catch (const EAuException& e) {
    throw EAuException("Cannot read the cue sheet \"" + Path + "\": " + e.what());
  }
  return CueTextToLines(bytes);
}

}  // namespace lirvo
