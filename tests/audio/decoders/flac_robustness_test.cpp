// Damaged files, the MD5 check and a missing library: the input reports
// what happened and never crashes, hangs or reads outside its buffers.

#include <gtest/gtest.h>

#include <functional>

#include "audio/decoders/AudioFLAC.h"
#include "audio/decoders/LibraryBindings.h"
#include "common/TestPaths.h"
#include "tests/audio/decoders/FlacTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;

namespace {

// Opens, reads to the end, seeks and reads again, with every step bounded.
// Any failure must be an EAuException. Returns the first read's bytes.
Bytes Exercise(const std::string& Path, bool& Hung) {
  Hung = false;
  Bytes got;
  TFLACIn in;
  in.SetFileName(Path);
  try {
    if (!in.Valid()) return got;
    in.Init();
    got = ReadAll(in, 10000, 20000, &Hung);
    in.Seek(1000);
    bool hung2 = false;
    ReadAll(in, 10000, 20000, &hung2);
    Hung = Hung || hung2;
    in.Flush();
  } catch (const EAuException&) {
    // A documented error is an acceptable outcome for a damaged file.
  }
  return got;
}

bool IsPrefix(const Bytes& Part, const Bytes& Whole) {
  return Part.size() <= Whole.size() && std::equal(Part.begin(), Part.end(), Whole.begin());
}

// STREAMINFO promises 19 million frames; the file holds six blocks and some
// damage. The input must deliver what the reference decoder recovers and
// stop at the end of the audio instead of repeating its last block up to the
// promised length.
TEST(FlacRobustness, TheBadEmptySeektableFixtureEndsAtItsAudio) {
  const std::string path = FixturePath("bad/empty-seektable.flac");
  const Bytes ref = ReferenceDecode(path, /*ThroughErrors=*/true);
  ASSERT_FALSE(ref.empty());
  bool hung = false;
  const Bytes got = Exercise(path, hung);
  EXPECT_FALSE(hung);
  EXPECT_TRUE(got == ref) << got.size() << " bytes, reference " << ref.size();
}

// Cut a file at points inside the marker, the STREAMINFO block, the other
// metadata and the audio: what is delivered is always a prefix of the audio.
TEST(FlacRobustness, TruncatedFilesDeliverAPrefixOfTheAudio) {
  const std::string src = FixturePath("audio/silence-44-s.flac");
  const Bytes file = ReadFileBytes(src);
  const Bytes ref = ReferenceDecode(src);
  ASSERT_FALSE(ref.empty());
  const std::string dir = ScratchDir("flac-truncated");
  const size_t cuts[] = {0,
                         1,
                         3,
                         4,
                         8,
                         20,
                         41,
                         42,
                         60,
                         200,
                         400,
                         1000,
                         8000,
                         file.size() / 2,
                         file.size() - 100,
                         file.size() - 1};
  for (size_t cut : cuts) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    const std::string path = dir + "/cut.flac";
    WriteFileBytes(path, Bytes(file.begin(), file.begin() + static_cast<ptrdiff_t>(cut)));
    bool hung = false;
    const Bytes got = Exercise(path, hung);
    EXPECT_FALSE(hung);
    EXPECT_TRUE(IsPrefix(got, ref)) << got.size() << " bytes";
  }
}

// Flipped bits in the metadata and in the audio frames: the damaged frames
// may be lost, but nothing crashes or hangs and the output stays bounded.
TEST(FlacRobustness, FlippedBitsNeverCrashOrHang) {
  const std::string src = FixturePath("audio/sinewave.flac");
  const Bytes file = ReadFileBytes(src);
  const std::string dir = ScratchDir("flac-flipped");
  std::vector<size_t> spots = {4, 5, 8, 9, 12, 17, 18, 19, 21, 25, 30, 37, 38, 41, 42, 45};
  for (size_t at = 60; at < file.size(); at += file.size() / 23)
    spots.push_back(at);
  for (size_t at : spots) {
    for (uint8_t mask : {uint8_t{0x01}, uint8_t{0x80}, uint8_t{0xFF}}) {
      SCOPED_TRACE("byte " + std::to_string(at) + " mask " + std::to_string(mask));
      Bytes damaged = file;
      damaged[at] ^= mask;
      const std::string path = dir + "/flipped.flac";
      WriteFileBytes(path, damaged);
      bool hung = false;
      const Bytes got = Exercise(path, hung);
      EXPECT_FALSE(hung);
      EXPECT_LE(got.size(), 156556u * 4 + 65536u * 4);
    }
  }
}

