#pragma once
// What the outputs reach outside the process: the direct drivers to list, the
// driver host, the ALSA hardware devices and the JACK server. The defaults
// are the running system; tests (and lirvo-play's --device with
// LIRVO_ALSA_CONFIG) build one of their own and hand it to the output, which
// passes each driver the part it needs.
//
// A plain value: each holder keeps its own copy, so no thread ever sees it
// change.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "audio/outputs/AsioList.h"
#include "audio/outputs/drivers/AlsaDirect.h"

namespace lirvo {

struct TOutputEnvironment {
  // Replaces the whole driver list; empty: the hardware devices, then JACK.
  std::function<TAsioDriverList()> AsioDrivers;
  // False: the driver host behaves as if it could not be loaded.
  bool AsioHostAvailable = true;
  // The hardware driver's devices and the ALSA configuration their PCM names
  // resolve in; nullopt: the system's cards and configuration.
  std::optional<alsa::TAlsaDirectSetup> AlsaDirect;
  // The server the list's "JACK" entry names ("": the environment's default).
  std::string JackServer;
  // The ports output channel N connects to; empty: the server's playback ports.
  std::vector<std::string> JackDestinationPorts;
};

}  // namespace lirvo
