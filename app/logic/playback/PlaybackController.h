#pragma once
// The playback controller: turns the playlist's current row into a running
// pipeline, stops and pauses it, moves to the next or previous row and keeps
// the status line and the progress bar up to date. The main window and
// lirvo-play share it; each supplies the components and a host.
//
// It owns no threads and no components. Every method runs on the UI thread
// (the thread that pumps the UI dispatcher, audio/core/UiDispatcher.h); the
// outputs' events reach it there.
//
// Using it from a window:
//   TPlayerPipeline pipeline;                       // or the window's own components
//   TPlaybackController ctl(table, pipeline.Components(), host);
//   ctl.FAudioEngine = aeASIO;                      // from the settings
//   ctl.miPlayClick();                              // menu, buttons, double-click
//   ...
//   ctl.StopAudioOut();                             // before closing
// The commands (mi...Click, lblDispClick) catch what starting a track raises
// and show its text in red; StartPlay itself lets it through.
//
// Events: the constructor wires OnProgress and OnThreadException of both
// outputs to AudioOutProgress and AudioOutThreadException. OnDone is attached
// only by a successful StartPlay, after Run returned, and removed by every
// StartPlay and StopAudioOut, so that a stop or a re-link never advances the
// playlist. The destructor removes all three handlers; a handler that is
// still queued when the controller goes does nothing.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/logic/common/AppTypes.h"
#include "app/logic/playlist/Playlist.h"

namespace lirvo {

class TAuInput;
class TAuOutput;
class TComponent;
class TWaveIn;
class TFLACIn;
class TMACIn;
class TWMIn;
class TCueSplitter;
class TAudioConverter;
class TAudioCache;
class TTrackQueue;
class TDSAudioOut;
class TASIOAudioOut;

// One track's components (a decoder per format, the CUE splitter, the
// converter of the direct engine).
struct TTrackComponents {
  TWaveIn* WAV = nullptr;
  TFLACIn* FLAC = nullptr;
  TMACIn* APE = nullptr;
  TWMIn* WMA = nullptr;
  TCueSplitter* CUE = nullptr;
  TAudioConverter* BPS = nullptr;
};

// The pipeline components the controller links for each track; none is
// owned. A missing decoder makes files of its kind an unknown format; a
// missing output cannot be chosen as the engine (StartPlay raises).
// With Queue and a Second set of track components, tracks of one format
// play as one stream: the next one is opened while one plays and follows
// it without a gap; without them every track is a run of its own.
struct TPlayerComponents {
  TWaveIn* WAV = nullptr;
  TFLACIn* FLAC = nullptr;
  TMACIn* APE = nullptr;
  TWMIn* WMA = nullptr;
  TCueSplitter* CUE = nullptr;
  TAudioConverter* BPS = nullptr;
  TAudioCache* Cache = nullptr;
  TDSAudioOut* DSound = nullptr;
  TASIOAudioOut* ASIO = nullptr;
  TTrackQueue* Queue = nullptr;
  TTrackComponents Second;
};

// What the controller needs from the window (or from a console). Called on
// the UI thread only, from inside the controller's commands and the outputs'
// events.
//
// None of these should throw: the controller does not catch what they raise
// (except inside StartPlay, whose commands show it in red), so it passes to
// whoever called the command or delivered the event, and a command cut
// short that way leaves the rest of its work undone (a grid update not
// ended, the next row not started). Apart from ProcessMessages they must
// not block or call back into the controller.
class IPlayerHost {
 public:
  virtual ~IPlayerHost() = default;
  // The status line in the normal colour / in red. DispErrorMessage is also
  // how the commands report what starting a track raised.
  virtual void DispMessage(const std::string& Text) = 0;
  virtual void DispErrorMessage(const std::string& Text) = 0;
  // The progress bar, 0..100 (an output may report -1 for an unknown size).
  virtual void SetProgress(int Percent) = 0;
  // Handles pending window messages, including the outputs' queued events
  // (UiDispatcher's CheckSynchronize). The stop loop relies on it: it calls
  // this at least every 50 ms until the outputs are idle. It must return once
  // nothing is pending (never wait for a message). It re-enters the
  // controller: the window's version runs Qt's event loop, so user commands
  // and the outputs' events (a track's end starting the next one) may run
  // inside it; today the controller does not guard against that.
  virtual void ProcessMessages() = 0;
  // The file-filter edit box has the keyboard focus; then Play applies the
  // filter (ApplyFilter) instead of playing, and Pause does nothing.
  virtual bool FilterHasFocus() { return false; }
  virtual void ApplyFilter() {}
  // The grid: clear its multi-row selection, repaint, bracket a walk of the
  // cursor so the grid does not follow every step. Begin and End always
  // come in pairs from the controller, without nesting.
  virtual void ClearSelection() {}
  virtual void RepaintGrid() {}
  virtual void BeginGridUpdate() {}
  virtual void EndGridUpdate() {}
  // Raises (Set) or releases the timer resolution, in units of 100 ns
  // (ProcUtils' SetTimerResolution in the window). Called with Set = true
  // after every successful ASIO start; today the controller never releases
  // it.
  virtual void SetTimerResolution(uint32_t Resolution100ns, bool Set) {}
  // A track ran to its end (first thing AudioOutDone does, before the next
  // row starts). lirvo-play ends there; the window has nothing to do.
  virtual void TrackDone() {}
  // The playing track's time (TrackTimeText) runs (a track started or
  // resumed) or stands (paused, stopped): while it runs the window shows it
  // once a second; when it stops, once more (a paused track's time stays, a
  // stopped one's is empty).
  virtual void SetTrackClock(bool Running) {}
};

class TPlaybackController {
 public:
  // Table, the components and Host must outlive the controller.
  TPlaybackController(TPlaylistTable& Table, const TPlayerComponents& Components,
                      IPlayerHost& Host);
  ~TPlaybackController();
  TPlaybackController(const TPlaybackController&) = delete;
  TPlaybackController& operator=(const TPlaybackController&) = delete;

