#pragma once
// Everything the audio layer reaches outside the process, in one value the
// composition roots (the window, lirvo-play, tests) hand to the player's
// chain. It lives here because the outputs and the decoders must not see each
// other; each gets only its own part.

#include "audio/decoders/DecoderEnvironment.h"
#include "audio/outputs/OutputEnvironment.h"

namespace lirvo {

struct TAudioEnvironment {
  TOutputEnvironment Outputs;
  TDecoderEnvironment Decoders;
};

}  // namespace lirvo
