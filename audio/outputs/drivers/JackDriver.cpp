#include "audio/outputs/drivers/JackDriver.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <utility>

#include "audio/core/ThreadSetup.h"
#include "audio/lib/jack/JackHandles.h"

namespace lirvo::jack {

namespace {

constexpr const char* kClientName = "Lirvo Player";
constexpr int32_t kMaxChannels = 16;

class TJackDriver final : public TAsioHostObject {
 public:
  TJackDriver(std::string Name, std::string Server, ClientPtr Client,
              std::vector<std::string> Destinations)
      : FName(std::move(Name)),
        FServer(std::move(Server)),
        FClient(std::move(Client)),
        FDestinations(std::move(Destinations)) {
    FRate.store(jack_get_sample_rate(FClient.get()));
    FPeriod.store(jack_get_buffer_size(FClient.get()));
    if (FDestinations.empty()) {
      NamesPtr ports(jack_get_ports(FClient.get(), nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                    JackPortIsPhysical | JackPortIsInput));
      if (ports)
        for (const char** p = ports.get(); *p; ++p)
          FDestinations.emplace_back(*p);
    }
  }

  // Installs the callbacks; false when the client refuses them.
  bool Setup() {
    jack_client_t* c = FClient.get();
    if (jack_set_process_callback(c, &TJackDriver::ProcessEntry, this) != 0) return false;
    jack_set_sample_rate_callback(c, &TJackDriver::SampleRateEntry, this);
    jack_set_buffer_size_callback(c, &TJackDriver::BufferSizeEntry, this);
    jack_set_xrun_callback(c, &TJackDriver::XrunEntry, this);
    jack_on_info_shutdown(c, &TJackDriver::ShutdownEntry, this);
    return true;
  }

  ~TJackDriver() override {
    stop();
    disposeBuffers();
    // Closing ends JACK's threads before the members they use go.
    FClient.reset();
  }

  // --- IAsioHost ---

  ASIOBool init(void* SysHandle) override {
    SetAudioServer(TAudioServer::Jack, ClientRealtimePriority(FClient.get()));
    return FServerGone.load() ? ASIOFalse : ASIOTrue;
  }

  void getDriverName(char* Name) override { CopyAsioText(Name, 32, FName); }

  int32_t getDriverVersion() override { return 1; }

  void getErrorMessage(char* String) override {
    CopyAsioText(String, 124, FServerGone.load() ? "JACK server has shut down" : "");
  }

  ASIOError start() override {
    if (!FBuffersCreated) return ASE_InvalidMode;
    if (FActive) return ASE_OK;
    if (FServerGone.load()) return ASE_HWMalfunction;
    FIndex = 0;
    FSamplePos.store(0);
    FStamp.store(0);
    if (jack_activate(FClient.get()) != 0) return ASE_HWMalfunction;
    FActive = true;
    // Connections can only be made once the client is active; the host's
    // halves flow only once they are made, so the first ones are not lost.
    for (size_t i = 0; i < FPorts.size(); ++i) {
      const size_t ch = static_cast<size_t>(FChannelNums[i]);
      if (ch < FDestinations.size())
        jack_connect(FClient.get(), jack_port_name(FPorts[i]), FDestinations[ch].c_str());
    }
    FRunning.store(true, std::memory_order_release);
    return ASE_OK;
  }

  ASIOError stop() override {
    if (!FActive) return ASE_OK;
    FRunning.store(false, std::memory_order_release);
    // The graph drops our connections at the next cycle boundary: what the
    // host handed over in the last cycle has been read by then.
    // Returns when the process thread has left its last cycle.
    jack_deactivate(FClient.get());
    FActive = false;
    // Pairs with the release at the end of every cycle, so what the cycles did
    // happens before what the owner does next.
    FCycles.load(std::memory_order_acquire);
    return ASE_OK;
  }

  ASIOError getChannels(int32_t* NumInputChannels, int32_t* NumOutputChannels) override {
    if (NumInputChannels) *NumInputChannels = 0;
    if (NumOutputChannels) *NumOutputChannels = OutputChannels();
    return ASE_OK;
  }

