#include "PcmWriter.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace lirvo::play {

namespace {

bool EndsWithWav(const std::string& Path) {
  if (Path.size() < 4) return false;
  std::string ext = Path.substr(Path.size() - 4);
  for (char& c : ext)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".wav";
}

void PutLe(std::vector<uint8_t>& Out, uint64_t Value, int Count) {
  for (int i = 0; i < Count; ++i)
    Out.push_back(static_cast<uint8_t>(Value >> (8 * i)));
}

void PutTag(std::vector<uint8_t>& Out, const char* Tag) {
  Out.insert(Out.end(), Tag, Tag + 4);
}

}  // namespace

TPcmWriter::TPcmWriter(const std::string& Path, const TPcmFormat& Format) : FFormat(Format) {
  if (Path == "-") {
    FFile = stdout;
    return;
  }
  FFile = std::fopen(Path.c_str(), "wb");
  if (!FFile) throw std::runtime_error(Path + ": " + std::strerror(errno));
  FOwnFile = true;
  FWav = EndsWithWav(Path);
  // Sizes are filled in by Finish; a header is needed first to write after.
  if (FWav) WriteWavHeader(0);
}

TPcmWriter::~TPcmWriter() {
  if (FOwnFile && FFile) std::fclose(FFile);
}

void TPcmWriter::Write(const uint8_t* Data, size_t Bytes) {
  if (Bytes == 0) return;
  if (std::fwrite(Data, 1, Bytes, FFile) != Bytes)
    throw std::runtime_error(std::string("write failed: ") + std::strerror(errno));
  FDataBytes += Bytes;
}

void TPcmWriter::Finish() {
  if (FWav) {
    // RIFF chunks are padded to an even size.
    if ((FDataBytes & 1) && std::fputc(0, FFile) == EOF)
      throw std::runtime_error(std::string("write failed: ") + std::strerror(errno));
    if (std::fseek(FFile, 0, SEEK_SET) != 0)
      throw std::runtime_error(std::string("cannot complete the WAV header: ") +
                               std::strerror(errno));
    WriteWavHeader(FDataBytes);
  }
  if (std::fflush(FFile) != 0)
    throw std::runtime_error(std::string("write failed: ") + std::strerror(errno));
  if (FOwnFile) {
    const int rc = std::fclose(FFile);
    FFile = nullptr;
    if (rc != 0) throw std::runtime_error(std::string("write failed: ") + std::strerror(errno));
  }
}

void TPcmWriter::WriteWavHeader(uint64_t DataBytes) {
  // More than two channels or more than 16 bits need the extensible format
  // to be read correctly by other programs.
  const bool extensible = FFormat.Channels > 2 || FFormat.BitsPerSample > 16;
  const uint32_t align = FFormat.Channels * ((FFormat.BitsPerSample + 7) / 8);
  std::vector<uint8_t> fmt;
  PutLe(fmt, extensible ? 0xFFFE : 1, 2);
  PutLe(fmt, FFormat.Channels, 2);
  PutLe(fmt, FFormat.SampleRate, 4);
  PutLe(fmt, uint64_t{FFormat.SampleRate} * align, 4);
  PutLe(fmt, align, 2);
  PutLe(fmt, FFormat.BitsPerSample, 2);
  if (extensible) {
    static const uint8_t kPcmGuid[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                         0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    PutLe(fmt, 22, 2);
    PutLe(fmt, FFormat.BitsPerSample, 2);
    const uint32_t mask = FFormat.Channels >= 32 ? 0 : (1u << FFormat.Channels) - 1;
    PutLe(fmt, mask, 4);
    fmt.insert(fmt.end(), kPcmGuid, kPcmGuid + 16);
  }
  // The RIFF sizes are 32-bit; a longer stream keeps the largest value.
  const uint64_t data = std::min<uint64_t>(DataBytes, 0xFFFFFFFFu - 4 - 8 - fmt.size() - 8);
  std::vector<uint8_t> h;
  PutTag(h, "RIFF");
  PutLe(h, 4 + 8 + fmt.size() + 8 + data + (data & 1), 4);
  PutTag(h, "WAVE");
  PutTag(h, "fmt ");
  PutLe(h, fmt.size(), 4);
  h.insert(h.end(), fmt.begin(), fmt.end());
  PutTag(h, "data");
  PutLe(h, data, 4);
  if (std::fwrite(h.data(), 1, h.size(), FFile) != h.size())
    throw std::runtime_error(std::string("write failed: ") + std::strerror(errno));
}

}  // namespace lirvo::play
