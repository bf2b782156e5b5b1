#pragma once
// The DirectSound layer of the shared-device output: plain operations over
// one record, DSOut, which are all TDSAudioOut uses of the device. On this
// system the layer stands on alsa-lib:
//   - the device object is the PCM opened from an entry of the device table;
//   - the looping secondary buffer is that PCM's ring of BufferSize bytes,
//     its two halves two periods wherever the device allows it;
//   - the play cursor is the hardware pointer and the write cursor the
//     application pointer, which is also Offset (a ring takes data only at
//     its application pointer);
//   - a "half reached" notification is half of the ring becoming free, and
//     "the other half reached as well" (the writer was overtaken) is an
//     underrun: an XRUN, or more free space than the ring holds;
//   - a lock returns at most two regions of a mirror of the ring in our own
//     memory; unlocking commits them to the device in order;
//   - the volume is applied in software while copying, and only when it is
//     not 0, so full level is bit-exact.
// Operations return 0 on success, else a negative alsa-lib error code or one
// of the kDs* codes below.
//
// Threads: every operation except SetDsVolume runs on the playback thread,
// or on a control thread while the playback thread is parked between two
// blocks; never on two threads at once. SetDsVolume only stores an atomic
// that the next write applies. The ring operations (cursors, free space,
// lock/unlock, writes, waits) neither allocate nor lock: the mirror is made
// by CreateDsBuffers.

#include <alsa/asoundlib.h>
#include <poll.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/lib/alsa/AlsaHandles.h"
#include "audio/lib/alsa/AlsaPcm.h"

namespace lirvo {

// Result codes of the layer besides alsa-lib's negative error codes.
inline constexpr int32_t kDsOk = 0;
inline constexpr int32_t kDsErrNoBuffer = -1;  // no ring (ContinueDsPlayback, waits)
inline constexpr int32_t kDsErrInvalidArg = static_cast<int32_t>(0x80070057);
inline constexpr int32_t kDsErrControlUnavail = static_cast<int32_t>(0x8878001E);
inline constexpr int32_t kDsErrTimeout = -ETIMEDOUT;  // the device stopped advancing
inline constexpr int32_t kDsErrStopped = -ECANCELED;  // a wait ended by TDsWake::Signal

inline constexpr int32_t kDsMaxDevices = 16;
inline constexpr size_t kDsMaxDescriptionChars = 127;
// A wait for a half gives up after the longer of this and four ring lengths.
inline constexpr uint32_t kDsMinWaitTimeoutMs = 2000;
// The first wait after a (re)start may also cover the device's own start-up
// (a sound server adjusting its sink, a device waking from suspension).
inline constexpr uint32_t kDsStartWaitTimeoutMs = 10000;

// One device the output may play to: the name shown, and the PCM to open,
// either a name in the system's configuration ("default", "pulse") or a name
// defined in Config, an ALSA configuration text of the caller's own (tests
// use a `file` PCM of their own to capture what reaches the device).
struct TDsDeviceEntry {
  std::string Name;
  std::string Pcm;
  std::string Config;
};

struct DSW_DeviceInfo {
  // What identifies the device (a GUID on the original platform): the PCM and
  // the configuration it is defined in (empty: the system's).
  std::string Pcm;
  std::string Config;
  std::string Description;  // UTF-8, at most kDsMaxDescriptionChars characters
};

struct DSW_Devices {
  int32_t devcount = 0;  // entries in use, 0..16
  std::array<DSW_DeviceInfo, kDsMaxDevices> dinfo;
};

// Fills the table from the PCM hints: see SelectDsDevices.
int32_t EnumerateDsDevices(DSW_Devices& Devices);
// Fills the table from a list of the caller's own, in its order (the same
// limits: at most 16 entries, descriptions cut to 127 characters).
int32_t EnumerateDsDevices(DSW_Devices& Devices, const std::vector<TDsDeviceEntry>& Entries);
// The devices of the PCM hints, in order: "default" first (the primary
// device, listed even without a hint), then the sound servers' devices
// ("pulse", "pipewire"), then the shared devices of each card ("default",
// "sysdefault" and "dmix" with CARD=...). Not listed: "null", hw/plughw and
// the other exclusive device kinds (the direct engine's), capture-only
// devices, and filter or converter plugins.
std::vector<TDsDeviceEntry> SelectDsDevices(const std::vector<alsa::TPcmHint>& Hints);

// The wave format the output asks for (the record DirectSound takes).
inline constexpr uint16_t kWaveFormatPcm = 1;
inline constexpr uint16_t kWaveFormatExtensible = 0xFFFE;
struct TDsWaveFormat {
  uint16_t wFormatTag = 0;
  uint16_t nChannels = 0;
  uint32_t nSamplesPerSec = 0;
  uint32_t nAvgBytesPerSec = 0;
  uint16_t nBlockAlign = 0;
  uint16_t wBitsPerSample = 0;
  uint16_t cbSize = 0;               // 22 for the extensible format
  uint16_t wValidBitsPerSample = 0;  // left 0
  uint32_t dwChannelMask = 0;
  bool SubFormatPcm = false;  // sub-format KSDATAFORMAT_SUBTYPE_PCM
};
// 1 or 2 channels: plain PCM. 3 or more: the extensible format with the PCM
// sub-format and channel mask 0x3F for 6 channels, 0xFF for 8, 0 otherwise.
TDsWaveFormat BuildDsWaveFormat(uint32_t Channels, uint32_t Rate, uint32_t Bits);
// The ALSA channel positions of a wave channel mask, in channel order (FL FR
// FC LFE BL BR FLC FRC ...), for the first Channels speakers of the mask;
// empty when the mask is 0 (the device's own order then applies).
std::vector<unsigned> DsChannelPositions(uint32_t Mask, uint32_t Channels);

// What ends the playback thread's waits on the device when a stop is
// requested: an eventfd polled with the PCM's descriptors. Signal is
// lock-free and may come from any thread; it stays signalled (every later
// wait ends at once) until Rearm, which the next run calls before it plays.
class TDsWake {
 public:
  TDsWake();
  ~TDsWake();
  TDsWake(const TDsWake&) = delete;
  TDsWake& operator=(const TDsWake&) = delete;
  int Fd() const noexcept { return FFd; }
  void Signal() noexcept;
  void Rearm() noexcept;

