#pragma once
// The CUE sheet reader: album data, tracks and their boundaries.
//
// The reader is split in two so that the rules can be tested and fuzzed
// without files: CueTextToLines turns a sheet file's bytes into UTF-8 lines,
// ParseCueSheet reads the lines. LoadCueSheetLines does both for a path.
// Everything here is a pure function of its input (the file for
// LoadCueSheetLines) and may be called from any thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "audio/core/AuException.h"

namespace lirvo {

// One track of a sheet.
struct TCueItem {
  std::string Performer;  // the album performer read before the track, unless it has its own
  std::string Title;
  uint32_t BeginIndex = 0;  // ms from the image's start: the track's last non-zero INDEX
  uint32_t EndIndex = 0;    // ms: where the next pregap or track starts; 0 = to the image's end
  // The same two times in CD frames (1/75 s), exactly as the sheet gives
  // them: the splitter cuts by these. EndFrame counts only when EndIndex is
  // not 0.
  uint32_t BeginFrame = 0;
  uint32_t EndFrame = 0;
};

// The track table holds at most this many tracks; later TRACK lines are
// ignored (the track number is 8-bit everywhere the player keeps it).
inline constexpr size_t kMaxCueItems = 255;

// Sheets are a few kilobytes; anything larger is not a sheet, and refusing it
// keeps a mistaken file from being loaded whole into memory.
inline constexpr int64_t kMaxCueSheetBytes = 16 * 1024 * 1024;

struct TCueSheet {
  std::string Album;
  std::string Performer;  // the album performer
  std::string Year;       // the first digit run of DATE or YEAR
  std::string Genre;
  std::vector<TCueItem> Items;  // in sheet order, at most kMaxCueItems
};

// Reads a sheet from its text lines (UTF-8; each line is trimmed here).
//
// Rules, kept as the player has always read sheets: lines starting with "REM "
// (any case) are skipped; keywords count only at the start of a line and only
// in upper case; text values drop double quotes, and keep blanks and control
// characters only after the first quote; numbers are digit runs (non-digits
// before them are skipped); INDEX times are mm:ss:ff with 75 frames a second.
// INDEX 00 ends the previous track (its pregap belongs to neither track),
// a non-zero INDEX starts the current one and ends the previous one if that
// has no end yet.
//
// Throws EAuException naming the line for an INDEX line whose index number is
// missing or whose time lacks a field or does not fit in 32-bit milliseconds.
TCueSheet ParseCueSheet(const std::vector<std::string>& Lines);

// A sheet file's bytes to lines: a byte-order mark selects UTF-8 or UTF-16
// (LE/BE); without one the bytes are UTF-8 when valid, otherwise GB18030.
// Lines end at CR, LF or CR LF; a final line break adds no empty line. The
// lines are not trimmed.
std::vector<std::string> CueTextToLines(std::string_view Bytes);

// Reads the file at Path (UTF-8) and returns CueTextToLines of its bytes.
// Throws EAuException with the system's text when the file cannot be read,
// and when it is larger than kMaxCueSheetBytes.
std::vector<std::string> LoadCueSheetLines(const std::string& Path);

}  // namespace lirvo
