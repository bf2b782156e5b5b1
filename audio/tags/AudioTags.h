#pragma once
// All tag containers: the common tags, ID3v1, ID3v2, APEv2 and Vorbis
// comments.

#include "audio/tags/ApeVorbisTags.h"
#include "audio/tags/AuTags.h"
#include "audio/tags/Id3Tags.h"
#include "audio/tags/TagValue.h"
