// The DirectSound layer on alsa-lib: the device table, the wave format and
// channel maps, and the ring (cursors, free space, two-region locks, writes,
// volume, waits) on capture devices of the test's own.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "audio/core/AuException.h"
#include "audio/outputs/DSoundLayer.h"
#include "common/TestPaths.h"
#include "tests/audio/outputs/DsTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;

namespace {

TEST(DsDeviceTable, HintsGiveDefaultFirstThenServersAndSharedCardDevicesOnly) {
  std::vector<alsa::TPcmHint> hints = {
      {"null", "Discard all samples", ""},
      {"hw:CARD=PCH,DEV=0", "HDA Intel PCH, ALC892 Analog, Direct hardware device", ""},
      {"plughw:CARD=PCH,DEV=0", "HDA Intel PCH, Hardware device with conversions", ""},
      {"pulse", "PulseAudio Sound Server", ""},
      {"upmix", "Plugin for channel upmix (4,6,8)", ""},
      {"sysdefault:CARD=PCH", "HDA Intel PCH, Default Audio Device", ""},
      {"front:CARD=PCH,DEV=0", "HDA Intel PCH, Front output / input", ""},
      {"dmix:CARD=PCH,DEV=0", "HDA Intel PCH, Direct sample mixing device", ""},
      {"dsnoop:CARD=PCH,DEV=0", "HDA Intel PCH, Direct sample snooping device", "Input"},
      {"default", "Default ALSA Output (currently PulseAudio Sound Server)", ""},
      {"pulse", "duplicate", ""},
  };
  std::vector<TDsDeviceEntry> got = SelectDsDevices(hints);
  std::vector<std::string> names;
  for (const auto& e : got)
    names.push_back(e.Pcm);
  EXPECT_EQ(names, (std::vector<std::string>{"default", "pulse", "sysdefault:CARD=PCH",
                                             "dmix:CARD=PCH,DEV=0"}));
  EXPECT_EQ(got[0].Name, "Default ALSA Output (currently PulseAudio Sound Server)");
}

TEST(DsDeviceTable, PrimaryDeviceIsListedEvenWithoutHints) {
  std::vector<TDsDeviceEntry> got = SelectDsDevices({});
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].Pcm, "default");
  EXPECT_FALSE(got[0].Name.empty());
}

TEST(DsDeviceTable, SeventeenthDeviceIsNotListedAndLongNamesKeep127Characters) {
  std::vector<TDsDeviceEntry> entries;
  for (int i = 0; i < 17; ++i)
    entries.push_back({"Device " + std::to_string(i), "pcm" + std::to_string(i), ""});
  // 126 ASCII characters, then two-byte characters: the cut must not split one.
  entries[3].Name = std::string(126, 'x') + "\xC3\xA9\xC3\xA9\xC3\xA9";
  DSW_Devices devices;
  EXPECT_EQ(EnumerateDsDevices(devices, entries), kDsOk);
  EXPECT_EQ(devices.devcount, 16);
  EXPECT_EQ(devices.dinfo[15].Pcm, "pcm15");
  EXPECT_EQ(devices.dinfo[3].Description, std::string(126, 'x') + "\xC3\xA9");
  EXPECT_EQ(devices.dinfo[0].Description, "Device 0");
}

struct FormatCase {
  uint32_t Channels, Bits;
  uint16_t Tag, Extra;
  uint32_t Mask;
};

