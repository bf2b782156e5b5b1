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
class TEventHandler;

// ---------------------------------------------------------------------------
// TAuInput: anything that produces PCM on request.
//
// Threads: Init, Flush and the data calls run on the thread that pulls the
// chain (an output's playback thread or the cache's filler thread); the UI
// thread may call the format getters, Seek and _Jump concurrently. DataCS
// serialises every data-path call on one input.
//
// Life cycle: idle -> Init -> data calls -> Flush (or Reset) -> idle. Busy
// is true from a successful Init to Flush. Nothing here is ever interrupted
// from outside: a data call that waits for a file or for the cache's filler
// holds DataCS until it returns, and every other data-path call on the same
// input waits for it.
class TAuInput : public TComponent {
 public:
  explicit TAuInput(TComponent* AOwner);
  ~TAuInput() override;

  // Format of the delivered PCM. Any thread, without DataCS. A file input
  // opens its file here when it is not open yet (blocking on the file, under
  // its OpenCS) and raises EAuException when the file cannot be opened; a
  // converter asks its input and answers 0 without one.
  uint32_t BitsPerSample() { return GetBitsPerSample(); }
  uint32_t Channels() { return GetChannels(); }
  uint32_t SampleRate() { return GetSampleRate(); }
  // Seconds, and frames, that the input will deliver (0 when unknown). As the
  // format getters: any thread, may open a file input and raise.
  uint32_t TotalTime() { return GetTotalTime(); }
  int64_t TotalSamples() { return GetTotalSamples(); }

  // Bytes delivered since the last Init; bytes it will deliver in total (-1
  // or 0 when unknown). Any thread; atomics, never block, never throw.
  int64_t Position() const { return FPosition.load(std::memory_order_relaxed); }
  int64_t Size() const { return FSize.load(std::memory_order_relaxed); }
  bool Seekable() const { return FSeekable.load(std::memory_order_relaxed); }
  bool IsBusy() const { return Busy.load(); }

  // Asks for float samples; read by the next Init (set it while idle).
  bool RequestFloat() const { return FFloatRequested.load(); }
  void SetRequestFloat(bool Value) { SetRequestFloatInternal(Value); }

  // Prepares the input (and the chain before it) for data calls. Called on
  // the pulling thread (an output's PrepareOutput, the cache's Init), on the
  // caller's thread by BlockingRun, and on the UI thread by a converter's
  // SetInput while busy. Takes DataCS, so it waits for a data call in
  // progress. Blocks as long as opening the source takes (file I/O; the
  // cache also starts its filler thread).
  // Throws: a std::exception from InitInternal reaches the caller as
  // EAuException with the same text; anything else passes unchanged.
  // After a failure the input is at end of stream (data calls deliver 0
  // bytes). Busy stays as InitInternal left it: a file input whose file
  // cannot be opened is idle again (the next Init needs no Reset), and so is
  // a CUE splitter whose input failed to open. Inputs before it that did
  // initialise stay initialised.
  void Init();
  // Releases the source; on the pulling thread at the end of a run
  // (FinishOutput), or on the UI thread by a converter's SetInput. Takes
  // DataCS. Exceptions of FlushInternal pass to the caller (DataCS is
  // released); the input is then left as FlushInternal left it (a file
  // input whose decoder fails to close stays Busy with its window set). Use
  // Reset to force it idle.
  void Flush();

  // The public data call (contract of GetDataInternal below). The base takes
  // DataCS around GetDataInternal; streamed inputs and converters also keep
  // Position and end of stream. Pulling thread only, between Init and Flush.
  // Blocks while the source reads (file I/O, a decoder, the cache waiting
  // for its filler); nothing interrupts it. Throws what the decoder or the
  // chain before it raises; the input stays Busy and the caller (the output)
  // ends its run.
  virtual void GetData(uint8_t*& Buffer, uint32_t& Bytes);
  // One GetData of at most BufferSize bytes, copied into Buffer. As GetData.
  int32_t CopyData(void* Buffer, int32_t BufferSize);
  // GetData until BufferSize bytes are gathered or a call returns 0. As
  // GetData; after a throw the bytes gathered so far are lost.
  int32_t FillBuffer(void* Buffer, int32_t BufferSize, bool& Eof);
  // Like FillBuffer but calls GetDataInternal directly under one DataCS (no
  // end-of-stream or loop handling); adds the total to Position once.
  // Today: it also skips what an overriding GetData does (a converter's
  // end-of-stream trimming, a file input's window and looping); after a
  // throw Position is not advanced for the bytes already copied.
  int32_t FillBufferUnprotected(void* Buffer, uint32_t BufferSize, bool& Eof);

