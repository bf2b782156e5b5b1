#include "audio/outputs/AuASIO.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <thread>

#include "audio/core/AudioProcs.h"
#include "audio/core/EventHandler.h"
#include "audio/core/FileInputs.h"
#include "audio/core/Pcm.h"
#include "audio/core/Pool.h"
#include "audio/outputs/AsioHost_Define.h"

namespace lirvo {

namespace {

// Unit-level state shared by the callbacks.
std::atomic<TASIOAudioOut*> ASIOOutInstance{nullptr};
std::atomic<int32_t> BufferIndex{0};
std::atomic<bool> LastBlockDelivered{true};
std::atomic<bool> gOutputReadySupported{true};

constexpr uint32_t kMaxAsioChannels = 16;

std::string Fmt(const char* Format, ...) {
  char buf[256];
  va_list args;
  va_start(args, Format);
  std::vsnprintf(buf, sizeof(buf), Format, args);
  va_end(args);
  return buf;
}

// The poll interval of the read-ahead: P ms, or a yield for 0.
void PollSleep(int32_t Ms) {
  if (Ms <= 0)
    std::this_thread::yield();
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(Ms));
}

// The driver's channel buffers as typed pointers, at most kMaxAsioChannels.
template <class T>
uint32_t TypedBuffers(void* const* Dst, uint32_t Chans, T** Out) {
  const uint32_t ch = std::min(Chans, kMaxAsioChannels);
  for (uint32_t c = 0; c < ch; ++c)
    Out[c] = static_cast<T*>(Dst[c]);
  return ch;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction

TASIOAudioOut::TASIOAudioOut(TComponent* AOwner, TOutputEnvironment Env)
    : TAuOutput(AOwner), FEnvironment(std::move(Env)) {
  ListAsioDrivers(Devices, FEnvironment);
  FDeviceCount = static_cast<int32_t>(Devices.size());
  FOutputChannels = 2;
  Callbacks.bufferSwitch = &TASIOAudioOut::CbBufferSwitch;
  Callbacks.sampleRateDidChange = &TASIOAudioOut::CbSampleRateDidChange;
  Callbacks.asioMessage = &TASIOAudioOut::CbAsioMessage;
  Callbacks.bufferSwitchTimeInfo = &TASIOAudioOut::CbBufferSwitchTimeInfo;
  ASIOOutInstance.store(this);
}

TASIOAudioOut::~TASIOAudioOut() {
  EndThread();
  CloseDriver();
  // A delivery the driver posted before it stopped must not outlive us.
  if (TEventHandler* eh = EventHandler()) eh->Purge(this);
  TASIOAudioOut* self = this;
  ASIOOutInstance.compare_exchange_strong(self, nullptr);
  Devices.clear();
}

// ---------------------------------------------------------------------------
// Properties

void TASIOAudioOut::SetDeviceNumber(int32_t Value) {
  if (FDeviceCount == 0) return;
  if (Value < 0 || Value >= FDeviceCount)
    throw EAuException(Fmt("Device number out of range: %d", Value));
  FDeviceNumber = Value;
}

std::string TASIOAudioOut::DeviceName(int32_t Number) const {
  if (Number < 0 || Number >= FDeviceCount)
    throw EAuException(Fmt("Device number out of range: %d", Number));
  return Devices[static_cast<size_t>(Number)].name;
}

void TASIOAudioOut::SetOnSampleRateChanged(TGenericEvent Handler) {
  std::lock_guard<std::mutex> lock(FEventsCS);
  FOnSampleRateChanged = std::move(Handler);
}

void TASIOAudioOut::SetOnLatencyChanged(TGenericEvent Handler) {
  std::lock_guard<std::mutex> lock(FEventsCS);
  FOnLatencyChanged = std::move(Handler);
}

void TASIOAudioOut::SetOnDriverReset(TGenericEvent Handler) {
  std::lock_guard<std::mutex> lock(FEventsCS);
  FOnDriverReset = std::move(Handler);
}

void TASIOAudioOut::SetOnPositionChanged(TASIOPositionEvent Handler) {
  std::lock_guard<std::mutex> lock(FPositionCS);
  FOnPositionChanged = std::move(Handler);
}

uint32_t TASIOAudioOut::OutputBPS() {
  std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
  OpenDriver();
  return FOutputBPS;
}

uint32_t TASIOAudioOut::MaxOutputChannels() {
  std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
  OpenDriver();
  return FSupportedChannels;
}

uint32_t TASIOAudioOut::Latency() {
  std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
  OpenDriver();
  return FLatency;
}

int32_t TASIOAudioOut::SampleRate() {
  std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
  if (!device) return 44100;
  ASIOSampleRate r = 0;
  device->getSampleRate(&r);
  return static_cast<int32_t>(std::lround(r));
}

void TASIOAudioOut::SetSampleRate(int32_t Value) {
  std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
  if (device) device->setSampleRate(Value);
}

bool TASIOAudioOut::IsSampleRateSupported(int32_t Rate) {
  std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
  OpenDriver();
  const bool ok = device->canSampleRate(Rate) == ASE_OK;
  CloseDriver();
  return ok;
}

void TASIOAudioOut::ShowSetupDlg() {
  std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
  CloseDriver();
  OpenDriver();
  device->controlPanel();
  CloseDriver();
  OpenDriver();
}

void TASIOAudioOut::ReleaseASIODriver() {
  CloseDriver();
}

void TASIOAudioOut::Pause() {
  TAuOutput::Pause();
  std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
  if (device) device->stop();
}

void TASIOAudioOut::Resume() {
  // Only a paused run is started again: starting an idle driver would stream
  // silence until it is closed.
  if (Status() != tosPaused) return;
  {
    std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
    if (device) device->start();
  }
  TAuOutput::Resume();
}

void TASIOAudioOut::Jump(int32_t Offs) {
  Pause();
  TAuInput* in = Input();
  if (dynamic_cast<TAuConverter*>(in) || dynamic_cast<TAuFileIn*>(in)) in->_Jump(Offs);
  Resume();
}

bool TASIOAudioOut::OutputReadySupported() {
  return gOutputReadySupported.load();
}

void TASIOAudioOut::ResetOutputReadySupported() {
  gOutputReadySupported.store(true);
}

// ---------------------------------------------------------------------------
// Opening and closing the driver

void TASIOAudioOut::OpenDriver() {
  std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
  // Already open: the flags keep describing the open driver (clearing them
  // here would make a property read during a run feed a float driver
  // integers).
  if (ASIOStarted) return;
  FFloat = false;
  FPacked32 = false;
  const int32_t number = FDeviceNumber.load();
  if (number < 0 || number >= FDeviceCount) throw EAuException("Invalid ASIO device number");
  std::unique_ptr<IAsioHost> drv;
  if (!CreateAsioDriver(Devices[static_cast<size_t>(number)], FEnvironment, drv) || !drv)
    throw EAuException("Failed to open ASIO device");
  if (drv->init(FASIOForm.load()) == ASIOFalse) {
    drv.reset();
    throw EAuException("Failed to initialize ASIO device");
  }
  device = std::move(drv);
  ++FDriverGeneration;
  // A driver that failed to open further is released at once: a held
  // hardware device would refuse every later open.
  try {
    int32_t ins = 0, outs = 0;
    device->getChannels(&ins, &outs);
    FSupportedChannels = static_cast<uint32_t>(std::max(outs, 0));
    int32_t minSize = 0, maxSize = 0, prefSize = 0, granularity = 0;
    device->getBufferSize(&minSize, &maxSize, &prefSize, &granularity);
    int32_t size = prefSize;
    if (FASIOBufferSize.load() == absMinimum) size = minSize;
    if (FASIOBufferSize.load() == absMaximum) size = maxSize;
    if (FOutputChannels == 0 || FOutputChannels > FSupportedChannels ||
        FOutputChannels > kMaxAsioChannels)
      throw EAuException(
          Fmt("ASIO: %d channels are not available.", static_cast<int>(FOutputChannels)));
    // One block of input, widened to 32 bits, must fit the staging block.
    if (size <= 0 || static_cast<uint64_t>(size) * 4 * FOutputChannels > kPoolBlockSize)
      throw EAuException(Fmt("ASIO: buffer size of %d frames is not usable.", size));
    FBufferSize = static_cast<uint32_t>(size);
    for (uint32_t i = 0; i < 17; ++i)
      BufferInfo[i] = ASIOBufferInfo{};
    for (uint32_t i = 0; i < FOutputChannels; ++i)
      BufferInfo[i] = {ASIOFalse, static_cast<int32_t>(i), {nullptr, nullptr}};
    if (device->createBuffers(BufferInfo, static_cast<int32_t>(FOutputChannels),
                              static_cast<int32_t>(FBufferSize), &Callbacks) != ASE_OK)
      throw EAuException("ASIO: failed to create output buffers.");
    for (uint32_t i = 0; i < FOutputChannels; ++i)
      if (!BufferInfo[i].buffers[0] || !BufferInfo[i].buffers[1])
        throw EAuException("ASIO: failed to create output buffers.");
    ASIOChannelInfo info{};
    info.channel = 0;
    info.isInput = ASIOFalse;
    device->getChannelInfo(&info);
    switch (info.type) {
      case ASIOSTInt16LSB:
        FOutputBPS = 16;
        FSampleBytes = 2;
        break;
      case ASIOSTInt24LSB:
        FOutputBPS = 24;
        FSampleBytes = 3;
        break;
      case ASIOSTInt32LSB:
        FOutputBPS = 32;
        FSampleBytes = 4;
        break;
      case ASIOSTFloat32LSB:
        FOutputBPS = 32;
        FSampleBytes = 4;
        FFloat = true;
        break;
      case ASIOSTInt32LSB16:
        FOutputBPS = 16;
        FSampleBytes = 4;
        FPacked32 = true;
        break;
      case ASIOSTInt32LSB24:
        FOutputBPS = 24;
        FSampleBytes = 4;
        FPacked32 = true;
        break;
      default:
        throw EAuException("ASIO: Unsupported sample format.");
    }
    int32_t inLatency = 0, outLatency = 0;
    device->getLatencies(&inLatency, &outLatency);
    FLatency = static_cast<uint32_t>(std::max(outLatency, 0));
  } catch (...) {
    device.reset();
    ++FDriverGeneration;
    throw;
  }
  ASIOStarted = true;
}

void TASIOAudioOut::CloseDriver() {
  std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
  FCanDeliver.store(false, std::memory_order_release);
  if (ASIOStarted) {
    ASIOStarted = false;
    if (device) device->disposeBuffers();
  }
  if (device) {
    device.reset();
    ++FDriverGeneration;
  }
}

// ---------------------------------------------------------------------------
// Playback thread

void TASIOAudioOut::PrepareOutput() {
  TAuInput* in = Input();
  if (!in) throw EAuException("Input is not assigned");
  in->Init();
  {
    std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
    FOutputChannels = in->Channels();
    OpenDriver();
    device->setSampleRate(in->SampleRate());
    // The buffers are made again for the new rate.
    CloseDriver();
    Chan = FOutputChannels;
    SR = in->SampleRate();
    SetUpDriver();
    BPS = in->BitsPerSample();
    ComputeStageWant();
    LastBlockDelivered.store(false);
    DoReset.store(false);
    // The run's state is reset before the driver starts calling back.
    DevStopped.store(false);
    FLastBlock.store(false);
    _Prefetched.store(false);
    FStageWide = false;
    FStageOffset = 0;
    FDeliverError.store(kNoError);
    FShortfalls.store(0);
  }
  // The first block is read before the start, so that the first switch finds
  // it (the driver's thread never reads the input itself).
  {
    std::lock_guard<std::mutex> lock(ACS);
    FillStage();
  }
  std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
  // The settings dialog may have closed the driver meanwhile.
  if (!ASIOStarted) SetUpDriver();
  StartDriver();
}

// Under FDeviceCS (playback thread): one driver buffer's worth of input, never
// more than the staging block holds (a width the delivery refuses must not
// overrun it either). Kept apart from FBufferSize, which the UI thread may
// change by re-opening the driver while a fill runs.
void TASIOAudioOut::ComputeStageWant() {
  uint32_t want = (BPS / 8) * FBufferSize * FOutputChannels;
  const uint32_t frame = std::max<uint32_t>(1, (BPS / 8) * FOutputChannels);
  if (want > kPoolBlockSize) want = static_cast<uint32_t>(kPoolBlockSize - kPoolBlockSize % frame);
  FStageWant = want;
}

// Under FDeviceCS: opens the driver for the run's rate and clears its halves.
void TASIOAudioOut::SetUpDriver() {
  OpenDriver();
  if (device->canSampleRate(SR) != ASE_OK)
    throw EAuException(
        Fmt("ASIO driver doesn't support sample rate of %d. Use resampler.", static_cast<int>(SR)));
  device->setSampleRate(SR);
  WriteSilence(0);
  WriteSilence(1);
}

// Under FDeviceCS, with the driver open and the rate set.
void TASIOAudioOut::StartDriver() {
  ComputeStageWant();
  FWaitBudgetUs = SR ? static_cast<int64_t>(FBufferSize) * 500000 / SR : 0;
  FCanDeliver.store(true, std::memory_order_release);
  if (device->start() != ASE_OK) {
    FCanDeliver.store(false);
    throw EAuException("Cannot start ASIO driver");
  }
  DevStopped.store(false);
  FRunGeneration = FDriverGeneration;
}

void TASIOAudioOut::RestartDriver(bool Requested) {
  {
    std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
    FCanDeliver.store(false);
    if (device && !DevStopped.load()) device->stop();
    DevStopped.store(true);
    CloseDriver();
    // Given the run's rate and started again, so that playback goes on.
    SetUpDriver();
    StartDriver();
  }
  if (Requested) PostHandler(&TASIOAudioOut::FOnDriverReset);
}

bool TASIOAudioOut::WriteBlock(bool Abort) {
  if (Abort || LastBlockDelivered.load()) {
    if (!DevStopped.load()) {
      std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
      if (device) device->stop();
      DevStopped.store(true);
    }
    return false;
  }
  if (FDeliverError.load() != kNoError) RaiseDeliverError();
  if (!CanOutput) return false;
  const bool reset = DoReset.exchange(false);
  bool reopened = false;
  {
    std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
    reopened = FRunGeneration != FDriverGeneration || !ASIOStarted;
  }
  // The driver asked for a reset, or someone closed it under the run (the
  // settings dialog releases it): open, set up and start it again.
  if (reset || reopened) RestartDriver(reset);
  const int32_t p = PollSleepMs.load();
  // After the last block the thread polls (instead of spinning) until the
  // driver has taken it.
  if (FLastBlock.load()) {
    PollSleep(p);
    return true;
  }
  if (_Prefetched.load(std::memory_order_acquire)) {
    PollSleep(p);
    return true;
  }
  PollSleep(p);
  {
    std::lock_guard<std::mutex> lock(ACS);
    // An event-thread delivery may have filled the block meanwhile.
    if (!_Prefetched.load()) FillStage();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return true;
}

void TASIOAudioOut::FinishOutput() {
  LastBlockDelivered.store(true);
  {
    std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
    if (!DevStopped.load()) {
      if (device) device->stop();
      DevStopped.store(true);
    }
    CloseDriver();
  }
  DoReset.store(false);
  if (TAuInput* in = Input()) in->Flush();
}

// Under ACS: reads one driver buffer's worth of input into the staging block.
void TASIOAudioOut::FillStage() {
  bool eof = false;
  int32_t got = 0;
  if (TAuInput* in = Input())
    got = in->FillBufferUnprotected(PoolAsioBlock, FStageWant, eof);
  else
    eof = true;
  L = static_cast<uint32_t>(std::max(got, 0));
  if (eof) FLastBlock.store(true);
  FStageWide = false;
  FStageOffset = 0;
  _Prefetched.store(true, std::memory_order_release);
}

[[noreturn]] void TASIOAudioOut::RaiseDeliverError() {
  if (FDeliverError.load() == kBitDepthError)
    throw EAuException(
        Fmt("TASIOAudioOut cannot play %d bps stream in this set up (actual output bps is %d). "
            "Use BPS converter.",
            static_cast<int>(FErrBPS.load()), static_cast<int>(FErrOutBPS.load())));
  std::exception_ptr e;
  {
    std::lock_guard<std::mutex> lock(FErrorCS);
    e = FDeliverException;
  }
  if (e) std::rethrow_exception(e);
  throw EAuException("Unknown error");
}

void TASIOAudioOut::PostHandler(TGenericEvent TASIOAudioOut::*Which) noexcept {
  try {
    TGenericEvent h;
    {
      std::lock_guard<std::mutex> lock(FEventsCS);
      h = this->*Which;
    }
    if (!h) return;
    if (TEventHandler* eh = EventHandler()) eh->PostGenericEvent(this, std::move(h));
  } catch (...) {
    // Out of memory for the event record: the notification is lost, the run
    // goes on.
  }
}

// ---------------------------------------------------------------------------
// The buffer-switch work

// Waits for the read-ahead (direct processing on the driver's thread): takes
// ACS only by try-lock and only once a block is staged. Gives up after the
// wait budget, or at once when nothing more will come.
bool TASIOAudioOut::WaitForStaged(std::unique_lock<std::mutex>& Lock) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(FWaitBudgetUs);
  for (;;) {
    if (_Prefetched.load(std::memory_order_acquire) && Lock.try_lock()) {
      if (_Prefetched.load(std::memory_order_relaxed)) return true;
      Lock.unlock();
    }
    if (LastBlockDelivered.load() || FDeliverError.load() != kNoError) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
}

// Under ACS: widens the staged block to the driver's 32 bits in place.
bool TASIOAudioOut::WidenStage() {
  if (FStageWide) return true;
  if (BPS == 32 && FOutputBPS == 32) {
  } else if (BPS == 16 && FOutputBPS == 32) {
    Convert16To32(PoolAsioBlock, L);
    L *= 2;
  } else if (BPS == 24 && FOutputBPS == 32) {
    Convert24To32(PoolAsioBlock, L);
    L = L / 3 * 4;
  } else {
    FErrBPS.store(BPS);
    FErrOutBPS.store(FOutputBPS);
    FDeliverError.store(kBitDepthError);
    return false;
  }
  FStageWide = true;
  FStageFrames = L / 4 / FOutputChannels;
  FStageOffset = 0;
  return true;
}

void TASIOAudioOut::WriteSilence(int32_t Half) {
  ZeroTail(Half, 0);
}

void TASIOAudioOut::ZeroTail(int32_t Half, uint32_t FromFrame) {
  if (FromFrame >= FBufferSize) return;
  const size_t offset = static_cast<size_t>(FromFrame) * FSampleBytes;
  const size_t bytes = static_cast<size_t>(FBufferSize - FromFrame) * FSampleBytes;
  for (uint32_t c = 0; c < FOutputChannels && c < kMaxAsioChannels; ++c) {
    auto* p = static_cast<uint8_t*>(BufferInfo[c].buffers[Half & 1]);
    if (p) std::memset(p + offset, 0, bytes);
  }
}

void TASIOAudioOut::DeliverBlock(bool Direct) noexcept {
  // The event-thread delivery may meet a driver being closed: it holds the
  // driver lock. The direct one runs between the driver's start and stop, so
  // the driver and its buffers stay put while it runs.
  std::unique_lock<std::recursive_mutex> devLock(FDeviceCS, std::defer_lock);
  if (!Direct) devLock.lock();
  if (!FCanDeliver.load(std::memory_order_acquire)) return;
  IAsioHost* dev = device.get();
  if (!dev) return;
  const int32_t half = BufferIndex.load() & 1;
  if (FDeliverError.load() != kNoError) {
    WriteSilence(half);
    return;
  }

  std::unique_lock<std::mutex> lock(ACS, std::defer_lock);
  if (Direct) {
    if (!WaitForStaged(lock)) {
      WriteSilence(half);
      if (!LastBlockDelivered.load() && FDeliverError.load() == kNoError) FShortfalls.fetch_add(1);
      return;
    }
  } else {
    lock.lock();
    if (!_Prefetched.load()) {
      try {
        FillStage();
      } catch (...) {
        {
          std::lock_guard<std::mutex> elock(FErrorCS);
          FDeliverException = std::current_exception();
        }
        FDeliverError.store(kExceptionError);
        lock.unlock();
        WriteSilence(half);
        return;
      }
    }
  }

  if (!WidenStage()) {
    // The block cannot be played: dropped, and the run ends at the next
    // WriteBlock with the error.
    _Prefetched.store(false, std::memory_order_release);
    lock.unlock();
    WriteSilence(half);
    return;
  }
  // A block made for a larger buffer (before a reset) is delivered in parts.
  const uint32_t frames = std::min(FStageFrames - FStageOffset, FBufferSize);
  void* dst[kMaxAsioChannels];
  for (uint32_t c = 0; c < FOutputChannels; ++c)
    dst[c] = static_cast<uint8_t*>(BufferInfo[c].buffers[half]);
  const int32_t* src = reinterpret_cast<const int32_t*>(PoolAsioBlock) +
                       static_cast<size_t>(FStageOffset) * FOutputChannels;
  if (FFloat)
    DeinterleaveToAsioFloat(src, dst, FOutputChannels, frames);
  else
    DeinterleaveToAsio32(src, dst, FOutputChannels, frames);
  // A short (last) block leaves silence behind it, not the half's old content.
  ZeroTail(half, frames);
  FStageOffset += frames;
  bool last = false;
  if (FStageOffset >= FStageFrames) {
    // The end flag belongs to this block: read it before the playback thread
    // may stage the next one.
    last = FLastBlock.load();
    FStageWide = false;
    _Prefetched.store(false, std::memory_order_release);
  }
  lock.unlock();

  {
    std::unique_lock<std::mutex> plock(FPositionCS, std::try_to_lock);
    if (plock.owns_lock() && FOnPositionChanged) {
      ASIOSamples pos{};
      ASIOTimeStamp stamp{};
      dev->getSamplePosition(&pos, &stamp);
      const int64_t p = static_cast<int64_t>((static_cast<uint64_t>(pos.hi) << 32) | pos.lo);
      const int64_t t = static_cast<int64_t>((static_cast<uint64_t>(stamp.hi) << 32) | stamp.lo);
      try {
        FOnPositionChanged(this, p, t);
      } catch (...) {
        // The handler's failure must not unwind into the driver.
      }
    }
  }
  if (gOutputReadySupported.load()) {
    if (dev->outputReady() != ASE_OK) gOutputReadySupported.store(false);
  }
  LastBlockDelivered.store(last);
}

// ---------------------------------------------------------------------------
// Callbacks

void TASIOAudioOut::CbBufferSwitch(int32_t Index, ASIOBool DirectProcess) noexcept {
  BufferIndex.store(Index);
  TASIOAudioOut* out = ASIOOutInstance.load();
  if (!out) return;
  if (DirectProcess == ASIOTrue) {
    out->DeliverBlock(true);
  } else if (DirectProcess == ASIOFalse) {
    try {
      if (TEventHandler* eh = EventHandler())
        eh->PostNonGuiEvent(out, [out](TComponent*) { out->DeliverBlock(false); });
    } catch (...) {
      // Not posted (out of memory): this half keeps what it had.
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

ASIOTime* TASIOAudioOut::CbBufferSwitchTimeInfo(ASIOTime* Params, int32_t Index,
                                                ASIOBool DirectProcess) noexcept {
  if (Params) Params->timeInfo.flags = kSystemTimeValid | kSamplePositionValid;
  CbBufferSwitch(Index, DirectProcess);
  return nullptr;
}

int32_t TASIOAudioOut::CbAsioMessage(int32_t Selector, int32_t Value, void* Message,
                                     double* Opt) noexcept {
  TASIOAudioOut* out = ASIOOutInstance.load();
  switch (Selector) {
    case kAsioSelectorSupported:
      switch (Value) {
        case kAsioEngineVersion:
        case kAsioResetRequest:
        case kAsioResyncRequest:
        case kAsioLatenciesChanged:
        case kAsioSupportsTimeInfo:
        case kAsioSupportsTimeCode:
          return 1;
        default:
          return 0;
      }
    case kAsioEngineVersion:
      return 2;
    case kAsioResetRequest:
    case kAsioBufferSizeChange:
      if (out) out->DoReset.store(true);
      return 1;
    case kAsioResyncRequest:
      return 0;
    case kAsioLatenciesChanged:
      if (out) out->PostHandler(&TASIOAudioOut::FOnLatencyChanged);
      return 1;
    case kAsioSupportsTimeInfo:
      return 1;
    case kAsioSupportsTimeCode:
      return 0;
    default:
      return 0;
  }
}

void TASIOAudioOut::CbSampleRateDidChange(ASIOSampleRate Rate) noexcept {
  TASIOAudioOut* out = ASIOOutInstance.load();
  if (!out) return;
  try {
    out->Stop(true);
  } catch (...) {
    // An asynchronous stop only sets flags; nothing to report here.
  }
  out->FNewSampleRate.store(static_cast<int32_t>(std::lround(Rate)));
  out->PostHandler(&TASIOAudioOut::FOnSampleRateChanged);
}

// ---------------------------------------------------------------------------
// De-interleavers

void TASIOAudioOut::DeinterleaveToAsio32(const int32_t* Src, void* const* Dst, uint32_t Chans,
                                         uint32_t Frames) {
  if (Frames == 0 || Chans == 0) return;
  int32_t* d[kMaxAsioChannels];
  const uint32_t ch = TypedBuffers(Dst, Chans, d);
  PcmDeinterleave32(Src, Chans, d, ch, Frames);
}

void TASIOAudioOut::DeinterleaveToAsio16(const int16_t* Src, void* const* Dst, uint32_t Chans,
                                         uint32_t Frames) {
  if (Frames == 0 || Chans == 0) return;
  int16_t* d[kMaxAsioChannels];
  const uint32_t ch = TypedBuffers(Dst, Chans, d);
  PcmDeinterleave16(Src, Chans, d, ch, Frames);
}

void TASIOAudioOut::DeinterleaveToAsioFloat(const int32_t* Src, void* const* Dst, uint32_t Chans,
                                            uint32_t Frames) {
  if (Frames == 0 || Chans == 0) return;
  float* d[kMaxAsioChannels];
  const uint32_t ch = TypedBuffers(Dst, Chans, d);
  PcmDeinterleaveToFloat(Src, Chans, d, ch, Frames);
}

}  // namespace lirvo
