#pragma once
// Reading the tags of a Monkey's Audio file: the APE tag (version 1 or 2) at
// the end of the file, the 128-byte ID3v1 record, and the choice of which of
// them fills the APE input's containers.
//
// Every reader takes any TStream and is bounded by its size: whatever sizes
// and counts a damaged tag claims, nothing is read outside the stream or a
// buffer, and no buffer is larger than the tag, which is at most the file.
// Stream errors (EAuException) pass to the caller.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "audio/core/Stream.h"
#include "audio/tags/AudioTags.h"

namespace lirvo {

// One item of an APE tag. Value holds the bytes as stored (UTF-8 text for
// version 2, system code page text for version 1, or binary data).
struct TApeTagItem {
  std::string Key;
  std::string Value;
  uint32_t Flags = 0;
  // Bits 1-2 of the flags: 0 text, 1 binary, 2 external link, 3 reserved.
  bool IsText() const { return ((Flags >> 1) & 3) != 1; }
};

struct TApeTag {
  uint32_t Version = 0;  // 1000 or 2000
  std::vector<TApeTagItem> Items;
  // The first item whose key matches (ASCII case ignored), or nullptr.
  const TApeTagItem* Find(std::string_view Key) const;
};

// The ID3v1 tag layout; the APE library's tag export hands out the same
// record.
struct TId3v1Record {
  char Header[3];  // "TAG"
  char Title[30];
  char Artist[30];
  char Album[30];
  char Year[4];
  char Comment[29];
  uint8_t Track;  // the 30th comment byte: the track number when byte 29 is 0
  uint8_t Genre;
};
static_assert(sizeof(TId3v1Record) == 128, "ID3v1 record must be 128 bytes");

// Reads the APE tag whose footer ends the file, or precedes an ID3v1 tag
// (and a Lyrics3 v2 block before that). False when there is none or it is
// damaged beyond its footer. Items that run past the tag are dropped. The
// stream position is left undefined.
bool ReadApeTag(TStream* Stream, TApeTag& Tag);

// Reads the ID3v1 record from the last 128 bytes; false when there is none.
bool ReadId3v1Record(TStream* Stream, TId3v1Record& Record);

// The text of a fixed-width record field: up to its first NUL, decoded from
// the system code page and trimmed.
std::string Id3v1FieldText(const char* Field, size_t Width);
// The track of a record: the ID3v1.1 track byte, or 0 when the comment
// takes all 30 bytes.
uint8_t Id3v1Track(const TId3v1Record& Record);

// Builds the ID3v1-layout record of a file the way the APE library's tag
// export does: from the APE tag when there is one (texts cut to the record's
// widths), else the file's own ID3v1 record. False when the file has neither.
bool MakeId3v1Record(TStream* Stream, TId3v1Record& Record);

// What the APE input shows: clears both containers, then fills them from the
// APE tag in full (every id of TAPEv2Tags the tag carries, values whole);
// without an APE tag from the ID3v1 record; without either from an ID3v2 tag
// at the start of the file. True when one of them was found.
bool ReadApeFileTags(TStream* Stream, TAPEv2Tags& ApeTags, TCommonTags& CommonTags);

}  // namespace lirvo
