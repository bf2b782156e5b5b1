#pragma once
// TDSAudioOut: the pipeline sink that plays its input through a shared sound
// device (the DirectSound layer of DSoundLayer.h, on alsa-lib). It plays the
// input's own format (any width, channel count and rate) from a ring of two
// halves, refilling one half each time the device has played one, counts
// underruns and, with Calibrate, answers them with a 10 ms larger ring.
//
// Threads:
//   - PrepareOutput, WriteBlock and FinishOutput run on the playback thread,
//     which blocks on the device between refills (never longer than the
//     device's time-out: a device that stops advancing ends the run with
//     "Audio device stopped responding"; a stop request ends the wait, and
//     the drain at the end of the input, at once through WakeForStop) and
//     neither allocates nor locks in its steady state. It reads the input into the pool's output
//     block.
//   - Pause, Resume, Jump and the property setters come from the UI thread;
//     the latency calibration runs on the event thread. These control calls
//     are serialised by FControlCS and touch the device record (DS) only
//     while the playback thread is parked between two blocks; FControlling
//     keeps a playback thread woken meanwhile (by Stop) from touching it.
//   - OnUnderrun handlers run on the UI thread.
//
// Settings: the output never reads or writes the settings file. The
// application gives it the latency and, when the output goes away (or at any
// time through LatencyStore), is handed the calibrated latency to keep under
// [AudioOutput] Latency of INIFile.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "audio/core/AudioClasses.h"
#include "audio/outputs/DSoundLayer.h"

namespace lirvo {

inline constexpr const char* kLatencyIniSection = "AudioOutput";
inline constexpr const char* kLatencyIniKey = "Latency";

// The settings entry that keeps the calibrated latency.
struct TLatencyStore {
  std::string IniFile;
  std::string Section;  // kLatencyIniSection
  std::string Key;      // kLatencyIniKey
  int32_t Value = 0;    // milliseconds
};
using TLatencyStoreEvent = std::function<void(const TLatencyStore& Entry)>;

class TDSAudioOut : public TAuOutput {
 public:
  // Lists the system's devices (the PCM hints).
  explicit TDSAudioOut(TComponent* AOwner);
  // Lists the given devices instead (tests, or a list of the application's).
  TDSAudioOut(TComponent* AOwner, const std::vector<TDsDeviceEntry>& DeviceList);
  // Stops the thread, then hands the latency entry to OnStoreLatency when
  // INIFile is set and Calibrate is on (a failing handler is ignored).
  ~TDSAudioOut() override;

  // Checked only when playback starts.
  int32_t DeviceNumber() const { return FDeviceNumber.load(); }
  void SetDeviceNumber(int32_t Value) { FDeviceNumber = Value; }
  int32_t DeviceCount() const { return FDeviceCount; }
  // The description of device Number, or "" outside 0..DeviceCount-1.
  std::string GetDeviceName(int32_t Number) const;
  std::string DeviceName(int32_t Number) const { return GetDeviceName(Number); }

  bool Calibrate() const { return FCalibrate.load(); }
  void SetCalibrate(bool Value) { FCalibrate = Value; }
  // UI thread only.
  const std::string& INIFile() const { return FINIFile; }
  void SetINIFile(const std::string& Value) { FINIFile = Value; }

  // Milliseconds of audio the whole ring holds. Writing it while playing
  // pauses, rebuilds the ring and resumes (raising "Failed to create
  // DirectSound buffer" + 8 hex digits when the device refuses the new ring,
  // which also ends the run); a value whose half ring would not fit the
  // staging block is lowered to the largest that fits.
  uint32_t Latency() const { return FLatency.load(); }
  void SetLatency(uint32_t Value);
  // Multiplies the input's rate to give the device's (1.0 by default).
  float SpeedFactor() const { return FSpeedFactor.load(); }
  void SetSpeedFactor(float Value) { FSpeedFactor = Value; }
  // Hundredths of a decibel, 0 = full level (bit-exact); applied at once.
  int32_t Volume() const { return FVolume.load(); }
  void SetVolume(int32_t Value);