TEST(DsWaveFormat, ChannelCountsGiveTheFormatTagAndMaskOfTheTable) {
  const FormatCase cases[] = {
      {1, 8, kWaveFormatPcm, 0, 0},
      {2, 16, kWaveFormatPcm, 0, 0},
      {4, 16, kWaveFormatExtensible, 22, 0},
      {6, 24, kWaveFormatExtensible, 22, 0x3F},
      {8, 32, kWaveFormatExtensible, 22, 0xFF},
  };
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.Channels);
    TDsWaveFormat f = BuildDsWaveFormat(c.Channels, 48000, c.Bits);
    EXPECT_EQ(f.wFormatTag, c.Tag);
    EXPECT_EQ(f.cbSize, c.Extra);
    EXPECT_EQ(f.dwChannelMask, c.Mask);
    EXPECT_EQ(f.SubFormatPcm, c.Channels > 2);
    EXPECT_EQ(f.wValidBitsPerSample, 0);
    EXPECT_EQ(f.nBlockAlign, c.Channels * c.Bits / 8);
    EXPECT_EQ(f.nAvgBytesPerSec, 48000u * c.Channels * c.Bits / 8);
  }
}

TEST(DsWaveFormat, MasksMapToTheStandardAlsaChannelPositions) {
  EXPECT_EQ(DsChannelPositions(0x3F, 6),
            (std::vector<unsigned>{SND_CHMAP_FL, SND_CHMAP_FR, SND_CHMAP_FC, SND_CHMAP_LFE,
                                   SND_CHMAP_RL, SND_CHMAP_RR}));
  EXPECT_EQ(DsChannelPositions(0xFF, 8),
            (std::vector<unsigned>{SND_CHMAP_FL, SND_CHMAP_FR, SND_CHMAP_FC, SND_CHMAP_LFE,
                                   SND_CHMAP_RL, SND_CHMAP_RR, SND_CHMAP_FLC, SND_CHMAP_FRC}));
  EXPECT_TRUE(DsChannelPositions(0, 4).empty());
}

// A ring of 16-bit stereo on a capture device over "null".
class DsRingTest : public ::testing::Test {
 protected:
  std::string dir = ScratchDir("ds_ring");
  std::string path = dir + "/capture.raw";
  DSOut ds;
  DSW_DeviceInfo info;

  void SetUp() override {
    TDsDeviceEntry e = CaptureDevice(path);
    info = {e.Pcm, e.Config, e.Name};
  }
  void Open(uint32_t Bits, uint32_t Channels, uint32_t Bytes) {
    ASSERT_EQ(CreateDsDevice(ds, info), kDsOk);
    ASSERT_EQ(CreateDsBuffers(ds, BuildDsWaveFormat(Channels, 44100, Bits), Bytes), kDsOk);
  }
  std::vector<uint8_t> Captured() {
    ReleaseDs(ds);
    return ReadFileBytes(path);
  }
};

TEST_F(DsRingTest, RingIsTwoPeriodHalvesAndWritesReachTheDeviceInOrder) {
  Open(16, 2, 17640);
  EXPECT_EQ(ds.BufferSize, 17640u);
  EXPECT_EQ(ds.RingFrames, 4410u);
  EXPECT_EQ(ds.HalfFrames, 2205u);
  EXPECT_EQ(ds.PeriodFrames, 2205u) << "the halves are the device's two periods";
  uint32_t play = 1, write = 1, free = 0;
  EXPECT_EQ(GetDsCursors(ds, play, write), kDsOk);
  EXPECT_EQ(play, 0u);
  EXPECT_EQ(write, 0u);
  EXPECT_EQ(GetDsFreeSpace(ds, free), kDsOk);
  EXPECT_EQ(free, 17640u);
  EXPECT_EQ(ds.Underflows, 0u);

  std::vector<uint8_t> block(10000);
  for (size_t i = 0; i < block.size(); ++i)
    block[i] = static_cast<uint8_t>(i * 13);
  uint32_t written = 0;
  EXPECT_EQ(WriteDsBlock(ds, block.data(), 10000, written), kDsOk);
  EXPECT_EQ(written, 10000u);
  EXPECT_EQ(GetDsCursors(ds, play, write), kDsOk);
  EXPECT_EQ(write, 10000u);
  EXPECT_EQ(ds.Offset, 10000u);
  EXPECT_EQ(WriteDsBlock(ds, block.data() + 1000, 9000, written), kDsOk);
  std::vector<uint8_t> expected(block);
  expected.insert(expected.end(), block.begin() + 1000, block.begin() + 1000 + written);
  EXPECT_EQ(Captured(), expected);
}

