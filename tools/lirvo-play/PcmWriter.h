#pragma once
// Where lirvo-play writes decoded PCM: a raw file, standard output, or a
// WAV file whose header carries the decoder's format.

#include <cstdint>
#include <cstdio>
#include <string>

namespace lirvo::play {

struct TPcmFormat {
  uint32_t Channels = 0;
  uint32_t SampleRate = 0;
  uint32_t BitsPerSample = 0;  // integer PCM; 8-bit unsigned as in WAV
};

class TPcmWriter {
 public:
  // "-" is standard output (raw). A path ending in .wav (any case) gets a
  // WAV header; anything else is raw. Throws std::runtime_error with the
  // system's text when the file cannot be created.
  TPcmWriter(const std::string& Path, const TPcmFormat& Format);
  ~TPcmWriter();
  TPcmWriter(const TPcmWriter&) = delete;
  TPcmWriter& operator=(const TPcmWriter&) = delete;

  // Throws std::runtime_error when the output refuses the bytes.
  void Write(const uint8_t* Data, size_t Bytes);
  // Completes the WAV header's sizes and closes the output; throws on a
  // write error. The destructor closes without reporting.
  void Finish();

 private:
  void WriteWavHeader(uint64_t DataBytes);

  std::FILE* FFile = nullptr;
  bool FOwnFile = false;
  bool FWav = false;
  TPcmFormat FFormat;
  uint64_t FDataBytes = 0;
};

}  // namespace lirvo::play
