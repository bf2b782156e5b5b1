// Feeds arbitrary bytes to the WAV input as an assigned stream: the header
// scan, the ADPCM decoders, the float conversions and the converted path
// must neither read outside their buffers nor crash, hang or allocate
// without bound, whatever the header claims.

#include <cstddef>
#include <cstdint>

#include "audio/core/Pool.h"
#include "audio/core/Stream.h"
#include "audio/decoders/AudioWave.h"

namespace {

// The decoder reads into the pool's WAV block: start the framework once.
const bool kStarted = [] {
  lirvo::FrameworkStartup();
  return true;
}();

// Reads at most Calls blocks; returns false when the input ended.
bool Drain(lirvo::TWaveIn& In, uint32_t Ask, int Calls) {
  for (int i = 0; i < Calls; ++i) {
    uint8_t* p = nullptr;
    uint32_t n = Ask;
    In.GetData(p, n);
    if (n == 0) return false;
    // Touch the delivered range so a bad pointer shows at once.
    volatile uint8_t sink = p[0] ^ p[n - 1];
    (void)sink;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  (void)kStarted;
  lirvo::TMemoryStream stream(Data, Size);
  lirvo::TWaveIn in;
  in.SetStream(&stream);
  try {
    if (!in.Valid()) {
      (void)in.WavType();
      return 0;
    }
    (void)in.TotalTime();
    const int64_t total = in.TotalSamples();
    in.Init();
    // A bounded read: an unknown size reads to the end of the input, which
    // is short; a header claiming a huge size still ends with the data.
    Drain(in, 4099, 4096);
    if (total > 0) {
      in.Seek(total / 2);
      Drain(in, 1000, 64);
      in.Seek(total - 1);
      Drain(in, 333, 64);
      in.Seek(0);
      Drain(in, 65536, 4);
    }
    in.Flush();
  } catch (const lirvo::EAuException&) {
    // A documented failure of the input, not a fault.
  }
  in.SetStream(nullptr);
  return 0;
}
