#include "audio/tags/Id3Tags.h"

#include <algorithm>
#include <cstring>

#include "audio/core/TextCodec.h"

namespace lirvo {

// clang-format off
const std::array<std::string_view, kId3v1GenreCount> kId3v1Genres = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz",
    "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno",
    "Industrial", "Alternative", "Ska", "Death metal", "Pranks", "Soundtrack", "Euro-Techno",
    "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental",
    "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise", "Alt. Rock", "Bass", "Soul", "Punk",
    "Space", "Meditative", "Instrumental pop", "Instrumental rock", "Ethnic", "Gothic", "Darkwave",
    "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy",
    "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk", "Jungle", "Native American",
    "Cabaret", "New Wave", "Psychedelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal",
    "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical", "Rock & Roll", "Hard Rock", "Folk",
    "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin", "Revival", "Celtic",
    "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock",
    "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour",
    "Speech", "Chanson", "Opera", "Chamber music", "Sonata", "Symphony", "Booty Bass", "Primus",
    "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad",
    "Power Ballad", "Rhythmic soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "A Cappella",
    "Euro-House", "Dance Hall", "Goa", "Drum & Bass", "Club-House", "Hardcore", "Terror", "Indie",
    "BritPop", "Negerpunk", "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal",
    "Black Metal", "Crossover", "Contemporary Christian", "Christian Rock", "Merengue", "Salsa",
    "Thrash Metal", "Anime", "JPop", "Synthpop",
};
// clang-format on

namespace {

constexpr TId3v1TagsGenreId kGenreOther = 12;

// Puts the stream back where it was when a presence check is done, also when
// the stream throws.
class TPositionKeeper {
 public:
  explicit TPositionKeeper(TStream* Stream) : FStream(Stream), FPos(Stream->Position()) {}
  ~TPositionKeeper() {
    if (FPos >= 0) FStream->SetPosition(FPos);
  }
  TPositionKeeper(const TPositionKeeper&) = delete;
  TPositionKeeper& operator=(const TPositionKeeper&) = delete;

 private:
  TStream* FStream;
  int64_t FPos;
};

// One fixed-width ID3v1 text field: padding (blanks, NULs) trimmed and
// anything after an embedded NUL dropped (writers leave stale bytes there),
// then decoded from the system code page.
std::string Id3v1Field(const uint8_t* Tag, size_t Offset, size_t Length) {
  const std::string_view raw(reinterpret_cast<const char*>(Tag) + Offset, Length);
  return AnsiToUtf8(TrimRight(CutAtNul(Trim(raw))));
}

// ---- ID3v2 ----------------------------------------------------------------

constexpr const char* kIds23[] = {"TALB", "TPE1", "TCON", "TIT2", "TRCK", "TYER",
                                  "COMM", "TCOM", "TENC", "TCOP", "TLAN", "WXXX"};
constexpr const char* kIds22[] = {"TAL", "TP1", "TCO", "TT2", "TRK", "TYE",
                                  "COM", "TCM", "TEN", "TCR", "TLA", "WXX"};

constexpr int kHeaderSize = 10;

struct TId3v2Header {
  int Version = 0;      // major version: 2, 3 or 4
  int64_t TagSize = 0;  // header, frames and footer
};

bool CheckId3v2Header(const uint8_t* H, TId3v2Header& Out) {
  if (std::memcmp(H, "ID3", 3) != 0 || H[4] == 0xFF) return false;
  const uint8_t flags = H[5];
  switch (H[3]) {
    case 2:
      if (flags & ~0xC0) return false;
      break;
    case 3:
      if (flags & ~0xE0) return false;
      break;
    case 4:
      if (flags & ~0xF0) return false;
      break;
    default:
      return false;
  }
  for (int i = 6; i < 10; ++i)
    if (H[i] >= 0x80) return false;
  Out.Version = H[3];
  Out.TagSize = ((int64_t{H[6]} << 21) | (H[7] << 14) | (H[8] << 7) | H[9]) + kHeaderSize;
  if (flags & 0x10) Out.TagSize += kHeaderSize;  // footer
  return true;
}

// Frame sizes of version 2.4 are sync-safe (7 bits a byte), those of 2.3 are
// plain. A 2.4 size with a high bit set comes from a writer that wrote plain
// sizes, and is read as such.
uint32_t FrameSize(const uint8_t* S, int Version) {
  if (Version == 4 && ((S[0] | S[1] | S[2] | S[3]) & 0x80) == 0)
    return (uint32_t{S[0]} << 21) | (S[1] << 14) | (S[2] << 7) | S[3];
  return (uint32_t{S[0]} << 24) | (uint32_t{S[1]} << 16) | (S[2] << 8) | S[3];
}

// UTF-16 text (either byte order) up to its first zero character.
std::string_view CutAtZeroUnit(std::string_view Bytes) {
  for (size_t i = 0; i + 1 < Bytes.size(); i += 2)
    if (Bytes[i] == 0 && Bytes[i + 1] == 0) return Bytes.substr(0, i);
  return Bytes;
}

}  // namespace

