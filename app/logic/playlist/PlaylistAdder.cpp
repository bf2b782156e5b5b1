#include "app/logic/playlist/PlaylistAdder.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <limits>
#include <utility>

#include "app/logic/playlist/FileKinds.h"
#include "audio/core/FileInputs.h"
#include "audio/decoders/AudioFLAC.h"
#include "audio/decoders/AudioMAC.h"
#include "audio/decoders/AudioWave.h"
#include "audio/decoders/AudioWinMedia.h"
#include "audio/processors/AudioMisc.h"
#include "audio/tags/TaggedFileIn.h"

namespace lirvo {

namespace {

constexpr uint32_t kSecondsPerDay = 24 * 60 * 60;

bool IsBlankChar(char C) {
  return static_cast<unsigned char>(C) <= ' ';
}

std::string_view Trim(std::string_view Text) {
  while (!Text.empty() && IsBlankChar(Text.front()))
    Text.remove_prefix(1);
  while (!Text.empty() && IsBlankChar(Text.back()))
    Text.remove_suffix(1);
  return Text;
}

// Only regular files are opened: a FIFO would block the reader, a device
// might never end.
bool IsRegularFile(const std::string& Path) {
  struct stat st {};
  return !Path.empty() && ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The file name without folder and extension ("/a/b.c.flac" gives "b.c").
std::string FileNameWithoutExt(const std::string& Path) {
  const size_t slash = Path.rfind('/');
  std::string name = slash == std::string::npos ? Path : Path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

// Opens Path with a temporary decoder of type TDecoder and builds its row.
// Tags: whether the decoder carries the common tag set.
template <class TDecoder, bool Tags>
std::optional<PlaylistRecord> ReadFileRow(const std::string& Path) {
  try {
    if (!IsRegularFile(Path)) return std::nullopt;
    TDecoder dec;
    dec.SetFileName(Path);
    dec.Init();
    // The decoders open a file they do not recognise as an empty stream;
    // for the playlist that is an undecodable file, which adds nothing.
    if (!dec.Valid()) {
      dec.Reset();
      return std::nullopt;
    }
    PlaylistRecord rec;
    rec.Filename = Path;
    if constexpr (Tags) {
      TCommonTags& tags = dec.CommonTags();
      const int32_t track = TrackNumberFromText(tags.Track());
      if (track > 0) rec.Track = track;
      std::string title = tags.Title();
      rec.Title = Trim(title).empty() ? FileNameWithoutExt(Path) : std::move(title);
      rec.Album = tags.Album();
      rec.Artist = tags.Artist();
    } else {
      rec.Title = FileNameWithoutExt(Path);
    }
    rec.Time = SecondsToTime(dec.TotalTime());
    dec.Reset();
    return rec;
  } catch (...) {
    // Adding is silent: a file that cannot be read simply adds no row.
    return std::nullopt;
  }
}

struct TDirId {
  dev_t Dev;
  ino_t Ino;
  bool operator==(const TDirId&) const = default;
};

struct TDirCloser {
  void operator()(DIR* D) const { ::closedir(D); }
};

using TVisit = std::function<bool(const std::string&)>;

// Walks Folder (ending in "/"); Ancestors holds the folders on the current
// path, Folder included. False when Visit asked to stop.
bool WalkFolder(const std::string& Folder, std::vector<TDirId>& Ancestors, const TVisit& Visit) {
  std::vector<std::string> names;
  {
    std::unique_ptr<DIR, TDirCloser> dir(::opendir(Folder.c_str()));
    if (!dir) return true;
    while (const dirent* e = ::readdir(dir.get())) {
      const std::string_view name = e->d_name;
      if (name == "." || name == "..") continue;
      names.emplace_back(name);
    }
  }
  // Byte order: the same tree always gives the same playlist.
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string full = Folder + name;
    struct stat st {};
    if (::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      const TDirId id{st.st_dev, st.st_ino};
      // A link back to a folder on the current path would never end.
      if (std::find(Ancestors.begin(), Ancestors.end(), id) != Ancestors.end()) continue;
      Ancestors.push_back(id);
      const bool go_on = WalkFolder(full + "/", Ancestors, Visit);
      Ancestors.pop_back();
      if (!go_on) return false;
      // A folder as a file adds nothing, whatever its name: not visited.
      continue;
    }
    if (!Visit(full)) return false;
  }
  return true;
}

// True when Path names a folder (links followed); Id is then its identity.
bool FolderId(const std::string& Path, TDirId& Id) {
  struct stat st {};
  if (Path.empty() || ::stat(Path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  Id = {st.st_dev, st.st_ino};
  return true;
}

bool WalkDirImpl(const std::string& Folder, const TVisit& Visit) {
  TDirId id{};
  if (!FolderId(Folder, id)) return true;
  std::string dir = Folder;
  if (dir.back() != '/') dir += '/';
  std::vector<TDirId> ancestors{id};
  return WalkFolder(dir, ancestors, Visit);
}

}  // namespace

// --- Helpers ------------------------------------------------------------------

int32_t SecondsToTime(uint32_t Seconds) {
  // Hours of 24 or more do not fit into a time of day: midnight.
  return Seconds < kSecondsPerDay ? static_cast<int32_t>(Seconds) : 0;
}

std::string LeadingDigits(std::string_view Text) {
  size_t n = 0;
  while (n < Text.size() && Text[n] >= '0' && Text[n] <= '9')
    ++n;
  return std::string(Text.substr(0, n));
}

int32_t TrackNumberFromText(std::string_view Text) {
  const std::string digits = LeadingDigits(Trim(Text));
  int64_t value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
    if (value > std::numeric_limits<int32_t>::max()) return 0;
  }
  return static_cast<int32_t>(value);
}

// --- Reading one file ----------------------------------------------------------------

std::optional<PlaylistRecord> ReadWAVFileRow(const std::string& Path) {
  return ReadFileRow<TWaveIn, false>(Path);
}

std::optional<PlaylistRecord> ReadFLACFileRow(const std::string& Path) {
  return ReadFileRow<TFLACIn, true>(Path);
}

std::optional<PlaylistRecord> ReadAPEFileRow(const std::string& Path) {
  return ReadFileRow<TMACIn, true>(Path);
}

std::optional<PlaylistRecord> ReadWMXFileRow(const std::string& Path) {
  return ReadFileRow<TWMIn, true>(Path);
}

std::vector<PlaylistRecord> ReadCueFileRows(const std::string& CuePath) {
  std::vector<PlaylistRecord> rows;
  try {
    if (!IsRegularFile(CuePath)) return rows;
    if (CueHasSeveralFiles(CuePath)) return rows;
    const std::string audio = GetCueAudioFileName(CuePath);
    if (!IsRegularFile(audio)) return rows;
    std::unique_ptr<TAuFileIn> dec;
    switch (GetAudioFileType(audio)) {
      case aftWAV:
        dec = std::make_unique<TWaveIn>();
        break;
      case aftFLAC:
        dec = std::make_unique<TFLACIn>();
        break;
      case aftAPE:
        dec = std::make_unique<TMACIn>();
        break;
      default:
        // MP3 and WMA images cannot be cut into tracks.
        return rows;
    }
    dec->SetFileName(audio);
    dec->Init();
    if (!dec->Valid()) {
      dec->Reset();
      return rows;
    }
    const uint32_t total = dec->TotalTime();
    dec->Reset();

    // Declared after the decoder so it goes first: it reads from it.
    TCueSplitter cue;
    cue.SetInput(dec.get());
    // Paths are UTF-8 here, which is also what the splitter reads.
    cue.SetCueFile(CuePath);
    cue.Init();
    const int count = cue.ItemsCount();
    uint32_t sum = 0;  // unsigned like the lengths: the last track's rest wraps to "too long"
    for (int i = 0; i < count; ++i) {
      cue.SetCurrentItem(static_cast<uint8_t>(i));
      PlaylistRecord rec;
      rec.Filename = CuePath;
      rec.Track = i + 1;
      rec.Title = cue.Title();
      rec.Album = cue.Album();
      rec.Artist = cue.Performer();
      int32_t time;
      if (i + 1 < count) {
        const uint32_t length = cue.Time();
        time = SecondsToTime(length);
        sum += length;
      } else {
        time = SecondsToTime(total - sum);
      }
      if (time != 0) rec.Time = time;
      rows.push_back(std::move(rec));
    }
    cue.Reset();
  } catch (...) {
    // Silent, as every add: the tracks read before the failure stay.
  }
  return rows;
}

std::vector<PlaylistRecord> ReadRowsForFile(const std::string& Path) {
  std::optional<PlaylistRecord> rec;
  switch (GetAudioFileType(Path)) {
    case aftWAV:
      rec = ReadWAVFileRow(Path);
      break;
    case aftFLAC:
      rec = ReadFLACFileRow(Path);
      break;
    case aftAPE:
      rec = ReadAPEFileRow(Path);
      break;
    case aftMP3:
    case aftWMA:
      rec = ReadWMXFileRow(Path);
      break;
    case aftCUE:
      return ReadCueFileRows(Path);
    case aftUnknown:
      break;
  }
  std::vector<PlaylistRecord> rows;
  if (rec) rows.push_back(std::move(*rec));
  return rows;
}

// --- Walking a drop -------------------------------------------------------------

void WalkDir(const std::string& Folder, const TVisit& Visit) {
  WalkDirImpl(Folder, Visit);
}

void WalkDropPaths(const std::vector<std::string>& Paths, const TVisit& Visit) {
  for (const std::string& path : Paths) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      if (!WalkDirImpl(path, Visit)) return;
    } else if (!Visit(path)) {
      return;
    }
  }
}

// --- Synchronous adder ---------------------------------------------------------------

size_t TPlaylistAdder::StoreRows(TPlaylistTable& Table, std::vector<PlaylistRecord> Rows) {
  for (PlaylistRecord& rec : Rows) {
    rec.ID = static_cast<int32_t>(Table.NextAudioID());
    Table.Append(std::move(rec));
  }
  return Rows.size();
}

void TPlaylistAdder::AddAudioFile(const std::string& Path) {
  StoreRows(FTable, ReadRowsForFile(Path));
}

void TPlaylistAdder::AddWAVFile(const std::string& Path) {
  if (auto rec = ReadWAVFileRow(Path)) StoreRows(FTable, {std::move(*rec)});
}

void TPlaylistAdder::AddFLACFile(const std::string& Path) {
  if (auto rec = ReadFLACFileRow(Path)) StoreRows(FTable, {std::move(*rec)});
}

void TPlaylistAdder::AddAPEFile(const std::string& Path) {
  if (auto rec = ReadAPEFileRow(Path)) StoreRows(FTable, {std::move(*rec)});
}

void TPlaylistAdder::AddWMXFile(const std::string& Path) {
  if (auto rec = ReadWMXFileRow(Path)) StoreRows(FTable, {std::move(*rec)});
}

void TPlaylistAdder::AddCueFile(const std::string& CuePath) {
  StoreRows(FTable, ReadCueFileRows(CuePath));
}

void TPlaylistAdder::AddDir(const std::string& Folder) {
  WalkDir(Folder, [this](const std::string& File) {
    AddAudioFile(File);
    return true;
  });
}

void TPlaylistAdder::AddPaths(const std::vector<std::string>& Paths) {
  WalkDropPaths(Paths, [this](const std::string& File) {
    AddAudioFile(File);
    return true;
  });
}

// --- Asynchronous adder -----------------------------------------------------------------

// What the worker and the queued calls share; the queued calls hold it by
// shared_ptr, so they stay harmless after the adder is gone.
struct TAsyncAdder::TShared {
  TPlaylistTable* Table;  // used on the UI thread only
  TPoster Poster;         // called on the worker only
  TEvents Events;         // called on the UI thread only
  std::atomic<bool> Cancelled{false};
  std::atomic<bool> Finished{false};
  uint64_t RowsAdded = 0;  // UI thread only

