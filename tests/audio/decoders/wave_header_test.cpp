// The header scan: codes in any case, leading garbage, chunks passed over,
// the pad byte, the header window, the format records and the files that
// must end up invalid without crashing or hanging.

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/audio/decoders/WavTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;
using namespace lirvo::test::wav;

namespace {

TEST(WaveCode, MatchesInAnyCaseAndOnlyThere) {
  struct Case {
    const char* code;
    const char* expected;
    bool match;
  } cases[] = {
      {"RIFF", "RIFF", true}, {"riff", "RIFF", true},  {"RiFf", "RIFF", true},
      {"fmt ", "fmt ", true}, {"FMT ", "fmt ", true},  {"fmt\0", "fmt ", true},
      {"fmt@", "fmt ", true}, {"fmt!", "fmt ", false}, {"data", "fact", false},
      {"dat", "data", false}, {"DATA", "data", true},  {"Rjff", "RIFF", false},
  };
  for (const Case& c : cases) {
    uint8_t code[4] = {};
    std::memcpy(code, c.code, std::min<size_t>(4, std::strlen(c.code) + 1));
    if (std::strlen(c.code) == 4) std::memcpy(code, c.code, 4);
    EXPECT_EQ(WaveCodeMatches(code, c.expected), c.match) << c.code << " vs " << c.expected;
  }
}

struct Layout {
  const char* name;
  Bytes before;  // bytes before RIFF
  const char* riff;
  const char* wave;
  const char* fmt;
  const char* data;
  std::vector<std::pair<std::string, Bytes>> beforeFmt, beforeData;
  bool padOddChunks;
  bool valid;
};

Bytes Build(const Layout& L, const Bytes& Payload, size_t* DataOffset) {
  Bytes body;
  for (const auto& [code, b] : L.beforeFmt)
    PutChunk(body, code.c_str(), b, L.padOddChunks);
  PutChunk(body, L.fmt, FmtBody(1, 2, 22050, 16));
  for (const auto& [code, b] : L.beforeData)
    PutChunk(body, code.c_str(), b, L.padOddChunks);
  PutChunk(body, L.data, Payload);
  Bytes file = L.before;
  Bytes riff = Riff(body, L.riff, L.wave);
  file.insert(file.end(), riff.begin(), riff.end());
  *DataOffset = file.size() - Payload.size() - (Payload.size() & 1);
  return file;
}

class HeaderLayout : public ::testing::TestWithParam<Layout> {};

TEST_P(HeaderLayout, FindsTheSamplesOrRejectsTheFile) {
  const Layout& L = GetParam();
  const Bytes payload = Pattern(4 * 3000);
  size_t dataOffset = 0;
  Bytes file = Build(L, payload, &dataOffset);
  TMemoryStream s(file.data(), file.size());
  TWaveIn in;
  in.SetStream(&s);
  ASSERT_EQ(in.Valid(), L.valid);
  if (!L.valid) {
    EXPECT_EQ(in.WavType(), wtUnsupported);
    return;
  }
  EXPECT_EQ(in.WavType(), wtPCM);
  EXPECT_EQ(in.HeaderSize(), dataOffset);
  EXPECT_EQ(in.TotalSamples(), 3000);
  in.Init();
  Bytes got = ReadAll(in, 1000);
  in.Flush();
  EXPECT_TRUE(got == payload);
}

const Bytes kJunk = Pattern(10, 7);
const Bytes kOdd = Pattern(13, 8);

INSTANTIATE_TEST_SUITE_P(
    Layouts, HeaderLayout,
    ::testing::Values(
        Layout{"Canonical", {}, "RIFF", "WAVE", "fmt ", "data", {}, {}, true, true},
        Layout{"LowerCaseCodes", {}, "riff", "wave", "FMT ", "DATA", {}, {}, true, true},
        Layout{
            "LeadingGarbage", Pattern(333, 3), "RIFF", "WAVE", "fmt ", "data", {}, {}, true, true},
        Layout{"ChunksBeforeFmtAndData",
               {},
               "RIFF",
               "WAVE",
               "fmt ",
               "data",
               {{"JUNK", kJunk}},
               {{"LIST", kJunk}, {"fact", Bytes{1, 0, 0, 0}}},
               true,
               true},
        Layout{"OddChunkWithPadBeforeData",
               {},
               "RIFF",
               "WAVE",
               "fmt ",
               "data",
               {},
               {{"odd ", kOdd}},
               true,
               true},
        Layout{"OddChunkWithPadBeforeFmt",
               {},
               "RIFF",
               "WAVE",
               "fmt ",
               "data",
               {{"odd ", kOdd}},
               {},
               true,
               true},
        Layout{"ZeroSizedChunks",
               {},
               "RIFF",
               "WAVE",
               "fmt ",
               "data",
               {{"zero", {}}},
               {{"none", {}}},
               true,
               true},
        Layout{"NoRiff", {}, "RIFX", "WAVE", "fmt ", "data", {}, {}, true, false},
        Layout{"NoWave", {}, "RIFF", "AVI ", "fmt ", "data", {}, {}, true, false},
        Layout{"NoFmt", {}, "RIFF", "WAVE", "fnt ", "data", {}, {}, true, false},
        Layout{"NoData", {}, "RIFF", "WAVE", "fmt ", "dada", {}, {}, true, false},
        // A chunk too big for the header window before the samples.
        Layout{"DataBeyondTheHeaderWindow",
               {},
               "RIFF",
               "WAVE",
               "fmt ",
               "data",
               {},
               {{"LIST", Pattern(70000, 9)}},
               true,
               false},
        Layout{"GarbageFillingTheHeaderWindow",
               Pattern(65536, 4),
               "RIFF",
               "WAVE",
               "fmt ",
               "data",
               {},
               {},
               true,
               false}),
    [](const auto& Info) { return std::string(Info.param.name); });

// The scan gives up after 65,535 bytes: samples starting just inside that
// are found, just beyond are not.
TEST(WaveHeaderWindow, SamplesMustStartWithinTheWindow) {
  // The samples start 52 bytes after the junk; an odd size adds a pad byte.
  for (size_t junk : {65000u, 65482u, 65483u, 65484u}) {
    Bytes body;
    PutChunk(body, "fmt ", FmtBody(1, 1, 8000, 8));
    PutChunk(body, "JUNK", Bytes(junk, 0x55));
    PutChunk(body, "data", Pattern(100));
    Bytes file = Riff(body);
    const size_t dataAt = file.size() - 100;
    ASSERT_EQ(dataAt, 52 + junk + (junk & 1));
    TMemoryStream s(file.data(), file.size());
    TWaveIn in;
    in.SetStream(&s);
    EXPECT_EQ(in.Valid(), dataAt < 65535) << "samples at " << dataAt;
  }
}

struct FormatCase {
  const char* name;
  Bytes fmt;
  bool valid;
  TWavType type;
  uint32_t bits;
};

class FormatRecord : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatRecord, IsClassifiedAsExpected) {
  const FormatCase& c = GetParam();
  Bytes body;
  PutChunk(body, "fmt ", c.fmt);
  PutChunk(body, "fact", Bytes{100, 0, 0, 0});
  PutChunk(body, "data", Bytes(4096, 0));
  Bytes file = Riff(body);
  TMemoryStream s(file.data(), file.size());
  TWaveIn in;
  in.SetStream(&s);
  EXPECT_EQ(in.Valid(), c.valid);
  EXPECT_EQ(in.WavType(), c.type);
  if (c.valid) {
    EXPECT_EQ(in.BitsPerSample(), c.bits);
    in.Init();
    EXPECT_FALSE(ReadAll(in).empty());
    in.Flush();
  } else {
    // An invalid file plays as nothing: 8000 Hz, 8 bits, mono, no data.
    in.Init();
    EXPECT_EQ(in.SampleRate(), 8000u);
    EXPECT_EQ(in.BitsPerSample(), 8u);
    EXPECT_EQ(in.Channels(), 1u);
    EXPECT_EQ(in.Size(), 0);
    EXPECT_TRUE(ReadAll(in).empty());
    in.Flush();
  }
}

