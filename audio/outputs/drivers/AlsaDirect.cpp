#include "audio/outputs/drivers/AlsaDirect.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "audio/core/Pcm.h"
#include "audio/core/ThreadSetup.h"
#include "audio/lib/alsa/AlsaHandles.h"

namespace lirvo::alsa {

namespace {

// Owners of the handles only this driver uses.
struct ConfigDeleter {
  void operator()(snd_config_t* p) const {
    if (p) snd_config_delete(p);
  }
};
struct CtlDeleter {
  void operator()(snd_ctl_t* p) const {
    if (p) snd_ctl_close(p);
  }
};
struct CardInfoDeleter {
  void operator()(snd_ctl_card_info_t* p) const {
    if (p) snd_ctl_card_info_free(p);
  }
};
struct PcmInfoDeleter {
  void operator()(snd_pcm_info_t* p) const {
    if (p) snd_pcm_info_free(p);
  }
};
using ConfigPtr = std::unique_ptr<snd_config_t, ConfigDeleter>;
using CtlPtr = std::unique_ptr<snd_ctl_t, CtlDeleter>;
using CardInfoPtr = std::unique_ptr<snd_ctl_card_info_t, CardInfoDeleter>;
using PcmInfoPtr = std::unique_ptr<snd_pcm_info_t, PcmInfoDeleter>;

const std::vector<snd_pcm_format_t> kDefaultFormats = {
    SND_PCM_FORMAT_S32_LE, SND_PCM_FORMAT_S24_LE, SND_PCM_FORMAT_S24_3LE, SND_PCM_FORMAT_S16_LE};

// Rates shown by the control panel when the card allows them.
const uint32_t kStandardRates[] = {8000,  11025, 16000,  22050,  32000,  44100, 48000,
                                   88200, 96000, 176400, 192000, 352800, 384000};

// Buffer sizes offered to the host, within what the card allows: enough
// frames to keep a period's overhead small, few enough that one half (32-bit,
// 16 channels) fits the output's staging block.
constexpr int32_t kMinBufferFrames = 32;
constexpr int32_t kMaxBufferFrames = 8192;
constexpr int32_t kPreferredBufferFrames = 1024;
// At most this many channels are offered (the host uses up to 16).
constexpr uint32_t kMaxChannels = 32;

std::mutex gRatesCS;  // guards gRates
// The rate last set per PCM: like a card's clock, it outlives the driver
// object, so a re-opened driver runs at the rate the host chose.
std::map<std::string, double> gRates;

ConfigPtr LoadConfig(const std::string& Text) {
  snd_config_t* top = nullptr;
  if (snd_config_top(&top) < 0) return {};
  ConfigPtr cfg(top);
  snd_input_t* in = nullptr;
  if (snd_input_buffer_open(&in, Text.data(), static_cast<ssize_t>(Text.size())) < 0) return {};
  int err = snd_config_load(top, in);
  snd_input_close(in);
  if (err < 0) return {};
  return cfg;
}

uint64_t NowNs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

class TAlsaDirectDriver final : public TAsioHostObject {
 public:
  TAlsaDirectDriver(std::string Name, std::string PcmName, ConfigPtr Config, PcmPtr Pcm,
                    std::vector<snd_pcm_format_t> Formats)
      : FName(std::move(Name)),
        FPcmName(std::move(PcmName)),
        FConfig(std::move(Config)),
        FPcm(std::move(Pcm)),
        FFormats(std::move(Formats)) {}

  ~TAlsaDirectDriver() override {
    stop();
    disposeBuffers();
    FPcm.reset();  // before the configuration it was opened in
  }

