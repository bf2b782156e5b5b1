#pragma once
// Helpers of the FLAC input tests: making FLAC files with sox and flac at run
// time, decoding them with the reference decoder, and reading an input to
// its end.

#include <cstdint>
#include <string>
#include <vector>

#include "audio/core/AudioClasses.h"
#include "common/ExternalTools.h"
#include "common/TestFiles.h"

namespace lirvo::test {

using Bytes = std::vector<uint8_t>;

// Runs a shell command; true when it exits with 0.
bool RunCommand(const std::string& Command);

// The bytes of the "data" chunk of a WAV file (empty when there is none).
Bytes WavData(const Bytes& Wav);

// What the reference decoder makes of a FLAC file: the PCM of `flac -d`'s
// WAV output (samples of widths that are not a multiple of 8 left-justified,
// 8-bit unsigned). Empty when flac fails. With ThroughErrors, flac goes on
// past damaged frames (-F) and its output is taken whatever it reports.
Bytes ReferenceDecode(const std::string& FlacPath, bool ThroughErrors = false);

struct TGenSpec {
  uint32_t Rate;
  uint32_t Channels;
  uint32_t Bits;  // bits per sample in the FLAC stream (8..32)
  double Seconds;
  uint32_t BlockSize = 0;  // 0: the encoder's default
};

// Generates a signal with sox (a sweep on the first channel, pink noise on
// the second, repeating), writes it as a WAV file whose valid width is
// Spec.Bits and encodes it with flac. Returns the FLAC path; fails the
// calling test (through ADD_FAILURE) and returns "" when a tool fails.
std::string MakeFlac(const std::string& Dir, const std::string& Name, const TGenSpec& Spec);

// Reads at most Frames frames (FrameBytes each).
Bytes ReadFrames(TAuInput& In, int64_t Frames, uint32_t FrameBytes);

}  // namespace lirvo::test
