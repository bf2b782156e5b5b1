#pragma once
// A direct driver of the tests' own, registered with the driver host under
// CLSID_FakeAsio. It reports what the test configures (channels, buffer sizes,
// sample type, rates, results of init/createBuffers/start/outputReady), and
// once started its thread calls the buffer switch for alternating halves and
// appends every half it "plays" to a capture, like a device would.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

#include "audio/outputs/AsioHost.h"
#include "audio/outputs/AsioList.h"

namespace lirvo::test {

inline constexpr TGUID CLSID_FakeAsio = {
    0x3F1E9A20, 0x77C4, 0x4B0D, {0x8E, 0x12, 0x5A, 0xB3, 0x60, 0x9D, 0x21, 0xC7}};

struct TFakeAsioConfig {
  bool CreateFails = false;
  ASIOBool InitResult = ASIOTrue;
  int32_t Channels = 2;
  int32_t MinSize = 64;
  int32_t MaxSize = 4096;
  int32_t PrefSize = 1024;
  int32_t Granularity = 64;
  ASIOSampleType Type = ASIOSTInt32LSB;
  std::vector<double> Rates = {44100, 48000, 96000};
  ASIOError CreateBuffersResult = ASE_OK;
  ASIOError StartResult = ASE_OK;
  ASIOError OutputReadyResult = ASE_OK;
  ASIOBool Direct = ASIOTrue;  // the flag given to the buffer switch
  bool AskTimeInfo = true;     // use bufferSwitchTimeInfo when the host supports it
  // Time between two switches; at least 200 us (an unpaced device).
  std::chrono::microseconds Period{0};
};

// Shared by the test and every fake driver object (one at a time is live).
struct TFakeAsio {
  std::mutex CS;  // guards everything but the counters
  TFakeAsioConfig Config;
  std::vector<uint8_t> Capture;          // the halves played, interleaved, in the driver's type
  std::vector<int32_t> CreatedSizes;     // createBuffers' buffer sizes
  std::vector<int32_t> CreatedChannels;  // createBuffers' channel counts
  std::vector<double> RatesSet;          // setSampleRate's arguments
  std::vector<int64_t> SwitchNs;         // how long each buffer switch took the host
  ASIOCallbacks Callbacks{};             // of the live driver
  bool HaveCallbacks = false;
  void* InitHandle = nullptr;

  std::atomic<int> Creations{0};
  std::atomic<int> Starts{0};
  std::atomic<int> Stops{0};
  std::atomic<int> Switches{0};
  std::atomic<int> OutputReadyCalls{0};
  std::atomic<int> ControlPanels{0};
  std::atomic<bool> SawTimeInfoFlags{false};  // the host set the time-info flags to 3

  // Back to the defaults, empty records.
  void Reset();
  std::vector<uint8_t> TakeCapture();
  // Calls the live driver's host callbacks (as the driver would).
  int32_t SendMessage(int32_t Selector, int32_t Value);
  void SendRateChange(double Rate);
};

TFakeAsio& Fake();

// Registers the fake driver class (idempotent).
void RegisterFakeAsio();

inline TAsioDriverDesc FakeDesc(const std::string& Name = "Fake ASIO") {
  return MakeAsioDriverDesc(CLSID_FakeAsio, Name, "fake");
}

}  // namespace lirvo::test
