#pragma once
// Helpers of the WMA/MP3 input tests.

#include <cstdint>
#include <string>
#include <vector>

#include "audio/core/AudioClasses.h"
#include "common/ExternalTools.h"
#include "common/TestFiles.h"

namespace lirvo::test {

// The reference decoder's output for the file's first audio stream as
// integer PCM of Bits bits (8 unsigned, 16, 24 packed or 32 signed).
std::vector<uint8_t> FfmpegPcm(const std::string& File, int Bits, const std::string& Extra = "");
// One ffprobe value ("format=duration", "stream=duration_ts", ...).
std::string Ffprobe(const std::string& File, const std::string& Entry);
// ffprobe's format duration in microseconds; -1 when it has none.
int64_t FfprobeDurationMicros(const std::string& File);

// Files made once per run with ffmpeg: 20-second stereo tones at 44.1 kHz as
// MP3 (CBR and VBR) and WMA v2 with title, artist, album, track and date,
// a 5.1 AC-3 stream in ASF, and a 20-second mono 24 kHz MP3 at 8 kbit/s
// (frames of 24 bytes, whose bit reservoir reaches back 20 frames and more).
struct Generated {
  bool Ok = false;
  std::string Mp3, Mp3Vbr, Wma, Wma51, Mp3Low;
};
const Generated& GeneratedFiles();

// A 60-minute mono VBR MP3 tone (24 kHz, about 8 kbit/s: 3.6 MB in 150,000
// frames), made once per build on first use; empty when it could not be made.
const std::string& HourLongMp3();

}  // namespace lirvo::test
