#pragma once
// The APEv2 and Vorbis comment containers. Neither reads a file by itself:
// the APE decoder fills TAPEv2Tags from its library's tag record, the FLAC
// decoder fills TVorbisTags from the stream's comment block.

#include <array>
#include <string>
#include <string_view>

#include "audio/tags/AuTags.h"

namespace lirvo {

// Vorbis comment field names, in lower case. The FLAC decoder looks each one
// up (case-insensitively) in the comment block; they are also the ids of
// TVorbisTags.
inline constexpr std::string_view kVorbisAlbum = "album";
inline constexpr std::string_view kVorbisArtist = "artist";
inline constexpr std::string_view kVorbisDate = "date";
inline constexpr std::string_view kVorbisGenre = "genre";
inline constexpr std::string_view kVorbisTitle = "title";
inline constexpr std::string_view kVorbisTrack = "tracknumber";
inline constexpr std::string_view kVorbisDisc = "discnumber";
inline constexpr std::string_view kVorbisReference = "replaygain_reference_loudness";
inline constexpr std::string_view kVorbisTrackGain = "replaygain_track_gain";
inline constexpr std::string_view kVorbisTrackPeak = "replaygain_track_peak";
inline constexpr std::string_view kVorbisAlbumGain = "replaygain_album_gain";
inline constexpr std::string_view kVorbisAlbumPeak = "replaygain_album_peak";
inline constexpr std::array<std::string_view, 12> kVorbisIds = {
    kVorbisAlbum,     kVorbisArtist,    kVorbisDate,      kVorbisGenre,
    kVorbisTitle,     kVorbisTrack,     kVorbisDisc,      kVorbisReference,
    kVorbisTrackGain, kVorbisTrackPeak, kVorbisAlbumGain, kVorbisAlbumPeak};

// Monkey's Audio (APEv2) items: 25 ids, all Null at first. Text items are
// wide strings except the codes and numbers (ISBN, ISRC, bar code, label
// code, catalog, record date, track), which are single-byte strings. Year is
// written as a single-byte string but read through AsWideString, so a year
// stored as a UnicodeString still reads back.
class TAPEv2Tags : public TAuTags {
 public:
  TAPEv2Tags();

  std::string Artist() const { return AsWideString("Artist"); }
  void SetArtist(std::string_view Value) {
    SetValues("Artist", TTagValue::WideString(std::string(Value)));
  }
  std::string Composer() const { return AsWideString("Composer"); }
  void SetComposer(std::string_view Value) {
    SetValues("Composer", TTagValue::WideString(std::string(Value)));
  }
  std::string Album() const { return AsWideString("Album"); }
  void SetAlbum(std::string_view Value) {
    SetValues("Album", TTagValue::WideString(std::string(Value)));
  }
  std::string DebutAlbum() const { return AsWideString("Debut album"); }
  void SetDebutAlbum(std::string_view Value) {
    SetValues("Debut album", TTagValue::WideString(std::string(Value)));
  }
  std::string Publisher() const { return AsWideString("Publisher"); }
  void SetPublisher(std::string_view Value) {
    SetValues("Publisher", TTagValue::WideString(std::string(Value)));
  }
  std::string Conductor() const { return AsWideString("Conductor"); }
  void SetConductor(std::string_view Value) {
    SetValues("Conductor", TTagValue::WideString(std::string(Value)));
  }
  std::string Copyright() const { return AsWideString("Copyright"); }
  void SetCopyright(std::string_view Value) {
    SetValues("Copyright", TTagValue::WideString(std::string(Value)));
  }
  std::string ISBN() const { return AsString("ISBN"); }
  void SetISBN(std::string_view Value) {
    SetValues("ISBN", TTagValue::AnsiString(std::string(Value)));
  }
  std::string ISRC() const { return AsString("ISRC"); }
  void SetISRC(std::string_view Value) {
    SetValues("ISRC", TTagValue::AnsiString(std::string(Value)));
  }
  std::string BarCode() const { return AsString("EAN/UPC"); }
  void SetBarCode(std::string_view Value) {
    SetValues("EAN/UPC", TTagValue::AnsiString(std::string(Value)));
  }
  std::string LabelCode() const { return AsString("LC"); }
  void SetLabelCode(std::string_view Value) {
    SetValues("LC", TTagValue::AnsiString(std::string(Value)));
  }
  std::string Catalog() const { return AsString("Catalog"); }
  void SetCatalog(std::string_view Value) {
    SetValues("Catalog", TTagValue::AnsiString(std::string(Value)));
  }
  std::string Language() const { return AsWideString("Language"); }
  void SetLanguage(std::string_view Value) {
    SetValues("Language", TTagValue::WideString(std::string(Value)));
  }
  std::string Genre() const { return AsWideString("Genre"); }
  void SetGenre(std::string_view Value) {
    SetValues("Genre", TTagValue::WideString(std::string(Value)));
  }
  std::string Year() const { return AsWideString("Year"); }
  void SetYear(std::string_view Value) {
    SetValues("Year", TTagValue::AnsiString(std::string(Value)));
  }
  std::string RecordDate() const { return AsString("Record Date"); }
  void SetRecordDate(std::string_view Value) {
    SetValues("Record Date", TTagValue::AnsiString(std::string(Value)));
  }
  std::string RecordLocation() const { return AsWideString("Record Location"); }
  void SetRecordLocation(std::string_view Value) {
    SetValues("Record Location", TTagValue::WideString(std::string(Value)));
  }
  std::string File() const { return AsWideString("File"); }
  void SetFile(std::string_view Value) {
    SetValues("File", TTagValue::WideString(std::string(Value)));
  }
  std::string Related() const { return AsWideString("Related"); }
  void SetRelated(std::string_view Value) {
    SetValues("Related", TTagValue::WideString(std::string(Value)));
  }
  std::string Abstract() const { return AsWideString("Abstract"); }
  void SetAbstract(std::string_view Value) {
    SetValues("Abstract", TTagValue::WideString(std::string(Value)));
  }
  std::string Bibliography() const { return AsWideString("Bibliography"); }
  void SetBibliography(std::string_view Value) {
    SetValues("Bibliography", TTagValue::WideString(std::string(Value)));
  }
  std::string Track() const { return AsString("Track"); }
  void SetTrack(std::string_view Value) {
    SetValues("Track", TTagValue::AnsiString(std::string(Value)));
  }
  std::string Title() const { return AsWideString("Title"); }
  void SetTitle(std::string_view Value) {
    SetValues("Title", TTagValue::WideString(std::string(Value)));
  }
  std::string SubTitle() const { return AsWideString("Subtitle"); }
  void SetSubTitle(std::string_view Value) {
    SetValues("Subtitle", TTagValue::WideString(std::string(Value)));
  }
  std::string Comment() const { return AsWideString("Comment"); }
  void SetComment(std::string_view Value) {
    SetValues("Comment", TTagValue::WideString(std::string(Value)));
  }
};

// Vorbis comments of a FLAC stream: the twelve kVorbisIds, all Null at first,
// every property a wide string.
class TVorbisTags : public TAuTags {
 public:
  TVorbisTags();

