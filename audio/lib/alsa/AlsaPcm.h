#pragma once
// Playback PCM plumbing for the shared-device output: opening a PCM by name
// or from a configuration text of the caller's own, the PCM hints, integer
// sample formats, channel maps and the set-up of a playback ring of a given
// size. Policy (which device, what the ring means) stays in the output.

#include <alsa/asoundlib.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/lib/alsa/AlsaHandles.h"

namespace lirvo::alsa {

struct PcmConfigDeleter {
  void operator()(snd_config_t* p) const {
    if (p) snd_config_delete(p);
  }
};
using PcmConfigPtr = std::unique_ptr<snd_config_t, PcmConfigDeleter>;

// Parses an ALSA configuration text into a tree of its own; the system's and
// the user's configuration files are not read. Returns 0 or a negative error
// code (a syntax error).
int LoadPcmConfig(const std::string& Text, PcmConfigPtr& Out);

// Opens Name for playback. With an empty ConfigText, Name is resolved in the
// system's configuration (the usual snd_pcm_open); otherwise only in
// ConfigText, which must define it completely. Data calls stay blocking:
// the caller switches to non-blocking mode when it wants it.
int OpenPlaybackPcm(const std::string& Name, const std::string& ConfigText, PcmPtr& Out);

struct TPcmHint {
  std::string Name;         // the PCM name to open
  std::string Description;  // lines joined with ", "
  std::string IoId;         // "Output", "Input" or empty (both)
};
// The PCM hints of every card and of the configuration (snd_device_name_hint).
int ListPcmHints(std::vector<TPcmHint>& Out);

// The ALSA format of little-endian integer PCM with Bits bits per sample: 8
// (unsigned), 16, 24 (packed in three bytes) or 32; SND_PCM_FORMAT_UNKNOWN
// for any other width.
snd_pcm_format_t IntegerPcmFormat(uint32_t Bits);

struct TRingRequest {
  snd_pcm_format_t Format = SND_PCM_FORMAT_UNKNOWN;
  uint32_t Channels = 0;
  uint32_t Rate = 0;          // exact
  uint32_t BufferFrames = 0;  // the ring size wanted
  uint32_t WakeFrames = 0;    // free space at which a wait returns (avail_min)
};

struct TRingSetup {
  uint32_t BufferFrames = 0;  // as the device set it up
  uint32_t PeriodFrames = 0;
  bool CanPause = false;
  bool WakeRejected = false;  // the software parameters (the wake-up point) were refused
};

// Sets up an open PCM as an interleaved playback ring: the exact format,
// channels and rate; the ring of exactly BufferFrames frames in two periods
// when the device allows it, else in the fewest equal periods that divide
// it, else the nearest ring the device allows that is not smaller; the
// stream starts only when asked (snd_pcm_start) and stops on an underrun.
// Returns 0 or a negative error code; on success the PCM is prepared.
int SetUpPlaybackRing(snd_pcm_t* Pcm, const TRingRequest& Request, TRingSetup& Out);

// Asks the device to take the channels in the given positions (SND_CHMAP_*).
// Best effort: a device without channel maps keeps its own order.
int SetPcmChannelMap(snd_pcm_t* Pcm, const std::vector<unsigned>& Positions);

}  // namespace lirvo::alsa