  // Flush ignoring its exceptions, then idle (Busy false). Never throws. On
  // the thread that owns the chain while no run pulls it (the controller
  // calls it on the UI thread after the outputs stopped).
  virtual void Reset();
  // Called by TAuOutput::Pause / Resume on the UI thread, after the playback
  // thread reached (or gave up waiting for) its pause. Nothing in the base;
  // converters pass them on. Do not block, do not throw.
  virtual void _Pause() {}
  virtual void _Resume() {}
  // Relative seek in thousandths of the stream (file inputs). UI thread,
  // while a run may be pulling: a file input seeks under DataCS, so it waits
  // for the data call in progress. Nothing in the base; converters pass it
  // on. A decoder that cannot seek is ignored (no throw).
  virtual void _Jump(int32_t Offs) {}
  // Absolute seek to frame Frame of what this input delivers (0 .. its
  // frames): threads and locks as _Jump. A decoder lands where it can (a
  // frame boundary of its own) and its Position says where. Nothing in the
  // base; converters pass it on (their frames are their input's).
  virtual void _SeekTo(int64_t Frame) {}
  // A stop of the run that pulls this input: ends at once any wait of the
  // pulling thread inside this input for data that has not arrived (the
  // cache's ring), so that the run can end. Any thread, without DataCS;
  // never blocks, never throws. The next Init re-arms the waits. Nothing in
  // the base; converters pass it on.
  virtual void BreakWait() noexcept {}
  // Inputs that deliver one track after another (the track queue, and the
  // cache over it): a count that goes up by one where a new track begins, as
  // the blocks delivered so far are concerned. An output compares it after
  // every block. Any thread; an atomic load, never blocks. 0 in the base.
  virtual uint64_t TrackSerial() const { return 0; }
  // A seek must reach the track being heard while the chain already reads
  // the next one: the queue gives up the next track and reads the previous
  // one again (true). Under the caller's seek; nothing in the base.
  virtual bool BackToPreviousTrack() { return false; }

  // DataCS by hand (recursive), for a caller that must keep the data path
  // out while it changes several things: pair them on one thread. Nothing
  // in the player uses them today.
  void _Lock() { DataCS.lock(); }
  void _Unlock() { DataCS.unlock(); }

 protected:
  virtual uint32_t GetBitsPerSample() = 0;
  virtual uint32_t GetChannels() = 0;
  virtual uint32_t GetSampleRate() = 0;
  virtual uint32_t GetTotalTime() { return 0; }
  virtual int64_t GetTotalSamples() { return 0; }
  // The format hooks behind the getters above: any thread, no DataCS.
  // Called by Init / Flush under DataCS. InitInternal sets Busy (once the
  // input is usable), FPosition = 0 and FSize, and initialises its own input
  // first; it raises EAuException when the source cannot be used.
  // FlushInternal releases the source and clears Busy; it should not throw.
  virtual void InitInternal() = 0;
  virtual void FlushInternal() = 0;
  // On entry Bytes is the most the caller wants. On exit Buffer points to
  // memory owned by this input, valid until its next data call, and Bytes is
  // the count there: whole frames for PCM, never more than asked. Bytes = 0
  // means nothing more. Called with DataCS held, on the pulling thread. May
  // block on the source; may throw (the run then ends).
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
// The input's removal (its destruction) unlinks it: Notification calls
// SetInput(nullptr) on the destroying thread and drops what that raises.
class TAuConverter : public TAuInput {
 public:
  explicit TAuConverter(TComponent* AOwner);
  ~TAuConverter() override;

  // Any thread (atomic).
  TAuInput* Input() const { return FInput.load(); }
  // Under _Lock: when busy, flushes the old input and initialises the new one.
  // UI thread; waits for the data call in progress. Throws what the old
  // input's Flush or the new one's Init raises; today the link is then left
  // unchanged, with the old input possibly already flushed. Setting itself
  // is ignored.
  virtual void SetInput(TAuInput* Value);

  // After end of stream (or with Size reached) delivers 0 bytes until the
  // next Init; trims the block that runs past Size, unless the input's own
  // size has grown meanwhile (then Size follows it).
  void GetData(uint8_t*& Buffer, uint32_t& Bytes) override;
  void _Pause() override;
  void _Resume() override;
  void _Jump(int32_t Offs) override;
  void _SeekTo(int64_t Frame) override;
  // The input's present size in this converter's frames (-1 unknown): the
  // size follows it when the input's length grows.
  int64_t SizeFromInput();
  void BreakWait() noexcept override;

