#include "audio/decoders/MACDll.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "audio/core/AuException.h"
#include "audio/core/Pcm.h"
#include "audio/decoders/FrameSeeker.h"
#include "audio/lib/ffmpeg/FfmpegHandles.h"

namespace lirvo {

namespace {

constexpr int64_t kWavHeaderBytes = 44;

int32_t OpenErrorCode(int AvError) {
  if (AvError == AVERROR(ENOMEM)) return ERROR_INSUFFICIENT_MEMORY;
  if (AvError == AVERROR(EIO)) return ERROR_IO_READ;
  if (AvError == AVERROR_PATCHWELCOME || AvError == AVERROR(ENOSYS))
    return ERROR_UNSUPPORTED_FILE_TYPE;
  return ERROR_INVALID_INPUT_FILE;
}

void PutLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void PutLe32(uint8_t* p, uint32_t v) {
  PutLe16(p, v);
  PutLe16(p + 2, v >> 16);
}

}  // namespace

// One open file. The facts are fixed at creation; the decoding state belongs
// to the thread that decodes; CurrentBlock is also read by other threads.
struct TApeDecompressor {
  // Declared in the order they depend on each other, so they are destroyed
  // in the reverse order.
  std::unique_ptr<TAuFileStream> File;
  ffmpeg::IOContextPtr IO;
  ffmpeg::FormatContextPtr Format;
  TFrameSeeker Reader;

  int32_t Version = 0;
  int32_t Compression = 0;
  int32_t Flags = 0;
  int32_t SampleRate = 0;
  int32_t Bits = 0;
  int32_t Channels = 0;
  int32_t BlockAlign = 0;
  int64_t TotalBlocks = 0;
  int64_t BlocksPerFrame = 0;
  int64_t FinalFrameBlocks = 0;
  int64_t ApeTotalBytes = 0;
  std::vector<int64_t> FramePos;  // byte position of every APE frame

  AVFrame* Frame = nullptr;  // the decoded frame being handed out
  int FrameOffset = 0;       // blocks of Frame already handed out
  std::atomic<int64_t> CurrentBlock{0};

  int64_t TotalFrames() const { return static_cast<int64_t>(FramePos.size()); }
  int64_t LengthMS() const { return SampleRate > 0 ? TotalBlocks * 1000 / SampleRate : 0; }
  int64_t FrameBlocks(int64_t i) const {
    if (i < 0 || i >= TotalFrames()) return -1;
    return i + 1 < TotalFrames() ? BlocksPerFrame : FinalFrameBlocks;
  }
  int64_t FrameBytes(int64_t i) const {
    if (i < 0 || i >= TotalFrames()) return -1;
    const int64_t end = i + 1 < TotalFrames() ? FramePos[i + 1] : ApeTotalBytes;
    return std::max<int64_t>(0, end - FramePos[i]);
  }
  int64_t FrameBitrate(int64_t i) const {
    const int64_t bytes = FrameBytes(i);
    const int64_t blocks = FrameBlocks(i);
    if (bytes <= 0 || blocks <= 0 || SampleRate <= 0) return 0;
    const int64_t ms = blocks * 1000 / SampleRate;
    return ms != 0 ? bytes * 8 / ms : 0;
  }
  int64_t AverageBitrate() const {
    const int64_t ms = LengthMS();
    return ms > 0 ? ApeTotalBytes * 8 / ms : 0;
  }
  int64_t CurrentFrame() const {
    if (BlocksPerFrame <= 0 || TotalFrames() == 0) return 0;
    return std::min(CurrentBlock.load() / BlocksPerFrame, TotalFrames() - 1);
  }