TEST_F(DsRingTest, LockWrapsIntoTwoRegionsAndOnlyAtTheWritePosition) {
  Open(16, 2, 17640);
  std::vector<uint8_t> first(10000, 0x11);
  uint32_t written = 0;
  ASSERT_EQ(WriteDsBlock(ds, first.data(), 10000, written), kDsOk);
  uint8_t *p1, *p2;
  uint32_t n1, n2;
  EXPECT_EQ(LockDs(ds, 4, 100, p1, n1, p2, n2), -EINVAL);
  EXPECT_EQ(n1 + n2, 0u);
  // The null device plays at once: once started the whole ring is free.
  ASSERT_EQ(StartDsPlayback(ds), kDsOk);
  ASSERT_EQ(LockDs(ds, 10000, 17640, p1, n1, p2, n2), kDsOk);
  EXPECT_EQ(n1, 7640u);
  ASSERT_NE(p2, nullptr);
  EXPECT_EQ(n2, 10000u);
  std::memset(p1, 0x22, n1);
  std::memset(p2, 0x33, n2);
  uint32_t committed = 0;
  EXPECT_EQ(UnlockDs(ds, p1, n1, p2, n2, &committed), kDsOk);
  EXPECT_EQ(committed, 17640u);
  EXPECT_EQ(ds.Offset, 10000u);

  std::vector<uint8_t> expected(first);
  expected.insert(expected.end(), 7640, 0x22);
  expected.insert(expected.end(), 10000, 0x33);
  EXPECT_EQ(Captured(), expected);
}

TEST_F(DsRingTest, FillDsBufferEmptiesTheRingAndRewindsTheWritePosition) {
  Open(8, 1, 8000);
  std::vector<uint8_t> block(3000, 7);
  uint32_t written = 0;
  ASSERT_EQ(WriteDsBlock(ds, block.data(), 3000, written), kDsOk);
  EXPECT_EQ(FillDsBuffer(ds, 128), kDsOk);
  EXPECT_EQ(ds.Offset, 0u);
  uint32_t free = 0;
  EXPECT_EQ(GetDsFreeSpace(ds, free), kDsOk);
  EXPECT_EQ(free, 8000u);
  EXPECT_EQ(ds.Mirror[0], 128);
  EXPECT_EQ(ds.Mirror[7999], 128);
}

TEST_F(DsRingTest, FillDsFreeSpaceFillsExactlyTheFreeSpaceWithTheByte) {
  Open(8, 1, 8000);
  std::vector<uint8_t> block(3000, 7);
  uint32_t written = 0;
  ASSERT_EQ(WriteDsBlock(ds, block.data(), 3000, written), kDsOk);
  uint32_t free = 0;
  ASSERT_EQ(GetDsFreeSpace(ds, free), kDsOk);
  ASSERT_GT(free, 0u);
  EXPECT_EQ(FillDsFreeSpace(ds, 128), kDsOk);
  std::vector<uint8_t> expected(block);
  expected.insert(expected.end(), free, 128);
  EXPECT_EQ(Captured(), expected);
}

TEST_F(DsRingTest, UnsupportedSampleWidthIsRefused) {
  ASSERT_EQ(CreateDsDevice(ds, info), kDsOk);
  EXPECT_LT(CreateDsBuffers(ds, BuildDsWaveFormat(2, 44100, 12), 17640), 0);
  EXPECT_EQ(ds.DirectSoundBuffer, nullptr);
  uint32_t free = 0;
  bool other = false;
  EXPECT_EQ(GetDsFreeSpace(ds, free), kDsErrNoBuffer);
  EXPECT_EQ(WaitDsHalf(ds, 0, other), kDsErrNoBuffer);
  EXPECT_EQ(ContinueDsPlayback(ds), kDsErrNoBuffer);
}

