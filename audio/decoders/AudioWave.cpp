#include "audio/decoders/AudioWave.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "audio/core/AudioProcs.h"
#include "audio/core/Pool.h"
#include "audio/decoders/WaveConverter.h"

namespace lirvo {

namespace {

// The header scan reads into a window of this size and gives up once it has
// read kHeaderLimit bytes without reaching the sample data.
constexpr uint32_t kHeaderWindow = 65536;
constexpr uint32_t kHeaderLimit = 65535;
// Zero bytes after the window, so format fields read past a short "fmt "
// body at the window's end stay inside it.
constexpr uint32_t kHeaderSlack = 256;

// Sample data are read in pieces of at most this many bytes.
constexpr uint32_t kPiece = 16384;

// Layout of the pool's WAV block: decoded output first, the raw ADPCM block
// above it. A block is at most 65,535 bytes and decodes to at most
// 262,140 bytes.
constexpr size_t kBlockAreaOffset = 0x60000;
static_assert(kBlockAreaOffset + 0x10000 <= kPoolBlockSize);
static_assert(4 * 0xFFFF <= kBlockAreaOffset);

constexpr uint8_t kSubtypeIeeeFloat[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                           0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr uint8_t kSubtypePcm[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                     0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t U32(const uint8_t* p) {
  return U16(p) | (static_cast<uint32_t>(U16(p + 2)) << 16);
}
uint64_t U64(const uint8_t* p) {
  return U32(p) | (static_cast<uint64_t>(U32(p + 4)) << 32);
}

// The widest sample container taken from a block align; a wider share of
// the block align is not a container but a damaged record, and is ignored.
constexpr uint32_t kMaxContainerBytes = 8;
// The 32-bit size of a chunk whose real size is in "ds64".
constexpr uint32_t kSizeInDs64 = 0xFFFFFFFF;

// Reads until Count bytes are there or the stream has no more.
int64_t ReadFull(TStream* S, uint8_t* Dst, int64_t Count) {
  int64_t done = 0;
  while (done < Count) {
    const int64_t n = S->Read(Dst + done, Count - done);
    if (n <= 0) break;
    done += n;
  }
  return done;
}

}  // namespace

bool WaveCodeMatches(const uint8_t* Code, const char* Expected) {
  for (int i = 0; i < 4; ++i) {
    const auto d = static_cast<uint8_t>(Code[i] - static_cast<uint8_t>(Expected[i]));
    if (d != 0 && d != 32 && d != 256 - 32) return false;
  }
  return true;
}

TWaveIn::TWaveIn(TComponent* AOwner) : TAuFileIn(AOwner) {
  _WavType = wtUnsupported;
  pbuf = PoolWaveBlock;
}

TWaveIn::~TWaveIn() {
  NotifyRemoval();
  CloseFile();
}

TWavType TWaveIn::WavType() {
  OpenFile();
  return _WavType;
}

// ---------------------------------------------------------------------------
// Header scan

void TWaveIn::ParseWaveHeader() {
  FSize = 0;
  FBPS = 0;
  FChan = 0;
  FSR = 0;
  _WavType = wtUnsupported;
  FHeaderSize = 0;
  DVI_ADPCM_INFO = {};
  MS_ADPCM_INFO = {};
  FContainerBytes = 0;
  FBlockAlign = 0;
  FFmtRecord.fill(0);
  FFmtLen = 0;
  FDataLen = 0;
  // The 64-bit data size of an RF64/BW64 file; -1 while none was seen.
  int64_t ds64Data = -1;
  auto takeDs64 = [&](const uint8_t* Id, const uint8_t* Body, uint32_t Len) {
    if (Len >= 16 && WaveCodeMatches(Id, "ds64"))
      ds64Data = static_cast<int64_t>(std::min<uint64_t>(U64(Body + 8), INT64_MAX));
  };

  TStream* s = FStream;
  FScanStart = std::max<int64_t>(0, s->Position());
  const int64_t size = s->Size();  // < 0: not seekable
  int64_t pos = FScanStart;
  // Bytes the stream did not deliver stay 0: the window is written once.
  std::vector<uint8_t> window(kHeaderWindow + kHeaderSlack, 0);
  uint8_t* w = window.data();
  uint32_t count = 0;

  auto read = [&](uint32_t n) {
    if (count + uint64_t{n} > kHeaderWindow) return false;
    pos += std::max<int64_t>(0, s->Read(w + count, n));
    count += n;
    return true;
  };
  auto last4 = [&] { return w + count - 4; };
  auto ended = [&] { return (size >= 0 && pos >= size) || count >= kHeaderLimit; };
  // An odd-sized chunk is followed by a pad byte: an identifier starting with
  // 0 is the pad byte and the first three bytes of the real identifier.
  auto skipPad = [&] { return *last4() != 0 || read(1); };
  // Passes over one chunk whose identifier is last4(): reads its size, its
  // body and the next identifier. Returns the body's offset in the window,
  // or -1 when the body does not fit into the window.
  auto passChunk = [&](uint32_t& len) -> int64_t {
    if (!read(4)) return -1;
    len = U32(last4());
    if (count + uint64_t{len} > kHeaderWindow) return -1;
    const uint32_t at = count;
    if (!read(len)) return -1;
    return at;
  };

  enum { kRiff, kWave, kFmt, kFact, kData } phase = kRiff;
  if (!read(4)) return;
  for (;;) {
    if (ended()) {
      _WavType = wtUnsupported;
      return;
    }
    switch (phase) {
      case kRiff:
        if (WaveCodeMatches(last4(), "RIFF") || WaveCodeMatches(last4(), "RF64") ||
            WaveCodeMatches(last4(), "BW64")) {
          read(4);
          phase = kWave;
        } else {
          read(1);
        }
        break;
      case kWave:
        if (WaveCodeMatches(last4(), "WAVE")) {
          read(4);
          phase = kFmt;
        } else {
          read(1);
        }
        break;
      case kFmt:
      case kFact: {
        if (!skipPad()) {
          _WavType = wtUnsupported;
          return;
        }
        uint8_t id[4];
        std::memcpy(id, last4(), 4);
        uint32_t len = 0;
        const int64_t at = passChunk(len);
        if (at < 0) {
          _WavType = wtUnsupported;
          return;
        }
        const uint8_t* body = w + at;
        takeDs64(id, body, len);
        if (phase == kFmt && WaveCodeMatches(id, "fmt ")) {
          const uint16_t tag = U16(body);
          FFmtLen = len;
          std::memcpy(FFmtRecord.data(), body, std::min<size_t>(len, FFmtRecord.size()));
          switch (tag) {
            case 1:
              _WavType = wtPCM;
              break;
            case 2:
              _WavType = wtMSADPCM;
              break;
            case 3:
              _WavType = wtIEEEFloat;
              break;
            case 0x11:
              _WavType = wtDVIADPCM;
              break;
            case 0x55:
              _WavType = wtACM;
              break;
            case 0xFFFE:
              _WavType = wtExtPCM;
              break;
            default:
              // Any other payload FFmpeg can decode takes the converted path.
              if (!TWaveConverter::CanDecode(tag)) {
                _WavType = wtUnsupported;
                return;
              }
              _WavType = wtACM;
              break;
          }
          FChan = U16(body + 2);
          FSR = U32(body + 4);
          if (_WavType == wtDVIADPCM)
            DVI_ADPCM_INFO.BlockLength = U16(body + 12);
          else
            MS_ADPCM_INFO.BlockLength = U16(body + 12);
          FBPS = U16(body + 14);
          FBlockAlign = U16(body + 12);
          if (_WavType == wtExtPCM) {
            // The sub-format GUID closes the extensible record. The body is
            // at least 20 bytes into the window, so this stays inside it.
            const uint8_t* guid = body + len - 16;
            if (std::memcmp(guid, kSubtypeIeeeFloat, 16) == 0)
              _WavType = wtExtIEEEFloat;
            else if (std::memcmp(guid, kSubtypePcm, 16) != 0)
              _WavType = wtUnsupported;
          }
          if (_WavType == wtDVIADPCM) {
            DVI_ADPCM_INFO.SamplesPerBlock = U16(body + 18);
          } else if (_WavType == wtMSADPCM || _WavType == wtACM) {
            MS_ADPCM_INFO.SamplesPerBlock = U16(body + 18);
          }
          if (_WavType == wtMSADPCM) {
            MS_ADPCM_INFO.NumCoeff = U16(body + 20);
            const int sets = std::min<int>(MS_ADPCM_INFO.NumCoeff, kMsAdpcmMaxCoefSets);
            for (int i = 0; i < sets; ++i) {
              MS_ADPCM_INFO.CoefSets[i].Coef1 = static_cast<int16_t>(U16(body + 22 + 4 * i));
              MS_ADPCM_INFO.CoefSets[i].Coef2 = static_cast<int16_t>(U16(body + 24 + 4 * i));
            }
          }
          phase = (_WavType == wtDVIADPCM || _WavType == wtMSADPCM || _WavType == wtACM) ? kFact
                                                                                         : kData;
        } else if (phase == kFact && WaveCodeMatches(id, "fact")) {
          if (_WavType == wtDVIADPCM)
            DVI_ADPCM_INFO.DataSize = static_cast<int32_t>(U32(body));
          else
            MS_ADPCM_INFO.DataSize = U32(body);
          phase = kData;
        }
        if (!read(4)) {
          _WavType = wtUnsupported;
          return;
        }
        break;
      }
      case kData: {
        if (!skipPad()) {
          _WavType = wtUnsupported;
          return;
        }
        if (WaveCodeMatches(last4(), "data")) {
          if (!read(4)) {
            _WavType = wtUnsupported;
            return;
          }
          const uint32_t len = U32(last4());
          FDataLen = (len == kSizeInDs64 && ds64Data >= 0) ? ds64Data : len;
          if (_WavType == wtPCM || _WavType == wtIEEEFloat || _WavType == wtExtPCM ||
              _WavType == wtExtIEEEFloat)
            FSize = FDataLen;
          // The window limit holds for this last step too, so HeaderSize
          // always fits its 16 bits.
          if (count >= kHeaderLimit) {
            _WavType = wtUnsupported;
            return;
          }
          FHeaderSize = static_cast<uint16_t>(count);
          return;
        }
        uint8_t id[4];
        std::memcpy(id, last4(), 4);
        uint32_t len = 0;
        const int64_t at = passChunk(len);
        if (at < 0) {
          _WavType = wtUnsupported;
          return;
        }
        takeDs64(id, w + at, len);
        if (!read(4)) {
          _WavType = wtUnsupported;
          return;
        }
        break;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Opening and closing

int64_t TWaveIn::FrameBytesStored() const {
  switch (_WavType) {
    case wtIEEEFloat:
    case wtExtIEEEFloat:
      return static_cast<int64_t>(FChan) * (ShortIEEEFloat ? 4 : 8);
    case wtDVIADPCM:
    case wtMSADPCM:
      return static_cast<int64_t>(FChan) * 2;
    default:
      return static_cast<int64_t>(FChan) * (FContainerBytes != 0 ? FContainerBytes : FBPS / 8);
  }
}

bool TWaveIn::CheckFormat() {
  if (FChan == 0 || FSR == 0 || FBPS == 0) return false;
  if (_WavType == wtPCM || _WavType == wtExtPCM || _WavType == wtACM) {
    // Samples of a width that is not a whole number of bytes are stored in
    // the next whole number of bytes, and are delivered as stored.
    FBPS = (FBPS + 7) / 8 * 8;
    // The container is the block align's share of a channel. WAV samples
    // are left-justified in it, so the bytes below the depth hold nothing and
    // are dropped: 20-bit samples in 4-byte containers are delivered as
    // 24-bit, as from any other 20-bit source.
    FContainerBytes = FBPS / 8;
    if (FBlockAlign % FChan == 0 && FBlockAlign / FChan > FContainerBytes &&
        FBlockAlign / FChan <= kMaxContainerBytes)
      FContainerBytes = FBlockAlign / FChan;
  }
  // A frame must fit into one read piece (16,384 bytes, 8 bytes a sample for
  // float data), or nothing could ever be delivered.
  const int64_t piece = (_WavType == wtIEEEFloat || _WavType == wtExtIEEEFloat)
                            ? static_cast<int64_t>(FChan) * 8
                            : FrameBytesStored();
  if (piece > kPiece) return false;
  if (_WavType == wtDVIADPCM) {
    if (ImaFramesPerBlock(DVI_ADPCM_INFO.BlockLength, FChan) == 0) return false;
    if (DVI_ADPCM_INFO.SamplesPerBlock == 0) return false;
    return FirstBlockHeaderValid();
  }
  if (_WavType == wtMSADPCM) {
    if (MS_ADPCM_INFO.NumCoeff > kMsAdpcmMaxCoefSets) return false;
    if (!MsBlockHoldsSamples(MS_ADPCM_INFO.BlockLength, MS_ADPCM_INFO.SamplesPerBlock, FChan))
      return false;
    return FirstBlockHeaderValid();
  }
  // Whole frames only: a data size that ends inside a frame drops that frame.
  // Stored frames of PCM count at their delivered width.
  const int64_t frame = static_cast<int64_t>(FChan) * (FBPS / 8);
  const int64_t stored = FContainerBytes != 0 ? FrameBytesStored() : frame;
  FSize = FSize / stored * frame;
  return true;
}

bool TWaveIn::FirstBlockHeaderValid() {
  // Only where the stream can be rewound: the first block's header tells
  // whether the step or predictor indexes are usable.
  if (FStream->Size() < 0) return true;
  const int64_t at = FStream->Position();
  uint8_t h[14] = {};
  const int64_t n = ReadFull(FStream, h, 14);
  FStream->Seek(at, soBeginning);
  if (_WavType == wtDVIADPCM) {
    if (n < 4 * static_cast<int64_t>(FChan)) return true;  // no block: nothing to decode
    return h[2] <= kImaMaxStepIndex && (FChan == 1 || h[6] <= kImaMaxStepIndex);
  }
  if (n < 7 * static_cast<int64_t>(FChan)) return true;
  for (uint32_t c = 0; c < FChan; ++c)
    if (h[c] >= MS_ADPCM_INFO.NumCoeff) return false;
  return true;
}

bool TWaveIn::ConversionFailedBefore() const {
  if (!FConvertFailed) return false;
  return FStreamAssigned ? FStream == FFailedStream : FWideFileName == FFailedName;
}

void TWaveIn::OpenConverted() {
  TWaveConverter conv;
  conv.Load(FStream, FFmtRecord.data(), FFmtLen, FScanStart + FHeaderSize, FDataLen);
  std::unique_ptr<TStream> image;
  if (conv.Convert() == 0) image = conv.TakeWavImage();
  if (!image) {
    // Not counted as opened; the file itself is released again. The failure
    // is remembered, so the format getters do not decode the file anew.
    FConvertFailed = true;
    FFailedStream = FStreamAssigned ? FStream : nullptr;
    FFailedName = FWideFileName;
    FValid = false;
    CloseOwnStream();
    return;
  }
  _MS = std::move(image);
  OldStream = FStream;
  OldStreamAssigned = FStreamAssigned;
  FStream = _MS.get();
  ParseWaveHeader();
  if (_WavType != wtPCM) FValid = false;
  _WavType = wtACM;
  if (FValid && !CheckFormat()) FValid = false;
  ++FOpened;
}

void TWaveIn::SetStream(TStream* Value) {
  TAuFileIn::SetStream(Value);
  FConvertFailed = false;
}

void TWaveIn::OpenFile() {
  std::lock_guard<std::recursive_mutex> lock(OpenCS);
  if (FOpened != 0) return;
  // The header fields stay as the failed attempt read them.
  if (ConversionFailedBefore()) {
    FValid = false;
    return;
  }
  FValid = true;
  ShortIEEEFloat = false;
  _WavType = wtUnsupported;
  FSkipFrames = 0;
  if (!FStreamAssigned && FWideFileName.empty()) {
    // Nothing to open yet: the format getters report an empty format.
    FValid = false;
    return;
  }
  OpenOwnStream();
  ParseWaveHeader();
  switch (_WavType) {
    case wtUnsupported:
      FValid = false;
      break;
    case wtPCM:
    case wtExtPCM:
      break;
    case wtDVIADPCM:
      if (FBPS != 4) FValid = false;
      FBPS = 16;
      // 64-bit: a long file's byte count does not wrap.
      FSize = static_cast<int64_t>(DVI_ADPCM_INFO.DataSize) * 2 * FChan;
      break;
    case wtMSADPCM:
      FBPS = 16;
      FSize = static_cast<int64_t>(MS_ADPCM_INFO.DataSize) * 2 * FChan;
      break;
    case wtIEEEFloat:
    case wtExtIEEEFloat:
      if (FBPS == 32)
        ShortIEEEFloat = true;
      else if (FBPS == 64)
        FSize = FSize / 2;
      else
        FValid = false;  // neither single nor double precision
      FBPS = 32;
      break;
    case wtACM:
      OpenConverted();
      return;
  }
  if (FValid && !CheckFormat()) FValid = false;
  ++FOpened;
}

void TWaveIn::CloseFile() {
  std::lock_guard<std::recursive_mutex> lock(OpenCS);
  if (FOpened > 0) {
    if (_MS) {
      FStream = OldStream;
      OldStream = nullptr;
    }
    CloseOwnStream();
    _MS.reset();
    FOpened = 0;
  }
}

// ---------------------------------------------------------------------------
// Reading and seeking

bool TWaveIn::ReadBlock(uint32_t Length) {
  uint8_t* block = pbuf + kBlockAreaOffset;
  const int64_t n = ReadFull(FStream, block, Length);
  if (n <= 0) return false;
  // A block cut short by the end of the file decodes its missing bytes as 0.
  if (n < Length) std::memset(block + n, 0, Length - static_cast<size_t>(n));
  return true;
}

void TWaveIn::GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) {
  if (!Busy) throw EAuException("The Stream is not opened");
  if (!pbuf) pbuf = FSecondBlock ? PoolWaveBlock2 : PoolWaveBlock;
  if (!pbuf) throw EAuException("The buffer pool is not started");
  if (!FValid || _WavType == wtUnsupported) {
    Buffer = nullptr;
    Bytes = 0;
    return;
  }
  const uint32_t frame = FChan * FBPS / 8;
  if (BufStart > BufEnd) {
    BufStart = 1;
    BufEnd = 0;
    switch (_WavType) {
      case wtPCM:
      case wtExtPCM:
      case wtACM: {
        const uint32_t stored = FChan * FContainerBytes;
        int64_t n = ReadFull(FStream, pbuf, kPiece - kPiece % stored);
        n -= n % stored;
        const uint32_t depth = FBPS / 8;
        if (FContainerBytes != depth) {
          // Keep the top bytes of each container, packed in place.
          const auto samples = static_cast<size_t>(n / FContainerBytes);
          const uint32_t skip = FContainerBytes - depth;
          for (size_t i = 0; i < samples; ++i)
            std::memmove(pbuf + i * depth, pbuf + i * FContainerBytes + skip, depth);
          n = static_cast<int64_t>(samples) * depth;
        }
        BufEnd = static_cast<uint32_t>(n);
        break;
      }
      case wtDVIADPCM: {
        if (!ReadBlock(DVI_ADPCM_INFO.BlockLength)) break;
        const int32_t frames =
            DecodeImaBlock(pbuf + kBlockAreaOffset, DVI_ADPCM_INFO.BlockLength, FChan,
                           reinterpret_cast<int16_t*>(pbuf), DVI_ADPCM_STATE);
        // A damaged block header ends the data rather than index the tables.
        if (frames > 0) BufEnd = static_cast<uint32_t>(frames) * frame;
        break;
      }
      case wtMSADPCM: {
        if (!ReadBlock(MS_ADPCM_INFO.BlockLength)) break;
        const int32_t bytes = DecodeMsBlock(pbuf + kBlockAreaOffset, FChan, MS_ADPCM_INFO,
                                            reinterpret_cast<int16_t*>(pbuf), MS_ADPCM_STATE);
        if (bytes > 0) BufEnd = static_cast<uint32_t>(bytes);
        break;
      }
      case wtIEEEFloat:
      case wtExtIEEEFloat: {
        const uint32_t stored = FChan * (ShortIEEEFloat ? 4 : 8);
        int64_t n = ReadFull(FStream, pbuf, kPiece - kPiece % (FChan * 8));
        n -= n % stored;
        if (ShortIEEEFloat) {
          ConvertSingleToInt32(pbuf, static_cast<uint32_t>(n));
          BufEnd = static_cast<uint32_t>(n);
        } else {
          ConvertDoubleToInt32(pbuf, static_cast<uint32_t>(n));
          BufEnd = static_cast<uint32_t>(n / 2);
        }
        break;
      }
      case wtUnsupported:
        break;
    }
    if (FSkipFrames != 0 && BufEnd > 0) {
      // After a seek into an ADPCM block: start at the frame asked for, but
      // never skip the whole block (a file whose block geometry disagrees).
      const uint32_t frames = BufEnd / frame;
      BufStart = 1 + std::min(FSkipFrames, frames - 1) * frame;
    }
    FSkipFrames = 0;
  }
  Bytes -= Bytes % frame;
  const int64_t avail = static_cast<int64_t>(BufEnd) - BufStart + 1;
  Bytes = static_cast<uint32_t>(std::clamp<int64_t>(avail, 0, Bytes));
  Buffer = pbuf + BufStart - 1;
  BufStart += Bytes;
}

bool TWaveIn::SeekInternal(int64_t& SampleNum) {
  BufStart = 1;
  BufEnd = 0;
  FSkipFrames = 0;
  if (!FValid || SampleNum < 0 || !FStream) return false;
  const int64_t data = FScanStart + FHeaderSize;
  int64_t offset;
  switch (_WavType) {
    case wtPCM:
    case wtExtPCM:
    case wtACM:
    case wtIEEEFloat:
    case wtExtIEEEFloat:
      offset = data + SampleNum * FrameBytesStored();
      break;
    case wtDVIADPCM:
    case wtMSADPCM: {
      const bool ima = _WavType == wtDVIADPCM;
      const int64_t spb = ima ? DVI_ADPCM_INFO.SamplesPerBlock : MS_ADPCM_INFO.SamplesPerBlock;
      const int64_t len = ima ? DVI_ADPCM_INFO.BlockLength : MS_ADPCM_INFO.BlockLength;
      const int64_t block = SampleNum / spb;
      offset = data + block * len;
      // The block is decoded from its start; the frames before the one asked
      // for are dropped at the next refill.
      FSkipFrames = static_cast<uint32_t>(SampleNum - block * spb);
      break;
    }
    default:
      return false;
  }
  if (FStream->Seek(offset, soBeginning) != offset) {
    FSkipFrames = 0;
    return false;
  }
  return true;
}

}  // namespace lirvo