 private:
  int FFd = -1;  // set once by the constructor
};

struct DSOut {
  // The device object (the opened PCM); created by CreateDsDevice, released
  // by ReleaseDs.
  alsa::PcmPtr DirectSound;
  // The ring when one is set up (the same PCM), else null. (The primary
  // buffer of the original platform has no counterpart: the format goes
  // straight into the ring's parameters.)
  snd_pcm_t* DirectSoundBuffer = nullptr;
  // Set by a wait: [k] the half it waited for, [1-k] the writer overtaken.
  bool events[2] = {false, false};
  uint32_t BufferSize = 0;  // bytes of the ring as the device set it up
  uint32_t Underflows = 0;  // 1 when the last free-space query found an underrun
  // Set whenever the device is found overtaken or in an xrun (a query, a
  // wait, a write's recovery); one missed half may be met by several of
  // them, so the caller takes it once per half (TakeDsUnderrun).
  bool UnderrunSeen = false;
  uint32_t Offset = 0;  // our write position in the ring, < BufferSize

  // alsa-lib side of the record.
  DSW_DeviceInfo Device;  // what DirectSound was opened from
  snd_pcm_format_t Format = SND_PCM_FORMAT_UNKNOWN;
  uint32_t FrameBytes = 0;
  uint32_t RingFrames = 0;    // BufferSize / FrameBytes
  uint32_t HalfFrames = 0;    // the notification distance: half the ring asked for
  uint32_t PeriodFrames = 0;  // as the device set it up
  uint32_t Rate = 0;
  bool CanPause = false;
  bool Playing = false;             // told to play: a ring that ran dry is restarted
  bool Starting = false;            // started, and the device has not advanced since
  bool WakesEarly = false;          // its descriptor was ready before half the ring was free
  uint32_t WaitTimeoutMs = 0;       // see kDsMinWaitTimeoutMs
  uint32_t StartWaitTimeoutMs = 0;  // see kDsStartWaitTimeoutMs
  std::vector<uint8_t> Mirror;      // the memory of the locked regions
  // [0] Wake, then the PCM's descriptors: sized by CreateDsBuffers, so a
  // wait fills them in without allocating.
  std::vector<pollfd> PollFds;
  TDsWake Wake;  // kept over ReleaseDs: it belongs to the record's owner