 protected:
  // After the input moved: Position (and end of stream) follow its place.
  // Under DataCS.
  void FollowInputPosition(TAuInput* In);
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
// A run: Run wakes the playback thread, which calls PrepareOutput once, then
// WriteBlock until it returns false or a stop is asked for, then
// FinishOutput (also after a failed PrepareOutput), then OnSyncDone, then
// announces OnDone. An exception on the playback thread ends the run: its text
// becomes ExceptionMessage and OnThreadException is delivered before OnDone.
// A stop is looked at between two WriteBlock calls; WakeForStop and the
// input's BreakWait cut short the waits of an output and input that honour
// them.
//
// Events leave the playback thread without a lock or an allocation: the run
// loop stores "progress changed in run N", "run N failed" and "run N ended"
// in this output's own atomics and wakes the event thread, which looks up
// the handlers and delivers them on the UI thread.
//
// Every concrete output must call EndThread() first in its destructor, so the
// playback thread is stopped and joined before the output's own members go.
class TAuOutput : public TComponent {
 public:
  explicit TAuOutput(TComponent* AOwner);
  ~TAuOutput() override;

  TAuInput* Input() const { return FInput.load(); }
  // When busy: Stop(false), store, Run; otherwise just store. UI thread;
  // blocks like Stop(false), and when that stop timed out it also waits
  // (without a time-out) until the abandoned run has ended, so the input is
  // never swapped under a run that still pulls it. Throws what Run throws;
  // the new input is stored and the output is then idle. Setting nullptr
  // while busy stops for good.
  // The input's destruction calls SetInput(nullptr) on the destroying thread.
  virtual void SetInput(TAuInput* Value);

  // Wakes the playback thread for one run. Raises "Component is Busy" (a run
  // is in progress, or the thread has ended) or "Input is not assigned";
  // nothing changes then, except that ExceptionMessage is cleared first.
  // Returns as soon as the thread has taken the request (after the previous
  // run's OnSyncDone when that run is still ending); called from the output's
  // own OnSyncDone it returns at once. After a synchronous stop that timed
  // out (see Stop) it does not raise Busy: the run is queued and starts as
  // soon as the abandoned run has ended. Failures of the run itself do not
  // reach Run: see the run above.
  void Run();
  // Asynchronous: the run ends after the block in progress and OnDone follows.
  // Synchronous: waits up to 100 ms for the run to end; the pending and later
  // events of the runs it stopped are dropped (no OnDone), those of later runs
  // are not. When the run does not end in time (a device or a source that
  // ignores the wake-ups) the run is abandoned: Stop returns, Busy stays true
  // until the thread has really ended it, the run's OnSyncDone is skipped and
  // a Run meanwhile is queued. On the UI thread it keeps running synchronous
  // calls from other threads while it waits. From the playback thread itself
  // (OnSyncDone, WriteBlock) it records the stop and returns at once.
  // Any thread; never throws. On an idle output it marks the output stopped
  // and (synchronous) drops the pending events of the last run.
  void Stop(bool Async = true);
  // Like Stop, but the device is stopped at once instead of being drained
  // (WriteBlock is called with Abort = true). No thread is ever killed.
  void Abort(bool Async = false);
  // Pauses between two blocks (waits at most 5 s), then pauses the input.
  // Outputs that must also pause their device override both and call these.
  // UI thread. Pause raises "Input is not assigned." without an input and
  // does nothing when idle. Today: when the 5 s pass (a WriteBlock stuck on
  // the device) it pauses the input anyway and returns without an error,
  // and the run pauses at its next block. Resume does nothing unless the run
  // is paused; it resumes the input, then waits (no time-out) until the
  // thread has left the pause. Otherwise neither throws (overrides may
  // raise what their device raises).
  virtual void Pause();
  virtual void Resume();
  // Runs the whole input on the caller's thread; no events are posted.
  // Do not mix with Run: it does not check Busy. Stop has no effect on it
  // (today: nothing ends a BlockingRun but the end of the input or an
  // error). Throws what PrepareOutput or WriteBlock raise, after the device
  // was released and the input flushed (FinishOutput); the output is idle.
  void BlockingRun();

  // Any thread, never block: atomics and the input's Position and Size.
  TOutputStatus Status() const;
  int32_t Progress();
  // Any thread; reads the input's format, which may open a file input (see
  // TAuInput's format getters) and raise.
  int32_t TimeElapsed();
  // The text of the error that ended the last run; "" after a run without
  // one (cleared by Run). Any thread.
  std::string ExceptionMessage() const;
  // Stored only; values above 100 are ignored.
  int32_t Delay() const;
  void SetDelay(int32_t Value);
  // The playback thread's scheduling priority (our own thread). Any thread.
  TThreadPriority ThreadPriority() const;
  void SetThreadPriority(TThreadPriority Value);
  // Set by Stop / Abort, cleared when a run ends normally.
  bool Stopped() const { return FStopped.load(); }