  // Links the chain for the current row and starts the engine's output.
  // Problems with the row are shown on the status line and nothing starts;
  // errors raised by the output's Run (and a track number the CUE splitter
  // refuses) reach the caller.
  // Expects the outputs idle (the commands stop them first). Reads the CUE
  // sheet on this thread (blocking on the file); for ASIO it then sleeps
  // 100 ms and runs ProcessMessages. After a throw of its own or of Run
  // nothing runs and no OnDone is attached; the chain may be partly linked, and FCurrentMark
  // and FCurrentID already name the new row.
  void StartPlay();
  // Stops both outputs and waits for them, handling messages meanwhile.
  // Blocks without a time-out of its own: as long as the run's last block
  // takes (see TAuOutput::Stop). Then resets the inputs. Throws only what
  // the host's ProcessMessages throws.
  void StopAudioOut();
  // Pause / resume the output that is playing (paused); they block as
  // TAuOutput::Pause / Resume do and pass on what those raise.
  void PausePlay();
  void ResumePlay();
  // Seeking within the playing track, also while paused: to Fraction (0..1)
  // of its length (the progress bar), by Seconds from where it is heard
  // (the keys), or to a frame. What the cache and the device held from
  // before is dropped. Nothing while no track plays.
  void SeekToFraction(double Fraction);
  void SeekBy(double Seconds);
  void SeekToFrame(int64_t Frame);
  // Puts the cursor on the playing row; false (cursor unchanged) when that
  // row is not in the table.
  bool LocateCurrentPlayItem();

  // Commands.
  void miPlayClick();
  void miStopClick();
  void miPauseClick();
  void miNextClick();
  void miPriorClick();
  void lblDispClick();

  // Events of the outputs (wired by the controller itself).
  void AudioOutDone(TComponent* Sender);
  void AudioOutProgress(TComponent* Sender);
  void AudioOutThreadException(TComponent* Sender);
  // The window's rows were deleted, re-sorted or added: the track prepared
  // to follow the playing one is prepared again when another row follows
  // now (unless the stream already reads it).
  void PlaylistChanged();

  const TPlayerComponents& Components() const { return FComponents; }
  // "1:23 / 4:56" for the run of FAudioOut; empty when nothing plays.
  std::string TrackTimeText() const;

  // Playback state; the window reads and sets these (the settings choose the
  // engine and, on a change of engine, the output).
  TAudioEngine FAudioEngine = aeDSound;
  TAuOutput* FAudioOut = nullptr;  // the output of the current or last run
  TPlaylistBookmark FCurrentMark = kNoBookmark;
  int32_t FCurrentID = 0;    // ID of the row last started; 0: none yet
  std::string FCurrentInfo;  // "title / artist / album" of that row
  // An output reported an error on its playback thread during the current
  // run; cleared by StartPlay. The run's end then stops the list and shows
  // the output's error in red instead of moving to the next row.
  bool FHavePlayError = false;

 private:
  enum class TStep { Next, Prior };
  void MoveAndPlay(TStep Step);
  // StartPlay with its errors shown in red (the commands' way to start).
  void StartPlayReporting();
  void DetachOnDone();
  // The OnDone handler StartPlay attaches.
  std::function<void(TComponent*)> DoneHandler();
  void StopAndWait(TAuOutput* Out);
  void ResetInput(TAuOutput* Out);

  // Tracks: two sets of components (0: the first, 1: Second) take turns; the
  // playing track is in FPlaySlot, the one prepared to follow in the other.
  enum class TLink { Ok, Missing, BadCueIndex, AudioMissing, UnknownFormat };
  struct TPrepared {
    bool Valid = false;
    int Slot = 0;
    TAuInput* Head = nullptr;  // what the queue reads
    TPlaylistBookmark Mark = kNoBookmark;
    int32_t ID = 0;
    std::string Info;
    int32_t FirstCandidate = 0;  // the row after the playing one then
  };
  TTrackComponents Slot(int Index) const;
  bool Continuous() const;
  TAuInput* SourceFor(int Kind, const std::string& Path, const TTrackComponents& Parts);
  // Links Row's source in Parts (not initialised). Raises for a track number
  // the CUE splitter cannot hold.
  TLink LinkTrack(const PlaylistRecord& Row, const TTrackComponents& Parts, TAuInput*& Source);
  static std::string InfoOf(const PlaylistRecord& Row);
  static bool SameFormat(TAuInput* A, TAuInput* B);
  // The ID of the row after the playing one in the grid's order; 0: none.
  int32_t RowAfterPlaying() const;
  // Opens the row that follows the playing one and hands it to the queue;
  // tells the queue the stream ends when none of the same format follows.
  void PrepareNext();
  // The prepared track's first frames reached the device.
  void NextTrackHeard();

  TPlaylistTable& FTable;
  TPlayerComponents FComponents;
  IPlayerHost& FHost;
  // The handlers reach the controller through this cell, cleared by the
  // destructor, so an event still queued then finds no controller.
  std::shared_ptr<TPlaybackController*> FSelf;
  int FPlaySlot = 0;
  TPrepared FNext;
  uint64_t FHeardSerial = 0;  // the cache's track count the window shows
  // The row after the playing one when the stream was told to end there (0:
  // none followed; -1: not told).
  int32_t FEndCandidate = -1;
  bool FStopping = false;  // inside StopAudioOut
};

}  // namespace lirvo
