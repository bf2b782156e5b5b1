#pragma once
// The Monkey's Audio (APE) file input and its binding to the decoder's
// plain-function interface (MACDll.h).
//
// TMACIn opens its file by name (the decoder reads the file itself), so it
// works only with a file name, never with an assigned stream. Tags come from
// the file's APE tag in full, else its ID3v1 tag, else a leading ID3v2 tag.
//
// Threads: OpenFile and CloseFile run under OpenCS, reads and seeks under the
// caller's DataCS. The position and bitrate properties may be read from the
// UI thread while the playback thread decodes: they take OpenCS (so the
// decoder cannot go away meanwhile) and read values the decoder keeps for
// other threads. Each instance has its own buffer and decoder.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "audio/core/AuException.h"
#include "audio/decoders/DecoderEnvironment.h"
#include "audio/decoders/MACDll.h"
#include "audio/tags/TaggedFileIn.h"

namespace lirvo {

// The text of a decoder error code ("undefined (n)" for unknown codes).
std::string MacErrorText(int32_t MacErrorCode);

// A decoder error: "MACDll error: " and the code's text.
class EAPEException : public EAuException {
 public:
  explicit EAPEException(int32_t MacErrorCode);
  int32_t ErrorCode() const { return FErrorCode; }

 private:
  int32_t FErrorCode;
};

// One decoder handle over one file.
class TAPEDecompress {
 public:
  // Creates the decoder on Filename (UTF-8 path). Raises EAPEException when
  // the decoder reports an error code.
  explicit TAPEDecompress(const std::string& Filename);
  // Destroys the decoder handle.
  ~TAPEDecompress();
  TAPEDecompress(const TAPEDecompress&) = delete;
  TAPEDecompress& operator=(const TAPEDecompress&) = delete;

  APE_DECOMPRESS_HANDLE Handle() const { return FHandle; }
  const std::string& Filename() const { return FFilename; }
  int32_t ErrorCode = ERROR_SUCCESS;

  int32_t GetData(void* pBuffer, int64_t nBlocks, int64_t* pBlocksRetrieved);
  int64_t GetInfo(int32_t Field, intptr_t nParam1 = 0, intptr_t nParam2 = 0);
  int32_t Seek(int64_t nBlockOffset);

