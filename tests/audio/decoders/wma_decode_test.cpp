// The WMA/MP3 input's PCM: exactly the reference decoder's output in every
// offered format, whatever the read sizes; durations as the header gives
// them; seeks that land on the frame asked for.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "audio/decoders/AudioWinMedia.h"
#include "common/TestPaths.h"
#include "tests/audio/decoders/wma_test_tools.h"

using namespace lirvo;
using namespace lirvo::test;

namespace {

struct FileCase {
  const char* Name;  // fixture under audio/, or "gen:mp3" / "gen:mp3vbr" / "gen:mp3low" / "gen:wma"
  int DefaultBits;   // the integer decoder's width, or 32 for float decoders
  const char* Md5S16;  // the fixtures README's PCM md5, "" when not listed
};
// Test names show the case, not its bytes.
void PrintTo(const FileCase& C, std::ostream* Os) {
  *Os << C.Name;
}

std::string PathOf(const std::string& Name) {
  const Generated& g = GeneratedFiles();
  if (Name == "gen:mp3") return g.Mp3;
  if (Name == "gen:mp3vbr") return g.Mp3Vbr;
  if (Name == "gen:mp3low") return g.Mp3Low;
  if (Name == "gen:wma") return g.Wma;
  return FixturePath("audio/" + Name);
}

std::string CaseName(const ::testing::TestParamInfo<FileCase>& i) {
  std::string n = i.param.Name;
  for (char& c : n)
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  return n;
}

int FormatIndexOfBits(TWMIn& In, int Bits) {
  for (int i = 0; i < In.FormatsCount(); ++i)
    if (In.FormatSpec(i).BitsPerSample == Bits) return i;
  return -1;
}

// The format survives only while the file stays open (Flush closes it), so
// it is selected again before each run.
void InitWithBits(TWMIn& In, int Bits) {
  In.SetFormatSelected(FormatIndexOfBits(In, Bits));
  ASSERT_EQ(static_cast<int>(In.BitsPerSample()), Bits);
  In.Init();
}

const FileCase kFiles[] = {
    {"lossless.wma", 16, "cfe3d9dabadeab2cbf2ca235274b7f76"},
    {"silence-1.wma", 32, "1e48376f547687e63509ad4042a0e884"},
    {"xing.mp3", 32, "66f9f6bded166e5b32377acaa36da96c"},
    {"ape-id3v1.mp3", 32, "66f9f6bded166e5b32377acaa36da96c"},
    {"duplicate_id3v2.mp3", 32, "bc2432b0c085142ad707ed2ef20d3d0f"},
    {"id3v22-tda.mp3", 32, "e89ac154ba3d34a71605f9651f3fb7c6"},
    {"lame_cbr.mp3", 32, "eab0065d3a4eaad1d2f9ebdd4df76d81"},
    {"lame_vbr.mp3", 32, "2e35d2ea0f65a061b3e29c869e1d3026"},
    {"rare_frames.mp3", 32, "9a1f4ac93b8273cb1b091d003a03c429"},
    {"gen:mp3", 32, ""},
    {"gen:mp3vbr", 32, ""},
    {"gen:wma", 32, ""},
};

class WmaFiles : public ::testing::TestWithParam<FileCase> {
 protected:
  void SetUp() override {
    REQUIRE_TOOL("ffmpeg");
    REQUIRE_TOOL("ffprobe");
    ASSERT_TRUE(GeneratedFiles().Ok);
  }
};

TEST_P(WmaFiles, EveryOfferedFormatDecodesToTheReferenceOutput) {
  const FileCase& c = GetParam();
  const std::string path = PathOf(c.Name);
  TWMIn in;
  in.SetFileName(path);
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(static_cast<int>(in.BitsPerSample()), c.DefaultBits)
      << "the highest width at the native rate and channels is chosen";
  const std::vector<uint8_t> def = DecodeAll(in, 7000);
  EXPECT_EQ(def, FfmpegPcm(path, c.DefaultBits)) << "default format";

  for (int bits : {16, 24, 32}) {
    const int index = FormatIndexOfBits(in, bits);
    if (c.DefaultBits != 32) {
      EXPECT_EQ(index, bits == c.DefaultBits ? 0 : -1) << "an integer decoder offers its own width";
      if (index < 0) continue;
    }
    ASSERT_GE(index, 0) << bits;
    in.SetFormatSelected(index);
    EXPECT_EQ(in.FormatSelected(), index);
    ASSERT_EQ(static_cast<int>(in.BitsPerSample()), bits);
    const std::vector<uint8_t> pcm = DecodeAll(in, bits == 24 ? 6000 : 4096);
    EXPECT_EQ(pcm, FfmpegPcm(path, bits)) << bits << "-bit";
    if (bits == 16 && *c.Md5S16) {
      EXPECT_EQ(Md5(pcm), c.Md5S16);
    }
  }
}

TEST_P(WmaFiles, DurationComesFromTheHeaderInHundredthsOfASecond) {
  const FileCase& c = GetParam();
  const std::string path = PathOf(c.Name);
  TWMIn in;
  in.SetFileName(path);
  ASSERT_TRUE(in.Valid());
  const int64_t us = FfprobeDurationMicros(path);
  ASSERT_GT(us, 0);
  // Hundredths, rounded to the nearest with ties to even.
  const int64_t cs = static_cast<int64_t>(std::nearbyint(us / 10000.0));
  const int64_t rate = in.SampleRate();
  EXPECT_EQ(rate, std::stoll(Ffprobe(path, "stream=sample_rate")));
  EXPECT_EQ(in.TotalSamples(), cs * rate / 100);
  EXPECT_EQ(in.TotalTime(),
            static_cast<uint32_t>(std::llround(static_cast<double>(cs * rate / 100) / rate)));
  EXPECT_EQ(in.Size(), (cs * rate / 100) * in.Channels() * in.BitsPerSample() / 8);
}

TEST_P(WmaFiles, ReadsOfAnySizeGiveTheSameStream) {
  const FileCase& c = GetParam();
  TWMIn in;
  in.SetFileName(PathOf(c.Name));
  const std::vector<uint8_t> big = DecodeAll(in, 1 << 20);
  const uint32_t frame = in.Channels() * in.BitsPerSample() / 8;
  EXPECT_EQ(DecodeAll(in, frame), big) << "one frame at a time";
  EXPECT_EQ(DecodeAll(in, frame * 333), big);
}

INSTANTIATE_TEST_SUITE_P(Files, WmaFiles, ::testing::ValuesIn(kFiles), CaseName);

TEST(WmaInput, TheWholeDecodeIsDeliveredEvenWhenTheHeaderLengthIsShorter) {
  // 3.549 s in the header is 355 hundredths: 156,555 frames, one short of
  // the 156,556 the decoder produces.
  TWMIn in;
  in.SetFileName(FixturePath("audio/lossless.wma"));
  EXPECT_EQ(in.TotalSamples(), 156555);
  in.Init();
  std::vector<uint8_t> pcm = ReadAll(in, 16384);
  EXPECT_EQ(pcm.size(), 626224u);
  EXPECT_EQ(Md5(pcm), "cfe3d9dabadeab2cbf2ca235274b7f76") << "the same PCM as mac-399.ape";
  EXPECT_EQ(in.Size(), 626224) << "the size follows the decoder to its end";
  in.Flush();
}

TEST(WmaInput, ALargeRequestGetsOneDecodedSampleAndTheNextCallContinues) {
  TWMIn in;
  in.SetFileName(FixturePath("audio/xing.mp3"));
  in.Init();
  uint8_t* p = nullptr;
  uint32_t n = 1 << 20;
  in.GetData(p, n);
  EXPECT_EQ(n, 1152u * 8) << "one MP3 frame, 32-bit stereo";
  n = 8;
  in.GetData(p, n);
  EXPECT_EQ(n, 8u);
  n = 5;  // less than a frame: nothing can be handed out
  in.GetData(p, n);
  EXPECT_EQ(n, 0u);
  in.Flush();
}

TEST(WmaInput, AnAssignedStreamDecodesLikeTheFile) {
  TMemoryStream mem(ReadFileBytes(FixturePath("audio/silence-1.wma")));
  TWMIn in;
  in.SetStream(&mem);
  ASSERT_TRUE(in.Valid());
  in.SetFormatSelected(FormatIndexOfBits(in, 16));
  EXPECT_EQ(Md5(DecodeAll(in)), "1e48376f547687e63509ad4042a0e884");
  EXPECT_EQ(mem.Position(), 0) << "an assigned stream is rewound when the input closes";
}

// --- seeking ---------------------------------------------------------------

struct SeekCase {
  const char* Name;
  int Bits;  // format to select (the reference is asked for the same)
};
// Test names show the case, not its bytes.
void PrintTo(const SeekCase& C, std::ostream* Os) {
  *Os << C.Name;
}

class WmaSeeks : public ::testing::TestWithParam<SeekCase> {};

TEST_P(WmaSeeks, EverySeekDeliversExactlyTheReferenceFromThatFrameOn) {
  REQUIRE_TOOL("ffmpeg");
  ASSERT_TRUE(GeneratedFiles().Ok);
  const SeekCase& c = GetParam();
  const std::string path = PathOf(c.Name);
  const std::vector<uint8_t> ref = FfmpegPcm(path, c.Bits);
  TWMIn in;
  in.SetFileName(path);
  ASSERT_TRUE(in.Valid());
  ASSERT_GE(FormatIndexOfBits(in, c.Bits), 0);
  const int64_t frame = in.Channels() * c.Bits / 8;
  const int64_t total = static_cast<int64_t>(ref.size()) / frame;
  ASSERT_GT(total, 100000);
  std::vector<int64_t> targets = {
      0,     1,     47,    1151,         1152,      1153,      2047,      2048,
      2049,  4095,  4096,  44100,        total / 2, total / 3, total - 1, total - 1152,
      16383, 16384, 16385, 3 * total / 4};
  for (int64_t t : targets) {
    // Where the decoder stands before the seek: just initialised, a little
    // way in, or past the target (a seek backwards).
    for (int64_t before : {int64_t{0}, int64_t{3000}, std::min(t + 20000, total - 5000)}) {
      InitWithBits(in, c.Bits);
      uint8_t* p = nullptr;
      for (int64_t read = 0; read < before;) {
        uint32_t n = 16384;
        in.GetData(p, n);
        if (n == 0) break;
        read += n / frame;
      }
      ASSERT_TRUE(in.Seek(t)) << t;
      std::vector<uint8_t> got = ReadAll(in, 5000);
      ASSERT_EQ(static_cast<int64_t>(got.size()), (total - t) * frame)
          << "seek to " << t << " from " << before;
      EXPECT_TRUE(std::equal(got.begin(), got.end(), ref.begin() + t * frame))
          << "seek to " << t << " from " << before;
      in.Flush();
    }
  }
}

TEST_P(WmaSeeks, SuccessiveSeeksWithoutReadingToTheEndStayExact) {
  ASSERT_TRUE(GeneratedFiles().Ok);
  const SeekCase& c = GetParam();
  const std::string path = PathOf(c.Name);
  const std::vector<uint8_t> ref = FfmpegPcm(path, c.Bits);
  TWMIn in;
  in.SetFileName(path);
  const int64_t frame = in.Channels() * c.Bits / 8;
  const int64_t total = static_cast<int64_t>(ref.size()) / frame;
  InitWithBits(in, c.Bits);
  for (int64_t t : {total / 2, int64_t{100}, total - 30000, int64_t{70000}, int64_t{69999},
                    total / 5, int64_t{0}, total - 2}) {
    ASSERT_TRUE(in.Seek(t));
    std::vector<uint8_t> got;
    while (static_cast<int64_t>(got.size()) < std::min<int64_t>(20000, total - t) * frame) {
      uint8_t* p = nullptr;
      uint32_t n = 3000 * static_cast<uint32_t>(frame);
      in.GetData(p, n);
      if (n == 0) break;
      got.insert(got.end(), p, p + n);
    }
    ASSERT_FALSE(got.empty()) << t;
    EXPECT_TRUE(std::equal(got.begin(), got.end(), ref.begin() + t * frame)) << "seek to " << t;
  }
  in.Flush();
}

TEST_P(WmaSeeks, AWindowDeliversExactlyItsFrames) {
  ASSERT_TRUE(GeneratedFiles().Ok);
  const SeekCase& c = GetParam();
  const std::string path = PathOf(c.Name);
  const std::vector<uint8_t> ref = FfmpegPcm(path, c.Bits);
  TWMIn in;
  in.SetFileName(path);
  const int64_t frame = in.Channels() * c.Bits / 8;
  in.SetStartSample(30000);
  in.SetEndSample(250000);
  InitWithBits(in, c.Bits);
  std::vector<uint8_t> got = ReadAll(in, 10000);
  in.Flush();
  ASSERT_EQ(static_cast<int64_t>(got.size()), (250000 - 30000 + 1) * frame);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), ref.begin() + 30000 * frame));
}

