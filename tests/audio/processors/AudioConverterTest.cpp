// The width/channel converter against a source that hands out prepared
// bytes: pass-through, the exact fast paths, the float path, sizes, trimming,
// refused formats and the bound of the pool buffers.

#include "audio/processors/AudioConverters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "audio/core/Pool.h"
#include "common/RawFileIn.h"
#include "common/TestFiles.h"
#include "common/TestPaths.h"

namespace lirvo {
namespace {

using test::ReadAll;

// Delivers Data in blocks of at most MaxBlock bytes (whole frames), from its
// own buffer, and records every request.
class TBytesSource : public TAuInput {
 public:
  TBytesSource(uint32_t ABits, uint32_t AChans, std::vector<uint8_t> AData)
      : TAuInput(nullptr), Bits(ABits), Chans(AChans), Data(std::move(AData)) {}
  ~TBytesSource() override { NotifyRemoval(); }

  uint32_t Bits;
  uint32_t Chans;
  std::vector<uint8_t> Data;
  int64_t ReportedSize = -2;  // -2: the data's length
  uint32_t MaxBlock = 1u << 30;
  bool IgnoreLimit = false;  // misbehave: deliver more than asked
  bool GrowSize = false;     // the size is an estimate that grows with what was delivered
  std::vector<uint32_t> Requests;
  const uint8_t* LastBlock = nullptr;
  int Inits = 0;
  int Flushes = 0;

 protected:
  uint32_t GetBitsPerSample() override { return Bits; }
  uint32_t GetChannels() override { return Chans; }
  uint32_t GetSampleRate() override { return 44100; }
  void InitInternal() override {
    ++Inits;
    FPosition = 0;
    FSize = ReportedSize == -2 ? int64_t(Data.size()) : ReportedSize;
    Offset = 0;
    Busy = true;
  }
  void FlushInternal() override {
    ++Flushes;
    Busy = false;
  }
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override {
    Requests.push_back(Bytes);
    uint32_t frame = std::max<uint32_t>(1, Bits / 8 * Chans);
    size_t left = Data.size() - Offset;
    size_t n = IgnoreLimit ? left : std::min<size_t>({Bytes, left, MaxBlock});
    n -= n % frame;
    if (n == 0) {
      Buffer = nullptr;
      Bytes = 0;
      return;
    }
    Buffer = Data.data() + Offset;
    LastBlock = Buffer;
    Bytes = uint32_t(n);
    Offset += n;
    if (GrowSize) FSize = std::max<int64_t>(FSize, static_cast<int64_t>(Offset));
  }