Bytes WithExtra(Bytes B, std::initializer_list<uint16_t> Words) {
  for (uint16_t w : Words)
    Put16(B, w);
  return B;
}

INSTANTIATE_TEST_SUITE_P(
    Records, FormatRecord,
    ::testing::Values(
        FormatCase{"ExtensibleFloat", ExtensibleBody(2, 44100, 32, 3), true, wtExtIEEEFloat, 32},
        FormatCase{"ExtensiblePcm24", ExtensibleBody(2, 44100, 24, 1), true, wtExtPCM, 24},
        FormatCase{"ExtensibleOtherSubFormat", ExtensibleBody(2, 44100, 16, 0x1234), false,
                   wtUnsupported, 0},
        FormatCase{"UnknownTag", FmtBody(0x7777, 2, 44100, 16), false, wtUnsupported, 0},
        FormatCase{"ThreeBitIma", WithExtra(FmtBody(0x11, 1, 8000, 3, 256), {2, 505}), false,
                   wtDVIADPCM, 8},
        FormatCase{"ImaBlockLongerThanTheData",
                   WithExtra(FmtBody(0x11, 1, 8000, 4, 0xFFFF), {2, 505}), true, wtDVIADPCM, 16},
        FormatCase{"FloatOfSixteenBits", FmtBody(3, 2, 44100, 16), false, wtIEEEFloat, 8},
        FormatCase{"NoChannels", FmtBody(1, 0, 44100, 16, 4), false, wtPCM, 8},
        FormatCase{"NoRate", FmtBody(1, 2, 0, 16), false, wtPCM, 8},
        FormatCase{"NoBits", FmtBody(1, 2, 44100, 0, 4), false, wtPCM, 8},
        // Twelve-bit samples are stored in two bytes and delivered so.
        FormatCase{"TwelveBitsInTwoBytes", FmtBody(1, 2, 44100, 12), true, wtPCM, 16},
        FormatCase{"FrameLargerThanAReadPiece", FmtBody(1, 4000, 44100, 64, 32000), false, wtPCM,
                   8}),
    [](const auto& Info) { return std::string(Info.param.name); });

