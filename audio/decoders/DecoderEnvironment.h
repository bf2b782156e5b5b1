#pragma once
// What the decoders reach outside the process: their libraries. The defaults
// are the running system; tests make a library missing to prove the
// decoders' "could not be loaded" path without touching any other decoder.

namespace lirvo {

struct TDecoderEnvironment {
  // False: the decoder treats its library as missing.
  bool FlacLibraryAvailable = true;
  bool MacLibraryAvailable = true;
};

}  // namespace lirvo
