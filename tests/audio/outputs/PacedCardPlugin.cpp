// A test sound card with a clock: an ALSA external PCM plugin ("type
// lirvopaced") that plays at its sample rate, period by period, as a card's
// interrupts would, and writes every frame it is given to a raw capture file
// (created at the first frame of an opening, so a query leaves it alone).
//
// Like a card, it runs dry when the device passes the last frame written
// while running: that is an xrun (the writer gets -EPIPE). It counts xruns
// itself and writes them, with the geometry it was given, to "<file>.stats"
// at every stop, so a test sees the card's own account, not only the
// player's. Its poll descriptor is a timerfd that becomes readable at each
// period boundary (at once while the stream is prepared and has room).
//
// Configuration: pcm.x { type lirvopaced file "/path/capture.raw" }, with
// pcm_type.lirvopaced { lib "/path/libasound_module_pcm_lirvopaced.so" }.

#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct TPacedCard {
  snd_pcm_ioplug_t Io{};
  std::string Path;
  FILE* Capture = nullptr;
  int Timer = -1;
  uint32_t FrameBytes = 0;
  snd_pcm_uframes_t AvailMin = 1;
  bool Running = false;
  bool Draining = false;
  bool Dry = false;  // ran dry; stays so until prepared again
  int64_t StartNs = 0;
  uint64_t Written = 0;  // frames since prepare
  uint64_t Xruns = 0;
  uint64_t Starts = 0;
  int64_t ArmedNs = 0;        // the period boundary the timer was set to
  int64_t MaxWakeLateNs = 0;  // how late a poll saw a boundary's expiry, at most
  uint64_t FirstXrunAt = 0;   // frames played when the card first ran dry
};

int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// The time at which K periods have played.
int64_t PeriodsNs(const TPacedCard& C, uint64_t K) {
  const uint64_t frames = K * C.Io.period_size;
  return C.StartNs + static_cast<int64_t>(static_cast<__int128>(frames) * 1000000000 / C.Io.rate);
}

// Frames played: whole periods since the start.
uint64_t Played(const TPacedCard& C, int64_t Now) {
  if (!C.Running || Now <= C.StartNs || C.Io.rate == 0 || C.Io.period_size == 0) return 0;
  const uint64_t frames =
      static_cast<uint64_t>(static_cast<__int128>(Now - C.StartNs) * C.Io.rate / 1000000000);
  return frames / C.Io.period_size * C.Io.period_size;
}

void ArmAt(TPacedCard& C, int64_t AtNs) {
  C.ArmedNs = AtNs;
  itimerspec t{};
  if (AtNs > 0) {
    t.it_value.tv_sec = AtNs / 1000000000;
    t.it_value.tv_nsec = AtNs % 1000000000;
  }
  timerfd_settime(C.Timer, TFD_TIMER_ABSTIME, &t, nullptr);
}

// Readable at once: a prepared stream with room takes data without waiting.
void ArmNow(TPacedCard& C) {
  ArmAt(C, NowNs());
  C.ArmedNs = 0;  // not a boundary
}

void ArmNextPeriod(TPacedCard& C, int64_t Now) {
  const uint64_t k = Played(C, Now) / C.Io.period_size + 1;
  ArmAt(C, PeriodsNs(C, k));
}

void WriteStats(const TPacedCard& C) {
  if (!C.Capture) return;  // this opening played nothing
  fflush(C.Capture);
  FILE* f = fopen((C.Path + ".stats").c_str(), "w");
  if (!f) return;
  fprintf(f,
          "xruns %llu\nperiod %lu\nbuffer %lu\nstarts %llu\nfirst_xrun_at %llu\n"
          "max_wake_late_us %lld\n",
          static_cast<unsigned long long>(C.Xruns), static_cast<unsigned long>(C.Io.period_size),
          static_cast<unsigned long>(C.Io.buffer_size), static_cast<unsigned long long>(C.Starts),
          static_cast<unsigned long long>(C.FirstXrunAt),
          static_cast<long long>(C.MaxWakeLateNs / 1000));
  fclose(f);
}

TPacedCard& Card(snd_pcm_ioplug_t* Io) {
  return *static_cast<TPacedCard*>(Io->private_data);
}

int OnStart(snd_pcm_ioplug_t* Io) {
  TPacedCard& c = Card(Io);
  c.Running = true;
  c.Draining = false;
  c.StartNs = NowNs();
  ++c.Starts;
  ArmNextPeriod(c, c.StartNs);
  return 0;
}

