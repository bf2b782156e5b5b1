#include "audio/outputs/AsioHost_Define.h"

namespace lirvo {

bool CreateAsioDriver(const TAsioDriverDesc& Desc, const TOutputEnvironment& Env,
                      std::unique_ptr<IAsioHost>& Driver) {
  Driver.reset();
  if (!AsioHostLoaded(Env)) return false;
  return CreateAsioHost(Desc, Env, Driver) >= 0 && Driver != nullptr;
}

bool AsioHostLoaded(const TOutputEnvironment& Env) {
  return Env.AsioHostAvailable;
}

}  // namespace lirvo