INSTANTIATE_TEST_SUITE_P(Files, WmaSeeks,
                         ::testing::Values(SeekCase{"gen:mp3", 32}, SeekCase{"gen:mp3vbr", 16},
                                           SeekCase{"gen:mp3low", 16}, SeekCase{"gen:wma", 32},
                                           SeekCase{"gen:wma", 24}),
                         [](const ::testing::TestParamInfo<SeekCase>& i) {
                           std::string n =
                               std::string(i.param.Name) + "_" + std::to_string(i.param.Bits);
                           for (char& ch : n)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

TEST(WmaInput, SeeksInTheLosslessFixtureAreExact) {
  const std::string path = FixturePath("audio/lossless.wma");
  const std::vector<uint8_t> ref = FfmpegPcm(path, 16);
  ASSERT_EQ(ref.size(), 626224u);
  const int64_t total = 156556;
  TWMIn in;
  in.SetFileName(path);
  for (int64_t t :
       {int64_t{0}, int64_t{1}, int64_t{4095}, int64_t{4096}, int64_t{24575}, int64_t{24576},
        int64_t{24577}, int64_t{73728}, total / 2, int64_t{130000}, total - 1}) {
    for (int64_t before : {int64_t{0}, int64_t{30000}, int64_t{150000}}) {
      in.Init();
      uint8_t* p = nullptr;
      for (int64_t read = 0; read < before;) {
        uint32_t n = 16384;
        in.GetData(p, n);
        if (n == 0) break;
        read += n / 4;
      }
      ASSERT_TRUE(in.Seek(t));
      std::vector<uint8_t> got = ReadAll(in, 4000);
      ASSERT_EQ(static_cast<int64_t>(got.size()), (total - t) * 4) << t << " from " << before;
      EXPECT_TRUE(std::equal(got.begin(), got.end(), ref.begin() + t * 4))
          << t << " from " << before;
      in.Flush();
    }
  }
}

TEST(WmaInput, SeekingWhileNotBusyOnlySetsTheWindowStart) {
  TWMIn in;
  in.SetFileName(FixturePath("audio/xing.mp3"));
  const std::vector<uint8_t> all = DecodeAll(in);
  ASSERT_TRUE(in.Seek(10000));
  const std::vector<uint8_t> rest = DecodeAll(in);
  ASSERT_EQ(rest.size(), all.size() - 10000 * 8);
  EXPECT_TRUE(std::equal(rest.begin(), rest.end(), all.begin() + 10000 * 8));
}

// A seek near the end of a long MP3 must not read the hour before it: the
// demuxer moves straight to a frame before the target and only the pre-roll
// is decoded. Each seek is timed with its first window of samples, on a
// fresh input, the best of a few tries so that a busy machine does not fail
// it (a demuxer that reads every packet up to the target takes longer).
TEST(WmaInput, SeeksInTheLastMinuteOfAnHourLongMp3AreQuickAndExact) {
  REQUIRE_TOOL("ffmpeg");
  const std::string& path = HourLongMp3();
  ASSERT_FALSE(path.empty());
  TWMIn in;
  in.SetFileName(path);
  ASSERT_TRUE(in.Valid());
  const int64_t rate = in.SampleRate();
  ASSERT_EQ(rate, 24000);
  const int64_t total = in.TotalSamples();
  ASSERT_GT(total, 3599 * rate);
  const int64_t frame = in.Channels() * in.BitsPerSample() / 8;
  constexpr int64_t kWindow = 5000;
  // On and off the 576-sample frame grid. The decode ends a little before
  // the header's length (the encoder's padding).
  const std::vector<int64_t> targets = {
      total - 60 * rate + 1, total - 20 * rate,       total - 45 * rate + 576, total - 5 * rate - 3,
      total - 59 * rate + 7, total - 30 * rate + 575, total - 2 * rate - 1};

  // The reference: the same decoder reading from the start without a seek.
  std::vector<std::vector<uint8_t>> expected(targets.size());
  {
    in.Init();
    int64_t at = 0;
    uint8_t* p = nullptr;
    for (;;) {
      uint32_t n = 1 << 16;
      in.GetData(p, n);
      if (n == 0) break;
      const int64_t frames = n / frame;
      for (size_t i = 0; i < targets.size(); ++i) {
        const int64_t from = std::max(at, targets[i]);
        const int64_t to = std::min(at + frames, targets[i] + kWindow);
        if (from < to)
          expected[i].insert(expected[i].end(), p + (from - at) * frame, p + (to - at) * frame);
      }
      at += frames;
    }
    in.Flush();
  }

  for (size_t i = 0; i < targets.size(); ++i) {
    const int64_t t = targets[i];
    ASSERT_EQ(static_cast<int64_t>(expected[i].size()), kWindow * frame) << t;
    double best = 1e9;
    for (int attempt = 0; attempt < 3 && best >= 0.1; ++attempt) {
      // A fresh input each time: what an earlier pass learnt about the file
      // (the demuxer's index) must not help.
      TWMIn seeking;
      seeking.SetFileName(path);
      InitWithBits(seeking, in.BitsPerSample());
      const auto start = std::chrono::steady_clock::now();
      ASSERT_TRUE(seeking.Seek(t)) << t;
      std::vector<uint8_t> got;
      while (static_cast<int64_t>(got.size()) < kWindow * frame) {
        uint8_t* p = nullptr;
        uint32_t n = static_cast<uint32_t>(kWindow * frame - static_cast<int64_t>(got.size()));
        seeking.GetData(p, n);
        if (n == 0) break;
        got.insert(got.end(), p, p + n);
      }
      best = std::min(
          best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      seeking.Flush();
      ASSERT_EQ(got.size(), expected[i].size()) << "seek to " << t;
      ASSERT_TRUE(got == expected[i]) << "seek to " << t;
    }
    EXPECT_LT(best, 0.1) << "seek to " << t << " took " << best << " s";
  }
}

}  // namespace
