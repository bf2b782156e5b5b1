#pragma once
// TASIOAudioOut: the pipeline sink that plays through a direct driver (the
// ASIO driver model: the driver pulls one half of its double buffer at a time
// through the buffer-switch callback).
//
// Between the playback thread and the driver lies a ring of periods (a
// TCircularBuffer over storage this output owns and locks in memory). The
// playback thread reads the input, widens it to the driver's 32 bits and
// writes it into the ring, keeping it full. The buffer switch only takes one
// period out of the ring, de-interleaves it into the driver's per-channel half
// (scaled to float for a float driver) and bumps a period counter. When the
// ring holds less than a period the half gets silence and a shortfall is
// counted; nothing is consumed then, so the stream goes on unbroken after it.
//
// Ring size: at least 4 periods and at least ~80 ms of audio, rounded up to
// whole periods. Four periods leave the playback thread three periods of slack
// after each wake-up, even at a 32-frame buffer; 80 ms covers a normal-priority
// thread's scheduling delay and an input's hiccup on a loaded machine, at a
// few hundred KiB at most.
//
// Threads:
// - UI thread: the properties, ShowSetupDlg, ReleaseASIODriver, Pause, Resume,
//   Jump, Run/Stop (TAuOutput).
// - Playback thread: PrepareOutput, WriteBlock, FinishOutput. It fills the
//   ring, then waits (a futex on the period counter) until the driver has
//   taken a period: about one wake-up per period. It also acts on reset
//   requests (closes, re-opens, sets the rate and restarts the driver) and
//   calls the position handler.
// - The driver's thread: the buffer switch, the message and sample-rate
//   callbacks. With direct processing (every built-in driver) the delivery
//   runs right there and follows the real-time rules: it reads only the ring
//   and atomics, never sleeps, locks, allocates, logs or calls a handler.
// - The event thread: the delivery when the driver does not ask for direct
//   processing; it may wait (bounded) for the ring and takes FDeviceCS.
//
// The end of the stream: the last period is padded with silence; the run ends
// at the switch after the one that delivered it (the driver has then played
// it).
//
// Locks: FDeviceCS (the driver object and what OpenDriver reads from it; the
// owner's threads and the event-thread delivery). The driver's thread takes
// none.
//
// The callbacks carry no user data, so they act on the most recently created
// instance: only one ASIO output can play at a time.

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/core/AudioClasses.h"
#include "audio/core/CircularBuffer.h"
#include "audio/outputs/AsioHost.h"
#include "audio/outputs/AsioList.h"
#include "audio/outputs/OutputEnvironment.h"

namespace lirvo {

enum TASIOBufferSize : uint8_t { absPreferred = 0, absMinimum = 1, absMaximum = 2 };

// The driver's sample position (frames) and its time stamp (ns) at each
// delivered block, in order. Called on the playback thread (never on the
// driver's), after the switch it describes: late by up to a period, and up to
// 256 pending records (older ones beyond that are dropped).
using TASIOPositionEvent =
    std::function<void(TComponent* Sender, int64_t SamplePosition, int64_t TimeStamp)>;

class TASIOAudioOut : public TAuOutput {
 public:
  // Env: the drivers to list and the devices they open (kept for the
  // output's life).
  explicit TASIOAudioOut(TComponent* AOwner = nullptr, TOutputEnvironment Env = {});
  ~TASIOAudioOut() override;

  // --- Published ---
  int32_t DeviceNumber() const { return FDeviceNumber.load(); }
  // Ignored without drivers; raises "Device number out of range: %d".
  void SetDeviceNumber(int32_t Value);
  TASIOBufferSize ASIOBufferSize() const { return FASIOBufferSize.load(); }
  void SetASIOBufferSize(TASIOBufferSize Value) { FASIOBufferSize = Value; }
  // The host window handed to the driver's init (opaque).
  void* ASIOForm() const { return FASIOForm.load(); }
  void SetASIOForm(void* Handle) { FASIOForm = Handle; }
  void SetOnSampleRateChanged(TGenericEvent Handler);
  void SetOnLatencyChanged(TGenericEvent Handler);
  void SetOnDriverReset(TGenericEvent Handler);
  // May wait for a handler call in progress on the playback thread.
  void SetOnPositionChanged(TASIOPositionEvent Handler);

