#pragma once
// Filling the playlist from audio files, CUE sheets and folders.
//
// Each file is opened once with a temporary decoder of its own (never one of
// the window's) to read its tags and duration; a file gives one row, a CUE
// sheet one row per track. Every failure is silent and adds nothing for that
// file (or that track); rows added before it stay.
//
// The work is split in two so that a large folder does not freeze the window:
//   - ReadRowsForFile and friends read one file and build its rows without
//     touching the table (no IDs). They are thread-safe and never throw.
//   - Storing rows takes IDs from the table's NextAudioID and appends, on the
//     thread that owns the table (the UI thread).
// TPlaylistAdder does both at once (synchronous); TAsyncAdder reads on a
// worker thread and stores on the UI thread in batches, with the same result.
//
// Folders are listed with every entry (hidden ones too) sorted by name in
// byte order, subfolders first walked at their place in the listing (depth
// first). Symbolic links to folders are followed, except a link back to a
// folder on the current path, so a link loop ends. Only regular files (after
// following links) are opened: a FIFO or device with an audio extension would
// block or never end.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/logic/playlist/Playlist.h"

namespace lirvo {

// --- Helpers ------------------------------------------------------------------

// The playlist's Time value (seconds of a time of day) for a count of seconds:
// the count itself below 24 hours, 0 (midnight) from 24 hours on. A negative
// count passed in as unsigned is a huge number and gives 0 too.
int32_t SecondsToTime(uint32_t Seconds);

// The run of ASCII decimal digits Text starts with; empty when it starts with
// anything else.
std::string LeadingDigits(std::string_view Text);

// The track number a tag's text stands for: blanks around it removed, then its
// leading digits as an integer ("3/12" is 3, " 07" is 7, "A1" is 0). 0 when
// there are no digits, and when the digits do not fit into 32 bits (such a
// tag is junk, and must not keep the file out of the playlist).
int32_t TrackNumberFromText(std::string_view Text);

// --- Reading one file (any thread; never throws) --------------------------------

// The row of a WAV file: the file name (without folder and extension) as the
// title, and the duration. nullopt when the file cannot be opened or decoded.
std::optional<PlaylistRecord> ReadWAVFileRow(const std::string& Path);
// The row of a FLAC, APE, or MP3/WMA file: track, title, album and artist from
// the tags (a blank title gives the file name), and the duration.
std::optional<PlaylistRecord> ReadFLACFileRow(const std::string& Path);
std::optional<PlaylistRecord> ReadAPEFileRow(const std::string& Path);
std::optional<PlaylistRecord> ReadWMXFileRow(const std::string& Path);
// One row per track of a CUE sheet whose audio (GetCueAudioFileName) is a
// WAV, FLAC or APE file: the sheet's path, the track's position, title and
// performer, the album, and the track's length (the last track gets what is
// left of the image; a length of 0 is left empty). Nothing for a sheet naming
// several files or whose audio is missing, of another kind or undecodable;
// when a track fails, the tracks before it are returned.
std::vector<PlaylistRecord> ReadCueFileRows(const std::string& CuePath);

// The rows of any file, chosen by GetAudioFileType: what the readers above
// give, nothing for an unknown kind.
std::vector<PlaylistRecord> ReadRowsForFile(const std::string& Path);

// --- Walking a drop -------------------------------------------------------------

// Calls Visit with every file path a drop of Paths hands to AddAudioFile, in
// order: an existing folder gives the files of its tree (see the listing
// order above), an existing regular file itself; anything else nothing. The
// walk stops early when Visit returns false. Folder separator "/".
void WalkDropPaths(const std::vector<std::string>& Paths,
                   const std::function<bool(const std::string&)>& Visit);
// The same for one folder (AddDir): nothing when it is not a folder.
void WalkDir(const std::string& Folder, const std::function<bool(const std::string&)>& Visit);

// --- Synchronous adder (the table's thread) ---------------------------------------

// Appends rows to Table; each new row takes Table.NextAudioID(). The table
// must outlive the adder.
class TPlaylistAdder {
 public:
  explicit TPlaylistAdder(TPlaylistTable& Table) : FTable(Table) {}

  // By the file's kind: WAV, FLAC, APE, MP3/WMA or CUE; nothing for others.
  void AddAudioFile(const std::string& Path);
  void AddWAVFile(const std::string& Path);
  void AddFLACFile(const std::string& Path);
  void AddAPEFile(const std::string& Path);
  void AddWMXFile(const std::string& Path);  // MP3 and WMA
  void AddCueFile(const std::string& CuePath);
  // Every file of the folder's tree, depth first.
  void AddDir(const std::string& Folder);
  // A drop: for each path in order, a folder is AddDir, a file AddAudioFile.
  void AddPaths(const std::vector<std::string>& Paths);

  // Gives each row the next ID and appends it, in order. Returns the count.
  static size_t StoreRows(TPlaylistTable& Table, std::vector<PlaylistRecord> Rows);

 private:
  TPlaylistTable& FTable;
};

// --- Asynchronous adder --------------------------------------------------------

// Where an add stands. Sent on the UI thread.
struct TAddProgress {
  uint64_t FilesExamined = 0;  // paths handed to AddAudioFile so far
  uint64_t RowsAdded = 0;      // rows stored in the table so far
  std::string CurrentPath;     // the last path examined
};

// Adds a drop on a worker thread: the worker walks the paths and reads each
// file's rows; the rows reach the UI thread in batches (about every 50 ms or
// 200 rows, whichever comes first) through Poster, where they take their IDs
// and are appended in order, so the table ends up as after
// TPlaylistAdder::AddPaths.
//
// Threads: construct, Cancel and destroy on the UI thread, the thread that
// owns the table and runs what Poster queues. Poster is called from the
// worker thread; it must queue the call for the UI thread in FIFO order and
// return without waiting for it (a Qt queued invocation, a test's queue). A
// queued call that runs after Cancel or the destructor returned does nothing:
// it holds only shared state, never the adder. At most a few batches are in
// flight: the worker waits for the UI thread to take them (cancel wakes it).
class TAsyncAdder {
 public:
  using TPoster = std::function<void(std::function<void()>)>;
  using TProgressEvent = std::function<void(const TAddProgress&)>;

  struct TEvents {
    TProgressEvent OnProgress;  // after each stored batch
    TProgressEvent OnDone;      // once, after the last batch (not after Cancel)
  };

  // Starts the worker at once. Table must outlive every call Poster queued.
  TAsyncAdder(TPlaylistTable& Table, std::vector<std::string> Paths, TPoster Poster,
              TEvents Events);
  // Cancels and joins the worker.
  ~TAsyncAdder();
  TAsyncAdder(const TAsyncAdder&) = delete;
  TAsyncAdder& operator=(const TAsyncAdder&) = delete;

  // Stops the worker (after the file it is reading) and joins it. Once it
  // returns, no row is added and no event is sent. Idempotent.
  void Cancel();
  // True once OnDone's batch has been handled on the UI thread.
  bool Finished() const;
  bool Cancelled() const;

  // Batching limits, exposed for tests and the benchmark.
  static constexpr int kBatchRows = 200;
  static constexpr int kBatchMs = 50;
  static constexpr int kMaxBatchesInFlight = 4;

 private:
  struct TShared;
  // The worker thread's body.
  static void Run(std::shared_ptr<TShared> Shared, std::vector<std::string> Paths);

  std::shared_ptr<TShared> FShared;
  std::thread FWorker;
};

}  // namespace lirvo
