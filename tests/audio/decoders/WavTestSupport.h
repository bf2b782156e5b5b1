#pragma once
// Helpers of the WAV input tests: running the reference tools, building WAV
// images byte by byte, and pulling everything out of a TWaveIn.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/core/Stream.h"
#include "audio/decoders/AudioWave.h"
#include "common/ExternalTools.h"
#include "common/TestFiles.h"
#include "common/TestPaths.h"

namespace lirvo::test::wav {

using Bytes = std::vector<uint8_t>;

// Decodes File with ffmpeg to raw samples of Format (s16le, u8, f64le, ...).
inline Bytes FfmpegDecode(const std::string& File, const std::string& Format) {
  return RunCapture("ffmpeg -v error -nostdin -i " + Quote(File) + " -map 0:a:0 -f " + Format +
                    " -");
}

// Decodes an IMA ADPCM file with sox to signed 16-bit. ffmpeg's IMA decoder
// computes each step's difference by a multiplication that rounds
// differently from the codec's reference shift-and-add method; sox uses the
// reference method.
inline Bytes SoxDecodeS16(const std::string& File) {
  return RunCapture("sox " + Quote(File) + " -t raw -e signed -b 16 -");
}

// Runs ffmpeg with Args (inputs, codec options) writing Out; true on success.
inline bool Ffmpeg(const std::string& Args, const std::string& Out) {
  return std::system(("ffmpeg -v error -nostdin -y " + Args + " " + Quote(Out)).c_str()) == 0;
}

// A stereo test signal that is not symmetric between the channels.
inline std::string ToneSource(double Seconds, int Rate = 44100) {
  return "-f lavfi -i 'aevalsrc=0.5*sin(2*PI*440*t)|0.3*sin(2*PI*660*t+1):s=" +
         std::to_string(Rate) + ":d=" + std::to_string(Seconds) + "'";
}

inline void Put16(Bytes& B, uint16_t V) {
  B.push_back(static_cast<uint8_t>(V));
  B.push_back(static_cast<uint8_t>(V >> 8));
}
inline void Put32(Bytes& B, uint32_t V) {
  Put16(B, static_cast<uint16_t>(V));
  Put16(B, static_cast<uint16_t>(V >> 16));
}
inline void PutCode(Bytes& B, const char* Code) {
  // Byte by byte: GCC 12 takes a range insert into an empty vector for an
  // overflow (-Wstringop-overflow, a known false positive).
  for (int i = 0; i < 4; ++i)
    B.push_back(static_cast<uint8_t>(Code[i]));
}
inline void PutChunk(Bytes& B, const char* Code, const Bytes& Body, bool Pad = true) {
  PutCode(B, Code);
  Put32(B, static_cast<uint32_t>(Body.size()));
  B.insert(B.end(), Body.begin(), Body.end());
  if (Pad && (Body.size() & 1)) B.push_back(0);
}

// A plain 16-byte format record.
inline Bytes FmtBody(uint16_t Tag, uint16_t Channels, uint32_t Rate, uint16_t Bits,
                     uint16_t Align = 0) {
  Bytes b;
  if (Align == 0) Align = static_cast<uint16_t>(Channels * ((Bits + 7) / 8));
  Put16(b, Tag);
  Put16(b, Channels);
  Put32(b, Rate);
  Put32(b, Rate * Align);
  Put16(b, Align);
  Put16(b, Bits);
  return b;
}

// A 40-byte extensible format record with the given sub-format tag (the
// GUID xxxxxxxx-0000-0010-8000-00AA00389B71).
inline Bytes ExtensibleBody(uint16_t Channels, uint32_t Rate, uint16_t Bits, uint32_t SubTag) {
  Bytes b = FmtBody(0xFFFE, Channels, Rate, Bits);
  Put16(b, 22);
  Put16(b, Bits);
  Put32(b, Channels == 2 ? 3 : 4);
  Put32(b, SubTag);
  const uint8_t tail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  b.insert(b.end(), tail, tail + 12);
  return b;
}

// RIFF/WAVE around the chunks in Body (RIFF size filled in).
inline Bytes Riff(const Bytes& Body, const char* RiffCode = "RIFF", const char* WaveCode = "WAVE") {
  Bytes b;
  PutCode(b, RiffCode);
  Put32(b, static_cast<uint32_t>(Body.size() + 4));
  PutCode(b, WaveCode);
  b.insert(b.end(), Body.begin(), Body.end());
  return b;
}

// Distinct, non-periodic sample bytes.
inline Bytes Pattern(size_t N, uint32_t Seed = 1) {
  Bytes b(N);
  uint32_t x = Seed * 2654435761u + 12345;
  for (auto& v : b) {
    x = x * 1664525u + 1013904223u;
    v = static_cast<uint8_t>(x >> 24);
  }
  return b;
}

struct Decoded {
  bool valid = false;
  TWavType type = wtUnsupported;
  uint32_t bits = 0, channels = 0, rate = 0;
  int64_t totalSamples = 0;
  uint32_t totalTime = 0;
  Bytes pcm;
};

inline Decoded DecodeWith(TWaveIn& In, uint32_t Ask = 4096) {
  Decoded d;
  d.valid = In.Valid();
  d.type = In.WavType();
  d.bits = In.BitsPerSample();
  d.channels = In.Channels();
  d.rate = In.SampleRate();
  d.totalSamples = In.TotalSamples();
  d.totalTime = In.TotalTime();
  In.Init();
  d.pcm = ReadAll(In, Ask);
  In.Flush();
  return d;
}

inline Decoded DecodeFile(const std::string& Path, uint32_t Ask = 4096) {
  TWaveIn in;
  in.SetFileName(Path);
  return DecodeWith(in, Ask);
}

inline Decoded DecodeBytes(const Bytes& Data, uint32_t Ask = 4096) {
  TMemoryStream s(Data.data(), Data.size());
  TWaveIn in;
  in.SetStream(&s);
  Decoded d = DecodeWith(in, Ask);
  in.SetStream(nullptr);
  return d;
}

// The float-to-integer rule: 1.0 and above give the largest value, -1.0 and
// below the smallest, NaN 0, everything else floor(x * 2147483647).
inline int32_t FloatRule(double X) {
  if (X >= 1.0) return 2147483647;
  if (X <= -1.0) return -2147483647 - 1;
  if (std::isnan(X)) return 0;
  return static_cast<int32_t>(std::floor(static_cast<long double>(X) * 2147483647.0L));
}

// Raw little-endian doubles or floats to 32-bit integers by the float rule.
inline Bytes FloatsToInt32(const Bytes& Raw, int Width) {
  Bytes out;
  for (size_t i = 0; i + Width <= Raw.size(); i += Width) {
    double x;
    if (Width == 8) {
      std::memcpy(&x, Raw.data() + i, 8);
    } else {
      float f;
      std::memcpy(&f, Raw.data() + i, 4);
      x = f;
    }
    const auto v = static_cast<uint32_t>(FloatRule(x));
    Put32(out, v);
  }
  return out;
}

}  // namespace lirvo::test::wav
