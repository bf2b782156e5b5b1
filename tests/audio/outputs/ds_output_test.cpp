// TDSAudioOut on capture devices over "null" (no pacing): what reaches the
// device, the start errors, the latency bounds, the device names and the
// latency entry for the settings file.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "audio/core/Pool.h"
#include "audio/outputs/DSAudioOut.h"
#include "audio/processors/AudioCache.h"
#include "common/Pump.h"
#include "common/TestPaths.h"
#include "common/TestSource.h"
#include "tests/audio/outputs/DsTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;
using namespace std::chrono_literals;

namespace {

std::vector<uint8_t> Pattern(int64_t Bytes) {
  std::vector<uint8_t> v(static_cast<size_t>(Bytes));
  for (int64_t i = 0; i < Bytes; ++i)
    v[static_cast<size_t>(i)] = PatternByte(i);
  return v;
}

// One output with its source and the events it delivered.
struct Rig {
  TComponent owner;
  std::unique_ptr<TTestSource> source = std::make_unique<TTestSource>(&owner);
  std::unique_ptr<TAudioCache> cache;
  std::unique_ptr<TDSAudioOut> out;
  std::atomic<int> done{0}, errors{0}, underrunEvents{0};

  explicit Rig(const std::vector<TDsDeviceEntry>& Devices, bool ThroughCache = false) {
    out = std::make_unique<TDSAudioOut>(&owner, Devices);
    if (ThroughCache) {
      cache = std::make_unique<TAudioCache>(&owner);
      cache->SetInput(source.get());
      out->SetInput(cache.get());
    } else {
      out->SetInput(source.get());
    }
    out->SetOnDone([this](TComponent*) { ++done; });
    out->SetOnThreadException([this](TComponent*) { ++errors; });
    out->SetOnUnderrun([this](TComponent*) { ++underrunEvents; });
  }
  ~Rig() {
    out.reset();
    cache.reset();
    source.reset();
  }
  bool RunToEnd(std::chrono::milliseconds Timeout = 20s) {
    out->Run();
    return PumpUntil([this] { return done >= 1; }, Timeout);
  }
};

struct PlayCase {
  const char* Name;
  uint32_t Bits, Chans, Rate;
  int64_t Frames;
  uint32_t Latency;
};

// The whole input reaches the device byte for byte, then only silence: 128
// for 8-bit, 0 otherwise. Lengths cover a source shorter than half the ring,
// one ending inside a later half and one ending exactly on a half.
TEST(DsOutputCapture, EveryFormatReachesTheDeviceExactlyThenOnlySilence) {
  const PlayCase cases[] = {
      {"8-bit mono", 8, 1, 8000, 12345, 100},
      {"16-bit stereo", 16, 2, 44100, 44100 * 2 + 17, 100},
      {"24-bit stereo", 24, 2, 48000, 30011, 50},
      {"32-bit stereo", 32, 2, 96000, 50000, 200},
      {"16-bit 6 channels", 16, 6, 48000, 24000, 100},
      {"24-bit 8 channels", 24, 8, 44100, 20000, 100},
      {"shorter than half the ring", 16, 2, 44100, 1000, 100},
      {"ends exactly on a half", 16, 2, 44100, 2205 * 6, 100},
  };
  for (const PlayCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string path = ScratchDir("ds_capture") + "/capture.raw";
    Rig rig({CaptureDevice(path)});
    const uint32_t frame = c.Bits / 8 * c.Chans;
    rig.source->Bits = c.Bits;
    rig.source->Chans = c.Chans;
    rig.source->Rate = c.Rate;
    rig.source->TotalBytes = c.Frames * frame;
    rig.out->SetLatency(c.Latency);
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(rig.errors, 0) << rig.out->ExceptionMessage();
    EXPECT_EQ(rig.out->Underruns(), 0u);
    const uint8_t fill = c.Bits == 8 ? 128 : 0;
    // The drain tops the ring up with silence every 50 ms for one ring.
    const size_t ring = 2 * (c.Latency * c.Rate / 2000) * frame;
    const size_t maxPad = ring * (c.Latency / 50 + 3);
    EXPECT_TRUE(
        IsDataThenSilence(ReadFileBytes(path), Pattern(rig.source->TotalBytes), fill, maxPad));
  }
}

TEST(DsOutputCapture, PlayerChainThroughTheCacheIsBitExact) {
  std::string path = ScratchDir("ds_cache") + "/capture.raw";
  Rig rig({CaptureDevice(path)}, true);
  rig.source->TotalBytes = 44100 * 4 * 3 + 8;
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rig.errors, 0) << rig.out->ExceptionMessage();
  EXPECT_TRUE(
      IsDataThenSilence(ReadFileBytes(path), Pattern(rig.source->TotalBytes), 0, 17640 * 6));
}