TEST(FlacRobustness, FilesThatAreNotFlacAreNotValid) {
  const std::string dir = ScratchDir("flac-notflac");
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"empty", {}},
      {"marker-only", {'f', 'L', 'a', 'C'}},
      {"zeros", Bytes(10000, 0)},
      {"ones", Bytes(10000, 0xFF)},
      {"mp3", ReadFileBytes(FixturePath("audio/xing.mp3"))},
  };
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    const std::string path = dir + "/" + name + ".flac";
    WriteFileBytes(path, bytes);
    TFLACIn in;
    in.SetFileName(path);
    EXPECT_FALSE(in.Valid());
    // Reading an invalid file delivers nothing and raises nothing.
    in.Init();
    bool hung = false;
    EXPECT_TRUE(ReadAll(in, 4096, 1000, &hung).empty());
    EXPECT_FALSE(hung);
    in.Flush();
  }
}

class FlacMd5 : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = ScratchDir("flac-md5");
    good = MakeFlac(dir, "good", {44100, 2, 16, 1.0});
    ASSERT_FALSE(good.empty());
    Bytes file = ReadFileBytes(good);
    file[26] ^= 0x01;  // first byte of the MD5 signature in STREAMINFO
    bad = dir + "/bad-md5.flac";
    WriteFileBytes(bad, file);
  }

  // Decodes the whole file (optionally seeking back to the start first) and
  // closes it; returns IsMD5SignatureValid.
  static bool DecodeAndCheck(TFLACIn& In, const std::string& Path, bool SeekFirst = false) {
    In.SetFileName(Path);
    In.Init();
    if (SeekFirst) {
      EXPECT_TRUE(In.Seek(0));
    }
    ReadAll(In, 10000);
    In.Flush();
    return In.IsMD5SignatureValid();
  }

  std::string dir, good, bad;
};

TEST_F(FlacMd5, CheckOnPassesMatchingAudioAndFailsAMismatch) {
  TFLACIn in;
  in.SetCheckMD5Signature(true);
  EXPECT_TRUE(DecodeAndCheck(in, good));
  EXPECT_FALSE(DecodeAndCheck(in, bad));
}

TEST_F(FlacMd5, CheckOffReportsNoMismatch) {
  TFLACIn in;
  in.SetCheckMD5Signature(false);
  EXPECT_TRUE(DecodeAndCheck(in, bad));
}

// A seek turns the check off for that open file only: the setting itself
// survives, so the next file is checked again.
TEST_F(FlacMd5, ASeekSkipsTheCheckForThatFileOnly) {
  TFLACIn in;
  in.SetCheckMD5Signature(true);
  EXPECT_TRUE(DecodeAndCheck(in, bad, /*SeekFirst=*/true));
  EXPECT_TRUE(in.CheckMD5Signature());
  EXPECT_FALSE(DecodeAndCheck(in, bad));
}

// The library's absence is reported on every open with the binding's text,
// and a library that becomes available again is picked up.
TEST(FlacLibrary, AMissingBindingRaisesCouldNotBeLoaded) {
  TDecoderEnvironment missing;
  missing.FlacLibraryAvailable = false;
  EXPECT_FALSE(FlacImageLoaded(missing));
  TFLACIn in;
  in.SetEnvironment(missing);
  in.SetFileName(FixturePath("audio/sinewave.flac"));
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      in.OpenFile();
      FAIL() << "no exception";
    } catch (const EAuException& e) {
      EXPECT_STREQ(e.what(), "libFLAC.dll library could not be loaded.");
    }
  }
  EXPECT_FALSE(in.Valid());
  EXPECT_FALSE(LastLoaderError().empty());
  try {
    in.Init();
    FAIL() << "no exception";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "libFLAC.dll library could not be loaded.");
  }
  in.Flush();

  in.SetEnvironment(TDecoderEnvironment{});
  EXPECT_TRUE(in.Valid());
  EXPECT_TRUE(FlacImageLoaded(in.Environment()));
}

// The library's absence belongs to one decoder's environment: a decoder
// beside it still decodes, and its successful load makes the library no more
// available to the first.
TEST(FlacLibrary, AMissingLibraryInOneEnvironmentLeavesOtherDecodersWorking) {
  TDecoderEnvironment missing;
  missing.FlacLibraryAvailable = false;
  TFLACIn without;
  without.SetEnvironment(missing);
  without.SetFileName(FixturePath("audio/sinewave.flac"));
  TFLACIn with;
  with.SetFileName(FixturePath("audio/sinewave.flac"));
  EXPECT_THROW(without.OpenFile(), EAuException);
  EXPECT_TRUE(with.Valid());
  EXPECT_TRUE(FlacImageLoaded());
  EXPECT_FALSE(without.Valid());
  EXPECT_THROW(without.OpenFile(), EAuException);
}

}  // namespace
