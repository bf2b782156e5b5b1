#pragma once
// Shared helpers of the direct-driver tests: the expected 32-bit (or float)
// stream for a generated source, and checks of what reached the device.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
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

// How many all-silent chunks lie between the start of Captured and the end of
// a stream of StreamBytes that fills every other chunk: silence inserted into
// the stream (each one must be a counted shortfall).
inline size_t SilentChunksWithin(const std::vector<uint8_t>& Captured, size_t ChunkBytes,
                                 size_t StreamBytes) {
  size_t silent = 0, data = 0;
  for (size_t at = 0; at < Captured.size() && data < StreamBytes; at += ChunkBytes) {
    const size_t n = std::min(ChunkBytes, Captured.size() - at);
    bool allZero = true;
    for (size_t i = 0; i < n && allZero; ++i)
      allZero = Captured[at + i] == 0;
    if (allZero)
      ++silent;
    else
      data += n;
  }
  return silent;
}

// The check for a device that takes halves faster than real time: there the
// read-ahead can miss a half on a busy machine, which then gets silence and is
// counted. The stream must still arrive whole, in order and from its first
// frame, every silent half inside it must be a counted shortfall, and only
// silence may follow it.
inline ::testing::AssertionResult WholeStreamWithCountedGaps(const std::vector<uint8_t>& Captured,
                                                             const std::vector<uint8_t>& Expected,
                                                             size_t HalfBytes,
                                                             uint64_t Shortfalls) {
  ::testing::AssertionResult r = ExactThenSilence(DropSilentChunks(Captured, HalfBytes), Expected);
  if (!r) return r;
  const size_t gaps = SilentChunksWithin(Captured, HalfBytes, Expected.size());
  if (gaps != Shortfalls)
    return ::testing::AssertionFailure()
           << gaps << " silent halves inside the stream, " << Shortfalls << " shortfalls counted";
  if (gaps > 0) std::printf("note: %zu shortfall(s) on a busy machine\n", gaps);
  return ::testing::AssertionSuccess();
}

}  // namespace lirvo::test
