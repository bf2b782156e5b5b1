#pragma once
// The commands of lirvo-play. Each returns the process exit status and
// writes its error text to Err.

#include <ostream>

#include "PlayOptions.h"

namespace lirvo::play {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the file cannot be opened, decoded or written
inline constexpr int kExitUsage = 2;

// --info: "key: value" lines on Out for kind, valid, channels, rate, bits,
// frames, duration and the six common tags. A file that is not valid gets
// its kind and "valid: no" and a failure status.
int RunInfo(const TPlayOptions& Options, std::ostream& Out, std::ostream& Err);

// --decode: the decoder's own PCM output from Options.Start.
int RunDecode(const TPlayOptions& Options, std::ostream& Err);

}  // namespace lirvo::play
