// Seeking and sample windows: after a seek to frame k the input delivers
// exactly the reference samples from frame k to the end, for every kind of
// payload, and positions beyond 2 GiB are reached.

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/audio/decoders/WavTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;
using namespace lirvo::test::wav;

namespace {

struct SeekCase {
  const char* name;
  const char* codecArgs;
  const char* refFormat;
  int refFloatWidth;        // 0: raw, 4 or 8: floats by the float rule
  uint32_t framesPerBlock;  // ADPCM: test the block boundaries
};

class WaveSeek : public ::testing::TestWithParam<SeekCase> {
 protected:
  static std::string dir;
  static void SetUpTestSuite() { dir = ScratchDir("wav_seek"); }

  std::string path;
  Bytes ref;
  int64_t frame = 0;
  int64_t total = 0;

  void Prepare() {
    const SeekCase& c = GetParam();
    path = dir + "/" + c.name + ".wav";
    ASSERT_TRUE(Ffmpeg(ToneSource(0.9, 22050) + " " + c.codecArgs, path));
    TWaveIn in;
    in.SetFileName(path);
    ASSERT_TRUE(in.Valid());
    frame = in.Channels() * in.BitsPerSample() / 8;
    total = in.TotalSamples();
    ref = c.refFloatWidth < 0 ? SoxDecodeS16(path) : FfmpegDecode(path, c.refFormat);
    if (c.refFloatWidth > 0) ref = FloatsToInt32(ref, c.refFloatWidth);
    ASSERT_GE(static_cast<int64_t>(ref.size()), total * frame);
    ref.resize(static_cast<size_t>(total * frame));
  }

  Bytes Slice(int64_t From, int64_t To) const {
    return Bytes(ref.begin() + From * frame, ref.begin() + To * frame);
  }
};
std::string WaveSeek::dir;

TEST_P(WaveSeek, DeliversTheReferenceFromTheFrameSought) {
  REQUIRE_TOOL("ffmpeg");
  ASSERT_NO_FATAL_FAILURE(Prepare());
  const uint32_t fpb = GetParam().framesPerBlock;
  std::vector<int64_t> targets = {0, 1, total / 2, total - 1, total};
  if (fpb) {
    for (int64_t b : {int64_t{fpb}, int64_t{3} * fpb})
      for (int64_t d : {-1, 0, 1})
        targets.push_back(b + d);
  }
  TWaveIn in;
  in.SetFileName(path);
  for (int64_t k : targets) {
    in.Init();
    // Read a little first so that the seek also has to drop buffered data.
    uint8_t* p = nullptr;
    uint32_t n = 100 * static_cast<uint32_t>(frame);
    in.GetData(p, n);
    ASSERT_TRUE(in.Seek(k)) << k;
    EXPECT_EQ(in.Position(), k * frame);
    Bytes got = ReadAll(in, 3000);
    EXPECT_EQ(got.size(), static_cast<size_t>((total - k) * frame)) << "seek to " << k;
    EXPECT_TRUE(got == Slice(k, total)) << "seek to " << k;
    EXPECT_EQ(in.Position(), in.Size());
    EXPECT_FALSE(in.Seek(total + 1));
    in.Flush();
  }
}

// The window a CUE track uses: Init positions at StartSample and the data
// end after EndSample.
TEST_P(WaveSeek, WindowDeliversExactlyItsFrames) {
  REQUIRE_TOOL("ffmpeg");
  ASSERT_NO_FATAL_FAILURE(Prepare());
  struct {
    int64_t start, end;
  } windows[] = {{0, 99}, {7, total / 3}, {total / 2, -1}, {total - 5, total - 1}};
  TWaveIn in;
  in.SetFileName(path);
  for (const auto& w : windows) {
    in.SetStartSample(w.start);
    in.SetEndSample(w.end);
    in.Init();
    // An open window runs to the file's last frame; either way the window
    // counts exactly its frames, and an ADPCM file's padding after its last
    // counted frame stays out.
    const int64_t last = w.end == -1 ? total - 1 : w.end;
    EXPECT_EQ(in.TotalSamples(), last - w.start + 1);
    const Bytes got = ReadAll(in, 4096);
    in.Flush();
    const size_t want = static_cast<size_t>((last + 1 - w.start) * frame);
    ASSERT_EQ(got.size(), want) << w.start << ".." << w.end;
    EXPECT_TRUE(got == Slice(w.start, last + 1)) << w.start << ".." << w.end;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Payloads, WaveSeek,
    ::testing::Values(
        SeekCase{"pcm16", "-c:a pcm_s16le", "s16le", 0, 0},
        SeekCase{"pcm24", "-c:a pcm_s24le", "s24le", 0, 0},
        SeekCase{"float32", "-c:a pcm_f32le", "f32le", 4, 0},
        SeekCase{"float64", "-c:a pcm_f64le", "f64le", 8, 0},
        SeekCase{"ima_stereo", "-c:a adpcm_ima_wav -block_size 512", "s16le", -1, 505},
        SeekCase{"ima_mono", "-ac 1 -c:a adpcm_ima_wav -block_size 256", "s16le", -1, 505},
        SeekCase{"ms_stereo", "-c:a adpcm_ms -block_size 512", "s16le", 0, 500},
        SeekCase{"ms_mono", "-ac 1 -c:a adpcm_ms -block_size 256", "s16le", 0, 500},
        SeekCase{"mulaw", "-c:a pcm_mulaw", "s16le", 0, 0}),
    [](const auto& Info) { return std::string(Info.param.name); });

// Offsets beyond 2 GiB: a sparse 3 GiB file with marked frames past 2 GiB.
TEST(WaveSeekLarge, PositionsBeyond2GiBAreReached) {
  const std::string dir = ScratchDir("wav_large");
  const std::string path = dir + "/large.wav";
  const uint64_t dataBytes = 3ull << 30;
  Bytes body;
  PutChunk(body, "fmt ", FmtBody(1, 2, 44100, 16));
  Bytes file = Riff(body);
  PutCode(file, "data");
  Put32(file, static_cast<uint32_t>(dataBytes));
  WriteFileBytes(path, file);
  std::filesystem::resize_file(path, file.size() + dataBytes);
  const int64_t frames[] = {(int64_t{2} << 30) / 4 + 12345, (int64_t{5} << 29) / 4 + 7,
                            static_cast<int64_t>(dataBytes / 4) - 10};
  const Bytes mark = Pattern(40, 77);
  {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    for (int64_t fr : frames) {
      f.seekp(static_cast<std::streamoff>(file.size() + fr * 4));
      f.write(reinterpret_cast<const char*>(mark.data()), 40);
    }
  }
  TWaveIn in;
  in.SetFileName(path);
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.TotalSamples(), static_cast<int64_t>(dataBytes / 4));
  in.Init();
  for (int64_t fr : frames) {
    ASSERT_TRUE(in.Seek(fr));
    uint8_t* p = nullptr;
    uint32_t n = 40;
    in.GetData(p, n);
    ASSERT_EQ(n, 40u);
    EXPECT_TRUE(Bytes(p, p + 40) == mark) << "frame " << fr;
  }
  in.Flush();
  std::filesystem::remove(path);
}

}  // namespace