  ASIOError getLatencies(int32_t* InputLatency, int32_t* OutputLatency) override {
    if (InputLatency) *InputLatency = 0;
    int32_t out = static_cast<int32_t>(FPeriod.load());
    if (!FDestinations.empty()) {
      if (jack_port_t* p = jack_port_by_name(FClient.get(), FDestinations[0].c_str())) {
        jack_latency_range_t range{};
        jack_port_get_latency_range(p, JackPlaybackLatency, &range);
        out += static_cast<int32_t>(range.max);
      }
    }
    if (OutputLatency) *OutputLatency = out;
    return ASE_OK;
  }

  ASIOError getBufferSize(int32_t* MinSize, int32_t* MaxSize, int32_t* PreferredSize,
                          int32_t* Granularity) override {
    const int32_t p = static_cast<int32_t>(FPeriod.load());
    if (MinSize) *MinSize = p;
    if (MaxSize) *MaxSize = p;
    if (PreferredSize) *PreferredSize = p;
    if (Granularity) *Granularity = 0;
    return ASE_OK;
  }

  ASIOError canSampleRate(ASIOSampleRate SampleRate) override {
    return SampleRate == static_cast<double>(FRate.load()) ? ASE_OK : ASE_NoClock;
  }

  ASIOError getSampleRate(ASIOSampleRate* SampleRate) override {
    if (!SampleRate) return ASE_InvalidParameter;
    *SampleRate = FRate.load();
    return ASE_OK;
  }

  // The server's rate is not the client's to change.
  ASIOError setSampleRate(ASIOSampleRate SampleRate) override { return canSampleRate(SampleRate); }

  ASIOError getClockSources(ASIOClockSource* Clocks, int32_t* NumSources) override {
    if (!Clocks || !NumSources || *NumSources < 1) return ASE_InvalidParameter;
    std::memset(Clocks, 0, sizeof(*Clocks));
    Clocks->associatedChannel = -1;
    Clocks->associatedGroup = -1;
    Clocks->isCurrentSource = ASIOTrue;
    CopyAsioText(Clocks->name, sizeof(Clocks->name), "JACK server");
    *NumSources = 1;
    return ASE_OK;
  }

  ASIOError setClockSource(int32_t Reference) override {
    return Reference == 0 ? ASE_OK : ASE_InvalidParameter;
  }

  ASIOError getSamplePosition(ASIOSamples* SPos, ASIOTimeStamp* TStamp) override {
    const uint64_t pos = FSamplePos.load(std::memory_order_relaxed);
    const uint64_t ns = FStamp.load(std::memory_order_relaxed);
    if (SPos) *SPos = {static_cast<uint32_t>(pos >> 32), static_cast<uint32_t>(pos)};
    if (TStamp) *TStamp = {static_cast<uint32_t>(ns >> 32), static_cast<uint32_t>(ns)};
    return ASE_OK;
  }

  ASIOError getChannelInfo(ASIOChannelInfo* Info) override {
    if (!Info || Info->isInput || Info->channel < 0 || Info->channel >= OutputChannels())
      return ASE_InvalidParameter;
    Info->isActive =
        std::find(FChannelNums.begin(), FChannelNums.end(), Info->channel) != FChannelNums.end()
            ? ASIOTrue
            : ASIOFalse;
    Info->channelGroup = 0;
    Info->type = ASIOSTFloat32LSB;
    CopyAsioText(Info->name, sizeof(Info->name), "out_" + std::to_string(Info->channel + 1));
    return ASE_OK;
  }

