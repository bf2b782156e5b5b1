#pragma once
// The playlist table: the one in-memory table of tracks the main window owns
// (cdPlaylist), shown read-only by the grid and written to the playlist file.
//
// Rows keep a current order: the insertion order (the state after start-up)
// or one of seven ascending indexes chosen by a click on a column title. The
// grid, "next" and "previous" and the saved file all follow that order. A
// cursor (the current row) and bookmarks (a row's identity, which survives
// sorting, inserts and deletes) serve the playback controller.
//
// Not thread-safe: the table lives on the UI thread, like everything that
// changes it (adding files, loading, the grid's commands).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lirvo {

// Field positions; the code addresses the fields by position.
enum TPlaylistField : int { pfID, pfFilename, pfTrack, pfTitle, pfAlbum, pfArtist, pfTime };
inline constexpr int kPlaylistFieldCount = 7;

enum class TPlaylistFieldType { Integer, String, Time };

struct TPlaylistFieldDef {
  const char* Name;
  TPlaylistFieldType Type;
  int Size;          // text limit in characters; 0 for the other types
  int DisplayWidth;  // as the playlist file records it
};

// The seven fields in field order.
extern const std::array<TPlaylistFieldDef, kPlaylistFieldCount> kPlaylistFields;

// One index: ascending, case-sensitive, not unique, on up to three fields.
struct TPlaylistIndexDef {
  const char* Name;
  std::array<int, 3> Keys;
  int KeyCount;
};

inline constexpr int kPlaylistIndexCount = 7;
// The index number that stands for the insertion order.
inline constexpr int kNoIndex = -1;

// PL_IDX_ID, PL_IDX_Filename, PL_IDX_Track, PL_IDX_Title, PL_IDX_Album
// (Album, Track), PL_IDX_Artist (Artist, Album, Track), PL_IDX_Time.
extern const std::array<TPlaylistIndexDef, kPlaylistIndexCount> kPlaylistIndexes;

// The number of the index called Name (exact spelling), kNoIndex when there
// is none.
int FindPlaylistIndex(std::string_view Name);

// The index a click on the title of Field's column chooses: the one named
// "PL_IDX_" followed by the field's name.
int PlaylistIndexForField(int Field);

// One row. Every field may be empty (null).
struct PlaylistRecord {
  std::optional<int32_t> ID;
  std::optional<std::string> Filename;  // audio file, or the CUE sheet of a CUE track
  std::optional<int32_t> Track;
  std::optional<std::string> Title;
  std::optional<std::string> Album;
  std::optional<std::string> Artist;
  std::optional<int32_t> Time;  // duration in whole seconds

  bool operator==(const PlaylistRecord&) const = default;
};

// A duration in seconds as the grid and the file show it: hours without a
// leading zero, minutes and seconds with two digits ("0:03:25").
std::string FormatPlaylistTime(int32_t Seconds);

// Reads what FormatPlaylistTime writes ("H:MM:SS", also "H:MM"), blanks
// around it allowed. False for anything else.
bool ParsePlaylistTime(std::string_view Text, int32_t& Seconds);

// The value of field Field as text (decimal integers, the time as
// FormatPlaylistTime writes it); nullopt when the field is empty.
std::optional<std::string> PlaylistFieldText(const PlaylistRecord& Rec, int Field);

// Rec with every text field cut to its limit, counted in characters; a
// multi-byte character is never cut in half.
PlaylistRecord ApplyPlaylistLimits(PlaylistRecord Rec);

// Identifies a row for as long as the table exists; never reused, so a
// bookmark of a deleted row stays invalid. 0 is no row.
using TPlaylistBookmark = uint64_t;
inline constexpr TPlaylistBookmark kNoBookmark = 0;

// Told about every change of the table, before and after, so a view can
// bracket it (the Qt model turns these into beginInsertRows and friends).
// The "About" calls come while the table still holds its old state.
class IPlaylistObserver {
 public:
  virtual ~IPlaylistObserver() = default;
  virtual void RowsAboutToBeInserted(int First, int Last) {}
  virtual void RowsInserted() {}
  virtual void RowsAboutToBeRemoved(int First, int Last) {}
  virtual void RowsRemoved() {}
  virtual void TableAboutToBeReset() {}
  virtual void TableReset() {}
  // The rows are about to be put in another order (an index was chosen).
  virtual void OrderAboutToChange() {}
  // NewPositions[old position] = new position of that row.
  virtual void OrderChanged(const std::vector<int>& NewPositions) {}
  // The cursor is on Row now (-1: the table is empty). Sent after every
  // change that may have moved it, also when it stayed on the same row.
  virtual void CurrentRowChanged(int Row) {}
};

