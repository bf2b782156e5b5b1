#pragma once
// The decoding libraries' bindings. libFLAC and FFmpeg are linked, so
// "loading" a binding means checking that the library can decode its format
// (FFmpeg may be built without the APE decoder). The loaded flags and the
// last failure text keep the decoders' "could not be loaded" behaviour; a
// decoder environment can make a library missing to prove that path.
//
// Threads: any; the flags are atomic and loading runs under LoadLibCS.

#include <string>

#include "audio/decoders/DecoderEnvironment.h"

namespace lirvo {

// Checks the library and sets the flag; does nothing when already loaded.
// A failed load is retried by the next call. A library Env marks missing
// fails the load (with its failure text) and leaves the flag alone.
void LoadFlacImage(const TDecoderEnvironment& Env = {});
void UnloadFlacImage();
// Loaded, and available in Env.
bool FlacImageLoaded(const TDecoderEnvironment& Env = {});

void LoadMacImage(const TDecoderEnvironment& Env = {});
void UnloadMacImage();
bool MacImageLoaded(const TDecoderEnvironment& Env = {});

// The text of the last failure ("" when none).
std::string LastLoaderError();

}  // namespace lirvo
