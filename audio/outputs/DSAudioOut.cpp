#include "audio/outputs/DSAudioOut.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "audio/core/EventHandler.h"
#include "audio/core/Pool.h"

namespace lirvo {

namespace {

constexpr uint32_t kDrainStepMs = 50;
constexpr uint32_t kCalibrationStepMs = 10;
constexpr uint32_t kMinStartLatencyMs = 10;

std::string BufferErrorText(int32_t Result) {
  char hex[16];
  std::snprintf(hex, sizeof(hex), "%08X", static_cast<uint32_t>(Result));
  return std::string("Failed to create DirectSound buffer") + hex;
}

}  // namespace

TDSAudioOut::TDSAudioOut(TComponent* AOwner) : TAuOutput(AOwner) {
  EnumerateDsDevices(Devices);
  Create();
}

TDSAudioOut::TDSAudioOut(TComponent* AOwner, const std::vector<TDsDeviceEntry>& DeviceList)
    : TAuOutput(AOwner) {
  EnumerateDsDevices(Devices, DeviceList);
  Create();
}

void TDSAudioOut::Create() {
  FSpeedFactor = 1.0f;
  FLatency = 100;
  FVolume = 0;
  FDeviceCount = Devices.devcount;
  SetThreadPriority(tpHighest);
  Freed = true;
}

TDSAudioOut::~TDSAudioOut() {
  EndThread();
  TLatencyStore entry;
  if (FOnStoreLatency && LatencyStore(entry)) {
    try {
      FOnStoreLatency(entry);
    } catch (...) {
      // Keeping the latency is a convenience: a settings file that cannot be
      // written must not stop the output from going away.
    }
  }
  ReleaseDs(DS);
}

std::string TDSAudioOut::GetDeviceName(int32_t Number) const {
  if (Number < 0 || Number >= FDeviceCount) return {};
  return Devices.dinfo[Number].Description;
}

TGenericEvent TDSAudioOut::OnUnderrun() const {
  std::lock_guard<std::mutex> lock(FHandlerCS);
  return FOnUnderrun;
}

void TDSAudioOut::SetOnUnderrun(TGenericEvent Handler) {
  std::lock_guard<std::mutex> lock(FHandlerCS);
  FOnUnderrun = std::move(Handler);
}

bool TDSAudioOut::LatencyStore(TLatencyStore& Out) const {
  if (FINIFile.empty() || !FCalibrate) return false;
  Out.IniFile = FINIFile;
  Out.Section = kLatencyIniSection;
  Out.Key = kLatencyIniKey;
  Out.Value = static_cast<int32_t>(FLatency.load());
  return true;
}

uint32_t TDSAudioOut::MaxLatency(uint32_t Channels, uint32_t Rate, uint32_t Bits) {
  const uint64_t frameBytes = static_cast<uint64_t>(Bits / 8) * Channels;
  if (frameBytes == 0 || Rate == 0) return UINT32_MAX;
  // Half the ring is (Latency * Rate) div 2000 frames.
  const uint64_t halfFrames = kPoolBlockSize / frameBytes;
  if (halfFrames == 0) return 0;
  const uint64_t ms = ((halfFrames + 1) * 2000 - 1) / Rate;
  // The ring's frame count is computed in 32 bits.
  const uint64_t wrapSafe = UINT32_MAX / Rate;
  return static_cast<uint32_t>(std::min<uint64_t>({ms, wrapSafe, UINT32_MAX}));
}

void TDSAudioOut::ComputeSizes() {
  const uint32_t product = FLatency.load() * SR;  // unsigned 32-bit, as the ring size is defined
  FFramesInBuffer = 2 * (product / 2000);
  _BufSize = static_cast<int32_t>((BPS / 8) * FFramesInBuffer * Chan);
}

template <typename F>
bool TDSAudioOut::ControlDs(F&& Fn) {
  FControlling = true;
  // Paused is published by the playback thread after its last use of DS;
  // once FControlling is set a thread leaving the pause waits for us.
  const bool parked = Status() == tosPaused;
  if (parked) Fn();
  FControlling = false;
  FControlling.notify_all();
  return parked;
}

void TDSAudioOut::WaitWhileControlled() const {
  // Woken by the control call's end.
  while (FControlling.load())
    FControlling.wait(true);
}

// ---------------------------------------------------------------------------
// Control calls (UI thread; the calibration on the event thread)

void TDSAudioOut::Pause() {
  std::lock_guard<std::mutex> lock(FControlCS);
  PauseLocked();
}

void TDSAudioOut::PauseLocked() {
  TAuOutput::Pause();
  if (EndOfInput) return;
  ControlDs([this] { StopDsPlayback(DS); });
}

void TDSAudioOut::Resume() {
  std::lock_guard<std::mutex> lock(FControlCS);
  ResumeLocked();
}

void TDSAudioOut::ResumeLocked() {
  if (EndOfInput) return;
  StartInput = true;
  // Continued before the thread wakes: from then on DS is the thread's own.
  ControlDs([this] { ContinueDsPlayback(DS); });
  TAuOutput::Resume();
}

void TDSAudioOut::Jump(int32_t Offs) {
  std::lock_guard<std::mutex> lock(FControlCS);
  TAuInput* in = Input();
  if (!in || Status() != tosPlaying) return;
  PauseLocked();
  ControlDs([this] { FillDsBuffer(DS, FillByte); });
  FDiscardPending = true;
  in->_Jump(Offs);
  ResumeLocked();
  StartInput = true;
}

void TDSAudioOut::SeekTo(int64_t Frame) {
  std::lock_guard<std::mutex> lock(FControlCS);
  TAuInput* in = Input();
  const TOutputStatus status = Status();
  if (!in || status == tosIdle) return;
  const bool playing = status == tosPlaying;
  if (playing) PauseLocked();
  ControlDs([this] { FillDsBuffer(DS, FillByte); });
  FDiscardPending = true;
  in->_SeekTo(Frame);
  if (playing) ResumeLocked();
  StartInput = true;
}

void TDSAudioOut::SetVolume(int32_t Value) {
  FVolume = Value;
  // Stored in the record's atomic, so safe from any thread; the ring applies
  // it to the next data it takes.
  SetDsVolume(DS, Value);
}

void TDSAudioOut::SetLatency(uint32_t Value) {
  std::lock_guard<std::mutex> lock(FControlCS);
  SetLatencyLocked(Value);
}

void TDSAudioOut::SetLatencyLocked(uint32_t Value) {
  if (Freed) {
    FLatency = Value;
    return;
  }
  PauseLocked();
  FLatency = std::min(Value, FMaxLatency.load());
  std::string failure;
  const bool parked = ControlDs([&] {
    ReleaseDsBuffers(DS);
    ComputeSizes();
    const TDsWaveFormat format = BuildDsWaveFormat(Chan, SR, BPS);
    try {
      int32_t r = CreateDsBuffers(DS, format, static_cast<uint32_t>(_BufSize));
      if (r != kDsOk) failure = BufferErrorText(r);
    } catch (const std::exception& e) {
      failure = e.what();
    }
    if (!failure.empty()) {
      // The run cannot go on without a ring: the playback thread ends it
      // with this text when it wakes.
      FBufferLostText = failure;
      FBufferLost = true;
    }
  });
  if (parked) {
    StartInput = true;
    EndOfInput = false;
  }
  ResumeLocked();
  if (!failure.empty()) throw EAuException(failure);
}

void TDSAudioOut::CalibrateLatency() {
  std::lock_guard<std::mutex> lock(FControlCS);
  const uint32_t next = FLatency.load() + kCalibrationStepMs;
  // Half the ring is read into the pool's output block in one go: the
  // latency stops growing where it would no longer fit.
  if (!Freed && next > FMaxLatency.load()) return;
  SetLatencyLocked(next);
}

// ---------------------------------------------------------------------------
// Playback thread

void TDSAudioOut::PrepareOutput() {
  const int32_t device = FDeviceNumber.load();
  if (device < 0 || device >= FDeviceCount) throw EAuException("Invalid device number");
  TAuInput* in = Input();
  if (!in) throw EAuException("Input is not assigned");
  in->Init();
  Chan = in->Channels();
  SR = in->SampleRate();
  const float speed = FSpeedFactor.load();
  if (speed != 1.0f) SR = static_cast<uint32_t>(std::lround(SR * static_cast<double>(speed)));
  BPS = in->BitsPerSample();
  if (FLatency < kMinStartLatencyMs) FLatency = kMinStartLatencyMs;
  FMaxLatency = MaxLatency(Chan, SR, BPS);
  if (FLatency > FMaxLatency) FLatency = FMaxLatency.load();
  ComputeSizes();

  // A stop recorded before this run (or by the last one) must not end this
  // run's waits; one that comes from now on does (the run loop checks the
  // stop request before each block).
  DS.Wake.Rearm();
  if (CreateDsDevice(DS, Devices.dinfo[device]) != kDsOk)
    throw EAuException("Failed to create DirectSound device");
  Buf = PoolOutputBlock;
  if (!Buf) throw EAuException("The buffer pool is not started");
  FillByte = BPS == 8 ? 128 : 0;
  const TDsWaveFormat format = BuildDsWaveFormat(Chan, SR, BPS);
  int32_t r = CreateDsBuffers(DS, format, static_cast<uint32_t>(_BufSize));
  if (r != kDsOk) throw EAuException(BufferErrorText(r));

  FPending = 0;
  FPendingOff = 0;
  FDiscardPending = false;
  FBufferLost = false;
  StartInput = true;
  EndOfInput = false;
  FUnderruns = 0;
  FUnderrunRefills = 0;
  FCalibrationRequests = 0;
  Freed = false;
}

void TDSAudioOut::ReadHalf(uint32_t Bytes) {
  // A block the ring could not take yet goes first; nothing read is dropped.
  if (FPending > 0) return;
  bool eof = false;
  int32_t n = Input()->FillBufferUnprotected(Buf, Bytes, eof);
  if (eof) EndOfInput = true;
  FPendingOff = 0;
  FPending = n > 0 ? static_cast<uint32_t>(n) : 0;
}

void TDSAudioOut::WritePending() {
  if (FPending == 0) return;
  uint32_t written = 0;
  // A failing write leaves the block pending; the cycle goes on.
  WriteDsBlock(DS, Buf + FPendingOff, FPending, written);
  FPendingOff += written;
  FPending -= written;
}

void TDSAudioOut::CountUnderrun(bool& Seen) {
  FUnderruns.fetch_add(1);
  Seen = true;
  if (TGenericEvent h = OnUnderrun()) {
    if (TEventHandler* eh = EventHandler()) eh->PostGenericEvent(this, std::move(h));
  }
}

bool TDSAudioOut::WriteBlock(bool Abort) {
  WaitWhileControlled();
  if (!CanOutput) return false;
  if (Abort) {
    StopDsPlayback(DS);
    CanOutput = false;
    return false;
  }
  if (FBufferLost) throw EAuException(FBufferLostText);

  const uint32_t half = static_cast<uint32_t>(_BufSize) / 2;
  bool underrun = false;

  if (StartInput) {
    // A pause woke the device's wait: the wake-up serves the next one (a
    // stop's stays until the run ends).
    if (!FStopped.load()) DS.Wake.Rearm();
    if (FDiscardPending.exchange(false)) FPending = 0;
    uint32_t free = 0;
    GetDsFreeSpace(DS, free);  // an underrun before the (re)start is no underrun
    if (free == 0) free = half;
    // The staging block holds one half: a (re)start never reads more.
    if (free > half) free = half;
    ReadHalf(free);
    WritePending();
    if (SetDsVolume(DS, FVolume) == kDsErrControlUnavail)
      throw EAuException("Control not available");
    StartDsPlayback(DS);
    TakeDsUnderrun(DS);
    StartInput = false;
  }

  if (EndOfInput && FPending == 0) {
    CanOutput = false;
    const uint64_t bytesPerSecond = static_cast<uint64_t>(BPS / 8) * Chan * SR;
    const uint32_t duration =
        bytesPerSecond ? static_cast<uint32_t>(std::lround(static_cast<double>(_BufSize) * 1000.0 /
                                                           static_cast<double>(bytesPerSecond)))
                       : 0;
    // Let the ring play out, overwriting what it has played with silence;
    // a stop ends the drain at once.
    for (uint32_t t = 0; t < duration; t += kDrainStepMs) {
      if (SleepDs(DS, kDrainStepMs) == kDsErrStopped) break;
      FillDsFreeSpace(DS, FillByte);
    }
    StopDsPlayback(DS);
    return false;
  }

  for (int k = 0; k < 2; ++k) {
    ReadHalf(half);
    bool other = false;
    int32_t r = WaitDsHalf(DS, k, other);
    // A stop was requested: the run loop sees it as soon as we return.
    if (r == kDsErrStopped) return true;
    if (r != kDsOk) throw EAuException("Audio device stopped responding");
    if (other) ResetDsEvent(DS, 1 - k);
    uint32_t free = 0;
    GetDsFreeSpace(DS, free);
    // No room after all: the block stays pending for the next cycle.
    if (free > 0) WritePending();
    // The wait's "other half", the free-space query and the write's xrun
    // recovery all see the same missed half: it is one underrun.
    const bool missed = TakeDsUnderrun(DS) || other || DS.Underflows != 0;
    if (missed) CountUnderrun(underrun);
    if (free == 0) break;
    if (EndOfInput && FPending == 0) {
      FillDsFreeSpace(DS, FillByte);
      TakeDsUnderrun(DS);
      break;
    }
  }

  if (underrun) FUnderrunRefills.fetch_add(1);
  if (underrun && FCalibrate) {
    FCalibrationRequests.fetch_add(1);
    if (TEventHandler* eh = EventHandler())
      eh->PostNonGuiEvent(this, [this](TComponent*) { CalibrateLatency(); });
  }
  return true;
}

void TDSAudioOut::WakeForStop() noexcept {
  DS.Wake.Signal();
}

void TDSAudioOut::WakeForPause() noexcept {
  // The ring's last drain is not cut short: the pause takes effect after it
  // (the run ends there anyway).
  if (!EndOfInput.load()) DS.Wake.Signal();
}

void TDSAudioOut::FinishOutput() {
  WaitWhileControlled();
  // Also after a failed start, so a device opened before the failure is not
  // held until the next run.
  ReleaseDs(DS);
  Buf = nullptr;
  FPending = 0;
  Freed = true;
  if (TAuInput* in = Input()) in->Flush();
}

}  // namespace lirvo