  ASIOError createBuffers(ASIOBufferInfo* BufferInfos, int32_t NumChannels, int32_t BufferSize,
                          ASIOCallbacks* Callbacks) override {
    if (!BufferInfos || !Callbacks || !Callbacks->bufferSwitch || NumChannels <= 0)
      return ASE_InvalidParameter;
    if (FBuffersCreated || FActive) return ASE_InvalidMode;
    if (BufferSize != static_cast<int32_t>(FPeriod.load())) return ASE_InvalidMode;
    const int32_t maxCh = OutputChannels();
    for (int32_t i = 0; i < NumChannels; ++i) {
      const ASIOBufferInfo& b = BufferInfos[i];
      if (b.isInput || b.channelNum < 0 || b.channelNum >= maxCh) return ASE_InvalidParameter;
      for (int32_t j = 0; j < i; ++j)
        if (BufferInfos[j].channelNum == b.channelNum) return ASE_InvalidParameter;
    }
    const size_t half = static_cast<size_t>(BufferSize);
    try {
      FHalves.assign(static_cast<size_t>(NumChannels) * 2 * half, 0.0f);
      FPorts.reserve(static_cast<size_t>(NumChannels));
      FChannelNums.reserve(static_cast<size_t>(NumChannels));
    } catch (...) {
      return ASE_NoMemory;
    }
    for (int32_t i = 0; i < NumChannels; ++i) {
      const std::string port = "out_" + std::to_string(BufferInfos[i].channelNum + 1);
      jack_port_t* p = jack_port_register(FClient.get(), port.c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                          JackPortIsOutput, 0);
      if (!p) {
        UnregisterPorts();
        FHalves.clear();
        return ASE_HWMalfunction;
      }
      FPorts.push_back(p);
      FChannelNums.push_back(BufferInfos[i].channelNum);
      float* base = FHalves.data() + static_cast<size_t>(i) * 2 * half;
      BufferInfos[i].buffers[0] = base;
      BufferInfos[i].buffers[1] = base + half;
    }
    {
      std::lock_guard<std::mutex> lock(FCallbacksCS);
      FCallbacks = *Callbacks;
      FUseTimeInfo = FCallbacks.asioMessage && FCallbacks.bufferSwitchTimeInfo &&
                     FCallbacks.asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) == 1;
      FResetSupported =
          FCallbacks.asioMessage &&
          FCallbacks.asioMessage(kAsioSelectorSupported, kAsioResetRequest, nullptr, nullptr) == 1;
      FHaveCallbacks = true;
    }
    FBufferSize = BufferSize;
    FBuffersCreated = true;
    return ASE_OK;
  }

  ASIOError disposeBuffers() override {
    stop();
    if (!FBuffersCreated) return ASE_InvalidMode;
    FBuffersCreated = false;
    {
      std::lock_guard<std::mutex> lock(FCallbacksCS);
      FHaveCallbacks = false;
    }
    UnregisterPorts();
    FHalves.clear();
    return ASE_OK;
  }

  ASIOError controlPanel() override {
    TAsioDriverFacts f;
    f.Driver = FName;
    f.Device = FServer.empty() ? "JACK server (default)" : "JACK server \"" + FServer + "\"";
    f.Formats = {"Float32LSB"};
    f.SampleRates = {FRate.load()};
    f.MinBufferSize = f.MaxBufferSize = f.PreferredBufferSize =
        static_cast<int32_t>(FPeriod.load());
    f.OutputChannels = OutputChannels();
    return ShowAsioControlPanel(f);
  }

  ASIOError future(int32_t Selector, void* Opt) override { return ASE_NotPresent; }

  ASIOError outputReady() override { return ASE_NotPresent; }

 private:
  int32_t OutputChannels() const {
    return std::clamp(static_cast<int32_t>(FDestinations.size()), 2, kMaxChannels);
  }

  void UnregisterPorts() {
    for (jack_port_t* p : FPorts)
      jack_port_unregister(FClient.get(), p);
    FPorts.clear();
    FChannelNums.clear();
  }

  // Copies the host's callbacks for a notification (they change only in
  // createBuffers / disposeBuffers, on the owner's thread).
  bool Callbacks(ASIOCallbacks& Out, bool& ResetSupported) {
    std::lock_guard<std::mutex> lock(FCallbacksCS);
    if (!FHaveCallbacks) return false;
    Out = FCallbacks;
    ResetSupported = FResetSupported;
    return true;
  }

  void RequestReset() {
    ASIOCallbacks cb{};
    bool reset = false;
    if (Callbacks(cb, reset) && reset && cb.asioMessage)
      cb.asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
  }

  // --- JACK's threads ---

  static int ProcessEntry(jack_nframes_t Frames, void* Arg) noexcept {
    static_cast<TJackDriver*>(Arg)->Process(Frames);
    return 0;
  }