TEST(DsOutputCapture, SourceShorterThanHalfTheRingIsWrittenAndDrainedForTheRingsDuration) {
  std::string path = ScratchDir("ds_short") + "/capture.raw";
  Rig rig({CaptureDevice(path)});
  rig.source->TotalBytes = 4410 * 4;  // 100 ms
  rig.out->SetLatency(1000);          // halves of 500 ms
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(rig.RunToEnd());
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
          .count();
  EXPECT_GE(ms, 950) << "the drain lets the whole ring play";
  EXPECT_LT(ms, 3000);
  EXPECT_TRUE(
      IsDataThenSilence(ReadFileBytes(path), Pattern(rig.source->TotalBytes), 0, 176400 * 25));
}

TEST(DsOutputCapture, VolumeBelowFullLevelScalesWhatReachesTheDevice) {
  std::string path = ScratchDir("ds_volume") + "/capture.raw";
  Rig rig({CaptureDevice(path)});
  rig.source->TotalBytes = 4000;
  rig.out->SetVolume(-2000);  // -20 dB: a tenth
  ASSERT_TRUE(rig.RunToEnd());
  std::vector<uint8_t> got = ReadFileBytes(path);
  ASSERT_GE(got.size(), 4000u);
  for (size_t i = 0; i + 1 < 4000; i += 2) {
    int16_t in = static_cast<int16_t>(PatternByte(i) | (PatternByte(i + 1) << 8));
    int16_t o = static_cast<int16_t>(got[i] | (got[i + 1] << 8));
    ASSERT_NEAR(o, in / 10.0, 1.0) << "sample " << i / 2;
  }
}

struct StartError {
  const char* Name;
  int32_t DeviceNumber;
  uint32_t Bits;
  bool BadDevice;
  const char* Message;  // exact, or the prefix before 8 hex digits
  bool HexSuffix;
};

TEST(DsOutputStart, StartFailuresEndTheRunWithTheirMessages) {
  const StartError cases[] = {
      {"device number past the table", 1, 16, false, "Invalid device number", false},
      {"negative device number", -1, 16, false, "Invalid device number", false},
      {"device that cannot be opened", 0, 16, true, "Failed to create DirectSound device", false},
      {"format the device refuses", 0, 12, false, "Failed to create DirectSound buffer", true},
  };
  for (const StartError& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string path = ScratchDir("ds_errors") + "/capture.raw";
    TDsDeviceEntry dev = c.BadDevice
                             ? TDsDeviceEntry{"Missing", "lirvo_missing", "pcm.other { type null }"}
                             : CaptureDevice(path);
    Rig rig({dev});
    rig.source->Bits = c.Bits;
    rig.out->SetDeviceNumber(c.DeviceNumber);
    ASSERT_TRUE(rig.RunToEnd());
    EXPECT_EQ(rig.errors, 1);
    std::string msg = rig.out->ExceptionMessage();
    if (c.HexSuffix) {
      ASSERT_EQ(msg.size(), std::string(c.Message).size() + 8) << msg;
      EXPECT_EQ(msg.substr(0, msg.size() - 8), c.Message);
      EXPECT_EQ(msg.substr(msg.size() - 8).find_first_not_of("0123456789ABCDEF"), std::string::npos)
          << msg;
    } else {
      EXPECT_EQ(msg, c.Message);
    }
    EXPECT_EQ(rig.out->Status(), tosIdle);
  }
}

