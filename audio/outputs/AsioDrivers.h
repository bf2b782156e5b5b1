#pragma once
// The built-in direct drivers: ALSA hardware devices and JACK.

namespace lirvo {

// Registers the driver classes CLSID_AlsaDirectDriver and CLSID_JackDriver
// with the host. The host calls it once, before its first creation.
void RegisterBuiltInAsioDrivers();

}  // namespace lirvo