  // Reads what the device allows; false when it offers none of the formats.
  bool Probe() {
    HwParamsPtr hw = MakeHwParams();
    if (!hw || snd_pcm_hw_params_any(FPcm.get(), hw.get()) < 0) return false;
    if (snd_pcm_hw_params_set_access(FPcm.get(), hw.get(), SND_PCM_ACCESS_RW_INTERLEAVED) < 0)
      return false;
    std::vector<snd_pcm_format_t> ok;
    for (snd_pcm_format_t f : FFormats)
      if (snd_pcm_hw_params_test_format(FPcm.get(), hw.get(), f) == 0) ok.push_back(f);
    FFormats = ok;
    if (FFormats.empty()) return false;
    unsigned cmin = 0, cmax = 0;
    snd_pcm_hw_params_get_channels_min(hw.get(), &cmin);
    snd_pcm_hw_params_get_channels_max(hw.get(), &cmax);
    FMinChannels = std::max(1u, cmin);
    FMaxChannels = std::min(std::max(FMinChannels, cmax), kMaxChannels);
    if (FMinChannels > kMaxChannels) return false;

    double rate = 0;
    {
      std::lock_guard<std::mutex> lock(gRatesCS);
      auto it = gRates.find(FPcmName);
      if (it != gRates.end()) rate = it->second;
    }
    if (rate <= 0 || canSampleRate(rate) != ASE_OK) {
      unsigned r = 44100;
      int dir = 0;
      HwParamsPtr h2 = AnyParams();
      if (!h2 || snd_pcm_hw_params_set_rate_near(FPcm.get(), h2.get(), &r, &dir) < 0) return false;
      rate = r;
    }
    FRate = rate;
    ComputeBufferSizes();
    return true;
  }

  // --- IAsioHost ---

  ASIOBool init(void* SysHandle) override {
    SetAudioServer(TAudioServer::None, 0);
    return ASIOTrue;
  }

  void getDriverName(char* Name) override { CopyAsioText(Name, 32, FName); }

  int32_t getDriverVersion() override { return 1; }

  void getErrorMessage(char* String) override {
    int err = FLastError.load();
    CopyAsioText(String, 124, err ? alsa::ErrorMessage(err, "ALSA") : std::string());
  }

  ASIOError start() override {
    if (!FBuffersCreated) return ASE_InvalidMode;
    if (FThread.joinable()) return ASE_OK;
    if (!ConfigureDevice()) return ASE_HWMalfunction;
    FSamplePos.store(0);
    FStampNs.store(NowNs());
    FRunning.store(true, std::memory_order_release);
    try {
      FThread = std::thread([this] { Run(); });
    } catch (...) {
      FRunning.store(false);
      return ASE_HWMalfunction;
    }
    return ASE_OK;
  }

  ASIOError stop() override {
    if (!FThread.joinable()) return ASE_OK;
    FRunning.store(false, std::memory_order_release);
    FThread.join();
    Drain();
    return ASE_OK;
  }

  ASIOError getChannels(int32_t* NumInputChannels, int32_t* NumOutputChannels) override {
    if (NumInputChannels) *NumInputChannels = 0;
    if (NumOutputChannels) *NumOutputChannels = static_cast<int32_t>(FMaxChannels);
    return ASE_OK;
  }

  ASIOError getLatencies(int32_t* InputLatency, int32_t* OutputLatency) override {
    if (InputLatency) *InputLatency = 0;
    int32_t period = FBuffersCreated ? FBufferSize : FPrefPeriod;
    int32_t out = FDeviceBufferFrames > 0 ? static_cast<int32_t>(FDeviceBufferFrames) : 2 * period;
    if (OutputLatency) *OutputLatency = out;
    return ASE_OK;
  }

  ASIOError getBufferSize(int32_t* MinSize, int32_t* MaxSize, int32_t* PreferredSize,
                          int32_t* Granularity) override {
    if (MinSize) *MinSize = FMinPeriod;
    if (MaxSize) *MaxSize = FMaxPeriod;
    if (PreferredSize) *PreferredSize = FPrefPeriod;
    if (Granularity) *Granularity = FMinPeriod == FMaxPeriod ? 0 : 1;
    return ASE_OK;
  }

  ASIOError canSampleRate(ASIOSampleRate SampleRate) override {
    unsigned r = 0;
    if (!ValidRate(SampleRate, r)) return ASE_NoClock;
    HwParamsPtr hw = AnyParams();
    if (!hw) return ASE_NoClock;
    return snd_pcm_hw_params_test_rate(FPcm.get(), hw.get(), r, 0) == 0 ? ASE_OK : ASE_NoClock;
  }

  ASIOError getSampleRate(ASIOSampleRate* SampleRate) override {
    if (!SampleRate) return ASE_InvalidParameter;
    *SampleRate = FRate;
    return ASE_OK;
  }

