#include "audio/core/AudioClasses.h"

#include <algorithm>
#include <cstring>
#include <exception>

namespace lirvo {

// ---------------------------------------------------------------------------
// TAuInput

TAuInput::TAuInput(TComponent* AOwner) : TComponent(AOwner) {}

TAuInput::~TAuInput() = default;

void TAuInput::Init() {
  std::lock_guard<std::recursive_mutex> lock(DataCS);
  _EndOfStream = false;
  try {
    InitInternal();
  } catch (const std::exception& e) {
    _EndOfStream = true;
    throw EAuException(e.what());
  }
}

void TAuInput::Flush() {
  std::lock_guard<std::recursive_mutex> lock(DataCS);
  FlushInternal();
}

void TAuInput::GetData(uint8_t*& Buffer, uint32_t& Bytes) {
  std::lock_guard<std::recursive_mutex> lock(DataCS);
  GetDataInternal(Buffer, Bytes);
}

int32_t TAuInput::CopyData(void* Buffer, int32_t BufferSize) {
  if (BufferSize <= 0) return 0;
  uint8_t* p = nullptr;
  uint32_t bytes = static_cast<uint32_t>(BufferSize);
  GetData(p, bytes);
  if (!p || bytes == 0) return 0;
  std::memcpy(Buffer, p, bytes);
  return static_cast<int32_t>(bytes);
}

int32_t TAuInput::FillBuffer(void* Buffer, int32_t BufferSize, bool& Eof) {
  auto* out = static_cast<uint8_t*>(Buffer);
  int32_t have = 0;
  Eof = false;
  while (have < BufferSize) {
    uint8_t* p = nullptr;
    uint32_t bytes = static_cast<uint32_t>(BufferSize - have);
    GetData(p, bytes);
    if (!p || bytes == 0) {
      Eof = true;
      break;
    }
    std::memcpy(out + have, p, bytes);
    have += static_cast<int32_t>(bytes);
  }
  return have;
}

int32_t TAuInput::FillBufferUnprotected(void* Buffer, uint32_t BufferSize, bool& Eof) {
  Eof = false;
  if (!Buffer) return 0;
  auto* out = static_cast<uint8_t*>(Buffer);
  uint32_t have = 0;
  std::lock_guard<std::recursive_mutex> lock(DataCS);
  while (have < BufferSize) {
    uint8_t* p = nullptr;
    uint32_t bytes = BufferSize - have;
    GetDataInternal(p, bytes);
    if (!p || bytes == 0) {
      Eof = true;
      break;
    }
    std::memcpy(out + have, p, bytes);
    have += bytes;
  }
  FPosition += have;
  return static_cast<int32_t>(have);
}

void TAuInput::Reset() {
  try {
    Flush();
  } catch (...) {
    // Reset forces the input idle whatever state the source was left in.
  }
  Busy = false;
}

// ---------------------------------------------------------------------------
// TAuConverter

TAuConverter::TAuConverter(TComponent* AOwner) : TAuInput(AOwner) {}

TAuConverter::~TAuConverter() = default;

uint32_t TAuConverter::GetBitsPerSample() {
  TAuInput* in = FInput.load();
  if (!in) return 0;
  uint32_t bits = in->BitsPerSample();
  return RequestFloat() ? bits : (bits & 0x7F);
}

uint32_t TAuConverter::GetChannels() {
  TAuInput* in = FInput.load();
  return in ? in->Channels() : 0;
}

uint32_t TAuConverter::GetSampleRate() {
  TAuInput* in = FInput.load();
  return in ? in->SampleRate() : 0;
}

void TAuConverter::GetData(uint8_t*& Buffer, uint32_t& Bytes) {
  std::lock_guard<std::recursive_mutex> lock(DataCS);
  if (_EndOfStream) {
    Buffer = nullptr;
    Bytes = 0;
    return;
  }
  GetDataInternal(Buffer, Bytes);
  int64_t pos = FPosition += Bytes;
  int64_t size = FSize;
  if (size > 0 && pos > size) {
    // An input whose length was an estimate (a compressed stream's, that
    // grows as it is decoded) is followed: everything it delivers passes.
    const int64_t grown = SizeFromInput();
    if (grown > size) FSize = size = grown;
  }
  if (size > 0 && pos > size) {
    int64_t over = pos - size;
    Bytes = over >= Bytes ? 0 : Bytes - static_cast<uint32_t>(over);
    _EndOfStream = true;
  }
  if (Bytes == 0) _EndOfStream = true;
}

void TAuConverter::_Pause() {
  if (TAuInput* in = FInput.load()) in->_Pause();
}

void TAuConverter::_Resume() {
  if (TAuInput* in = FInput.load()) in->_Resume();
}

int64_t TAuConverter::SizeFromInput() {
  TAuInput* in = FInput.load();
  if (!in) return -1;
  const int64_t inSize = in->Size();
  const int64_t inFrame = static_cast<int64_t>((in->BitsPerSample() & 0x7F) / 8) * in->Channels();
  const int64_t frame = static_cast<int64_t>((BitsPerSample() & 0x7F) / 8) * Channels();
  if (inSize <= 0 || inFrame <= 0 || frame <= 0) return -1;
  return inSize / inFrame * frame;
}

void TAuConverter::_Jump(int32_t Offs) {
  TAuInput* in = FInput.load();
  if (!in) return;
  // Under the data lock, so that no block is delivered between the input's
  // jump and the position that follows it.
  std::lock_guard<std::recursive_mutex> lock(DataCS);
  in->_Jump(Offs);
  FollowInputPosition(in);
}

void TAuConverter::_SeekTo(int64_t Frame) {
  TAuInput* in = FInput.load();
  if (!in) return;
  std::lock_guard<std::recursive_mutex> lock(DataCS);
  in->_SeekTo(Frame);
  FollowInputPosition(in);
}

void TAuConverter::FollowInputPosition(TAuInput* In) {
  // The position follows the input's, frame for frame in this converter's
  // own format; the end is where the size says, not where the old position
  // was.
  const int64_t inFrame = static_cast<int64_t>((In->BitsPerSample() & 0x7F) / 8) * In->Channels();
  const int64_t frame = static_cast<int64_t>((BitsPerSample() & 0x7F) / 8) * Channels();
  if (inFrame <= 0 || frame <= 0) return;
  int64_t pos = In->Position() / inFrame * frame;
  const int64_t size = FSize;
  if (size > 0) pos = std::min(pos, size);
  FPosition = pos;
  _EndOfStream = size > 0 && pos >= size;
}

void TAuConverter::BreakWait() noexcept {
  if (TAuInput* in = FInput.load()) in->BreakWait();
}

void TAuConverter::SetInput(TAuInput* Value) {
  if (Value == this) return;
  std::lock_guard<std::recursive_mutex> lock(DataCS);
  TAuInput* old = FInput.load();
  if (Busy) {
    if (old) old->Flush();
    if (Value) Value->Init();
  }
  if (old && old != Value) RemoveFreeNotification(old);
  FInput = Value;
  if (Value) FreeNotification(Value);
}

void TAuConverter::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent != nullptr && AComponent == FInput.load()) {
    try {
      SetInput(nullptr);
    } catch (...) {
      // The input is going away; a failure to flush it changes nothing.
      FInput = nullptr;
    }
  }
  TAuInput::Notification(AComponent, Operation);
}

}  // namespace lirvo
