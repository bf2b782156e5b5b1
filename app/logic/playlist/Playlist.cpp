#include "app/logic/playlist/Playlist.h"

#include <algorithm>
#include <charconv>
#include <numeric>
#include <stdexcept>

#include "audio/core/TextCodec.h"

namespace lirvo {

const std::array<TPlaylistFieldDef, kPlaylistFieldCount> kPlaylistFields = {{
    {"ID", TPlaylistFieldType::Integer, 0, 10},
    {"Filename", TPlaylistFieldType::String, 255, 255},
    {"Track", TPlaylistFieldType::Integer, 0, 10},
    {"Title", TPlaylistFieldType::String, 200, 200},
    {"Album", TPlaylistFieldType::String, 200, 200},
    {"Artist", TPlaylistFieldType::String, 100, 100},
    {"Time", TPlaylistFieldType::Time, 0, 18},
}};

const std::array<TPlaylistIndexDef, kPlaylistIndexCount> kPlaylistIndexes = {{
    {"PL_IDX_ID", {pfID}, 1},
    {"PL_IDX_Filename", {pfFilename}, 1},
    {"PL_IDX_Track", {pfTrack}, 1},
    {"PL_IDX_Title", {pfTitle}, 1},
    {"PL_IDX_Album", {pfAlbum, pfTrack}, 2},
    {"PL_IDX_Artist", {pfArtist, pfAlbum, pfTrack}, 3},
    {"PL_IDX_Time", {pfTime}, 1},
}};

namespace {

// Grid deletions of more separate blocks than this are announced as one
// reset: removing block by block moves the rows behind each block again.
constexpr size_t kMaxRemovalBlocks = 32;

constexpr int32_t kMaxTimeHours = 596522;  // keeps hours * 3600 within int32

template <typename Record>
auto* TextField(Record& Rec, int Field) {
  using Result = decltype(&Rec.Title);
  switch (Field) {
    case pfFilename:
      return &Rec.Filename;
    case pfTitle:
      return &Rec.Title;
    case pfAlbum:
      return &Rec.Album;
    case pfArtist:
      return &Rec.Artist;
    default:
      return Result{nullptr};
  }
}

const std::optional<int32_t>* IntField(const PlaylistRecord& Rec, int Field) {
  switch (Field) {
    case pfID:
      return &Rec.ID;
    case pfTrack:
      return &Rec.Track;
    case pfTime:
      return &Rec.Time;
    default:
      return nullptr;
  }
}

// Empty values first, then ascending; text compares byte by byte, which on
// UTF-8 is code point order and case-sensitive.
int CompareField(const PlaylistRecord& A, const PlaylistRecord& B, int Field) {
  if (const auto* a = IntField(A, Field)) {
    const auto* b = IntField(B, Field);
    if (a->has_value() != b->has_value()) return a->has_value() ? 1 : -1;
    if (!a->has_value() || **a == **b) return 0;
    return **a < **b ? -1 : 1;
  }
  const auto* a = TextField(A, Field);
  const auto* b = TextField(B, Field);
  if (a->has_value() != b->has_value()) return a->has_value() ? 1 : -1;
  if (!a->has_value()) return 0;
  return (*a)->compare(**b);
}

bool ParseDigits(std::string_view Text, int32_t& Value) {
  if (Text.empty() || Text.size() > 9) return false;
  for (char c : Text) {
    if (c < '0' || c > '9') return false;
  }
  std::from_chars(Text.data(), Text.data() + Text.size(), Value);
  return true;
}

}  // namespace

int FindPlaylistIndex(std::string_view Name) {
  for (int i = 0; i < kPlaylistIndexCount; ++i) {
    if (Name == kPlaylistIndexes[i].Name) return i;
  }
  return kNoIndex;
}

int PlaylistIndexForField(int Field) {
  if (Field < 0 || Field >= kPlaylistFieldCount) return kNoIndex;
  return FindPlaylistIndex(std::string("PL_IDX_") + kPlaylistFields[Field].Name);
}

std::string FormatPlaylistTime(int32_t Seconds) {
  if (Seconds < 0) Seconds = 0;
  const int32_t h = Seconds / 3600;
  const int32_t m = Seconds / 60 % 60;
  const int32_t s = Seconds % 60;
  std::string out = std::to_string(h);
  out += ':';
  out += static_cast<char>('0' + m / 10);
  out += static_cast<char>('0' + m % 10);
  out += ':';
  out += static_cast<char>('0' + s / 10);
  out += static_cast<char>('0' + s % 10);
  return out;
}

bool ParsePlaylistTime(std::string_view Text, int32_t& Seconds) {
  std::string_view t = Text;
  while (!t.empty() && static_cast<unsigned char>(t.front()) <= ' ')
    t.remove_prefix(1);
  while (!t.empty() && static_cast<unsigned char>(t.back()) <= ' ')
    t.remove_suffix(1);
  int32_t parts[3] = {0, 0, 0};
  int count = 0;
  while (count < 3) {
    const size_t colon = t.find(':');
    const std::string_view part = t.substr(0, colon);
    if (!ParseDigits(part, parts[count])) return false;
    // Minutes and seconds have at most two digits.
    if (count > 0 && part.size() > 2) return false;
    ++count;
    if (colon == std::string_view::npos) break;
    t.remove_prefix(colon + 1);
    if (count == 3) return false;  // a fourth part
  }
  if (count < 2) return false;
  if (parts[0] > kMaxTimeHours || parts[1] > 59 || parts[2] > 59) return false;
  Seconds = parts[0] * 3600 + parts[1] * 60 + parts[2];
  return true;
}

std::optional<std::string> PlaylistFieldText(const PlaylistRecord& Rec, int Field) {
  if (Field == pfTime) {
    if (!Rec.Time) return std::nullopt;
    return FormatPlaylistTime(*Rec.Time);
  }
  if (const auto* v = IntField(Rec, Field)) {
    if (!v->has_value()) return std::nullopt;
    return std::to_string(**v);
  }
  if (const auto* v = TextField(Rec, Field)) return *v;
  return std::nullopt;
}

PlaylistRecord ApplyPlaylistLimits(PlaylistRecord Rec) {
  for (int field : {pfFilename, pfTitle, pfAlbum, pfArtist}) {
    auto* v = TextField(Rec, field);
    const size_t limit = static_cast<size_t>(kPlaylistFields[field].Size);
    // Byte length bounds the character count: most values need no counting.
    if (v->has_value() && (*v)->size() > limit && Utf8Length(**v) > limit) {
      **v = Utf8Truncate(**v, limit);
    }
  }
  return Rec;
}

// --- TPlaylistTable ---------------------------------------------------------------

const PlaylistRecord& TPlaylistTable::Row(int Pos) const {
  if (Pos < 0 || Pos >= RowCount()) throw std::out_of_range("playlist row out of range");
  return FRows[static_cast<size_t>(Pos)].Rec;
}

bool TPlaylistTable::Less(const TRow& A, const TRow& B) const {
  if (FIndex != kNoIndex) {
    const TPlaylistIndexDef& index = kPlaylistIndexes[static_cast<size_t>(FIndex)];
    for (int k = 0; k < index.KeyCount; ++k) {
      const int c = CompareField(A.Rec, B.Rec, index.Keys[static_cast<size_t>(k)]);
      if (c != 0) return c < 0;
    }
  }
  return A.Seq < B.Seq;
}

void TPlaylistTable::SetCursor(int Pos) {
  const int count = RowCount();
  FCurrent = count == 0 ? -1 : std::clamp(Pos, 0, count - 1);
  if (FObserver) FObserver->CurrentRowChanged(FCurrent);
}

int TPlaylistTable::Append(PlaylistRecord Rec) {
  TRow row{ApplyPlaylistLimits(std::move(Rec)), FNextSeq++};
  // The new row has the highest sequence, so it goes after every equal key.
  const auto at = std::upper_bound(FRows.begin(), FRows.end(), row,
                                   [this](const TRow& a, const TRow& b) { return Less(a, b); });
  const int pos = static_cast<int>(at - FRows.begin());
  if (FObserver) FObserver->RowsAboutToBeInserted(pos, pos);
  FRows.insert(at, std::move(row));
  if (FObserver) FObserver->RowsInserted();
  SetCursor(pos);
  return pos;
}

void TPlaylistTable::EraseRange(int First, int Last) {
  if (FObserver) FObserver->RowsAboutToBeRemoved(First, Last);
  FRows.erase(FRows.begin() + First, FRows.begin() + Last + 1);
  if (FObserver) FObserver->RowsRemoved();
}

void TPlaylistTable::Delete(int Pos) {
  if (Pos < 0 || Pos >= RowCount()) return;
  const int current = FCurrent;
  EraseRange(Pos, Pos);
  SetCursor(current > Pos ? current - 1 : current);
}

bool TPlaylistTable::DeleteCurrent() {
  if (FCurrent < 0) return false;
  Delete(FCurrent);
  return true;
}

void TPlaylistTable::DeleteRows(std::vector<int> Positions) {
  const int count = RowCount();
  std::erase_if(Positions, [count](int p) { return p < 0 || p >= count; });
  if (Positions.empty()) return;
  std::sort(Positions.begin(), Positions.end());
  Positions.erase(std::unique(Positions.begin(), Positions.end()), Positions.end());

  // Blocks of adjacent positions, removed from the back so the positions of
  // the blocks still to go stay valid.
  std::vector<std::pair<int, int>> blocks;
  for (int p : Positions) {
    if (!blocks.empty() && blocks.back().second + 1 == p) {
      blocks.back().second = p;
    } else {
      blocks.emplace_back(p, p);
    }
  }
  if (blocks.size() <= kMaxRemovalBlocks) {
    for (auto it = blocks.rbegin(); it != blocks.rend(); ++it)
      EraseRange(it->first, it->second);
  } else {
    if (FObserver) FObserver->TableAboutToBeReset();
    std::vector<bool> doomed(static_cast<size_t>(count), false);
    for (int p : Positions)
      doomed[static_cast<size_t>(p)] = true;
    size_t out = 0;
    for (size_t i = 0; i < FRows.size(); ++i) {
      if (!doomed[i]) FRows[out++] = std::move(FRows[i]);
    }
    FRows.resize(out);
    if (FObserver) FObserver->TableReset();
  }
  // The row that followed the last deleted one.
  const int removed = static_cast<int>(Positions.size());
  SetCursor(Positions.back() + 1 - removed);
}

void TPlaylistTable::Clear() {
  if (FObserver) FObserver->TableAboutToBeReset();
  FRows.clear();
  if (FObserver) FObserver->TableReset();
  SetCursor(-1);
}

void TPlaylistTable::Load(std::vector<PlaylistRecord> Rows) {
  if (FObserver) FObserver->TableAboutToBeReset();
  FRows.clear();
  FRows.reserve(Rows.size());
  for (PlaylistRecord& rec : Rows) {
    FRows.push_back(TRow{ApplyPlaylistLimits(std::move(rec)), FNextSeq++});
  }
  FIndex = kNoIndex;
  if (FObserver) FObserver->TableReset();
  SetCursor(0);
}

std::string TPlaylistTable::IndexName() const {
  return FIndex == kNoIndex ? std::string() : kPlaylistIndexes[static_cast<size_t>(FIndex)].Name;
}

void TPlaylistTable::SetIndex(int Index) {
  if (Index != kNoIndex && (Index < 0 || Index >= kPlaylistIndexCount)) {
    throw std::out_of_range("unknown playlist index");
  }
  if (Index == FIndex) return;
  if (FObserver) FObserver->OrderAboutToChange();
  FIndex = Index;
  // Sort positions, then move each row once.
  std::vector<int> order(FRows.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [this](int a, int b) {
    return Less(FRows[static_cast<size_t>(a)], FRows[static_cast<size_t>(b)]);
  });
  std::vector<TRow> sorted;
  sorted.reserve(FRows.size());
  std::vector<int> newPositions(FRows.size());
  for (size_t i = 0; i < order.size(); ++i) {
    newPositions[static_cast<size_t>(order[i])] = static_cast<int>(i);
    sorted.push_back(std::move(FRows[static_cast<size_t>(order[i])]));
  }
  FRows = std::move(sorted);
  if (FObserver) FObserver->OrderChanged(newPositions);
  SetCursor(FCurrent < 0 ? -1 : newPositions[static_cast<size_t>(FCurrent)]);
}

bool TPlaylistTable::SetIndexName(std::string_view Name) {
  const int index = Name.empty() ? kNoIndex : FindPlaylistIndex(Name);
  if (!Name.empty() && index == kNoIndex) return false;
  SetIndex(index);
  return true;
}

void TPlaylistTable::SetCurrentRow(int Pos) {
  SetCursor(Pos);
}

const PlaylistRecord* TPlaylistTable::Current() const {
  return FCurrent < 0 ? nullptr : &FRows[static_cast<size_t>(FCurrent)].Rec;
}

void TPlaylistTable::First() {
  SetCursor(0);
}

void TPlaylistTable::Last() {
  SetCursor(RowCount() - 1);
}

bool TPlaylistTable::Next() {
  if (FCurrent < 0 || FCurrent + 1 >= RowCount()) return false;
  SetCursor(FCurrent + 1);
  return true;
}

bool TPlaylistTable::Prior() {
  if (FCurrent <= 0) return false;
  SetCursor(FCurrent - 1);
  return true;
}

TPlaylistBookmark TPlaylistTable::BookmarkAt(int Pos) const {
  if (Pos < 0 || Pos >= RowCount()) return kNoBookmark;
  return FRows[static_cast<size_t>(Pos)].Seq;
}

int TPlaylistTable::FindBookmark(TPlaylistBookmark Mark) const {
  if (Mark == kNoBookmark) return -1;
  if (FIndex == kNoIndex) {
    // Insertion order is sequence order.
    const auto it = std::lower_bound(FRows.begin(), FRows.end(), Mark,
                                     [](const TRow& r, TPlaylistBookmark m) { return r.Seq < m; });
    return it != FRows.end() && it->Seq == Mark ? static_cast<int>(it - FRows.begin()) : -1;
  }
  for (size_t i = 0; i < FRows.size(); ++i) {
    if (FRows[i].Seq == Mark) return static_cast<int>(i);
  }
  return -1;
}

bool TPlaylistTable::GotoBookmark(TPlaylistBookmark Mark) {
  const int pos = FindBookmark(Mark);
  if (pos < 0) return false;
  SetCursor(pos);
  return true;
}

int TPlaylistTable::FindID(int32_t Id) const {
  for (size_t i = 0; i < FRows.size(); ++i) {
    if (FRows[i].Rec.ID == Id) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace lirvo
