#pragma once
// The decoding libraries' bindings. libFLAC and FFmpeg are linked, so
// "loading" a binding means checking that the library can decode its format
// (FFmpeg may be built without the APE decoder). The loaded flags and the
// last failure text keep the decoders' "could not be loaded" behaviour; tests
// can make a binding unavailable to prove that path.
//
// Threads: any; the flags are atomic and loading runs under LoadLibCS.

#include <string>

namespace lirvo {

// Checks the library and sets the flag; does nothing when already loaded.
// A failed load is retried by the next call.
void LoadFlacImage();
void UnloadFlacImage();
bool FlacImageLoaded();

void LoadMacImage();
void UnloadMacImage();
bool MacImageLoaded();

// The text of the last failure ("" when none).
std::string LastLoaderError();

// Test hook: when false, the binding reports its library as missing.
void SetFlacLibraryAvailable(bool Available);
void SetMacLibraryAvailable(bool Available);

}  // namespace lirvo