 private:
  size_t Offset = 0;
};

template <class T>
std::vector<uint8_t> BytesOf(std::initializer_list<T> values) {
  std::vector<uint8_t> out(values.size() * sizeof(T));
  std::memcpy(out.data(), std::data(values), out.size());
  return out;
}

template <class T>
std::vector<T> Values(const uint8_t* p, uint32_t bytes) {
  std::vector<T> out(bytes / sizeof(T));
  std::memcpy(out.data(), p, out.size() * sizeof(T));
  return out;
}

struct Fixture {
  Fixture(uint32_t bits, uint32_t chans, std::vector<uint8_t> data, int32_t outBits = 32,
          int32_t outChans = 2)
      : source(bits, chans, std::move(data)) {
    conv.SetOutBitsPerSample(outBits);
    conv.SetOutChannels(outChans);
    conv.SetInput(&source);
  }
  TBytesSource source;
  TAudioConverter conv;
};

TEST(AudioConverter, PassThroughReturnsInputBlockUnchanged) {
  Fixture f(16, 2, BytesOf<int16_t>({1, -1, 300, -300}), 0, 0);
  f.conv.Init();
  uint8_t* p = nullptr;
  uint32_t bytes = 4096;
  f.conv.GetData(p, bytes);
  EXPECT_EQ(p, f.source.Data.data()) << "pass-through must not copy";
  EXPECT_EQ(bytes, 8u);
  EXPECT_EQ(f.conv.BitsPerSample(), 16u);
  EXPECT_EQ(f.conv.Channels(), 2u);
}

TEST(AudioConverter, PassThroughAcceptsWidthsItCannotConvert) {
  Fixture f(20, 2, std::vector<uint8_t>(40, 0x11), 0, 0);
  EXPECT_NO_THROW(f.conv.Init());
  EXPECT_EQ(ReadAll(f.conv).size(), 40u);
}

TEST(AudioConverter, Widens16BitStereoExactly) {
  Fixture f(16, 2, BytesOf<uint16_t>({0x0001, 0xFFFF, 0x8000, 0x7FFF}));
  f.conv.Init();
  std::vector<uint8_t> out = ReadAll(f.conv);
  EXPECT_EQ(Values<uint32_t>(out.data(), uint32_t(out.size())),
            (std::vector<uint32_t>{0x00010000u, 0xFFFF0000u, 0x80000000u, 0x7FFF0000u}));
}

TEST(AudioConverter, Widens24BitStereoExactly) {
  Fixture f(24, 2, {0x01, 0x02, 0x03, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F});
  f.conv.Init();
  std::vector<uint8_t> out = ReadAll(f.conv);
  EXPECT_EQ(Values<uint32_t>(out.data(), uint32_t(out.size())),
            (std::vector<uint32_t>{0x03020100u, 0xFFFFFF00u, 0x80000000u, 0x7FFFFF00u}));
}

// Every integer source, mono or stereo, reaches 32-bit stereo exactly: the
// value shifted to the top (8-bit re-centred on zero first), mono on both
// channels, 32-bit unchanged. Extremes written out by hand.
struct ExactCase {
  const char* what;
  uint32_t bits, chans;
  std::vector<uint8_t> in;
  std::vector<uint32_t> want;
};

TEST(AudioConverter, IntegerSourcesWidenTo32BitStereoExactly) {
  const ExactCase cases[] = {
      {"8-bit mono",
       8,
       1,
       {0, 128, 255, 1, 127},
       {0x80000000u, 0x80000000u, 0, 0, 0x7F000000u, 0x7F000000u, 0x81000000u, 0x81000000u,
        0xFF000000u, 0xFF000000u}},
      {"8-bit stereo", 8, 2, {0, 255, 128, 129}, {0x80000000u, 0x7F000000u, 0, 0x01000000u}},
      {"16-bit mono",
       16,
       1,
       BytesOf<uint16_t>({0x8000, 0x7FFF, 0x0001, 0xFFFF}),
       {0x80000000u, 0x80000000u, 0x7FFF0000u, 0x7FFF0000u, 0x00010000u, 0x00010000u, 0xFFFF0000u,
        0xFFFF0000u}},
      {"16-bit stereo",
       16,
       2,
       BytesOf<uint16_t>({0x8000, 0x7FFF, 0x4000, 0xFFFF}),
       {0x80000000u, 0x7FFF0000u, 0x40000000u, 0xFFFF0000u}},
      {"24-bit mono",
       24,
       1,
       {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00},
       {0x80000000u, 0x80000000u, 0x7FFFFF00u, 0x7FFFFF00u, 0xFFFFFF00u, 0xFFFFFF00u, 0x00000100u,
        0x00000100u}},
      {"24-bit stereo", 24, 2, {0x00, 0x00, 0x80, 0x56, 0x34, 0x12}, {0x80000000u, 0x12345600u}},
      {"32-bit mono",
       32,
       1,
       BytesOf<uint32_t>({0x7FFFFFFFu, 0x80000000u, 0x000000FFu}),
       {0x7FFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0x80000000u, 0x000000FFu, 0x000000FFu}},
      {"32-bit stereo keeps all 32 bits",
       32,
       2,
       BytesOf<uint32_t>({0x7FFFFFFFu, 0x000000FFu, 0x80000000u, 0xFFFFFFFFu}),
       {0x7FFFFFFFu, 0x000000FFu, 0x80000000u, 0xFFFFFFFFu}},
  };
  for (const ExactCase& c : cases) {
    SCOPED_TRACE(c.what);
    Fixture f(c.bits, c.chans, c.in);
    f.conv.Init();
    std::vector<uint8_t> out = ReadAll(f.conv);
    EXPECT_EQ(Values<uint32_t>(out.data(), uint32_t(out.size())), c.want);
  }
}

// The same rule over long blocks of arbitrary samples, delivered in odd
// pieces, so that the in-place spreading of mono blocks is walked in full.
TEST(AudioConverter, LongIntegerBlocksWidenTo32BitStereoExactly) {
  for (uint32_t bits : {8u, 16u, 24u, 32u}) {
    for (uint32_t chans : {1u, 2u}) {
      SCOPED_TRACE(std::to_string(bits) + "-bit, " + std::to_string(chans) + " channel(s)");
      const uint32_t bytesPerSample = bits / 8;
      std::vector<uint8_t> in(size_t(bytesPerSample) * chans * 20011);
      uint32_t state = 12345 + bits * chans;
      for (uint8_t& b : in) {
        state = state * 1103515245u + 12345u;
        b = uint8_t(state >> 16);
      }
      std::vector<uint32_t> want;
      for (size_t i = 0; i < in.size(); i += bytesPerSample) {
        uint32_t v = 0;
        for (uint32_t k = 0; k < bytesPerSample; ++k)
          v |= uint32_t(in[i + k]) << (8 * k);
        v <<= 32 - bits;
        if (bits == 8) v ^= 0x80000000u;  // unsigned: 128 is zero
        want.push_back(v);
        if (chans == 1) want.push_back(v);
      }
      Fixture f(bits, chans, in);
      f.source.MaxBlock = 4099 * bytesPerSample * chans;
      f.conv.Init();
      std::vector<uint8_t> out = ReadAll(f.conv);
      EXPECT_TRUE(Values<uint32_t>(out.data(), uint32_t(out.size())) == want);
      EXPECT_EQ(out.size(), 4 * want.size());
    }
  }
}

// Formats that go through the float stage, with values worked out by hand:
// scale to (-1, 1), then x 2147483647 rounded to nearest (ties to even).
struct FloatPathCase {
  const char* what;
  uint32_t bits, chans;
  std::vector<uint8_t> in;
  int32_t outBits, outChans;
  std::vector<uint8_t> want;
};

TEST(AudioConverter, FloatPathValues) {
  const FloatPathCase cases[] = {
      {"8-bit mono to 16-bit stereo",
       8,
       1,
       {255, 0},
       16,
       2,
       BytesOf<int16_t>({32511, 32511, -32767, -32767})},
      {"32-bit stereo to 16-bit", 32, 2, BytesOf<int32_t>({0x40000000, -2147483647 - 1}), 16, 2,
       BytesOf<int16_t>({16384, -32767})},
      {"stereo to mono averages", 16, 2, BytesOf<int16_t>({16384, -16384, 16384, 0}), 16, 1,
       BytesOf<int16_t>({0, 8192})},
      {"16-bit stereo to 8-bit", 16, 2, BytesOf<int16_t>({0, -32768}), 8, 0, {128, 0}},
      {"16-bit stereo to 24-bit floors",
       16,
       2,
       BytesOf<int16_t>({16384, -1}),
       24,
       0,
       {0xFF, 0xFF, 0x3F, 0x00, 0xFF, 0xFF}},
  };
  for (const FloatPathCase& c : cases) {
    SCOPED_TRACE(c.what);
    Fixture f(c.bits, c.chans, c.in, c.outBits, c.outChans);
    f.conv.Init();
    EXPECT_EQ(ReadAll(f.conv), c.want);
  }
}

TEST(AudioConverter, RequestAsksInputForWholeFramesOnly) {
  Fixture f(16, 2, std::vector<uint8_t>(4000, 0));
  f.conv.Init();
  uint8_t* p = nullptr;
  uint32_t bytes = 100;
  f.conv.GetData(p, bytes);
  ASSERT_EQ(f.source.Requests.size(), 1u);
  EXPECT_EQ(f.source.Requests[0], 48u) << "12 frames of 16-bit stereo";
  EXPECT_EQ(bytes, 96u);
  EXPECT_EQ(p, PoolConverterOut);
}

TEST(AudioConverter, SizeFollowsOutputFormat) {
  struct {
    uint32_t bits, chans;
    int64_t inSize;
    int32_t outBits, outChans;
    int64_t want;
  } cases[] = {
      {16, 2, 1000, 32, 2, 2000}, {16, 2, -1, 32, 2, -1},
      {16, 2, -5, 32, 2, -1},     {16, 2, 0, 32, 2, 0},
      {8, 1, 1000, 32, 2, 8000},  {16, 1, 1001, 32, 2, 4000},  // 4004 cut to whole 8-byte frames
      {24, 2, 1002, 16, 2, 668},                               // 668 exactly
      {32, 2, 1000, 16, 1, 250},  {16, 2, 1002, 8, 1, 250},    // 250.5 rounds to even
      {16, 2, 1006, 8, 1, 252},                                // 251.5 rounds to even
      {16, 2, 1000, 0, 0, 1000},                               // pass-through
      {16, 6, 1200, 32, 2, 2400},                              // six channels kept
  };
  for (auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.bits) + "x" + std::to_string(c.chans) + " size " +
                 std::to_string(c.inSize));
    Fixture f(c.bits, c.chans, {}, c.outBits, c.outChans);
    f.source.ReportedSize = c.inSize;
    f.conv.Init();
    EXPECT_EQ(f.conv.Size(), c.want);
  }
}

