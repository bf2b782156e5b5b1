#include "audio/outputs/AuASIO.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <thread>

#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

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

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) &&
                  std::atomic<uint32_t>::is_always_lock_free,
              "a futex word must be a plain lock-free 32-bit atomic");

// Sleeps while Word still holds Seen, at most TimeoutNs (< 0: no bound). A
// timed wait, which std::atomic::wait lacks; the waking side stays lock-free.
void FutexWait(std::atomic<uint32_t>& Word, uint32_t Seen, int64_t TimeoutNs) {
  timespec ts{};
  timespec* tsp = nullptr;
  if (TimeoutNs >= 0) {
    ts.tv_sec = static_cast<time_t>(TimeoutNs / 1000000000);
    ts.tv_nsec = static_cast<long>(TimeoutNs % 1000000000);
    tsp = &ts;
  }
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&Word), FUTEX_WAIT_PRIVATE, Seen, tsp, nullptr, 0);
}

// Bumps Word and wakes its waiter, with a system call only when one waits
// (Waits is set before the waiter looks at Word, both sequentially consistent).
void BumpAndWake(std::atomic<uint32_t>& Word, const std::atomic<bool>& Waits) noexcept {
  Word.fetch_add(1);
  if (Waits.load())
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&Word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr,
            nullptr, 0);
}

// The ring's length in frames for Period-frame periods at Rate.
uint32_t RingFrames(uint32_t Period, uint32_t Rate) {
  const uint64_t wanted = std::max<uint64_t>(4ull * Period, uint64_t{Rate} * 80 / 1000);
  return static_cast<uint32_t>((wanted + Period - 1) / Period * Period);
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
  FRing.reset();
  ReleaseRing();
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
  FHavePositionHandler.store(static_cast<bool>(Handler));
  FOnPositionChanged = std::move(Handler);
}

// A query opens the driver only for itself: closed again unless it was open
// already (a run's driver stays).
uint32_t TASIOAudioOut::OutputBPS() {
  std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
  const bool wasOpen = ASIOStarted;
  OpenDriver();
  const uint32_t v = FOutputBPS;
  if (!wasOpen) CloseDriver();
  return v;
}

uint32_t TASIOAudioOut::MaxOutputChannels() {
  std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
  const bool wasOpen = ASIOStarted;
  OpenDriver();
  const uint32_t v = FSupportedChannels;
  if (!wasOpen) CloseDriver();
  return v;
}

uint32_t TASIOAudioOut::Latency() {
  std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
  const bool wasOpen = ASIOStarted;
  OpenDriver();
  const uint32_t v = FLatency;
  if (!wasOpen) CloseDriver();
  return v;
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
  const bool wasOpen = ASIOStarted;
  OpenDriver();
  const bool ok = device->canSampleRate(Rate) == ASE_OK;
  if (!wasOpen) CloseDriver();
  return ok;
}

void TASIOAudioOut::ShowSetupDlg() {
  std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
  const bool wasOpen = ASIOStarted;
  CloseDriver();
  OpenDriver();
  device->controlPanel();
  CloseDriver();
  // A run gets its driver back at once; otherwise the device stays free.
  if (wasOpen) OpenDriver();
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
  MoveInput([Offs](TAuInput* In) { In->_Jump(Offs); });
}

void TASIOAudioOut::SeekTo(int64_t Frame) {
  MoveInput([Frame](TAuInput* In) { In->_SeekTo(Frame); });
}

