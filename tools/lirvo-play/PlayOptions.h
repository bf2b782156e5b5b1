#pragma once
// Command-line arguments of lirvo-play.

#include <cstdint>
#include <string>
#include <vector>

namespace lirvo::play {

enum class TCommand { Help, Info, Decode, ListDevices, Play };

// The output --play uses: the shared output or the direct-driver output.
enum class TEngine { DSound, ASIO };

struct TPlayOptions {
  TCommand Command = TCommand::Help;
  std::string File;
  std::string Out;      // --decode: output path, "-" for standard output
  int64_t Start = 0;    // --decode: first frame
  int64_t Frames = -1;  // --decode: frame count, -1 for all
  int Track = 0;        // --decode and --play of a CUE sheet: the track, 1-based
  // --play:
  TEngine Engine = TEngine::DSound;
  std::string Device;   // a device number or name; empty: device 0
  int LatencyMs = 100;  // the shared output's ring, in milliseconds
  bool HaveLatency = false;
  std::string Buffer;  // the driver's buffer: min, preferred, max or a frame count
};

// Parses the arguments after the program name. Throws TUsageError with a
// one-line reason when they do not form a command.
struct TUsageError {
  std::string Message;
};
TPlayOptions ParseOptions(const std::vector<std::string>& Args);

// The usage text printed by --help and after a usage error.
const char* UsageText();

}  // namespace lirvo::play