  // --- Public ---
  // The driver's name in the list; raises "Device number out of range: %d".
  std::string DeviceName(int32_t Number) const;
  int32_t DeviceCount() const { return FDeviceCount; }
  // These three open the driver when it is not open, and then close it again
  // at once (a hardware device is not kept from other programs).
  uint32_t OutputBPS();
  uint32_t MaxOutputChannels();
  uint32_t Latency();
  // The open driver's rate rounded, else 44100. Writing sets it on an open
  // driver, else does nothing.
  int32_t SampleRate();
  void SetSampleRate(int32_t Value);
  // The rate the driver last reported through its sample-rate callback.
  int32_t NewSampleRate() const { return FNewSampleRate.load(); }
  bool IsSampleRateSupported(int32_t SR);
  // Shows the driver's control panel; afterwards the driver is open only if
  // it was open before (during a run).
  void ShowSetupDlg();
  void ReleaseASIODriver();
  void Pause() override;
  void Resume() override;
  // Relative seek in thousandths of the stream (converter and file inputs).
  void Jump(int32_t Offs);
  // Seek to a frame of the track, also while paused (the pause stays); what
  // the ring held from before is dropped.
  void SeekTo(int64_t Frame);

 private:
  void MoveInput(const std::function<void(TAuInput*)>& Move);

 public:
  // Halves written as silence because the ring held less than a period, since
  // the last start of a run.
  uint64_t Shortfalls() const { return FShortfalls.load(); }
  // The driver's own xruns (reported through kAsioOverload: JACK's xrun
  // callback, an ALSA underrun), since the last start of a run. Not included
  // in Shortfalls: those are the host's misses, these the device's.
  uint64_t DeviceXruns() const { return FDeviceXruns.load(); }

  // The de-interleavers: frame f, channel c of the interleaved Src goes to
  // position f of Dst[c]. At most 16 channels; 0 frames writes nothing.
  static void DeinterleaveToAsio32(const int32_t* Src, void* const* Dst, uint32_t Chans,
                                   uint32_t Frames);
  static void DeinterleaveToAsio16(const int16_t* Src, void* const* Dst, uint32_t Chans,
                                   uint32_t Frames);
  // 32-bit integers to float samples scaled by 2^-31 (for a float driver).
  static void DeinterleaveToAsioFloat(const int32_t* Src, void* const* Dst, uint32_t Chans,
                                      uint32_t Frames);

  // Process-wide: false once a driver's outputReady failed (then it is never
  // called again). The reset is for tests.
  static bool OutputReadySupported();
  static void ResetOutputReadySupported();

 protected:
  void PrepareOutput() override;
  bool WriteBlock(bool Abort) override;
  void FinishOutput() override;
  void WakeForStop() noexcept override;

 private:
  // The driver's callbacks (acting on the current instance).
  static void CbBufferSwitch(int32_t Index, ASIOBool DirectProcess) noexcept;
  static void CbSampleRateDidChange(ASIOSampleRate Rate) noexcept;
  static int32_t CbAsioMessage(int32_t Selector, int32_t Value, void* Message,
                               double* Opt) noexcept;
  static ASIOTime* CbBufferSwitchTimeInfo(ASIOTime* Params, int32_t Index,
                                          ASIOBool DirectProcess) noexcept;
  static void Switch(int32_t Index, ASIOBool DirectProcess, ASIOTime* Params) noexcept;

  void OpenDriver();
  void CloseDriver();
  // The buffer switch's work: one period from the ring into the half.
  void DeliverBlock(bool Direct, ASIOTime* Params) noexcept;
  void WriteSilence(int32_t Half);
  void ZeroTail(int32_t Half, uint32_t FromFrame);
  void RecordPosition(IAsioHost* Dev, ASIOTime* Params) noexcept;
  // Playback thread: the ring.
  void AllocateRing(bool Fresh);
  void ReleaseRing() noexcept;
  void CheckWidening() const;
  // Reads, widens and writes input into the ring while a period is free.
  // False when the input gave nothing (without ending) before the ring was
  // full.
  bool FillRing();
  // Waits until the period counter moves from Seen (or a wake-up).
  void WaitForPeriod(uint32_t Seen);
  void DrainPositions();
  // Any thread: wakes the playback thread's wait.
  void WakePlayback() noexcept;
  // Playback thread: re-open and restart after a reset request (or after the
  // driver was closed under the run).
  void RestartDriver(bool Requested);
  void SetUpDriver();
  void StartDriver();
  // Posts the handler Which (when assigned) to the UI thread; a failure to post is dropped (callers
  // include the driver's callbacks, which must not throw).
  void PostHandler(TGenericEvent TASIOAudioOut::*Which) noexcept;

