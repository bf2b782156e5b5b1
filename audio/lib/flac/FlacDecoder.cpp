#include "audio/lib/flac/FlacDecoder.h"

#include "audio/core/AuException.h"

namespace lirvo {

namespace flac {

namespace {
// libFLAC's string tables are indexed by the enumeration, up to its last
// value; a value past it (a corrupted variable) gets its number instead.
std::string TableText(const char* const* Table, int Last, int Value) {
  if (Value >= 0 && Value <= Last && Table[Value]) return Table[Value];
  return "unknown (" + std::to_string(Value) + ")";
}
}  // namespace

std::string ErrorText(FLAC__StreamDecoderState State) {
  return TableText(FLAC__StreamDecoderStateString, FLAC__STREAM_DECODER_UNINITIALIZED,
                   static_cast<int>(State));
}

std::string ErrorText(FLAC__StreamDecoderInitStatus Status) {
  return TableText(FLAC__StreamDecoderInitStatusString,
                   FLAC__STREAM_DECODER_INIT_STATUS_ALREADY_INITIALIZED, static_cast<int>(Status));
}

std::string ErrorMessage(FLAC__StreamDecoderInitStatus Status, const char* Context) {
  return std::string(Context) + ": " + ErrorText(Status);
}

FLAC__StreamDecoderInitStatus Check(FLAC__StreamDecoderInitStatus Status, const char* Context) {
  if (Status != FLAC__STREAM_DECODER_INIT_STATUS_OK)
    throw EAuException(ErrorMessage(Status, Context));
  return Status;
}

}  // namespace flac

bool TFlacStreamDecoder::Create() {
  FDecoder.reset(FLAC__stream_decoder_new());
  FClient = nullptr;
  FCallbackError = nullptr;
  return FDecoder != nullptr;
}

void TFlacStreamDecoder::Destroy() {
  FDecoder.reset();
  FClient = nullptr;
}

bool TFlacStreamDecoder::SetMd5Checking(bool Value) {
  return FDecoder && FLAC__stream_decoder_set_md5_checking(FDecoder.get(), Value);
}

bool TFlacStreamDecoder::SetMetadataRespondAll() {
  return FDecoder && FLAC__stream_decoder_set_metadata_respond_all(FDecoder.get());
}

FLAC__StreamDecoderInitStatus TFlacStreamDecoder::InitStream(TFlacDecoderClient* Client) {
  if (!FDecoder) return FLAC__STREAM_DECODER_INIT_STATUS_MEMORY_ALLOCATION_ERROR;
  FClient = Client;
  return FLAC__stream_decoder_init_stream(FDecoder.get(), ReadCallback, SeekCallback, TellCallback,
                                          LengthCallback, EofCallback, WriteCallback,
                                          MetadataCallback, ErrorCallback, this);
}

bool TFlacStreamDecoder::ProcessSingle() {
  return FDecoder && FLAC__stream_decoder_process_single(FDecoder.get());
}

FLAC__StreamDecoderState TFlacStreamDecoder::State() const {
  return FDecoder ? FLAC__stream_decoder_get_state(FDecoder.get())
                  : FLAC__STREAM_DECODER_UNINITIALIZED;
}

bool TFlacStreamDecoder::SeekAbsolute(uint64_t Sample) {
  return FDecoder && FLAC__stream_decoder_seek_absolute(FDecoder.get(), Sample);
}

bool TFlacStreamDecoder::Reset() {
  return FDecoder && FLAC__stream_decoder_reset(FDecoder.get());
}

bool TFlacStreamDecoder::Finish() {
  return !FDecoder || FLAC__stream_decoder_finish(FDecoder.get());
}

std::exception_ptr TFlacStreamDecoder::TakeCallbackError() {
  std::exception_ptr e = FCallbackError;
  FCallbackError = nullptr;
  return e;
}

void TFlacStreamDecoder::KeepError() noexcept {
  if (!FCallbackError) FCallbackError = std::current_exception();
}

// The trampolines. Data is the TFlacStreamDecoder given to init_stream.

FLAC__StreamDecoderReadStatus TFlacStreamDecoder::ReadCallback(const FLAC__StreamDecoder*,
                                                               FLAC__byte Buffer[], size_t* Bytes,
                                                               void* Data) noexcept {
  auto* self = static_cast<TFlacStreamDecoder*>(Data);
  try {
    return self->FClient->FlacRead(Buffer, *Bytes);
  } catch (...) {
    self->KeepError();
    *Bytes = 0;
    return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
  }
}

FLAC__StreamDecoderSeekStatus TFlacStreamDecoder::SeekCallback(const FLAC__StreamDecoder*,
                                                               FLAC__uint64 Offset,
                                                               void* Data) noexcept {
  auto* self = static_cast<TFlacStreamDecoder*>(Data);
  try {
    return self->FClient->FlacSeek(Offset);
  } catch (...) {
    self->KeepError();
    return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
  }
}

FLAC__StreamDecoderTellStatus TFlacStreamDecoder::TellCallback(const FLAC__StreamDecoder*,
                                                               FLAC__uint64* Offset,
                                                               void* Data) noexcept {
  auto* self = static_cast<TFlacStreamDecoder*>(Data);
  try {
    uint64_t offset = 0;
    const FLAC__StreamDecoderTellStatus status = self->FClient->FlacTell(offset);
    *Offset = offset;
    return status;
  } catch (...) {
    self->KeepError();
    return FLAC__STREAM_DECODER_TELL_STATUS_ERROR;
  }
}

FLAC__StreamDecoderLengthStatus TFlacStreamDecoder::LengthCallback(const FLAC__StreamDecoder*,
                                                                   FLAC__uint64* Length,
                                                                   void* Data) noexcept {
  auto* self = static_cast<TFlacStreamDecoder*>(Data);
  try {
    uint64_t length = 0;
    const FLAC__StreamDecoderLengthStatus status = self->FClient->FlacLength(length);
    *Length = length;
    return status;
  } catch (...) {
    self->KeepError();
    return FLAC__STREAM_DECODER_LENGTH_STATUS_ERROR;
  }
}

FLAC__bool TFlacStreamDecoder::EofCallback(const FLAC__StreamDecoder*, void* Data) noexcept {
  auto* self = static_cast<TFlacStreamDecoder*>(Data);
  try {
    return self->FClient->FlacEof();
  } catch (...) {
    // A stream that cannot tell its position cannot be read further.
    self->KeepError();
    return true;
  }
}

FLAC__StreamDecoderWriteStatus TFlacStreamDecoder::WriteCallback(const FLAC__StreamDecoder*,
                                                                 const FLAC__Frame* Frame,
                                                                 const FLAC__int32* const Buffer[],
                                                                 void* Data) noexcept {
  auto* self = static_cast<TFlacStreamDecoder*>(Data);
  try {
    return self->FClient->FlacWrite(*Frame, Buffer);
  } catch (...) {
    self->KeepError();
    return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
  }
}

void TFlacStreamDecoder::MetadataCallback(const FLAC__StreamDecoder*,
                                          const FLAC__StreamMetadata* Block, void* Data) noexcept {
  auto* self = static_cast<TFlacStreamDecoder*>(Data);
  try {
    self->FClient->FlacMetadata(*Block);
  } catch (...) {
    self->KeepError();
  }
}

void TFlacStreamDecoder::ErrorCallback(const FLAC__StreamDecoder*,
                                       FLAC__StreamDecoderErrorStatus Status, void* Data) noexcept {
  auto* self = static_cast<TFlacStreamDecoder*>(Data);
  try {
    self->FClient->FlacError(Status);
  } catch (...) {
    self->KeepError();
  }
}

}  // namespace lirvo
