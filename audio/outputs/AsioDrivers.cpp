#include "audio/outputs/AsioDrivers.h"

#include "audio/outputs/AsioHost.h"
#include "audio/outputs/OutputEnvironment.h"
#include "audio/outputs/drivers/AlsaDirect.h"
#if LIRVO_WITH_JACK
#include "audio/outputs/drivers/JackDriver.h"
#endif

namespace lirvo {

void RegisterBuiltInAsioDrivers() {
  RegisterAsioDriverClass(
      CLSID_AlsaDirectDriver, [](const TAsioDriverDesc& Desc, const TOutputEnvironment& Env) {
        return alsa::CreateAlsaDirectDriver(Desc.name, Desc.path, Env.AlsaDirect);
      });
#if LIRVO_WITH_JACK
  RegisterAsioDriverClass(
      CLSID_JackDriver, [](const TAsioDriverDesc& Desc, const TOutputEnvironment& Env) {
        return jack::CreateJackDriver(Desc.name, Desc.path, Env.JackDestinationPorts);
      });
#endif
}

}  // namespace lirvo
