#include "audio/outputs/DSoundLayer.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>

#include "audio/core/AuException.h"
#include "audio/core/Pcm.h"
#include "audio/core/TextCodec.h"

namespace lirvo {

namespace {

constexpr const char* kDefaultPcm = "default";
constexpr const char* kDefaultDescription = "Default ALSA Output";

bool IsOverrun(snd_pcm_sframes_t Err) {
  return Err == -EPIPE || Err == -ESTRPIPE;
}

// Free frames of the ring; Overtaken when the device ran past the writer
// (then the whole ring counts as free: the next write starts it afresh).
snd_pcm_sframes_t FreeFrames(DSOut& ds, bool& Overtaken) {
  Overtaken = false;
  snd_pcm_sframes_t avail = snd_pcm_avail(ds.DirectSoundBuffer);
  if (IsOverrun(avail) || avail > static_cast<snd_pcm_sframes_t>(ds.RingFrames)) {
    Overtaken = true;
    ds.UnderrunSeen = true;
    return ds.RingFrames;
  }
  return avail;
}

// Empties the ring and makes it ready for data again.
int Reprepare(DSOut& ds) {
  snd_pcm_drop(ds.DirectSoundBuffer);
  int err = snd_pcm_prepare(ds.DirectSoundBuffer);
  ds.Offset = 0;
  ds.Starting = false;
  return err;
}

// Starts a prepared ring that holds data, continues a paused one, and makes
// a ring that ran dry ready for the next write (which starts it).
int Kick(DSOut& ds) {
  snd_pcm_t* pcm = ds.DirectSoundBuffer;
  switch (snd_pcm_state(pcm)) {
    case SND_PCM_STATE_PAUSED: {
      int err = snd_pcm_pause(pcm, 0);
      if (err < 0) return Reprepare(ds);
      ds.Starting = true;
      return 0;
    }
    case SND_PCM_STATE_XRUN:
      ds.UnderrunSeen = true;
      return Reprepare(ds);
    case SND_PCM_STATE_SUSPENDED:
    case SND_PCM_STATE_SETUP:
      return Reprepare(ds);
    case SND_PCM_STATE_PREPARED: {
      snd_pcm_sframes_t avail = snd_pcm_avail(pcm);
      if (avail >= 0 && avail < static_cast<snd_pcm_sframes_t>(ds.RingFrames)) {
        int err = snd_pcm_start(pcm);
        if (err == 0) ds.Starting = true;
        return err;
      }
      return 0;
    }
    default:
      return 0;
  }
}

// Hands Bytes at P to the device, recovering once from an underrun. Advances
// Offset by what the device took.
int Commit(DSOut& ds, const uint8_t* P, uint32_t Bytes, uint32_t& Committed) {
  snd_pcm_t* pcm = ds.DirectSoundBuffer;
  snd_pcm_uframes_t frames = Bytes / ds.FrameBytes;
  bool recovered = false;
  int result = 0;
  while (frames > 0) {
    snd_pcm_sframes_t n = snd_pcm_writei(pcm, P, frames);
    if (IsOverrun(n) && !recovered) {
      recovered = true;
      ds.UnderrunSeen = true;
      if ((result = Reprepare(ds)) < 0) break;
      continue;
    }
    if (n == -EAGAIN || n == 0) {
      result = -EAGAIN;
      break;
    }
    if (n < 0) {
      result = static_cast<int>(n);
      break;
    }
    const uint32_t bytes = static_cast<uint32_t>(n) * ds.FrameBytes;
    P += bytes;
    frames -= static_cast<snd_pcm_uframes_t>(n);
    Committed += bytes;
    ds.Offset = (ds.Offset + bytes) % ds.BufferSize;
  }
  // A ring that is meant to play but was emptied starts with its new data.
  if (ds.Playing && snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED) {
    int err = Kick(ds);
    if (result == 0) result = err;
  }
  return result;
}

template <typename T>
T Clamp(double V, T Lo, T Hi) {
  double r = std::nearbyint(V);
  if (r < Lo) return Lo;
  if (r > Hi) return Hi;
  return static_cast<T>(r);
}

// Copies Bytes from Src to Dst at the stored volume (a plain copy at 0).
void CopyAtVolume(DSOut& ds, uint8_t* Dst, const uint8_t* Src, uint32_t Bytes) {
  if (Bytes == 0) return;
  const int32_t volume = ds.Volume.load(std::memory_order_relaxed);
  if (volume != ds.GainVolume) {
    ds.GainVolume = volume;
    ds.Gain = std::pow(10.0, volume / 2000.0);
  }
  if (volume == 0) {
    std::memcpy(Dst, Src, Bytes);
    return;
  }
  const double g = ds.Gain;
  switch (ds.Format) {
    case SND_PCM_FORMAT_U8:
      for (uint32_t i = 0; i < Bytes; ++i)
        PcmPut<TPcmSample::U8>(Dst + i, Clamp<int>(PcmGet<TPcmSample::U8>(Src + i) * g, -128, 127));
      break;
    case SND_PCM_FORMAT_S16_LE:
      for (uint32_t i = 0; i + 1 < Bytes; i += 2) {
        const int32_t s = PcmGet<TPcmSample::S16LE>(Src + i);
        PcmPut<TPcmSample::S16LE>(Dst + i, Clamp<int16_t>(s * g, -32768, 32767));
      }
      break;
    case SND_PCM_FORMAT_S24_3LE:
      for (uint32_t i = 0; i + 2 < Bytes; i += 3) {
        const int32_t s = PcmGet<TPcmSample::S24LE>(Src + i);
        PcmPut<TPcmSample::S24LE>(Dst + i, Clamp<int32_t>(s * g, -8388608, 8388607));
      }
      break;
    case SND_PCM_FORMAT_S32_LE:
      for (uint32_t i = 0; i + 3 < Bytes; i += 4) {
        const int32_t s = PcmGet<TPcmSample::S32LE>(Src + i);
        PcmPut<TPcmSample::S32LE>(Dst + i, Clamp<int32_t>(s * g, INT32_MIN, INT32_MAX));
      }
      break;
    default:
      std::memcpy(Dst, Src, Bytes);
      break;
  }
}

// Polls Count descriptors for at most Us microseconds; EINTR is a wake-up
// like any other (the caller looks again).
int PollFor(pollfd* Fds, nfds_t Count, int64_t Us) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(Us / 1000000);
  ts.tv_nsec = static_cast<long>(Us % 1000000) * 1000;
  int r = ppoll(Fds, Count, &ts, nullptr);
  return r < 0 && errno == EINTR ? 0 : r;
}

// Whether Wake (always PollFds[0] in a wait) was signalled.
bool WakeReady(const pollfd& Fd) {
  return Fd.fd >= 0 && (Fd.revents & POLLIN) != 0;
}

bool StartsWith(const std::string& S, const char* Prefix) {
  return S.rfind(Prefix, 0) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Stop wake-up

TDsWake::TDsWake() : FFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

TDsWake::~TDsWake() {
  if (FFd >= 0) close(FFd);
}

void TDsWake::Signal() noexcept {
  if (FFd < 0) return;
  const uint64_t one = 1;
  // Only fails when the counter is saturated, i.e. already signalled.
  [[maybe_unused]] ssize_t n = write(FFd, &one, sizeof(one));
}

void TDsWake::Rearm() noexcept {
  if (FFd < 0) return;
  uint64_t value = 0;
  // Non-blocking: nothing to read means nothing was signalled.
  [[maybe_unused]] ssize_t n = read(FFd, &value, sizeof(value));
}

// ---------------------------------------------------------------------------
// Device table

std::vector<TDsDeviceEntry> SelectDsDevices(const std::vector<alsa::TPcmHint>& Hints) {
  std::vector<TDsDeviceEntry> out;
  std::string defaultDesc = kDefaultDescription;
  for (const alsa::TPcmHint& h : Hints)
    if (h.Name == kDefaultPcm && !h.Description.empty()) defaultDesc = h.Description;
  out.push_back({defaultDesc, kDefaultPcm, ""});
  for (const alsa::TPcmHint& h : Hints) {
    if (h.IoId == "Input" || h.Name == kDefaultPcm) continue;
    const bool server = h.Name == "pulse" || h.Name == "pipewire";
    // Shared devices of a card; hw, plughw and the other per-card kinds
    // (front, surround, hdmi, iec958, ...) open the card exclusively.
    const bool shared = h.Name.find("CARD=") != std::string::npos &&
                        (StartsWith(h.Name, "default:") || StartsWith(h.Name, "sysdefault:") ||
                         StartsWith(h.Name, "dmix:"));
    if (!server && !shared) continue;
    bool seen = false;
    for (const TDsDeviceEntry& e : out)
      if (e.Pcm == h.Name) seen = true;
    if (seen) continue;
    out.push_back({h.Description.empty() ? h.Name : h.Description, h.Name, ""});
  }
  return out;
}

int32_t EnumerateDsDevices(DSW_Devices& Devices, const std::vector<TDsDeviceEntry>& Entries) {
  Devices.devcount = 0;
  for (const TDsDeviceEntry& e : Entries) {
    // The table has room for 16: the enumeration stops there.
    if (Devices.devcount >= kDsMaxDevices) break;
    DSW_DeviceInfo& info = Devices.dinfo[Devices.devcount];
    info.Pcm = e.Pcm;
    info.Config = e.Config;
    info.Description = Utf8Truncate(e.Name, kDsMaxDescriptionChars);
    ++Devices.devcount;
  }
  return kDsOk;
}

int32_t EnumerateDsDevices(DSW_Devices& Devices) {
  std::vector<alsa::TPcmHint> hints;
  // Without hints the primary device is still there.
  int err = alsa::ListPcmHints(hints);
  if (err < 0) hints.clear();
  return EnumerateDsDevices(Devices, SelectDsDevices(hints));
}

// ---------------------------------------------------------------------------
// Formats

TDsWaveFormat BuildDsWaveFormat(uint32_t Channels, uint32_t Rate, uint32_t Bits) {
  TDsWaveFormat f;
  if (Channels <= 2) {
    f.wFormatTag = kWaveFormatPcm;
    f.cbSize = 0;
  } else {
    f.wFormatTag = kWaveFormatExtensible;
    f.cbSize = 22;
    f.SubFormatPcm = true;
    f.dwChannelMask = Channels == 6 ? 0x3F : Channels == 8 ? 0xFF : 0;
  }
  f.nChannels = static_cast<uint16_t>(Channels);
  f.nSamplesPerSec = Rate;
  f.wBitsPerSample = static_cast<uint16_t>(Bits);
  f.nBlockAlign = static_cast<uint16_t>((Channels * Bits) / 8);
  f.nAvgBytesPerSec = Rate * f.nBlockAlign;
  return f;
}

std::vector<unsigned> DsChannelPositions(uint32_t Mask, uint32_t Channels) {
  // Speaker bits of the wave channel mask, lowest first.
  static const unsigned kSpeakers[] = {
      SND_CHMAP_FL,  SND_CHMAP_FR,  SND_CHMAP_FC,  SND_CHMAP_LFE, SND_CHMAP_RL,  SND_CHMAP_RR,
      SND_CHMAP_FLC, SND_CHMAP_FRC, SND_CHMAP_RC,  SND_CHMAP_SL,  SND_CHMAP_SR,  SND_CHMAP_TC,
      SND_CHMAP_TFL, SND_CHMAP_TFC, SND_CHMAP_TFR, SND_CHMAP_TRL, SND_CHMAP_TRC, SND_CHMAP_TRR};
  std::vector<unsigned> out;
  if (Mask == 0) return out;
  for (unsigned bit = 0; bit < std::size(kSpeakers) && out.size() < Channels; ++bit)
    if (Mask & (1u << bit)) out.push_back(kSpeakers[bit]);
  // Channels beyond the mask's speakers have no position.
  while (out.size() < Channels)
    out.push_back(SND_CHMAP_NA);
  return out;
}

// ---------------------------------------------------------------------------
// Device and ring

int32_t CreateDsDevice(DSOut& ds, const DSW_DeviceInfo& Device) {
  ReleaseDs(ds);
  ds.Device = Device;
  return alsa::OpenPlaybackPcm(Device.Pcm, Device.Config, ds.DirectSound);
}

int32_t CreateDsBuffers(DSOut& ds, const TDsWaveFormat& Format, uint32_t Bytes) {
  if (!ds.DirectSound) return -EBADFD;
  ReleaseDsBuffers(ds);
  ds.BufferSize = Bytes;
  ds.Underflows = 0;

  alsa::TRingRequest req;
  req.Format = alsa::IntegerPcmFormat(Format.wBitsPerSample);
  req.Channels = Format.nChannels;
  req.Rate = Format.nSamplesPerSec;
  const uint32_t frameBytes = Format.nBlockAlign;
  if (req.Format == SND_PCM_FORMAT_UNKNOWN || frameBytes == 0 ||
      frameBytes * 8 != Format.nChannels * Format.wBitsPerSample)
    return -EINVAL;
  req.BufferFrames = Bytes / frameBytes;
  req.WakeFrames = req.BufferFrames / 2;
  if (req.WakeFrames == 0) return -EINVAL;

  alsa::TRingSetup setup;
  int err = alsa::SetUpPlaybackRing(ds.DirectSound.get(), req, setup);
  if (err < 0 && !setup.WakeRejected && ds.Device.Config.empty() &&
      !StartsWith(ds.Device.Pcm, "plug") && ds.Device.Pcm.find('"') == std::string::npos) {
    // A device that cannot take this format or rate itself gets alsa-lib's
    // converting plugin in front of it, as DirectSound mixes any PCM format.
    alsa::PcmPtr plug;
    if (alsa::OpenPlaybackPcm("plug:\"" + ds.Device.Pcm + "\"", "", plug) == 0) {
      alsa::TRingSetup plugSetup;
      int plugErr = alsa::SetUpPlaybackRing(plug.get(), req, plugSetup);
      if (plugErr == 0) {
        ds.DirectSound = std::move(plug);
        setup = plugSetup;
        err = 0;
      } else if (plugSetup.WakeRejected) {
        setup = plugSetup;
        err = plugErr;
      }
    }
  }
  if (err == -EINVAL && setup.WakeRejected) {
    // The notification positions were refused as an invalid argument.
    char text[16];
    std::snprintf(text, sizeof(text), "%08X", static_cast<uint32_t>(kDsErrInvalidArg));
    throw EAuException(text);
  }
  if (err < 0) return err;

  snd_pcm_t* pcm = ds.DirectSound.get();
  ds.DirectSoundBuffer = pcm;
  ds.Format = req.Format;
  ds.FrameBytes = frameBytes;
  ds.RingFrames = setup.BufferFrames;
  ds.BufferSize = setup.BufferFrames * frameBytes;
  ds.HalfFrames = req.WakeFrames;
  ds.PeriodFrames = setup.PeriodFrames;
  ds.Rate = req.Rate;
  ds.CanPause = setup.CanPause;
  ds.Playing = false;
  ds.events[0] = ds.events[1] = false;
  ds.Mirror.assign(ds.BufferSize, 0);
  const int pcmFds = snd_pcm_poll_descriptors_count(pcm);
  ds.PollFds.assign(1 + static_cast<size_t>(std::max(0, pcmFds)), pollfd{});
  ds.UnderrunSeen = false;
  const uint64_t ringMs = static_cast<uint64_t>(ds.RingFrames) * 1000 / ds.Rate;
  ds.WaitTimeoutMs = static_cast<uint32_t>(std::max<uint64_t>(kDsMinWaitTimeoutMs, 4 * ringMs));
  ds.StartWaitTimeoutMs =
      static_cast<uint32_t>(std::max<uint64_t>(kDsStartWaitTimeoutMs, 4 * ringMs));
  ds.Starting = false;
  ds.WakesEarly = false;
  // Every wait and write is bounded by our own waits, never by the library's.
  snd_pcm_nonblock(pcm, 1);
  alsa::SetPcmChannelMap(pcm, DsChannelPositions(Format.dwChannelMask, Format.nChannels));
  // A new ring is empty: the write cursor is at its start.
  ds.Offset = 0;
  return kDsOk;
}

void ReleaseDsBuffers(DSOut& ds) {
  if (ds.DirectSoundBuffer) {
    snd_pcm_drop(ds.DirectSoundBuffer);
    snd_pcm_hw_free(ds.DirectSoundBuffer);
  }
  ds.DirectSoundBuffer = nullptr;
  ds.Mirror.clear();
  ds.Mirror.shrink_to_fit();
  ds.PollFds.clear();
  ds.BufferSize = 0;
  ds.RingFrames = 0;
  ds.HalfFrames = 0;
  ds.Offset = 0;
  ds.Playing = false;
  ds.Starting = false;
  ds.WakesEarly = false;
  ds.events[0] = ds.events[1] = false;
}

void ReleaseDs(DSOut& ds) {
  ReleaseDsBuffers(ds);
  ds.DirectSound.reset();
}

// ---------------------------------------------------------------------------
// Playback state

int32_t StartDsPlayback(DSOut& ds) {
  if (!ds.DirectSoundBuffer) return kDsErrNoBuffer;
  ds.Playing = true;
  return Kick(ds);
}

int32_t ContinueDsPlayback(DSOut& ds) {
  if (!ds.DirectSoundBuffer) return kDsErrNoBuffer;
  ds.Playing = true;
  return Kick(ds);
}

int32_t StopDsPlayback(DSOut& ds) {
  if (!ds.DirectSoundBuffer) return kDsOk;
  ds.Playing = false;
  if (snd_pcm_state(ds.DirectSoundBuffer) != SND_PCM_STATE_RUNNING) return kDsOk;
  if (ds.CanPause && snd_pcm_pause(ds.DirectSoundBuffer, 1) == 0) return kDsOk;
  return Reprepare(ds);
}

// ---------------------------------------------------------------------------
// Cursors, regions and data

int32_t GetDsCursors(DSOut& ds, uint32_t& Play, uint32_t& Write) {
  Play = Write = 0;
  if (!ds.DirectSoundBuffer) return kDsErrNoBuffer;
  bool overtaken = false;
  snd_pcm_sframes_t avail = FreeFrames(ds, overtaken);
  if (avail < 0) return static_cast<int32_t>(avail);
  const uint32_t queued = ds.RingFrames - static_cast<uint32_t>(avail);
  const uint32_t writeFrames = ds.Offset / ds.FrameBytes;
  Play = ((writeFrames + ds.RingFrames - queued) % ds.RingFrames) * ds.FrameBytes;
  Write = ds.Offset;
  return kDsOk;
}

int32_t GetDsFreeSpace(DSOut& ds, uint32_t& Free) {
  ds.Underflows = 0;
  Free = 0;
  if (!ds.DirectSoundBuffer) return kDsErrNoBuffer;
  bool overtaken = false;
  snd_pcm_sframes_t avail = FreeFrames(ds, overtaken);
  if (avail < 0) return static_cast<int32_t>(avail);
  if (overtaken) ds.Underflows = 1;
  Free = static_cast<uint32_t>(avail) * ds.FrameBytes;
  return kDsOk;
}

int32_t LockDs(DSOut& ds, uint32_t Offset, uint32_t Bytes, uint8_t*& P1, uint32_t& N1, uint8_t*& P2,
               uint32_t& N2) {
  P1 = P2 = nullptr;
  N1 = N2 = 0;
  if (!ds.DirectSoundBuffer) return kDsErrNoBuffer;
  // A ring takes data only at its write position.
  if (Offset != ds.Offset) return -EINVAL;
  bool overtaken = false;
  snd_pcm_sframes_t avail = FreeFrames(ds, overtaken);
  if (avail < 0) return static_cast<int32_t>(avail);
  uint32_t bytes = std::min(Bytes, static_cast<uint32_t>(avail) * ds.FrameBytes);
  bytes -= bytes % ds.FrameBytes;
  if (bytes == 0) return kDsOk;
  N1 = std::min(bytes, ds.BufferSize - Offset);
  P1 = ds.Mirror.data() + Offset;
  N2 = bytes - N1;
  if (N2 > 0) P2 = ds.Mirror.data();
  return kDsOk;
}

int32_t UnlockDs(DSOut& ds, uint8_t* P1, uint32_t N1, uint8_t* P2, uint32_t N2,
                 uint32_t* Committed) {
  uint32_t done = 0;
  int32_t result = kDsOk;
  if (!ds.DirectSoundBuffer) {
    result = kDsErrNoBuffer;
  } else {
    if (P1 && N1 > 0) result = Commit(ds, P1, N1, done);
    if (result == kDsOk && P2 && N2 > 0) result = Commit(ds, P2, N2, done);
  }
  if (Committed) *Committed = done;
  return result;
}

int32_t FillDsFreeSpace(DSOut& ds, uint8_t Byte) {
  uint32_t free = 0;
  int32_t err = GetDsFreeSpace(ds, free);
  if (err < 0 || free == 0) return err;
  uint8_t *p1, *p2;
  uint32_t n1, n2;
  if ((err = LockDs(ds, ds.Offset, free, p1, n1, p2, n2)) < 0) return err;
  if (n1) std::memset(p1, Byte, n1);
  if (n2) std::memset(p2, Byte, n2);
  return UnlockDs(ds, p1, n1, p2, n2);
}

int32_t FillDsBuffer(DSOut& ds, uint8_t Byte) {
  if (!ds.DirectSoundBuffer) return kDsErrNoBuffer;
  // What the ring holds is discarded rather than overwritten: an emptied
  // ring plays nothing, where a ring full of silence would play it first.
  int err = Reprepare(ds);
  std::memset(ds.Mirror.data(), Byte, ds.Mirror.size());
  ds.Playing = false;
  return err;
}

int32_t WriteDsBlock(DSOut& ds, const uint8_t* Data, uint32_t Count, uint32_t& Written) {
  Written = 0;
  uint8_t *p1, *p2;
  uint32_t n1, n2;
  int32_t err = LockDs(ds, ds.Offset, Count, p1, n1, p2, n2);
  if (err < 0) return err;
  CopyAtVolume(ds, p1, Data, n1);
  CopyAtVolume(ds, p2, Data + n1, n2);
  return UnlockDs(ds, p1, n1, p2, n2, &Written);
}

int32_t WaitDsHalf(DSOut& ds, int K, bool& OtherSignalled) {
  using Clock = std::chrono::steady_clock;
  OtherSignalled = false;
  if (!ds.DirectSoundBuffer || (K != 0 && K != 1) || ds.PollFds.empty()) return kDsErrNoBuffer;
  snd_pcm_t* pcm = ds.DirectSoundBuffer;
  const uint32_t timeout = ds.Starting ? ds.StartWaitTimeoutMs : ds.WaitTimeoutMs;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout);
  pollfd* fds = ds.PollFds.data();
  const unsigned pcmRoom = static_cast<unsigned>(ds.PollFds.size() - 1);
  bool waited = false;
  // The PCM's descriptor was ready but half the ring was not yet free.
  bool early = false;
  // A device known to wake early is first slept on until the half is due.
  bool sleepFirst = ds.WakesEarly;
  for (;;) {
    bool overtaken = false;
    snd_pcm_sframes_t avail = FreeFrames(ds, overtaken);
    if (avail < 0 && avail != -EAGAIN && avail != -EINTR) return static_cast<int32_t>(avail);
    if (avail >= static_cast<snd_pcm_sframes_t>(ds.HalfFrames)) {
      ds.events[K] = true;
      ds.events[1 - K] = overtaken;
      // Space that appeared while we waited was played: the device runs.
      if (waited) ds.Starting = false;
      break;
    }
    const int64_t leftUs =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    if (leftUs <= 0) return kDsErrTimeout;
    waited = true;
    fds[0] = {ds.Wake.Fd(), POLLIN, 0};
    if (early || (sleepFirst && !ds.Starting)) {
      // Devices that wake at their own period rather than at half the ring
      // (a sound server's plugin) stay ready until the next write: sleep on
      // Wake alone until the missing frames are due, so that the thread
      // wakes about once per half instead of once per device period. At
      // least half a period, so a device that takes data in bursts is not
      // polled in small steps until its next burst.
      early = false;
      sleepFirst = false;
      const int64_t rate = std::max<uint32_t>(1, ds.Rate);
      const int64_t missing = static_cast<int64_t>(ds.HalfFrames) - std::max<int64_t>(0, avail);
      const int64_t missingUs = missing * 1000000 / rate;
      const int64_t floorUs = std::max<int64_t>(1000, ds.PeriodFrames * 500000LL / rate);
      const int64_t us = std::min(std::max(missingUs, floorUs), leftUs);
      if (PollFor(fds, 1, us) < 0) return -errno;
      if (WakeReady(fds[0])) return kDsErrStopped;
      continue;
    }
    const int n = snd_pcm_poll_descriptors(pcm, fds + 1, pcmRoom);
    if (n < 0) return n;
    const int r = PollFor(fds, 1 + static_cast<nfds_t>(n), leftUs);
    if (r < 0) return -errno;
    if (WakeReady(fds[0])) return kDsErrStopped;
    if (r > 0) {
      // The plugin's own events are demangled (and acknowledged) here;
      // whatever they say, the free space decides, and a descriptor that is
      // ready too early must not make this loop spin.
      unsigned short revents = 0;
      if (n > 0) snd_pcm_poll_descriptors_revents(pcm, fds + 1, static_cast<unsigned>(n), &revents);
      avail = FreeFrames(ds, overtaken);
      early = avail >= 0 && avail < static_cast<snd_pcm_sframes_t>(ds.HalfFrames);
      if (early) ds.WakesEarly = true;
    }
  }
  // The event waited for is reset; the other stays for the caller to see.
  ds.events[K] = false;
  OtherSignalled = ds.events[1 - K];
  return kDsOk;
}

int32_t SleepDs(DSOut& ds, uint32_t Ms) {
  pollfd fd{ds.Wake.Fd(), POLLIN, 0};
  if (PollFor(&fd, 1, static_cast<int64_t>(Ms) * 1000) < 0) return -errno;
  return WakeReady(fd) ? kDsErrStopped : kDsOk;
}

bool TakeDsUnderrun(DSOut& ds) {
  const bool seen = ds.UnderrunSeen;
  ds.UnderrunSeen = false;
  return seen;
}

void ResetDsEvent(DSOut& ds, int K) {
  if (K == 0 || K == 1) ds.events[K] = false;
}

int32_t SetDsVolume(DSOut& ds, int32_t Volume) {
  ds.Volume.store(std::clamp(Volume, -10000, 0), std::memory_order_relaxed);
  return kDsOk;
}

}  // namespace lirvo