void TASIOAudioOut::MoveInput(const std::function<void(TAuInput*)>& Move) {
  // A paused run stays paused: the new place is heard when it resumes.
  const bool paused = Status() == tosPaused;
  if (!paused) Pause();
  TAuInput* in = Input();
  if (dynamic_cast<TAuConverter*>(in) || dynamic_cast<TAuFileIn*>(in)) {
    Move(in);
    // The periods the ring holds are from before the jump: they are dropped,
    // not played. The driver is stopped and the playback thread parked, and
    // the discard is safe against both sides anyway; the ring is replaced
    // only under FDeviceCS.
    std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
    if (FRing) FRing->Reset2();
  }
  if (!paused) Resume();
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
  // A run waiting for this driver's next period must see it gone.
  WakePlayback();
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
    LastBlockDelivered.store(false);
    DoReset.store(false);
    DevStopped.store(false);
    FShortfalls.store(0);
    FDeviceXruns.store(0);
    FPositionTail.store(FPositionHead.load());
    CheckWidening();
    AllocateRing(true);
  }
  // The ring is filled before the start, so that the first switches find
  // their periods (the driver's thread never reads the input itself).
  FillRing();
  std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
  // The settings dialog may have closed the driver meanwhile.
  if (!ASIOStarted) SetUpDriver();
  StartDriver();
}

// Only 32-bit drivers take blocks; 16 and 24 bits are widened on the way.
void TASIOAudioOut::CheckWidening() const {
  if (FOutputBPS == 32 && (BPS == 16 || BPS == 24 || BPS == 32)) return;
  throw EAuException(
      Fmt("TASIOAudioOut cannot play %d bps stream in this set up (actual output bps is %d). "
          "Use BPS converter.",
          static_cast<int>(BPS), static_cast<int>(FOutputBPS)));
}

// Under FDeviceCS, driver stopped: a ring for the current period size. A new
// stream (Fresh) starts empty, on the old storage when it has the right size.
// A restart keeps what the ring holds, unless the period grew beyond a
// quarter of it.
void TASIOAudioOut::AllocateRing(bool Fresh) {
  const uint32_t frameBytes = 4 * FOutputChannels;
  const uint64_t bytes = uint64_t{RingFrames(FBufferSize, SR)} * frameBytes;
  const bool usable = FRing && FFrameBytes == frameBytes;
  if (!Fresh && usable && FRing->Capacity() >= uint64_t{4} * FBufferSize * frameBytes) return;
  if (Fresh) {
    FInputEnded = false;
    FFramesWritten = 0;
    FEndPos.store(-1);
  }
  if (Fresh && usable && FRing->Capacity() == bytes) {
    FRing->Reset();
    return;
  }
  // Nothing buffered survives a new ring.
  FRing.reset();
  ReleaseRing();
  FFrameBytes = frameBytes;
  FRingStorage.assign(static_cast<size_t>(bytes), 0);
  // Locked like the pool's blocks, so that the driver's thread never faults a
  // page in; a refusal (RLIMIT_MEMLOCK) leaves it pageable.
  FRingLocked = mlock(FRingStorage.data(), FRingStorage.size()) == 0;
  FRing = std::make_unique<TCircularBuffer>(FRingStorage.data(),
                                            static_cast<uint32_t>(FRingStorage.size()));
  if (!Fresh && FInputEnded) {
    // The end lay in the dropped ring: the run ends at the next switch.
    FEndPos.store(0);
  }
}

void TASIOAudioOut::ReleaseRing() noexcept {
  if (FRingLocked && !FRingStorage.empty()) munlock(FRingStorage.data(), FRingStorage.size());
  FRingLocked = false;
  FRingStorage.clear();
  FRingStorage.shrink_to_fit();
}

