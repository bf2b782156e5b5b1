#pragma once
// TWaveConverter: turns the compressed payload of a WAV file (A-law, mu-law,
// GSM, MPEG audio and whatever else FFmpeg decodes) into PCM, and hands the
// result out as a canonical PCM WAV image that the WAV input then reads like
// any PCM file.
//
// The payload is read from the file as it is decoded, never copied; the PCM
// is written once, into blocks that the image then reads from, so opening a
// file takes its decoded size and a few blocks of memory. Used by one thread
// at a time (the WAV input's OpenFile, under its OpenCS).

#include <cstdint>
#include <memory>
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

// Bytes appended in fixed blocks: growing never moves or copies what is
// already held.
class TBlockBytes {
 public:
  static constexpr size_t kBlock = size_t{1} << 20;

  uint64_t Size() const { return FSize; }
  void Append(const uint8_t* Data, size_t Count);
  // Copies up to Count bytes from Pos; returns how many there were.
  size_t CopyOut(uint64_t Pos, uint8_t* Dst, size_t Count) const;
  void Clear();

 private:
  std::vector<std::unique_ptr<uint8_t[]>> FBlocks;
  uint64_t FSize = 0;
};

class TWaveConverter {
 public:
  // The conversion failed in a way that has no FFmpeg code (no decoder for
  // the format, nothing decoded, an image too large for a WAV file).
  static constexpr int kNotPossible = 512;

  TWaveConverter();

  // Whether FFmpeg has a decoder for a WAV format tag.
  static bool CanDecode(uint16_t FormatTag);

  // Takes the "fmt " record (FmtSize bytes of it, at most TACMWaveFormat::kSize
  // kept) and where the payload lies in Source (DataLen bytes from DataAt;
  // cut to what the source holds). Source is not owned and must outlive
  // Convert; nothing is read yet.
  void Load(TStream* Source, const uint8_t* Fmt, uint32_t FmtSize, int64_t DataAt, int64_t DataLen);
  // Decodes the payload to PCM (integer formats keep their width, the others
  // become 16-bit); CurrentFormat becomes the PCM format. 0, or an FFmpeg
  // error code, or kNotPossible.
  int Convert();
  // After a successful Convert: a 44-byte-header PCM WAV image of the
  // decoded data, which it takes over (the converter is empty afterwards).
  std::unique_ptr<TStream> TakeWavImage();

  // What went wrong in the last Convert (for diagnostics).
  const std::string& LastError() const { return FLastError; }

  TACMWaveFormat CurrentFormat;

 private:
  TStream* FSource = nullptr;
  int64_t FDataAt = 0;
  int64_t FDataLen = 0;
  uint32_t FFmtSize = 0;  // bytes of CurrentFormat that came from the file
  TBlockBytes FPcm;
  bool FConverted = false;
  std::string FLastError;
};

}  // namespace lirvo