// ---- TId3v1Tags -------------------------------------------------------------

TId3v1Tags::TId3v1Tags() {
  for (const char* id : {"title", "artist", "album", "year", "comment", "track"})
    AddId(id, TTagValue::Null());
  AddId("genre", TTagValue::UInt8(kGenreOther));
}

TId3v1TagsGenreId TId3v1Tags::GenreId() const {
  const int32_t g = AsInteger("genre");
  return (g < 0 || g >= kId3v1GenreCount) ? kGenreOther : static_cast<TId3v1TagsGenreId>(g);
}

std::string TId3v1Tags::Genre() const {
  return std::string(kId3v1Genres[GenreId()]);
}

void TId3v1Tags::SetGenre(std::string_view Value) {
  const std::string name = Trim(Value);
  if (name.empty()) return;
  for (int i = 0; i < kId3v1GenreCount; ++i) {
    if (SameText(name, kId3v1Genres[static_cast<size_t>(i)])) {
      SetGenreId(static_cast<TId3v1TagsGenreId>(i));
      return;
    }
  }
}

bool TId3v1Tags::Presents(TStream* InFile) const {
  if (!InFile) return false;
  TPositionKeeper keep(InFile);
  uint8_t tag[128];
  if (InFile->Seek(-128, soEnd) < 0 || !InFile->ReadExact(tag, sizeof tag)) return false;
  return std::memcmp(tag, "TAG", 3) == 0;
}

bool TId3v1Tags::ReadFromFile(TStream* InFile) {
  if (!TAuTags::ReadFromFile(InFile)) return false;
  uint8_t tag[128];
  if (InFile->Seek(-128, soEnd) < 0 || !InFile->ReadExact(tag, sizeof tag)) return false;
  if (std::memcmp(tag, "TAG", 3) != 0) return false;
  SetTitle(Id3v1Field(tag, 3, 30));
  SetArtist(Id3v1Field(tag, 33, 30));
  SetAlbum(Id3v1Field(tag, 63, 30));
  // A year outside 0..65535 ("-1") is as unreadable as one that is not a
  // number: both read as 0 rather than wrapping around.
  const int32_t year = StrToIntDef(Id3v1Field(tag, 93, 4), 0);
  SetYear(year >= 0 && year <= 0xFFFF ? static_cast<uint16_t>(year) : 0);
  // ID3v1.1: a zero (or blank) byte 125 followed by a non-zero (non-blank)
  // byte 126 marks byte 126 as the track number and shortens the comment.
  if ((tag[125] == 0 && tag[126] != 0) || (tag[125] == ' ' && tag[126] != ' ')) {
    SetComment(Id3v1Field(tag, 97, 28));
    SetTrack(tag[126]);
  } else {
    SetComment(Id3v1Field(tag, 97, 30));
    SetTrack(0);
  }
  SetGenreId(tag[127]);
  return true;
}

// ---- TId3v2Tags -------------------------------------------------------------

TId3v2Tags::TId3v2Tags() {
  for (int i = 0; i < kPropertyCount; ++i) {
    AddId(kIds22[i], TTagValue::Null());
    AddId(kIds23[i], TTagValue::Null());
  }
}

const char* TId3v2Tags::Id(TProperty P) const {
  return FNew ? kIds23[P] : kIds22[P];
}

bool TId3v2Tags::Presents(TStream* InFile) const {
  if (!InFile) return false;
  TPositionKeeper keep(InFile);
  uint8_t header[kHeaderSize];
  TId3v2Header info;
  return InFile->ReadExact(header, kHeaderSize) && CheckId3v2Header(header, info);
}

bool TId3v2Tags::ReadFromFile(TStream* InFile) {
  if (!TAuTags::ReadFromFile(InFile)) return false;
  const int64_t start = InFile->Position();
  uint8_t header[kHeaderSize];
  TId3v2Header info;
  if (start < 0 || !InFile->ReadExact(header, kHeaderSize) || !CheckId3v2Header(header, info))
    return false;
  FNew = info.Version != 2;
  // In 2.3 and 2.4 flag 0x40 announces an extended header before the frames
  // (in 2.2 the same bit means compression, which is not read).
  const bool extended = info.Version != 2 && (header[5] & 0x40) != 0;
  WalkFrames(InFile, start, info.TagSize, info.Version, extended);
  InFile->SetPosition(start + info.TagSize);
  return true;
}

