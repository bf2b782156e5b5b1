#pragma once
// Tag containers: the metadata of one audio file as a small dictionary.
//
// A container declares a fixed set of ids when it is constructed (AddId in
// the subclass constructor) and never gains or loses ids afterwards. Ids are
// compared ASCII case-insensitively ("title" and "Title" are the same id) and
// listed in case-insensitive sorted order. Each id holds one TTagValue;
// subclasses add named, typed properties over their ids.
//
// A container belongs to one file input and is used from the thread that
// holds that input's lock; it is not thread-safe by itself.

#include <string>
#include <string_view>
#include <vector>

#include "audio/core/Stream.h"
#include "audio/tags/TagValue.h"

namespace lirvo {

struct TTagValueInfo {
  TTagValue Value;
};

class TAuTags {
 public:
  // An empty dictionary; Empty() is true.
  TAuTags() = default;
  virtual ~TAuTags() = default;
  // Containers are polymorphic; copy them with Assign.
  TAuTags(const TAuTags&) = delete;
  TAuTags& operator=(const TAuTags&) = delete;

  int IdCount() const { return static_cast<int>(FValues.size()); }
  // The id at Index of the sorted list, or "" outside 0..IdCount()-1.
  std::string GetId(int Index) const;

  // A copy of the stored value, or Null for an undeclared id.
  TTagValue Values(std::string_view Id) const;
  // Stores Value for a declared id when it differs from the stored value
  // (SameTagValue); then Empty() becomes false and Changed() true. A value
  // for an undeclared id is ignored silently.
  void SetValues(std::string_view Id, const TTagValue& Value);

  // Typed reads. Integers read as their number or decimal text; WideString
  // and AnsiString read as their text and as the number they parse to (0
  // when they do not); a UnicodeString reads only through AsWideString (0 and
  // "" otherwise); Null and undeclared ids read as 0 and "".
  int32_t AsInteger(std::string_view Id) const;
  std::string AsString(std::string_view Id) const;
  std::string AsWideString(std::string_view Id) const;

  // True after construction and Clear, false after the first effective write.
  bool Empty() const { return FEmpty; }
  // Set by every effective write and by Clear; the container never resets it.
  bool Changed() const { return FChanged; }

  // Every value becomes Null; Empty() and Changed() become true.
  void Clear();

  // Clears this container, then copies the source's values id by id; ids
  // this container does not declare are dropped. Assigning a container to
  // itself changes nothing.
  virtual void Assign(const TAuTags& Source);
  // The same copy in the other direction: Dest.Clear(), then this
  // container's values into Dest.
  virtual void AssignTo(TAuTags& Dest) const;

  // Whether this container's tag is present in InFile (nullptr stands for a
  // file that is not open). Base: true for any open file. Readers that
  // check a position restore it. May throw EAuException from the stream.
  virtual bool Presents(TStream* InFile) const;
  // Base: for an open file, Clear and return true; false for nullptr.
  // Subclasses call it first and then read their tag; true when a tag was
  // read. May throw EAuException from the stream.
  virtual bool ReadFromFile(TStream* InFile);
  // Base: true for an open file; writes nothing. No container of the
  // program writes tags back to files.
  virtual bool WriteToFile(TStream* OutFile, bool Unicode);

 protected:
  // Declares Id with a copy of Initial. An empty or already declared id is
  // ignored. Leaves Empty() and Changed() alone.
  void AddId(std::string_view Id, const TTagValue& Initial);

 private:
  struct TEntry {
    std::string Id;
    TTagValueInfo Info;
  };
  const TEntry* Find(std::string_view Id) const;
  TEntry* Find(std::string_view Id);
  void CopyValues(const TAuTags& Source, TAuTags& Dest) const;

  std::vector<TEntry> FValues;  // sorted by CompareText, unique ids
  bool FEmpty = true;
  bool FChanged = false;
};

// The six values every decoder fills and the playlist reads.
class TCommonTags : public TAuTags {
 public:
  // Declares "Title", "Album", "Artist", "Genre", "Year" and "Track", each
  // holding an empty UnicodeString.
  TCommonTags();

  std::string Title() const { return AsWideString("Title"); }
  void SetTitle(std::string_view Value) {
    SetValues("Title", TTagValue::WideString(std::string(Value)));
  }
  std::string Album() const { return AsWideString("Album"); }
  void SetAlbum(std::string_view Value) {
    SetValues("Album", TTagValue::WideString(std::string(Value)));
  }
  std::string Artist() const { return AsWideString("Artist"); }
  void SetArtist(std::string_view Value) {
    SetValues("Artist", TTagValue::WideString(std::string(Value)));
  }
  std::string Genre() const { return AsWideString("Genre"); }
  void SetGenre(std::string_view Value) {
    SetValues("Genre", TTagValue::WideString(std::string(Value)));
  }
  std::string Year() const { return AsString("Year"); }
  void SetYear(std::string_view Value) {
    SetValues("Year", TTagValue::AnsiString(std::string(Value)));
  }
  std::string Track() const { return AsString("Track"); }
  void SetTrack(std::string_view Value) {
    SetValues("Track", TTagValue::AnsiString(std::string(Value)));
  }
};

}  // namespace lirvo