TEST(AudioConverter, MoreThanTwoChannelsKeepTheirCount) {
  std::vector<int16_t> frame = {0, 16384, -16384, 32767, -32768, 1};
  std::vector<uint8_t> in(frame.size() * 2);
  std::memcpy(in.data(), frame.data(), in.size());
  Fixture f(16, 6, in);
  EXPECT_EQ(f.conv.Channels(), 6u);
  EXPECT_EQ(f.conv.BitsPerSample(), 32u);
  f.conv.Init();
  std::vector<uint8_t> out = ReadAll(f.conv);
  EXPECT_EQ(Values<int32_t>(out.data(), uint32_t(out.size())),
            (std::vector<int32_t>{0, 1073741824, -1073741824, 2147418111, -2147483647, 65536}));
}

TEST(AudioConverter, TrimsAtSizeThenEndsStream) {
  // The source claims 8 bytes but delivers 16: the converter's size is 16
  // and the second frame pair is cut off.
  Fixture f(16, 2, BytesOf<int16_t>({1, 2, 3, 4, 5, 6, 7, 8}));
  f.source.ReportedSize = 8;
  f.conv.Init();
  ASSERT_EQ(f.conv.Size(), 16);
  uint8_t* p = nullptr;
  uint32_t bytes = 4096;
  f.conv.GetData(p, bytes);
  EXPECT_EQ(bytes, 16u);
  EXPECT_EQ(Values<int32_t>(p, bytes),
            (std::vector<int32_t>{65536, 2 * 65536, 3 * 65536, 4 * 65536}));
  EXPECT_EQ(f.conv.Position(), 32);
  bytes = 4096;
  f.conv.GetData(p, bytes);
  EXPECT_EQ(bytes, 0u) << "end of stream after the trimmed block";
}

