// The FLAC input delivers exactly what the reference decoder produces, for
// the shared fixtures and for generated files of every width, and reports
// the format and length the file holds.

#include <gtest/gtest.h>

#include <cmath>

#include "audio/core/Stream.h"
#include "audio/decoders/AudioFLAC.h"
#include "common/TestPaths.h"
#include "tests/audio/decoders/FlacTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;

namespace {

std::string TestScratch() {
  return ScratchDir(std::string("flac-") +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
}

struct TFixtureCase {
  const char* File;
  int64_t Frames;
  const char* Md5;  // of the whole stream as s16le
};

const TFixtureCase kFixtures[] = {
    {"audio/sinewave.flac", 156556, "cfe3d9dabadeab2cbf2ca235274b7f76"},
    {"audio/no-tags.flac", 162496, "a1b141f766e9849ac3db1030a20a3c77"},
    {"audio/multiple-vc.flac", 162496, "a1b141f766e9849ac3db1030a20a3c77"},
    {"audio/silence-44-s.flac", 162496, "6291dbd8dcb7dc480132e4c4ba154a17"},
};

class FlacFixtureDecode : public ::testing::TestWithParam<TFixtureCase> {};

TEST_P(FlacFixtureDecode, DeliversTheReferenceDecodersBytesAndTheListedMd5) {
  const TFixtureCase& c = GetParam();
  const std::string path = FixturePath(c.File);
  ASSERT_TRUE(HaveTool("flac")) << "the flac tool is needed to check the decoder";
  const Bytes ref = ReferenceDecode(path);
  ASSERT_EQ(ref.size(), static_cast<size_t>(c.Frames) * 4);

  TFLACIn in;
  in.SetFileName(path);
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.BitsPerSample(), 16u);
  EXPECT_EQ(in.Channels(), 2u);
  EXPECT_EQ(in.SampleRate(), 44100u);
  EXPECT_EQ(in.TotalSamples(), c.Frames);
  EXPECT_EQ(in.TotalTime(), static_cast<uint32_t>(std::llround(c.Frames / 44100.0)));
  in.Init();
  bool hung = false;
  const Bytes got = ReadAll(in, 10000, 200000, &hung);
  in.Flush();
  EXPECT_FALSE(hung);
  EXPECT_TRUE(got == ref) << "decoded " << got.size() << " bytes, reference " << ref.size();
  EXPECT_EQ(Md5(got), c.Md5);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FlacFixtureDecode, ::testing::ValuesIn(kFixtures),
                         [](const auto& Info) {
                           std::string n = Info.param.File + 6;  // past "audio/"
                           for (char& ch : n)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

struct TGenCase {
  const char* Name;
  TGenSpec Spec;
  uint32_t ReportedBits;
};

const TGenCase kGenerated[] = {
    {"s16_44k_stereo", {44100, 2, 16, 2.0}, 16},
    {"s16_44k_mono", {44100, 1, 16, 2.0}, 16},
    {"s16_96k_stereo", {96000, 2, 16, 1.5}, 16},
    {"s24_44k_stereo", {44100, 2, 24, 2.0}, 24},
    {"s24_96k_mono", {96000, 1, 24, 1.5}, 24},
    {"s24_96k_stereo", {96000, 2, 24, 1.5}, 24},
    {"u8_44k_stereo", {44100, 2, 8, 2.0}, 8},
    {"u8_8k_mono", {8000, 1, 8, 2.0}, 8},
    {"s12_44k_stereo", {44100, 2, 12, 2.0}, 16},
    {"s20_96k_stereo", {96000, 2, 20, 1.5}, 24},
    {"s20_48k_mono", {48000, 1, 20, 2.0}, 24},
    {"s32_48k_stereo", {48000, 2, 32, 1.0}, 32},
    {"s24_48k_3ch", {48000, 3, 24, 1.0}, 24},
    {"s16_44k_blocks1152", {44100, 2, 16, 2.0, 1152}, 16},
};

class FlacGeneratedDecode : public ::testing::TestWithParam<TGenCase> {};

// Catches wrong interleaving, byte order, width handling (8-bit sign,
// left-justification of 12 and 20 bits) and lost or repeated frames.
TEST_P(FlacGeneratedDecode, MatchesTheReferenceDecoderAndReportsTheOutputWidth) {
  const TGenCase& c = GetParam();
  const std::string path = MakeFlac(TestScratch(), c.Name, c.Spec);
  ASSERT_FALSE(path.empty());
  const Bytes ref = ReferenceDecode(path);
  ASSERT_FALSE(ref.empty());
  const uint32_t frameBytes = c.ReportedBits / 8 * c.Spec.Channels;
  const int64_t frames = static_cast<int64_t>(ref.size() / frameBytes);
  ASSERT_EQ(frames, static_cast<int64_t>(c.Spec.Rate * c.Spec.Seconds));

  TFLACIn in;
  in.SetFileName(path);
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.BitsPerSample(), c.ReportedBits);
  EXPECT_EQ(in.Channels(), c.Spec.Channels);
  EXPECT_EQ(in.SampleRate(), c.Spec.Rate);
  EXPECT_EQ(in.TotalSamples(), frames);
  EXPECT_EQ(in.TotalTime(), static_cast<uint32_t>(std::llround(c.Spec.Seconds)));
  in.Init();
  const Bytes got = ReadAll(in, 9999);
  in.Flush();
  ASSERT_EQ(got.size(), ref.size());
  EXPECT_TRUE(got == ref);
}

INSTANTIATE_TEST_SUITE_P(Widths, FlacGeneratedDecode, ::testing::ValuesIn(kGenerated),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// A frame's whole PCM is handed out at once when the caller asks enough:
// catches a decoder that copies or splits blocks needlessly.
TEST(FlacDecode, HandsOutOneWholeBlockPerRefill) {
  TFLACIn in;
  in.SetFileName(FixturePath("audio/sinewave.flac"));
  in.Init();
  uint8_t* p = nullptr;
  uint32_t n = 1 << 20;
  in.GetData(p, n);
  EXPECT_EQ(n, 4096u * 4);
  in.Flush();
}

// A stream assigned from outside is read through the same callbacks, left
// open and rewound when the input closes.
TEST(FlacDecode, DecodesAnAssignedStreamAndRewindsItWhenClosed) {
  const std::string path = FixturePath("audio/sinewave.flac");
  TMemoryStream stream(ReadFileBytes(path));
  TFLACIn in;
  in.SetStream(&stream);
  ASSERT_TRUE(in.Valid());
  in.Init();
  const Bytes got = ReadAll(in, 10000);
  in.Flush();
  EXPECT_EQ(Md5(got), "cfe3d9dabadeab2cbf2ca235274b7f76");
  EXPECT_EQ(stream.Position(), 0);
}

// STREAMINFO with 0 total frames (as a streaming encoder writes it): the
// length is unknown, and the input must still end at the end of the audio
// rather than repeat its last frame.
TEST(FlacDecode, UnknownLengthDecodesToTheEndAndCannotSeek) {
  const std::string dir = TestScratch();
  const std::string path = MakeFlac(dir, "unknown", {44100, 2, 16, 1.0});
  ASSERT_FALSE(path.empty());
  const Bytes ref = ReferenceDecode(path);
  Bytes file = ReadFileBytes(path);
  // Total samples: the low 4 bits of byte 21 and bytes 22..25.
  file[21] &= 0xF0;
  file[22] = file[23] = file[24] = file[25] = 0;
  const std::string patched = dir + "/unknown-total.flac";
  WriteFileBytes(patched, file);

  TFLACIn in;
  in.SetFileName(patched);
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.TotalTime(), 0u);
  EXPECT_LE(in.TotalSamples(), 0);
  in.Init();
  // The failed seek resets the decoder to the start of the stream, from
  // where it reads the metadata again and then the whole audio.
  EXPECT_FALSE(in.Seek(1000));
  bool hung = false;
  const Bytes got = ReadAll(in, 10000, 10000, &hung);
  EXPECT_FALSE(hung);
  EXPECT_TRUE(got == ref) << got.size() << " vs " << ref.size();
  in.Flush();
}

TEST(FlacDecode, OpeningAMissingFileRaisesTheSystemsText) {
  TFLACIn in;
  in.SetFileName("/nonexistent/dir/x.flac");
  try {
    in.OpenFile();
    FAIL() << "no exception";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "No such file or directory");
  }
  in.CloseFile();
  EXPECT_FALSE(in.Valid());
}

TEST(FlacDecode, NoFileNameAndNoStreamRaisesFileNameNotAssigned) {
  TFLACIn in;
  try {
    in.OpenFile();
    FAIL() << "no exception";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "File name is not assigned");
  }
  in.CloseFile();
}

}  // namespace
