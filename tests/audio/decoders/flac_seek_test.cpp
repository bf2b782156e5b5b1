// Seeking is sample-accurate: after Seek(n) the next delivered frame is
// frame n of the file, at block boundaries and inside blocks alike, and a
// window (a CUE track) starts and ends on its exact frames.

#include <gtest/gtest.h>

#include "audio/decoders/AudioFLAC.h"
#include "common/TestPaths.h"
#include "tests/audio/decoders/FlacTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;

namespace {

struct TSeekFile {
  const char* Name;
  const char* Fixture;  // a shared fixture, or null to generate Spec
  TGenSpec Spec;
  uint32_t FrameBytes;
  uint32_t Block;
};

const TSeekFile kFiles[] = {
    {"sinewave", "audio/sinewave.flac", {}, 4, 4096},
    {"s16_stereo_4608", "audio/silence-44-s.flac", {}, 4, 4608},
    {"s24_96k_stereo", nullptr, {96000, 2, 24, 1.0}, 6, 4096},
    {"s16_mono_1152", nullptr, {44100, 1, 16, 1.0, 1152}, 2, 1152},
    {"s20_48k_stereo", nullptr, {48000, 2, 20, 1.0}, 6, 4096},
};

class FlacSeek : public ::testing::TestWithParam<TSeekFile> {
 protected:
  void SetUp() override {
    const TSeekFile& f = GetParam();
    if (f.Fixture) {
      path = FixturePath(f.Fixture);
    } else {
      path = MakeFlac(ScratchDir(std::string("flac-seek-") + f.Name), f.Name, f.Spec);
      ASSERT_FALSE(path.empty());
    }
    ASSERT_TRUE(HaveTool("flac")) << "the flac tool is needed for the reference";
    ref = ReferenceDecode(path);
    ASSERT_FALSE(ref.empty());
    total = static_cast<int64_t>(ref.size() / f.FrameBytes);
  }

  // The reference frames [First, First + Count), clipped at the end.
  Bytes Slice(int64_t First, int64_t Count) const {
    const uint32_t fb = GetParam().FrameBytes;
    const int64_t last = std::min(total, First + Count);
    if (First >= last) return {};
    return Bytes(ref.begin() + First * fb, ref.begin() + last * fb);
  }

  // Targets worth trying: the ends, the middle, and both sides of the first
  // block boundaries (where a block-rounding seek goes wrong).
  std::vector<int64_t> Targets() const {
    const int64_t b = GetParam().Block;
    std::vector<int64_t> t = {0,         1,         b - 1, b,         b + 1,         2 * b - 1,
                              2 * b,     2 * b + 1, 10000, total / 2, total / 2 + 3, total - b,
                              total - 2, total - 1};
    std::vector<int64_t> ok;
    for (int64_t x : t)
      if (x >= 0 && x < total) ok.push_back(x);
    return ok;
  }

  std::string path;
  Bytes ref;
  int64_t total = 0;
};

TEST_P(FlacSeek, NextFrameAfterSeekIsExactlyTheTarget) {
  const uint32_t fb = GetParam().FrameBytes;
  TFLACIn in;
  in.SetFileName(path);
  in.Init();
  // One Init, seeks forwards and backwards in turn: each must land exactly.
  std::vector<int64_t> targets = Targets();
  for (size_t i = targets.size(); i-- > 0;)
    targets.push_back(targets[i]);
  for (int64_t n : targets) {
    ASSERT_TRUE(in.Seek(n)) << "frame " << n;
    const Bytes got = ReadFrames(in, 5000, fb);
    ASSERT_TRUE(got == Slice(n, 5000)) << "after Seek(" << n << ") got " << got.size() / fb
                                       << " frames that differ from the reference";
    EXPECT_EQ(in.Position(), static_cast<int64_t>(n * fb + got.size()));
    // Reaching the end ends the run (the input then stays at its end); the
    // remaining targets need a new one.
    if (n + 5000 >= total) {
      in.Flush();
      in.Init();
    }
  }
  in.Flush();
}

// After a seek the rest of the file follows without a gap or a repeat, up
// to the exact end.
TEST_P(FlacSeek, ReadingOnFromASeekReachesTheExactEnd) {
  const uint32_t fb = GetParam().FrameBytes;
  TFLACIn in;
  in.SetFileName(path);
  in.Init();
  const int64_t n = GetParam().Block + 7;
  ASSERT_TRUE(in.Seek(n));
  const Bytes got = ReadAll(in, 7777);
  EXPECT_TRUE(got == Slice(n, total)) << got.size() / fb << " frames";
  in.Flush();
}

TEST_P(FlacSeek, SeekingToTheEndDeliversNothing) {
  TFLACIn in;
  in.SetFileName(path);
  in.Init();
  EXPECT_TRUE(in.Seek(total));
  uint8_t* p = nullptr;
  uint32_t n = 4096;
  in.GetData(p, n);
  EXPECT_EQ(n, 0u);
  in.Flush();
}

// A window (how a CUE track is played) starts on its first frame and ends
// after its last, inclusive.
TEST_P(FlacSeek, AWindowDeliversExactlyItsFrames) {
  const int64_t b = GetParam().Block;
  const int64_t start = b + b / 3;
  const int64_t end = std::min(total - 1, 3 * b + 11);
  TFLACIn in;
  in.SetFileName(path);
  in.SetStartSample(start);
  in.SetEndSample(end);
  in.Init();
  const Bytes got = ReadAll(in, 5000);
  in.Flush();
  EXPECT_TRUE(got == Slice(start, end - start + 1))
      << got.size() / GetParam().FrameBytes << " frames";
}

INSTANTIATE_TEST_SUITE_P(Files, FlacSeek, ::testing::ValuesIn(kFiles),
                         [](const auto& Info) { return std::string(Info.param.Name); });

}  // namespace