// Playback thread: reads the input a period at a time (the last read of a
// period stops at its boundary), widens it to 32 bits in the staging block
// and copies it into the ring. The last period is padded with silence.
bool TASIOAudioOut::FillRing() {
  TAuInput* in = Input();
  bool gotSome = false;
  while (!FInputEnded && FRing) {
    const uint32_t frames = FBufferSize - static_cast<uint32_t>(FFramesWritten % FBufferSize);
    if (FRing->FreeSpace() < frames * FFrameBytes) return true;
    const uint32_t inFrameBytes = BPS / 8 * FOutputChannels;
    bool eof = false;
    int32_t got = 0;
    if (in)
      got = in->FillBufferUnprotected(PoolAsioBlock, frames * inFrameBytes, eof);
    else
      eof = true;
    uint32_t bytes = static_cast<uint32_t>(std::max(got, 0));
    bytes -= bytes % inFrameBytes;
    if (BPS == 16) {
      Convert16To32(PoolAsioBlock, bytes);
      bytes *= 2;
    } else if (BPS == 24) {
      Convert24To32(PoolAsioBlock, bytes);
      bytes = bytes / 3 * 4;
    }
    uint32_t outFrames = bytes / FFrameBytes;
    if (eof) {
      const uint32_t pad =
          (FBufferSize - static_cast<uint32_t>((FFramesWritten + outFrames) % FBufferSize)) %
          FBufferSize;
      std::memset(PoolAsioBlock + bytes, 0, static_cast<size_t>(pad) * FFrameBytes);
      outFrames += pad;
      bytes = outFrames * FFrameBytes;
    }
    // At most two pieces: up to the end of the storage, then from its start.
    const uint8_t* src = PoolAsioBlock;
    for (uint32_t left = bytes; left > 0;) {
      uint8_t* dst = nullptr;
      uint32_t room = 0;
      FRing->ExposeSingleBufferWrite(dst, room);
      const uint32_t n = std::min(room, left);
      if (n == 0) break;  // cannot happen: the space was checked
      std::memcpy(dst, src, n);
      FRing->AddBytesWritten(n);
      src += n;
      left -= n;
    }
    FFramesWritten += outFrames;
    if (eof) {
      FInputEnded = true;
      FEndPos.store(FRing->WritePosition(), std::memory_order_release);
    }
    BumpAndWake(FWritten, FDeliveryWaits);
    // An input that gave nothing without ending is asked again next time.
    if (got <= 0 && !eof) return gotSome;
    gotSome = true;
  }
  return true;
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
    // A new period size may need a larger ring.
    AllocateRing(false);
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
    DrainPositions();
    return false;
  }
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
  DrainPositions();
  // Loaded before the ring is looked at: a period taken after this load
  // ends the wait at once.
  const uint32_t seen = FPeriods.load();
  const bool gotSome = FillRing();
  if (LastBlockDelivered.load()) return true;
  // The input gave less than there is room for, without ending: ask it again
  // at once. One that gave nothing is asked again after the next period (the
  // ring still plays), so that it is not polled in a tight loop.
  if (gotSome && !FInputEnded && FRing && FRing->FreeSpace() >= FBufferSize * FFrameBytes)
    return true;
  WaitForPeriod(seen);
  return true;
}

// The playback thread sleeps until the driver takes a period (or a stop, a
// reset or a closed driver wakes it). The bound only guards against a driver
// that stops calling without a word: PollSleepMs, but never less than two
// periods (a shorter one would only wake to find the ring still full), and
// 1 s with PollSleepMs 0 (the notification alone).
void TASIOAudioOut::WaitForPeriod(uint32_t Seen) {
  const int32_t p = PollSleepMs.load();
  const int64_t periodNs = SR ? static_cast<int64_t>(FBufferSize) * 1000000000 / SR : 0;
  const int64_t timeout =
      p > 0 ? std::max<int64_t>(int64_t{p} * 1000000, 2 * periodNs) : int64_t{1000000000};
  FPlaybackWaits.store(true);
  if (FPeriods.load() == Seen && !LastBlockDelivered.load() && !DoReset.load() && CanOutput.load())
    FutexWait(FPeriods, Seen, timeout);
  FPlaybackWaits.store(false);
}

void TASIOAudioOut::WakePlayback() noexcept {
  BumpAndWake(FPeriods, FPlaybackWaits);
  BumpAndWake(FWritten, FDeliveryWaits);
}

void TASIOAudioOut::WakeForStop() noexcept {
  WakePlayback();
}

