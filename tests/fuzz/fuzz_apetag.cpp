// Feeds arbitrary bytes to the APE tag and ID3v1 record readers: none may
// read outside the input, allocate more than its size or crash, whatever
// sizes and counts it claims.

#include <cstddef>
#include <cstdint>

#include "audio/core/Stream.h"
#include "audio/decoders/ApeTagReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  lirvo::TMemoryStream stream(Data, Size);

  lirvo::TApeTag tag;
  if (lirvo::ReadApeTag(&stream, tag)) {
    for (const lirvo::TApeTagItem& item : tag.Items)
      (void)item.IsText();
    (void)tag.Find("Title");
  }

  lirvo::TId3v1Record record;
  if (lirvo::ReadId3v1Record(&stream, record)) {
    (void)lirvo::Id3v1FieldText(record.Title, sizeof(record.Title));
    (void)lirvo::Id3v1Track(record);
  }
  lirvo::MakeId3v1Record(&stream, record);

  // The whole choice the APE input makes (APE tag, else ID3v1, else ID3v2).
  lirvo::TAPEv2Tags ape;
  lirvo::TCommonTags common;
  lirvo::ReadApeFileTags(&stream, ape, common);
  (void)ape.Title();
  (void)common.Track();
  return 0;
}
