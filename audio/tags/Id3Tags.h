#pragma once
// ID3v1 and ID3v2 tag containers and their readers.
//
// The readers take any TStream; they never read outside the file or their
// buffers whatever sizes a damaged tag claims, and allocate at most the size
// of the tag, which is bounded by the size of the file.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "audio/tags/AuTags.h"

namespace lirvo {

using TId3v1TagsGenreId = uint8_t;

inline constexpr int kId3v1GenreCount = 148;
// ID3v1 genre names by genre number, with the later extensions.
extern const std::array<std::string_view, kId3v1GenreCount> kId3v1Genres;

// The 128-byte tag at the end of a file. Ids: "title", "artist", "album",
// "year", "comment", "track" (Null at first) and "genre" (UInt8 12, "Other").
class TId3v1Tags : public TAuTags {
 public:
  TId3v1Tags();

  std::string Title() const { return AsString("title"); }
  void SetTitle(std::string_view Value) {
    SetValues("title", TTagValue::AnsiString(std::string(Value)));
  }
  std::string Artist() const { return AsString("artist"); }
  void SetArtist(std::string_view Value) {
    SetValues("artist", TTagValue::AnsiString(std::string(Value)));
  }
  std::string Album() const { return AsString("album"); }
  void SetAlbum(std::string_view Value) {
    SetValues("album", TTagValue::AnsiString(std::string(Value)));
  }
  std::string Comment() const { return AsString("comment"); }
  void SetComment(std::string_view Value) {
    SetValues("comment", TTagValue::AnsiString(std::string(Value)));
  }
  uint16_t Year() const { return static_cast<uint16_t>(AsInteger("year")); }
  void SetYear(uint16_t Value) { SetValues("year", TTagValue::UInt16(Value)); }
  uint8_t Track() const { return static_cast<uint8_t>(AsInteger("track")); }
  void SetTrack(uint8_t Value) { SetValues("track", TTagValue::UInt8(Value)); }

  // The genre number; anything outside the table reads as 12 ("Other").
  TId3v1TagsGenreId GenreId() const;
  void SetGenreId(TId3v1TagsGenreId Value) { SetValues("genre", TTagValue::UInt8(Value)); }
  // The table name of GenreId().
  std::string Genre() const;
  // Sets the genre number of the first table name equal to Value (blanks
  // trimmed, ASCII case ignored); an empty or unknown name changes nothing.
  void SetGenre(std::string_view Value);

  // True when the last 128 bytes of the file can be read and begin with
  // "TAG". The file position is restored.
  bool Presents(TStream* InFile) const override;
  // Clears, then reads the tag at the end of the file; true when there was
  // one. Text fields are decoded from the system code page and cleaned of
  // padding. The position is left at the end of the file.
  bool ReadFromFile(TStream* InFile) override;
};

// ID3v2 (versions 2.2, 2.3 and 2.4) tag at the current file position. It
// declares the twelve 2.3 frame ids and their twelve 2.2 counterparts; the
// named properties use the 2.3 ids until a 2.2 tag is read (IsNew()).
class TId3v2Tags : public TAuTags {
 public:
  TId3v2Tags();

  // True: the properties use the four-letter (2.3/2.4) ids; false: the
  // three-letter (2.2) ids. Set by ReadFromFile from the tag's version.
  bool IsNew() const { return FNew; }

  std::string Album() const { return AsWideString(Id(kAlbum)); }
  void SetAlbum(std::string_view Value) { SetWide(kAlbum, Value); }
  std::string Artist() const { return AsWideString(Id(kArtist)); }
  void SetArtist(std::string_view Value) { SetWide(kArtist, Value); }
  std::string Genre() const { return AsWideString(Id(kGenre)); }
  void SetGenre(std::string_view Value) { SetWide(kGenre, Value); }
  std::string Title() const { return AsWideString(Id(kTitle)); }
  void SetTitle(std::string_view Value) { SetWide(kTitle, Value); }
  std::string Track() const { return AsString(Id(kTrack)); }
  void SetTrack(std::string_view Value) { SetAnsi(kTrack, Value); }
  std::string Year() const { return AsString(Id(kYear)); }
  void SetYear(std::string_view Value) { SetAnsi(kYear, Value); }
  std::string Comment() const { return AsWideString(Id(kComment)); }
  void SetComment(std::string_view Value) { SetWide(kComment, Value); }
  std::string Composer() const { return AsWideString(Id(kComposer)); }
  void SetComposer(std::string_view Value) { SetWide(kComposer, Value); }
  std::string Encoder() const { return AsWideString(Id(kEncoder)); }
  void SetEncoder(std::string_view Value) { SetWide(kEncoder, Value); }
  std::string Copyright() const { return AsWideString(Id(kCopyright)); }
  void SetCopyright(std::string_view Value) { SetWide(kCopyright, Value); }
  std::string Language() const { return AsWideString(Id(kLanguage)); }
  void SetLanguage(std::string_view Value) { SetWide(kLanguage, Value); }
  std::string Link() const { return AsWideString(Id(kLink)); }
  void SetLink(std::string_view Value) { SetWide(kLink, Value); }

  // Whether a valid ID3v2 header is at the current position (restored).
  bool Presents(TStream* InFile) const override;
  // Clears, then reads the tag at the current position: false when no valid
  // header is there (the position is then past the bytes read). Otherwise
  // the text frames of the known ids are stored, the properties switch to
  // the tag's id set, the position is left just after the tag and the
  // result is true, whatever the frames held.
  bool ReadFromFile(TStream* InFile) override;

 private:
  enum TProperty {
    kAlbum,
    kArtist,
    kGenre,
    kTitle,
    kTrack,
    kYear,
    kComment,
    kComposer,
    kEncoder,
    kCopyright,
    kLanguage,
    kLink,
    kPropertyCount
  };
  const char* Id(TProperty P) const;
  void SetWide(TProperty P, std::string_view Value) {
    SetValues(Id(P), TTagValue::WideString(std::string(Value)));
  }
  void SetAnsi(TProperty P, std::string_view Value) {
    SetValues(Id(P), TTagValue::AnsiString(std::string(Value)));
  }
  void WalkFrames(TStream* InFile, int64_t TagStart, int64_t TagSize, int Version, bool Extended);
  void DecodeFrame(std::string_view FrameId, std::string_view Data);

  bool FNew = true;
};

}  // namespace lirvo