  std::string Album() const { return AsWideString(kVorbisAlbum); }
  void SetAlbum(std::string_view Value) {
    SetValues(kVorbisAlbum, TTagValue::WideString(std::string(Value)));
  }
  std::string Artist() const { return AsWideString(kVorbisArtist); }
  void SetArtist(std::string_view Value) {
    SetValues(kVorbisArtist, TTagValue::WideString(std::string(Value)));
  }
  std::string Date() const { return AsWideString(kVorbisDate); }
  void SetDate(std::string_view Value) {
    SetValues(kVorbisDate, TTagValue::WideString(std::string(Value)));
  }
  std::string Genre() const { return AsWideString(kVorbisGenre); }
  void SetGenre(std::string_view Value) {
    SetValues(kVorbisGenre, TTagValue::WideString(std::string(Value)));
  }
  std::string Title() const { return AsWideString(kVorbisTitle); }
  void SetTitle(std::string_view Value) {
    SetValues(kVorbisTitle, TTagValue::WideString(std::string(Value)));
  }
  std::string Track() const { return AsWideString(kVorbisTrack); }
  void SetTrack(std::string_view Value) {
    SetValues(kVorbisTrack, TTagValue::WideString(std::string(Value)));
  }
  std::string Disc() const { return AsWideString(kVorbisDisc); }
  void SetDisc(std::string_view Value) {
    SetValues(kVorbisDisc, TTagValue::WideString(std::string(Value)));
  }
  std::string Reference() const { return AsWideString(kVorbisReference); }
  void SetReference(std::string_view Value) {
    SetValues(kVorbisReference, TTagValue::WideString(std::string(Value)));
  }
  std::string TrackGain() const { return AsWideString(kVorbisTrackGain); }
  void SetTrackGain(std::string_view Value) {
    SetValues(kVorbisTrackGain, TTagValue::WideString(std::string(Value)));
  }
  std::string TrackPeak() const { return AsWideString(kVorbisTrackPeak); }
  void SetTrackPeak(std::string_view Value) {
    SetValues(kVorbisTrackPeak, TTagValue::WideString(std::string(Value)));
  }
  std::string AlbumGain() const { return AsWideString(kVorbisAlbumGain); }
  void SetAlbumGain(std::string_view Value) {
    SetValues(kVorbisAlbumGain, TTagValue::WideString(std::string(Value)));
  }
  std::string AlbumPeak() const { return AsWideString(kVorbisAlbumPeak); }
  void SetAlbumPeak(std::string_view Value) {
    SetValues(kVorbisAlbumPeak, TTagValue::WideString(std::string(Value)));
  }
};

}  // namespace lirvo
