// The sample window, looping, seeking and lazy opening shared by every
// decoder, proven on a trivial raw-PCM decoder before the real ones exist.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "audio/core/FileInputs.h"
#include "common/RawFileIn.h"
#include "common/TestFiles.h"
#include "common/TestPaths.h"

using namespace lirvo;
using namespace lirvo::test;

namespace {

// Stereo 16-bit: 4 bytes a frame.
constexpr int kFrame = 4;

// Index of the frame whose bytes sit at Data[at..], or -1.
int64_t FrameAt(const std::vector<uint8_t>& Data, size_t at) {
  for (int64_t f = 0; f < 100000; ++f)
    if (Data[at] == RawSampleByte(f, 0, 0) && Data[at + 1] == RawSampleByte(f, 0, 1) &&
        Data[at + 2] == RawSampleByte(f, 1, 0))
      return f;
  return -1;
}

bool FramesAre(const std::vector<uint8_t>& Data, int64_t First, int64_t Count) {
  if (Data.size() != static_cast<size_t>(Count * kFrame)) return false;
  for (int64_t i = 0; i < Count; ++i)
    for (int c = 0; c < 2; ++c)
      for (int b = 0; b < 2; ++b)
        if (Data[i * kFrame + c * 2 + b] != RawSampleByte(First + i, c, b)) return false;
  return true;
}

class FileInputTest : public ::testing::Test {
 protected:
  std::string dir = ScratchDir("file_input");
  std::string ten = dir + "/ten.raw";
  std::string big = dir + "/big.raw";
  TRawIn in;

