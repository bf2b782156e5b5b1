#include "audio/core/FileInputs.h"

#include <algorithm>
#include <cmath>

namespace lirvo {

// ---------------------------------------------------------------------------
// TAuStreamedInput

TAuStreamedInput::TAuStreamedInput(TComponent* AOwner) : TAuInput(AOwner) {
  FSeekable = true;
}

TAuStreamedInput::~TAuStreamedInput() = default;

void TAuStreamedInput::SetStream(TStream* Value) {
  FStream = Value;
  FStreamAssigned = Value != nullptr;
}

bool TAuStreamedInput::Seek(int64_t SampleNum) {
  if (!Seekable()) return false;
  const int64_t total = FTotalSamples;
  if (total != 0 && SampleNum > total) return false;
  std::lock_guard<std::recursive_mutex> lock(DataCS);
  if (Busy) {
    const int64_t frame = std::max<int64_t>(1, FSampleSize);
    const int64_t was = FStartSample + FPosition / frame;
    // A decoder that throws has not sought.
    auto trySeek = [this](int64_t& Sample) {
      try {
        return SeekInternal(Sample);
      } catch (...) {
        return false;
      }
    };
    int64_t n = SampleNum + FStartSample;
    if (trySeek(n)) {
      FPosition = (n - FStartSample) * FSampleSize;
      // A stream that had ended plays again from there; where it ends now
      // is for the data to say (a decoder's size may be an estimate).
      _EndOfStream = false;
      return true;
    }
    // A decoder whose seek failed may have lost its place (libFLAC is reset
    // to the stream's start): it goes back to where it was, so the position
    // stays true. One that cannot even do that ends the stream rather than
    // play from a place nobody asked for.
    int64_t back = was;
    if (trySeek(back)) {
      FPosition = (back - FStartSample) * FSampleSize;
    } else {
      _EndOfStream = true;
      FPosition = std::max<int64_t>(0, FSize);
    }
    return false;
  }
  FStartSample = SampleNum;
  FPosition = SampleNum * FSampleSize;
  FEndSample = -1;
  return true;
}

void TAuStreamedInput::RestartWindow() {
  _EndOfStream = false;
  if (Seekable()) {
    int64_t start = FStartSample;
    SeekInternal(start);
  } else {
    // Re-open the source; DataCS is re-entrant.
    Flush();
    Init();
  }
  FPosition = 0;
}

void TAuStreamedInput::GetData(uint8_t*& Buffer, uint32_t& Bytes) {
  std::lock_guard<std::recursive_mutex> lock(DataCS);
  const uint32_t requested = Bytes;
  if (_EndOfStream) {
    if (!FLoop) {
      Buffer = nullptr;
      Bytes = 0;
      return;
    }
    // A looping window restarts on the call after its last block, so that
    // block is delivered whole rather than replaced by the restart.
    RestartWindow();
  }
  Bytes = requested;
  GetDataInternal(Buffer, Bytes);
  if (Bytes == 0) {
    _EndOfStream = true;
    if (!FLoop) {
      Buffer = nullptr;
      return;
    }
    // The file ended before the window: restart at once.
    RestartWindow();
    Bytes = requested;
    GetDataInternal(Buffer, Bytes);
    if (Bytes == 0) {
      _EndOfStream = true;
      Buffer = nullptr;
      return;
    }
  }
  const int64_t size = FSize;
  const int64_t before = FPosition;
  int64_t pos = before + Bytes;
  if (size > 0 && pos >= size) {
    _EndOfStream = true;
    if (pos > size) {
      // Only what lies inside the window is delivered; a seek may have left
      // the position at or past its end, and then nothing of the block is.
      Bytes = before >= size ? 0 : static_cast<uint32_t>(size - before);
      if (Bytes == 0) Buffer = nullptr;
      pos = size;
    }
  }
  FPosition = pos;
}

// ---------------------------------------------------------------------------
// TAuFileIn

TAuFileIn::TAuFileIn(TComponent* AOwner) : TAuStreamedInput(AOwner) {}

TAuFileIn::~TAuFileIn() {
  FOwnStream.reset();
}

void TAuFileIn::SetFileName(const std::string& Value) {
  CloseFile();
  FWideFileName = Value;
  FFileName = Value;
}

void TAuFileIn::SetWideFileName(const std::string& Value) {
  CloseFile();
  FWideFileName = Value;
  FFileName.clear();
}

void TAuFileIn::SetStream(TStream* Value) {
  CloseFile();
  TAuStreamedInput::SetStream(Value);
}

void TAuFileIn::OpenOwnStream() {
  if (FStreamAssigned) return;
  FOwnStream = std::make_unique<TAuFileStream>(FWideFileName, fmOpenRead | fmShareDenyWrite);
  FStream = FOwnStream.get();
}

void TAuFileIn::CloseOwnStream() {
  if (FStreamAssigned) {
    if (FStream && Seekable()) FStream->Seek(0, soBeginning);
    return;
  }
  FStream = nullptr;
  FOwnStream.reset();
}

uint32_t TAuFileIn::GetBitsPerSample() {
  OpenFile();
  return FBPS;
}

uint32_t TAuFileIn::GetChannels() {
  OpenFile();
  return FChan;
}

uint32_t TAuFileIn::GetSampleRate() {
  OpenFile();
  return FSR;
}

int64_t TAuFileIn::GetTotalSamples() {
  OpenFile();
  const int64_t frame = static_cast<int64_t>(FChan) * (FBPS / 8);
  const int64_t size = FSize;
  FTotalSamples = (size > 0 && frame > 0) ? size / frame : -1;
  return FTotalSamples;
}

uint32_t TAuFileIn::GetTotalTime() {
  OpenFile();
  const double bytesPerSecond = static_cast<double>(FSR) * FChan * (FBPS / 8);
  if (bytesPerSecond <= 0) return 0;
  const int64_t size = FSize;
  if (size <= 0) return 0;
  return static_cast<uint32_t>(std::llround(size / bytesPerSecond));
}

bool TAuFileIn::Valid() {
  if (!FStreamAssigned && FWideFileName.empty()) return FValid;
  try {
    OpenFile();
  } catch (...) {
    FValid = false;
  }
  if (FValid) return true;
  try {
    if (FOpened != 0)
      CloseFile();
    else
      CloseOwnStream();
  } catch (...) {
    // Already reported as not valid.
  }
  return false;
}

bool TAuFileIn::SetStartTime(int Minutes, int Seconds) {
  if (!Seekable()) return false;
  OpenFile();
  const int64_t s = (static_cast<int64_t>(Seconds) + Minutes * 60LL) * FSR;
  if (s < 0 || s > GetTotalSamples()) return false;
  FStartSample = s;
  return true;
}

bool TAuFileIn::SetEndTime(int Minutes, int Seconds) {
  if (!Seekable()) return false;
  OpenFile();
  const int64_t s = (static_cast<int64_t>(Seconds) + Minutes * 60LL) * FSR;
  if (s < 0 || s > GetTotalSamples()) return false;
  FEndSample = s;
  return true;
}

void TAuFileIn::Reset() {
  TAuStreamedInput::Reset();
  if (FOpened != 0) {
    try {
      CloseFile();
    } catch (...) {
      // Reset forces the input closed whatever the decoder reports.
    }
  }
  FOpened = 0;
}

void TAuFileIn::_Jump(int32_t Offs) {
  const int64_t size = FSize;
  if (!Seekable() || size == 0) return;
  double f = static_cast<double>(FPosition) / size + Offs / 1000.0;
  f = std::clamp(f, 0.0, 1.0);
  // Frame numbers are 64-bit: a long file at a high rate passes 2^31 frames.
  Seek(std::llround(static_cast<double>(FTotalSamples) * f));
}

void TAuFileIn::_SeekTo(int64_t Frame) {
  if (!Seekable() || FSize == 0) return;
  Seek(std::clamp<int64_t>(Frame, 0, FTotalSamples));
}

void TAuFileIn::SetEmptyFormat() {
  FSampleSize = 8;
  FSR = 8000;
  FBPS = 8;
  FChan = 1;
  FTotalSamples = 0;
  FSize = 0;
  FTime = 0;
}

void TAuFileIn::InitInternal() {
  if (Busy) throw EAuException("The component is Busy");
  if (!FStreamAssigned && FWideFileName.empty())
    throw EAuException("The file name is not assigned");
  Busy = true;
  FPosition = 0;
  try {
    OpenFile();
  } catch (...) {
    // A file that cannot be opened leaves the input idle, so the next Init
    // (another file, the same one once it is there) needs no Reset first.
    CloseFile();
    Busy = false;
    throw;
  }
  if (!FValid) {
    // An unrecognised file is not an error here: it delivers nothing.
    SetEmptyFormat();
    return;
  }
  FSampleSize = static_cast<uint16_t>(FChan * FBPS / 8);
  if (FSampleSize == 0 || FSR == 0) {
    // A decoder that claims validity without a format delivers nothing.
    FValid = false;
    SetEmptyFormat();
    return;
  }
  FTotalSamples = FSize / FSampleSize;
  FTime = static_cast<uint32_t>(std::max<int64_t>(0, FTotalSamples / FSR));
  if (FStartSample > 0 && !Seek(0)) {
    // A track that cannot start at its first frame is not played from the
    // image's first one instead.
    CloseFile();
    Busy = false;
    throw EAuException("The decoder cannot seek to the first frame of the track");
  }
  FPosition = 0;
  if (FStartSample <= 0 && FEndSample == -1) {
    BufStart = 1;
    BufEnd = 0;
    return;
  }
  // The window runs from the start sample to the end sample, both included;
  // without an end (or one past the file's), to the file's last frame.
  if (FEndSample >= FTotalSamples) FEndSample = -1;
  const int64_t last = FEndSample != -1 ? FEndSample.load() : FTotalSamples - 1;
  FTotalSamples = std::max<int64_t>(0, last - FStartSample + 1);
  FSize = FTotalSamples * FSampleSize;
  BufStart = 1;
  BufEnd = 0;
}

void TAuFileIn::FlushInternal() {
  CloseFile();
  FStartSample = 0;
  FEndSample = -1;
  Busy = false;
}

}  // namespace lirvo