  int64_t InfoFileVersion() { return GetInfo(APE_INFO_FILE_VERSION); }
  int64_t InfoCompressionLevel() { return GetInfo(APE_INFO_COMPRESSION_LEVEL); }
  int64_t InfoFormatFlags() { return GetInfo(APE_INFO_FORMAT_FLAGS); }
  int64_t InfoSampleRate() { return GetInfo(APE_INFO_SAMPLE_RATE); }
  int64_t InfoBitsPerSample() { return GetInfo(APE_INFO_BITS_PER_SAMPLE); }
  int64_t InfoBytesPerSample() { return GetInfo(APE_INFO_BYTES_PER_SAMPLE); }
  int64_t InfoChannels() { return GetInfo(APE_INFO_CHANNELS); }
  int64_t InfoBlockAlign() { return GetInfo(APE_INFO_BLOCK_ALIGN); }
  int64_t InfoBlocksPerFrame() { return GetInfo(APE_INFO_BLOCKS_PER_FRAME); }
  int64_t InfoFinalFrameBlocks() { return GetInfo(APE_INFO_FINAL_FRAME_BLOCKS); }
  int64_t InfoTotalFrames() { return GetInfo(APE_INFO_TOTAL_FRAMES); }
  int64_t InfoWavHeaderBytes() { return GetInfo(APE_INFO_WAV_HEADER_BYTES); }
  int64_t InfoWavTerminatingBytes() { return GetInfo(APE_INFO_WAV_TERMINATING_BYTES); }
  int64_t InfoWavDataBytes() { return GetInfo(APE_INFO_WAV_DATA_BYTES); }
  int64_t InfoWavTotalBytes() { return GetInfo(APE_INFO_WAV_TOTAL_BYTES); }
  int64_t InfoApeTotalBytes() { return GetInfo(APE_INFO_APE_TOTAL_BYTES); }
  int64_t InfoTotalBlocks() { return GetInfo(APE_INFO_TOTAL_BLOCKS); }
  int64_t InfoLengthMS() { return GetInfo(APE_INFO_LENGTH_MS); }
  int64_t InfoAverageBitrage() { return GetInfo(APE_INFO_AVERAGE_BITRATE); }
  int64_t InfoFrameBitrate(int64_t FrameIndex) {
    return GetInfo(APE_INFO_FRAME_BITRATE, static_cast<intptr_t>(FrameIndex));
  }
  int64_t InfoDecompressedBitrate() { return GetInfo(APE_INFO_DECOMPRESSED_BITRATE); }
  int64_t InfoPeakLevel() { return GetInfo(APE_INFO_PEAK_LEVEL); }
  int64_t InfoSeekBit(int64_t FrameIndex) {
    return GetInfo(APE_INFO_SEEK_BIT, static_cast<intptr_t>(FrameIndex));
  }
  int64_t InfoSeekByte(int64_t FrameIndex) {
    return GetInfo(APE_INFO_SEEK_BYTE, static_cast<intptr_t>(FrameIndex));
  }
  int64_t InfoWavHeaderData(void* Buffer, int64_t MaxBytes) {
    return GetInfo(APE_INFO_WAV_HEADER_DATA, reinterpret_cast<intptr_t>(Buffer),
                   static_cast<intptr_t>(MaxBytes));
  }
  int64_t InfoTerminatingData(void* Buffer, int64_t MaxBytes) {
    return GetInfo(APE_INFO_WAV_TERMINATING_DATA, reinterpret_cast<intptr_t>(Buffer),
                   static_cast<intptr_t>(MaxBytes));
  }
  int64_t InfoWaveFormatEx(TApeWaveFormatEx* WaveFormatEx) {
    return GetInfo(APE_INFO_WAVEFORMATEX, reinterpret_cast<intptr_t>(WaveFormatEx));
  }
  int64_t InfoIOSource() { return GetInfo(APE_INFO_IO_SOURCE); }
  int64_t InfoFrameBytes(int64_t FrameIndex) {
    return GetInfo(APE_INFO_FRAME_BYTES, static_cast<intptr_t>(FrameIndex));
  }
  int64_t InfoFrameBlocks(int64_t FrameIndex) {
    return GetInfo(APE_INFO_FRAME_BLOCKS, static_cast<intptr_t>(FrameIndex));
  }
  int64_t InfoTag() { return GetInfo(APE_INFO_TAG); }
  int64_t CurrentBlock() { return GetInfo(APE_DECOMPRESS_CURRENT_BLOCK); }
  int64_t CurrentMS() { return GetInfo(APE_DECOMPRESS_CURRENT_MS); }
  int64_t TotalBlocks() { return GetInfo(APE_DECOMPRESS_TOTAL_BLOCKS); }
  int64_t LengthMS() { return GetInfo(APE_DECOMPRESS_LENGTH_MS); }
  int64_t CurrentBitrate() { return GetInfo(APE_DECOMPRESS_CURRENT_BITRATE); }
  int64_t AverageBitrate() { return GetInfo(APE_DECOMPRESS_AVERAGE_BITRATE); }

 private:
  APE_DECOMPRESS_HANDLE FHandle = nullptr;
  std::string FFilename;
};

class TMACIn : public TAuTaggedFileIn {
 public:
  explicit TMACIn(TComponent* AOwner = nullptr);
  ~TMACIn() override;

  // Raises "MACDll.dll library could not be loaded." when the decoder is not
  // available (before OpenCS is taken), EAPEException when the decoder
  // rejects the file. A file without tags still opens.
  void OpenFile() override;
  void CloseFile() override;
  // Whether the decoder may be used; read by each open, so a change is seen
  // by the next one.
  TDecoderEnvironment Environment() const;
  void SetEnvironment(const TDecoderEnvironment& Env);

  // Opens the file if needed.
  TAPEv2Tags& APEv2Tags();
  // 0 while no decoder is open; else the decoder's values.
  int64_t AverageBitrate();
  int64_t CurrentBitrate();
  int64_t CurrentBlock();
  int64_t CurrentMS();
  int64_t LengthMS();
  int64_t TotalBlocks();

 protected:
  void InitInternal() override;
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override;
  bool SeekInternal(int64_t& SampleNum) override;
  // Whole seconds of the decoder's length (truncated).
  uint32_t GetTotalTime() override;

 private:
  static constexpr uint32_t kBufSize = 8192;
  int64_t DecoderValue(int64_t (TAPEDecompress::*Getter)());

  uint8_t buf[kBufSize];      // under DataCS
  bool FDecoderDone = false;  // the decoder delivered its last block; under DataCS
  std::unique_ptr<TAPEDecompress> APEDecompress;  // under OpenCS
  mutable std::mutex FEnvironmentCS;              // guards FEnvironment
  TDecoderEnvironment FEnvironment;
};

}  // namespace lirvo
