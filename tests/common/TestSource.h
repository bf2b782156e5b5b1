#pragma once
// A generated PCM source for pipeline tests. Every byte is a known function
// of its position, so a sink can check the stream byte by byte: byte k of the
// stream is PatternByte(k).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/core/AudioClasses.h"

namespace lirvo::test {

inline uint8_t PatternByte(int64_t k) {
  return static_cast<uint8_t>((k * 7 + (k >> 8)) & 0xFF);
}

class TTestSource : public TAuInput {
 public:
  explicit TTestSource(TComponent* AOwner = nullptr) : TAuInput(AOwner) {}
  ~TTestSource() override { NotifyRemoval(); }

  // Format and length; set before Init.
  uint32_t Bits = 16;
  uint32_t Chans = 2;
  uint32_t Rate = 44100;
  int64_t TotalBytes = 44100 * 4;  // what it delivers
  bool ReportSize = true;          // false: Size -1 (unknown)
  uint32_t MaxBlock = 4096;        // largest block per call (whole frames)
  std::atomic<std::chrono::microseconds> BlockDelay{std::chrono::microseconds(0)};  // a slow source
  std::string InitError;  // non-empty: InitInternal throws this

  // Keeps Position like the streamed inputs do.
  void GetData(uint8_t*& Buffer, uint32_t& Bytes) override {
    TAuInput::GetData(Buffer, Bytes);
    FPosition += Bytes;
  }

  // Observations.
  std::atomic<int> InitCount{0};
  std::atomic<int> FlushCount{0};
  std::atomic<int> PauseCount{0};
  std::atomic<int> ResumeCount{0};

 protected:
  uint32_t GetBitsPerSample() override { return Bits; }
  uint32_t GetChannels() override { return Chans; }
  uint32_t GetSampleRate() override { return Rate; }
  void InitInternal() override;
  void FlushInternal() override;
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override;
  void _Pause() override { ++PauseCount; }
  void _Resume() override { ++ResumeCount; }

 private:
  int64_t FProduced = 0;
  std::vector<uint8_t> FBlock;
};

// Checks that Data is exactly the pattern from stream offset From.
// Returns the index of the first wrong byte, or -1.
int64_t FirstPatternMismatch(const std::vector<uint8_t>& Data, int64_t From = 0);

}  // namespace lirvo::test
