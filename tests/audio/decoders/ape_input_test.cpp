// The APE input over its decoder layer: exact PCM, durations, exact seeks,
// the layer's information fields, errors and hostile files.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "audio/decoders/AudioMAC.h"
#include "audio/decoders/LibraryBindings.h"
#include "common/ExternalTools.h"
#include "common/TestFiles.h"
#include "common/TestPaths.h"

using namespace lirvo;
using namespace lirvo::test;

namespace {

// What the reference decoder produces for the file as signed 16-bit PCM.
std::vector<uint8_t> FfmpegS16(const std::string& File) {
  return RunCapture("ffmpeg -v quiet -i " + Quote(File) +
                    " -map 0:a:0 -f s16le -acodec pcm_s16le - 2>/dev/null");
}

std::string Ffprobe(const std::string& File, const std::string& Entry) {
  std::vector<uint8_t> out = RunCapture("ffprobe -v quiet -select_streams a:0 -show_entries " +
                                        Entry + " -of default=nw=1:nk=1 " + Quote(File));
  std::string s(out.begin(), out.end());
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
    s.pop_back();
  return s;
}

const char kSineMd5[] = "cfe3d9dabadeab2cbf2ca235274b7f76";

struct FixtureCase {
  const char* File;
  const char* Md5;
  size_t Bytes;
  int64_t Version;
};
// Test names show the case, not its bytes.
void PrintTo(const FixtureCase& C, std::ostream* Os) {
  *Os << C.File;
}

class ApeFixtures : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(ApeFixtures, DecodesToTheReferencePcmWhateverTheReadSize) {
  const FixtureCase& c = GetParam();
  TMACIn in;
  in.SetFileName(FixturePath(std::string("audio/") + c.File));
  ASSERT_TRUE(in.Valid());
  EXPECT_EQ(in.SampleRate(), 44100u);
  EXPECT_EQ(in.Channels(), 2u);
  EXPECT_EQ(in.BitsPerSample(), 16u);
  for (uint32_t request : {16384u, 4096u, 1000u, 4u}) {
    std::vector<uint8_t> pcm = DecodeAll(in, request);
    EXPECT_EQ(pcm.size(), c.Bytes) << "request " << request;
    EXPECT_EQ(Md5(pcm), c.Md5) << "request " << request;
  }
}

TEST_P(ApeFixtures, DurationAndSizeAreTheDecodersBlockCountNotTheWavTotal) {
  const FixtureCase& c = GetParam();
  REQUIRE_TOOL("ffprobe");
  const std::string path = FixturePath(std::string("audio/") + c.File);
  TMACIn in;
  in.SetFileName(path);
  const int64_t blocks = std::stoll(Ffprobe(path, "stream=duration_ts"));
  EXPECT_EQ(in.TotalSamples(), blocks);
  EXPECT_EQ(in.TotalBlocks(), blocks);
  EXPECT_EQ(in.LengthMS(), blocks * 1000 / 44100);
  EXPECT_EQ(in.TotalTime(), static_cast<uint32_t>(blocks * 1000 / 44100 / 1000));
  EXPECT_EQ(in.Size(), blocks * 4);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, ApeFixtures,
    ::testing::Values(FixtureCase{"mac-399.ape", kSineMd5, 626224, 3990},
                      FixtureCase{"mac-399-tagged.ape", kSineMd5, 626224, 3990},
                      FixtureCase{"mac-399-id3v2.ape", kSineMd5, 626224, 3990},
                      FixtureCase{"mac-396.ape", "a1b141f766e9849ac3db1030a20a3c77", 649984, 3960}),
    [](const ::testing::TestParamInfo<FixtureCase>& i) {
      std::string n = i.param.File;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

TEST(ApeInput, TheDecoderLayerMatchesTheReferenceDecoderByteForByte) {
  REQUIRE_TOOL("ffmpeg");
  for (const char* f : {"mac-399.ape", "mac-396.ape"}) {
    const std::string path = FixturePath(std::string("audio/") + f);
    int32_t err = -1;
    APE_DECOMPRESS_HANDLE h = c_APEDecompress_Create(path, &err);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(err, ERROR_SUCCESS);
    std::vector<uint8_t> pcm;
    std::vector<uint8_t> block(4 * 3000);
    for (;;) {
      int64_t got = 0;
      c_APEDecompress_GetData(h, block.data(), 3000, &got);
      if (got == 0) break;
      pcm.insert(pcm.end(), block.begin(), block.begin() + got * 4);
    }
    c_APEDecompress_Destroy(h);
    EXPECT_EQ(pcm, FfmpegS16(path)) << f;
  }
}

TEST(ApeInput, A16BitStereoFileRefillsEightKilobytesAtATime) {
  TMACIn in;
  in.SetFileName(FixturePath("audio/mac-399.ape"));
  in.Init();
  uint8_t* p = nullptr;
  uint32_t n = 100000;
  in.GetData(p, n);
  EXPECT_EQ(n, 8192u);
  n = 3;  // less than a frame: whole frames only
  in.GetData(p, n);
  EXPECT_EQ(n % 4, 0u);
  in.Flush();
}

TEST(ApeInput, SmallReadsNearTheEndLoseNoTail) {
  // The last refill is partial; reading it in small pieces must still
  // deliver all of it.
  TMACIn in;
  in.SetFileName(FixturePath("audio/mac-399.ape"));
  std::vector<uint8_t> pcm = DecodeAll(in, 256);
  EXPECT_EQ(pcm.size(), 626224u);
}

TEST(ApeInput, AHeaderOnlyFileOpensAndDeliversNothing) {
  TMACIn in;
  in.SetFileName(FixturePath("audio/mac-390-hdr.ape"));
  EXPECT_TRUE(in.Valid());
  EXPECT_EQ(DecodeAll(in).size(), 0u);
}

TEST(ApeInput, ReadingWhileNotBusyRaises) {
  TMACIn in;
  in.SetFileName(FixturePath("audio/mac-399.ape"));
  uint8_t* p = nullptr;
  uint32_t n = 4096;
  try {
    in.GetData(p, n);
    FAIL() << "no exception";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "The Stream is not opened");
  }
}

// --- seeking ---------------------------------------------------------------

TEST(ApeInput, SeeksLandExactlyOnTheRequestedBlock) {
  REQUIRE_TOOL("ffmpeg");
  const std::string path = FixturePath("audio/mac-399.ape");
  const std::vector<uint8_t> ref = FfmpegS16(path);
  ASSERT_EQ(Md5(ref), kSineMd5);
  const int64_t total = static_cast<int64_t>(ref.size() / 4);
  TAPEDecompress probe(path);
  const int64_t bpf = probe.InfoBlocksPerFrame();
  ASSERT_EQ(bpf, 73728);
  const std::vector<int64_t> targets = {0,         1,           bpf - 1, bpf,         bpf + 1,
                                        total / 2, 2 * bpf - 1, 2 * bpf, 2 * bpf + 1, total - 1,
                                        44100,     total / 3,   5};
  TMACIn in;
  in.SetFileName(path);
  for (int64_t t : targets) {
    // The decoder stands somewhere else when the seek comes: mid-stream, in
    // the frame before, or past the target.
    for (int64_t before : {int64_t{0}, int64_t{1000}, std::min(t + 3000, total - 5000)}) {
      in.Init();
      uint8_t* p = nullptr;
      for (int64_t read = 0; read < before;) {
        uint32_t n = 4096;
        in.GetData(p, n);
        if (n == 0) break;
        read += n / 4;
      }
      ASSERT_TRUE(in.Seek(t)) << t;
      std::vector<uint8_t> got = ReadAll(in, 4000);
      ASSERT_EQ(got.size(), ref.size() - t * 4) << "seek to " << t << " from " << before;
      EXPECT_TRUE(std::equal(got.begin(), got.end(), ref.begin() + t * 4))
          << "seek to " << t << " from " << before;
      EXPECT_EQ(in.CurrentBlock(), total) << t;
      in.Flush();
    }
  }
}

TEST(ApeInput, ASeekBeforeInitStartsTheWindowThere) {
  const std::string path = FixturePath("audio/mac-399.ape");
  TMACIn in;
  in.SetFileName(path);
  std::vector<uint8_t> all = DecodeAll(in);
  ASSERT_TRUE(in.Seek(44100));
  std::vector<uint8_t> rest = DecodeAll(in);
  ASSERT_EQ(rest.size(), all.size() - 44100 * 4);
  EXPECT_TRUE(std::equal(rest.begin(), rest.end(), all.begin() + 44100 * 4));
}

// --- decoder layer ----------------------------------------------------------

TEST(ApeDecoderLayer, InformationFieldsDescribeTheFile) {
  TAPEDecompress d(FixturePath("audio/mac-399.ape"));
  EXPECT_EQ(d.InfoFileVersion(), 3990);
  EXPECT_EQ(d.InfoSampleRate(), 44100);
  EXPECT_EQ(d.InfoBitsPerSample(), 16);
  EXPECT_EQ(d.InfoBytesPerSample(), 2);
  EXPECT_EQ(d.InfoChannels(), 2);
  EXPECT_EQ(d.InfoBlockAlign(), 4);
  EXPECT_EQ(d.InfoTotalBlocks(), 156556);
  EXPECT_EQ(d.InfoTotalFrames(), 3);
  EXPECT_EQ(d.InfoFinalFrameBlocks(), 156556 - 2 * 73728);
  EXPECT_EQ(d.InfoFrameBlocks(2), 156556 - 2 * 73728);
  EXPECT_EQ(d.InfoFrameBlocks(3), -1);
  EXPECT_EQ(d.InfoWavDataBytes(), 626224);
  EXPECT_EQ(d.InfoWavTotalBytes(), 626224 + d.InfoWavHeaderBytes() + d.InfoWavTerminatingBytes());
  EXPECT_EQ(d.InfoApeTotalBytes(), 85212);
  EXPECT_EQ(d.InfoLengthMS(), 3550);
  EXPECT_EQ(d.InfoAverageBitrage(), 85212 * 8 / 3550);
  EXPECT_EQ(d.InfoDecompressedBitrate(), 1411);
  EXPECT_GT(d.InfoSeekByte(1), d.InfoSeekByte(0));
  EXPECT_GT(d.InfoFrameBitrate(0), 0);
  TApeWaveFormatEx wfx{};
  EXPECT_EQ(d.InfoWaveFormatEx(&wfx), 0);
  EXPECT_EQ(wfx.nChannels, 2);
  EXPECT_EQ(wfx.nSamplesPerSec, 44100u);
  EXPECT_EQ(wfx.nBlockAlign, 4);
  uint8_t header[44];
  EXPECT_EQ(d.InfoWavHeaderData(header, sizeof(header)), 0);
  EXPECT_EQ(std::memcmp(header, "RIFF", 4), 0);
  EXPECT_EQ(d.InfoWavHeaderData(header, 10), -1) << "a buffer too small is refused";
  EXPECT_EQ(d.GetInfo(4242), -1);

  TAPEDecompress old(FixturePath("audio/mac-396.ape"));
  EXPECT_EQ(old.InfoFileVersion(), 3960);
}

TEST(ApeDecoderLayer, CurrentBlockFollowsReadsAndSeeks) {
  TAPEDecompress d(FixturePath("audio/mac-399.ape"));
  std::vector<uint8_t> buf(4 * 1000);
  int64_t got = 0;
  d.GetData(buf.data(), 1000, &got);
  EXPECT_EQ(got, 1000);
  EXPECT_EQ(d.CurrentBlock(), 1000);
  EXPECT_EQ(d.CurrentMS(), 1000 * 1000 / 44100);
  EXPECT_EQ(d.Seek(100000), ERROR_SUCCESS);
  EXPECT_EQ(d.CurrentBlock(), 100000);
  EXPECT_EQ(d.CurrentBitrate(), d.InfoFrameBitrate(1));
  EXPECT_EQ(d.Seek(-1), ERROR_BAD_PARAMETER);
  EXPECT_EQ(d.Seek(10000000), ERROR_SUCCESS);
  d.GetData(buf.data(), 1000, &got);
  EXPECT_EQ(got, 0) << "nothing past the end";
}

TEST(ApeDecoderLayer, PositionPropertiesCanBeReadWhileAnotherThreadDecodes) {
  TMACIn in;
  in.SetFileName(FixturePath("audio/mac-399.ape"));
  in.Init();
  std::atomic<bool> done{false};
  std::atomic<int64_t> maxSeen{0};
  std::thread reader([&] {
    while (!done) {
      int64_t b = in.CurrentBlock();
      (void)in.CurrentBitrate();
      (void)in.CurrentMS();
      if (b > maxSeen) maxSeen = b;
    }
  });
  std::vector<uint8_t> pcm = ReadAll(in, 4096);
  done = true;
  reader.join();
  EXPECT_EQ(pcm.size(), 626224u);
  EXPECT_LE(maxSeen.load(), 156556);
  in.Flush();
  EXPECT_EQ(in.CurrentBlock(), 0) << "no decoder after Flush";
}

TEST(ApeDecoderLayer, ErrorTextsFollowTheCodeTable) {
  EXPECT_EQ(MacErrorText(0), "OK");
  EXPECT_EQ(MacErrorText(1002), "invalid input file");
  EXPECT_EQ(MacErrorText(1004), "input file file too large");
  EXPECT_EQ(MacErrorText(1010), "decompressing frame");
  EXPECT_EQ(MacErrorText(3001), "loading MACinfo.dll");
  EXPECT_EQ(MacErrorText(4001), "skipped...");
  EXPECT_EQ(MacErrorText(6000), "APE compress too much data");
  EXPECT_EQ(MacErrorText(1234), "undefined (1234)");
  EXPECT_EQ(MacErrorText(-5), "undefined (-5)");
  EXPECT_STREQ(EAPEException(1013).what(), "MACDll error: unsupported file type");
}

// --- failures ---------------------------------------------------------------

std::string OpenError(const std::string& Path) {
  TMACIn in;
  in.SetFileName(Path);
  try {
    in.OpenFile();
  } catch (const EAPEException& e) {
    EXPECT_FALSE(in.Valid());
    return e.what();
  } catch (const std::exception& e) {
    return std::string("other: ") + e.what();
  }
  return "";
}

TEST(ApeInput, FilesTheDecoderRejectsRaiseItsErrorText) {
  const std::string dir = ScratchDir("ape_reject");
  WriteFileBytes(dir + "/text.ape", std::vector<uint8_t>(1000, 'a'));
  WriteFileBytes(dir + "/empty.ape", {});
  struct {
    std::string Path;
    const char* Message;
  } cases[] = {
      {FixturePath("bad/longloop.ape"), "MACDll error: invalid input file"},
      {FixturePath("audio/sinewave.flac"), "MACDll error: invalid input file"},
      {dir + "/text.ape", "MACDll error: invalid input file"},
      {dir + "/empty.ape", "MACDll error: invalid input file"},
      {dir + "/missing.ape", "MACDll error: invalid input file"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(OpenError(c.Path), c.Message) << c.Path;
}

TEST(ApeInput, TruncatedAndDamagedFilesNeverCrashOrHang) {
  const std::vector<uint8_t> whole = ReadFileBytes(FixturePath("audio/mac-399.ape"));
  ASSERT_GT(whole.size(), 80000u);
  const std::string dir = ScratchDir("ape_truncated");
  std::vector<std::vector<uint8_t>> variants;
  for (size_t len : {size_t{4}, size_t{32}, size_t{60}, size_t{100}, size_t{500}, size_t{26000},
                     whole.size() / 2, whole.size() - 3000, whole.size() - 1})
    variants.emplace_back(whole.begin(), whole.begin() + len);
  for (size_t at : {size_t{52}, size_t{70}, size_t{200}, size_t{30000}, whole.size() - 2000}) {
    std::vector<uint8_t> v = whole;
    for (size_t i = at; i < at + 64 && i < v.size(); ++i)
      v[i] ^= 0x5A;
    variants.push_back(v);
  }
  for (size_t i = 0; i < variants.size(); ++i) {
    const std::string path = dir + "/v" + std::to_string(i) + ".ape";
    WriteFileBytes(path, variants[i]);
    TMACIn in;
    in.SetFileName(path);
    try {
      if (!in.Valid()) continue;
      std::vector<uint8_t> pcm = DecodeAll(in);
      EXPECT_LE(pcm.size(), 626224u + 4 * 73728) << i;
      EXPECT_EQ(pcm.size() % 4, 0u) << i;
      in.Init();
      in.Seek(100000);
      ReadAll(in, 16384);
      in.Flush();
    } catch (const EAuException&) {
      // A rejected file is a correct outcome.
    }
  }
}

TEST(ApeInput, OpeningRaisesExactlyWhenTheDecoderIsNotAvailable) {
  TMACIn in;
  in.SetFileName(FixturePath("audio/mac-399.ape"));
  TDecoderEnvironment missing;
  missing.MacLibraryAvailable = false;
  in.SetEnvironment(missing);
  try {
    in.OpenFile();
    ADD_FAILURE() << "no exception";
  } catch (const EAPEException&) {
    ADD_FAILURE() << "the decoder's error instead of the library's";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "MACDll.dll library could not be loaded.");
  }
  EXPECT_FALSE(in.Valid());
  in.SetEnvironment(TDecoderEnvironment{});
  EXPECT_TRUE(in.Valid());
  EXPECT_EQ(DecodeAll(in).size(), 626224u);
}

// --- tags -------------------------------------------------------------------

TEST(ApeInput, TagsOfTheFixturesAsTheyAreStored) {
  {
    TMACIn in;
    in.SetFileName(FixturePath("audio/mac-399-tagged.ape"));
    const std::string x2048(2048, 'x');
    EXPECT_EQ(in.APEv2Tags().Title(), x2048) << "APE values are not cut to 30 bytes";
    EXPECT_EQ(in.APEv2Tags().Artist(), x2048);
    EXPECT_EQ(in.APEv2Tags().Album(), x2048);
    EXPECT_EQ(in.CommonTags().Title(), x2048);
    EXPECT_EQ(in.CommonTags().Artist(), x2048);
    EXPECT_EQ(in.CommonTags().Album(), x2048);
  }
  {
    TMACIn in;
    in.SetFileName(FixturePath("audio/mac-399-id3v2.ape"));
    EXPECT_EQ(in.APEv2Tags().Title(), "TitleXXXX");
    EXPECT_EQ(in.CommonTags().Title(), "TitleXXXX");
    EXPECT_EQ(in.CommonTags().Artist(), "ArtistXXXX");
    EXPECT_EQ(in.CommonTags().Album(), "AlbumXXXX");
  }
  {
    TMACIn in;
    in.SetFileName(FixturePath("audio/mac-399.ape"));
    EXPECT_TRUE(in.APEv2Tags().Empty());
    EXPECT_EQ(in.CommonTags().Title(), "");
    EXPECT_EQ(in.CommonTags().Track(), "");
  }
}

TEST(ApeInput, TagsOfAnEarlierFileDoNotSurviveIntoATaglessOne) {
  TMACIn in;
  in.SetFileName(FixturePath("audio/mac-399-id3v2.ape"));
  in.OpenFile();
  ASSERT_EQ(in.CommonTags().Title(), "TitleXXXX");
  in.SetFileName(FixturePath("audio/mac-399.ape"));
  in.OpenFile();
  EXPECT_EQ(in.CommonTags().Title(), "");
  EXPECT_TRUE(in.APEv2Tags().Empty());
}

TEST(ApeInput, TheTagRecordExportCutsTheApeTagToTheRecordsWidths) {
  TId3v1Record rec;
  ASSERT_EQ(GetID3Tag(FixturePath("audio/mac-399-tagged.ape"), &rec), 0);
  EXPECT_EQ(std::string(rec.Title, 30), std::string(30, 'x'));
  EXPECT_NE(GetID3Tag(FixturePath("audio/mac-399.ape"), &rec), 0);
  EXPECT_NE(GetID3Tag(FixturePath("audio/no-such-file.ape"), &rec), 0);
}

}  // namespace
