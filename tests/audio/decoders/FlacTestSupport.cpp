#include "tests/audio/decoders/FlacTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include <unistd.h>

namespace lirvo::test {

bool RunCommand(const std::string& Command) {
  return std::system(Command.c_str()) == 0;
}

namespace {

uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void PutLe(Bytes& Out, uint32_t Value, int Count) {
  for (int i = 0; i < Count; ++i)
    Out.push_back(static_cast<uint8_t>(Value >> (8 * i)));
}

// A WAVE_FORMAT_EXTENSIBLE header, so the valid width can differ from the
// container width (12 bits in 16, 20 in 24).
Bytes WavExtensible(uint32_t Rate, uint32_t Channels, uint32_t ContainerBits, uint32_t ValidBits,
                    const Bytes& Pcm) {
  static const uint8_t kPcmGuid[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  const uint32_t align = Channels * ContainerBits / 8;
  Bytes fmt;
  PutLe(fmt, 0xFFFE, 2);
  PutLe(fmt, Channels, 2);
  PutLe(fmt, Rate, 4);
  PutLe(fmt, Rate * align, 4);
  PutLe(fmt, align, 2);
  PutLe(fmt, ContainerBits, 2);
  PutLe(fmt, 22, 2);
  PutLe(fmt, ValidBits, 2);
  PutLe(fmt, (1u << Channels) - 1, 4);
  fmt.insert(fmt.end(), kPcmGuid, kPcmGuid + 16);
  Bytes w = {'R', 'I', 'F', 'F'};
  PutLe(w, static_cast<uint32_t>(4 + 8 + fmt.size() + 8 + Pcm.size()), 4);
  w.insert(w.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  PutLe(w, static_cast<uint32_t>(fmt.size()), 4);
  w.insert(w.end(), fmt.begin(), fmt.end());
  w.insert(w.end(), {'d', 'a', 't', 'a'});
  PutLe(w, static_cast<uint32_t>(Pcm.size()), 4);
  w.insert(w.end(), Pcm.begin(), Pcm.end());
  return w;
}

}  // namespace

Bytes WavData(const Bytes& Wav) {
  if (Wav.size() < 12 || std::memcmp(Wav.data(), "RIFF", 4) != 0) return {};
  size_t pos = 12;
  while (pos + 8 <= Wav.size()) {
    const uint32_t size = Le32(&Wav[pos + 4]);
    if (std::memcmp(&Wav[pos], "data", 4) == 0) {
      const size_t end = std::min(Wav.size(), pos + 8 + size);
      return Bytes(Wav.begin() + static_cast<ptrdiff_t>(pos + 8),
                   Wav.begin() + static_cast<ptrdiff_t>(end));
    }
    pos += 8 + size + (size & 1);
  }
  return {};
}

Bytes ReferenceDecode(const std::string& FlacPath, bool ThroughErrors) {
  const std::string wav = FlacPath + ".ref.wav";
  const std::string cmd = std::string("flac -s -f -d ") + (ThroughErrors ? "-F " : "") + "-o " +
                          Quote(wav) + " " + Quote(FlacPath) + " 2>/dev/null";
  if (!RunCommand(cmd) && !ThroughErrors) return {};
  Bytes data = WavData(ReadFileBytes(wav));
  std::remove(wav.c_str());
  return data;
}

std::string MakeFlac(const std::string& Dir, const std::string& Name, const TGenSpec& Spec) {
  if (!HaveTool("sox") || !HaveTool("flac")) {
    ADD_FAILURE() << "sox and flac must be installed to make the FLAC test files";
    return "";
  }
  const uint32_t container = (Spec.Bits + 7) / 8 * 8;
  const std::string raw = Dir + "/" + Name + ".raw";
  const std::string wav = Dir + "/" + Name + ".wav";
  const std::string flac = Dir + "/" + Name + ".flac";
  const std::string encoding = container == 8 ? "unsigned-integer" : "signed-integer";
  const std::string sox =
      "sox -n -r " + std::to_string(Spec.Rate) + " -c " + std::to_string(Spec.Channels) + " -b " +
      std::to_string(container) + " -e " + encoding + " -t raw " + Quote(raw) + " synth " +
      std::to_string(Spec.Seconds) + " sine 200-4000 pinknoise vol 0.8 2>/dev/null";
  if (!RunCommand(sox)) {
    ADD_FAILURE() << "sox failed: " << sox;
    return "";
  }
  Bytes pcm = ReadFileBytes(raw);
  std::remove(raw.c_str());
  // Clear the bits below the valid width (the lowest byte holds them).
  const uint32_t unused = container - Spec.Bits;
  if (unused > 0) {
    const uint32_t step = container / 8;
    const uint8_t mask = static_cast<uint8_t>(0xFF << unused);
    for (size_t i = 0; i < pcm.size(); i += step)
      pcm[i] &= mask;
  }
  WriteFileBytes(wav, WavExtensible(Spec.Rate, Spec.Channels, container, Spec.Bits, pcm));
  std::string enc = "flac -s -f ";
  if (Spec.BlockSize) enc += "--blocksize=" + std::to_string(Spec.BlockSize) + " ";
  enc += "-o " + Quote(flac) + " " + Quote(wav) + " 2>/dev/null";
  const bool ok = RunCommand(enc);
  std::remove(wav.c_str());
  if (!ok) {
    ADD_FAILURE() << "flac failed: " << enc;
    return "";
  }
  return flac;
}

Bytes ReadFrames(TAuInput& In, int64_t Frames, uint32_t FrameBytes) {
  Bytes out;
  const size_t want = static_cast<size_t>(Frames) * FrameBytes;
  while (out.size() < want) {
    uint8_t* p = nullptr;
    uint32_t n = static_cast<uint32_t>(std::min<size_t>(want - out.size(), 7 * 1024 * FrameBytes));
    In.GetData(p, n);
    if (n == 0) break;
    out.insert(out.end(), p, p + n);
  }
  return out;
}

}  // namespace lirvo::test