int OnStop(snd_pcm_ioplug_t* Io) {
  TPacedCard& c = Card(Io);
  c.Running = false;
  c.Draining = false;
  ArmAt(c, 0);
  WriteStats(c);
  return 0;
}

snd_pcm_sframes_t OnPointer(snd_pcm_ioplug_t* Io) {
  TPacedCard& c = Card(Io);
  if (c.Dry) return -EPIPE;
  // Nothing plays before the start.
  if (!c.Running) return 0;
  uint64_t played = Played(c, NowNs());
  if (played >= c.Written) {
    if (!c.Draining) {
      // The card wanted a frame that was not there.
      if (c.Xruns++ == 0) c.FirstXrunAt = played;
      c.Dry = true;
      c.Running = false;
      ArmAt(c, 0);
      return -EPIPE;
    }
    played = c.Written;
  }
  return static_cast<snd_pcm_sframes_t>(played % Io->buffer_size);
}

snd_pcm_sframes_t OnTransfer(snd_pcm_ioplug_t* Io, const snd_pcm_channel_area_t* Areas,
                             snd_pcm_uframes_t Offset, snd_pcm_uframes_t Size) {
  TPacedCard& c = Card(Io);
  const uint8_t* p = static_cast<const uint8_t*>(Areas[0].addr) + Areas[0].first / 8 +
                     static_cast<size_t>(Offset) * (Areas[0].step / 8);
  // Opened at the first frame, as the capture of this stream: opening the
  // device only to ask what it allows leaves an earlier capture as it was.
  if (!c.Capture) {
    c.Capture = fopen(c.Path.c_str(), "wb");
    // Whole periods go out in one write now and then, not one per frame.
    if (c.Capture) setvbuf(c.Capture, nullptr, _IOFBF, 1 << 20);
  }
  if (c.Capture) fwrite(p, c.FrameBytes, Size, c.Capture);
  c.Written += Size;
  if (!c.Running && c.Written < Io->buffer_size) ArmNow(c);
  return static_cast<snd_pcm_sframes_t>(Size);
}

int OnHwParams(snd_pcm_ioplug_t* Io, snd_pcm_hw_params_t*) {
  TPacedCard& c = Card(Io);
  c.FrameBytes =
      static_cast<uint32_t>(snd_pcm_format_physical_width(Io->format) / 8) * Io->channels;
  return c.FrameBytes > 0 ? 0 : -EINVAL;
}

int OnSwParams(snd_pcm_ioplug_t* Io, snd_pcm_sw_params_t* Params) {
  snd_pcm_uframes_t v = 1;
  if (snd_pcm_sw_params_get_avail_min(Params, &v) == 0) Card(Io).AvailMin = v ? v : 1;
  return 0;
}

int OnPrepare(snd_pcm_ioplug_t* Io) {
  TPacedCard& c = Card(Io);
  c.Running = false;
  c.Draining = false;
  c.Dry = false;
  c.Written = 0;
  ArmNow(c);
  return 0;
}

