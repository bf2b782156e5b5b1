#include "audio/outputs/AsioList.h"

#include <cstring>

#include "audio/outputs/AsioHost.h"
#include "audio/outputs/OutputEnvironment.h"
#include "audio/outputs/drivers/AlsaDirect.h"

namespace lirvo {

TAsioDriverDesc MakeAsioDriverDesc(const TGUID& Id, const std::string& Name,
                                   const std::string& Path) {
  TAsioDriverDesc d;
  std::memset(&d, 0, sizeof(d));
  d.id = Id;
  CopyAsioText(d.name, sizeof(d.name), Name);
  CopyAsioText(d.path, sizeof(d.path), Path);
  return d;
}

void ListAsioDrivers(TAsioDriverList& List, const TOutputEnvironment& Env) {
  List.clear();
  if (Env.AsioDrivers) {
    List = Env.AsioDrivers();
    return;
  }
  for (const auto& dev : alsa::ListAlsaDirectDevices(Env.AlsaDirect))
    List.push_back(MakeAsioDriverDesc(CLSID_AlsaDirectDriver, dev.Name, dev.Pcm));
#if LIRVO_WITH_JACK
  // The JACK client library is linked, so JACK is always offered; whether a
  // server runs is found out when the driver is opened.
  List.push_back(MakeAsioDriverDesc(CLSID_JackDriver, "JACK", Env.JackServer));
#endif
}

}  // namespace lirvo