// A jump through the converter moves its position with the input's: a jump
// back plays the rest of the file from there (the old position ended it
// early), a jump after the end plays again, and the progress follows.
TEST(AudioConverter, AJumpMovesThePositionWithTheInput) {
  const std::string path = test::ScratchDir("converter_jump") + "/big.raw";
  test::WriteRawFile(path, 2, 16, 1000, 1000);
  test::TRawIn in;
  in.SetFileName(path);
  TAudioConverter conv;
  conv.SetOutBitsPerSample(32);
  conv.SetOutChannels(2);
  conv.SetInput(&in);
  conv.Init();
  ASSERT_EQ(conv.Size(), 1000 * 8);
  // Data are the file's frames from First on, widened to 32 bits.
  auto framesFrom = [](const std::vector<uint8_t>& Data, int64_t First) {
    for (size_t i = 0; i + 8 <= Data.size(); i += 8) {
      const int64_t f = First + static_cast<int64_t>(i / 8);
      for (int c = 0; c < 2; ++c)
        if (Data[i + 4 * c + 2] != test::RawSampleByte(f, c, 0) ||
            Data[i + 4 * c + 3] != test::RawSampleByte(f, c, 1))
          return false;
    }
    return true;
  };
  uint32_t have = 0;
  while (have < 500 * 8) {
    uint8_t* p = nullptr;
    uint32_t n = std::min<uint32_t>(4096, 500 * 8 - have);
    conv.GetData(p, n);
    ASSERT_GT(n, 0u);
    have += n;
  }
  conv._Jump(-200);  // a fifth of the track back: frame 300
  EXPECT_EQ(conv.Position(), 300 * 8);
  std::vector<uint8_t> rest = test::ReadAll(conv, 4096);
  EXPECT_EQ(rest.size(), 700u * 8) << "the rest of the track after a jump back";
  EXPECT_TRUE(framesFrom(rest, 300));
  EXPECT_EQ(conv.Position(), conv.Size());

  conv._Jump(-500);  // from the end, half way back
  EXPECT_EQ(conv.Position(), 500 * 8);
  rest = test::ReadAll(conv, 4096);
  EXPECT_EQ(rest.size(), 500u * 8) << "an ended stream plays again after a jump back";
  EXPECT_TRUE(framesFrom(rest, 500));
  conv.Flush();
}

