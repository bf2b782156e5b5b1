#include "audio/decoders/WaveAdpcm.h"

#include <algorithm>
#include <cstring>

namespace lirvo {

namespace {

constexpr int16_t kImaStepTable[kImaMaxStepIndex + 1] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr int8_t kImaIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

constexpr int32_t kMsAdaptationTable[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                            768, 614, 512, 409, 307, 230, 230, 230};

inline int16_t LoadI16(const uint8_t* p) {
  return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

// One IMA channel: the running value and step index.
struct ImaChannel {
  int32_t value;
  int32_t index;

  inline int16_t Expand(uint32_t c) {
    const int32_t step = kImaStepTable[index];
    int32_t diff = step >> 3;
    if (c & 4) diff += step;
    if (c & 2) diff += step >> 1;
    if (c & 1) diff += step >> 2;
    value = (c & 8) ? value - diff : value + diff;
    // The codec's range is symmetric: -32768 is never produced.
    value = std::clamp(value, -32767, 32767);
    index = std::clamp(index + kImaIndexTable[c], 0, kImaMaxStepIndex);
    return static_cast<int16_t>(value);
  }
};

// One Microsoft ADPCM channel.
struct MsChannel {
  int32_t coef1, coef2;
  int32_t delta;  // kept as a signed 16-bit value
  int32_t sample1, sample2;

  inline int16_t Expand(uint32_t c) {
    // Integer division truncates toward zero, as the codec defines it.
    const int32_t predicted = (sample1 * coef1 + sample2 * coef2) / 256;
    const int32_t s = c >= 8 ? static_cast<int32_t>(c) - 16 : static_cast<int32_t>(c);
    const int32_t value = std::clamp(predicted + s * delta, -32768, 32767);
    delta = static_cast<int16_t>((delta * kMsAdaptationTable[c]) / 256);
    if (delta < 16) delta = 16;
    sample2 = sample1;
    sample1 = value;
    return static_cast<int16_t>(value);
  }
};

}  // namespace

uint32_t ImaFramesPerBlock(uint32_t BlockLength, uint32_t Channels) {
  if (Channels == 1) return BlockLength >= 4 ? 2 * (BlockLength - 4) + 1 : 0;
  if (Channels == 2) return BlockLength >= 8 ? (BlockLength - 8) + 1 : 0;
  return 0;
}

int32_t DecodeImaBlock(const uint8_t* Block, uint32_t BlockLength, uint32_t Channels, int16_t* Out,
                       TDVI_ADPCM_STATE_STEREO& State) {
  if (ImaFramesPerBlock(BlockLength, Channels) == 0) return -1;
  State.valprev_l = LoadI16(Block);
  State.index_l = Block[2];
  if (State.index_l > kImaMaxStepIndex) return -1;
  if (Channels == 1) {
    ImaChannel ch{State.valprev_l, State.index_l};
    *Out++ = State.valprev_l;
    const uint8_t* codes = Block + 4;
    const uint32_t bytes = BlockLength - 4;
    for (uint32_t i = 0; i < bytes; ++i) {
      const uint32_t b = codes[i];
      *Out++ = ch.Expand(b & 0x0F);
      *Out++ = ch.Expand(b >> 4);
    }
    return static_cast<int32_t>(2 * bytes + 1);
  }
  State.valprev_r = LoadI16(Block + 4);
  State.index_r = Block[6];
  if (State.index_r > kImaMaxStepIndex) return -1;
  ImaChannel left{State.valprev_l, State.index_l};
  ImaChannel right{State.valprev_r, State.index_r};
  Out[0] = State.valprev_l;
  Out[1] = State.valprev_r;
  int16_t* frame = Out + 2;
  // Code bytes come in groups of eight: four bytes of left codes (eight
  // codes, low nibble first), then four bytes of right codes.
  const uint8_t* codes = Block + 8;
  const uint32_t n = BlockLength - 8;  // codes per channel
  const uint32_t groups = n / 8;
  for (uint32_t g = 0; g < groups; ++g, codes += 8) {
    for (int i = 0; i < 4; ++i) {
      const uint32_t l = codes[i];
      const uint32_t r = codes[4 + i];
      frame[0] = left.Expand(l & 0x0F);
      frame[1] = right.Expand(r & 0x0F);
      frame[2] = left.Expand(l >> 4);
      frame[3] = right.Expand(r >> 4);
      frame += 4;
    }
  }
  // A block whose code bytes do not fill the last group: the codes the block
  // lacks read as 0 rather than as bytes beyond it.
  const uint32_t rest = n % 8;
  if (rest != 0) {
    uint8_t tail[8] = {};
    std::memcpy(tail, codes, rest);
    for (uint32_t k = 0; k < rest; ++k) {
      const uint32_t byte = k / 2;
      const bool high = (k & 1) != 0;
      const uint32_t l = high ? tail[byte] >> 4 : tail[byte] & 0x0F;
      const uint32_t r = high ? tail[4 + byte] >> 4 : tail[4 + byte] & 0x0F;
      frame[0] = left.Expand(l);
      frame[1] = right.Expand(r);
      frame += 2;
    }
  }
  return static_cast<int32_t>(n + 1);
}

uint32_t MsFramesPerBlock(uint32_t SamplesPerBlock, uint32_t Channels) {
  if (SamplesPerBlock < 2) return 0;
  if (Channels == 1) return 2 + 2 * ((SamplesPerBlock - 2) / 2);
  if (Channels == 2) return SamplesPerBlock;
  return 0;
}

bool MsBlockHoldsSamples(uint32_t BlockLength, uint32_t SamplesPerBlock, uint32_t Channels) {
  if (SamplesPerBlock < 2) return false;
  if (Channels == 1) return BlockLength >= 7 && (SamplesPerBlock - 2) / 2 <= BlockLength - 7;
  if (Channels == 2) return BlockLength >= 14 && SamplesPerBlock - 2 <= BlockLength - 14;
  return false;
}

int32_t DecodeMsBlock(const uint8_t* Block, uint32_t Channels, const TMS_ADPCM_INFO& Info,
                      int16_t* Out, TMSADPCMBlockHeaderStereo& State) {
  const uint32_t spb = Info.SamplesPerBlock;
  if (Channels == 1) {
    State.predictor[0] = Block[0];
    State.Delta[0] = LoadI16(Block + 1);
    State.Samp1[0] = LoadI16(Block + 3);
    State.Samp2[0] = LoadI16(Block + 5);
    if (State.predictor[0] >= Info.NumCoeff || State.predictor[0] >= kMsAdpcmMaxCoefSets) return -1;
    const TMSADPCMCoefSet& cs = Info.CoefSets[State.predictor[0]];
    MsChannel ch{cs.Coef1, cs.Coef2, State.Delta[0], State.Samp1[0], State.Samp2[0]};
    *Out++ = State.Samp2[0];
    *Out++ = State.Samp1[0];
    const uint8_t* codes = Block + 7;
    const uint32_t count = (spb - 2) / 2;
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t b = codes[i];
      *Out++ = ch.Expand(b >> 4);
      *Out++ = ch.Expand(b & 0x0F);
    }
    return static_cast<int32_t>(2 * (2 + 2 * count));
  }
  State.predictor[0] = Block[0];
  State.predictor[1] = Block[1];
  State.Delta[0] = LoadI16(Block + 2);
  State.Delta[1] = LoadI16(Block + 4);
  State.Samp1[0] = LoadI16(Block + 6);
  State.Samp1[1] = LoadI16(Block + 8);
  State.Samp2[0] = LoadI16(Block + 10);
  State.Samp2[1] = LoadI16(Block + 12);
  for (int c = 0; c < 2; ++c)
    if (State.predictor[c] >= Info.NumCoeff || State.predictor[c] >= kMsAdpcmMaxCoefSets) return -1;
  const TMSADPCMCoefSet& csl = Info.CoefSets[State.predictor[0]];
  const TMSADPCMCoefSet& csr = Info.CoefSets[State.predictor[1]];
  MsChannel left{csl.Coef1, csl.Coef2, State.Delta[0], State.Samp1[0], State.Samp2[0]};
  MsChannel right{csr.Coef1, csr.Coef2, State.Delta[1], State.Samp1[1], State.Samp2[1]};
  Out[0] = State.Samp2[0];
  Out[1] = State.Samp2[1];
  Out[2] = State.Samp1[0];
  Out[3] = State.Samp1[1];
  Out += 4;
  const uint8_t* codes = Block + 14;
  for (uint32_t i = 0; i + 2 < spb; ++i) {
    const uint32_t b = codes[i];
    *Out++ = left.Expand(b >> 4);
    *Out++ = right.Expand(b & 0x0F);
  }
  return static_cast<int32_t>(4 * spb);
}

}  // namespace lirvo
