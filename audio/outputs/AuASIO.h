#pragma once
// TASIOAudioOut: the pipeline sink that plays through a direct driver (the
// ASIO driver model: the driver pulls one half of its double buffer at a time
// through the buffer-switch callback).
//
// The playback thread only reads ahead: WriteBlock fills one driver buffer's
// worth of input into the staging block (PoolAsioBlock) and returns. The
// buffer-switch work (DeliverBlock) widens that block to the driver's 32 bits
// when needed, de-interleaves it into the driver's per-channel half and, for a
// float driver, scales it to float (x 2^-31).
//
// Threads:
// - UI thread: the properties, ShowSetupDlg, ReleaseASIODriver, Pause, Resume,
//   Jump, Run/Stop (TAuOutput).
// - Playback thread: PrepareOutput, WriteBlock, FinishOutput. It also acts on
//   reset requests: closes, re-opens, sets the rate and restarts the driver.
// - The driver's thread: the buffer switch, the message and sample-rate
//   callbacks. With direct processing (every built-in driver) DeliverBlock
//   runs right there and follows the real-time rules: no allocation, no
//   logging, no reading of the input, and the staging lock ACS only by
//   try-lock. When the read-ahead is not ready it waits for it (polling an
//   atomic) for at most half a buffer's duration and otherwise writes silence
//   (a shortfall).
// - The event thread: DeliverBlock when the driver does not ask for direct
//   processing; then it may block on ACS and fill the block itself.
// An error inside DeliverBlock never unwinds into the driver: the half gets
// silence, ACS is released, and the next WriteBlock raises the error on the
// playback thread, which ends the run through OnThreadException.
//
// Locks: FDeviceCS (the driver object and what OpenDriver reads from it; the
// owner's threads and the event-thread delivery) before ACS (the staging
// block). The driver's thread takes neither (ACS only by try-lock).
//
// The callbacks carry no user data, so they act on the most recently created
// instance: only one ASIO output can play at a time.

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <string>

#include "audio/core/AudioClasses.h"
#include "audio/outputs/AsioHost.h"
#include "audio/outputs/AsioList.h"
#include "audio/outputs/OutputEnvironment.h"

namespace lirvo {

enum TASIOBufferSize : uint8_t { absPreferred = 0, absMinimum = 1, absMaximum = 2 };

// Called on the driver's thread with the driver's sample position (frames)
// and its time stamp (ns) at each delivered block.
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
  // May wait for a delivery in progress (the driver thread calls the handler).
  void SetOnPositionChanged(TASIOPositionEvent Handler);

  // --- Public ---
  // The driver's name in the list; raises "Device number out of range: %d".
  std::string DeviceName(int32_t Number) const;
  int32_t DeviceCount() const { return FDeviceCount; }
  // These three open the driver (and leave it open).
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
  // Shows the driver's control panel; the driver stays open afterwards.
  void ShowSetupDlg();
  void ReleaseASIODriver();
  void Pause() override;
  void Resume() override;
  // Relative seek in thousandths of the stream (converter and file inputs).
  void Jump(int32_t Offs);

  // Halves written as silence because the read-ahead was not ready in time,
  // since the last start of a run.
  uint64_t Shortfalls() const { return FShortfalls.load(); }

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

 private:
  // The driver's callbacks (acting on the current instance).
  static void CbBufferSwitch(int32_t Index, ASIOBool DirectProcess) noexcept;
  static void CbSampleRateDidChange(ASIOSampleRate Rate) noexcept;
  static int32_t CbAsioMessage(int32_t Selector, int32_t Value, void* Message,
                               double* Opt) noexcept;
  static ASIOTime* CbBufferSwitchTimeInfo(ASIOTime* Params, int32_t Index,
                                          ASIOBool DirectProcess) noexcept;

  void OpenDriver();
  void CloseDriver();
  void DeliverBlock(bool Direct) noexcept;
  // Parts of the delivery, under ACS.
  bool WaitForStaged(std::unique_lock<std::mutex>& Lock);
  void FillStage();
  bool WidenStage();
  void WriteSilence(int32_t Half);
  void ZeroTail(int32_t Half, uint32_t FromFrame);
  // Playback thread: re-open and restart after a reset request (or after the
  // driver was closed under the run).
  void RestartDriver(bool Requested);
  void SetUpDriver();
  void ComputeStageWant();
  void StartDriver();
  [[noreturn]] void RaiseDeliverError();
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
  int64_t FWaitBudgetUs = 0;  // how long a direct delivery waits for the read-ahead
  uint32_t FStageWant = 0;    // bytes one fill asks for
  std::atomic<bool> FCanDeliver{false};
  std::atomic<bool> DoReset{false};
  std::atomic<bool> DevStopped{true};
  std::atomic<int32_t> FNewSampleRate{0};
  std::atomic<uint64_t> FShortfalls{0};

  // --- The staging block (PoolAsioBlock); under ACS ---
  std::mutex ACS;
  std::atomic<bool> _Prefetched{false};  // set and cleared under ACS, polled without
  std::atomic<bool> FLastBlock{false};   // set under ACS, polled without
  uint32_t L = 0;                        // bytes in the block (32-bit bytes once widened)
  bool FStageWide = false;               // widened to 32 bits
  uint32_t FStageFrames = 0;             // frames in the widened block
  uint32_t FStageOffset = 0;             // frames of it already delivered

  // --- Errors of the delivery, raised by the next WriteBlock ---
  enum : int { kNoError = 0, kBitDepthError = 1, kExceptionError = 2 };
  std::atomic<int> FDeliverError{kNoError};
  std::atomic<uint32_t> FErrBPS{0};
  std::atomic<uint32_t> FErrOutBPS{0};
  std::mutex FErrorCS;  // guards FDeliverException
  std::exception_ptr FDeliverException;

  // --- Handlers ---
  mutable std::mutex FEventsCS;  // guards the three generic handlers
  TGenericEvent FOnSampleRateChanged;
  TGenericEvent FOnLatencyChanged;
  TGenericEvent FOnDriverReset;
  std::mutex FPositionCS;  // guards FOnPositionChanged; try-locked by the delivery
  TASIOPositionEvent FOnPositionChanged;
};

}  // namespace lirvo