TEST(AudioConverter, AnInputWhoseSizeGrowsIsDeliveredWhole) {
  // Estimated at two frames, the source delivers four, one frame a block,
  // its size growing as it goes (a compressed stream's estimate).
  Fixture f(16, 2, BytesOf<int16_t>({1, 2, 3, 4, 5, 6, 7, 8}));
  f.source.ReportedSize = 8;
  f.source.MaxBlock = 4;
  f.source.GrowSize = true;
  f.conv.Init();
  ASSERT_EQ(f.conv.Size(), 16);
  const std::vector<uint8_t> got = ReadAll(f.conv, 4096);
  EXPECT_EQ(Values<int32_t>(got.data(), static_cast<uint32_t>(got.size())),
            (std::vector<int32_t>{65536, 2 * 65536, 3 * 65536, 4 * 65536, 5 * 65536, 6 * 65536,
                                  7 * 65536, 8 * 65536}));
  EXPECT_EQ(f.conv.Size(), 32) << "the size followed the input's";
  EXPECT_EQ(f.conv.Position(), 32);
}

TEST(AudioConverter, EmptyInputEndsStream) {
  Fixture f(16, 2, {});
  f.conv.Init();
  uint8_t* p = reinterpret_cast<uint8_t*>(1);
  uint32_t bytes = 4096;
  f.conv.GetData(p, bytes);
  EXPECT_EQ(bytes, 0u);
  EXPECT_EQ(p, nullptr);
}

TEST(AudioConverter, RefusesFormatsItCannotConvert) {
  struct {
    uint32_t bits, chans;
    int32_t outBits;
    const char* mentions;
  } cases[] = {
      {20, 2, 32, "20-bit"}, {12, 1, 16, "12-bit"},   {16, 2, 12, "12-bit"},
      {16, 2, 64, "64-bit"}, {16, 0, 32, "channels"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.mentions);
    Fixture f(c.bits, c.chans, std::vector<uint8_t>(64, 0), c.outBits, 2);
    try {
      f.conv.Init();
      ADD_FAILURE() << "Init accepted the format";
    } catch (const EAuException& e) {
      EXPECT_NE(std::string(e.what()).find(c.mentions), std::string::npos) << e.what();
    }
    EXPECT_FALSE(f.conv.IsBusy());
    EXPECT_EQ(f.source.Flushes, 1) << "the opened input is released";
    EXPECT_TRUE(ReadAll(f.conv).empty()) << "a refused stream delivers nothing";
  }
}

TEST(AudioConverter, InitWithoutInputRaises) {
  TAudioConverter conv;
  conv.SetOutBitsPerSample(32);
  try {
    conv.Init();
    ADD_FAILURE() << "Init without input succeeded";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), "Input is not assigned");
  }
  EXPECT_EQ(conv.Channels(), 0u);
  EXPECT_EQ(conv.BitsPerSample(), 32u);
}

