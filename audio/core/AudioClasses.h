#pragma once
// The pipeline's base classes: inputs (sources and processors), outputs with
// their playback thread, and the events that reach the UI thread.
//
// Audio is pulled: an output's playback thread asks the output to move one
// block from its input to the device; every component answers a data request
// by asking the component before it. Locks are always taken from the sink
// side towards the source side (an input holds its DataCS while it calls its
// own input).

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "audio/core/AuException.h"
#include "audio/core/Component.h"
#include "audio/core/ThreadSetup.h"

namespace lirvo {

enum TOutputStatus { tosPlaying = 0, tosPaused = 1, tosIdle = 2 };
enum TEventType { etOnProgress = 0, etOnDone = 1, etGeneric = 2, etNonGUI = 3 };

// Event handlers: bound callables taking the sending component.
using TNotifyEvent = std::function<void(TComponent* Sender)>;
using TOutputDoneEvent = TNotifyEvent;
using TOutputProgressEvent = TNotifyEvent;
using TThreadExceptionEvent = TNotifyEvent;
using TGenericEvent = TNotifyEvent;

class TAuThread;

// ---------------------------------------------------------------------------
// TAuInput: anything that produces PCM on request.
//
// Threads: Init, Flush and the data calls run on the thread that pulls the
// chain (an output's playback thread or the cache's filler thread); the UI
// thread may call the format getters, Seek and _Jump concurrently. DataCS
// serialises every data-path call on one input.
class TAuInput : public TComponent {
 public:
  explicit TAuInput(TComponent* AOwner);
  ~TAuInput() override;

  // Format of the delivered PCM.
  uint32_t BitsPerSample() { return GetBitsPerSample(); }
  uint32_t Channels() { return GetChannels(); }
  uint32_t SampleRate() { return GetSampleRate(); }
  // Seconds, and frames, that the input will deliver (0 when unknown).
  uint32_t TotalTime() { return GetTotalTime(); }
  int64_t TotalSamples() { return GetTotalSamples(); }

  // Bytes delivered since the last Init; bytes it will deliver in total (-1
  // or 0 when unknown).
  int64_t Position() const { return FPosition.load(std::memory_order_relaxed); }
  int64_t Size() const { return FSize.load(std::memory_order_relaxed); }
  bool Seekable() const { return FSeekable.load(std::memory_order_relaxed); }
  bool IsBusy() const { return Busy.load(); }

  bool RequestFloat() const { return FFloatRequested.load(); }
  void SetRequestFloat(bool Value) { SetRequestFloatInternal(Value); }

  // Prepares the input (and the chain before it) for data calls. Any failure
  // of InitInternal reaches the caller as EAuException with the same text and
  // leaves the input at end of stream.
  void Init();
  // Releases the source. Exceptions pass to the caller (DataCS is released).
  void Flush();

  // The public data call (contract of GetDataInternal below). The base takes
  // DataCS around GetDataInternal; streamed inputs and converters also keep
  // Position and end of stream.
  virtual void GetData(uint8_t*& Buffer, uint32_t& Bytes);
  // One GetData of at most BufferSize bytes, copied into Buffer.
  int32_t CopyData(void* Buffer, int32_t BufferSize);
  // GetData until BufferSize bytes are gathered or a call returns 0.
  int32_t FillBuffer(void* Buffer, int32_t BufferSize, bool& Eof);
  // Like FillBuffer but calls GetDataInternal directly under one DataCS (no
  // end-of-stream or loop handling); adds the total to Position once.
  int32_t FillBufferUnprotected(void* Buffer, uint32_t BufferSize, bool& Eof);

  // Flush ignoring its exceptions, then idle.
  virtual void Reset();
  virtual void _Pause() {}
  virtual void _Resume() {}
  // Relative seek in thousandths of the stream (file inputs, Part of 2.3).
  virtual void _Jump(int32_t Offs) {}

  void _Lock() { DataCS.lock(); }
  void _Unlock() { DataCS.unlock(); }

 protected:
  virtual uint32_t GetBitsPerSample() = 0;
  virtual uint32_t GetChannels() = 0;
  virtual uint32_t GetSampleRate() = 0;
  virtual uint32_t GetTotalTime() { return 0; }
  virtual int64_t GetTotalSamples() { return 0; }
  // Called by Init / Flush under DataCS.
  virtual void InitInternal() = 0;
  virtual void FlushInternal() = 0;
  // On entry Bytes is the most the caller wants. On exit Buffer points to
  // memory owned by this input, valid until its next data call, and Bytes is
  // the count there: whole frames for PCM, never more than asked. Bytes = 0
  // means nothing more. Called with DataCS held.
  virtual void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) = 0;
  virtual void SetRequestFloatInternal(bool Value) { FFloatRequested = Value; }

  // Position and size are written by the pulling thread and read by others
  // (progress on the playback thread, the UI).
  std::atomic<int64_t> FPosition{0};
  std::atomic<int64_t> FSize{0};
  uint16_t FSampleSize = 0;  // bytes per frame (file inputs)
  std::atomic<bool> FSeekable{false};
  std::atomic<bool> Busy{false};  // between Init and Flush
  // 1-based inclusive range of bytes still buffered inside a decoder; empty
  // when BufStart = 1 and BufEnd = 0. Under DataCS.
  uint32_t BufStart = 1;
  uint32_t BufEnd = 0;
  std::recursive_mutex DataCS;
  std::atomic<bool> _EndOfStream{false};
  std::atomic<bool> FFloatRequested{false};
};