TEST(DsDevice, APcmNotDefinedInItsConfigurationCannotBeCreated) {
  DSOut ds;
  DSW_DeviceInfo info{"lirvo_missing", "pcm.other { type null }", "Missing"};
  EXPECT_LT(CreateDsDevice(ds, info), 0);
  EXPECT_EQ(ds.DirectSound, nullptr);
}

// Volume: full level is a plain copy; any other level scales every sample
// around the format's silence.
struct GainCase {
  uint32_t Bits;
  std::vector<uint8_t> In;
  std::vector<uint8_t> Out;  // at -6.02 dB (half amplitude)
};

TEST_F(DsRingTest, VolumeScalesSamplesOnlyWhenNotFullLevel) {
  const GainCase cases[] = {
      {8, {128, 228, 28, 255}, {128, 178, 78, 192}},
      {16,
       {0x00, 0x40, 0x00, 0xC0, 0x01, 0x00, 0xFF, 0x7F},
       {0x00, 0x20, 0x00, 0xE0, 0x00, 0x00, 0x00, 0x40}},
      {24, {0x00, 0x00, 0x40, 0x00, 0x00, 0xC0}, {0x00, 0x00, 0x20, 0x00, 0x00, 0xE0}},
      {32,
       {0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0xC0},
       {0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0xE0}},
  };
  for (const GainCase& c : cases) {
    SCOPED_TRACE(c.Bits);
    const uint32_t frame = c.Bits / 8;
    Open(c.Bits, 1, frame * 400);
    uint32_t written = 0;
    SetDsVolume(ds, 0);
    ASSERT_EQ(WriteDsBlock(ds, c.In.data(), static_cast<uint32_t>(c.In.size()), written), kDsOk);
    // 20 * log10(0.5) = -6.0206 dB: -602 is as near as hundredths get.
    SetDsVolume(ds, -602);
    ASSERT_EQ(WriteDsBlock(ds, c.In.data(), static_cast<uint32_t>(c.In.size()), written), kDsOk);
    std::vector<uint8_t> got = Captured();
    ASSERT_EQ(got.size(), c.In.size() * 2);
    EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + c.In.size()), c.In);
    std::vector<uint8_t> scaled(got.begin() + c.In.size(), got.end());
    // Within a step, or 1e-4 relative, of the exact half (the level is
    // 0.50003, not 0.5).
    for (size_t i = 0; i < scaled.size(); i += frame) {
      int64_t g = 0, w = 0;
      for (uint32_t b = 0; b < frame; ++b) {
        g |= static_cast<int64_t>(scaled[i + b]) << (8 * b);
        w |= static_cast<int64_t>(c.Out[i + b]) << (8 * b);
      }
      if (c.Bits > 8) {
        const int64_t sign = int64_t{1} << (c.Bits - 1);
        g = (g ^ sign) - sign;
        w = (w ^ sign) - sign;
      }
      EXPECT_LE(std::llabs(g - w), 1 + std::llabs(w) / 10000) << "sample " << i / frame;
    }
  }
}

TEST_F(DsRingTest, WaitReturnsAtOnceWhenHalfTheRingIsFree) {
  Open(16, 2, 17640);
  std::vector<uint8_t> block(8820, 0);
  uint32_t written = 0;
  ASSERT_EQ(WriteDsBlock(ds, block.data(), 8820, written), kDsOk);
  ASSERT_EQ(StartDsPlayback(ds), kDsOk);
  bool other = true;
  EXPECT_EQ(WaitDsHalf(ds, 0, other), kDsOk);
  EXPECT_FALSE(other);
  EXPECT_FALSE(ds.events[0]) << "the event waited for is reset";
}

}  // namespace
