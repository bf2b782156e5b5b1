#pragma once
// The commands of lirvo-play. Each returns the process exit status and
// writes its error text to Err.

#include <atomic>
#include <ostream>

#include "PlayOptions.h"

namespace lirvo::play {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the file cannot be opened, decoded or written
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;  // --play stopped by SIGINT or SIGTERM

// --info: "key: value" lines on Out for kind, valid, channels, rate, bits,
// frames, duration and the six common tags. A file that is not valid gets
// its kind and "valid: no" and a failure status.
int RunInfo(const TPlayOptions& Options, std::ostream& Out, std::ostream& Err);

// --decode: the decoder's own PCM output from Options.Start.
int RunDecode(const TPlayOptions& Options, std::ostream& Err);

// --list-devices: the shared output's devices, then the direct drivers, one
// "  N: name" line each under a heading.
int RunListDevices(std::ostream& Out);

// --play: plays the file (or the CUE track) through the player's playback
// controller on a one-row playlist, with status messages and a progress line
// (about once a second) on Err. Returns kExitOk at the end of the track,
// kExitFailed with the error text when playback cannot start or fails, and
// kExitInterrupted when StopRequested became true (checked between short
// waits; a signal handler only sets it). Runs on the UI thread.
int RunPlay(const TPlayOptions& Options, std::ostream& Err, const std::atomic<bool>& StopRequested);

}  // namespace lirvo::play