  ASIOError setSampleRate(ASIOSampleRate SampleRate) override {
    if (canSampleRate(SampleRate) != ASE_OK) return ASE_NoClock;
    if (SampleRate == FRate) return ASE_OK;
    // The running stream keeps its rate; the host stops before it changes it.
    if (FThread.joinable()) return ASE_InvalidMode;
    FRate = SampleRate;
    {
      std::lock_guard<std::mutex> lock(gRatesCS);
      gRates[FPcmName] = SampleRate;
    }
    ComputeBufferSizes();
    return ASE_OK;
  }

  ASIOError getClockSources(ASIOClockSource* Clocks, int32_t* NumSources) override {
    if (!Clocks || !NumSources || *NumSources < 1) return ASE_InvalidParameter;
    std::memset(Clocks, 0, sizeof(*Clocks));
    Clocks->index = 0;
    Clocks->associatedChannel = -1;
    Clocks->associatedGroup = -1;
    Clocks->isCurrentSource = ASIOTrue;
    CopyAsioText(Clocks->name, sizeof(Clocks->name), "Internal");
    *NumSources = 1;
    return ASE_OK;
  }

  ASIOError setClockSource(int32_t Reference) override {
    return Reference == 0 ? ASE_OK : ASE_InvalidParameter;
  }

  ASIOError getSamplePosition(ASIOSamples* SPos, ASIOTimeStamp* TStamp) override {
    const uint64_t pos = FSamplePos.load(std::memory_order_relaxed);
    const uint64_t ns = FStampNs.load(std::memory_order_relaxed);
    if (SPos) *SPos = {static_cast<uint32_t>(pos >> 32), static_cast<uint32_t>(pos)};
    if (TStamp) *TStamp = {static_cast<uint32_t>(ns >> 32), static_cast<uint32_t>(ns)};
    return ASE_OK;
  }

  ASIOError getChannelInfo(ASIOChannelInfo* Info) override {
    if (!Info || Info->isInput || Info->channel < 0 ||
        Info->channel >= static_cast<int32_t>(FMaxChannels))
      return ASE_InvalidParameter;
    const uint32_t c = static_cast<uint32_t>(Info->channel);
    Info->isActive = FBuffersCreated && c < FCardChannels && FCardSrc[0][c] ? ASIOTrue : ASIOFalse;
    Info->channelGroup = 0;
    Info->type = ASIOSTInt32LSB;
    CopyAsioText(Info->name, sizeof(Info->name), "Output " + std::to_string(c + 1));
    return ASE_OK;
  }

  ASIOError createBuffers(ASIOBufferInfo* BufferInfos, int32_t NumChannels, int32_t BufferSize,
                          ASIOCallbacks* Callbacks) override {
    if (!BufferInfos || !Callbacks || !Callbacks->bufferSwitch || NumChannels <= 0)
      return ASE_InvalidParameter;
    if (FBuffersCreated || FThread.joinable()) return ASE_InvalidMode;
    if (BufferSize < FMinPeriod || BufferSize > FMaxPeriod) return ASE_InvalidMode;
    uint32_t highest = 0;
    for (int32_t i = 0; i < NumChannels; ++i) {
      const ASIOBufferInfo& b = BufferInfos[i];
      if (b.isInput || b.channelNum < 0 || b.channelNum >= static_cast<int32_t>(FMaxChannels))
        return ASE_InvalidParameter;
      for (int32_t j = 0; j < i; ++j)
        if (BufferInfos[j].channelNum == b.channelNum) return ASE_InvalidParameter;
      highest = std::max(highest, static_cast<uint32_t>(b.channelNum));
    }
    FCardChannels = std::max(FMinChannels, highest + 1);
    const size_t half = static_cast<size_t>(BufferSize);
    try {
      FHalves.assign(static_cast<size_t>(NumChannels) * 2 * half, 0);
      for (int h = 0; h < 2; ++h)
        FCardSrc[h].assign(FCardChannels, nullptr);
    } catch (...) {
      return ASE_NoMemory;
    }
    for (int32_t i = 0; i < NumChannels; ++i) {
      int32_t* base = FHalves.data() + static_cast<size_t>(i) * 2 * half;
      BufferInfos[i].buffers[0] = base;
      BufferInfos[i].buffers[1] = base + half;
      FCardSrc[0][BufferInfos[i].channelNum] = base;
      FCardSrc[1][BufferInfos[i].channelNum] = base + half;
    }
    FCallbacks = *Callbacks;
    FUseTimeInfo = FCallbacks.asioMessage && FCallbacks.bufferSwitchTimeInfo &&
                   FCallbacks.asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) == 1;
    FResetSupported =
        FCallbacks.asioMessage &&
        FCallbacks.asioMessage(kAsioSelectorSupported, kAsioResetRequest, nullptr, nullptr) == 1;
    FBufferSize = BufferSize;
    FBuffersCreated = true;
    return ASE_OK;
  }