// Reads the frames that follow the header and the extended header, if any.
// Unsynchronisation is not handled. Every size is checked against the end of
// the tag before anything is allocated or read.
void TId3v2Tags::WalkFrames(TStream* InFile, int64_t TagStart, int64_t TagSize, int Version,
                            bool Extended) {
  const int64_t tagEnd = TagStart + TagSize;
  const int64_t fileSize = InFile->Size();
  if (fileSize < 0 || fileSize < tagEnd) return;  // a truncated tag is not walked
  int64_t pos = TagStart + kHeaderSize;
  if (Extended) {
    // 2.3 gives the size without its own four bytes, 2.4 a sync-safe size
    // that includes them. Either way the frames start after it.
    uint8_t e[4];
    if (tagEnd - pos < 4 || !InFile->ReadExact(e, 4)) return;
    int64_t skip = 0;
    if (Version == 4) {
      if ((e[0] | e[1] | e[2] | e[3]) & 0x80) return;
      skip = (int64_t{e[0]} << 21) | (e[1] << 14) | (e[2] << 7) | e[3];
      if (skip < 4) return;
    } else {
      skip = 4 + ((int64_t{e[0]} << 24) | (e[1] << 16) | (e[2] << 8) | e[3]);
    }
    if (skip >= tagEnd - pos) return;
    pos += skip;
    if (InFile->Seek(pos, soBeginning) != pos) return;
  }
  const bool v22 = Version == 2;
  const int frameHeaderSize = v22 ? 6 : 10;
  const size_t idLength = v22 ? 3 : 4;
  std::string data;
  while (pos < tagEnd) {
    uint8_t h[10];
    if (!InFile->ReadExact(h, frameHeaderSize)) return;
    pos += frameHeaderSize;
    if (h[0] < 'A' || h[0] > 'Z') return;  // padding or an extended header
    if (pos >= tagEnd) return;
    const uint32_t size =
        v22 ? (uint32_t{h[3]} << 16) | (h[4] << 8) | h[5] : FrameSize(h + 4, Version);
    if (size == 0) continue;
    if (size > tagEnd - pos) return;  // a frame cannot run past its tag
    data.resize(size);
    if (!InFile->ReadExact(data.data(), size)) return;
    pos += size;
    DecodeFrame(std::string_view(reinterpret_cast<const char*>(h), idLength), data);
  }
}

// Stores the first string of a text (or link) frame of a known id, by its
// encoding byte: 0 system code page, 1 UTF-16 in the order of its mark (FF FE
// little-endian, FE FF big-endian; without a mark little-endian, as most
// writers of unmarked text meant), 2 UTF-16 big-endian, 3 UTF-8. Comment
// frames and other encodings are skipped. The 2.4 recording time (TDRC,
// "yyyy-MM-ddTHH:mm:ss" or a part of it) stands in for the year frame 2.4
// no longer has, and gives its year.
void TId3v2Tags::DecodeFrame(std::string_view FrameId, std::string_view Data) {
  const char* const* ids = FNew ? kIds23 : kIds22;
  int p = 0;
  if (FNew && FrameId == "TDRC") {
    p = kYear;
  } else {
    while (p < kPropertyCount && FrameId != ids[p])
      ++p;
  }
  if (p == kPropertyCount || p == kComment || Data.empty()) return;
  const char* id = ids[p];
  TTagValue value;
  switch (static_cast<uint8_t>(Data[0])) {
    case 0:
      value = TTagValue::AnsiString(AnsiToUtf8(CutAtNul(Data.substr(1))));
      break;
    case 1: {
      const auto b1 = Data.size() >= 3 ? static_cast<uint8_t>(Data[1]) : 0;
      const auto b2 = Data.size() >= 3 ? static_cast<uint8_t>(Data[2]) : 0;
      const bool little = b1 == 0xFF && b2 == 0xFE, big = b1 == 0xFE && b2 == 0xFF;
      const std::string_view text = CutAtZeroUnit(Data.substr(little || big ? 3 : 1));
      value = TTagValue::WideString(Utf16ToUtf8(text, big));
      break;
    }
    case 2:
      value = TTagValue::WideString(Utf16ToUtf8(CutAtZeroUnit(Data.substr(1)), true));
      break;
    case 3:
      value = TTagValue::WideString(Utf8Sanitize(CutAtNul(Data.substr(1))));
      break;
    default:
      return;
  }
  if (FrameId == "TDRC") {
    const std::string& text = value.Text();
    if (text.size() > 4 &&
        std::all_of(text.begin(), text.begin() + 4, [](char c) { return c >= '0' && c <= '9'; }))
      value = value.Kind() == TTagValueKind::AnsiString ? TTagValue::AnsiString(text.substr(0, 4))
                                                        : TTagValue::WideString(text.substr(0, 4));
  }
  SetValues(id, value);
}

}  // namespace lirvo
