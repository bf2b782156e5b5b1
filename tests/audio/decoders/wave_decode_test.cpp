// Every kind of WAV payload decodes to exactly the samples the reference
// decoder (ffmpeg) gives for the same sample format: the shared fixtures and
// files the test makes with ffmpeg.

#include <gtest/gtest.h>

#include <bit>
#include <limits>

#include "audio/processors/AudioConverters.h"
#include "tests/audio/decoders/WavTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;
using namespace lirvo::test::wav;

namespace {

// How our output relates to ffmpeg's: the same bytes of a raw format, or
// ffmpeg's floats put through the float rule.
enum class Ref { Raw, Float32, Float64, Sox };

struct FixtureCase {
  const char* file;
  TWavType type;
  uint32_t bits, channels, rate;
  const char* ffmpegFormat;
  Ref ref;
  // The 16-bit md5 the fixtures' README gives (its s16 decode), where our
  // output is 16-bit.
  const char* s16md5;
  size_t s16bytes;
};

class FixtureDecode : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(FixtureDecode, DeliversExactlyTheReferenceSamples) {
  REQUIRE_TOOL("ffmpeg");
  const FixtureCase& c = GetParam();
  const std::string path = FixturePath(std::string("audio/") + c.file);
  Decoded d = DecodeFile(path);
  ASSERT_TRUE(d.valid);
  EXPECT_EQ(d.type, c.type);
  EXPECT_EQ(d.bits, c.bits);
  EXPECT_EQ(d.channels, c.channels);
  EXPECT_EQ(d.rate, c.rate);
  Bytes ref = FfmpegDecode(path, c.ffmpegFormat);
  ASSERT_FALSE(ref.empty());
  if (c.ref == Ref::Float64) ref = FloatsToInt32(ref, 8);
  if (c.ref == Ref::Float32) ref = FloatsToInt32(ref, 4);
  EXPECT_EQ(d.pcm.size(), ref.size());
  EXPECT_TRUE(d.pcm == ref) << "samples differ from ffmpeg's";
  const int64_t frame = c.channels * c.bits / 8;
  EXPECT_EQ(d.totalSamples, static_cast<int64_t>(ref.size()) / frame);
  if (c.s16md5) {
    EXPECT_EQ(d.pcm.size(), c.s16bytes);
    EXPECT_EQ(Md5(d.pcm), c.s16md5);
  }
}

INSTANTIATE_TEST_SUITE_P(
    SharedFixtures, FixtureDecode,
    ::testing::Values(
        // A-law goes through the conversion to 16-bit PCM.
        FixtureCase{"alaw.wav", wtACM, 16, 2, 8000, "s16le", Ref::Raw,
                    "7abd59fdeb713142c70e17531fb66c02", 113600},
        FixtureCase{"float64.wav", wtIEEEFloat, 32, 2, 44100, "f64le", Ref::Float64, nullptr, 0},
        // Extensible, 8-bit: delivered unsigned, as stored.
        FixtureCase{"uint8we.wav", wtExtPCM, 8, 2, 8000, "u8", Ref::Raw, nullptr, 0},
        FixtureCase{"pcm_with_fact_chunk.wav", wtPCM, 16, 2, 1000, "s16le", Ref::Raw,
                    "2ea0da50e40096bb4c74b91b45774c2b", 14700}),
    [](const auto& Info) {
      std::string n = Info.param.file;
      for (auto& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

// Files made with ffmpeg from one test signal.
struct GeneratedCase {
  const char* name;
  const char* codecArgs;  // ffmpeg output options
  TWavType type;
  uint32_t bits, channels, rate;
  const char* ffmpegFormat;
  Ref ref;
  // ADPCM: the fact chunk counts the frames; ffmpeg may decode the padding
  // of the last block beyond them. Our output must be that prefix.
  bool prefixOfReference;
};

class GeneratedDecode : public ::testing::TestWithParam<GeneratedCase> {
 protected:
  static std::string dir;
  static void SetUpTestSuite() { dir = ScratchDir("wav_generated"); }
};
std::string GeneratedDecode::dir;

TEST_P(GeneratedDecode, DeliversExactlyTheReferenceSamples) {
  REQUIRE_TOOL("ffmpeg");
  const GeneratedCase& c = GetParam();
  const std::string path = dir + "/" + c.name + ".wav";
  ASSERT_TRUE(Ffmpeg(ToneSource(1.3) + " " + c.codecArgs, path)) << c.codecArgs;
  Decoded d = DecodeFile(path, 5000);
  ASSERT_TRUE(d.valid);
  EXPECT_EQ(d.type, c.type);
  EXPECT_EQ(d.bits, c.bits);
  EXPECT_EQ(d.channels, c.channels);
  EXPECT_EQ(d.rate, c.rate);
  if (c.ref == Ref::Sox) {
    REQUIRE_TOOL("sox");
  }
  Bytes ref = c.ref == Ref::Sox ? SoxDecodeS16(path) : FfmpegDecode(path, c.ffmpegFormat);
  if (c.ref == Ref::Float64) ref = FloatsToInt32(ref, 8);
  if (c.ref == Ref::Float32) ref = FloatsToInt32(ref, 4);
  ASSERT_FALSE(ref.empty());
  const int64_t frame = c.channels * c.bits / 8;
  if (c.prefixOfReference) {
    ASSERT_LE(d.pcm.size(), ref.size());
    ASSERT_GE(d.pcm.size(), static_cast<size_t>(1.3 * c.rate) * frame);
    ref.resize(d.pcm.size());
  }
  EXPECT_EQ(d.pcm.size(), ref.size());
  EXPECT_TRUE(d.pcm == ref) << "samples differ from the reference decoder's";
  EXPECT_EQ(d.totalSamples * frame, static_cast<int64_t>(d.pcm.size()));
  EXPECT_EQ(d.totalTime, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, GeneratedDecode,
    ::testing::Values(
        GeneratedCase{"u8", "-c:a pcm_u8", wtPCM, 8, 2, 44100, "u8", Ref::Raw, false},
        GeneratedCase{"s16", "-c:a pcm_s16le", wtPCM, 16, 2, 44100, "s16le", Ref::Raw, false},
        GeneratedCase{"s16_mono", "-ac 1 -c:a pcm_s16le", wtPCM, 16, 1, 44100, "s16le", Ref::Raw,
                      false},
        // ffmpeg writes the extensible record for more than 16 bits.
        GeneratedCase{"s24_ext", "-c:a pcm_s24le", wtExtPCM, 24, 2, 44100, "s24le", Ref::Raw,
                      false},
        GeneratedCase{"s32_ext", "-c:a pcm_s32le", wtExtPCM, 32, 2, 44100, "s32le", Ref::Raw,
                      false},
        GeneratedCase{"f32_ext", "-c:a pcm_f32le", wtExtIEEEFloat, 32, 2, 44100, "f32le",
                      Ref::Float32, false},
        GeneratedCase{"f64_ext", "-c:a pcm_f64le", wtExtIEEEFloat, 32, 2, 44100, "f64le",
                      Ref::Float64, false},
        // IMA is checked against sox (see SoxDecodeS16).
        GeneratedCase{"ima_stereo", "-c:a adpcm_ima_wav", wtDVIADPCM, 16, 2, 44100, "s16le",
                      Ref::Sox, true},
        GeneratedCase{"ima_mono_256", "-ac 1 -c:a adpcm_ima_wav -block_size 256", wtDVIADPCM, 16, 1,
                      44100, "s16le", Ref::Sox, true},
        GeneratedCase{"ms_stereo", "-c:a adpcm_ms", wtMSADPCM, 16, 2, 44100, "s16le", Ref::Raw,
                      true},
        GeneratedCase{"ms_mono", "-ac 1 -c:a adpcm_ms -block_size 512", wtMSADPCM, 16, 1, 44100,
                      "s16le", Ref::Raw, true},
        // Payloads only FFmpeg decodes: converted to PCM when opened.
        GeneratedCase{"mulaw", "-c:a pcm_mulaw", wtACM, 16, 2, 44100, "s16le", Ref::Raw, false},
        GeneratedCase{"gsm_ms", "-ac 1 -ar 8000 -c:a libgsm_ms", wtACM, 16, 1, 8000, "s16le",
                      Ref::Raw, false},
        GeneratedCase{"mp3", "-c:a libmp3lame -b:a 128k", wtACM, 16, 2, 44100, "s16le", Ref::Raw,
                      false}),
    [](const auto& Info) { return std::string(Info.param.name); });

// Plain (non-extensible) records for widths ffmpeg would write as
// extensible: the same samples wrapped by hand.
struct PlainCase {
  const char* name;
  uint16_t tag;
  uint16_t storedBits;
  const char* rawFormat;
  Ref ref;
  TWavType type;
  uint32_t bits;
};

class PlainRecordDecode : public ::testing::TestWithParam<PlainCase> {};

TEST_P(PlainRecordDecode, DeliversTheStoredSamples) {
  REQUIRE_TOOL("ffmpeg");
  const PlainCase& c = GetParam();
  const std::string dir = ScratchDir(std::string("wav_plain_") + c.name);
  const std::string raw = dir + "/tone.raw";
  ASSERT_TRUE(Ffmpeg(ToneSource(0.7, 48000) + " -f " + c.rawFormat, raw));
  Bytes payload = ReadFileBytes(raw);
  Bytes body;
  PutChunk(body, "fmt ", FmtBody(c.tag, 2, 48000, c.storedBits));
  PutChunk(body, "data", payload);
  Decoded d = DecodeBytes(Riff(body));
  ASSERT_TRUE(d.valid);
  EXPECT_EQ(d.type, c.type);
  EXPECT_EQ(d.bits, c.bits);
  Bytes ref = payload;
  if (c.ref == Ref::Float32) ref = FloatsToInt32(payload, 4);
  if (c.ref == Ref::Float64) ref = FloatsToInt32(payload, 8);
  EXPECT_TRUE(d.pcm == ref);
  EXPECT_EQ(d.totalSamples, static_cast<int64_t>(payload.size() / (2 * c.storedBits / 8)));
}

INSTANTIATE_TEST_SUITE_P(
    Widths, PlainRecordDecode,
    ::testing::Values(PlainCase{"s24", 1, 24, "s24le", Ref::Raw, wtPCM, 24},
                      PlainCase{"s32", 1, 32, "s32le", Ref::Raw, wtPCM, 32},
                      PlainCase{"f32", 3, 32, "f32le", Ref::Float32, wtIEEEFloat, 32},
                      PlainCase{"f64", 3, 64, "f64le", Ref::Float64, wtIEEEFloat, 32}),
    [](const auto& Info) { return std::string(Info.param.name); });

// The float rule at and beyond full scale, for both widths.
TEST(WaveFloat, FullScaleAndBeyondClipToTheIntegerLimits) {
  const double values[] = {1.0, 1.5, -1.0, -2.0, 0.0, 0.5, -0.5, 1e-12, -1e-12};
  Bytes d64, d32;
  for (double v : values) {
    uint64_t b;
    std::memcpy(&b, &v, 8);
    Put32(d64, static_cast<uint32_t>(b));
    Put32(d64, static_cast<uint32_t>(b >> 32));
    float f = static_cast<float>(v);
    uint32_t fb;
    std::memcpy(&fb, &f, 4);
    Put32(d32, fb);
  }
  const int32_t expect[] = {
      2147483647, 2147483647, -2147483647 - 1, -2147483647 - 1, 0, 1073741823, -1073741824, 0, -1};
  for (int width : {32, 64}) {
    Bytes body;
    PutChunk(body, "fmt ", FmtBody(3, 1, 8000, static_cast<uint16_t>(width)));
    PutChunk(body, "data", width == 64 ? d64 : d32);
    Decoded d = DecodeBytes(Riff(body));
    ASSERT_TRUE(d.valid);
    EXPECT_EQ(d.bits, 32u);
    EXPECT_EQ(d.totalSamples, 9);
    ASSERT_EQ(d.pcm.size(), 9u * 4);
    for (int i = 0; i < 9; ++i) {
      int32_t got;
      std::memcpy(&got, d.pcm.data() + 4 * i, 4);
      EXPECT_EQ(got, expect[i]) << "width " << width << " value " << values[i];
    }
  }
}

// A float file with broken samples, played the way the direct engine plays
// it (decoder, then the converter to 32-bit stereo): NaN is silence, the
// infinities clip to full scale, for both widths.
TEST(WaveFloat, NaNIsSilenceAndInfinitiesClipThroughTheConverter) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const double values[] = {nan, -nan, inf, -inf, 0.25, nan};
  const int32_t expect[] = {0, 0, 2147483647, -2147483647 - 1, 536870911, 0};
  const std::string dir = ScratchDir("wave_float_nan");
  for (int width : {32, 64}) {
    SCOPED_TRACE("width " + std::to_string(width));
    Bytes data;
    for (double v : values) {
      if (width == 64) {
        uint64_t b = std::bit_cast<uint64_t>(v);
        Put32(data, static_cast<uint32_t>(b));
        Put32(data, static_cast<uint32_t>(b >> 32));
      } else {
        Put32(data, std::bit_cast<uint32_t>(static_cast<float>(v)));
      }
    }
    Bytes body;
    PutChunk(body, "fmt ", FmtBody(3, 1, 8000, static_cast<uint16_t>(width)));
    PutChunk(body, "data", data);
    const std::string path = dir + "/nan" + std::to_string(width) + ".wav";
    WriteFileBytes(path, Riff(body));

    TWaveIn in;
    in.SetFileName(path);
    TAudioConverter conv;
    conv.SetOutBitsPerSample(32);
    conv.SetOutChannels(2);
    conv.SetInput(&in);
    conv.Init();
    const Bytes out = ReadAll(conv);
    conv.Flush();
    ASSERT_EQ(out.size(), 6u * 8);
    for (int i = 0; i < 6; ++i) {
      for (int ch = 0; ch < 2; ++ch) {
        int32_t got;
        std::memcpy(&got, out.data() + 8 * i + 4 * ch, 4);
        EXPECT_EQ(got, expect[i]) << "sample " << i << " channel " << ch;
      }
    }
  }
}

TEST(WaveDuration, TotalTimeIsTheRoundedLengthOfTheFile) {
  struct Case {
    uint32_t frames;
    uint32_t expectSeconds;
  } cases[] = {{8000 * 2, 2}, {8000 * 5 / 2, 3}, {8000 * 5 / 2 - 1, 2}, {3000, 0}, {4000, 1}};
  for (const Case& c : cases) {
    Bytes body;
    PutChunk(body, "fmt ", FmtBody(1, 1, 8000, 16));
    PutChunk(body, "data", Pattern(c.frames * 2));
    TMemoryStream s(Riff(body));
    TWaveIn in;
    in.SetStream(&s);
    EXPECT_EQ(in.TotalTime(), c.expectSeconds) << c.frames;
    EXPECT_EQ(in.TotalSamples(), c.frames);
  }
}

// A request that is not a whole number of frames delivers whole frames only.
TEST(WaveRead, RequestsAreCutToWholeFrames) {
  Bytes body;
  PutChunk(body, "fmt ", FmtBody(1, 2, 44100, 24));
  PutChunk(body, "data", Pattern(6 * 1000));
  TMemoryStream s(Riff(body));
  TWaveIn in;
  in.SetStream(&s);
  in.Init();
  uint8_t* p = nullptr;
  uint32_t n = 1000;
  in.GetData(p, n);
  EXPECT_EQ(n, 996u);
  in.Flush();
}

TEST(WaveRead, ReadingOutsideInitRaises) {
  struct Probe : TWaveIn {
    void Read() {
      uint8_t* p;
      uint32_t n = 16;
      GetDataInternal(p, n);
    }
  } in;
  try {
    in.Read();
    FAIL() << "no exception";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "The Stream is not opened");
  }
}

// The converted image replaces the file while open and the file comes back
// at close: an assigned stream is rewound and stays usable.
TEST(WaveConverted, AssignedStreamIsRestoredAndRewoundAtClose) {
  Bytes file = ReadFileBytes(FixturePath("audio/alaw.wav"));
  TMemoryStream s(file.data(), file.size());
  TWaveIn in;
  in.SetStream(&s);
  ASSERT_EQ(in.WavType(), wtACM);
  in.Init();
  Bytes first = ReadAll(in);
  in.Flush();
  EXPECT_EQ(in.Stream(), &s);
  EXPECT_EQ(s.Position(), 0);
  in.Init();
  Bytes second = ReadAll(in);
  in.Flush();
  EXPECT_EQ(first.size(), 113600u);
  EXPECT_TRUE(first == second);
}

}  // namespace
