#pragma once
// A recording output for pipeline tests: its "device" appends every block to
// a byte vector, optionally paced like a real device (the block's duration at
// the input's rate, times PaceFactor).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/core/AudioClasses.h"

namespace lirvo::test {

class TRecordingSink : public TAuOutput {
 public:
  explicit TRecordingSink(TComponent* AOwner = nullptr) : TAuOutput(AOwner) {}
  ~TRecordingSink() override { EndThread(); }

  uint32_t BlockBytes = 4096;
  double PaceFactor = 0.0;                  // 1.0 = real time; 0 = as fast as possible
  std::chrono::microseconds ExtraDelay{0};  // slept after every block
  std::string PrepareError;                 // non-empty: PrepareOutput throws this
  bool UseUnprotected = true;               // FillBufferUnprotected, else GetData

  std::vector<uint8_t> Recorded() const {
    std::lock_guard<std::mutex> lock(FDataCS);
    return FData;
  }
  size_t RecordedBytes() const {
    std::lock_guard<std::mutex> lock(FDataCS);
    return FData.size();
  }
  void ClearRecorded() {
    std::lock_guard<std::mutex> lock(FDataCS);
    FData.clear();
  }

  std::atomic<int> PrepareCount{0};
  std::atomic<int> FinishCount{0};
  std::atomic<int> AbortedWrites{0};
  std::atomic<uint32_t> SeenBits{0}, SeenChannels{0}, SeenRate{0};

 protected:
  void PrepareOutput() override;
  bool WriteBlock(bool Abort) override;
  void FinishOutput() override;

 private:
  mutable std::mutex FDataCS;
  std::vector<uint8_t> FData;
  std::vector<uint8_t> FBlock;
};

}  // namespace lirvo::test
