#include "tests/audio/outputs/FakeAsioDriver.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace lirvo::test {

namespace {

uint32_t SampleBytes(ASIOSampleType Type) {
  switch (Type) {
    case ASIOSTInt16LSB:
      return 2;
    case ASIOSTInt24LSB:
      return 3;
    default:
      return 4;
  }
}

class TFakeDriver final : public TAsioHostObject {
 public:
  explicit TFakeDriver(TFakeAsioConfig Config) : C(std::move(Config)) {
    FRate = C.Rates.empty() ? 44100 : C.Rates.front();
  }
  ~TFakeDriver() override {
    StopThread();
    disposeBuffers();
  }

  ASIOBool init(void* SysHandle) override {
    std::lock_guard<std::mutex> lock(Fake().CS);
    Fake().InitHandle = SysHandle;
    return C.InitResult;
  }
  void getDriverName(char* Name) override { CopyAsioText(Name, 32, "Fake"); }
  int32_t getDriverVersion() override { return 1; }
  void getErrorMessage(char* String) override { CopyAsioText(String, 124, ""); }

  ASIOError start() override {
    if (C.StartResult != ASE_OK) return C.StartResult;
    if (!FCreated) return ASE_InvalidMode;
    Fake().Starts.fetch_add(1);
    if (FThread.joinable()) return ASE_OK;
    FRunning = true;
    FThread = std::thread([this] { Run(); });
    return ASE_OK;
  }
  ASIOError stop() override {
    Fake().Stops.fetch_add(1);
    StopThread();
    return ASE_OK;
  }
  ASIOError getChannels(int32_t* In, int32_t* Out) override {
    *In = 0;
    *Out = C.Channels;
    return ASE_OK;
  }
  ASIOError getLatencies(int32_t* In, int32_t* Out) override {
    *In = 0;
    *Out = 2 * (FCreated ? FSize : C.PrefSize) + 7;
    return ASE_OK;
  }
  ASIOError getBufferSize(int32_t* Min, int32_t* Max, int32_t* Pref, int32_t* Gran) override {
    *Min = C.MinSize;
    *Max = C.MaxSize;
    *Pref = C.PrefSize;
    *Gran = C.Granularity;
    return ASE_OK;
  }
  ASIOError canSampleRate(ASIOSampleRate Rate) override {
    return std::find(C.Rates.begin(), C.Rates.end(), Rate) != C.Rates.end() ? ASE_OK : ASE_NoClock;
  }
  ASIOError getSampleRate(ASIOSampleRate* Rate) override {
    *Rate = FRate;
    return ASE_OK;
  }
  ASIOError setSampleRate(ASIOSampleRate Rate) override {
    {
      std::lock_guard<std::mutex> lock(Fake().CS);
      Fake().RatesSet.push_back(Rate);
    }
    if (canSampleRate(Rate) != ASE_OK) return ASE_NoClock;
    FRate = Rate;
    return ASE_OK;
  }
  ASIOError getClockSources(ASIOClockSource*, int32_t* Num) override {
    *Num = 0;
    return ASE_OK;
  }
  ASIOError setClockSource(int32_t) override { return ASE_OK; }
  ASIOError getSamplePosition(ASIOSamples* Pos, ASIOTimeStamp* Stamp) override {
    const uint64_t p = FPos.load();
    *Pos = {static_cast<uint32_t>(p >> 32), static_cast<uint32_t>(p)};
    // A stamp whose high half is used, to check the host joins the halves.
    const uint64_t t = (uint64_t{1} << 32) + p;
    *Stamp = {static_cast<uint32_t>(t >> 32), static_cast<uint32_t>(t)};
    return ASE_OK;
  }
  ASIOError getChannelInfo(ASIOChannelInfo* Info) override {
    Info->type = C.Type;
    Info->isActive = FCreated;
    return ASE_OK;
  }
  ASIOError createBuffers(ASIOBufferInfo* Infos, int32_t Num, int32_t Size,
                          ASIOCallbacks* Callbacks) override {
    {
      std::lock_guard<std::mutex> lock(Fake().CS);
      Fake().CreatedSizes.push_back(Size);
      Fake().CreatedChannels.push_back(Num);
    }
    if (C.CreateBuffersResult != ASE_OK) return C.CreateBuffersResult;
    FBytes = SampleBytes(C.Type);
    FSize = Size;
    FChannels = Num;
    // Garbage, so that a host that does not clear the halves is caught.
    FMemory.assign(static_cast<size_t>(Num) * 2 * Size * FBytes, 0xA5);
    for (int32_t i = 0; i < Num; ++i) {
      uint8_t* base = FMemory.data() + static_cast<size_t>(i) * 2 * Size * FBytes;
      Infos[i].buffers[0] = base;
      Infos[i].buffers[1] = base + static_cast<size_t>(Size) * FBytes;
    }
    FCallbacks = *Callbacks;
    FTimeInfo =
        C.AskTimeInfo && FCallbacks.asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) == 1;
    {
      std::lock_guard<std::mutex> lock(Fake().CS);
      Fake().Callbacks = FCallbacks;
      Fake().HaveCallbacks = true;
    }
    FCreated = true;
    return ASE_OK;
  }
  ASIOError disposeBuffers() override {
    StopThread();
    if (!FCreated) return ASE_InvalidMode;
    FCreated = false;
    std::lock_guard<std::mutex> lock(Fake().CS);
    Fake().HaveCallbacks = false;
    return ASE_OK;
  }
  ASIOError controlPanel() override {
    Fake().ControlPanels.fetch_add(1);
    return ASE_OK;
  }
  ASIOError future(int32_t, void*) override { return ASE_NotPresent; }
  ASIOError outputReady() override {
    Fake().OutputReadyCalls.fetch_add(1);
    FReady.fetch_add(1, std::memory_order_release);
    return C.OutputReadyResult;
  }

