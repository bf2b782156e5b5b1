#include "audio/decoders/AudioFLAC.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string_view>

#include "audio/core/AuException.h"
#include "audio/core/Pcm.h"
#include "audio/core/TextCodec.h"
#include "audio/decoders/LibraryBindings.h"

namespace lirvo {

namespace {

// The output width for a stream width: the next multiple of 8.
uint32_t ContainerBits(uint32_t Bits) {
  return (Bits + 7) / 8 * 8;
}

}  // namespace

TFLACIn::TFLACIn(TComponent* AOwner) : TAuTaggedFileIn(AOwner) {}

TFLACIn::~TFLACIn() {
  NotifyRemoval();
  CloseFile();
}

TVorbisTags& TFLACIn::VorbisComments() {
  OpenFile();
  return FComments;
}

TDecoderEnvironment TFLACIn::Environment() const {
  std::lock_guard<std::mutex> lock(FEnvironmentCS);
  return FEnvironment;
}

void TFLACIn::SetEnvironment(const TDecoderEnvironment& Env) {
  std::lock_guard<std::mutex> lock(FEnvironmentCS);
  FEnvironment = Env;
}

void TFLACIn::OpenFile() {
  // The binding is checked on every call, before OpenCS, so a library that
  // appears later is picked up by the next open.
  const TDecoderEnvironment env = Environment();
  LoadFlacImage(env);
  if (!FlacImageLoaded(env)) throw EAuException("libFLAC.dll library could not be loaded.");
  std::lock_guard<std::recursive_mutex> lock(OpenCS);
  if (FOpened == 0) {
    // Counted first: whatever fails below is released by CloseFile.
    ++FOpened;
    // Values of an earlier file never survive into this one, even when this
    // one turns out not to be valid.
    FCommonTags.Clear();
    FComments.Clear();
    FCommentSet.fill(false);
    // Not valid until the decoder is set up: a failure below leaves the file
    // open (for CloseFile) but never reported as valid.
    FValid = false;
    FHaveStreamInfo = false;
    FDecodable = false;
    FStreamTotal = 0;
    FSourceBPS = 0;
    FSize = 0;
    FBPS = 0;
    FSR = 0;
    FChan = 0;
    FBlockSize = 0;
    BytesPerBlock = 0;
    FAnyFrame = false;
    FAtEnd = false;
    FDecodeError = false;
    FOutStart = 0;
    FOutEnd = 0;
    if (!FStreamAssigned && FWideFileName.empty()) throw EAuException("File name is not assigned");
    OpenOwnStream();
    FStreamSize = FStream->Size();
    if (!FDecoder.Create()) throw EAuException("Failed to initialize the FLAC decoder.");
    if (!FDecoder.SetMd5Checking(FCheckMD5Signature))
      throw EAuException("Internal error 113, please report to Nelvora developers");
    FDecoder.SetMetadataRespondAll();
    if (FDecoder.InitStream(this) != FLAC__STREAM_DECODER_INIT_STATUS_OK)
      throw EAuException("Failed to set up the FLAC decoder.");
    FValid = true;
    EndOfMetadata = false;
    FReadingMetadata = true;
    // Only metadata is read here. A stream that reaches its audio (or its
    // end) without a block marked last stops the loop too, so a file that is
    // not FLAC never decodes frames here or spins at its end.
    while (!EndOfMetadata && FValid) {
      const FLAC__StreamDecoderState state = FDecoder.State();
      if (state != FLAC__STREAM_DECODER_SEARCH_FOR_METADATA &&
          state != FLAC__STREAM_DECODER_READ_METADATA)
        break;
      if (!FDecoder.ProcessSingle()) FValid = false;
    }
    FReadingMetadata = false;
    if (FDecoder.TakeCallbackError()) FValid = false;
    // Without STREAMINFO there is no format to deliver.
    if (!FHaveStreamInfo || !EndOfMetadata) FValid = false;
    FDecodable = FValid;
    if (!FValid) return;
  }
  if (FValid) RefreshCommonTags();
}

void TFLACIn::CloseFile() {
  std::lock_guard<std::recursive_mutex> lock(OpenCS);
  if (FOpened <= 0) return;
  if (FDecoder) {
    FSignatureValid = FDecoder.Finish();
    FDecoder.Destroy();
  }
  std::vector<uint8_t>().swap(Buff);
  FOutStart = 0;
  FOutEnd = 0;
  FDecodable = false;
  CloseOwnStream();
  FOpened = 0;
}

void TFLACIn::RefreshCommonTags() {
  FCommonTags.Clear();
  FCommonTags.SetArtist(FComments.Artist());
  FCommonTags.SetAlbum(FComments.Album());
  FCommonTags.SetTitle(FComments.Title());
  FCommonTags.SetYear(FComments.Date());
  FCommonTags.SetTrack(FComments.Track());
  FCommonTags.SetGenre(FComments.Genre());
}

// ---------------------------------------------------------------------------
// Data path

void TFLACIn::GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) {
  if (!Busy) throw EAuException("The Stream is not opened");
  if (FOutStart >= FOutEnd) {
    FOutStart = 0;
    FOutEnd = 0;
    if (!FDecodable || FAtEnd || !DecodeNextFrame()) {
      Buffer = nullptr;
      Bytes = 0;
      return;
    }
    FOutEnd = BytesPerBlock;
  }
  Bytes -= Bytes % FSampleSize;
  Bytes = std::min(Bytes, FOutEnd - FOutStart);
  Buffer = Buff.data() + FOutStart;
  FOutStart += Bytes;
}

