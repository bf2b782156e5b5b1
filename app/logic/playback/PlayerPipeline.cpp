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

namespace lirvo {

TPlayerChain::TPlayerChain(const TDecoderEnvironment& Decoders) {
  FWAV = std::make_unique<TWaveIn>(&FOwner);
  FWAV->SetName("WAV");
  FWAV->SetLoop(false);
  FWAV->SetEndSample(-1);
  FFLAC = std::make_unique<TFLACIn>(&FOwner);
  FFLAC->SetName("FLAC");
  FFLAC->SetLoop(false);
  FFLAC->SetCheckMD5Signature(false);
  FFLAC->SetEndSample(-1);
  FFLAC->SetEnvironment(Decoders);
  FAPE = std::make_unique<TMACIn>(&FOwner);
  FAPE->SetName("APE");
  FAPE->SetLoop(false);
  FAPE->SetEndSample(-1);
  FAPE->SetEnvironment(Decoders);
  FWMA = std::make_unique<TWMIn>(&FOwner);
  FWMA->SetName("WMA");
  FWMA->SetLoop(false);
  FWMA->SetEndSample(-1);
  FWMA->SetHighPrecision(false);
  FWMA->SetOutputChannels(cnMonoOrStereo);
  FCUE = std::make_unique<TCueSplitter>(&FOwner);
  FCUE->SetName("CUE");
  FBPS = std::make_unique<TAudioConverter>(&FOwner);
  FBPS->SetName("BPS");
  FBPS->SetMode(msmMonoToBoth);
  FBPS->SetOutBitsPerSample(32);
  FBPS->SetOutChannels(2);
  FCache = std::make_unique<TAudioCache>(&FOwner);
  FCache->SetName("Cache");
}

TPlayerChain::~TPlayerChain() {
  // Sinks of the chain first, sources last.
  FCache.reset();
  FBPS.reset();
  FCUE.reset();
  FWMA.reset();
  FAPE.reset();
  FFLAC.reset();
  FWAV.reset();
}

TPlayerComponents TPlayerChain::Components(TDSAudioOut* DSound, TASIOAudioOut* ASIO) const {
  return {FWAV.get(), FFLAC.get(),  FAPE.get(), FWMA.get(), FCUE.get(),
          FBPS.get(), FCache.get(), DSound,     ASIO};
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