  // Handlers. Set on the UI thread; OnSyncDone runs on the playback thread,
  // the others on the UI thread. Setting takes a short lock: any thread.
  // OnSyncDone runs after FinishOutput, with the output already idle; what
  // it throws is dropped. OnDone, OnProgress and OnThreadException are looked
  // up by the event thread when they are delivered (the playback thread never
  // touches them); a delivery may come after the next run has started.
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
  // Raise EAuException when that fails. Playback thread (caller's thread for
  // BlockingRun), no lock of the base held; may block opening the device.
  // After a throw FinishOutput still runs, so it must cope with a device
  // half opened and an input that may or may not be initialised.
  virtual void PrepareOutput() = 0;
  // Move one block to the device; true to be called again, false when the
  // input is exhausted and the device drained (or on a device failure). With
  // Abort true: stop the device at once and return false. Playback thread;
  // may block on the device and on the input (a stop waits for it). A throw
  // ends the run as a failure (ExceptionMessage, OnThreadException).
  virtual bool WriteBlock(bool Abort) = 0;
  // Release the device and Flush the input. Playback thread, once per run,
  // also after a failed PrepareOutput. What it throws is dropped and the
  // output is idle anyway (today Stopped then stays set).
  virtual void FinishOutput() = 0;
  // A stop request has been recorded: wake the playback thread from any wait
  // inside the device (its poll, the driver's notification), so that the
  // next WriteBlock sees the request. Called by Stop / Abort on the stopping
  // thread, also while no run is in progress; never blocks, never throws.
  virtual void WakeForStop() noexcept {}
  // A pause has been asked for: as WakeForStop, so that the run pauses at
  // once instead of after the device's wait (a sound server may keep the
  // thread waiting for most of a second). The output re-arms its wake-up
  // itself when the run goes on. Nothing in the base.
  virtual void WakeForPause() noexcept {}

  void Notification(TComponent* AComponent, TOperation Operation) override;
  // Stops the run synchronously and ends and joins the playback thread.
  // Idempotent; concrete outputs call it first in their destructors. Blocks
  // like Stop(false); never throws.
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

 private:
  friend class TAuThread;
  friend class TEventHandler;

  // This output's events on their way to the event thread. The playback
  // thread stores run numbers; the event thread takes them.
  struct TEventSlot {
    // Progress changes, one entry (the run's number) each: a single-producer
    // single-consumer ring, so that every change is delivered while the
    // event thread keeps up. A change that finds it full is folded into
    // ProgressOverflow (delivered once).
    static constexpr uint32_t kProgressRing = 256;
    uint64_t ProgressRuns[kProgressRing] = {};  // published by ProgressHead
    std::atomic<uint32_t> ProgressHead{0};      // written by the playback thread
    std::atomic<uint32_t> ProgressTail{0};      // written by the event thread
    std::atomic<uint64_t> ProgressOverflow{0};  // non-zero: a folded change of that run
    std::atomic<uint64_t> ErrorRun{0};          // the latest run that ended with an error
    std::atomic<uint64_t> EndedRun{0};          // the latest run that has ended
    uint64_t DeliveredEnd = 0;                  // event thread only

    // Playback thread: lock-free, no allocation.
    void PostProgress(uint64_t Run) noexcept {
      const uint32_t head = ProgressHead.load(std::memory_order_relaxed);
      if (head - ProgressTail.load(std::memory_order_acquire) >= kProgressRing) {
        ProgressOverflow.store(Run, std::memory_order_release);
        return;
      }
      ProgressRuns[head % kProgressRing] = Run;
      ProgressHead.store(head + 1, std::memory_order_release);
    }
  };

  void SetExceptionMessage(const std::string& Message);
  void StopInternal(bool Async, bool AbortDevice);
  // FinishOutput with its exceptions swallowed; leaves Busy alone.
  void FinishRun() noexcept;

  mutable std::mutex FHandlersCS;  // guards the four handlers
  TOutputDoneEvent FOnDone;
  TOutputDoneEvent FOnSyncDone;
  TOutputProgressEvent FOnProgress;
  TThreadExceptionEvent FOnThreadException;
  // Events of runs up to this number are not delivered (synchronous stops).
  std::atomic<uint64_t> FDropUpTo{0};
  TEventSlot FEventSlot;
  // The event thread, acquired for this output's whole life, so the playback
  // thread reaches it without the global lock.
  TEventHandler* FEvents = nullptr;
  std::unique_ptr<TAuThread> FThread;
  bool FEventHandlerAcquired = false;
};

}  // namespace lirvo
