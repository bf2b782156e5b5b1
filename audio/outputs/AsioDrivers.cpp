#include "audio/outputs/AsioDrivers.h"

#include "audio/lib/alsa/AlsaDirect.h"
#include "audio/lib/jack/JackDriver.h"
#include "audio/outputs/AsioHost.h"

namespace lirvo {

void RegisterBuiltInAsioDrivers() {
  RegisterAsioDriverClass(CLSID_AlsaDirectDriver, [](const TAsioDriverDesc& Desc) {
    return alsa::CreateAlsaDirectDriver(Desc.name, Desc.path);
  });
  RegisterAsioDriverClass(CLSID_JackDriver, [](const TAsioDriverDesc& Desc) {
    return jack::CreateJackDriver(Desc.name, Desc.path);
  });
}

}  // namespace lirvo
