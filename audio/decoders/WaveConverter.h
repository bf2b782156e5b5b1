#pragma once
// TWaveConverter: turns the compressed payload of a WAV file (A-law, mu-law,
// GSM, MPEG audio and whatever else FFmpeg decodes) into PCM, and writes the
// result as a canonical PCM WAV image that the WAV input then reads like any
// PCM file.
//
// It is a memory stream: it holds first the compressed sample data and, after
// Convert, the PCM data. The whole payload is decoded in one go, in memory.
// Used by one thread at a time (the WAV input's OpenFile, under its OpenCS).

#include <cstdint>
#include <string>
#include <vector>

#include "audio/core/Stream.h"

namespace lirvo {

// A wave format record with room for a codec's extra bytes: seen either as
// the WAVEFORMATEX fields (little-endian, at the offsets below) or as raw
// bytes.
struct TACMWaveFormat {
  static constexpr uint32_t kSize = 129;
  uint8_t RawData[kSize] = {};

  uint16_t FormatTag() const { return U16(0); }
  uint16_t Channels() const { return U16(2); }
  uint32_t SamplesPerSec() const { return U32(4); }
  uint32_t AvgBytesPerSec() const { return U32(8); }
  uint16_t BlockAlign() const { return U16(12); }
  uint16_t BitsPerSample() const { return U16(14); }
  uint16_t CbSize() const { return U16(16); }

  void SetPcm(uint16_t Channels, uint32_t Rate, uint16_t Bits);

 private:
  uint16_t U16(int At) const { return static_cast<uint16_t>(RawData[At] | (RawData[At + 1] << 8)); }
  uint32_t U32(int At) const { return U16(At) | (static_cast<uint32_t>(U16(At + 2)) << 16); }
};

class TWaveConverter : public TStream {
 public:
  // The conversion failed in a way that has no FFmpeg code (no decoder for
  // the format, nothing decoded, an image too large for a WAV file).
  static constexpr int kNotPossible = 512;
  // SaveWavToStream could not write.
  static constexpr int kWriteFault = 286;

  TWaveConverter();

  // Whether FFmpeg has a decoder for a WAV format tag.
  static bool CanDecode(uint16_t FormatTag);

  // Takes the "fmt " record and the "data" payload of the WAV image in Stream
  // (read from its beginning). Loads nothing unless the image starts with
  // "RIFF" ... "WAVE". Leaves the converter positioned at 0.
  void LoadStream(TStream* Stream);
  // Picks the PCM format the payload decodes to (NewFormat): 0, or
  // kNotPossible when no decoder handles the held format.
  int Suggest();
  // Decodes the held payload to NewFormat and replaces the content by the PCM
  // bytes; CurrentFormat becomes NewFormat. 0, or an FFmpeg error code, or
  // kNotPossible. The format may be refined from the decoded frames (an
  // MPEG stream whose header disagrees with its frames).
  int Convert();
  // Writes a complete 44-byte-header PCM WAV image of the content to MS: 0,
  // or kWriteFault when writing raised an error.
  int SaveWavToStream(TStream* MS);

  // What went wrong in the last Suggest or Convert (for diagnostics).
  const std::string& LastError() const { return FLastError; }

  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override { return static_cast<int64_t>(FData.size()); }

  uint32_t FMaxFmtSize = TACMWaveFormat::kSize;
  TACMWaveFormat CurrentFormat;
  TACMWaveFormat NewFormat;

 private:
  std::vector<uint8_t> FData;
  int64_t FPos = 0;
  uint32_t FFmtSize = 0;  // bytes of CurrentFormat that came from the file
  std::string FLastError;
};

}  // namespace lirvo