bool TFLACIn::DecodeNextFrame() {
  FFrameWritten = false;
  bool ok;
  bool readingMetadata;
  FLAC__StreamDecoderState state = FDecoder.State();
  // After a reset (a failed seek) the decoder reads the metadata again, one
  // block per call, before it reaches a frame.
  do {
    readingMetadata = state == FLAC__STREAM_DECODER_SEARCH_FOR_METADATA ||
                      state == FLAC__STREAM_DECODER_READ_METADATA;
    ok = FDecoder.ProcessSingle();
    state = FDecoder.State();
  } while (ok && !FFrameWritten && readingMetadata);
  FDecoder.TakeCallbackError();  // already answered through the status codes
  if (FFrameWritten) return true;
  // libFLAC reports success at the end of the stream without writing a
  // frame: the end ends the read quietly instead of repeating the last frame.
  // So does a failure after the error callback has reported damage.
  if (state == FLAC__STREAM_DECODER_END_OF_STREAM || FDecodeError) return false;
  if (ok && !FAnyFrame && FStream->Position() < FStreamSize)
    throw EAuException("Sinc lost or corrupt data");
  throw EAuException("Error reading FLAC file");
}

bool TFLACIn::SeekInternal(int64_t& SampleNum) {
  FOutStart = 0;
  FOutEnd = 0;
  FAtEnd = false;
  if (!FDecodable || SampleNum < 0) return false;
  if (FStreamTotal > 0 && static_cast<uint64_t>(SampleNum) >= FStreamTotal) {
    // libFLAC refuses a target at or past the last frame; the end of the
    // file is still a valid place to be, with nothing left to read.
    SampleNum = static_cast<int64_t>(FStreamTotal);
    FAtEnd = true;
    return true;
  }
  // libFLAC lands on the frame holding the target and hands it to the write
  // callback trimmed to start at the target, so that frame is kept and
  // delivered first.
  FFrameWritten = false;
  const bool ok = FDecoder.SeekAbsolute(static_cast<uint64_t>(SampleNum));
  FDecoder.TakeCallbackError();
  if (!ok) {
    // A failed seek leaves the decoder unusable until it is reset (which
    // rewinds it to the start of the stream).
    FDecoder.Reset();
    return false;
  }
  if (FFrameWritten) FOutEnd = BytesPerBlock;
  return true;
}

// ---------------------------------------------------------------------------
// libFLAC callbacks

FLAC__StreamDecoderReadStatus TFLACIn::FlacRead(FLAC__byte* Buffer, size_t& Bytes) {
  const int64_t n = FStream->Read(Buffer, static_cast<int64_t>(Bytes));
  Bytes = n > 0 ? static_cast<size_t>(n) : 0;
  return Bytes > 0 ? FLAC__STREAM_DECODER_READ_STATUS_CONTINUE
                   : FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
}

FLAC__StreamDecoderSeekStatus TFLACIn::FlacSeek(uint64_t Offset) {
  if (!Seekable()) return FLAC__STREAM_DECODER_SEEK_STATUS_UNSUPPORTED;
  if (FStreamSize >= 0 && Offset > static_cast<uint64_t>(FStreamSize))
    return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
  if (FStream->Seek(static_cast<int64_t>(Offset), soBeginning) < 0)
    return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
  return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
}