  void SetUp() override {
    WriteRawFile(ten, 2, 16, 44100, 10);
    WriteRawFile(big, 2, 16, 1000, 1000);
    in.SetFileName(ten);
  }
};

TEST_F(FileInputTest, WholeFileEndsExactlyAtSize) {
  in.Init();
  EXPECT_EQ(in.Size(), 10 * kFrame);
  EXPECT_EQ(in.TotalSamples(), 10);
  std::vector<uint8_t> got = ReadAll(in, 7 * kFrame);
  EXPECT_TRUE(FramesAre(got, 0, 10));
  EXPECT_EQ(in.Position(), in.Size());
  in.Flush();
}

struct WindowCase {
  int64_t start, end;
  int64_t totalSamples;  // after Init
  int64_t firstFrame, delivered;
};

class FileInputWindowTest : public FileInputTest,
                            public ::testing::WithParamInterface<WindowCase> {};

TEST_P(FileInputWindowTest, WindowDeliversExactlyItsFrames) {
  const WindowCase& c = GetParam();
  in.SetStartSample(c.start);
  in.SetEndSample(c.end);
  in.Init();
  EXPECT_EQ(in.TotalSamples(), c.totalSamples);
  EXPECT_EQ(in.Size(), c.totalSamples * kFrame);
  std::vector<uint8_t> got = ReadAll(in, 3 * kFrame);
  EXPECT_TRUE(FramesAre(got, c.firstFrame, c.delivered))
      << "got " << got.size() / kFrame << " frames starting at " << FrameAt(got, 0);
  in.Flush();
  EXPECT_EQ(in.StartSample(), 0) << "the window applies to one run only";
  EXPECT_EQ(in.EndSample(), -1);
}

INSTANTIATE_TEST_SUITE_P(Windows, FileInputWindowTest,
                         ::testing::Values(
                             // The last block is shortened to the window's end.
                             WindowCase{2, 5, 4, 2, 4},
                             // An open end runs to the file's last frame.
                             WindowCase{2, -1, 8, 2, 8},
                             // An end at or beyond the file's end is treated as open.
                             WindowCase{2, 10, 8, 2, 8}, WindowCase{2, 50, 8, 2, 8},
                             // A window of one frame.
                             WindowCase{0, 0, 1, 0, 1}, WindowCase{9, 9, 1, 9, 1}));

TEST_F(FileInputTest, LoopRestartsAtTheWindowStartWithoutLosingTheLastBlock) {
  in.SetLoop(true);
  in.SetStartSample(2);
  in.SetEndSample(5);
  in.Init();
  std::vector<uint8_t> got;
  for (int i = 0; i < 40 && got.size() < 12 * kFrame; ++i) {
    uint8_t* p = nullptr;
    uint32_t n = 3 * kFrame;
    in.GetData(p, n);
    ASSERT_GT(n, 0u) << "a looping stream never ends by itself";
    got.insert(got.end(), p, p + n);
    if (got.size() == 4 * kFrame) {
      EXPECT_EQ(in.Position(), 4 * kFrame);
    }
  }
  ASSERT_EQ(got.size(), 12u * kFrame);
  for (int lap = 0; lap < 3; ++lap) {
    std::vector<uint8_t> part(got.begin() + lap * 4 * kFrame, got.begin() + (lap + 1) * 4 * kFrame);
    EXPECT_TRUE(FramesAre(part, 2, 4)) << "lap " << lap;
  }
  // After a restart Position counts from the window start again.
  EXPECT_EQ(in.Position(), 4 * kFrame);
  in.Flush();
}

TEST_F(FileInputTest, SeekBeforeInitSetsTheWindowStartAndClearsItsEnd) {
  in.SetEndSample(7);
  EXPECT_TRUE(in.Seek(3));
  EXPECT_EQ(in.StartSample(), 3);
  EXPECT_EQ(in.EndSample(), -1);
  in.Init();
  EXPECT_TRUE(FramesAre(ReadAll(in), 3, 7));
  in.Flush();
}

TEST_F(FileInputTest, SeekWhileBusyCountsFromTheWindowStart) {
  in.SetStartSample(2);
  in.SetEndSample(8);
  in.Init();
  EXPECT_TRUE(in.Seek(3));  // frame 5 of the file
  EXPECT_EQ(in.Position(), 3 * kFrame);
  EXPECT_TRUE(FramesAre(ReadAll(in), 5, 4));
  EXPECT_FALSE(in.Seek(100)) << "beyond TotalSamples";
  in.Flush();
}

// A decoder may land past the frame asked for (on its own frame grid); a
// seek that lands past the window's end then delivers nothing of the next
// block, not a length that wrapped around.
TEST_F(FileInputTest, ASeekThatLandsPastTheWindowDeliversNothingMore) {
  struct TOvershootingIn : TRawIn {
    bool SeekInternal(int64_t& SampleNum) override {
      SampleNum += 50;
      return TRawIn::SeekInternal(SampleNum);
    }
  } over;
  over.SetFileName(big);
  over.SetStartSample(2);
  over.SetEndSample(5);
  over.Init();
  EXPECT_TRUE(over.Seek(3));
  uint8_t* p = nullptr;
  uint32_t n = 12;
  over.GetData(p, n);
  EXPECT_EQ(n, 0u);
  EXPECT_LE(over.Position(), over.Size());
  n = 12;
  over.GetData(p, n);
  EXPECT_EQ(n, 0u) << "the stream stays ended";
  over.Flush();
}

// A decoder whose seek fails and loses its place (libFLAC goes back to the
// stream's start): the input returns it to where it was, so what plays and
// the position agree; a window whose first frame cannot be reached is an
// error, not a track played from the image's start.
TEST_F(FileInputTest, AFailedSeekKeepsThePlaceAndAFailedWindowStartIsAnError) {
  struct TFailingIn : TRawIn {
    int64_t FailFrom = 1 << 30;  // targets at or past this fail
    bool SeekInternal(int64_t& SampleNum) override {
      if (SampleNum >= FailFrom) {
        int64_t start = 0;
        TRawIn::SeekInternal(start);  // lost: back at the start
        return false;
      }
      return TRawIn::SeekInternal(SampleNum);
    }
  } f;
  f.SetFileName(big);
  f.FailFrom = 600;
  f.Init();
  std::vector<uint8_t> got;
  while (got.size() < 100 * kFrame) {
    uint8_t* p = nullptr;
    uint32_t n = static_cast<uint32_t>(100 * kFrame - got.size());
    f.GetData(p, n);
    ASSERT_GT(n, 0u);
    got.insert(got.end(), p, p + n);
  }
  EXPECT_FALSE(f.Seek(700));
  EXPECT_EQ(f.Position(), 100 * kFrame) << "the position stays where the stream is";
  uint8_t* p = nullptr;
  uint32_t n = 4 * kFrame;
  f.GetData(p, n);
  ASSERT_EQ(n, 4u * kFrame);
  EXPECT_EQ(FrameAt(std::vector<uint8_t>(p, p + n), 0), 100) << "the stream went on from there";
  f.Flush();

  f.FailFrom = 0;  // now every seek fails, the one to the window's start too
  f.SetStartSample(200);
  f.SetEndSample(400);
  EXPECT_THROW(f.Init(), EAuException);
  EXPECT_FALSE(f.IsBusy()) << "the next Init needs no Reset";
  f.FailFrom = 1 << 30;
  f.SetStartSample(200);
  f.SetEndSample(400);
  f.Init();
  EXPECT_TRUE(FramesAre(ReadAll(f, 3 * kFrame), 200, 201));
  f.Flush();
}

TEST_F(FileInputTest, JumpMovesByThousandthsOfTheWindow) {
  in.SetFileName(big);
  in.Init();
  ASSERT_TRUE(in.Seek(500));
  in._Jump(100);  // 50 % -> 60 %
  std::vector<uint8_t> one(kFrame);
  ASSERT_EQ(in.CopyData(one.data(), kFrame), kFrame);
  EXPECT_TRUE(FramesAre(one, 600, 1));
  in._Jump(-1000);  // to the start
  ASSERT_EQ(in.CopyData(one.data(), kFrame), kFrame);
  EXPECT_TRUE(FramesAre(one, 0, 1));
  in._Jump(5000);  // past the end: the next call ends the stream
  EXPECT_EQ(in.CopyData(one.data(), kFrame), 0);
  in.Flush();
}

TEST_F(FileInputTest, ValidOpensAGoodFileAndLeavesABadOneClosed) {
  EXPECT_TRUE(in.Valid());
  EXPECT_EQ(in.OpenCalls, 1);
  EXPECT_EQ(in.Channels(), 2u) << "the file stays open";
  EXPECT_EQ(in.OpenCalls, 1);

  std::string bad = dir + "/bad.raw";
  FILE* f = fopen(bad.c_str(), "wb");
  fputs("not a raw file", f);
  fclose(f);
  in.SetFileName(bad);
  EXPECT_FALSE(in.Valid());
  EXPECT_FALSE(in.Valid());
  EXPECT_EQ(in.OpenCalls, 3) << "an invalid file is closed again each time";
}

TEST_F(FileInputTest, UnrecognisedFileInitialisesAsEmptyEightKilohertzMono) {
  std::string bad = dir + "/bad.raw";
  FILE* f = fopen(bad.c_str(), "wb");
  fputs("RAWX....", f);
  fclose(f);
  in.SetFileName(bad);
  in.Init();
  EXPECT_EQ(in.SampleRate(), 8000u);
  EXPECT_EQ(in.BitsPerSample(), 8u);
  EXPECT_EQ(in.Channels(), 1u);
  EXPECT_EQ(in.Size(), 0);
  EXPECT_TRUE(ReadAll(in).empty());
  in.Flush();
}

TEST_F(FileInputTest, InitErrorsAreRaisedAsAuExceptions) {
  TRawIn unnamed;
  try {
    unnamed.Init();
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "The file name is not assigned");
  }
  in.Init();
  try {
    in.Init();
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "The component is Busy");
  }
  in.Flush();

  in.SetFileName(dir + "/missing.raw");
  try {
    in.Init();
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), std::strerror(ENOENT)) << "the system's text";
  }
  uint8_t* p = nullptr;
  uint32_t n = 100;
  in.Reset();
  EXPECT_FALSE(in.IsBusy());
  in.GetData(p, n);
  EXPECT_EQ(n, 0u) << "a failed Init leaves the input at end of stream";

  // Without a Reset in between: the failed Init itself leaves the input idle.
  try {
    in.Init();
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), std::strerror(ENOENT));
  }
  EXPECT_FALSE(in.IsBusy()) << "a failed Init must not leave the input Busy";
  in.SetFileName(big);
  EXPECT_NO_THROW(in.Init()) << "the next file opens without a Reset";
  EXPECT_EQ(in.SampleRate(), 1000u);
  in.Flush();
}

