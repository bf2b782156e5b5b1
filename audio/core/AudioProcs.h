#pragma once
// Sample format conversion routines. All work on caller-owned memory and
// never allocate. Counts are element counts (samples) unless a routine says
// bytes. In-place widening walks from the end of the block to its start, so
// the buffer must be large enough for the wider output.

#include <cstdint>

namespace lirvo {

struct TGUID {
  uint32_t D1;
  uint16_t D2;
  uint16_t D3;
  uint8_t D4[8];
};

// In place: Bytes div 3 packed 24-bit samples -> 32-bit (value x 256).
void Convert24To32(void* Buf, uint32_t Bytes);
// In place: Bytes div 2 16-bit samples -> 32-bit (value x 65536).
void Convert16To32(void* Buf, uint32_t Bytes);
// The same widenings from Src into a separate Dst (Bytes counts Src; Dst
// takes Bytes div 3 x 4 or Bytes div 2 x 4 bytes). Src and Dst must not
// overlap. One pass instead of a copy followed by the in-place widening.
void Convert24To32Copy(const void* Src, void* Dst, uint32_t Bytes);
void Convert16To32Copy(const void* Src, void* Dst, uint32_t Bytes);
// Bytes unsigned 8-bit samples from Src -> 32-bit ((value - 128) x 2^24) in
// Dst (Bytes x 4 bytes, not overlapping Src).
void Convert8To32Copy(const void* Src, void* Dst, uint32_t Bytes);
// In place: Bytes div 8 doubles -> 32-bit integers packed at the start.
void ConvertDoubleToInt32(void* Buf, uint32_t Bytes);
// In place: Bytes div 4 floats -> 32-bit integers.
void ConvertSingleToInt32(void* Buf, uint32_t Bytes);

// Float to integer for the converter; the last three clip Src in place first.
void SingleToByte(float* Src, uint8_t* Dst, int32_t Count);
void SingleToSmallInt(float* Src, int16_t* Dst, int32_t Count);
void SingleToInt24(float* Src, uint8_t* Dst, int32_t Count);
void SingleToInt32(float* Src, int32_t* Dst, int32_t Count);

// Integer to float.
void ByteToSingle(const uint8_t* Src, float* Dst, int32_t Count);
void SmallIntToSingle(const int16_t* Src, float* Dst, int32_t Count);
void Int24ToSingle(const uint8_t* Src, float* Dst, int32_t Count);
void Int32ToSingle(const int32_t* Src, float* Dst, int32_t Count);

// Channels, in place.
void StereoToMono(float* Buf, int32_t Frames);
void MonoToStereo(void* Buf, int32_t Frames);  // 32-bit elements

bool SameGUID(const TGUID& A, const TGUID& B);

// Whether the 24-bit routines may use the processor's byte-shuffle
// instructions (on by default where present). Tests turn it off to check the
// portable loops; returns the previous setting.
bool UseShuffleInstructions(bool Enabled);

}  // namespace lirvo