  int32_t Open(const std::string& FileName);
  // Copies Count blocks of Frame, from block FrameOffset on, to Out in the
  // file's native layout.
  void CopyBlocks(uint8_t* Out, int Count) const;
};

int32_t TApeDecompressor::Open(const std::string& FileName) {
  try {
    File = std::make_unique<TAuFileStream>(FileName, fmOpenRead | fmShareDenyWrite);
  } catch (const EAuException&) {
    return ERROR_INVALID_INPUT_FILE;
  }
  ApeTotalBytes = File->Size();
  IO = ffmpeg::MakeStreamIO(File.get());
  if (!IO) return ERROR_INSUFFICIENT_MEMORY;
  std::string error;
  int code = 0;
  Format = ffmpeg::OpenInput(IO.get(), "ape", error, code);
  if (!Format) return OpenErrorCode(code);

  int index = -1;
  for (unsigned i = 0; i < Format->nb_streams; ++i)
    if (Format->streams[i]->codecpar->codec_id == AV_CODEC_ID_APE) {
      index = static_cast<int>(i);
      break;
    }
  if (index < 0) return ERROR_INVALID_INPUT_FILE;
  AVStream* st = Format->streams[index];
  const AVCodecParameters* par = st->codecpar;

  Bits = par->bits_per_coded_sample;
  if (Bits != 8 && Bits != 16 && Bits != 24) return ERROR_INPUT_FILE_UNSUPPORTED_BIT_DEPTH;
  code = Reader.Open(Format.get(), index);
  if (code < 0) {
    return code == AVERROR_PATCHWELCOME ? ERROR_INPUT_FILE_UNSUPPORTED_BIT_DEPTH
                                        : OpenErrorCode(code);
  }
  switch (av_get_packed_sample_fmt(Reader.Codec()->sample_fmt)) {
    case AV_SAMPLE_FMT_U8:
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S32:
      break;
    default:
      return ERROR_INPUT_FILE_UNSUPPORTED_BIT_DEPTH;
  }

  SampleRate = par->sample_rate;
  Channels = par->ch_layout.nb_channels;
  if (SampleRate <= 0) return ERROR_INPUT_FILE_UNSUPPORTED_SAMPLE_RATE;
  if (Channels <= 0) return ERROR_INPUT_FILE_UNSUPPORTED_CHANNEL_COUNT;
  BlockAlign = Channels * Bits / 8;
  if (par->extradata && par->extradata_size >= 6) {
    // The demuxer passes the header's version, compression level and flags.
    const uint8_t* e = par->extradata;
    Version = e[0] | e[1] << 8;
    Compression = e[2] | e[3] << 8;
    Flags = e[4] | e[5] << 8;
  }
  TotalBlocks = st->duration != AV_NOPTS_VALUE && st->duration > 0 ? st->duration : 0;
  const std::vector<ffmpeg::TIndexEntry> frames = ffmpeg::IndexEntries(st);
  const auto entries = static_cast<int64_t>(frames.size());
  FramePos.reserve(frames.size());
  for (const ffmpeg::TIndexEntry& e : frames)
    FramePos.push_back(e.Pos);
  if (entries >= 2)
    BlocksPerFrame = frames[1].Timestamp - frames[0].Timestamp;
  else
    BlocksPerFrame = TotalBlocks;
  FinalFrameBlocks = entries > 0 ? TotalBlocks - (entries - 1) * BlocksPerFrame : 0;
  return ERROR_SUCCESS;
}

void TApeDecompressor::CopyBlocks(uint8_t* Out, int Count) const {
  const AVSampleFormat fmt = static_cast<AVSampleFormat>(Frame->format);
  const bool planar = av_sample_fmt_is_planar(fmt);
  const int inBytes = av_get_bytes_per_sample(fmt);
  const int ch = Channels;
  const int outBytes = Bits / 8;
  const size_t srcStep = planar ? inBytes : static_cast<size_t>(inBytes) * ch;
  const size_t dstStep = static_cast<size_t>(BlockAlign);
  for (int c = 0; c < ch; ++c) {
    const uint8_t* src =
        planar ? Frame->extended_data[c] + static_cast<size_t>(FrameOffset) * inBytes
               : Frame->extended_data[0] + (static_cast<size_t>(FrameOffset) * ch + c) * inBytes;
    uint8_t* dst = Out + static_cast<size_t>(c) * outBytes;
    const size_t n = Count > 0 ? static_cast<size_t>(Count) : 0;
    // Each channel into its place in the interleaved blocks; 24-bit samples
    // arrive in the top three bytes of 32-bit words.
    if (inBytes == 1)
      PcmCopySamples(src, srcStep, dst, dstStep, n, 1, 0);
    else if (inBytes == 2)
      PcmCopySamples(src, srcStep, dst, dstStep, n, 2, 0);
    else
      PcmCopySamples(src, srcStep, dst, dstStep, n, 3, 1);
  }
}

APE_DECOMPRESS_HANDLE c_APEDecompress_Create(const std::string& FileName, int32_t* pErrorCode) {
  int32_t code = ERROR_SUCCESS;
  std::unique_ptr<TApeDecompressor> d;
  try {
    d = std::make_unique<TApeDecompressor>();
    code = d->Open(FileName);
  } catch (const std::bad_alloc&) {
    code = ERROR_INSUFFICIENT_MEMORY;
  } catch (...) {
    code = ERROR_IO_READ;
  }
  if (pErrorCode) *pErrorCode = code;
  return code == ERROR_SUCCESS ? d.release() : nullptr;
}

void c_APEDecompress_Destroy(APE_DECOMPRESS_HANDLE hAPEDecompress) {
  delete hAPEDecompress;
}

int32_t c_APEDecompress_GetData(APE_DECOMPRESS_HANDLE h, void* pBuffer, int64_t nBlocks,
                                int64_t* pBlocksRetrieved) {
  if (pBlocksRetrieved) *pBlocksRetrieved = 0;
  if (!h || nBlocks < 0 || (nBlocks > 0 && !pBuffer)) return ERROR_INVALID_FUNCTION_PARAMETER;
  auto* out = static_cast<uint8_t*>(pBuffer);
  int64_t got = 0;
  try {
    while (got < nBlocks) {
      if (!h->Frame || h->FrameOffset >= h->Frame->nb_samples) {
        int skip = 0;
        h->Frame = h->Reader.Next(skip);
        h->FrameOffset = skip;
        if (!h->Frame) break;
        if (h->Frame->ch_layout.nb_channels != h->Channels) {
          h->Frame = nullptr;  // not the stream's layout: nothing of it can be delivered
          continue;
        }
      }
      const int n =
          static_cast<int>(std::min<int64_t>(nBlocks - got, h->Frame->nb_samples - h->FrameOffset));
      h->CopyBlocks(out + got * h->BlockAlign, n);
      h->FrameOffset += n;
      got += n;
    }
  } catch (...) {
    // A read failure of the file ends the data here.
    h->Frame = nullptr;
  }
  h->CurrentBlock += got;
  if (pBlocksRetrieved) *pBlocksRetrieved = got;
  return got == 0 && nBlocks > 0 && h->Reader.LastError() != 0 ? ERROR_DECOMPRESSING_FRAME
                                                               : ERROR_SUCCESS;
}

int64_t c_APEDecompress_GetInfo(APE_DECOMPRESS_HANDLE h, int32_t Field, intptr_t nParam1,
                                intptr_t nParam2) {
  if (!h) return -1;
  const int64_t dataBytes = h->TotalBlocks * h->BlockAlign;
  switch (Field) {
    case APE_INFO_FILE_VERSION:
      return h->Version;
    case APE_INFO_COMPRESSION_LEVEL:
      return h->Compression;
    case APE_INFO_FORMAT_FLAGS:
      return h->Flags;
    case APE_INFO_SAMPLE_RATE:
      return h->SampleRate;
    case APE_INFO_BITS_PER_SAMPLE:
      return h->Bits;
    case APE_INFO_BYTES_PER_SAMPLE:
      return h->Bits / 8;
    case APE_INFO_CHANNELS:
      return h->Channels;
    case APE_INFO_BLOCK_ALIGN:
      return h->BlockAlign;
    case APE_INFO_BLOCKS_PER_FRAME:
      return h->BlocksPerFrame;
    case APE_INFO_FINAL_FRAME_BLOCKS:
      return h->FinalFrameBlocks;
    case APE_INFO_TOTAL_FRAMES:
      return h->TotalFrames();
    case APE_INFO_WAV_HEADER_BYTES:
      return kWavHeaderBytes;
    case APE_INFO_WAV_TERMINATING_BYTES:
      return 0;
    case APE_INFO_WAV_DATA_BYTES:
      return dataBytes;
    case APE_INFO_WAV_TOTAL_BYTES:
      return kWavHeaderBytes + dataBytes;
    case APE_INFO_APE_TOTAL_BYTES:
      return h->ApeTotalBytes;
    case APE_INFO_TOTAL_BLOCKS:
    case APE_DECOMPRESS_TOTAL_BLOCKS:
      return h->TotalBlocks;
    case APE_INFO_LENGTH_MS:
    case APE_DECOMPRESS_LENGTH_MS:
      return h->LengthMS();
    case APE_INFO_AVERAGE_BITRATE:
    case APE_DECOMPRESS_AVERAGE_BITRATE:
      return h->AverageBitrate();
    case APE_INFO_FRAME_BITRATE:
      return h->FrameBitrate(nParam1);
    case APE_INFO_DECOMPRESSED_BITRATE:
      return static_cast<int64_t>(h->BlockAlign) * h->SampleRate / 125;
    case APE_INFO_PEAK_LEVEL:
      return -1;  // not recorded by the decoder
    case APE_INFO_SEEK_BIT:
      return nParam1 >= 0 && nParam1 < h->TotalFrames() ? 0 : -1;
    case APE_INFO_SEEK_BYTE:
      return nParam1 >= 0 && nParam1 < h->TotalFrames() ? h->FramePos[nParam1] : -1;
    case APE_INFO_WAV_HEADER_DATA: {
      if (nParam1 == 0 || nParam2 < kWavHeaderBytes) return -1;
      auto* p = reinterpret_cast<uint8_t*>(nParam1);
      const uint64_t riff = static_cast<uint64_t>(dataBytes) + 36;
      std::memcpy(p, "RIFF", 4);
      PutLe32(p + 4, riff > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(riff));
      std::memcpy(p + 8, "WAVEfmt ", 8);
      PutLe32(p + 16, 16);
      PutLe16(p + 20, 1);
      PutLe16(p + 22, static_cast<uint32_t>(h->Channels));
      PutLe32(p + 24, static_cast<uint32_t>(h->SampleRate));
      PutLe32(p + 28, static_cast<uint32_t>(h->SampleRate * h->BlockAlign));
      PutLe16(p + 32, static_cast<uint32_t>(h->BlockAlign));
      PutLe16(p + 34, static_cast<uint32_t>(h->Bits));
      std::memcpy(p + 36, "data", 4);
      PutLe32(p + 40, dataBytes > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<uint32_t>(dataBytes));
      return 0;
    }
    case APE_INFO_WAV_TERMINATING_DATA:
      return nParam1 == 0 ? -1 : 0;  // there are no trailing bytes to copy
    case APE_INFO_WAVEFORMATEX: {
      if (nParam1 == 0) return -1;
      TApeWaveFormatEx wfx{};
      wfx.wFormatTag = 1;
      wfx.nChannels = static_cast<uint16_t>(h->Channels);
      wfx.nSamplesPerSec = static_cast<uint32_t>(h->SampleRate);
      wfx.nAvgBytesPerSec = static_cast<uint32_t>(h->SampleRate * h->BlockAlign);
      wfx.nBlockAlign = static_cast<uint16_t>(h->BlockAlign);
      wfx.wBitsPerSample = static_cast<uint16_t>(h->Bits);
      wfx.cbSize = 0;
      std::memcpy(reinterpret_cast<void*>(nParam1), &wfx, sizeof(wfx));
      return 0;
    }
    case APE_INFO_IO_SOURCE:
    case APE_INFO_TAG:
      return 0;  // no I/O or tag objects are handed out
    case APE_INFO_FRAME_BYTES:
      return h->FrameBytes(nParam1);
    case APE_INFO_FRAME_BLOCKS:
      return h->FrameBlocks(nParam1);
    case APE_DECOMPRESS_CURRENT_BLOCK:
      return h->CurrentBlock.load();
    case APE_DECOMPRESS_CURRENT_MS:
      return h->SampleRate > 0 ? h->CurrentBlock.load() * 1000 / h->SampleRate : 0;
    case APE_DECOMPRESS_CURRENT_BITRATE:
      return h->FrameBitrate(h->CurrentFrame());
    default:
      return -1;
  }
}

int32_t c_APEDecompress_Seek(APE_DECOMPRESS_HANDLE h, int64_t nBlockOffset) {
  if (!h) return ERROR_INVALID_FUNCTION_PARAMETER;
  if (nBlockOffset < 0) return ERROR_BAD_PARAMETER;
  h->Frame = nullptr;
  h->FrameOffset = 0;
  h->CurrentBlock = h->TotalBlocks > 0 ? std::min(nBlockOffset, h->TotalBlocks) : nBlockOffset;
  bool ok = false;
  try {
    ok = h->Reader.Seek(nBlockOffset);
  } catch (...) {
    ok = false;
  }
  return ok ? ERROR_SUCCESS : ERROR_IO_READ;
}

int32_t GetID3Tag(const std::string& FileName, TId3v1Record* pID3Tag) {
  if (!pID3Tag) return -1;
  try {
    TAuFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
    return MakeId3v1Record(&file, *pID3Tag) ? 0 : -1;
  } catch (...) {
    std::memset(pID3Tag, 0, sizeof(*pID3Tag));
    return -1;
  }
}

}  // namespace lirvo
