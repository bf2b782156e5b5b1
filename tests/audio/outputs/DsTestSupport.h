#pragma once
// Devices and helpers for the shared-device output's tests. Every device is
// one of the test's own: an ALSA `file` PCM that writes what reaches the
// device to a raw file, over "null" (as fast as the output goes) or over the
// test sound server's paced "pulse" device.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/outputs/DSoundLayer.h"
#include "common/TestFiles.h"

namespace lirvo::test {

// The paced PulseAudio device of scripts/test-servers.
inline bool PulseAvailable() {
  const char* v = std::getenv("LIRVO_TEST_PULSE");
  return v && std::string(v) == "1";
}

#define LIRVO_REQUIRE_PULSE()                                                            \
  if (!::lirvo::test::PulseAvailable())                                                  \
  GTEST_SKIP() << "needs the test sound server (LIRVO_TEST_PULSE=1): run the tests via " \
                  "scripts/test, or source scripts/test-servers and start_test_servers"

// A device whose PCM writes everything it is given to Path, raw.
inline TDsDeviceEntry CaptureDevice(const std::string& Path, bool Paced = false) {
  std::string slave = Paced ? "{ type pulse }" : "{ type null }";
  return {
      "Capture", "lirvocap",
      "pcm.lirvocap { type file slave.pcm " + slave + " file \"" + Path + "\" format \"raw\" }"};
}

// A device of the pulse server's sink Sink (the default sink when empty).
inline TDsDeviceEntry PulseDevice(const std::string& Sink = "") {
  std::string conf = "pcm.lirvopulse { type pulse";
  if (!Sink.empty()) conf += " device \"" + Sink + "\"";
  conf += " }";
  return {"Pulse", "lirvopulse", conf};
}

// Checks that Capture is Expected followed only by Fill bytes (the silence
// the output pads with), and that it holds at most MaxPad of them.
inline ::testing::AssertionResult IsDataThenSilence(const std::vector<uint8_t>& Capture,
                                                    const std::vector<uint8_t>& Expected,
                                                    uint8_t Fill, size_t MaxPad) {
  if (Capture.size() < Expected.size())
    return ::testing::AssertionFailure()
           << "capture has " << Capture.size() << " bytes, " << Expected.size() << " expected";
  for (size_t i = 0; i < Expected.size(); ++i)
    if (Capture[i] != Expected[i])
      return ::testing::AssertionFailure()
             << "first difference at byte " << i << " of " << Expected.size();
  for (size_t i = Expected.size(); i < Capture.size(); ++i)
    if (Capture[i] != Fill)
      return ::testing::AssertionFailure()
             << "byte " << i << " after the data is " << int(Capture[i]) << ", not silence";
  if (Capture.size() - Expected.size() > MaxPad)
    return ::testing::AssertionFailure()
           << Capture.size() - Expected.size() << " bytes of silence, at most " << MaxPad;
  return ::testing::AssertionSuccess();
}

}  // namespace lirvo::test