TEST_F(FileInputTest, SettingTheFileNameClosesTheOpenFile) {
  EXPECT_EQ(in.SampleRate(), 44100u);
  in.SetFileName(big);
  EXPECT_EQ(in.SampleRate(), 1000u);
  EXPECT_EQ(in.OpenCalls, 2);
}

TEST_F(FileInputTest, TotalsBeforeInitDescribeTheWholeFile) {
  in.SetFileName(big);
  EXPECT_EQ(in.TotalSamples(), 1000);
  EXPECT_EQ(in.TotalTime(), 1u);
  EXPECT_TRUE(in.SetStartTime(0, 0));
  EXPECT_FALSE(in.SetEndTime(0, 2)) << "two seconds lie beyond a one-second file";
}

TEST_F(FileInputTest, FillBufferGathersAcrossBlocksAndReportsTheEnd) {
  in.Init();
  std::vector<uint8_t> buf(64);
  bool eof = true;
  EXPECT_EQ(in.FillBuffer(buf.data(), 8 * kFrame, eof), 8 * kFrame);
  EXPECT_FALSE(eof);
  EXPECT_EQ(in.FillBuffer(buf.data(), 8 * kFrame, eof), 2 * kFrame);
  EXPECT_TRUE(eof);
  in.Flush();

  in.Init();
  EXPECT_EQ(in.FillBufferUnprotected(nullptr, 8, eof), 0);
  EXPECT_EQ(in.FillBufferUnprotected(buf.data(), 12 * kFrame, eof), 10 * kFrame);
  EXPECT_TRUE(eof);
  EXPECT_EQ(in.Position(), 10 * kFrame) << "the total is added to Position once";
  in.Flush();
}

TEST_F(FileInputTest, AssignedStreamIsNeverFreedAndIsRewoundOnClose) {
  std::vector<uint8_t> image;
  {
    TAuFileStream s(ten, fmOpenRead);
    image.resize(static_cast<size_t>(s.Size()));
    s.Read(image.data(), static_cast<int64_t>(image.size()));
  }
  TMemoryStream mem(image);
  in.SetStream(&mem);
  in.Init();
  EXPECT_TRUE(FramesAre(ReadAll(in), 0, 10));
  in.Flush();
  EXPECT_EQ(mem.Position(), 0);
  in.Init();
  EXPECT_TRUE(FramesAre(ReadAll(in), 0, 10)) << "the same stream plays again";
  in.Flush();
  in.SetStream(nullptr);
}

TEST(FileStream, OpenFailureCarriesTheSystemText) {
  try {
    TAuFileStream s("/nonexistent/dir/file.wav", fmOpenRead);
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), std::strerror(ENOENT));
  }
  try {
    TAuFileStream s("/", fmOpenRead);
    FAIL() << "a folder is not a file";
  } catch (const EAuException&) {
  }
}

}  // namespace
