// Feeds arbitrary bytes to the CUE sheet reader and to the audio-file lookup
// behind a sheet: the text decoding, the sheet rules and the FILE-line
// resolution may raise EAuException for a malformed INDEX line, and must
// never crash, read outside the input or keep more than 255 tracks.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/logic/playlist/FileKinds.h"
#include "audio/core/AuException.h"
#include "audio/processors/CueSheet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string_view bytes(reinterpret_cast<const char*>(Data), Size);
  const std::vector<std::string> lines = lirvo::CueTextToLines(bytes);

  try {
    const lirvo::TCueSheet sheet = lirvo::ParseCueSheet(lines);
    if (sheet.Items.size() > lirvo::kMaxCueItems) std::abort();
  } catch (const lirvo::EAuException&) {
    // A malformed INDEX line is reported, not survived silently.
  }

  // Sheet paths of every shape the folder and extension rules meet.
  static const char* const kSheets[] = {"/tmp/lirvo-fuzz-cue/album.cue", "album.cue", "",
                                        "/tmp/lirvo-fuzz.d/noext", "/"};
  const std::string sheet = kSheets[Size % (sizeof kSheets / sizeof kSheets[0])];
  (void)lirvo::CueLinesHaveSeveralFiles(lines);
  const std::string audio = lirvo::CueFileLineTarget(lines, sheet);
  (void)lirvo::GetAudioFileType(audio);
  return 0;
}
