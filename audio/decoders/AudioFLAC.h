#pragma once
// The file input for native FLAC files, over libFLAC's stream decoder fed
// from the input's stream. Each decoded frame is turned into interleaved
// little-endian PCM in a buffer of the input's own and handed out from there
// without a further copy. The Vorbis comments are kept in VorbisComments()
// and the common values copied into CommonTags().
//
// Output width: 8, 16, 24 or 32 bits. A stream whose width is not a multiple
// of 8 (12 or 20 bits, say) is delivered left-justified in the next wider
// width and reported as that width. 8-bit output is unsigned, as in WAV.
//
// Seeking is sample-accurate: after Seek(n) the next delivered frame is
// frame n of the file, whatever the block layout.
//
// Threads: OpenFile and CloseFile run under OpenCS (format getters may call
// OpenFile from the UI thread; it then only refreshes CommonTags); reads and
// seeks run under DataCS on the thread that pulls the chain. libFLAC runs
// every callback synchronously inside those calls, so the decoder state
// below is guarded by whichever of the two locks the calling path holds.

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "audio/decoders/DecoderEnvironment.h"
#include "audio/lib/flac/FlacDecoder.h"
#include "audio/tags/TaggedFileIn.h"

namespace lirvo {

class TFLACIn : public TAuTaggedFileIn, private TFlacDecoderClient {
 public:
  explicit TFLACIn(TComponent* AOwner = nullptr);
  ~TFLACIn() override;

  // Ask libFLAC to verify the stream's MD5 signature while decoding. Read at
  // each open; a seek turns the check off for the rest of that open file (the
  // library cannot verify audio it skipped), not for later files.
  bool CheckMD5Signature() const { return FCheckMD5Signature.load(); }
  void SetCheckMD5Signature(bool Value) { FCheckMD5Signature = Value; }
  // The verification's result, set when the file is closed: true when the
  // check was off, false when the audio did not match or was not decoded to
  // its end.
  bool IsMD5SignatureValid() const { return FSignatureValid.load(); }
  // Opens the file if needed and returns its Vorbis comments.
  TVorbisTags& VorbisComments();
  // Whether libFLAC may be used; read by each open, so a change is seen by
  // the next one.
  TDecoderEnvironment Environment() const;
  void SetEnvironment(const TDecoderEnvironment& Env);

  // Raises "libFLAC.dll library could not be loaded." when the library
  // binding is not available, "File name is not assigned", the file
  // stream's error text, or the decoder set-up errors; a file libFLAC cannot
  // read is not valid (no exception).
  void OpenFile() override;
  void CloseFile() override;

 protected:
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override;
  bool SeekInternal(int64_t& SampleNum) override;

 private:
  // libFLAC callbacks (through TFlacStreamDecoder's trampolines).
  FLAC__StreamDecoderReadStatus FlacRead(FLAC__byte* Buffer, size_t& Bytes) override;
  FLAC__StreamDecoderSeekStatus FlacSeek(uint64_t Offset) override;
  FLAC__StreamDecoderTellStatus FlacTell(uint64_t& Offset) override;
  FLAC__StreamDecoderLengthStatus FlacLength(uint64_t& Length) override;
  bool FlacEof() override;
  FLAC__StreamDecoderWriteStatus FlacWrite(const FLAC__Frame& Frame,
                                           const FLAC__int32* const Buffer[]) override;
  void FlacMetadata(const FLAC__StreamMetadata& Block) override;
  void FlacError(FLAC__StreamDecoderErrorStatus Status) override;

  void ReadStreamInfo(const FLAC__StreamMetadata_StreamInfo& Info);
  void ReadComments(const FLAC__StreamMetadata_VorbisComment& Comments);
  void RefreshCommonTags();
  // Decodes the next frame into FBuff; false at the end of the stream or
  // after a reported decoding error. Raises on other failures.
  bool DecodeNextFrame();

  // Written under OpenCS while opening, read on the data path.
  bool EndOfMetadata = false;
  bool FReadingMetadata = false;  // the metadata callback fills the fields
  bool FHaveStreamInfo = false;
  bool FDecodable = false;             // the open file can be read
  TVorbisTags FComments;               // under OpenCS
  std::array<bool, 12> FCommentSet{};  // which kVorbisIds the file has given
  uint32_t FSourceBPS = 0;             // bits per sample in the stream
  uint64_t FStreamTotal = 0;           // frames of the whole file; 0 when unknown
  int64_t FStreamSize = -1;            // bytes of the stream, taken when opened
  uint32_t MinFrameSize = 0;           // from STREAMINFO (kept, not used)

  // Decoder state, under OpenCS (open/close) or DataCS (reads, seeks).
  TFlacStreamDecoder FDecoder;
  std::vector<uint8_t> Buff;   // the last decoded frame, interleaved PCM; only grows
  uint32_t FBlockSize = 0;     // frames in the last decoded frame
  uint32_t BytesPerBlock = 0;  // bytes of PCM in the last decoded frame
  // The undelivered part of Buff: bytes FOutStart up to FOutEnd (empty when
  // FOutStart >= FOutEnd). Kept apart from the base's BufStart/BufEnd, which
  // Init empties after its initial seek: the frame that seek decoded must
  // survive to be delivered first.
  uint32_t FOutStart = 0;
  uint32_t FOutEnd = 0;
  bool FFrameWritten = false;  // the write callback stored a frame in this call
  bool FAnyFrame = false;      // a frame has been decoded since the open
  bool FAtEnd = false;         // positioned at the end by a seek: nothing to read
  bool FDecodeError = false;   // libFLAC reported damage after the open

  std::atomic<bool> FCheckMD5Signature{false};
  std::atomic<bool> FSignatureValid{false};

  mutable std::mutex FEnvironmentCS;  // guards FEnvironment
  TDecoderEnvironment FEnvironment;
};

}  // namespace lirvo
