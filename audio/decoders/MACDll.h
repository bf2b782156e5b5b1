#pragma once
// The Monkey's Audio decompression interface of plain functions, as the APE
// input calls it: create a decoder on a file, pull whole blocks of PCM, read
// information fields, seek to a block, destroy it, and read the tag record.
// Here it is a thin layer over FFmpeg's APE demuxer and decoder.
//
// A block is one frame of audio (one sample of every channel) in the file's
// native PCM layout: 8-bit unsigned, 16-bit signed or 24-bit signed packed in
// three bytes, little-endian, channels interleaved. The data are exactly what
// FFmpeg's decoder produces for the file; seeking lands on the block asked
// for.
//
// The layer describes the decoded audio as a canonical 44-byte WAV header,
// the PCM data and no trailing bytes (the WAV header fields below).
//
// Threads: a handle is used by one thread at a time, except that the
// position and bitrate fields (CurrentBlock, CurrentMS, CurrentBitrate) may
// be read from another thread while the owner decodes. Different handles are
// independent.

#include <cstdint>
#include <string>

#include "audio/decoders/ApeTagReader.h"

namespace lirvo {

struct TApeDecompressor;
using APE_DECOMPRESS_HANDLE = TApeDecompressor*;

// Error codes (the Monkey's Audio SDK's values).
inline constexpr int32_t ERROR_SUCCESS = 0;
inline constexpr int32_t ERROR_IO_READ = 1000;
inline constexpr int32_t ERROR_IO_WRITE = 1001;
inline constexpr int32_t ERROR_INVALID_INPUT_FILE = 1002;
inline constexpr int32_t ERROR_INVALID_OUTPUT_FILE = 1003;
inline constexpr int32_t ERROR_INPUT_FILE_TOO_LARGE = 1004;
inline constexpr int32_t ERROR_INPUT_FILE_UNSUPPORTED_BIT_DEPTH = 1005;
inline constexpr int32_t ERROR_INPUT_FILE_UNSUPPORTED_SAMPLE_RATE = 1006;
inline constexpr int32_t ERROR_INPUT_FILE_UNSUPPORTED_CHANNEL_COUNT = 1007;
inline constexpr int32_t ERROR_INPUT_FILE_TOO_SMALL = 1008;
inline constexpr int32_t ERROR_INVALID_CHECKSUM = 1009;
inline constexpr int32_t ERROR_DECOMPRESSING_FRAME = 1010;
inline constexpr int32_t ERROR_INITIALIZING_UNMAC = 1011;
inline constexpr int32_t ERROR_INVALID_FUNCTION_PARAMETER = 1012;
inline constexpr int32_t ERROR_UNSUPPORTED_FILE_TYPE = 1013;
inline constexpr int32_t ERROR_INSUFFICIENT_MEMORY = 2000;
inline constexpr int32_t ERROR_LOADING_APE_DLL = 3000;
inline constexpr int32_t ERROR_LOADING_APE_INFO_DLL = 3001;
inline constexpr int32_t ERROR_LOADING_UNMAC_DLL = 3002;
inline constexpr int32_t ERROR_USER_STOPPED_PROCESSING = 4000;
inline constexpr int32_t ERROR_SKIPPED = 4001;
inline constexpr int32_t ERROR_BAD_PARAMETER = 5000;
inline constexpr int32_t ERROR_APE_COMPRESS_TOO_MUCH_DATA = 6000;

// Information fields (the Monkey's Audio SDK's identifiers).
enum APE_DECOMPRESS_FIELDS : int32_t {
  APE_INFO_FILE_VERSION = 1000,
  APE_INFO_COMPRESSION_LEVEL = 1001,
  APE_INFO_FORMAT_FLAGS = 1002,
  APE_INFO_SAMPLE_RATE = 1003,
  APE_INFO_BITS_PER_SAMPLE = 1004,
  APE_INFO_BYTES_PER_SAMPLE = 1005,
  APE_INFO_CHANNELS = 1006,
  APE_INFO_BLOCK_ALIGN = 1007,
  APE_INFO_BLOCKS_PER_FRAME = 1008,
  APE_INFO_FINAL_FRAME_BLOCKS = 1009,
  APE_INFO_TOTAL_FRAMES = 1010,
  APE_INFO_WAV_HEADER_BYTES = 1011,
  APE_INFO_WAV_TERMINATING_BYTES = 1012,
  APE_INFO_WAV_DATA_BYTES = 1013,
  APE_INFO_WAV_TOTAL_BYTES = 1014,
  APE_INFO_APE_TOTAL_BYTES = 1015,
  APE_INFO_TOTAL_BLOCKS = 1016,
  APE_INFO_LENGTH_MS = 1017,
  APE_INFO_AVERAGE_BITRATE = 1018,
  APE_INFO_FRAME_BITRATE = 1019,
  APE_INFO_DECOMPRESSED_BITRATE = 1020,
  APE_INFO_PEAK_LEVEL = 1021,
  APE_INFO_SEEK_BIT = 1022,
  APE_INFO_SEEK_BYTE = 1023,
  APE_INFO_WAV_HEADER_DATA = 1024,
  APE_INFO_WAV_TERMINATING_DATA = 1025,
  APE_INFO_WAVEFORMATEX = 1026,
  APE_INFO_IO_SOURCE = 1027,
  APE_INFO_FRAME_BYTES = 1028,
  APE_INFO_FRAME_BLOCKS = 1029,
  APE_INFO_TAG = 1030,
  APE_DECOMPRESS_CURRENT_BLOCK = 2000,
  APE_DECOMPRESS_CURRENT_MS = 2001,
  APE_DECOMPRESS_TOTAL_BLOCKS = 2002,
  APE_DECOMPRESS_LENGTH_MS = 2003,
  APE_DECOMPRESS_CURRENT_BITRATE = 2004,
  APE_DECOMPRESS_AVERAGE_BITRATE = 2005,
};

// The format record APE_INFO_WAVEFORMATEX fills (nParam1 points to it).
#pragma pack(push, 1)
struct TApeWaveFormatEx {
  uint16_t wFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
  uint16_t wBitsPerSample;
  uint16_t cbSize;
};
#pragma pack(pop)

// Opens FileName (a UTF-8 path) as a Monkey's Audio file. Returns the
// decoder, or nullptr with the reason in *pErrorCode (set to ERROR_SUCCESS on
// success): ERROR_INVALID_INPUT_FILE for a file that cannot be opened or is
// not a valid APE file, ERROR_UNSUPPORTED_FILE_TYPE for a version the decoder
// does not handle, ERROR_INPUT_FILE_UNSUPPORTED_BIT_DEPTH, ERROR_IO_READ,
// ERROR_INSUFFICIENT_MEMORY.
APE_DECOMPRESS_HANDLE c_APEDecompress_Create(const std::string& FileName, int32_t* pErrorCode);

// Closes the file and frees the decoder (nullptr is ignored).
void c_APEDecompress_Destroy(APE_DECOMPRESS_HANDLE hAPEDecompress);

// Writes up to nBlocks whole blocks to pBuffer and their number to
// *pBlocksRetrieved; 0 blocks at the end of the file. Frames the decoder
// rejects are skipped; the result is ERROR_DECOMPRESSING_FRAME when that
// left nothing to deliver, else ERROR_SUCCESS.
int32_t c_APEDecompress_GetData(APE_DECOMPRESS_HANDLE hAPEDecompress, void* pBuffer,
                                int64_t nBlocks, int64_t* pBlocksRetrieved);

// The value of an information field; -1 for an unknown field or a bad
// parameter. Values that count bytes or blocks are 64-bit.
int64_t c_APEDecompress_GetInfo(APE_DECOMPRESS_HANDLE hAPEDecompress, int32_t Field,
                                intptr_t nParam1, intptr_t nParam2);

// The next c_APEDecompress_GetData starts at block nBlockOffset (nothing
// more is delivered when that is at or past the end).
int32_t c_APEDecompress_Seek(APE_DECOMPRESS_HANDLE hAPEDecompress, int64_t nBlockOffset);

// Fills the 128-byte ID3v1-layout record from the file's tag (its APE tag,
// texts cut to the record's widths, else its ID3v1 tag). 0 when the file has
// a tag; any other result means no tag (or a file that cannot be read).
int32_t GetID3Tag(const std::string& FileName, TId3v1Record* pID3Tag);

}  // namespace lirvo