  // Software volume in hundredths of a decibel (0 = full level, bit-exact).
  std::atomic<int32_t> Volume{0};
  int32_t GainVolume = 0;  // the level Gain was computed for (playback thread)
  double Gain = 1.0;
};

// Releases any held device and opens the one of Device.
int32_t CreateDsDevice(DSOut& ds, const DSW_DeviceInfo& Device);
// Sets up the ring of Bytes bytes for Format on the device: BufferSize,
// Underflows 0, the two halves, the mirror (zero-filled), Offset at the
// write cursor (0). Raises EAuException "80070057" when the device refuses
// the wake-up point at half the ring with EINVAL (the notification
// positions' failure).
int32_t CreateDsBuffers(DSOut& ds, const TDsWaveFormat& Format, uint32_t Bytes);
// Releases the ring only, keeping the device (a latency change).
void ReleaseDsBuffers(DSOut& ds);
// Stops and releases the ring and closes the device. Idempotent.
void ReleaseDs(DSOut& ds);

// Plays the ring from where its data stands (a stopped ring continues; a
// ring emptied by an underrun or FillDsBuffer starts with the next write).
int32_t StartDsPlayback(DSOut& ds);
// Like StartDsPlayback; kDsErrNoBuffer when there is no ring.
int32_t ContinueDsPlayback(DSOut& ds);
// Stops the ring when there is one: paused with its data where the device
// can pause, else emptied.
int32_t StopDsPlayback(DSOut& ds);

// The play and write cursors in bytes.
int32_t GetDsCursors(DSOut& ds, uint32_t& Play, uint32_t& Write);
// Free bytes at Offset; sets Underflows when the device overtook the writer
// (the whole ring is then free).
int32_t GetDsFreeSpace(DSOut& ds, uint32_t& Free);
// Locks Bytes at Offset, which must be the write position; fewer when less
// is free. P2/N2 is the part that wraps to the start of the ring (else null/0).
int32_t LockDs(DSOut& ds, uint32_t Offset, uint32_t Bytes, uint8_t*& P1, uint32_t& N1, uint8_t*& P2,
               uint32_t& N2);
// Commits the locked regions in order and advances Offset by what the
// device took (*Committed, when given).
int32_t UnlockDs(DSOut& ds, uint8_t* P1, uint32_t N1, uint8_t* P2, uint32_t N2,
                 uint32_t* Committed = nullptr);
// Fills the free space with Byte.
int32_t FillDsFreeSpace(DSOut& ds, uint8_t Byte);
// Empties the whole ring (what is in it is not played), Offset 0.
int32_t FillDsBuffer(DSOut& ds, uint8_t Byte);
// Copies Count bytes to Offset, applying the volume; Written tells how many
// the ring took (less than Count only when it had less room).
int32_t WriteDsBlock(DSOut& ds, const uint8_t* Data, uint32_t Count, uint32_t& Written);
// Waits until half of the ring is free (event K), at most WaitTimeoutMs
// (StartWaitTimeoutMs while the device has not advanced since its start),
// and resets event K. OtherSignalled: the writer was overtaken as well. Returns
// kDsErrTimeout when the device stopped advancing, kDsErrStopped as soon as
// Wake is signalled, or a device error. It sleeps in poll() on the PCM and
// Wake; a device whose descriptor stays ready before half the ring is free
// (a sound server's plugin) is looked at again after half a period at most.
int32_t WaitDsHalf(DSOut& ds, int K, bool& OtherSignalled);
// Sleeps Ms milliseconds unless Wake is signalled (kDsErrStopped, at once).
int32_t SleepDs(DSOut& ds, uint32_t Ms);
// Whether an underrun was met since the last call; clears it.
bool TakeDsUnderrun(DSOut& ds);
void ResetDsEvent(DSOut& ds, int K);
// Stores the volume (hundredths of a decibel, -10000..0) for the ring.
int32_t SetDsVolume(DSOut& ds, int32_t Volume);

}  // namespace lirvo
