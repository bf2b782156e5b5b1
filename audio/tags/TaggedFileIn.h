#pragma once
// A file input that also carries its file's metadata. The FLAC, APE and
// WMA/MP3 decoders derive from it; the WAV decoder has no tags. A decoder
// clears the containers it fills before writing what a new file holds, so
// values of an earlier file never survive into a later one.

#include "audio/core/FileInputs.h"
#include "audio/tags/AudioTags.h"

namespace lirvo {

class TAuTaggedFileIn : public TAuFileIn {
 public:
  explicit TAuTaggedFileIn(TComponent* AOwner) : TAuFileIn(AOwner) {}

  // The six common values the playlist reads after Init.
  TCommonTags& CommonTags() { return FCommonTags; }

 protected:
  // Owned containers, created in this order and destroyed in the reverse.
  TId3v1Tags FId3v1Tags;
  TId3v2Tags FId3v2Tags;
  TAPEv2Tags FAPEv2Tags;
  TCommonTags FCommonTags;
};

}  // namespace lirvo