  // --- The driver list (UI thread; fixed after construction) ---
  const TOutputEnvironment FEnvironment;
  TAsioDriverList Devices;
  int32_t FDeviceCount = 0;
  std::atomic<int32_t> FDeviceNumber{0};
  std::atomic<TASIOBufferSize> FASIOBufferSize{absPreferred};
  std::atomic<void*> FASIOForm{nullptr};

  // --- The driver; under FDeviceCS for the owner's threads. The delivery
  // reads these after FCanDeliver (acquire), which is set only while they
  // stay unchanged. ---
  mutable std::recursive_mutex FDeviceCS;
  std::unique_ptr<IAsioHost> device;
  bool ASIOStarted = false;
  uint32_t FSupportedChannels = 0;
  uint32_t FOutputChannels = 2;
  uint32_t FOutputBPS = 0;
  bool FFloat = false;
  bool FPacked32 = false;
  uint32_t FSampleBytes = 4;  // bytes per sample in the driver's buffers
  uint32_t FLatency = 0;
  uint32_t FBufferSize = 0;
  ASIOBufferInfo BufferInfo[17] = {};
  ASIOCallbacks Callbacks{};
  uint64_t FDriverGeneration = 0;  // counts opens and closes of the driver
  uint64_t FRunGeneration = 0;     // the generation the run started

  // --- The run (written by the playback thread under FDeviceCS before
  // FCanDeliver is set) ---
  uint32_t Chan = 0;
  uint32_t SR = 0;
  uint32_t BPS = 0;
  uint32_t FFrameBytes = 0;  // one 32-bit frame in the ring
  std::atomic<bool> FCanDeliver{false};
  std::atomic<bool> DoReset{false};
  std::atomic<bool> DevStopped{true};
  std::atomic<int32_t> FNewSampleRate{0};
  std::atomic<uint64_t> FShortfalls{0};

  std::atomic<uint64_t> FDeviceXruns{0};

  // --- The ring (storage made by the playback thread while the driver is
  // stopped; then only the ring's own protocol between the playback thread
  // and the delivery) ---
  std::vector<uint8_t> FRingStorage;
  bool FRingLocked = false;  // mlock accepted FRingStorage
  std::unique_ptr<TCircularBuffer> FRing;
  bool FInputEnded = false;     // playback thread
  uint64_t FFramesWritten = 0;  // playback thread
  // The ring's write position after the last (padded) period, -1 before.
  std::atomic<int64_t> FEndPos{-1};
  // Bumped by the delivery per period taken, and by every wake-up of the
  // playback thread; its futex word.
  std::atomic<uint32_t> FPeriods{0};
  std::atomic<bool> FPlaybackWaits{false};
  // Bumped by the playback thread per write into the ring (the event-thread
  // delivery waits on it).
  std::atomic<uint32_t> FWritten{0};
  std::atomic<bool> FDeliveryWaits{false};

  // --- Position records: the delivery pushes, the playback thread pops ---
  struct TPositionRecord {
    int64_t Position;
    int64_t Stamp;
  };
  static constexpr uint32_t kPositionSlots = 256;
  TPositionRecord FPositions[kPositionSlots] = {};
  std::atomic<uint32_t> FPositionHead{0};  // written by the delivery
  std::atomic<uint32_t> FPositionTail{0};  // written by the playback thread
  std::atomic<bool> FHavePositionHandler{false};

  // --- Handlers ---
  mutable std::mutex FEventsCS;  // guards the three generic handlers
  TGenericEvent FOnSampleRateChanged;
  TGenericEvent FOnLatencyChanged;
  TGenericEvent FOnDriverReset;
  std::mutex FPositionCS;  // guards FOnPositionChanged (held while it is called)
  TASIOPositionEvent FOnPositionChanged;
};

}  // namespace lirvo