// ---------------------------------------------------------------------------
// TAuConverter: an input that reads another input (`Input`, non-owning).
class TAuConverter : public TAuInput {
 public:
  explicit TAuConverter(TComponent* AOwner);
  ~TAuConverter() override;

  TAuInput* Input() const { return FInput.load(); }
  // Under _Lock: when busy, flushes the old input and initialises the new one.
  virtual void SetInput(TAuInput* Value);

  void GetData(uint8_t*& Buffer, uint32_t& Bytes) override;
  void _Pause() override;
  void _Resume() override;
  void _Jump(int32_t Offs) override;

 protected:
  uint32_t GetBitsPerSample() override;
  uint32_t GetChannels() override;
  uint32_t GetSampleRate() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  std::atomic<TAuInput*> FInput{nullptr};
};

// ---------------------------------------------------------------------------
// TAuOutput: a sink that drives a device from its own playback thread.
//
// Threads: Run, Stop, Pause, Resume, SetInput and the property setters are
// called by the UI thread. PrepareOutput, WriteBlock and FinishOutput run on
// the playback thread (or on the caller's thread for BlockingRun).
//
// Every concrete output must call EndThread() first in its destructor, so the
// playback thread is stopped and joined before the output's own members go.
class TAuOutput : public TComponent {
 public:
  explicit TAuOutput(TComponent* AOwner);
  ~TAuOutput() override;

  TAuInput* Input() const { return FInput.load(); }
  // When busy: Stop(false), store, Run; otherwise just store.
  virtual void SetInput(TAuInput* Value);

  // Wakes the playback thread for one run. Raises "Component is Busy" or
  // "Input is not assigned"; returns as soon as the thread is awake.
  void Run();
  // Asynchronous: the run ends after the block in progress and OnDone follows.
  // Synchronous: returns when the thread sleeps; queued events of this output
  // are dropped and no OnDone is delivered. On the UI thread it keeps running
  // synchronous calls from other threads while it waits.
  void Stop(bool Async = true);
  // Like Stop, but the device is stopped at once instead of being drained
  // (WriteBlock is called with Abort = true). No thread is ever killed.
  void Abort(bool Async = false);
  // Pauses between two blocks (waits at most 5 s), then pauses the input.
  // Outputs that must also pause their device override both and call these.
  virtual void Pause();
  virtual void Resume();
  // Runs the whole input on the caller's thread; no events are posted.
  void BlockingRun();

  TOutputStatus Status() const;
  int32_t Progress();
  int32_t TimeElapsed();
  std::string ExceptionMessage() const;
  int32_t Delay() const;
  void SetDelay(int32_t Value);
  TThreadPriority ThreadPriority() const;
  void SetThreadPriority(TThreadPriority Value);
  bool Stopped() const { return FStopped.load(); }

  // Handlers. Set on the UI thread; OnSyncDone runs on the playback thread,
  // the others on the UI thread.
  void SetOnDone(TOutputDoneEvent Handler);
  void SetOnProgress(TOutputProgressEvent Handler);
  void SetOnThreadException(TThreadExceptionEvent Handler);
  void SetOnSyncDone(TOutputDoneEvent Handler);
  TOutputDoneEvent OnDone() const;
  TOutputProgressEvent OnProgress() const;
  TThreadExceptionEvent OnThreadException() const;
  TOutputDoneEvent OnSyncDone() const;

  TAuThread* Thread() const { return FThread.get(); }

 protected:
  // Initialise the input first, read its format, open and start the device.
  // Raise EAuException when that fails.
  virtual void PrepareOutput() = 0;
  // Move one block to the device; true to be called again, false when the
  // input is exhausted and the device drained (or on a device failure). With
  // Abort true: stop the device at once and return false.
  virtual bool WriteBlock(bool Abort) = 0;
  // Release the device and Flush the input.
  virtual void FinishOutput() = 0;

  void Notification(TComponent* AComponent, TOperation Operation) override;
  // Stops the run synchronously and ends and joins the playback thread.
  // Idempotent; concrete outputs call it first in their destructors.
  void EndThread();
  // End of a run: release the device and flush (exceptions swallowed).
  void EndRun();

  std::atomic<bool> FStopped{false};
  mutable std::mutex FMessageCS;  // guards FExceptionMessage
  std::string FExceptionMessage;
  std::atomic<bool> CanOutput{false};
  std::atomic<int32_t> CurProgr{0};
  std::atomic<TAuInput*> FInput{nullptr};
  std::atomic<bool> Busy{false};
  std::mutex RunCS;
  // Counts synchronous stops; an end-of-run event posted before the latest
  // one is not delivered.
  std::atomic<uint64_t> FSyncStops{0};

 private:
  friend class TAuThread;
  friend class TEventHandler;

  void SetExceptionMessage(const std::string& Message);
  void StopInternal(bool Async, bool AbortDevice);

  mutable std::mutex FHandlersCS;  // guards the four handlers
  TOutputDoneEvent FOnDone;
  TOutputDoneEvent FOnSyncDone;
  TOutputProgressEvent FOnProgress;
  TThreadExceptionEvent FOnThreadException;
  std::unique_ptr<TAuThread> FThread;
  bool FEventHandlerAcquired = false;
};

}  // namespace lirvo
