#include "audio/outputs/AsioList.h"

#include <cstring>
#include <mutex>
#include <utility>

#include "audio/outputs/AsioHost.h"
#include "audio/outputs/drivers/AlsaDirect.h"
#if LIRVO_WITH_JACK
#include "audio/outputs/drivers/JackDriver.h"
#endif

namespace lirvo {

namespace {

std::mutex gSourceCS;                      // guards gSource
std::function<TAsioDriverList()> gSource;  // empty: the system's devices

}  // namespace

TAsioDriverDesc MakeAsioDriverDesc(const TGUID& Id, const std::string& Name,
                                   const std::string& Path) {
  TAsioDriverDesc d;
  std::memset(&d, 0, sizeof(d));
  d.id = Id;
  CopyAsioText(d.name, sizeof(d.name), Name);
  CopyAsioText(d.path, sizeof(d.path), Path);
  return d;
}

void ListAsioDrivers(TAsioDriverList& List) {
  List.clear();
  std::function<TAsioDriverList()> source;
  {
    std::lock_guard<std::mutex> lock(gSourceCS);
    source = gSource;
  }
  if (source) {
    List = source();
    return;
  }
  for (const auto& dev : alsa::ListAlsaDirectDevices())
    List.push_back(MakeAsioDriverDesc(CLSID_AlsaDirectDriver, dev.Name, dev.Pcm));
#if LIRVO_WITH_JACK
  // The JACK client library is linked, so JACK is always offered; whether a
  // server runs is found out when the driver is opened.
  List.push_back(MakeAsioDriverDesc(CLSID_JackDriver, "JACK", jack::JackServerName()));
#endif
}

void SetAsioDriverListSource(std::function<TAsioDriverList()> Source) {
  std::lock_guard<std::mutex> lock(gSourceCS);
  gSource = std::move(Source);
}

}  // namespace lirvo