// A huge request must be cut so that neither pool buffer overflows.
TEST(AudioConverter, OversizedRequestIsCutToPoolBuffers) {
  struct {
    const char* what;
    uint32_t bits, chans;
    int32_t outBits, outChans;
  } cases[] = {
      {"16-bit mono to 32-bit stereo", 16, 1, 32, 2},
      {"16-bit stereo fast path", 16, 2, 32, 2},
      {"8-bit six channels to 32-bit", 8, 6, 32, 2},
      {"32-bit stereo to 8-bit mono", 32, 2, 8, 1},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    const uint32_t inFrame = c.bits / 8 * c.chans;
    Fixture f(c.bits, c.chans, std::vector<uint8_t>(size_t(inFrame) * 300000, 0x40), c.outBits,
              c.outChans);
    f.conv.Init();
    const uint32_t outCh = f.conv.Channels();
    const uint32_t outFrame = uint32_t(c.outBits / 8) * outCh;
    const size_t floatFrame = 4 * std::max(outCh, c.chans);
    uint8_t* p = nullptr;
    uint32_t bytes = 64u << 20;
    f.conv.GetData(p, bytes);
    ASSERT_EQ(f.source.Requests.size(), 1u);
    const size_t frames = f.source.Requests[0] / inFrame;
    EXPECT_EQ(f.source.Requests[0] % inFrame, 0u);
    EXPECT_LE(frames * outFrame, kPoolBlockSize);
    EXPECT_LE(frames * floatFrame, kPoolBlockSize);
    EXPECT_EQ(frames, std::min(kPoolBlockSize / outFrame, kPoolBlockSize / floatFrame))
        << "the cut should still fill the buffers";
    EXPECT_EQ(bytes, frames * outFrame);
  }
}

TEST(AudioConverter, InputDeliveringMoreThanAskedIsClamped) {
  Fixture f(16, 1, std::vector<uint8_t>(2 * 200000, 0x01));
  f.source.IgnoreLimit = true;
  f.conv.Init();
  uint8_t* p = nullptr;
  uint32_t bytes = 800;  // 100 frames of 32-bit stereo
  f.conv.GetData(p, bytes);
  EXPECT_EQ(bytes, 800u) << "only the frames asked for are converted";
}

TEST(AudioConverter, BothWidthsZeroSwitchesToPassThroughAtOnce) {
  Fixture f(16, 2, BytesOf<int16_t>({1, 2, 3, 4}));
  f.source.MaxBlock = 4;
  f.conv.Init();
  uint8_t* p = nullptr;
  uint32_t bytes = 4096;
  f.conv.GetData(p, bytes);
  EXPECT_EQ(p, PoolConverterOut);
  EXPECT_EQ(Values<int32_t>(p, bytes), (std::vector<int32_t>{65536, 2 * 65536}));
  f.conv.SetOutBitsPerSample(0);
  f.conv.SetOutChannels(0);
  bytes = 4096;
  f.conv.GetData(p, bytes);
  EXPECT_EQ(p, f.source.LastBlock);
  EXPECT_EQ(Values<int16_t>(p, bytes), (std::vector<int16_t>{3, 4}));
}

TEST(AudioConverter, OtherChangesWaitForNextInit) {
  Fixture f(16, 2, BytesOf<int16_t>({1, 2, 3, 4}));
  f.source.MaxBlock = 4;
  f.conv.Init();
  f.conv.SetOutBitsPerSample(16);
  uint8_t* p = nullptr;
  uint32_t bytes = 4096;
  f.conv.GetData(p, bytes);
  EXPECT_EQ(bytes, 8u) << "still 32-bit stereo until the next Init";
}

TEST(AudioConverter, FlushReleasesInput) {
  Fixture f(16, 2, BytesOf<int16_t>({1, 2}));
  f.conv.Init();
  EXPECT_TRUE(f.conv.IsBusy());
  EXPECT_EQ(f.source.Inits, 1);
  f.conv.Flush();
  EXPECT_FALSE(f.conv.IsBusy());
  EXPECT_EQ(f.source.Flushes, 1);
}

TEST(AudioConverter, DestroyedInputIsUnlinked) {
  TAudioConverter conv;
  conv.SetOutBitsPerSample(32);
  {
    TBytesSource source(16, 2, {});
    conv.SetInput(&source);
    EXPECT_EQ(conv.Input(), &source);
  }
  EXPECT_EQ(conv.Input(), nullptr);
  EXPECT_THROW(conv.Init(), EAuException);
}

}  // namespace
}  // namespace lirvo
