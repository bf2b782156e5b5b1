// The ADPCM decoders: block geometry, the clipping each codec defines, and
// headers whose indexes would reach outside the decoders' tables.

#include <gtest/gtest.h>

#include "audio/decoders/WaveAdpcm.h"
#include "tests/audio/decoders/WavTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;
using namespace lirvo::test::wav;

namespace {

TEST(ImaBlock, FramesPerBlockFollowTheBlockLength) {
  EXPECT_EQ(ImaFramesPerBlock(256, 1), 505u);
  EXPECT_EQ(ImaFramesPerBlock(512, 2), 505u);
  EXPECT_EQ(ImaFramesPerBlock(1024, 2), 1017u);
  EXPECT_EQ(ImaFramesPerBlock(4, 1), 1u);
  EXPECT_EQ(ImaFramesPerBlock(3, 1), 0u);
  EXPECT_EQ(ImaFramesPerBlock(7, 2), 0u);
  EXPECT_EQ(ImaFramesPerBlock(512, 3), 0u);

  for (uint32_t ch : {1u, 2u}) {
    const uint32_t len = 256 * ch;
    Bytes block = Pattern(len, ch);
    block[2] = 10;
    if (ch == 2) block[6] = 20;
    std::vector<int16_t> out(2 * 1024);
    TDVI_ADPCM_STATE_STEREO st;
    EXPECT_EQ(DecodeImaBlock(block.data(), len, ch, out.data(), st), 505);
    EXPECT_EQ(st.index_l, 10);
    EXPECT_EQ(out[0], st.valprev_l);
    if (ch == 2) {
      EXPECT_EQ(st.index_r, 20);
      EXPECT_EQ(out[1], st.valprev_r);
    }
  }
}

// IMA's range is symmetric; Microsoft ADPCM uses the full 16-bit range.
TEST(ImaBlock, ANegativeOverflowClipsToMinus32767) {
  Bytes block = {0x00, 0x83, 88, 0};  // -32000, step index 88
  block.push_back(0xFF);              // two codes of 15: a full negative step each
  std::vector<int16_t> out(3);
  TDVI_ADPCM_STATE_STEREO st;
  ASSERT_EQ(DecodeImaBlock(block.data(), 5, 1, out.data(), st), 3);
  EXPECT_EQ(out[0], -32000);
  EXPECT_EQ(out[1], -32767);
  EXPECT_EQ(out[2], -32767);
}

TEST(MsBlock, ANegativeOverflowReachesMinus32768) {
  TMS_ADPCM_INFO info;
  info.NumCoeff = 1;
  info.CoefSets[0] = {256, 0};
  info.SamplesPerBlock = 4;
  // predictor 0, delta 1000, sample1 -32000, sample2 0, one byte of codes
  Bytes block = {0, 0xE8, 0x03, 0x00, 0x83, 0x00, 0x00, 0x88};
  ASSERT_TRUE(MsBlockHoldsSamples(8, 4, 1));
  std::vector<int16_t> out(4);
  TMSADPCMBlockHeaderStereo st;
  ASSERT_EQ(DecodeMsBlock(block.data(), 1, info, out.data(), st), 8);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], -32000);
  EXPECT_EQ(out[2], -32768);
}

TEST(MsBlock, GeometryMustHoldTheSamplesAsked) {
  EXPECT_TRUE(MsBlockHoldsSamples(256, 500, 1));
  EXPECT_FALSE(MsBlockHoldsSamples(256, 502, 1));
  EXPECT_TRUE(MsBlockHoldsSamples(512, 500, 2));
  EXPECT_FALSE(MsBlockHoldsSamples(512, 501, 2));
  EXPECT_FALSE(MsBlockHoldsSamples(6, 2, 1));
  EXPECT_FALSE(MsBlockHoldsSamples(256, 1, 1));
  EXPECT_FALSE(MsBlockHoldsSamples(256, 100, 3));
}

TEST(AdpcmHeaders, IndexesOutsideTheTablesAreRefused) {
  std::vector<int16_t> out(2048);
  TDVI_ADPCM_STATE_STEREO ist;
  Bytes ima(512, 0);
  ima[2] = 89;
  EXPECT_EQ(DecodeImaBlock(ima.data(), 256, 1, out.data(), ist), -1);
  ima[2] = 88;
  ima[6] = 200;
  EXPECT_EQ(DecodeImaBlock(ima.data(), 512, 2, out.data(), ist), -1);

  TMS_ADPCM_INFO info;
  info.NumCoeff = 7;
  info.SamplesPerBlock = 500;
  TMSADPCMBlockHeaderStereo mst;
  Bytes ms(512, 0);
  ms[0] = 7;
  EXPECT_EQ(DecodeMsBlock(ms.data(), 1, info, out.data(), mst), -1);
  ms[0] = 6;
  ms[1] = 255;
  EXPECT_EQ(DecodeMsBlock(ms.data(), 2, info, out.data(), mst), -1);
}

