#pragma once
// A trivial decoder for tests of the file-input machinery: "RAWP", then
// channels (u16), bits (u16), rate (u32), then interleaved PCM. It hands out
// at most BlockFrames frames per call from its own buffer, like a decoder
// that decodes block by block.

#include <cstdint>
#include <string>
#include <vector>

#include "audio/core/FileInputs.h"

namespace lirvo::test {

class TRawIn : public TAuFileIn {
 public:
  explicit TRawIn(TComponent* AOwner = nullptr) : TAuFileIn(AOwner) {}
  ~TRawIn() override {
    NotifyRemoval();
    CloseFile();
  }

  uint32_t BlockFrames = 5;
  int SeekCalls = 0;
  int OpenCalls = 0;

  void OpenFile() override;
  void CloseFile() override;

 protected:
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override;
  bool SeekInternal(int64_t& SampleNum) override;

 private:
  int64_t FDataStart = 12;
  std::vector<uint8_t> FBuf;
};

// Writes a RAWP file whose frame f, channel c, byte b holds
// RawSampleByte(f, c, b).
void WriteRawFile(const std::string& Path, uint16_t Channels, uint16_t Bits, uint32_t Rate,
                  int64_t Frames);
inline uint8_t RawSampleByte(int64_t Frame, int Channel, int Byte) {
  return static_cast<uint8_t>(Frame * 3 + Channel * 101 + Byte * 17);
}

}  // namespace lirvo::test
