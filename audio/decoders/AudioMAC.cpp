#include "audio/decoders/AudioMAC.h"

#include <algorithm>

#include "audio/decoders/ApeTagReader.h"
#include "audio/decoders/LibraryBindings.h"

namespace lirvo {

std::string MacErrorText(int32_t MacErrorCode) {
  switch (MacErrorCode) {
    case ERROR_SUCCESS:
      return "OK";
    case ERROR_IO_READ:
      return "I/O read error";
    case ERROR_IO_WRITE:
      return "I/O write error";
    case ERROR_INVALID_INPUT_FILE:
      return "invalid input file";
    case ERROR_INVALID_OUTPUT_FILE:
      return "invalid output file";
    case ERROR_INPUT_FILE_TOO_LARGE:
      return "input file file too large";
    case ERROR_INPUT_FILE_UNSUPPORTED_BIT_DEPTH:
      return "input file unsupported bit depth";
    case ERROR_INPUT_FILE_UNSUPPORTED_SAMPLE_RATE:
      return "input file unsupported sample rate";
    case ERROR_INPUT_FILE_UNSUPPORTED_CHANNEL_COUNT:
      return "input file unsupported channel count";
    case ERROR_INPUT_FILE_TOO_SMALL:
      return "input file too small";
    case ERROR_INVALID_CHECKSUM:
      return "invalid checksum";
    case ERROR_DECOMPRESSING_FRAME:
      return "decompressing frame";
    case ERROR_INITIALIZING_UNMAC:
      return "initializing unmac";
    case ERROR_INVALID_FUNCTION_PARAMETER:
      return "invalid function parameter";
    case ERROR_UNSUPPORTED_FILE_TYPE:
      return "unsupported file type";
    case ERROR_INSUFFICIENT_MEMORY:
      return "insufficient memory";
    case ERROR_LOADING_APE_DLL:
      return "loading MAC.dll";
    case ERROR_LOADING_APE_INFO_DLL:
      return "loading MACinfo.dll";
    case ERROR_LOADING_UNMAC_DLL:
      return "loading UnMAC.dll";
    case ERROR_USER_STOPPED_PROCESSING:
      return "user stopped processing";
    case ERROR_SKIPPED:
      return "skipped...";
    case ERROR_BAD_PARAMETER:
      return "bad parameter";
    case ERROR_APE_COMPRESS_TOO_MUCH_DATA:
      return "APE compress too much data";
    default:
      return "undefined (" + std::to_string(MacErrorCode) + ")";
  }
}

EAPEException::EAPEException(int32_t MacErrorCode)
    : EAuException("MACDll error: " + MacErrorText(MacErrorCode)), FErrorCode(MacErrorCode) {}

// ---------------------------------------------------------------------------
// TAPEDecompress

TAPEDecompress::TAPEDecompress(const std::string& Filename) : FFilename(Filename) {
  FHandle = c_APEDecompress_Create(Filename, &ErrorCode);
  if (ErrorCode != ERROR_SUCCESS) {
    c_APEDecompress_Destroy(FHandle);
    FHandle = nullptr;
    throw EAPEException(ErrorCode);
  }
}

TAPEDecompress::~TAPEDecompress() {
  if (FHandle) c_APEDecompress_Destroy(FHandle);
}

int32_t TAPEDecompress::GetData(void* pBuffer, int64_t nBlocks, int64_t* pBlocksRetrieved) {
  return c_APEDecompress_GetData(FHandle, pBuffer, nBlocks, pBlocksRetrieved);
}

int64_t TAPEDecompress::GetInfo(int32_t Field, intptr_t nParam1, intptr_t nParam2) {
  return c_APEDecompress_GetInfo(FHandle, Field, nParam1, nParam2);
}

int32_t TAPEDecompress::Seek(int64_t nBlockOffset) {
  return c_APEDecompress_Seek(FHandle, nBlockOffset);
}

// ---------------------------------------------------------------------------
// TMACIn

TMACIn::TMACIn(TComponent* AOwner) : TAuTaggedFileIn(AOwner) {}

TMACIn::~TMACIn() {
  NotifyRemoval();
  CloseFile();
}

TDecoderEnvironment TMACIn::Environment() const {
  std::lock_guard<std::mutex> lock(FEnvironmentCS);
  return FEnvironment;
}

void TMACIn::SetEnvironment(const TDecoderEnvironment& Env) {
  std::lock_guard<std::mutex> lock(FEnvironmentCS);
  FEnvironment = Env;
}

void TMACIn::OpenFile() {
  const TDecoderEnvironment env = Environment();
  LoadMacImage(env);
  if (!MacImageLoaded(env)) throw EAuException("MACDll.dll library could not be loaded.");
  std::lock_guard<std::recursive_mutex> lock(OpenCS);
  if (FOpened != 0) return;
  FValid = true;
  try {
    TAuFileStream tagFile(FWideFileName, fmOpenRead | fmShareDenyWrite);
    ReadApeFileTags(&tagFile, FAPEv2Tags, FCommonTags);
  } catch (const EAuException&) {
    // No readable tag: the containers stay empty and opening goes on (the
    // decoder reports a file it cannot read).
    FAPEv2Tags.Clear();
    FCommonTags.Clear();
  }
  try {
    APEDecompress = std::make_unique<TAPEDecompress>(FWideFileName);
  } catch (...) {
    FValid = false;
    throw;
  }
  if (APEDecompress->Handle()) {
    // The PCM bytes of the file: the WAV header the decoder also counts in
    // its total is never delivered.
    FSize = APEDecompress->InfoWavDataBytes();
    FSR = static_cast<uint32_t>(APEDecompress->InfoSampleRate());
    FBPS = static_cast<uint32_t>(APEDecompress->InfoBitsPerSample());
    FChan = static_cast<uint32_t>(APEDecompress->InfoChannels());
  } else {
    FValid = false;
    FOpened = -1;
  }
  ++FOpened;
}

void TMACIn::CloseFile() {
  std::lock_guard<std::recursive_mutex> lock(OpenCS);
  if (FOpened > 0) {
    APEDecompress.reset();
    FOpened = 0;
  }
}

void TMACIn::InitInternal() {
  TAuTaggedFileIn::InitInternal();
  BufStart = 1;
  BufEnd = 0;
  FDecoderDone = false;
}

void TMACIn::GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) {
  if (!Busy) throw EAuException("The Stream is not opened");
  const uint32_t frame = std::max<uint32_t>(1, FSampleSize);
  if (BufStart > BufEnd) {
    const uint32_t target = kBufSize - kBufSize % frame;
    BufStart = 1;
    BufEnd = 0;
    // The decoder's end is kept apart from the input's end-of-stream flag,
    // which the base sets only once the buffer has been handed out in full.
    while (!FDecoderDone && APEDecompress && BufEnd < target) {
      int64_t blocks = 0;
      APEDecompress->GetData(buf + BufEnd, (kBufSize - BufEnd) / frame, &blocks);
      const int64_t got = blocks * frame;
      if (got <= 0) {
        FDecoderDone = true;
        break;
      }
      BufEnd += static_cast<uint32_t>(got);
    }
  }
  Bytes -= Bytes % frame;
  Bytes = std::min(Bytes, BufEnd - BufStart + 1);
  Buffer = buf + BufStart - 1;
  BufStart += Bytes;
}

