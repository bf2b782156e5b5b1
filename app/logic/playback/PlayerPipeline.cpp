#include "app/logic/playback/PlayerPipeline.h"

#include "audio/decoders/AudioFLAC.h"
#include "audio/decoders/AudioMAC.h"
#include "audio/decoders/AudioWave.h"
#include "audio/decoders/AudioWinMedia.h"
#include "audio/outputs/AuASIO.h"
#include "audio/outputs/DSAudioOut.h"
#include "audio/processors/AudioCache.h"
#include "audio/processors/AudioConverters.h"
#include "audio/processors/AudioMisc.h"
#include "audio/processors/TrackQueue.h"

namespace lirvo {

TTrackDecoders::TTrackDecoders(TComponent* Owner, const TDecoderEnvironment& Decoders,
                               bool Second) {
  WAV = std::make_unique<TWaveIn>(Owner);
  WAV->SetName(Second ? "WAV2" : "WAV");
  WAV->SetLoop(false);
  WAV->SetEndSample(-1);
  if (Second) WAV->UseSecondPoolBlock();
  FLAC = std::make_unique<TFLACIn>(Owner);
  FLAC->SetName(Second ? "FLAC2" : "FLAC");
  FLAC->SetLoop(false);
  FLAC->SetCheckMD5Signature(false);
  FLAC->SetEndSample(-1);
  FLAC->SetEnvironment(Decoders);
  APE = std::make_unique<TMACIn>(Owner);
  APE->SetName(Second ? "APE2" : "APE");
  APE->SetLoop(false);
  APE->SetEndSample(-1);
  APE->SetEnvironment(Decoders);
  WMA = std::make_unique<TWMIn>(Owner);
  WMA->SetName(Second ? "WMA2" : "WMA");
  WMA->SetLoop(false);
  WMA->SetEndSample(-1);
  WMA->SetHighPrecision(false);
  WMA->SetOutputChannels(cnMonoOrStereo);
  CUE = std::make_unique<TCueSplitter>(Owner);
  CUE->SetName(Second ? "CUE2" : "CUE");
  BPS = std::make_unique<TAudioConverter>(Owner);
  BPS->SetName(Second ? "BPS2" : "BPS");
  BPS->SetMode(msmMonoToBoth);
  BPS->SetOutBitsPerSample(32);
  BPS->SetOutChannels(2);
  if (Second) BPS->UseSecondPoolBuffers();
}

TTrackDecoders::~TTrackDecoders() {
  // Sinks of the chain first, sources last.
  BPS.reset();
  CUE.reset();
  WMA.reset();
  APE.reset();
  FLAC.reset();
  WAV.reset();
}

TTrackComponents TTrackDecoders::Components() const {
  return {WAV.get(), FLAC.get(), APE.get(), WMA.get(), CUE.get(), BPS.get()};
}

TPlayerChain::TPlayerChain(const TDecoderEnvironment& Decoders)
    : FFirst(&FOwner, Decoders, false), FSecond(&FOwner, Decoders, true) {
  FQueue = std::make_unique<TTrackQueue>(&FOwner);
  FQueue->SetName("Queue");
  FCache = std::make_unique<TAudioCache>(&FOwner);
  FCache->SetName("Cache");
}

TPlayerChain::~TPlayerChain() {
  // Sinks of the chain first; the decoders (members) go last.
  FCache.reset();
  FQueue.reset();
}

TPlayerComponents TPlayerChain::Components(TDSAudioOut* DSound, TASIOAudioOut* ASIO) const {
  const TTrackComponents first = FFirst.Components();
  TPlayerComponents c;
  c.WAV = first.WAV;
  c.FLAC = first.FLAC;
  c.APE = first.APE;
  c.WMA = first.WMA;
  c.CUE = first.CUE;
  c.BPS = first.BPS;
  c.Cache = FCache.get();
  c.DSound = DSound;
  c.ASIO = ASIO;
  c.Queue = FQueue.get();
  c.Second = FSecond.Components();
  return c;
}

TPlayerPipeline::TPlayerPipeline(const TPlayerPipelineOptions& Options)
    : FChain(Options.Environment.Decoders) {
  FDSound = Options.DSoundDevices ? std::make_unique<TDSAudioOut>(&FOwner, *Options.DSoundDevices)
                                  : std::make_unique<TDSAudioOut>(&FOwner);
  FDSound->SetDeviceNumber(0);
  FDSound->SetCalibrate(true);
  FDSound->SetLatency(100);
  FDSound->SetSpeedFactor(1.0f);
  if (Options.WithASIO) {
    FASIO = std::make_unique<TASIOAudioOut>(&FOwner, Options.Environment.Outputs);
    if (FASIO->DeviceCount() > 0) FASIO->SetDeviceNumber(0);
    FASIO->SetASIOBufferSize(absPreferred);
  }

  FComponents = FChain.Components(FDSound.get(), FASIO.get());
}

TPlayerPipeline::~TPlayerPipeline() {
  // Sinks first: their playback threads pull the chain, which goes after.
  FASIO.reset();
  FDSound.reset();
}

}  // namespace lirvo