FLAC__StreamDecoderTellStatus TFLACIn::FlacTell(uint64_t& Offset) {
  // Without a known length the stream is not seekable.
  if (FStreamTotal == 0) return FLAC__STREAM_DECODER_TELL_STATUS_UNSUPPORTED;
  const int64_t pos = FStream->Position();
  if (pos < 0) return FLAC__STREAM_DECODER_TELL_STATUS_ERROR;
  Offset = static_cast<uint64_t>(pos);
  return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

FLAC__StreamDecoderLengthStatus TFLACIn::FlacLength(uint64_t& Length) {
  if (FStreamSize < 0) return FLAC__STREAM_DECODER_LENGTH_STATUS_UNSUPPORTED;
  Length = static_cast<uint64_t>(FStreamSize);
  return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
}

bool TFLACIn::FlacEof() {
  return FStreamSize >= 0 && FStream->Position() >= FStreamSize;
}

FLAC__StreamDecoderWriteStatus TFLACIn::FlacWrite(const FLAC__Frame& Frame,
                                                  const FLAC__int32* const Buffer[]) {
  // A frame that does not match STREAMINFO's layout cannot be placed in the
  // output the input announced.
  if (!FHaveStreamInfo || Frame.header.channels != FChan ||
      Frame.header.bits_per_sample != FSourceBPS) {
    if (FReadingMetadata)
      FValid = false;
    else
      FDecodeError = true;
    return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
  }
  const uint32_t channels = FChan;
  const uint32_t bits = FBPS;
  const uint32_t shift = bits - FSourceBPS;
  FBlockSize = Frame.header.blocksize;
  BytesPerBlock = FBlockSize * (bits / 8) * channels;
  if (BytesPerBlock > Buff.size()) Buff.resize(BytesPerBlock);
  // A narrow stream (12 or 20 bits) is left-justified in its container;
  // 8-bit samples become unsigned.
  TPcmSample layout = TPcmSample::S32LE;
  if (bits == 8)
    layout = TPcmSample::U8;
  else if (bits == 16)
    layout = TPcmSample::S16LE;
  else if (bits == 24)
    layout = TPcmSample::S24LE;
  PcmInterleave(Buffer, channels, FBlockSize, shift, layout, Buff.data());
  FFrameWritten = true;
  FAnyFrame = true;
  return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void TFLACIn::FlacMetadata(const FLAC__StreamMetadata& Block) {
  // After the open (a reset after a failed seek reads the metadata again)
  // nothing changes: the format and comments stay as first read.
  if (!FReadingMetadata) return;
  if (Block.type == FLAC__METADATA_TYPE_STREAMINFO)
    ReadStreamInfo(Block.data.stream_info);
  else if (Block.type == FLAC__METADATA_TYPE_VORBIS_COMMENT)
    ReadComments(Block.data.vorbis_comment);
  EndOfMetadata = Block.is_last;
}

void TFLACIn::ReadStreamInfo(const FLAC__StreamMetadata_StreamInfo& Info) {
  if (FHaveStreamInfo) return;
  if (Info.sample_rate == 0 || Info.channels == 0 || Info.bits_per_sample < 4 ||
      Info.bits_per_sample > 32) {
    FValid = false;
    return;
  }
  FHaveStreamInfo = true;
  FSourceBPS = Info.bits_per_sample;
  const uint32_t bits = ContainerBits(FSourceBPS);
  FSR = Info.sample_rate;
  FChan = Info.channels;
  FBPS = bits;
  FStreamTotal = Info.total_samples;
  FTotalSamples = static_cast<int64_t>(Info.total_samples);
  FSize = static_cast<int64_t>(Info.total_samples) * (bits / 8) * Info.channels;
  MinFrameSize = Info.min_framesize;
}

void TFLACIn::ReadComments(const FLAC__StreamMetadata_VorbisComment& Comments) {
  // Names match without regard to case; the first value given for a name
  // wins, also across a second comment block.
  for (FLAC__uint32 i = 0; i < Comments.num_comments; ++i) {
    const FLAC__StreamMetadata_VorbisComment_Entry& e = Comments.comments[i];
    if (e.entry == nullptr) continue;
    const std::string_view text(reinterpret_cast<const char*>(e.entry), e.length);
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view name = text.substr(0, eq);
    for (size_t k = 0; k < kVorbisIds.size(); ++k) {
      if (FCommentSet[k] || !SameText(name, kVorbisIds[k])) continue;
      FCommentSet[k] = true;
      FComments.SetValues(kVorbisIds[k], TTagValue::WideString(Utf8Sanitize(text.substr(eq + 1))));
      break;
    }
  }
}

void TFLACIn::FlacError(FLAC__StreamDecoderErrorStatus) {
  // While opening, any error makes the file invalid. Later, libFLAC skips
  // the damaged part and goes on; the error only makes a following decoding
  // failure end the read quietly. FValid stays: clearing it under a running
  // read would let Valid() close the file beneath the reading thread.
  if (FReadingMetadata)
    FValid = false;
  else
    FDecodeError = true;
}

}  // namespace lirvo