// Playback thread: hands the positions the delivery recorded to the handler.
void TASIOAudioOut::DrainPositions() {
  uint32_t tail = FPositionTail.load(std::memory_order_relaxed);
  const uint32_t head = FPositionHead.load(std::memory_order_acquire);
  if (tail == head) return;
  std::lock_guard<std::mutex> lock(FPositionCS);
  for (; tail != head; ++tail) {
    const TPositionRecord r = FPositions[tail % kPositionSlots];
    if (FOnPositionChanged) {
      try {
        FOnPositionChanged(this, r.Position, r.Stamp);
      } catch (...) {
        // The handler's failure does not end the run.
      }
    }
  }
  FPositionTail.store(tail, std::memory_order_release);
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
  DrainPositions();
  DoReset.store(false);
  if (TAuInput* in = Input()) in->Flush();
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

// The driver's position for the half just delivered: from the switch's time
// info when the driver filled it in, else from getSamplePosition (which the
// driver interface makes safe on the callback thread: atomics). A full queue
// drops the record.
void TASIOAudioOut::RecordPosition(IAsioHost* Dev, ASIOTime* Params) noexcept {
  if (!FHavePositionHandler.load(std::memory_order_relaxed)) return;
  const uint32_t head = FPositionHead.load(std::memory_order_relaxed);
  if (head - FPositionTail.load(std::memory_order_acquire) >= kPositionSlots) return;
  ASIOSamples pos{};
  ASIOTimeStamp stamp{};
  if (Params && (Params->timeInfo.flags & kSamplePositionValid) &&
      (Params->timeInfo.flags & kSystemTimeValid)) {
    pos = Params->timeInfo.samplePosition;
    stamp = Params->timeInfo.systemTime;
  } else {
    Dev->getSamplePosition(&pos, &stamp);
  }
  FPositions[head % kPositionSlots] = {
      static_cast<int64_t>((static_cast<uint64_t>(pos.hi) << 32) | pos.lo),
      static_cast<int64_t>((static_cast<uint64_t>(stamp.hi) << 32) | stamp.lo)};
  FPositionHead.store(head + 1, std::memory_order_release);
}

void TASIOAudioOut::DeliverBlock(bool Direct, ASIOTime* Params) noexcept {
  // The event-thread delivery waits (bounded, without any lock) for the
  // playback thread to fill the ring, and then holds the driver lock: it may
  // meet a driver being closed. The direct one runs between the driver's
  // start and stop, so the driver and its buffers stay put while it runs.
  if (!Direct) {
    // Four periods, and some slack for a busy machine.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    bool first = true;
    for (;;) {
      const uint32_t seen = FWritten.load();
      FDeliveryWaits.store(true);
      {
        // Looked at under the driver lock: a restart may replace the ring.
        std::lock_guard<std::recursive_mutex> lock(FDeviceCS);
        if (first && SR)
          deadline += std::chrono::nanoseconds(int64_t{4} * FBufferSize * 1000000000 / SR);
        first = false;
        if (!FCanDeliver.load() || !FRing || LastBlockDelivered.load() || FEndPos.load() >= 0 ||
            FRing->WritePosition() - FRing->ReadPosition() >=
                static_cast<int64_t>(FBufferSize) * FFrameBytes)
          break;
      }
      if (std::chrono::steady_clock::now() >= deadline) break;
      FutexWait(FWritten, seen, 20000000);
    }
    FDeliveryWaits.store(false);
  }
  std::unique_lock<std::recursive_mutex> devLock(FDeviceCS, std::defer_lock);
  if (!Direct) devLock.lock();
  if (!FCanDeliver.load(std::memory_order_acquire)) return;
  IAsioHost* dev = device.get();
  TCircularBuffer* ring = FRing.get();
  if (!dev || !ring) return;
  const int32_t half = BufferIndex.load() & 1;
  if (LastBlockDelivered.load()) {
    WriteSilence(half);
    return;
  }
  const int64_t r = ring->ReadPosition();
  const int64_t have = ring->WritePosition() - r;
  const int64_t end = FEndPos.load(std::memory_order_acquire);
  if (end >= 0 && r >= end) {
    // The previous switch delivered the last period, which the driver has
    // now played: the run is over.
    WriteSilence(half);
    LastBlockDelivered.store(true);
    BumpAndWake(FPeriods, FPlaybackWaits);
    return;
  }
  uint32_t frames = FBufferSize;
  if (have < static_cast<int64_t>(frames) * FFrameBytes) {
    if (end >= 0 && r + have >= end) {
      // What is left of a stream padded for a longer period (before a reset).
      frames = static_cast<uint32_t>(have / FFrameBytes);
    } else {
      // The ring ran dry: silence now, the stream goes on unbroken later.
      WriteSilence(half);
      FShortfalls.fetch_add(1, std::memory_order_relaxed);
      BumpAndWake(FPeriods, FPlaybackWaits);
      return;
    }
  }
  // One period, in at most two pieces (the ring's end).
  uint32_t done = 0;
  while (done < frames) {
    uint8_t* src = nullptr;
    uint32_t bytes = 0;
    ring->ExposeSingleBufferRead(src, bytes);
    const uint32_t n = std::min(bytes / FFrameBytes, frames - done);
    if (n == 0) {
      ring->AddBytesRead(0);
      break;
    }
    void* dst[kMaxAsioChannels];
    for (uint32_t c = 0; c < FOutputChannels; ++c)
      dst[c] = static_cast<uint8_t*>(BufferInfo[c].buffers[half]) +
               static_cast<size_t>(done) * FSampleBytes;
    const auto* samples = reinterpret_cast<const int32_t*>(src);
    if (FFloat)
      DeinterleaveToAsioFloat(samples, dst, FOutputChannels, n);
    else
      DeinterleaveToAsio32(samples, dst, FOutputChannels, n);
    ring->AddBytesRead(n * FFrameBytes);
    done += n;
  }
  // A short (last) block leaves silence behind it, not the half's old content.
  ZeroTail(half, done);
  RecordPosition(dev, Params);
  if (gOutputReadySupported.load(std::memory_order_relaxed)) {
    if (dev->outputReady() != ASE_OK) gOutputReadySupported.store(false);
  }
  BumpAndWake(FPeriods, FPlaybackWaits);
}

// ---------------------------------------------------------------------------
// Callbacks

void TASIOAudioOut::CbBufferSwitch(int32_t Index, ASIOBool DirectProcess) noexcept {
  Switch(Index, DirectProcess, nullptr);
}

void TASIOAudioOut::Switch(int32_t Index, ASIOBool DirectProcess, ASIOTime* Params) noexcept {
  BufferIndex.store(Index);
  TASIOAudioOut* out = ASIOOutInstance.load();
  if (!out) return;
  if (DirectProcess == ASIOTrue) {
    out->DeliverBlock(true, Params);
  } else if (DirectProcess == ASIOFalse) {
    try {
      if (TEventHandler* eh = EventHandler())
        eh->PostNonGuiEvent(out, [out](TComponent*) { out->DeliverBlock(false, nullptr); });
    } catch (...) {
      // Not posted (out of memory): this half keeps what it had.
    }
  }
}

ASIOTime* TASIOAudioOut::CbBufferSwitchTimeInfo(ASIOTime* Params, int32_t Index,
                                                ASIOBool DirectProcess) noexcept {
  Switch(Index, DirectProcess, Params);
  if (Params) Params->timeInfo.flags = kSystemTimeValid | kSamplePositionValid;
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
        case kAsioOverload:
          return 1;
        default:
          return 0;
      }
    case kAsioEngineVersion:
      return 2;
    case kAsioResetRequest:
    case kAsioBufferSizeChange:
      if (out) {
        out->DoReset.store(true);
        out->WakePlayback();
      }
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
    case kAsioOverload:
      // May come from the driver's real-time thread: an atomic only.
      if (out) out->FDeviceXruns.fetch_add(1, std::memory_order_relaxed);
      return 1;
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