// A zero block alignment: the IMA record's geometry is empty.
TEST(WaveAdpcmRecord, ZeroBlockLengthIsInvalid) {
  for (uint16_t tag : {0x11, 0x02}) {
    Bytes fmt = FmtBody(tag, 1, 8000, 4, 0xFFFF);
    fmt[12] = 0;
    fmt[13] = 0;
    Put16(fmt, tag == 0x02 ? 32 : 2);
    Put16(fmt, 505);
    if (tag == 0x02) Put16(fmt, 0);
    Bytes body;
    PutChunk(body, "fmt ", fmt);
    PutChunk(body, "fact", Bytes{100, 0, 0, 0});
    PutChunk(body, "data", Pattern(1024));
    Decoded d = DecodeBytes(Riff(body));
    EXPECT_FALSE(d.valid) << "tag " << tag;
    EXPECT_TRUE(d.pcm.empty());
  }
}

// ADPCM and converted files need their "fact" chunk: without it the scan
// passes over the data and finds no end of header.
TEST(WaveAdpcmRecord, MissingFactChunkIsInvalid) {
  Bytes fmt = WithExtra(FmtBody(0x11, 1, 8000, 4, 256), {2, 505});
  Bytes body;
  PutChunk(body, "fmt ", fmt);
  PutChunk(body, "data", Pattern(1024));
  EXPECT_FALSE(DecodeBytes(Riff(body)).valid);
}

// A payload FFmpeg cannot make anything of: the conversion fails, the file
// is invalid and is not left open.
TEST(WaveConverted, UndecodablePayloadIsInvalidAndLeftClosed) {
  Bytes fmt = FmtBody(0x55, 2, 44100, 0, 1152);
  Put16(fmt, 0);
  Bytes body;
  PutChunk(body, "fmt ", fmt);
  PutChunk(body, "fact", Bytes{0, 1, 0, 0});
  PutChunk(body, "data", Bytes(5000, 0));
  Bytes file = Riff(body);
  TMemoryStream s(file.data(), file.size());
  struct Probe : TWaveIn {
    int Opened() const { return FOpened; }
  } in;
  in.SetStream(&s);
  EXPECT_FALSE(in.Valid());
  EXPECT_EQ(in.Opened(), 0);
  in.Init();
  EXPECT_TRUE(ReadAll(in).empty());
  in.Flush();
  EXPECT_EQ(in.Stream(), &s);
}

