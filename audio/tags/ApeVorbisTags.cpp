#include "audio/tags/ApeVorbisTags.h"

namespace lirvo {

TAPEv2Tags::TAPEv2Tags() {
  for (const char* id : {"Artist",       "Composer",        "Album",    "Debut album", "Publisher",
                         "Conductor",    "Copyright",       "ISBN",     "ISRC",        "EAN/UPC",
                         "LC",           "Catalog",         "Language", "Genre",       "Year",
                         "Record Date",  "Record Location", "File",     "Related",     "Abstract",
                         "Bibliography", "Track",           "Title",    "Subtitle",    "Comment"})
    AddId(id, TTagValue::Null());
}

TVorbisTags::TVorbisTags() {
  for (std::string_view id : kVorbisIds)
    AddId(id, TTagValue::Null());
}

}  // namespace lirvo
