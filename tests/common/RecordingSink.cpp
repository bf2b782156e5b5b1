#include "common/RecordingSink.h"

namespace lirvo::test {

void TRecordingSink::PrepareOutput() {
  ++PrepareCount;
  if (!PrepareError.empty()) throw EAuException(PrepareError);
  TAuInput* in = Input();
  in->Init();
  SeenBits = in->BitsPerSample();
  SeenChannels = in->Channels();
  SeenRate = in->SampleRate();
  FBlock.resize(BlockBytes);
}

bool TRecordingSink::WriteBlock(bool Abort) {
  if (Abort) {
    ++AbortedWrites;
    return false;
  }
  TAuInput* in = Input();
  bool eof = false;
  int32_t n;
  if (UseUnprotected)
    n = in->FillBufferUnprotected(FBlock.data(), BlockBytes, eof);
  else
    n = in->FillBuffer(FBlock.data(), static_cast<int32_t>(BlockBytes), eof);
  if (n > 0) {
    std::lock_guard<std::mutex> lock(FDataCS);
    FData.insert(FData.end(), FBlock.begin(), FBlock.begin() + n);
  }
  if (PaceFactor > 0 && n > 0) {
    double bytesPerSecond = double(SeenBits / 8) * SeenChannels * SeenRate;
    if (bytesPerSecond > 0)
      std::this_thread::sleep_for(std::chrono::duration<double>(n / bytesPerSecond * PaceFactor));
  }
  if (ExtraDelay.count() > 0) std::this_thread::sleep_for(ExtraDelay);
  return n > 0 && !eof;
}

void TRecordingSink::FinishOutput() {
  ++FinishCount;
  if (TAuInput* in = Input()) in->Flush();
}

}  // namespace lirvo::test
