#include "common/RawFileIn.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace lirvo::test {

void TRawIn::OpenFile() {
  std::lock_guard<std::recursive_mutex> lock(OpenCS);
  if (FOpened != 0) return;
  ++OpenCalls;
  OpenOwnStream();
  FValid = false;
  uint8_t h[12];
  FStream->Seek(0, soBeginning);
  if (FStream->Read(h, 12) == 12 && std::memcmp(h, "RAWP", 4) == 0) {
    uint16_t ch, bits;
    uint32_t rate;
    std::memcpy(&ch, h + 4, 2);
    std::memcpy(&bits, h + 6, 2);
    std::memcpy(&rate, h + 8, 4);
    FChan = ch;
    FBPS = bits;
    FSR = rate;
    FSize = FStream->Size() - FDataStart;
    FValid = ch > 0 && bits > 0 && rate > 0;
  }
  ++FOpened;
}

void TRawIn::CloseFile() {
  std::lock_guard<std::recursive_mutex> lock(OpenCS);
  if (FOpened > 0) {
    CloseOwnStream();
    FOpened = 0;
  }
}

void TRawIn::GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) {
  if (!Busy) throw EAuException("The Stream is not opened");
  const uint32_t frame = FChan * FBPS / 8;
  if (BufEnd < BufStart) {
    FBuf.resize(static_cast<size_t>(BlockFrames) * frame);
    int64_t n = FStream->Read(FBuf.data(), static_cast<int64_t>(FBuf.size()));
    n -= n % frame;
    if (n <= 0) {
      Buffer = nullptr;
      Bytes = 0;
      return;
    }
    BufStart = 1;
    BufEnd = static_cast<uint32_t>(n);
  }
  uint32_t have = BufEnd - BufStart + 1;
  uint32_t n = std::min(have, Bytes);
  n -= n % frame;
  Buffer = FBuf.data() + BufStart - 1;
  Bytes = n;
  BufStart += n;
}

bool TRawIn::SeekInternal(int64_t& SampleNum) {
  ++SeekCalls;
  const uint32_t frame = FChan * FBPS / 8;
  FStream->Seek(FDataStart + SampleNum * frame, soBeginning);
  BufStart = 1;
  BufEnd = 0;
  return true;
}

void WriteRawFile(const std::string& Path, uint16_t Channels, uint16_t Bits, uint32_t Rate,
                  int64_t Frames) {
  std::ofstream f(Path, std::ios::binary);
  f.write("RAWP", 4);
  f.write(reinterpret_cast<const char*>(&Channels), 2);
  f.write(reinterpret_cast<const char*>(&Bits), 2);
  f.write(reinterpret_cast<const char*>(&Rate), 4);
  const int bytes = Bits / 8;
  for (int64_t fr = 0; fr < Frames; ++fr)
    for (int c = 0; c < Channels; ++c)
      for (int b = 0; b < bytes; ++b)
        f.put(static_cast<char>(RawSampleByte(fr, c, b)));
}

}  // namespace lirvo::test
