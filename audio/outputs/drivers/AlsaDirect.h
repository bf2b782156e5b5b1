#pragma once
// The ALSA hardware direct driver: an IAsioHost over one hardware playback
// device, opened exclusively (hw:CARD=x,DEV=y).
//
// The host sees 32-bit integer buffers (Int32LSB); the driver converts each
// half it plays to the card's own format, choosing the first the card accepts
// of S32_LE, S24_LE (24 bits in 32), S24_3LE and S16_LE. The conversion is
// exact whenever the samples fit the card's width (a 16-bit source widened to
// 32 bits reaches a 16-, 24- or 32-bit card unchanged); wider samples are
// rounded to the nearest value. Sample rates and buffer sizes are those the
// card allows.
//
// Threads: the driver's own thread (started by `start`, joined by `stop`)
// calls the host's buffer switch with direct processing for one half, then
// converts that half and writes it to the device as one period; the device's
// ring of two periods paces it. That thread never locks, allocates or logs:
// it uses buffers made by createBuffers/start and reports to other threads
// through atomics. A device that fails for good (unplugged, stalled) ends the
// thread and sends the host a reset request.
//
// Tests point the driver at a PCM of their own through a setup in the output
// environment: an ALSA configuration text (for example a `file` PCM over
// `null` writing a raw capture) and the devices to list in place of the
// system's cards.

#include <alsa/asoundlib.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/outputs/AsioHost.h"

namespace lirvo::alsa {

struct TAlsaDirectDevice {
  std::string Name;  // shown in the driver list
  std::string Pcm;   // the PCM to open
  // Card formats the driver may use, in order of preference; empty: S32_LE,
  // S24_LE, S24_3LE, S16_LE.
  std::vector<snd_pcm_format_t> Formats;
};

struct TAlsaDirectSetup {
  std::string Config;  // ALSA configuration text in which the PCM names are resolved
  std::vector<TAlsaDirectDevice> Devices;
};

// The hardware playback devices (every card's playback PCM devices), or the
// devices of Setup when there is one.
std::vector<TAlsaDirectDevice> ListAlsaDirectDevices(
    const std::optional<TAlsaDirectSetup>& Setup = std::nullopt);

// Opens Pcm (resolved in Setup's configuration when there is one, else the
// system's) and reads what it allows. nullptr when it cannot be opened (busy,
// missing) or offers none of the driver's formats.
std::unique_ptr<IAsioHost> CreateAlsaDirectDriver(
    const std::string& Name, const std::string& Pcm,
    const std::optional<TAlsaDirectSetup>& Setup = std::nullopt);

// Interleaves Frames frames of the 32-bit channel buffers Src[0..CardChannels)
// (a null entry is a silent channel) into Dst in Format: S32_LE, S24_LE,
// S24_3LE or S16_LE, rounding to the nearest value and saturating at the top.
void InterleaveToCard(const int32_t* const* Src, uint32_t CardChannels, uint32_t Frames,
                      snd_pcm_format_t Format, uint8_t* Dst);

}  // namespace lirvo::alsa
