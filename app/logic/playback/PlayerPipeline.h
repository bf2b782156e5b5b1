#pragma once
// The player's pipeline components with their start-up properties: one
// decoder per format, the CUE splitter, the converter to 32-bit stereo for
// the direct engine, the read-ahead cache and the two outputs. The window and
// lirvo-play hold one each and hand Components() to the playback controller.
//
// Created and destroyed on the UI thread. The outputs go first, so no
// playback thread still reads a component that is being destroyed.

#include <memory>
#include <optional>
#include <vector>

#include "app/logic/playback/AudioEnvironment.h"
#include "app/logic/playback/PlaybackController.h"
#include "audio/core/Component.h"
#include "audio/outputs/DSoundLayer.h"

namespace lirvo {

struct TPlayerPipelineOptions {
  // The shared output's devices; nullopt: the system's (the PCM hints).
  std::optional<std::vector<TDsDeviceEntry>> DSoundDevices;
  // Without it the direct-driver output is not created (lirvo-play playing
  // through the shared engine has no use for the driver list).
  bool WithASIO = true;
  // What the decoders and the direct-driver output reach; default: the system.
  TAudioEnvironment Environment;
};

// One track's components: the four decoders, the CUE splitter and the
// converter. The second set (the next track's, prepared while one plays)
// works in the pool's second buffers.
struct TTrackDecoders {
  TTrackDecoders(TComponent* Owner, const TDecoderEnvironment& Decoders, bool Second);
  ~TTrackDecoders();
  TTrackComponents Components() const;

  std::unique_ptr<TWaveIn> WAV;
  std::unique_ptr<TFLACIn> FLAC;
  std::unique_ptr<TMACIn> APE;
  std::unique_ptr<TWMIn> WMA;
  std::unique_ptr<TCueSplitter> CUE;
  std::unique_ptr<TAudioConverter> BPS;
};

// The chain's components with their start-up properties and names: two sets
// of track components, the track queue and the cache. The holder owns
// the outputs and stops them (or detaches their input) before the chain goes.
// Decoders: the libraries the decoders may use.
class TPlayerChain {
 public:
  explicit TPlayerChain(const TDecoderEnvironment& Decoders = {});
  ~TPlayerChain();
  TPlayerChain(const TPlayerChain&) = delete;
  TPlayerChain& operator=(const TPlayerChain&) = delete;

  // The chain with the holder's outputs, as the playback controller takes it.
  TPlayerComponents Components(TDSAudioOut* DSound, TASIOAudioOut* ASIO) const;

 private:
  TComponent FOwner;
  TTrackDecoders FFirst;
  TTrackDecoders FSecond;
  std::unique_ptr<TTrackQueue> FQueue;
  std::unique_ptr<TAudioCache> FCache;
};

class TPlayerPipeline {
 public:
  explicit TPlayerPipeline(const TPlayerPipelineOptions& Options = {});
  ~TPlayerPipeline();
  TPlayerPipeline(const TPlayerPipeline&) = delete;
  TPlayerPipeline& operator=(const TPlayerPipeline&) = delete;

  const TPlayerComponents& Components() const { return FComponents; }

 private:
  TComponent FOwner;
  TPlayerChain FChain;
  std::unique_ptr<TDSAudioOut> FDSound;
  std::unique_ptr<TASIOAudioOut> FASIO;
  TPlayerComponents FComponents;
};

}  // namespace lirvo