TEST(WaveOpen, MissingFileRaisesTheSystemError) {
  TWaveIn in;
  in.SetFileName(ScratchDir("wav_missing") + "/absent.wav");
  EXPECT_FALSE(in.Valid());
  try {
    in.Init();
    FAIL() << "no exception";
  } catch (const EAuException& e) {
    EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos) << e.what();
  }
}

TEST(WaveOpen, ValidLeavesAGoodFileOpenAndABadOneClosed) {
  const std::string dir = ScratchDir("wav_valid");
  Bytes body;
  PutChunk(body, "fmt ", FmtBody(1, 1, 8000, 16));
  PutChunk(body, "data", Pattern(200));
  WriteFileBytes(dir + "/good.wav", Riff(body));
  WriteFileBytes(dir + "/bad.wav", Pattern(200));
  struct Probe : TWaveIn {
    int Opened() const { return FOpened; }
    TStream* S() const { return FStream; }
  };
  Probe good, bad;
  good.SetFileName(dir + "/good.wav");
  bad.SetFileName(dir + "/bad.wav");
  EXPECT_TRUE(good.Valid());
  EXPECT_NE(good.Opened(), 0);
  EXPECT_FALSE(bad.Valid());
  EXPECT_EQ(bad.Opened(), 0);
  EXPECT_EQ(bad.S(), nullptr);
}

// Damaged and hostile files never crash or hang; each ends as invalid or as
// the outcome its damage allows.
struct BadCase {
  const char* file;
  bool valid;
  size_t bytes;  // delivered when valid
};

class BadFixture : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadFixture, EndsAsDocumented) {
  const BadCase& c = GetParam();
  Decoded d = DecodeFile(FixturePath(std::string("bad/") + c.file));
  EXPECT_EQ(d.valid, c.valid);
  EXPECT_EQ(d.pcm.size(), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    SharedBad, BadFixture,
    ::testing::Values(BadCase{"invalid-chunk.wav", false, 0},
                      // A header whose data chunk holds 14,700 bytes of silence.
                      BadCase{"empty.wav", true, 14700},
                      // A data size of 0: the size is unknown, the samples run
                      // to the end of the file.
                      BadCase{"zero-size-chunk.wav", true, 1024 - 44}),
    [](const auto& Info) {
      std::string n = Info.param.file;
      for (auto& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

// Every prefix of a file and files with flipped bytes: whatever the scan and
// the decoders make of them, they stop, and never deliver more than the
// header promised.
TEST(WaveDamage, TruncationsAndBitFlipsNeverCrashOrHang) {
  REQUIRE_TOOL("ffmpeg");
  const std::string dir = ScratchDir("wav_damage");
  const char* codecs[] = {"-c:a pcm_s16le",
                          "-c:a adpcm_ima_wav -block_size 256",
                          "-c:a adpcm_ms -block_size 256",
                          "-c:a pcm_f64le",
                          "-c:a pcm_mulaw",
                          "-ac 1 -ar 8000 -c:a libgsm_ms"};
  int n = 0;
  for (const char* codec : codecs) {
    const std::string path = dir + "/src" + std::to_string(n++) + ".wav";
    ASSERT_TRUE(Ffmpeg(ToneSource(0.05, 8000) + " " + codec, path));
    const Bytes file = ReadFileBytes(path);
    std::vector<Bytes> variants;
    for (size_t cut = 0; cut < file.size(); cut += (cut < 200 ? 1 : 97))
      variants.emplace_back(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
    uint32_t x = 99;
    for (int i = 0; i < 300; ++i) {
      Bytes v = file;
      x = x * 1664525u + 1013904223u;
      // Mostly the header, where the damage matters most.
      const size_t at = (i % 3 == 0) ? x % v.size() : x % std::min<size_t>(v.size(), 200);
      v[at] ^= static_cast<uint8_t>(1u << (x >> 29));
      variants.push_back(std::move(v));
    }
    for (const Bytes& v : variants) {
      Decoded d = DecodeBytes(v, 333);
      if (!d.valid) {
        EXPECT_TRUE(d.pcm.empty());
        continue;
      }
      if (d.totalSamples > 0) {
        EXPECT_LE(d.pcm.size(), static_cast<size_t>(d.totalSamples) * d.channels * d.bits / 8);
      }
    }
  }
}

}  // namespace
