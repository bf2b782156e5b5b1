#pragma once
// A source whose _Jump moves its read position by thousandths of its length,
// like a file input does, over bytes that never repeat, so a test sees
// exactly where a jump landed and what played before it.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "audio/core/AudioClasses.h"

namespace lirvo::test {

// Bytes without repeats over any test's length (the shared test pattern
// repeats every 64 KiB, which would hide where a jump landed).
inline uint8_t JumpByte(int64_t K) {
  uint64_t x = static_cast<uint64_t>(K) + 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return static_cast<uint8_t>(x ^ (x >> 31));
}

// A source whose _Jump moves its read position by Offs thousandths of its
// length, like a file input does.
class TJumpingSource : public TAuInput {
 public:
  explicit TJumpingSource(TComponent* AOwner) : TAuInput(AOwner) {}
  ~TJumpingSource() override { NotifyRemoval(); }
  int64_t TotalBytes = 0;
  std::atomic<int> Jumps{0};
  std::atomic<int64_t> PosAtJump{-1};  // bytes read when the last jump came
  void _Jump(int32_t Offs) override {
    std::lock_guard<std::recursive_mutex> lock(DataCS);
    ++Jumps;
    PosAtJump = FPos;
    FPos = std::clamp<int64_t>(FPos + TotalBytes * Offs / 1000 / 4 * 4, 0, TotalBytes);
    FPosition = FPos;
  }

 protected:
  uint32_t GetBitsPerSample() override { return 16; }
  uint32_t GetChannels() override { return 2; }
  uint32_t GetSampleRate() override { return 44100; }
  void InitInternal() override {
    FPos = 0;
    FPosition = 0;
    FSize = TotalBytes;
    FBlock.resize(4096);
  }
  void FlushInternal() override {}
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override {
    uint32_t n = static_cast<uint32_t>(
        std::min<int64_t>({Bytes, TotalBytes - FPos, static_cast<int64_t>(FBlock.size())}));
    n -= n % 4;
    for (uint32_t i = 0; i < n; ++i)
      FBlock[i] = JumpByte(FPos + i);
    FPos += n;
    FPosition = FPos;
    Buffer = n ? FBlock.data() : nullptr;
    Bytes = n;
  }

 private:
  int64_t FPos = 0;
  std::vector<uint8_t> FBlock;
};

}  // namespace lirvo::test
