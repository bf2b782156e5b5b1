// Sample layouts the plain header fields do not tell alone: samples in
// containers wider than their depth (the block align says so), and RF64/BW64
// files whose sizes are in the "ds64" chunk.

#include <gtest/gtest.h>

#include "tests/audio/decoders/WavTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;
using namespace lirvo::test::wav;

namespace {

struct ContainerCase {
  const char* name;
  bool extensible;
  uint16_t channels;
  uint16_t bits;       // the record's bits per sample
  uint16_t container;  // bytes of a stored sample (block align / channels)
  uint16_t depth;      // bits of the samples written into each container
  uint32_t expectBits;
};

class WaveContainer : public ::testing::TestWithParam<ContainerCase> {};

// Each container holds a depth-bit value left-justified; the input delivers
// the record's width rounded to whole bytes, taken from the container's top.
TEST_P(WaveContainer, DeliversTheTopBytesOfEachContainer) {
  const ContainerCase& c = GetParam();
  const uint16_t align = static_cast<uint16_t>(c.channels * c.container);
  const size_t frames = 3000;
  Bytes payload, expect;
  const Bytes noise = Pattern(frames * c.channels * 4, 7);
  const uint32_t outBytes = c.expectBits / 8;
  for (size_t i = 0; i < frames * c.channels; ++i) {
    uint64_t v = 0;
    std::memcpy(&v, noise.data() + 4 * i, 4);
    // A depth-bit value, left-justified in the container.
    v = (v >> (32 - c.depth)) << (8 * c.container - c.depth);
    for (int b = 0; b < c.container; ++b)
      payload.push_back(static_cast<uint8_t>(v >> (8 * b)));
    for (uint32_t b = c.container - outBytes; b < c.container; ++b)
      expect.push_back(static_cast<uint8_t>(v >> (8 * b)));
  }
  Bytes fmt = c.extensible ? ExtensibleBody(c.channels, 48000, c.bits, 1)
                           : FmtBody(1, c.channels, 48000, c.bits, align);
  fmt[12] = static_cast<uint8_t>(align);
  fmt[13] = static_cast<uint8_t>(align >> 8);
  Bytes body;
  PutChunk(body, "fmt ", fmt);
  PutChunk(body, "data", payload);
  Decoded d = DecodeBytes(Riff(body), 1000);
  ASSERT_TRUE(d.valid);
  EXPECT_EQ(d.bits, c.expectBits);
  EXPECT_EQ(d.channels, c.channels);
  EXPECT_EQ(d.totalSamples, static_cast<int64_t>(frames));
  ASSERT_EQ(d.pcm.size(), expect.size());
  EXPECT_TRUE(d.pcm == expect);
}

INSTANTIATE_TEST_SUITE_P(
    Widths, WaveContainer,
    ::testing::Values(ContainerCase{"s20_in_32_stereo", false, 2, 20, 4, 20, 24},
                      ContainerCase{"s20_in_32_mono", false, 1, 20, 4, 20, 24},
                      ContainerCase{"s24_in_32_stereo", false, 2, 24, 4, 24, 24},
                      ContainerCase{"s16_in_32_stereo", false, 2, 16, 4, 16, 16},
                      ContainerCase{"s12_in_24_stereo", false, 2, 12, 3, 12, 16},
                      // The rounded width itself: nothing to drop.
                      ContainerCase{"s20_in_24_stereo", false, 2, 20, 3, 20, 24},
                      // Extensible: the record's bits are the container unless the block
                      // align says wider.
                      ContainerCase{"ext_s20_in_32_as_32", true, 2, 32, 4, 20, 32},
                      ContainerCase{"ext_s24_in_32_as_24", true, 2, 24, 4, 24, 24}),
    [](const auto& Info) { return std::string(Info.param.name); });

// Seeking counts stored frames at the container's width.
TEST(WaveContainerSeek, LandsOnTheFrameAskedFor) {
  Bytes payload;
  for (uint32_t i = 0; i < 2000; ++i)
    for (uint32_t ch = 0; ch < 2; ++ch)
      Put32(payload, ((i * 2 + ch) & 0xFFFFF) << 12);
  Bytes body;
  PutChunk(body, "fmt ", FmtBody(1, 2, 48000, 20, 8));
  PutChunk(body, "data", payload);
  TMemoryStream s(Riff(body));
  TWaveIn in;
  in.SetStream(&s);
  in.Init();
  ASSERT_TRUE(in.Seek(1500));
  Bytes got = ReadAll(in);
  in.Flush();
  ASSERT_EQ(got.size(), 500u * 6);
  const uint32_t first = got[0] | (got[1] << 8) | (got[2] << 16);
  EXPECT_EQ(first, (1500u * 2) << 4);
}

struct Rf64Case {
  const char* name;
  const char* codec;
  TWavType type;
};

class WaveRf64 : public ::testing::TestWithParam<Rf64Case> {};

TEST_P(WaveRf64, DecodesLikeItsPlainTwin) {
  REQUIRE_TOOL("ffmpeg");
  const Rf64Case& c = GetParam();
  const std::string dir = ScratchDir(std::string("wav_rf64_") + c.name);
  const std::string plain = dir + "/plain.wav", rf64 = dir + "/rf64.wav";
  ASSERT_TRUE(Ffmpeg(ToneSource(1.3) + " " + c.codec, plain));
  ASSERT_TRUE(Ffmpeg(ToneSource(1.3) + " " + c.codec + " -rf64 always", rf64));
  const Bytes head = ReadFileBytes(rf64);
  ASSERT_GE(head.size(), 4u);
  ASSERT_EQ(std::string(head.begin(), head.begin() + 4), "RF64");
  Decoded want = DecodeFile(plain), got = DecodeFile(rf64);
  ASSERT_TRUE(want.valid);
  ASSERT_TRUE(got.valid);
  EXPECT_EQ(got.type, c.type);
  EXPECT_EQ(got.type, want.type);
  EXPECT_EQ(got.bits, want.bits);
  EXPECT_EQ(got.channels, want.channels);
  EXPECT_EQ(got.rate, want.rate);
  EXPECT_EQ(got.totalSamples, want.totalSamples);
  EXPECT_FALSE(got.pcm.empty());
  EXPECT_TRUE(got.pcm == want.pcm);
}

INSTANTIATE_TEST_SUITE_P(Codecs, WaveRf64,
                         ::testing::Values(Rf64Case{"s16", "-c:a pcm_s16le", wtPCM},
                                           Rf64Case{"s24", "-c:a pcm_s24le", wtExtPCM},
                                           Rf64Case{"f32", "-c:a pcm_f32le", wtExtIEEEFloat},
                                           Rf64Case{"alaw", "-c:a pcm_alaw", wtACM}),
                         [](const auto& Info) { return std::string(Info.param.name); });

// An RF64 or BW64 data chunk of size 0xFFFFFFFF takes its size from "ds64":
// the samples end there even when other chunks follow them.
TEST(WaveRf64, TheDs64SizeEndsTheData) {
  const Bytes payload = Pattern(4 * 1234, 3);
  for (const char* code : {"RF64", "BW64"}) {
    Bytes ds64;
    Put32(ds64, 0);  // RIFF size, low and high
    Put32(ds64, 0);
    Put32(ds64, static_cast<uint32_t>(payload.size()));
    Put32(ds64, 0);
    Put32(ds64, 1234);  // sample count
    Put32(ds64, 0);
    Put32(ds64, 0);  // no table
    Bytes body;
    PutChunk(body, "ds64", ds64);
    PutChunk(body, "fmt ", FmtBody(1, 2, 44100, 16));
    PutCode(body, "data");
    Put32(body, 0xFFFFFFFF);
    body.insert(body.end(), payload.begin(), payload.end());
    PutChunk(body, "LIST", Pattern(300, 9));
    Bytes file = Riff(body, code);
    file[4] = file[5] = file[6] = file[7] = 0xFF;
    Decoded d = DecodeBytes(file);
    ASSERT_TRUE(d.valid) << code;
    EXPECT_EQ(d.totalSamples, 1234) << code;
    EXPECT_TRUE(d.pcm == payload) << code;
  }
}

}  // namespace