  void Process(jack_nframes_t Frames) noexcept {
    const bool run = FRunning.load(std::memory_order_acquire) &&
                     Frames == static_cast<jack_nframes_t>(FBufferSize);
    if (run) {
      const uint64_t pos = FSamplePos.load(std::memory_order_relaxed);
      const uint64_t ns = static_cast<uint64_t>(jack_get_time()) * 1000;
      FStamp.store(ns, std::memory_order_relaxed);
      if (FUseTimeInfo) {
        AsioTimeInfo& t = FTime.timeInfo;
        t.speed = 1.0;
        t.systemTime = {static_cast<uint32_t>(ns >> 32), static_cast<uint32_t>(ns)};
        t.samplePosition = {static_cast<uint32_t>(pos >> 32), static_cast<uint32_t>(pos)};
        t.sampleRate = FRate.load(std::memory_order_relaxed);
        t.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid;
        FCallbacks.bufferSwitchTimeInfo(&FTime, FIndex, ASIOTrue);
      } else {
        FCallbacks.bufferSwitch(FIndex, ASIOTrue);
      }
    }
    const size_t half = static_cast<size_t>(FBufferSize);
    for (size_t i = 0; i < FPorts.size(); ++i) {
      auto* out = static_cast<float*>(jack_port_get_buffer(FPorts[i], Frames));
      if (!out) continue;
      if (run)
        std::memcpy(out, FHalves.data() + i * 2 * half + static_cast<size_t>(FIndex) * half,
                    Frames * sizeof(float));
      else
        std::memset(out, 0, Frames * sizeof(float));
    }
    if (run) {
      FSamplePos.fetch_add(Frames, std::memory_order_relaxed);
      FIndex ^= 1;
    }
    FCycles.fetch_add(1, std::memory_order_release);
  }

  static int SampleRateEntry(jack_nframes_t Rate, void* Arg) noexcept {
    auto* self = static_cast<TJackDriver*>(Arg);
    if (self->FRate.exchange(Rate) != Rate) {
      ASIOCallbacks cb{};
      bool reset = false;
      if (self->Callbacks(cb, reset) && cb.sampleRateDidChange) cb.sampleRateDidChange(Rate);
    }
    return 0;
  }

  static int BufferSizeEntry(jack_nframes_t Frames, void* Arg) noexcept {
    auto* self = static_cast<TJackDriver*>(Arg);
    if (self->FPeriod.exchange(Frames) != Frames) self->RequestReset();
    return 0;
  }

  // JACK's notification thread: the server missed a cycle's deadline. The
  // host counts it (only while we play: another client's xrun before our
  // start is not ours).
  static int XrunEntry(void* Arg) noexcept {
    auto* self = static_cast<TJackDriver*>(Arg);
    if (!self->FRunning.load(std::memory_order_acquire)) return 0;
    ASIOCallbacks cb{};
    bool reset = false;
    if (self->Callbacks(cb, reset) && cb.asioMessage)
      cb.asioMessage(kAsioOverload, 0, nullptr, nullptr);
    return 0;
  }

  static void ShutdownEntry(jack_status_t Code, const char* Reason, void* Arg) noexcept {
    auto* self = static_cast<TJackDriver*>(Arg);
    self->FServerGone.store(true);
    self->FRunning.store(false);
    self->RequestReset();
  }

  const std::string FName;
  const std::string FServer;
  ClientPtr FClient;
  std::vector<std::string> FDestinations;  // per output channel

  // Written by the owner between cycles (the client is inactive while they
  // change); the process thread reads them while FRunning is set.
  bool FBuffersCreated = false;
  bool FActive = false;
  int32_t FBufferSize = 0;
  std::vector<float> FHalves;  // buffer i: half 0 then half 1
  std::vector<jack_port_t*> FPorts;
  std::vector<int32_t> FChannelNums;
  ASIOCallbacks FCallbacks{};
  bool FUseTimeInfo = false;
  int32_t FIndex = 0;  // the half the next cycle plays (process thread)
  ASIOTime FTime{};    // handed to the host at each switch (process thread)

  std::mutex FCallbacksCS;  // guards FCallbacks' copy for the notification thread
  bool FHaveCallbacks = false;
  bool FResetSupported = false;

  std::atomic<bool> FRunning{false};
  std::atomic<bool> FServerGone{false};
  std::atomic<uint32_t> FRate{0};
  std::atomic<uint32_t> FPeriod{0};
  std::atomic<uint64_t> FSamplePos{0};
  std::atomic<uint64_t> FStamp{0};
  std::atomic<uint64_t> FCycles{0};
};

}  // namespace

std::unique_ptr<IAsioHost> CreateJackDriver(const std::string& Name, const std::string& Server,
                                            std::vector<std::string> Destinations) {
  ClientPtr client = OpenClient(kClientName, Server);
  if (!client) return nullptr;
  auto driver =
      std::make_unique<TJackDriver>(Name, Server, std::move(client), std::move(Destinations));
  if (!driver->Setup()) return nullptr;
  return driver;
}

}  // namespace lirvo::jack
