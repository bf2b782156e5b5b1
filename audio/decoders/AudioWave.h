#pragma once
// TWaveIn: the file input for RIFF/WAVE files, RF64 and BW64 among them (the
// 64-bit sizes of their "ds64" chunk stand in for the 32-bit ones). It reads
// integer PCM of any width (samples in containers wider than their depth
// are delivered at the depth rounded up to whole bytes), IEEE float (32- and 64-bit, delivered as
// 32-bit integers), the extensible format with a PCM or float sub-format, IMA and Microsoft ADPCM
// (delivered as 16-bit), and routes every other payload FFmpeg can decode
// through a whole-file conversion to PCM in memory (TWaveConverter).
//
// Output is always interleaved little-endian PCM. Threads: as every file
// input (OpenFile/CloseFile under OpenCS, the data path under DataCS). The
// decode buffer is the pool's WAV block, shared by every TWaveIn: only one
// instance may be reading sample data at a time. Opening a file to learn its
// format and length does not touch that buffer.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/core/FileInputs.h"
#include "audio/core/Stream.h"
#include "audio/decoders/WaveAdpcm.h"

namespace lirvo {

enum TWavType {
  wtUnsupported,
  wtPCM,
  wtDVIADPCM,
  wtMSADPCM,
  wtACM,
  wtIEEEFloat,
  wtExtPCM,
  wtExtIEEEFloat
};

// Whether a four-character code read from a file matches the expected one:
// each byte equal or differing by exactly 32 (so any letter case matches; a
// space also accepts 0x00 and 0x40).
bool WaveCodeMatches(const uint8_t* Code, const char* Expected);

class TWaveIn : public TAuFileIn {
 public:
  explicit TWaveIn(TComponent* AOwner = nullptr);
  ~TWaveIn() override;

  // Decodes into the pool's second WAV block, so that a second decoder (the
  // next track's, prepared while this one plays) never shares the first's.
  // Before the first Init.
  void UseSecondPoolBlock() {
    FSecondBlock = true;
    pbuf = nullptr;
  }

  // Opens the file if needed and tells how its samples are stored.
  TWavType WavType();
  // Bytes from the start of the header scan to the first sample byte of the
  // open file (for a converted file: of its PCM image).
  uint16_t HeaderSize() const { return FHeaderSize; }

  void OpenFile() override;
  void CloseFile() override;
  // A new stream may hold a new file: a failed conversion is tried again.
  void SetStream(TStream* Value) override;

 protected:
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override;
  bool SeekInternal(int64_t& SampleNum) override;

 private:
  // Reads the header from the stream's current position; sets _WavType, the
  // format fields, the ADPCM records and HeaderSize.
  void ParseWaveHeader();
  // Checks what the decoders rely on once the header is read; false makes
  // the file invalid.
  bool CheckFormat();
  bool FirstBlockHeaderValid();
  void OpenConverted();
  // Whether the conversion of the file now named or assigned failed before.
  bool ConversionFailedBefore() const;
  // Reads one ADPCM block into the block area of pbuf; false when there is
  // none.
  bool ReadBlock(uint32_t Length);
  int64_t FrameBytesStored() const;

  uint8_t* pbuf = nullptr;  // the pool's WAV block, lent
  bool FSecondBlock = false;
  TWavType _WavType = wtUnsupported;
  TDVI_ADPCM_INFO DVI_ADPCM_INFO;
  TDVI_ADPCM_STATE_STEREO DVI_ADPCM_STATE;
  TMS_ADPCM_INFO MS_ADPCM_INFO;
  TMSADPCMBlockHeaderStereo MS_ADPCM_STATE;
  uint16_t FHeaderSize = 0;
  std::unique_ptr<TStream> _MS;  // the PCM image of a converted file
  TStream* OldStream = nullptr;  // the file stream while _MS stands in
  bool OldStreamAssigned = false;
  bool ShortIEEEFloat = false;
  // Bytes one stored PCM sample takes (the block align's share of a channel
  // when that is wider than the depth).
  uint32_t FContainerBytes = 0;
  uint16_t FBlockAlign = 0;
  // The "fmt " record and the data chunk's length as the header gave them
  // (the length from "ds64" where the chunk defers to it).
  std::array<uint8_t, 129> FFmtRecord{};
  uint32_t FFmtLen = 0;
  int64_t FDataLen = 0;

  // A conversion that failed is not repeated by every format query: the
  // file (its name, or the stream assigned) it failed for.
  bool FConvertFailed = false;
  std::string FFailedName;
  TStream* FFailedStream = nullptr;

  // Where the scan started: sample data begin at FScanStart + HeaderSize.
  int64_t FScanStart = 0;
  // Frames of the next decoded ADPCM block to drop so that a seek lands
  // exactly on the frame asked for. Under DataCS.
  uint32_t FSkipFrames = 0;
};

}  // namespace lirvo
