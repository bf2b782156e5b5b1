#pragma once
// Sample width and mono/stereo conversion between a source and the rest of
// the chain. The player puts one in front of the direct-driver output, set to
// 32-bit stereo, so that the output always receives one format.

#include <atomic>
#include <cstdint>
#include <string>

#include "audio/core/AudioClasses.h"

namespace lirvo {

enum TMSConverterMode { msmMonoToBoth = 0, msmMonoToLeft = 1, msmMonoToRight = 2 };

// TAudioConverter: converts the input's PCM to OutBitsPerSample bits and
// OutChannels channels (0 keeps the input's value; with both 0 every block
// passes through untouched). Only mono <-> stereo changes the channel count;
// an input with more than two channels keeps its channels. Widths are 8
// (unsigned), 16, 24 (packed) and 32 bits. Mono and stereo reach 32-bit
// stereo exactly (each value shifted to the top, 8-bit re-centred, mono on
// both channels); every other conversion goes through a float stage.
//
// Threads: the property setters and the format getters may be called from
// the UI thread at any time; Init, Flush and the data calls run on the thread
// that pulls the chain, under DataCS. The output format is fixed at Init:
// later property changes take effect at the next Init, except that setting
// both widths to 0 switches to pass-through at once.
//
// Memory: converted blocks live in two fixed pool buffers (PoolConverterOut,
// PoolConverterFloat); a block is valid until the next data call. Requests
// are cut to what those buffers hold, so one block never exceeds
// kPoolBlockSize bytes. Two converters would share the buffers: the player's
// second (the next track's) uses the second pair (UseSecondPoolBuffers).
class TAudioConverter : public TAuConverter {
 public:
  explicit TAudioConverter(TComponent* AOwner = nullptr);
  ~TAudioConverter() override;

  // Stored only: mono input always goes to both channels.
  TMSConverterMode Mode() const { return FMode.load(); }
  void SetMode(TMSConverterMode Value) { FMode = Value; }
  int32_t OutBitsPerSample() const { return FOutBitsPerSample.load(); }
  void SetOutBitsPerSample(int32_t Value) { FOutBitsPerSample = Value; }
  int32_t OutChannels() const { return FOutChannels.load(); }
  void SetOutChannels(int32_t Value) { FOutChannels = Value; }
  // Converts into the pool's second pair of buffers (the next track's
  // converter, working while this one plays). Before the first Init.
  void UseSecondPoolBuffers() { FSecondBuffers = true; }

 protected:
  // OutBitsPerSample when set, otherwise the input's width (0 without one).
  uint32_t GetBitsPerSample() override;
  // The input's channels, or OutChannels when both are mono or stereo.
  uint32_t GetChannels() override;
  uint32_t GetSampleRate() override;
  // Raises "Input is not assigned" without an input, and refuses widths it
  // cannot convert (naming the width) unless it only passes blocks through.
  void InitInternal() override;
  void FlushInternal() override;
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override;

 private:
  // Everything below the properties is written by InitInternal and read by
  // GetDataInternal, both under DataCS.
  uint8_t* OutBuf = nullptr;  // PoolConverterOut, taken on the first block
  float* FloatBuf = nullptr;  // PoolConverterFloat, taken with OutBuf
  bool FSecondBuffers = false;
  int32_t OutFrames = 0;  // largest frame count since Init
  int32_t InBytesPerSample = 0;
  int32_t OutBytesPerSample = 0;
  std::atomic<TMSConverterMode> FMode{msmMonoToBoth};
  std::atomic<int32_t> FOutBitsPerSample{0};
  std::atomic<int32_t> FOutChannels{0};
  int32_t ICh = 0;   // output channels fixed at Init
  int32_t IBPS = 0;  // output bits per sample fixed at Init
  int32_t InCh = 0;  // input channels and bits fixed at Init
  int32_t InBits = 0;
  // Empty when the format fixed at Init can be converted; otherwise why not
  // (raised if conversion is switched on after a pass-through Init).
  std::string FFormatError;
};

}  // namespace lirvo