bool TMACIn::SeekInternal(int64_t& SampleNum) {
  if (APEDecompress) APEDecompress->Seek(SampleNum);
  BufStart = 1;
  BufEnd = 0;
  FDecoderDone = false;
  return true;
}

uint32_t TMACIn::GetTotalTime() {
  OpenFile();
  std::lock_guard<std::recursive_mutex> lock(OpenCS);
  return APEDecompress ? static_cast<uint32_t>(APEDecompress->LengthMS() / 1000) : 0;
}

TAPEv2Tags& TMACIn::APEv2Tags() {
  OpenFile();
  return FAPEv2Tags;
}

int64_t TMACIn::DecoderValue(int64_t (TAPEDecompress::*Getter)()) {
  std::lock_guard<std::recursive_mutex> lock(OpenCS);
  return APEDecompress ? (APEDecompress.get()->*Getter)() : 0;
}

int64_t TMACIn::AverageBitrate() {
  return DecoderValue(&TAPEDecompress::AverageBitrate);
}
int64_t TMACIn::CurrentBitrate() {
  return DecoderValue(&TAPEDecompress::CurrentBitrate);
}
int64_t TMACIn::CurrentBlock() {
  return DecoderValue(&TAPEDecompress::CurrentBlock);
}
int64_t TMACIn::CurrentMS() {
  return DecoderValue(&TAPEDecompress::CurrentMS);
}
int64_t TMACIn::LengthMS() {
  return DecoderValue(&TAPEDecompress::LengthMS);
}
int64_t TMACIn::TotalBlocks() {
  return DecoderValue(&TAPEDecompress::TotalBlocks);
}

}  // namespace lirvo
