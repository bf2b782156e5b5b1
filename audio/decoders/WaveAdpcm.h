#pragma once
// The two ADPCM codings a WAV file may carry natively: IMA ("DVI") ADPCM and
// Microsoft ADPCM. The records hold the block geometry read from the "fmt "
// and "fact" chunks and the predictor state read from each block header; the
// decoders turn one block into interleaved 16-bit PCM.
//
// The decoders never read outside the block they are given nor outside their
// tables: a block header whose step index or predictor index is out of range
// is refused (the caller treats the file as damaged).

#include <cstdint>

namespace lirvo {

// Geometry of an IMA ADPCM file.
struct TDVI_ADPCM_INFO {
  uint16_t BlockLength = 0;      // bytes per block (the format's block alignment)
  uint16_t SamplesPerBlock = 0;  // frames per block, as the "fmt " chunk states
  int32_t DataSize = 0;          // frames of the file, from "fact"
};

// First sample and step index of each channel, from the current block header.
struct TDVI_ADPCM_STATE_STEREO {
  int16_t valprev_l = 0;
  uint8_t index_l = 0;
  int16_t valprev_r = 0;
  uint8_t index_r = 0;
};

struct TMSADPCMCoefSet {
  int16_t Coef1;
  int16_t Coef2;
};

inline constexpr int kMsAdpcmMaxCoefSets = 32;

// Geometry and predictor coefficients of a Microsoft ADPCM file. BlockLength
// also receives the block alignment of every file that is neither IMA nor
// Microsoft ADPCM.
struct TMS_ADPCM_INFO {
  uint16_t BlockLength = 0;
  uint16_t SamplesPerBlock = 0;
  uint32_t DataSize = 0;  // frames of the file, from "fact"
  uint16_t NumCoeff = 0;
  TMSADPCMCoefSet CoefSets[kMsAdpcmMaxCoefSets] = {};
};

// Predictor state of the current Microsoft ADPCM block; index 0 is the left
// (or only) channel. The field order is the byte order of a stereo block
// header.
struct TMSADPCMBlockHeaderStereo {
  uint8_t predictor[2] = {0, 0};
  int16_t Delta[2] = {0, 0};
  int16_t Samp1[2] = {0, 0};
  int16_t Samp2[2] = {0, 0};
};

// The largest step index of the IMA step table.
inline constexpr int kImaMaxStepIndex = 88;

// Frames one IMA block of BlockLength bytes yields (0 when the block cannot
// hold the channels' headers, or for channel counts other than 1 and 2).
uint32_t ImaFramesPerBlock(uint32_t BlockLength, uint32_t Channels);

// Decodes one IMA ADPCM block of BlockLength bytes (mono or stereo) into Out,
// which must hold ImaFramesPerBlock frames of 16-bit samples. The header goes
// to State. Returns the frames written, or -1 when a step index is above 88.
int32_t DecodeImaBlock(const uint8_t* Block, uint32_t BlockLength, uint32_t Channels, int16_t* Out,
                       TDVI_ADPCM_STATE_STEREO& State);

// Frames one Microsoft ADPCM block yields for SamplesPerBlock: 2 + 2 x
// ((SamplesPerBlock - 2) div 2) for mono, SamplesPerBlock for stereo.
uint32_t MsFramesPerBlock(uint32_t SamplesPerBlock, uint32_t Channels);

// Whether a Microsoft ADPCM block of BlockLength bytes holds the header and
// every code byte that SamplesPerBlock asks for.
bool MsBlockHoldsSamples(uint32_t BlockLength, uint32_t SamplesPerBlock, uint32_t Channels);

// Decodes one Microsoft ADPCM block (mono or stereo) into Out, which must hold
// MsFramesPerBlock frames of 16-bit samples; the geometry must have passed
// MsBlockHoldsSamples. The header goes to State. Returns the bytes written, or
// -1 when a predictor index is not below Info.NumCoeff.
int32_t DecodeMsBlock(const uint8_t* Block, uint32_t Channels, const TMS_ADPCM_INFO& Info,
                      int16_t* Out, TMSADPCMBlockHeaderStereo& State);

}  // namespace lirvo