class TPlaylistTable {
 public:
  TPlaylistTable() = default;
  TPlaylistTable(const TPlaylistTable&) = delete;
  TPlaylistTable& operator=(const TPlaylistTable&) = delete;

  // --- Rows, in the current order -----------------------------------------

  int RowCount() const { return static_cast<int>(FRows.size()); }
  bool IsEmpty() const { return FRows.empty(); }
  // Throws std::out_of_range for a position outside 0..RowCount()-1.
  const PlaylistRecord& Row(int Pos) const;

  // Stores Rec (text cut to the limits) at its place in the current order:
  // at the end in insertion order, after the rows with equal keys in an
  // index. The new row becomes current. Returns its position.
  int Append(PlaylistRecord Rec);

  // Deletes the row at Pos; the row after it becomes current (the new last
  // row when it was the last).
  void Delete(int Pos);
  // Deletes the current row; false when the table is empty.
  bool DeleteCurrent();
  // Deletes the rows at Positions (any order, duplicates and positions out
  // of range ignored), as if each were made current and deleted in
  // ascending order: the row after the last deleted one becomes current.
  void DeleteRows(std::vector<int> Positions);
  // Deletes every row. The chosen index and the ID counter stay.
  void Clear();
  // Replaces every row with Rows (text cut to the limits), in the given
  // order: insertion order, no index chosen, cursor on the first row.
  void Load(std::vector<PlaylistRecord> Rows);

  // --- Current order ----------------------------------------------------------

  // kNoIndex (insertion order) or a position in kPlaylistIndexes.
  int IndexNumber() const { return FIndex; }
  // The chosen index's name; empty for the insertion order.
  std::string IndexName() const;
  // Puts the rows in the order of index Index (kNoIndex: insertion order).
  // Choosing the index already in use changes nothing. The cursor and the
  // bookmarks stay on their rows. Throws std::out_of_range for an unknown
  // number.
  void SetIndex(int Index);
  // As SetIndex, by name ("" for the insertion order); false for an unknown
  // name, which changes nothing.
  bool SetIndexName(std::string_view Name);

  // --- Cursor -------------------------------------------------------------------

  // The current row's position; -1 only when the table is empty.
  int CurrentRow() const { return FCurrent; }
  // Pos is clamped to the rows there are.
  void SetCurrentRow(int Pos);
  // The current row; null when the table is empty.
  const PlaylistRecord* Current() const;
  void First();
  void Last();
  // Move one row; false (and the cursor stays) on the last or first row.
  bool Next();
  bool Prior();

  // --- Bookmarks and lookups --------------------------------------------------

  // The bookmark of the row at Pos / of the current row (kNoBookmark when
  // there is no such row).
  TPlaylistBookmark BookmarkAt(int Pos) const;
  TPlaylistBookmark GetBookmark() const { return BookmarkAt(FCurrent); }
  // The position of the bookmarked row, -1 when it no longer exists.
  int FindBookmark(TPlaylistBookmark Mark) const;
  bool BookmarkValid(TPlaylistBookmark Mark) const { return FindBookmark(Mark) >= 0; }
  // Makes the bookmarked row current; false (cursor unchanged) when it is gone.
  bool GotoBookmark(TPlaylistBookmark Mark);
  // The position of the first row (in the current order) whose ID is Id; -1.
  int FindID(int32_t Id) const;

  // --- IDs ------------------------------------------------------------------------

  // The last ID handed out (FAudioID). Deleting rows or emptying the table
  // leaves it alone, so an ID is never reused within a run.
  uint32_t AudioID() const { return FAudioID; }
  void SetAudioID(uint32_t Value) { FAudioID = Value; }
  // Adds 1 to the counter and returns the new value.
  uint32_t NextAudioID() { return ++FAudioID; }

  // --- Observer ---------------------------------------------------------------------

  // At most one observer (the grid's model); null removes it. Not owned.
  void SetObserver(IPlaylistObserver* Observer) { FObserver = Observer; }
  IPlaylistObserver* Observer() const { return FObserver; }

 private:
  struct TRow {
    PlaylistRecord Rec;
    uint64_t Seq;  // insertion sequence: the insertion order and the bookmark
  };

  // The current order: the index's keys, then the insertion sequence.
  bool Less(const TRow& A, const TRow& B) const;
  void SetCursor(int Pos);
  void EraseRange(int First, int Last);

  std::vector<TRow> FRows;  // in the current order
  int FIndex = kNoIndex;
  int FCurrent = -1;
  uint64_t FNextSeq = 1;
  uint32_t FAudioID = 0;
  IPlaylistObserver* FObserver = nullptr;
};

}  // namespace lirvo