// Whole files: a bad first block header makes the file invalid; one further
// on ends the data there.
Bytes ImaFile(uint16_t Channels, uint16_t BlockLength, const std::vector<Bytes>& Blocks,
              uint32_t Frames) {
  Bytes fmt = FmtBody(0x11, Channels, 8000, 4, BlockLength);
  Put16(fmt, 2);
  Put16(fmt, static_cast<uint16_t>(ImaFramesPerBlock(BlockLength, Channels)));
  Bytes data;
  for (const Bytes& b : Blocks)
    data.insert(data.end(), b.begin(), b.end());
  Bytes fact;
  Put32(fact, Frames);
  Bytes body;
  PutChunk(body, "fmt ", fmt);
  PutChunk(body, "fact", fact);
  PutChunk(body, "data", data);
  return Riff(body);
}

Bytes MsFile(uint16_t NumCoeff, const Bytes& FirstPredictors, uint32_t Blocks) {
  const uint16_t len = 256;
  const uint16_t spb = 2 + (len - 7) * 2;
  Bytes fmt = FmtBody(2, 1, 8000, 4, len);
  Put16(fmt, static_cast<uint16_t>(4 + 4 * NumCoeff));
  Put16(fmt, spb);
  Put16(fmt, NumCoeff);
  for (int i = 0; i < NumCoeff; ++i) {
    Put16(fmt, 256);
    Put16(fmt, 0);
  }
  Bytes data;
  for (uint32_t b = 0; b < Blocks; ++b) {
    Bytes block = Pattern(len, b + 1);
    block[0] = b < FirstPredictors.size() ? FirstPredictors[b] : 0;
    block[1] = 16;  // delta
    block[2] = 0;
    data.insert(data.end(), block.begin(), block.end());
  }
  Bytes fact;
  Put32(fact, spb * Blocks);
  Bytes body;
  PutChunk(body, "fmt ", fmt);
  PutChunk(body, "fact", fact);
  PutChunk(body, "data", data);
  return Riff(body);
}

Bytes ImaBlock(uint16_t Length, uint8_t Index, uint32_t Seed) {
  Bytes b = Pattern(Length, Seed);
  b[2] = Index;
  b[3] = 0;
  return b;
}

TEST(AdpcmFiles, StepIndexAbove88) {
  Decoded first = DecodeBytes(ImaFile(1, 256, {ImaBlock(256, 89, 1), ImaBlock(256, 3, 2)}, 1010));
  EXPECT_FALSE(first.valid);
  EXPECT_TRUE(first.pcm.empty());

  Decoded later = DecodeBytes(ImaFile(1, 256, {ImaBlock(256, 3, 1), ImaBlock(256, 89, 2)}, 1010));
  EXPECT_TRUE(later.valid);
  EXPECT_EQ(later.pcm.size(), 505u * 2);
}

TEST(AdpcmFiles, PredictorIndexAtOrAboveNumCoeff) {
  EXPECT_FALSE(DecodeBytes(MsFile(7, {7}, 2)).valid);
  EXPECT_FALSE(DecodeBytes(MsFile(3, {5}, 2)).valid);
  Decoded later = DecodeBytes(MsFile(7, {6, 7}, 3));
  EXPECT_TRUE(later.valid);
  EXPECT_EQ(later.pcm.size(), 500u * 2);
}

TEST(AdpcmFiles, MoreThan32CoefficientPairs) {
  EXPECT_TRUE(DecodeBytes(MsFile(32, {31}, 1)).valid);
  EXPECT_FALSE(DecodeBytes(MsFile(33, {0}, 1)).valid);
}

// Frames of the last block beyond the "fact" count are not delivered.
TEST(AdpcmFiles, FactChunkLimitsTheFrames) {
  Decoded d = DecodeBytes(ImaFile(2, 512, {ImaBlock(512, 5, 1), ImaBlock(512, 5, 2)}, 700));
  ASSERT_TRUE(d.valid);
  EXPECT_EQ(d.bits, 16u);
  EXPECT_EQ(d.totalSamples, 700);
  EXPECT_EQ(d.pcm.size(), 700u * 4);
}

// A file cut inside a block decodes the missing bytes as 0 instead of
// whatever the buffer held before.
TEST(AdpcmFiles, ATruncatedLastBlockDecodesDeterministically) {
  Bytes file = ImaFile(1, 256, {ImaBlock(256, 5, 1), ImaBlock(256, 5, 2)}, 1010);
  file.erase(file.end() - 100, file.end());
  Decoded a = DecodeBytes(file);
  // Fill the shared buffer with something else in between.
  DecodeBytes(ImaFile(1, 256, {ImaBlock(256, 7, 9), ImaBlock(256, 7, 8)}, 1010));
  Decoded b = DecodeBytes(file);
  ASSERT_TRUE(a.valid);
  EXPECT_EQ(a.pcm.size(), 1010u * 2);
  EXPECT_TRUE(a.pcm == b.pcm);
}

}  // namespace
