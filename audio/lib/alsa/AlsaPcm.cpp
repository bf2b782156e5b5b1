#include "audio/lib/alsa/AlsaPcm.h"

#include <cstdlib>

namespace lirvo::alsa {

namespace {

struct InputDeleter {
  void operator()(snd_input_t* p) const {
    if (p) snd_input_close(p);
  }
};
using InputPtr = std::unique_ptr<snd_input_t, InputDeleter>;

// A string returned by snd_device_name_get_hint, owned and freed here.
std::string TakeHint(void* Hint, const char* Id) {
  char* s = snd_device_name_get_hint(Hint, Id);
  if (!s) return {};
  std::string out(s);
  free(s);
  return out;
}

// Installs Params with a ring of Frames frames in periods of Period frames.
int TryRing(snd_pcm_t* Pcm, const snd_pcm_hw_params_t* Base, snd_pcm_hw_params_t* Work,
            snd_pcm_uframes_t Frames, snd_pcm_uframes_t Period) {
  snd_pcm_hw_params_copy(Work, Base);
  int err = snd_pcm_hw_params_set_buffer_size(Pcm, Work, Frames);
  if (err < 0) return err;
  err = snd_pcm_hw_params_set_period_size(Pcm, Work, Period, 0);
  if (err < 0) return err;
  return snd_pcm_hw_params(Pcm, Work);
}

}  // namespace

int LoadPcmConfig(const std::string& Text, PcmConfigPtr& Out) {
  Out.reset();
  snd_config_t* top = nullptr;
  int err = snd_config_top(&top);
  if (err < 0) return err;
  PcmConfigPtr cfg(top);
  snd_input_t* raw = nullptr;
  err = snd_input_buffer_open(&raw, Text.data(), static_cast<ssize_t>(Text.size()));
  if (err < 0) return err;
  InputPtr in(raw);
  err = snd_config_load(cfg.get(), in.get());
  if (err < 0) return err;
  Out = std::move(cfg);
  return 0;
}

int OpenPlaybackPcm(const std::string& Name, const std::string& ConfigText, PcmPtr& Out) {
  Out.reset();
  snd_pcm_t* pcm = nullptr;
  int err;
  if (ConfigText.empty()) {
    err = snd_pcm_open(&pcm, Name.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
  } else {
    PcmConfigPtr cfg;
    err = LoadPcmConfig(ConfigText, cfg);
    if (err < 0) return err;
    // The plugins read what they need while opening; the tree is not kept.
    err = snd_pcm_open_lconf(&pcm, Name.c_str(), SND_PCM_STREAM_PLAYBACK, 0, cfg.get());
  }
  if (err < 0) return err;
  Out.reset(pcm);
  return 0;
}

int ListPcmHints(std::vector<TPcmHint>& Out) {
  Out.clear();
  void** hints = nullptr;
  int err = snd_device_name_hint(-1, "pcm", &hints);
  if (err < 0) return err;
  HintsPtr owner(hints);
  for (void** h = hints; h && *h; ++h) {
    TPcmHint hint;
    hint.Name = TakeHint(*h, "NAME");
    if (hint.Name.empty()) continue;
    // Descriptions come in lines ("card, device" then "what it is").
    for (char c : TakeHint(*h, "DESC")) {
      if (c == '\n')
        hint.Description += ", ";
      else
        hint.Description += c;
    }
    hint.IoId = TakeHint(*h, "IOID");
    Out.push_back(std::move(hint));
  }
  return 0;
}

snd_pcm_format_t IntegerPcmFormat(uint32_t Bits) {
  switch (Bits) {
    case 8:
      return SND_PCM_FORMAT_U8;
    case 16:
      return SND_PCM_FORMAT_S16_LE;
    case 24:
      return SND_PCM_FORMAT_S24_3LE;
    case 32:
      return SND_PCM_FORMAT_S32_LE;
    default:
      return SND_PCM_FORMAT_UNKNOWN;
  }
}

int SetUpPlaybackRing(snd_pcm_t* Pcm, const TRingRequest& Request, TRingSetup& Out) {
  Out = TRingSetup{};
  if (!Pcm) return -EBADFD;
  if (Request.Format == SND_PCM_FORMAT_UNKNOWN || Request.Channels == 0 || Request.Rate == 0 ||
      Request.BufferFrames < 2 || Request.WakeFrames == 0 ||
      Request.WakeFrames > Request.BufferFrames)
    return -EINVAL;

  HwParamsPtr base = MakeHwParams();
  HwParamsPtr work = MakeHwParams();
  if (!base || !work) return -ENOMEM;
  int err = snd_pcm_hw_params_any(Pcm, base.get());
  if (err < 0) return err;
  if ((err = snd_pcm_hw_params_set_access(Pcm, base.get(), SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
      (err = snd_pcm_hw_params_set_format(Pcm, base.get(), Request.Format)) < 0 ||
      (err = snd_pcm_hw_params_set_channels(Pcm, base.get(), Request.Channels)) < 0 ||
      (err = snd_pcm_hw_params_set_rate(Pcm, base.get(), Request.Rate, 0)) < 0)
    return err;

  const snd_pcm_uframes_t frames = Request.BufferFrames;
  // Two periods make the two halves. A device that wants more (a sound
  // server's plugin wants three at least) wakes its server and us once per
  // period, so it gets the fewest: three, then even counts (each half whole
  // periods), then odd ones.
  bool done = frames % 2 == 0 && TryRing(Pcm, base.get(), work.get(), frames, frames / 2) == 0;
  if (!done && frames % 3 == 0)
    done = TryRing(Pcm, base.get(), work.get(), frames, frames / 3) == 0;
  for (unsigned k = 4; k <= 64 && !done; k += 2)
    if (frames % k == 0 && TryRing(Pcm, base.get(), work.get(), frames, frames / k) == 0)
      done = true;
  for (unsigned k = 5; k <= 63 && !done; k += 2)
    if (frames % k == 0 && TryRing(Pcm, base.get(), work.get(), frames, frames / k) == 0)
      done = true;
  if (!done) {
    // A device with its own size rules: the nearest ring that still holds
    // what was asked for.
    snd_pcm_hw_params_copy(work.get(), base.get());
    snd_pcm_uframes_t want = frames;
    snd_pcm_uframes_t period = Request.WakeFrames;
    int dir = 0;
    if ((err = snd_pcm_hw_params_set_buffer_size_min(Pcm, work.get(), &want)) < 0) return err;
    want = frames;
    if ((err = snd_pcm_hw_params_set_buffer_size_near(Pcm, work.get(), &want)) < 0) return err;
    if ((err = snd_pcm_hw_params_set_period_size_near(Pcm, work.get(), &period, &dir)) < 0)
      return err;
    if ((err = snd_pcm_hw_params(Pcm, work.get())) < 0) return err;
  }

  snd_pcm_uframes_t bufferSize = 0, periodSize = 0;
  int dir = 0;
  snd_pcm_hw_params_get_buffer_size(work.get(), &bufferSize);
  snd_pcm_hw_params_get_period_size(work.get(), &periodSize, &dir);
  Out.BufferFrames = static_cast<uint32_t>(bufferSize);
  Out.PeriodFrames = static_cast<uint32_t>(periodSize);
  Out.CanPause = snd_pcm_hw_params_can_pause(work.get()) != 0;
  if (Out.BufferFrames < Request.WakeFrames) return -EINVAL;

  SwParamsPtr sw = MakeSwParams();
  if (!sw) return -ENOMEM;
  snd_pcm_uframes_t boundary = 0;
  if ((err = snd_pcm_sw_params_current(Pcm, sw.get())) < 0 ||
      (err = snd_pcm_sw_params_get_boundary(sw.get(), &boundary)) < 0 ||
      (err = snd_pcm_sw_params_set_avail_min(Pcm, sw.get(), Request.WakeFrames)) < 0 ||
      (err = snd_pcm_sw_params_set_start_threshold(Pcm, sw.get(), boundary)) < 0 ||
      (err = snd_pcm_sw_params_set_stop_threshold(Pcm, sw.get(), bufferSize)) < 0 ||
      (err = snd_pcm_sw_params(Pcm, sw.get())) < 0) {
    Out.WakeRejected = true;
    return err;
  }
  return 0;
}

int SetPcmChannelMap(snd_pcm_t* Pcm, const std::vector<unsigned>& Positions) {
  if (!Pcm || Positions.empty()) return 0;
  ChmapPtr map(static_cast<snd_pcm_chmap_t*>(
      malloc(sizeof(snd_pcm_chmap_t) + Positions.size() * sizeof(unsigned))));
  if (!map) return -ENOMEM;
  map->channels = static_cast<unsigned>(Positions.size());
  for (size_t i = 0; i < Positions.size(); ++i)
    map->pos[i] = Positions[i];
  return snd_pcm_set_chmap(Pcm, map.get());
}

}  // namespace lirvo::alsa
