#include "audio/outputs/AsioHost_Define.h"

#include <atomic>

namespace lirvo {

namespace {
std::atomic<bool> gHostAvailable{true};
}  // namespace

bool CreateAsioDriver(const TAsioDriverDesc& Desc, std::unique_ptr<IAsioHost>& Driver) {
  Driver.reset();
  if (!gHostAvailable.load()) return false;
  return CreateAsioHost(Desc, Driver) >= 0 && Driver != nullptr;
}

bool AsioHostLoaded() {
  return gHostAvailable.load();
}

void SetAsioHostAvailable(bool Available) {
  gHostAvailable.store(Available);
}

}  // namespace lirvo
