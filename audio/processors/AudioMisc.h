#pragma once
// CUE sheets: the sheet reader (album data, tracks and their boundaries) and
// TCueSplitter, the processor that plays one track of a disc image by setting
// the sample window of the decoder it reads from.
//
// The reader is split in two so that the rules can be tested and fuzzed
// without files: CueTextToLines turns a sheet file's bytes into UTF-8 lines,
// ParseCueSheet reads the lines. LoadCueSheetLines does both for a path.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "audio/core/AudioClasses.h"

namespace lirvo {

// One track of a sheet.
struct TCueItem {
  std::string Performer;  // the album performer read before the track, unless it has its own
  std::string Title;
  uint32_t BeginIndex = 0;  // ms from the image's start: the track's last non-zero INDEX
  uint32_t EndIndex = 0;    // ms: where the next pregap or track starts; 0 = to the image's end
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

// ---------------------------------------------------------------------------
// TCueSplitter: plays track CurrentItem of the image its input decodes.
//
// The input must be a file input (a decoder): at Init the splitter sets the
// input's StartSample/EndSample to the track and initialises it; the data is
// passed through untouched, the input's window ending it at the track's end.
// The sheet is read lazily, on the first use after CueFile was set (and again
// on every use while it held no track).
//
// Threads: the properties are used by the UI thread; Init, Flush and the data
// calls run on the thread that pulls the chain, under DataCS. FSheetCS guards
// the sheet's data; it is a leaf lock, never held while the input is called.
class TCueSplitter : public TAuConverter {
 public:
  explicit TCueSplitter(TComponent* AOwner = nullptr);
  ~TCueSplitter() override;

  // Setting the sheet forgets everything read and selects the first track.
  std::string CueFile() const;
  void SetCueFile(const std::string& Value);

  // The properties below read the sheet first when needed, so they raise what
  // reading raises: "Cue-file not set", an unreadable sheet (with the system's
  // text) or a malformed INDEX line.
  uint8_t ItemsCount();
  uint8_t CurrentItem() const { return FCurrentItem.load(); }
  // 0 is always accepted; any other index must be below ItemsCount ("Item
  // index out of bounds").
  void SetCurrentItem(uint8_t Value);

  std::string Album();
  std::string Year();
  std::string Genre();
  // The current track's performer and title.
  std::string Performer();
  std::string Title();
  // The current track's length in whole seconds. A track without an end
  // reaches to the end of the input as the input reports it now (the whole
  // file before the input's Init); 0 without an input.
  uint32_t Time();
  // All tracks read (a copy).
  std::vector<TCueItem> Items();

 protected:
  // Raises "Input is not assigned." without an input, and refuses an input
  // that is not a file input. Sets the input's window to the current track,
  // initialises the input and takes its Size.
  void InitInternal() override;
  // Flushes the input (which also clears its window).
  void FlushInternal() override;
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override;

 private:
  // Reads the sheet unless tracks were read already. Caller holds FSheetCS.
  void ParseCueFile();
  // The current track, or an empty one when there is none. Caller holds
  // FSheetCS.
  TCueItem CurrentItemData() const;

  mutable std::mutex FSheetCS;  // guards the fields down to FItemsCount
  std::string FCueFile;
  TCueSheet FSheet;
  uint8_t FItemsCount = 0;  // 0 also means "not read yet"
  std::atomic<uint8_t> FCurrentItem{0};
  // Set at Init when the track's end lies before its start (a broken sheet):
  // the track then delivers nothing instead of the rest of the image.
  bool FEmptyTrack = false;  // under DataCS
};

}  // namespace lirvo
