#pragma once
// The track queue: one stream made of tracks that follow each other without
// a gap. It reads the track being played (the input); the controller hands
// it the next track, already opened and of the same format, while that one
// is read (SetNext). Where the input ends the queue goes on with the next
// track in the same data call, so whoever reads the queue (the read-ahead
// cache's filler) sees one continuous stream; TrackSerial counts the tracks
// begun.
//
// When the input ends and no next track has been handed over yet, the
// queue delivers 0 bytes but the stream is not over until EndAfterCurrent
// (or a stop) says so: the reader waits (ReadState, WaitForChange). Right after
// each change of track the queue expects an answer again (another SetNext
// or EndAfterCurrent).
//
// The track read before the present one is kept (opened, at its end) until
// the controller takes it (TakeFinished), once the listener hears the change:
// a seek back into it (BackToPreviousTrack) reads it again and gives up the
// newer track (TakeAbandoned).
//
// Threads: the data calls, Init and Flush on the pulling thread (the
// cache's filler, the output's playback thread); SetInput while idle, the
// hand-over calls and the seek on the UI thread. FStateCS guards the track
// pointers and flags; it is held only for a few instructions, never across
// a read of a track. Lock order: queue DataCS -> FStateCS -> a track's
// DataCS is never taken under FStateCS.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "audio/core/AudioClasses.h"

namespace lirvo {

class TTrackQueue : public TAuInput {
 public:
  explicit TTrackQueue(TComponent* AOwner = nullptr);
  ~TTrackQueue() override;

  // The first track (idle queue only, UI thread); forgets every track
  // handed over before. The tracks stay the caller's.
  void SetInput(TAuInput* Value);
  // The track being read (any thread).
  TAuInput* Input() const { return FCurrent.load(); }

  // UI thread, while a run reads the queue. Next is initialised and
  // delivers the queue's format. False (nothing taken) when a next track is
  // already waiting, the track read before has not been taken, or the
  // stream has ended (a stop, EndAfterCurrent with the input already over).
  bool SetNext(TAuInput* Next);
  // Nothing follows the present input unless a SetNext comes before its
  // end: there the stream ends.
  void EndAfterCurrent();
  // An answer (SetNext or EndAfterCurrent) will come: where the input ends
  // the reader waits for it. For the first track, before its run starts.
  void ExpectNextTrack();
  // The next track not yet begun (the caller owns it again), or null.
  TAuInput* TakeNext();
  // The track read through before the present one, or null.
  TAuInput* TakeFinished();
  // The track given up by BackToPreviousTrack, or null.
  TAuInput* TakeAbandoned();

  // Reader side (the cache's filler), after a data call gave 0 bytes.
  // With Gate set, the next track does not begin by itself where the input
  // ends: the reader decides when (BeginNextTrack), so that it holds no more
  // of the next track than it must while the present one is heard.
  void SetGate(bool Value);
  enum class TReadState {
    ReadOn,       // the input has more (or the next track may begin)
    NextWaiting,  // the input has ended, the next track waits for BeginNextTrack
    AwaitAnswer,  // the input has ended, the controller has not answered yet
    Ended,        // the stream is over
  };
  TReadState ReadState();
  void BeginNextTrack();
  // Waits (without any lock of the queue) until the state may have changed:
  // a next track, an answer, a seek, a stop, or Stop() true. Wake() makes it
  // look at Stop again.
  template <class TStop>
  void WaitForChange(TStop Stop) {
    std::unique_lock<std::mutex> lock(FStateCS);
    const uint64_t moves = FMoves;
    FStateCV.wait(lock,
                  [&] { return FNext || !FMore || FBreak || FEnded || FMoves != moves || Stop(); });
  }
  void Wake();

  uint64_t TrackSerial() const override { return FSerial.load(); }
  bool BackToPreviousTrack() override;
  void _Pause() override;
  void _Resume() override;
  // Seeks the present input (its position becomes the queue's); a stream
  // that waited at the input's end goes on from the new place.
  void _Jump(int32_t Offs) override;
  void _SeekTo(int64_t Frame) override;
  // Ends WaitForChange at once (the stream is over) and passes the stop
  // on to the present input. Until the next Init.
  void BreakWait() noexcept override;

 protected:
  uint32_t GetBitsPerSample() override;
  uint32_t GetChannels() override;
  uint32_t GetSampleRate() override;
  uint32_t GetTotalTime() override;
  int64_t GetTotalSamples() override;
  void InitInternal() override;
  // Flushes every track it holds (present, next, finished, abandoned).
  void FlushInternal() override;
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  void Hold(TAuInput* Track);
  // A seek of the present input (Move), its position then the queue's.
  void MoveInput(const std::function<void(TAuInput*)>& Move);

  std::atomic<TAuInput*> FCurrent{nullptr};
  std::atomic<uint64_t> FSerial{0};
  std::mutex FStateCS;
  std::condition_variable FStateCV;
  TAuInput* FNext = nullptr;       // under FStateCS
  TAuInput* FFinished = nullptr;   // under FStateCS
  TAuInput* FAbandoned = nullptr;  // under FStateCS
  bool FMore = false;              // an answer is expected (under FStateCS)
  bool FEnded = false;             // the stream is over (under FStateCS)
  bool FBreak = false;
  bool FAtEnd = false;  // the input gave its last byte (under FStateCS)
  bool FGate = false;   // the next track waits for BeginNextTrack
  bool FBeginAllowed =
      false;  // BeginNextTrack came (under FStateCS)             // a stop (under FStateCS)
  uint64_t FMoves = 0;  // seeks and returns (under FStateCS)
};

}  // namespace lirvo
