#include "common/TestSource.h"

#include <algorithm>
#include <thread>

namespace lirvo::test {

void TTestSource::InitInternal() {
  ++InitCount;
  if (!InitError.empty()) throw EAuException(InitError);
  FProduced = 0;
  FPosition = 0;
  FSize = ReportSize ? TotalBytes : -1;
  Busy = true;
  FBlock.resize(MaxBlock);
}

void TTestSource::FlushInternal() {
  ++FlushCount;
  Busy = false;
}

void TTestSource::GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) {
  const uint32_t frame = std::max<uint32_t>(1, Bits / 8 * Chans);
  int64_t left = TotalBytes - FProduced;
  uint32_t n = static_cast<uint32_t>(
      std::min<int64_t>({static_cast<int64_t>(Bytes), left, static_cast<int64_t>(FBlock.size())}));
  n -= n % frame;
  if (n == 0) {
    Buffer = nullptr;
    Bytes = 0;
    return;
  }
  const auto delay = BlockDelay.load();
  if (delay.count() > 0) std::this_thread::sleep_for(delay);
  for (uint32_t i = 0; i < n; ++i)
    FBlock[i] = PatternByte(FProduced + i);
  FProduced += n;
  Buffer = FBlock.data();
  Bytes = n;
}

int64_t FirstPatternMismatch(const std::vector<uint8_t>& Data, int64_t From) {
  for (size_t i = 0; i < Data.size(); ++i)
    if (Data[i] != PatternByte(From + static_cast<int64_t>(i))) return static_cast<int64_t>(i);
  return -1;
}

}  // namespace lirvo::test