// Plays out what was written, as the card's clock allows.
int OnDrain(snd_pcm_ioplug_t* Io) {
  TPacedCard& c = Card(Io);
  if (!c.Running) return 0;
  c.Draining = true;
  const uint64_t periods = (c.Written + Io->period_size - 1) / Io->period_size;
  const int64_t at = PeriodsNs(c, periods);
  timespec ts{static_cast<time_t>(at / 1000000000), static_cast<long>(at % 1000000000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
  return 0;
}

int OnPollRevents(snd_pcm_ioplug_t* Io, struct pollfd* Pfd, unsigned int Nfds,
                  unsigned short* Revents) {
  TPacedCard& c = Card(Io);
  uint64_t ticks = 0;
  const ssize_t r = read(c.Timer, &ticks, sizeof ticks);
  const int64_t now = NowNs();
  // How late the waiter saw the boundary: the machine's share of a late
  // period (a thread woken late), apart from the writer's.
  if (r == sizeof ticks && ticks > 0 && c.Running && c.ArmedNs > 0)
    c.MaxWakeLateNs = std::max(c.MaxWakeLateNs, now - c.ArmedNs);
  uint64_t played = Played(c, now);
  if (played > c.Written) played = c.Written;
  const uint64_t queued = c.Written - played;
  const uint64_t room = queued >= Io->buffer_size ? 0 : Io->buffer_size - queued;
  if (c.Running) {
    ArmNextPeriod(c, now);
  } else if (room > 0) {
    ArmNow(c);
  }
  *Revents = room >= c.AvailMin ? POLLOUT : 0;
  return 0;
}

int OnClose(snd_pcm_ioplug_t* Io) {
  TPacedCard* c = &Card(Io);
  WriteStats(*c);
  if (c->Capture) fclose(c->Capture);
  if (c->Timer >= 0) close(c->Timer);
  delete c;
  return 0;
}

const snd_pcm_ioplug_callback_t kCallbacks = [] {
  snd_pcm_ioplug_callback_t cb{};
  cb.start = OnStart;
  cb.stop = OnStop;
  cb.pointer = OnPointer;
  cb.transfer = OnTransfer;
  cb.close = OnClose;
  cb.hw_params = OnHwParams;
  cb.sw_params = OnSwParams;
  cb.prepare = OnPrepare;
  cb.drain = OnDrain;
  cb.poll_revents = OnPollRevents;
  return cb;
}();

int SetConstraints(snd_pcm_ioplug_t* Io) {
  static const unsigned int access[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
  static const unsigned int formats[] = {SND_PCM_FORMAT_S32_LE, SND_PCM_FORMAT_S24_LE,
                                         SND_PCM_FORMAT_S24_3LE, SND_PCM_FORMAT_S16_LE};
  // Periods of 32 to 8192 frames of the smallest and the largest frames.
  const unsigned int minPeriodBytes = 32 * 2;
  const unsigned int maxPeriodBytes = 8192 * 4 * 32;
  int err;
  if ((err = snd_pcm_ioplug_set_param_list(Io, SND_PCM_IOPLUG_HW_ACCESS, 1, access)) < 0 ||
      (err = snd_pcm_ioplug_set_param_list(Io, SND_PCM_IOPLUG_HW_FORMAT, 4, formats)) < 0 ||
      (err = snd_pcm_ioplug_set_param_minmax(Io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 32)) < 0 ||
      (err = snd_pcm_ioplug_set_param_minmax(Io, SND_PCM_IOPLUG_HW_RATE, 8000, 384000)) < 0 ||
      (err = snd_pcm_ioplug_set_param_minmax(Io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, minPeriodBytes,
                                             maxPeriodBytes)) < 0 ||
      (err = snd_pcm_ioplug_set_param_minmax(Io, SND_PCM_IOPLUG_HW_PERIODS, 2, 64)) < 0 ||
      (err = snd_pcm_ioplug_set_param_minmax(Io, SND_PCM_IOPLUG_HW_BUFFER_BYTES, 2 * minPeriodBytes,
                                             4 * maxPeriodBytes)) < 0)
    return err;
  return 0;
}

}  // namespace

extern "C" {

SND_PCM_PLUGIN_DEFINE_FUNC(lirvopaced) {
  if (stream != SND_PCM_STREAM_PLAYBACK) return -EINVAL;
  std::string path;
  snd_config_iterator_t i, next;
  snd_config_for_each(i, next, conf) {
    snd_config_t* n = snd_config_iterator_entry(i);
    const char* id = nullptr;
    if (snd_config_get_id(n, &id) < 0) continue;
    if (!strcmp(id, "comment") || !strcmp(id, "type") || !strcmp(id, "hint")) continue;
    if (!strcmp(id, "file")) {
      const char* s = nullptr;
      if (snd_config_get_string(n, &s) < 0) return -EINVAL;
      path = s;
      continue;
    }
    SNDERR("Unknown field %s", id);
    return -EINVAL;
  }
  if (path.empty()) return -EINVAL;

  auto* c = new TPacedCard;
  c->Path = path;
  c->Timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (c->Timer < 0) {
    const int err = errno;
    delete c;
    return -err;
  }
  c->Io.version = SND_PCM_IOPLUG_VERSION;
  c->Io.name = "Lirvo paced test card";
  c->Io.callback = &kCallbacks;
  c->Io.private_data = c;
  c->Io.poll_fd = c->Timer;
  c->Io.poll_events = POLLIN;
  c->Io.mmap_rw = 0;
  c->Io.flags = SND_PCM_IOPLUG_FLAG_MONOTONIC;
  int err = snd_pcm_ioplug_create(&c->Io, name, stream, mode);
  if (err < 0) {
    close(c->Timer);
    delete c;
    return err;
  }
  if ((err = SetConstraints(&c->Io)) < 0) {
    snd_pcm_ioplug_delete(&c->Io);  // closes through OnClose
    return err;
  }
  *pcmp = c->Io.pcm;
  return 0;
}

SND_PCM_PLUGIN_SYMBOL(lirvopaced)

}  // extern "C"
