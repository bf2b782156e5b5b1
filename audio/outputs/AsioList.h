#pragma once
// The list of direct drivers the ASIO output can open.
//
// The list holds the hardware playback devices found by alsa-lib (each card's
// playback PCM devices, opened exclusively as hw:CARD=x,DEV=y), then "JACK".
// It is built once per output instance: devices that appear later are seen
// only by a new instance. Listing opens no device.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/core/AudioProcs.h"

namespace lirvo {

struct TOutputEnvironment;

// One listed driver. Its first 16 bytes are the class id of the driver that
// serves it (what the host reads).
struct TAsioDriverDesc {
  TGUID id;        // the driver class (CLSID_AlsaDirectDriver, CLSID_JackDriver, ...)
  char name[512];  // shown in the settings dialog; UTF-8, at most 511 bytes
  char path[512];  // what the driver opens: an ALSA PCM name, a JACK server name ("" = default)
};

using TAsioDriverList = std::vector<TAsioDriverDesc>;

// Class ids of the built-in direct drivers.
inline constexpr TGUID CLSID_AlsaDirectDriver = {
    0x6C1B2E64, 0x8F3A, 0x4D52, {0x9B, 0x7E, 0x2A, 0x1C, 0x5D, 0x0F, 0x9E, 0x31}};
inline constexpr TGUID CLSID_JackDriver = {
    0x0E7D4A19, 0x5B26, 0x4C8F, {0xA3, 0xD1, 0x7F, 0x2B, 0x9C, 0x64, 0xE8, 0x05}};

// An entry; Name and Path are cut to 511 bytes on a character boundary.
TAsioDriverDesc MakeAsioDriverDesc(const TGUID& Id, const std::string& Name,
                                   const std::string& Path);

// Empties List and fills it: the hardware devices of Env, then "JACK" on
// Env's server; or Env's own list when it has one. Called by the ASIO
// output's constructor.
void ListAsioDrivers(TAsioDriverList& List, const TOutputEnvironment& Env);

}  // namespace lirvo
