#pragma once
// The ASIO output's way to a driver: CreateAsioDriver asks the driver host
// for the driver object of a list entry.
//
// The host is linked into the program (no library image is loaded), so it is
// available from the start. An environment can mark it unavailable (tests see
// the output's failure path, as if the host could not be loaded).

#include <memory>

#include "audio/outputs/AsioHost.h"
#include "audio/outputs/AsioList.h"
#include "audio/outputs/OutputEnvironment.h"

namespace lirvo {

// False when the host is not available in Env; otherwise true when the host
// created a driver for Desc with Env's devices (Driver set), false when it
// could not (Driver empty).
bool CreateAsioDriver(const TAsioDriverDesc& Desc, const TOutputEnvironment& Env,
                      std::unique_ptr<IAsioHost>& Driver);

bool AsioHostLoaded(const TOutputEnvironment& Env);

}  // namespace lirvo
