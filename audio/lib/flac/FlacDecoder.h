#pragma once
// Owner of one libFLAC stream decoder and the trampolines that route its
// eight callbacks to a client object. No decoding policy lives here: the
// FLAC input decides what the callbacks do and what the results mean.
//
// Threads: a decoder is used by one thread at a time (its owner's lock);
// libFLAC runs every callback synchronously on the calling thread, inside
// ProcessSingle, SeekAbsolute, Reset and Finish.

#include <FLAC/stream_decoder.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

namespace lirvo {

namespace flac {

// libFLAC's own names of a decoder state and of an initialisation status
// ("FLAC__STREAM_DECODER_...").
std::string ErrorText(FLAC__StreamDecoderState State);
std::string ErrorText(FLAC__StreamDecoderInitStatus Status);
// "Context: text of Status".
std::string ErrorMessage(FLAC__StreamDecoderInitStatus Status, const char* Context);
// Returns Status when it is FLAC__STREAM_DECODER_INIT_STATUS_OK; otherwise
// throws EAuException with ErrorMessage(Status, Context).
FLAC__StreamDecoderInitStatus Check(FLAC__StreamDecoderInitStatus Status, const char* Context);

}  // namespace flac

// Receives the decoder's callbacks. Implementations may throw: the
// trampolines turn an exception into the library's failure code (read and
// write: ABORT; seek, tell and length: ERROR; eof: true) and keep the first
// one for TakeCallbackError, so nothing unwinds through libFLAC.
class TFlacDecoderClient {
 public:
  // Bytes: in, the room in Buffer; out, the count stored.
  virtual FLAC__StreamDecoderReadStatus FlacRead(FLAC__byte* Buffer, size_t& Bytes) = 0;
  virtual FLAC__StreamDecoderSeekStatus FlacSeek(uint64_t Offset) = 0;
  virtual FLAC__StreamDecoderTellStatus FlacTell(uint64_t& Offset) = 0;
  virtual FLAC__StreamDecoderLengthStatus FlacLength(uint64_t& Length) = 0;
  virtual bool FlacEof() = 0;
  // One decoded frame: Frame.header.channels arrays of
  // Frame.header.blocksize samples, right-justified.
  virtual FLAC__StreamDecoderWriteStatus FlacWrite(const FLAC__Frame& Frame,
                                                   const FLAC__int32* const Buffer[]) = 0;
  virtual void FlacMetadata(const FLAC__StreamMetadata& Block) = 0;
  virtual void FlacError(FLAC__StreamDecoderErrorStatus Status) = 0;

 protected:
  ~TFlacDecoderClient() = default;
};

class TFlacStreamDecoder {
 public:
  TFlacStreamDecoder() = default;
  TFlacStreamDecoder(const TFlacStreamDecoder&) = delete;
  TFlacStreamDecoder& operator=(const TFlacStreamDecoder&) = delete;

  // A new decoder instance (an existing one is deleted first); false when
  // libFLAC cannot allocate one.
  bool Create();
  // Deletes the instance (libFLAC finishes it first when needed).
  void Destroy();
  explicit operator bool() const { return FDecoder != nullptr; }

  // Settings, before InitStream. False when the library refuses them.
  bool SetMd5Checking(bool Value);
  bool SetMetadataRespondAll();

  // Starts decoding a native FLAC stream through Client, which must outlive
  // the decoder's use (and this object must not move: it is the callbacks'
  // client data).
  FLAC__StreamDecoderInitStatus InitStream(TFlacDecoderClient* Client);

  bool ProcessSingle();
  FLAC__StreamDecoderState State() const;
  // Sample-accurate: on success the write callback has received the frame
  // holding Sample, trimmed to start at it.
  bool SeekAbsolute(uint64_t Sample);
  bool Reset();
  // Ends decoding; false when MD5 checking was on and the signature did not
  // match the decoded audio.
  bool Finish();

  // The first exception a callback raised since the last call (null when
  // none); clears it.
  std::exception_ptr TakeCallbackError();

 private:
  struct TDeleter {
    void operator()(FLAC__StreamDecoder* Decoder) const noexcept {
      FLAC__stream_decoder_delete(Decoder);
    }
  };

  static FLAC__StreamDecoderReadStatus ReadCallback(const FLAC__StreamDecoder*, FLAC__byte Buffer[],
                                                    size_t* Bytes, void* Data) noexcept;
  static FLAC__StreamDecoderSeekStatus SeekCallback(const FLAC__StreamDecoder*, FLAC__uint64 Offset,
                                                    void* Data) noexcept;
  static FLAC__StreamDecoderTellStatus TellCallback(const FLAC__StreamDecoder*,
                                                    FLAC__uint64* Offset, void* Data) noexcept;
  static FLAC__StreamDecoderLengthStatus LengthCallback(const FLAC__StreamDecoder*,
                                                        FLAC__uint64* Length, void* Data) noexcept;
  static FLAC__bool EofCallback(const FLAC__StreamDecoder*, void* Data) noexcept;
  static FLAC__StreamDecoderWriteStatus WriteCallback(const FLAC__StreamDecoder*,
                                                      const FLAC__Frame* Frame,
                                                      const FLAC__int32* const Buffer[],
                                                      void* Data) noexcept;
  static void MetadataCallback(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* Block,
                               void* Data) noexcept;
  static void ErrorCallback(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus Status,
                            void* Data) noexcept;

  void KeepError() noexcept;

  std::unique_ptr<FLAC__StreamDecoder, TDeleter> FDecoder;
  TFlacDecoderClient* FClient = nullptr;
  std::exception_ptr FCallbackError;
};

}  // namespace lirvo
