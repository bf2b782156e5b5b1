#pragma once
// The ASIO output's way to a driver: CreateAsioDriver asks the driver host
// for the driver object of a list entry.
//
// The host is linked into the program (no library image is loaded), so it is
// available from the start. Tests can mark it unavailable to see the output's
// failure path, as if the host could not be loaded.

#include <memory>

#include "audio/outputs/AsioHost.h"
#include "audio/outputs/AsioList.h"

namespace lirvo {

// False when the host is not available; otherwise true when the host created
// a driver for Desc (Driver set), false when it could not (Driver empty).
bool CreateAsioDriver(const TAsioDriverDesc& Desc, std::unique_ptr<IAsioHost>& Driver);

bool AsioHostLoaded();
// Test hook: pretend the host could (true) or could not (false) be loaded.
void SetAsioHostAvailable(bool Available);

}  // namespace lirvo