  // Underruns counted since playback started.
  uint32_t Underruns() const { return FUnderruns.load(); }
  // Calibration requests posted since playback started (one per refill call
  // that counted underruns, while Calibrate is on).
  uint32_t CalibrationRequests() const { return FCalibrationRequests.load(); }
  // Refill calls (one per block, two halves) that counted an underrun, with
  // Calibrate on or off: each such call asks one calibration when it is on.
  uint32_t UnderrunRefills() const { return FUnderrunRefills.load(); }
  TGenericEvent OnUnderrun() const;
  void SetOnUnderrun(TGenericEvent Handler);

  // The entry to keep in the settings file; false when there is none to keep
  // (no INIFile, or Calibrate off). UI thread.
  bool LatencyStore(TLatencyStore& Out) const;
  void SetOnStoreLatency(TLatencyStoreEvent Handler) { FOnStoreLatency = std::move(Handler); }

  // Pause also stops the device unless the input has ended; Resume does
  // nothing once the input has ended; Jump (while playing) silences the ring,
  // moves the input by Offs thousandths and starts the ring again. SeekTo
  // moves it to a frame of the track, also while paused (the ring's old
  // audio is dropped; the pause stays).
  void Pause() override;
  void Resume() override;
  void Jump(int32_t Offs);
  void SeekTo(int64_t Frame);

  // The largest latency in milliseconds whose half ring of this format fits
  // the pool's output block (0 when not even one frame does).
  static uint32_t MaxLatency(uint32_t Channels, uint32_t Rate, uint32_t Bits);

 protected:
  void PrepareOutput() override;
  bool WriteBlock(bool Abort) override;
  void FinishOutput() override;
  // Ends the playback thread's wait on the device (or its drain) at once.
  void WakeForStop() noexcept override;
  void WakeForPause() noexcept override;

 private:
  void Create();
  // Grows the latency by 10 ms (event thread).
  void CalibrateLatency();
  void PauseLocked();
  void ResumeLocked();
  void SetLatencyLocked(uint32_t Value);
  // Runs F on DS when the playback thread is parked; false when it is not.
  template <typename F>
  bool ControlDs(F&& Fn);
  void WaitWhileControlled() const;
  void ComputeSizes();
  // Playback thread.
  void ReadHalf(uint32_t Bytes);
  void WritePending();
  void CountUnderrun(bool& Seen);

  std::atomic<bool> Freed{true};
  std::atomic<uint32_t> FLatency{100};
  uint32_t FFramesInBuffer = 0;
  DSOut DS;
  DSW_Devices Devices;
  uint32_t Chan = 0;
  uint32_t SR = 0;
  uint32_t BPS = 0;
  std::atomic<bool> EndOfInput{false};
  std::atomic<bool> StartInput{false};
  uint8_t* Buf = nullptr;
  std::atomic<int32_t> FDeviceNumber{0};
  int32_t FDeviceCount = 0;
  int32_t _BufSize = 0;
  uint8_t FillByte = 0;
  std::atomic<uint32_t> FUnderruns{0};
  mutable std::mutex FHandlerCS;  // guards FOnUnderrun
  TGenericEvent FOnUnderrun;
  std::atomic<int32_t> FVolume{0};
  std::atomic<float> FSpeedFactor{1.0f};
  std::atomic<bool> FCalibrate{false};
  std::string FINIFile;
  TLatencyStoreEvent FOnStoreLatency;

  // Control side (see the header comment).
  std::mutex FControlCS;
  std::atomic<bool> FControlling{false};
  std::atomic<uint32_t> FMaxLatency{0};  // of the playing format
  std::atomic<uint32_t> FCalibrationRequests{0};
  std::atomic<uint32_t> FUnderrunRefills{0};
  // A ring the control side could not rebuild: the run ends with this text.
  std::atomic<bool> FBufferLost{false};
  std::string FBufferLostText;  // written before FBufferLost is set
  // Jump: the half block read before the jump is stale.
  std::atomic<bool> FDiscardPending{false};

  // A block read from the input but not yet taken by the ring: Buf[FPendingOff..+FPending).
  // Playback thread (and the control side while it is parked).
  uint32_t FPendingOff = 0;
  uint32_t FPending = 0;
};

}  // namespace lirvo