  ASIOError disposeBuffers() override {
    stop();
    if (!FBuffersCreated) return ASE_InvalidMode;
    FBuffersCreated = false;
    FHalves.clear();
    FCardSrc[0].clear();
    FCardSrc[1].clear();
    FCardBuf.clear();
    return ASE_OK;
  }

  ASIOError controlPanel() override {
    TAsioDriverFacts f;
    f.Driver = FName;
    f.Device = FPcmName;
    f.Formats.push_back("Int32LSB (host side)");
    for (snd_pcm_format_t fmt : FFormats)
      f.Formats.push_back(snd_pcm_format_name(fmt));
    for (uint32_t r : kStandardRates)
      if (canSampleRate(r) == ASE_OK) f.SampleRates.push_back(r);
    f.MinBufferSize = FMinPeriod;
    f.MaxBufferSize = FMaxPeriod;
    f.PreferredBufferSize = FPrefPeriod;
    f.OutputChannels = static_cast<int32_t>(FMaxChannels);
    return ShowAsioControlPanel(f);
  }

  ASIOError future(int32_t Selector, void* Opt) override { return ASE_NotPresent; }

  ASIOError outputReady() override { return ASE_NotPresent; }

 private:
  HwParamsPtr AnyParams() {
    HwParamsPtr hw = MakeHwParams();
    if (!hw || snd_pcm_hw_params_any(FPcm.get(), hw.get()) < 0) return {};
    if (snd_pcm_hw_params_set_access(FPcm.get(), hw.get(), SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(FPcm.get(), hw.get(), FFormats.front()) < 0)
      return {};
    return hw;
  }

  static bool ValidRate(double Rate, unsigned& Out) {
    if (!(Rate >= 1.0 && Rate <= 4.0e6) || std::floor(Rate) != Rate) return false;
    Out = static_cast<unsigned>(Rate);
    return true;
  }

  // The period sizes the card allows at the current rate, as the host's
  // buffer sizes.
  void ComputeBufferSizes() {
    FMinPeriod = kMinBufferFrames;
    FMaxPeriod = kMaxBufferFrames;
    FPrefPeriod = kPreferredBufferFrames;
    HwParamsPtr hw = AnyParams();
    unsigned r = 0;
    if (!hw || !ValidRate(FRate, r)) return;
    unsigned ch = std::max(2u, FMinChannels);
    if (ch > FMaxChannels) ch = FMaxChannels;
    snd_pcm_hw_params_set_channels(FPcm.get(), hw.get(), ch);
    snd_pcm_hw_params_set_rate(FPcm.get(), hw.get(), r, 0);
    snd_pcm_uframes_t pmin = 0, pmax = 0;
    int dir = 0;
    if (snd_pcm_hw_params_get_period_size_min(hw.get(), &pmin, &dir) < 0 ||
        snd_pcm_hw_params_get_period_size_max(hw.get(), &pmax, &dir) < 0)
      return;
    FMinPeriod = static_cast<int32_t>(
        std::clamp<snd_pcm_uframes_t>(pmin, kMinBufferFrames, kMaxBufferFrames));
    FMaxPeriod =
        static_cast<int32_t>(std::clamp<snd_pcm_uframes_t>(pmax, FMinPeriod, kMaxBufferFrames));
    snd_pcm_uframes_t pref = kPreferredBufferFrames;
    if (snd_pcm_hw_params_set_period_size_near(FPcm.get(), hw.get(), &pref, &dir) < 0)
      pref = kPreferredBufferFrames;
    FPrefPeriod = static_cast<int32_t>(std::clamp<snd_pcm_uframes_t>(pref, FMinPeriod, FMaxPeriod));
  }

  // Sets the stream up for the created buffers: the first card format that
  // works, the card channels, the exact rate, one half per period and a ring
  // of (about) two periods that starts once it is full.
  bool ConfigureDevice() {
    unsigned r = 0;
    if (!ValidRate(FRate, r)) return false;
    snd_pcm_t* pcm = FPcm.get();
    snd_pcm_drop(pcm);
    for (snd_pcm_format_t fmt : FFormats) {
      HwParamsPtr hw = MakeHwParams();
      if (!hw || snd_pcm_hw_params_any(pcm, hw.get()) < 0) return false;
      snd_pcm_uframes_t period = static_cast<snd_pcm_uframes_t>(FBufferSize);
      unsigned periods = 2;
      int dir = 0;
      if (snd_pcm_hw_params_set_access(pcm, hw.get(), SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
          snd_pcm_hw_params_set_format(pcm, hw.get(), fmt) < 0 ||
          snd_pcm_hw_params_set_channels(pcm, hw.get(), FCardChannels) < 0 ||
          snd_pcm_hw_params_set_rate(pcm, hw.get(), r, 0) < 0 ||
          snd_pcm_hw_params_set_period_size(pcm, hw.get(), period, 0) < 0 ||
          snd_pcm_hw_params_set_periods_near(pcm, hw.get(), &periods, &dir) < 0 ||
          snd_pcm_hw_params(pcm, hw.get()) < 0)
        continue;
      snd_pcm_uframes_t bufferFrames = 0;
      snd_pcm_hw_params_get_buffer_size(hw.get(), &bufferFrames);
      SwParamsPtr sw = MakeSwParams();
      if (!sw || snd_pcm_sw_params_current(pcm, sw.get()) < 0 ||
          snd_pcm_sw_params_set_start_threshold(pcm, sw.get(), bufferFrames) < 0 ||
          snd_pcm_sw_params_set_avail_min(pcm, sw.get(), period) < 0 ||
          snd_pcm_sw_params(pcm, sw.get()) < 0)
        return false;
      if (snd_pcm_prepare(pcm) < 0) return false;
      FCardFormat = fmt;
      FFrameBytes = static_cast<uint32_t>(snd_pcm_format_physical_width(fmt) / 8) * FCardChannels;
      FDeviceBufferFrames = bufferFrames;
      try {
        FCardBuf.assign(static_cast<size_t>(FFrameBytes) * static_cast<size_t>(FBufferSize), 0);
      } catch (...) {
        return false;
      }
      return true;
    }
    return false;
  }

  // Plays out what was written (bounded), then stops the stream.
  void Drain() {
    snd_pcm_t* pcm = FPcm.get();
    unsigned r = 0;
    ValidRate(FRate, r);
    const auto limit = std::chrono::milliseconds(
        500 + (r ? static_cast<int64_t>(FDeviceBufferFrames) * 1000 / r : 0));
    const auto deadline = std::chrono::steady_clock::now() + limit;
    if (snd_pcm_drain(pcm) == -EAGAIN) {
      while (snd_pcm_state(pcm) == SND_PCM_STATE_DRAINING &&
             std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    snd_pcm_drop(pcm);
  }

  // The driver's thread: one half per period.
  void Run() noexcept {
    SetupAudioThread(TAudioThreadKind::Driver);
    int32_t index = 0;
    while (FRunning.load(std::memory_order_acquire)) {
      Switch(index);
      InterleaveToCard(FCardSrc[index].data(), FCardChannels, static_cast<uint32_t>(FBufferSize),
                       FCardFormat, FCardBuf.data());
      if (!WritePeriod()) {
        // The device is gone or stalled: the host decides what to do.
        if (FResetSupported && FCallbacks.asioMessage)
          FCallbacks.asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
        return;
      }
      FSamplePos.fetch_add(static_cast<uint64_t>(FBufferSize), std::memory_order_relaxed);
      FStampNs.store(NowNs(), std::memory_order_relaxed);
      index ^= 1;
    }
  }

  void Switch(int32_t Index) {
    if (FUseTimeInfo) {
      const uint64_t pos = FSamplePos.load(std::memory_order_relaxed);
      const uint64_t ns = NowNs();
      AsioTimeInfo& t = FTime.timeInfo;
      t.speed = 1.0;
      t.systemTime = {static_cast<uint32_t>(ns >> 32), static_cast<uint32_t>(ns)};
      t.samplePosition = {static_cast<uint32_t>(pos >> 32), static_cast<uint32_t>(pos)};
      t.sampleRate = FRate;
      t.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid;
      FCallbacks.bufferSwitchTimeInfo(&FTime, Index, ASIOTrue);
    } else {
      FCallbacks.bufferSwitch(Index, ASIOTrue);
    }
  }

  // Writes the converted half as one period. A half once handed over is
  // written whole, also while stopping, so a stop after the last block loses
  // nothing; a device that takes nothing for several buffer times counts as
  // stalled.
  bool WritePeriod() {
    snd_pcm_t* pcm = FPcm.get();
    const uint8_t* p = FCardBuf.data();
    snd_pcm_uframes_t left = static_cast<snd_pcm_uframes_t>(FBufferSize);
    unsigned r = 0;
    ValidRate(FRate, r);
    const auto limit = std::chrono::milliseconds(
        1000 + (r ? static_cast<int64_t>(FDeviceBufferFrames) * 4000 / r : 0));
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (left > 0) {
      snd_pcm_sframes_t n = snd_pcm_writei(pcm, p, left);
      if (n == -EAGAIN) {
        if (std::chrono::steady_clock::now() > deadline) {
          FLastError.store(-ETIMEDOUT);
          return false;
        }
        snd_pcm_wait(pcm, 20);
        continue;
      }
      if (n < 0) {
        // The card ran dry: the host counts the device's xrun (an atomic, fine
        // on this thread).
        if (n == -EPIPE && FCallbacks.asioMessage)
          FCallbacks.asioMessage(kAsioOverload, 0, nullptr, nullptr);
        // An underrun or a suspend is recovered; anything else ends the run.
        int err = snd_pcm_recover(pcm, static_cast<int>(n), 1);
        if (err < 0) {
          FLastError.store(err);
          return false;
        }
        continue;
      }
      p += static_cast<size_t>(n) * FFrameBytes;
      left -= static_cast<snd_pcm_uframes_t>(n);
      deadline = std::chrono::steady_clock::now() + limit;
    }
    return true;
  }

  const std::string FName;
  const std::string FPcmName;
  ConfigPtr FConfig;  // the configuration FPcm was opened in (tests), kept while it is open
  PcmPtr FPcm;
  std::vector<snd_pcm_format_t> FFormats;  // accepted by the device, in order of preference

  // Written by the owner's calls only; the driver thread reads them between
  // start (which creates it) and stop (which joins it).
  uint32_t FMinChannels = 1;
  uint32_t FMaxChannels = 2;
  int32_t FMinPeriod = kMinBufferFrames;
  int32_t FMaxPeriod = kMaxBufferFrames;
  int32_t FPrefPeriod = kPreferredBufferFrames;
  double FRate = 44100;
  bool FBuffersCreated = false;
  int32_t FBufferSize = 0;
  std::vector<int32_t> FHalves;             // channel i: half 0 then half 1
  std::vector<const int32_t*> FCardSrc[2];  // per card channel and half; null = silent
  uint32_t FCardChannels = 0;
  snd_pcm_format_t FCardFormat = SND_PCM_FORMAT_S32_LE;
  uint32_t FFrameBytes = 0;
  snd_pcm_uframes_t FDeviceBufferFrames = 0;
  std::vector<uint8_t> FCardBuf;  // one period in the card's format
  ASIOCallbacks FCallbacks{};
  bool FUseTimeInfo = false;
  bool FResetSupported = false;
  ASIOTime FTime{};  // handed to the host at each switch

  std::thread FThread;
  std::atomic<bool> FRunning{false};
  std::atomic<uint64_t> FSamplePos{0};
  std::atomic<uint64_t> FStampNs{0};
  std::atomic<int> FLastError{0};
};

}  // namespace

void InterleaveToCard(const int32_t* const* Src, uint32_t CardChannels, uint32_t Frames,
                      snd_pcm_format_t Format, uint8_t* Dst) {
  TPcmSample layout;
  switch (Format) {
    case SND_PCM_FORMAT_S32_LE:
      layout = TPcmSample::S32LE;
      break;
    case SND_PCM_FORMAT_S24_LE:
      layout = TPcmSample::S24In32LE;
      break;
    case SND_PCM_FORMAT_S24_3LE:
      layout = TPcmSample::S24LE;
      break;
    case SND_PCM_FORMAT_S16_LE:
      layout = TPcmSample::S16LE;
      break;
    default:
      std::memset(Dst, 0, static_cast<size_t>(Frames) * CardChannels * 4);
      return;
  }
  PcmInterleaveRounded(Src, CardChannels, Frames, layout, Dst);
}

std::vector<TAlsaDirectDevice> ListAlsaDirectDevices(const std::optional<TAlsaDirectSetup>& Setup) {
  if (Setup) return Setup->Devices;
  std::vector<TAlsaDirectDevice> out;
  CardInfoPtr cardInfo;
  PcmInfoPtr pcmInfo;
  {
    snd_ctl_card_info_t* ci = nullptr;
    snd_pcm_info_t* pi = nullptr;
    if (snd_ctl_card_info_malloc(&ci) < 0) return out;
    cardInfo.reset(ci);
    if (snd_pcm_info_malloc(&pi) < 0) return out;
    pcmInfo.reset(pi);
  }
  int card = -1;
  while (snd_card_next(&card) == 0 && card >= 0) {
    snd_ctl_t* c = nullptr;
    const std::string ctlName = "hw:" + std::to_string(card);
    if (snd_ctl_open(&c, ctlName.c_str(), 0) < 0) continue;
    CtlPtr ctl(c);
    if (snd_ctl_card_info(ctl.get(), cardInfo.get()) < 0) continue;
    const std::string id = snd_ctl_card_info_get_id(cardInfo.get());
    const std::string cardName = snd_ctl_card_info_get_name(cardInfo.get());
    int dev = -1;
    while (snd_ctl_pcm_next_device(ctl.get(), &dev) == 0 && dev >= 0) {
      snd_pcm_info_set_device(pcmInfo.get(), static_cast<unsigned>(dev));
      snd_pcm_info_set_subdevice(pcmInfo.get(), 0);
      snd_pcm_info_set_stream(pcmInfo.get(), SND_PCM_STREAM_PLAYBACK);
      if (snd_ctl_pcm_info(ctl.get(), pcmInfo.get()) < 0) continue;  // no playback side
      TAlsaDirectDevice d;
      d.Pcm = "hw:CARD=" + id + ",DEV=" + std::to_string(dev);
      d.Name = cardName + ": " + snd_pcm_info_get_name(pcmInfo.get()) + " (" + d.Pcm + ")";
      out.push_back(std::move(d));
    }
  }
  return out;
}

std::unique_ptr<IAsioHost> CreateAlsaDirectDriver(const std::string& Name, const std::string& Pcm,
                                                  const std::optional<TAlsaDirectSetup>& Setup) {
  std::vector<snd_pcm_format_t> formats = kDefaultFormats;
  ConfigPtr config;
  if (Setup) {
    for (const auto& d : Setup->Devices)
      if (d.Pcm == Pcm && !d.Formats.empty()) formats = d.Formats;
    config = LoadConfig(Setup->Config);
    if (!config) return nullptr;
  }
  snd_pcm_t* p = nullptr;
  // Non-blocking open: a device in use fails at once instead of waiting.
  const int err = config ? snd_pcm_open_lconf(&p, Pcm.c_str(), SND_PCM_STREAM_PLAYBACK,
                                              SND_PCM_NONBLOCK, config.get())
                         : snd_pcm_open(&p, Pcm.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  if (err < 0) return nullptr;
  PcmPtr pcm(p);
  auto driver = std::make_unique<TAlsaDirectDriver>(Name, Pcm, std::move(config), std::move(pcm),
                                                    std::move(formats));
  if (!driver->Probe()) return nullptr;
  return driver;
}

}  // namespace lirvo::alsa
