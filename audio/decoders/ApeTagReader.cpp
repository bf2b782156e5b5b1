#include "audio/decoders/ApeTagReader.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "audio/core/TextCodec.h"

namespace lirvo {

namespace {

constexpr int64_t kFooterSize = 32;
constexpr int64_t kId3v1Size = 128;
// Larger tags (pictures of many megabytes) are not read: the input shows
// text, and this keeps a damaged size from asking for a huge buffer.
constexpr int64_t kMaxTagBytes = 32 * 1024 * 1024;

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool ReadAt(TStream* Stream, int64_t Pos, void* Buffer, int64_t Count) {
  if (Pos < 0 || Stream->Seek(Pos, soBeginning) != Pos) return false;
  return Stream->ReadExact(Buffer, Count);
}

bool HasId3v1(TStream* Stream, int64_t Size) {
  char head[3];
  return Size >= kId3v1Size && ReadAt(Stream, Size - kId3v1Size, head, 3) &&
         std::memcmp(head, "TAG", 3) == 0;
}

// A Lyrics3 v2 block ends with six digits (its size without these 15 bytes)
// and "LYRICS200"; returns its whole size, or 0 when End is not preceded by
// one.
int64_t Lyrics3Size(TStream* Stream, int64_t End) {
  if (End < 15) return 0;
  char tail[15];
  if (!ReadAt(Stream, End - 15, tail, 15) || std::memcmp(tail + 6, "LYRICS200", 9) != 0) return 0;
  int64_t size = 0;
  for (int i = 0; i < 6; ++i) {
    if (tail[i] < '0' || tail[i] > '9') return 0;
    size = size * 10 + (tail[i] - '0');
  }
  return size + 15 <= End ? size + 15 : 0;
}

// An item's text: several values (separated by NUL) are joined with "; ".
std::string ItemText(const TApeTagItem& Item) {
  std::string out;
  size_t pos = 0;
  const std::string_view v(Item.Value);
  while (pos <= v.size()) {
    size_t nul = v.find('\0', pos);
    if (nul == std::string_view::npos) nul = v.size();
    if (nul > pos) {
      if (!out.empty()) out += "; ";
      out += AnsiToUtf8(v.substr(pos, nul - pos));
    }
    pos = nul + 1;
  }
  return out;
}

// Ids that the container keeps as single-byte text; the others are wide.
bool IsAnsiId(std::string_view Id) {
  for (std::string_view a :
       {"ISBN", "ISRC", "EAN/UPC", "LC", "Catalog", "Year", "Record Date", "Track"})
    if (SameText(Id, a)) return true;
  return false;
}

void CopyCommon(const TAPEv2Tags& Ape, TCommonTags& Common) {
  Common.SetTitle(Ape.Title());
  Common.SetArtist(Ape.Artist());
  Common.SetAlbum(Ape.Album());
  Common.SetYear(Ape.Year());
  Common.SetTrack(Ape.Track());
  Common.SetGenre(Ape.Genre());
}

// The longest prefix of UTF-8 Text of at most Width bytes that does not cut
// a character.
std::string_view CutBytes(std::string_view Text, size_t Width) {
  if (Text.size() <= Width) return Text;
  size_t n = Width;
  while (n > 0 && (static_cast<uint8_t>(Text[n]) & 0xC0) == 0x80)
    --n;
  return Text.substr(0, n);
}

void PutField(char* Field, size_t Width, std::string_view Text) {
  std::string_view cut = CutBytes(Text, Width);
  std::memcpy(Field, cut.data(), cut.size());
}

}  // namespace

const TApeTagItem* TApeTag::Find(std::string_view Key) const {
  for (const TApeTagItem& item : Items)
    if (SameText(item.Key, Key)) return &item;
  return nullptr;
}

bool ReadApeTag(TStream* Stream, TApeTag& Tag) {
  Tag = TApeTag();
  if (!Stream) return false;
  const int64_t size = Stream->Size();
  if (size < kFooterSize) return false;
  int64_t end = size;
  if (HasId3v1(Stream, size)) {
    end -= kId3v1Size;
    end -= Lyrics3Size(Stream, end);
  }
  if (end < kFooterSize) return false;

  uint8_t footer[kFooterSize];
  if (!ReadAt(Stream, end - kFooterSize, footer, kFooterSize) ||
      std::memcmp(footer, "APETAGEX", 8) != 0)
    return false;
  const uint32_t version = Le32(footer + 8);
  const int64_t tagSize = Le32(footer + 12);  // items and footer
  const uint32_t count = Le32(footer + 16);
  if (tagSize < kFooterSize || tagSize > end || tagSize - kFooterSize > kMaxTagBytes) return false;

  std::vector<uint8_t> items(static_cast<size_t>(tagSize - kFooterSize));
  if (!items.empty() &&
      !ReadAt(Stream, end - tagSize, items.data(), static_cast<int64_t>(items.size())))
    return false;
  Tag.Version = version;

  // An item takes at least 8 bytes of sizes and a key terminator, so the
  // count a damaged footer claims never drives the loop past the bytes.
  size_t p = 0;
  for (uint32_t i = 0; i < count && items.size() - p >= 9; ++i) {
    const uint32_t valueSize = Le32(items.data() + p);
    const uint32_t flags = Le32(items.data() + p + 4);
    p += 8;
    const uint8_t* keyStart = items.data() + p;
    const uint8_t* keyEnd = static_cast<const uint8_t*>(std::memchr(keyStart, 0, items.size() - p));
    if (!keyEnd) break;
    const size_t keyLen = static_cast<size_t>(keyEnd - keyStart);
    p += keyLen + 1;
    if (valueSize > items.size() - p) break;
    TApeTagItem item;
    item.Key.assign(reinterpret_cast<const char*>(keyStart), keyLen);
    item.Value.assign(reinterpret_cast<const char*>(items.data() + p), valueSize);
    item.Flags = flags;
    p += valueSize;
    if (!item.Key.empty()) Tag.Items.push_back(std::move(item));
  }
  return true;
}

bool ReadId3v1Record(TStream* Stream, TId3v1Record& Record) {
  std::memset(&Record, 0, sizeof(Record));
  if (!Stream) return false;
  const int64_t size = Stream->Size();
  if (size < kId3v1Size) return false;
  TId3v1Record r;
  if (!ReadAt(Stream, size - kId3v1Size, &r, kId3v1Size) || std::memcmp(r.Header, "TAG", 3) != 0)
    return false;
  Record = r;
  return true;
}

std::string Id3v1FieldText(const char* Field, size_t Width) {
  return Trim(AnsiToUtf8(CutAtNul(std::string_view(Field, Width))));
}

uint8_t Id3v1Track(const TId3v1Record& Record) {
  return Record.Comment[28] == 0 ? Record.Track : 0;
}

bool MakeId3v1Record(TStream* Stream, TId3v1Record& Record) {
  std::memset(&Record, 0, sizeof(Record));
  TApeTag tag;
  if (ReadApeTag(Stream, tag)) {
    std::memcpy(Record.Header, "TAG", 3);
    auto text = [&](std::string_view key) {
      const TApeTagItem* item = tag.Find(key);
      return item && item->IsText() ? ItemText(*item) : std::string();
    };
    PutField(Record.Title, sizeof(Record.Title), text("Title"));
    PutField(Record.Artist, sizeof(Record.Artist), text("Artist"));
    PutField(Record.Album, sizeof(Record.Album), text("Album"));
    PutField(Record.Year, sizeof(Record.Year), text("Year"));
    // ID3v1.1: 28 comment bytes, a zero, the track.
    PutField(Record.Comment, sizeof(Record.Comment) - 1, text("Comment"));
    const std::string track = text("Track");
    int32_t n = StrToIntDef(track.substr(0, track.find('/')), 0);
    Record.Track = n > 0 && n < 256 ? static_cast<uint8_t>(n) : 0;
    Record.Genre = 255;
    const std::string genre = Trim(text("Genre"));
    for (int g = 0; g < kId3v1GenreCount; ++g)
      if (!genre.empty() && SameText(genre, kId3v1Genres[g]))
        Record.Genre = static_cast<uint8_t>(g);
    return true;
  }
  return ReadId3v1Record(Stream, Record);
}

bool ReadApeFileTags(TStream* Stream, TAPEv2Tags& ApeTags, TCommonTags& CommonTags) {
  ApeTags.Clear();
  CommonTags.Clear();
  if (!Stream) return false;

  TApeTag tag;
  if (ReadApeTag(Stream, tag)) {
    for (int i = 0; i < ApeTags.IdCount(); ++i) {
      const std::string id = ApeTags.GetId(i);
      const TApeTagItem* item = tag.Find(id);
      if (!item || !item->IsText()) continue;
      std::string text = ItemText(*item);
      ApeTags.SetValues(id, IsAnsiId(id) ? TTagValue::AnsiString(std::move(text))
                                         : TTagValue::WideString(std::move(text)));
    }
    CopyCommon(ApeTags, CommonTags);
    return true;
  }

  TId3v1Record rec;
  if (ReadId3v1Record(Stream, rec)) {
    ApeTags.SetTitle(Id3v1FieldText(rec.Title, sizeof(rec.Title)));
    ApeTags.SetArtist(Id3v1FieldText(rec.Artist, sizeof(rec.Artist)));
    ApeTags.SetAlbum(Id3v1FieldText(rec.Album, sizeof(rec.Album)));
    ApeTags.SetYear(Id3v1FieldText(rec.Year, sizeof(rec.Year)));
    // The comment field spans 30 bytes; with a track number its 29th is 0
    // and ends the text.
    const char* raw = reinterpret_cast<const char*>(&rec);
    ApeTags.SetComment(Id3v1FieldText(raw + offsetof(TId3v1Record, Comment), 30));
    const uint8_t track = Id3v1Track(rec);
    if (track != 0) ApeTags.SetTrack(std::to_string(track));
    CopyCommon(ApeTags, CommonTags);
    // The record's genre byte is not shown, as for the library's record.
    CommonTags.SetGenre("");
    return true;
  }

  TId3v2Tags v2;
  if (Stream->Seek(0, soBeginning) == 0 && v2.ReadFromFile(Stream)) {
    ApeTags.SetTitle(v2.Title());
    ApeTags.SetArtist(v2.Artist());
    ApeTags.SetAlbum(v2.Album());
    ApeTags.SetYear(v2.Year());
    ApeTags.SetTrack(v2.Track());
    ApeTags.SetGenre(v2.Genre());
    ApeTags.SetComment(v2.Comment());
    ApeTags.SetComposer(v2.Composer());
    ApeTags.SetCopyright(v2.Copyright());
    ApeTags.SetLanguage(v2.Language());
    CopyCommon(ApeTags, CommonTags);
    return true;
  }
  return false;
}

}  // namespace lirvo
