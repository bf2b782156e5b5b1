// Feeds arbitrary bytes to the ID3 readers: neither may read outside the
// input, allocate more than the input's size or crash, whatever it claims.

#include <cstddef>
#include <cstdint>

#include "audio/core/Stream.h"
#include "audio/tags/Id3Tags.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  lirvo::TMemoryStream stream(Data, Size);

  lirvo::TId3v1Tags v1;
  v1.Presents(&stream);
  v1.ReadFromFile(&stream);
  (void)v1.Genre();

  lirvo::TId3v2Tags v2;
  stream.SetPosition(0);
  v2.Presents(&stream);
  // A file may carry several tags one after another; read them as a decoder
  // skipping leading tags would.
  for (int i = 0; i < 4 && v2.ReadFromFile(&stream); ++i) {
    (void)v2.Title();
    (void)v2.Track();
  }
  return 0;
}
