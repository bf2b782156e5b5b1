#include "audio/outputs/AsioDrivers.h"

#include "audio/lib/alsa/AlsaDirect.h"
#include "audio/lib/jack/JackDriver.h"
#include "audio/outputs/AsioHost.h"
#include "audio/outputs/OutputEnvironment.h"

namespace lirvo {

void RegisterBuiltInAsioDrivers() {
  RegisterAsioDriverClass(
      CLSID_AlsaDirectDriver, [](const TAsioDriverDesc& Desc, const TOutputEnvironment& Env) {
        return alsa::CreateAlsaDirectDriver(Desc.name, Desc.path, Env.AlsaDirect);
      });
  RegisterAsioDriverClass(
      CLSID_JackDriver, [](const TAsioDriverDesc& Desc, const TOutputEnvironment& Env) {
        return jack::CreateJackDriver(Desc.name, Desc.path, Env.JackDestinationPorts);
      });
}

}  // namespace lirvo
