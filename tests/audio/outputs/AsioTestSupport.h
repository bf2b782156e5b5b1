#pragma once
// Shared helpers of the direct-driver tests: the expected 32-bit (or float)
// stream for a generated source, and checks of what reached the device.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/TestSource.h"

namespace lirvo::test {

// The generated source's samples (Bits 16, 24 or 32, from byte Offset on)
// widened to 32 bits, as the converter or the output's widening gives them.
inline std::vector<int32_t> WidenedPattern(uint32_t Bits, int64_t Bytes, int64_t Offset = 0) {
  const uint32_t w = Bits / 8;
  std::vector<int32_t> out;
  out.reserve(static_cast<size_t>(Bytes / w));
  for (int64_t k = Offset; k + w <= Offset + Bytes; k += w) {
    uint32_t u = 0;
    for (uint32_t b = 0; b < w; ++b)
      u |= uint32_t(PatternByte(k + b)) << (8 * b);
    u <<= 32 - Bits;
    out.push_back(static_cast<int32_t>(u));
  }
  return out;
}

// A 32-bit sample as a float driver receives it.
inline float AsioFloat(int32_t S) {
  return static_cast<float>(S) * (1.0f / 2147483648.0f);
}

inline std::vector<uint8_t> Bytes32(const std::vector<int32_t>& S) {
  std::vector<uint8_t> b(S.size() * 4);
  if (!S.empty()) std::memcpy(b.data(), S.data(), b.size());
  return b;
}

inline std::vector<uint8_t> BytesFloat(const std::vector<int32_t>& S) {
  std::vector<uint8_t> b(S.size() * 4);
  for (size_t i = 0; i < S.size(); ++i) {
    const float f = AsioFloat(S[i]);
    std::memcpy(b.data() + 4 * i, &f, 4);
  }
  return b;
}

// What reached the device is Expected, whole and from its first byte, then
// nothing but silence (zero bytes).
inline ::testing::AssertionResult ExactThenSilence(const std::vector<uint8_t>& Captured,
                                                   const std::vector<uint8_t>& Expected) {
  if (Captured.size() < Expected.size())
    return ::testing::AssertionFailure()
           << "captured " << Captured.size() << " bytes, expected at least " << Expected.size();
  for (size_t i = 0; i < Expected.size(); ++i)
    if (Captured[i] != Expected[i])
      return ::testing::AssertionFailure()
             << "first difference at byte " << i << " of " << Expected.size() << ": got "
             << int(Captured[i]) << ", expected " << int(Expected[i]);
  for (size_t i = Expected.size(); i < Captured.size(); ++i)
    if (Captured[i] != 0)
      return ::testing::AssertionFailure()
             << "non-silent byte " << int(Captured[i]) << " after the end, at byte " << i;
  return ::testing::AssertionSuccess();
}

// The capture without its all-silent chunks (halves of ChunkBytes): what a
// run with a deliberate interruption (reset, pause) delivered.
inline std::vector<uint8_t> DropSilentChunks(const std::vector<uint8_t>& Captured,
                                             size_t ChunkBytes) {
  std::vector<uint8_t> out;
  for (size_t at = 0; at < Captured.size(); at += ChunkBytes) {
    const size_t n = std::min(ChunkBytes, Captured.size() - at);
    bool silent = true;
    for (size_t i = 0; i < n && silent; ++i)
      silent = Captured[at + i] == 0;
    if (!silent) out.insert(out.end(), Captured.begin() + at, Captured.begin() + at + n);
  }
  return out;
}

// The ALSA configuration of a paced test card named Pcm (a card with a clock
// that writes what it receives to Capture; see PacedCardPlugin.cpp). The
// plugin's type is declared once per configuration: Declare for the first.
inline std::string PacedCardConfig(const std::string& Pcm, const std::string& Capture,
                                   bool Declare = true) {
  std::string c;
  if (Declare) c += std::string("pcm_type.lirvopaced { lib \"") + LIRVO_PACED_CARD_LIB + "\" }\n";
  c += "pcm." + Pcm + " { type lirvopaced file \"" + Capture + "\" }\n";
  return c;
}

inline std::vector<uint8_t> ReadWholeFile(const std::string& Path) {
  std::ifstream f(Path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// What the paced card says of its last stream: its own xruns and the period
// and ring it was given (-1 each when it wrote nothing).
struct TPacedCardStats {
  long long Xruns = -1, Period = -1, Buffer = -1, Starts = -1;
  long long FirstXrunAt = -1;    // frames played when it first ran dry
  long long MaxWakeLateUs = -1;  // the writer woken late by the machine, at most
};

inline TPacedCardStats ReadPacedCardStats(const std::string& Capture) {
  TPacedCardStats s;
  std::ifstream f(Capture + ".stats");
  std::string key;
  long long v = 0;
  while (f >> key >> v) {
    if (key == "xruns") s.Xruns = v;
    if (key == "period") s.Period = v;
    if (key == "buffer") s.Buffer = v;
    if (key == "starts") s.Starts = v;
    if (key == "first_xrun_at") s.FirstXrunAt = v;
    if (key == "max_wake_late_us") s.MaxWakeLateUs = v;
  }
  return s;
}

}  // namespace lirvo::test