  std::mutex Lock;                // guards InFlight
  std::condition_variable Taken;  // InFlight went down, or cancelled
  int InFlight = 0;

  // UI thread: one batch arrives.
  void Apply(std::vector<PlaylistRecord>& Rows, uint64_t Examined, const std::string& Current,
             bool Last) {
    {
      std::lock_guard<std::mutex> lock(Lock);
      --InFlight;
    }
    Taken.notify_all();
    if (Cancelled) return;
    RowsAdded += TPlaylistAdder::StoreRows(*Table, std::move(Rows));
    const TAddProgress progress{Examined, RowsAdded, Current};
    if (Events.OnProgress) Events.OnProgress(progress);
    // Cancel may have been called from OnProgress.
    if (Last && !Cancelled) {
      Finished = true;
      if (Events.OnDone) Events.OnDone(progress);
    }
  }
};

TAsyncAdder::TAsyncAdder(TPlaylistTable& Table, std::vector<std::string> Paths, TPoster Poster,
                         TEvents Events)
    : FShared(std::make_shared<TShared>()) {
  FShared->Table = &Table;
  FShared->Poster = std::move(Poster);
  FShared->Events = std::move(Events);
  FWorker = std::thread(&TAsyncAdder::Run, FShared, std::move(Paths));
}

TAsyncAdder::~TAsyncAdder() {
  Cancel();
}

void TAsyncAdder::Cancel() {
  {
    std::lock_guard<std::mutex> lock(FShared->Lock);
    FShared->Cancelled = true;
  }
  FShared->Taken.notify_all();
  if (FWorker.joinable() && FWorker.get_id() != std::this_thread::get_id()) FWorker.join();
}

bool TAsyncAdder::Finished() const {
  return FShared->Finished;
}

bool TAsyncAdder::Cancelled() const {
  return FShared->Cancelled;
}

void TAsyncAdder::Run(std::shared_ptr<TShared> Shared, std::vector<std::string> Paths) {
  // The worker touches only the shared state, never the adder.
  const std::shared_ptr<TShared>& shared = Shared;
  using Clock = std::chrono::steady_clock;
  std::vector<PlaylistRecord> batch;
  uint64_t examined = 0;
  std::string current;
  auto last_post = Clock::now();

  // Hands the batch to the UI thread; false when cancelled meanwhile.
  auto post = [&](bool Last) {
    {
      std::unique_lock<std::mutex> lock(shared->Lock);
      // Bounded: a fast disk must not queue the whole tree for a slow UI.
      shared->Taken.wait(
          lock, [&] { return shared->Cancelled || shared->InFlight < kMaxBatchesInFlight; });
      if (shared->Cancelled) return false;
      ++shared->InFlight;
    }
    shared->Poster([shared, rows = std::move(batch), examined, current, Last]() mutable {
      shared->Apply(rows, examined, current, Last);
    });
    batch.clear();
    last_post = Clock::now();
    return true;
  };

  try {
    WalkDropPaths(Paths, [&](const std::string& File) {
      if (shared->Cancelled) return false;
      ++examined;
      current = File;
      std::vector<PlaylistRecord> rows = ReadRowsForFile(File);
      std::move(rows.begin(), rows.end(), std::back_inserter(batch));
      if (batch.size() >= static_cast<size_t>(kBatchRows) ||
          Clock::now() - last_post >= std::chrono::milliseconds(kBatchMs))
        return post(false);
      return !shared->Cancelled.load();
    });
    if (!shared->Cancelled) post(true);
  } catch (...) {
    // Errors of one file never get here (the readers are silent); this is
    // the last guard of the thread (out of memory, a failing poster).
    // Nothing sensible can be reported: the add just ends.
  }
}

}  // namespace lirvo
