#pragma once
// The playlist file (".xpl"): a CSV text that carries the table's field and
// index definitions, a header and one line per row, UTF-8 without a
// byte-order mark, every line ended by CR LF.
//
//   "@@FILE VERSION@@","251"
//   "@@TABLEDEF START@@"
//   "ID=Integer,0,""ID"","""",10,Data,"""""          one line per field
//   ...
//   "@@INDEXDEF START@@"
//   "PL_IDX_Album=""Album;Track"",""PL_IDX_Album"""  one line per index
//   ...
//   "@@INDEXDEF END@@"
//   "@@TABLEDEF END@@"
//   "ID","Filename","Track","Title","Album","Artist","Time",
//   "1","/music/a.wav",,"a",,,"0:03:25",            one line per row
//
// An empty field is written as nothing between the commas; a value is quoted
// with its inner quotes doubled; text is escaped first (NUL %0, LF %n, CR %c,
// % %%), so a row never spans lines.
//
// Reading and writing go through streams so tests use memory buffers; the
// file functions add the atomic save and the handling of a damaged file.
// Called on the UI thread at start-up and when the window closes.

#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/logic/playlist/Playlist.h"

namespace lirvo {

// The whole file's text for Table's rows in its current order.
std::string PlaylistToText(const TPlaylistTable& Table);
void WritePlaylist(std::ostream& Out, const TPlaylistTable& Table);

// The rows of a playlist file's text, in file order, text cut to the limits
// (IDs as the file has them). The program's table keeps its own seven fields
// and indexes: the file's definitions are checked and decide which header
// column is which field, and columns of fields the table does not have are
// skipped. Throws EAuException for text that cannot be parsed, among them
// "Unknown field type (%s) in CSV file. (%s)" and "Couldnt determine field
// count for load.".
std::vector<PlaylistRecord> ParsePlaylistText(std::string_view Text);
std::vector<PlaylistRecord> ReadPlaylist(std::istream& In);

// Writes Table to Path through a temporary file in the same folder, flushed
// to disk and then renamed over Path, so a crash or a full disk leaves
// either the old file or the new one, never a part of one. A missing folder
// is created. Throws EAuException naming the file and the system's reason;
// Path is then untouched and no temporary file is left behind.
void SavePlaylistFile(const std::string& Path, const TPlaylistTable& Table);

enum class TPlaylistLoadResult {
  plrNoFile,   // no playlist file: the table is empty
  plrLoaded,   // the file's rows whose files exist are in the table
  plrDamaged,  // the file could not be read or parsed: the table is empty
};

struct TPlaylistLoadOutcome {
  TPlaylistLoadResult Result = TPlaylistLoadResult::plrNoFile;
  std::string Error;      // why the file was refused (plrDamaged)
  int DroppedRows = 0;    // rows whose file no longer exists (plrLoaded)
  bool KeptAside = true;  // plrDamaged: the file was moved to Path + ".bad"
};

// Whether the file a row names exists; tests replace it.
using TFileExistsFn = std::function<bool(const std::string& Path)>;
bool PlaylistRowFileExists(const std::string& Path);

// Loads the playlist file at Path into Table, which afterwards holds the
// file's rows in file order, in insertion order with no index chosen, the
// cursor on the first row. Rows whose Filename does not exist (for a CUE
// track: its CUE sheet) are dropped; the ID counter restarts at 0 and the
// surviving rows get IDs 1, 2, 3, ... in file order. A file that cannot be
// read or parsed leaves Table empty and is kept as Path + ".bad" (replacing
// an older one) rather than deleted, so the user's list can still be
// recovered; the next save writes a fresh file. Nothing is thrown.
TPlaylistLoadOutcome LoadPlaylistFile(const std::string& Path, TPlaylistTable& Table,
                                      const TFileExistsFn& FileExists = PlaylistRowFileExists);

}  // namespace lirvo