TEST(DsOutputLatency, StartRaisesLatencyBelowTenAndLowersOneWhoseHalfWouldNotFitTheBlock) {
  std::string path = ScratchDir("ds_latency") + "/capture.raw";
  Rig rig({CaptureDevice(path)});
  rig.source->TotalBytes = 4000;
  rig.out->SetLatency(3);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rig.out->Latency(), 10u);

  // 32-bit, 8 channels at 192 kHz: 32 bytes a frame, so a half ring of the
  // 512 KiB block holds 16384 frames, 170 ms of ring.
  EXPECT_EQ(TDSAudioOut::MaxLatency(8, 192000, 32), 170u);
  rig.done = 0;
  rig.source->Bits = 32;
  rig.source->Chans = 8;
  rig.source->Rate = 192000;
  rig.source->TotalBytes = 32 * 1000;
  rig.out->SetLatency(5000);
  ASSERT_TRUE(rig.RunToEnd());
  EXPECT_EQ(rig.errors, 0) << rig.out->ExceptionMessage();
  EXPECT_EQ(rig.out->Latency(), 170u);
}

TEST(DsOutputLatency, MaxLatencyKeepsHalfTheRingWithinThePoolBlock) {
  struct F {
    uint32_t Chans, Rate, Bits;
  };
  for (F f : {F{2, 44100, 16}, F{1, 8000, 8}, F{6, 48000, 24}, F{8, 192000, 32}, F{2, 11025, 8}}) {
    uint32_t l = TDSAudioOut::MaxLatency(f.Chans, f.Rate, f.Bits);
    auto half = [&](uint64_t ms) { return (ms * f.Rate / 2000) * f.Chans * (f.Bits / 8); };
    EXPECT_LE(half(l), kPoolBlockSize) << f.Chans << "x" << f.Bits << "@" << f.Rate;
    EXPECT_GT(half(l + 1), kPoolBlockSize) << f.Chans << "x" << f.Bits << "@" << f.Rate;
  }
}

TEST(DsOutputDevices, DeviceNamesComeFromTheTableAndOutsideItAreEmpty) {
  TComponent owner;
  TDSAudioOut out(&owner, {{"First", "a", ""}, {"Second", "b", ""}});
  EXPECT_EQ(out.DeviceCount(), 2);
  EXPECT_EQ(out.GetDeviceName(0), "First");
  EXPECT_EQ(out.DeviceName(1), "Second");
  EXPECT_EQ(out.GetDeviceName(2), "");
  EXPECT_EQ(out.GetDeviceName(-1), "");
  EXPECT_EQ(out.Latency(), 100u);
  EXPECT_EQ(out.SpeedFactor(), 1.0f);
  EXPECT_EQ(out.Volume(), 0);
}

TEST(DsOutputSettings, LatencyEntryIsHandedOverOnlyWithAnIniFileAndCalibration) {
  struct C {
    const char* Ini;
    bool Calibrate;
    bool Expected;
  };
  for (C c :
       {C{"/tmp/lirvo.ini", true, true}, C{"", true, false}, C{"/tmp/lirvo.ini", false, false}}) {
    std::vector<TLatencyStore> stored;
    {
      TComponent owner;
      TDSAudioOut out(&owner, {{"Dev", "null", ""}});
      out.SetINIFile(c.Ini);
      out.SetCalibrate(c.Calibrate);
      out.SetLatency(130);
      out.SetOnStoreLatency([&](const TLatencyStore& e) { stored.push_back(e); });
    }
    ASSERT_EQ(stored.size(), c.Expected ? 1u : 0u) << c.Ini << " " << c.Calibrate;
    if (c.Expected) {
      EXPECT_EQ(stored[0].IniFile, "/tmp/lirvo.ini");
      EXPECT_EQ(stored[0].Section, "AudioOutput");
      EXPECT_EQ(stored[0].Key, "Latency");
      EXPECT_EQ(stored[0].Value, 130);
    }
  }
}

TEST(DsOutputSettings, AFailingLatencyStoreDoesNotEscapeTheDestructor) {
  TComponent owner;
  auto out = std::make_unique<TDSAudioOut>(&owner, std::vector<TDsDeviceEntry>{{"D", "null", ""}});
  out->SetINIFile("/nonexistent/dir/lirvo.ini");
  out->SetCalibrate(true);
  out->SetOnStoreLatency([](const TLatencyStore&) { throw std::runtime_error("disk full"); });
  EXPECT_NO_THROW(out.reset());
}

}  // namespace