 private:
  void StopThread() {
    FRunning = false;
    if (FThread.joinable()) FThread.join();
  }

  void Run() {
    const auto period = std::max(C.Period, std::chrono::microseconds(200));
    int32_t index = 0;
    while (FRunning.load()) {
      Fake().Switches.fetch_add(1);
      ++FSwitched;
      const auto began = std::chrono::steady_clock::now();
      if (FTimeInfo) {
        FTime.timeInfo.flags = 0;
        FCallbacks.bufferSwitchTimeInfo(&FTime, index, C.Direct);
        if (FTime.timeInfo.flags == (kSystemTimeValid | kSamplePositionValid))
          Fake().SawTimeInfoFlags = true;
      } else {
        FCallbacks.bufferSwitch(index, C.Direct);
      }
      const auto took = std::chrono::steady_clock::now() - began;
      {
        std::lock_guard<std::mutex> lock(Fake().CS);
        Fake().SwitchNs.push_back(
            std::chrono::duration_cast<std::chrono::nanoseconds>(took).count());
      }
      // The event-thread delivery lands later: the host says when through
      // outputReady. This device waits for it (up to 2 s), so that what it
      // captures does not depend on how busy the machine is.
      // A half the host has not filled when the device is stopped is not
      // played.
      if (C.Direct != ASIOTrue) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (FReady.load(std::memory_order_acquire) < FSwitched && FRunning.load() &&
               std::chrono::steady_clock::now() < deadline)
          std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (FReady.load(std::memory_order_acquire) < FSwitched) break;
      }
      Capture(index);
      FPos.fetch_add(static_cast<uint64_t>(FSize));
      index ^= 1;
      if (C.Direct == ASIOTrue) std::this_thread::sleep_for(period);
    }
  }

  void Capture(int32_t Index) {
    std::lock_guard<std::mutex> lock(Fake().CS);
    auto& cap = Fake().Capture;
    for (int32_t f = 0; f < FSize; ++f)
      for (int32_t c = 0; c < FChannels; ++c) {
        const uint8_t* p = FMemory.data() + static_cast<size_t>(c) * 2 * FSize * FBytes +
                           static_cast<size_t>(Index) * FSize * FBytes +
                           static_cast<size_t>(f) * FBytes;
        cap.insert(cap.end(), p, p + FBytes);
      }
  }

  const TFakeAsioConfig C;
  double FRate = 44100;
  bool FCreated = false;
  int32_t FSize = 0;
  int32_t FChannels = 0;
  uint32_t FBytes = 4;
  std::vector<uint8_t> FMemory;
  ASIOCallbacks FCallbacks{};
  bool FTimeInfo = false;
  ASIOTime FTime{};
  std::thread FThread;
  std::atomic<bool> FRunning{false};
  std::atomic<uint64_t> FPos{0};
  std::atomic<uint64_t> FReady{0};  // outputReady calls
  uint64_t FSwitched = 0;           // switches made (driver thread)
};

}  // namespace

TFakeAsio& Fake() {
  static TFakeAsio fake;
  return fake;
}

void TFakeAsio::Reset() {
  std::lock_guard<std::mutex> lock(CS);
  Config = TFakeAsioConfig{};
  Capture.clear();
  CreatedSizes.clear();
  CreatedChannels.clear();
  RatesSet.clear();
  SwitchNs.clear();
  InitHandle = nullptr;
  Creations = 0;
  Starts = 0;
  Stops = 0;
  Switches = 0;
  OutputReadyCalls = 0;
  ControlPanels = 0;
  SawTimeInfoFlags = false;
}

std::vector<uint8_t> TFakeAsio::TakeCapture() {
  std::lock_guard<std::mutex> lock(CS);
  return std::move(Capture);
}

int32_t TFakeAsio::SendMessage(int32_t Selector, int32_t Value) {
  ASIOCallbacks cb{};
  {
    std::lock_guard<std::mutex> lock(CS);
    if (!HaveCallbacks) return -1;
    cb = Callbacks;
  }
  return cb.asioMessage(Selector, Value, nullptr, nullptr);
}

void TFakeAsio::SendRateChange(double Rate) {
  ASIOCallbacks cb{};
  {
    std::lock_guard<std::mutex> lock(CS);
    if (!HaveCallbacks) return;
    cb = Callbacks;
  }
  cb.sampleRateDidChange(Rate);
}

void RegisterFakeAsio() {
  RegisterAsioDriverClass(
      CLSID_FakeAsio,
      [](const TAsioDriverDesc&, const TOutputEnvironment&) -> std::unique_ptr<IAsioHost> {
        TFakeAsioConfig c;
        {
          std::lock_guard<std::mutex> lock(Fake().CS);
          c = Fake().Config;
        }
        if (c.CreateFails) return nullptr;
        Fake().Creations.fetch_add(1);
        return std::make_unique<TFakeDriver>(std::move(c));
      });
}

}  // namespace lirvo::test
