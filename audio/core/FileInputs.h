#pragma once
// Sources backed by a byte stream or a named file: the sample window
// (StartSample..EndSample, inclusive, in frames of the file), looping, seeking
// and lazy opening that every decoder shares. Decoders supply only OpenFile,
// CloseFile, GetDataInternal and SeekInternal.
//
// Threads: the data path (Init, Flush, GetData, Seek, _Jump) runs under
// DataCS, on the thread that pulls the chain or on the UI thread (Seek and
// _Jump while the cache reads the same input). OpenFile and CloseFile run
// under OpenCS; the format getters may call them from the UI thread on an
// input that is not part of the running chain.
//
// The rest of the contract is TAuInput's (audio/core/AudioClasses.h).

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "audio/core/AudioClasses.h"
#include "audio/core/Stream.h"

namespace lirvo {

class TAuStreamedInput : public TAuInput {
 public:
  explicit TAuStreamedInput(TComponent* AOwner);
  ~TAuStreamedInput() override;

  TStream* Stream() const { return FStream; }
  // A stream given from outside is never freed by the input. Only while the
  // input is idle: it takes no lock (a decoder's override closes the file
  // first). Never throws in the base.
  virtual void SetStream(TStream* Value);

  // The window, in frames of the file (EndSample -1: to the end). Atomics,
  // any thread; read by the next Init (and by a looping window's restart),
  // so a change during a run does not move the running window. Flush
  // clears them.
  int64_t StartSample() const { return FStartSample.load(); }
  void SetStartSample(int64_t Value) { FStartSample = Value; }
  int64_t EndSample() const { return FEndSample.load(); }
  void SetEndSample(int64_t Value) { FEndSample = Value; }
  // Read at every end of the window; any thread.
  bool Loop() const { return FLoop.load(); }
  void SetLoop(bool Value) { FLoop = Value; }

  // SampleNum counts from the window's start. Between Init and Flush it
  // positions the decoder; before Init it sets the window's start for the
  // next Init (and clears its end). False for an unseekable input, a target
  // beyond TotalSamples, or a decoder failure (which is swallowed).
  // UI thread or the pulling thread; takes DataCS, so it waits for the data
  // call in progress (also the cache filler's read). Never throws. Today:
  // when SeekInternal returns false without raising, Position is still set
  // to the target; after a raise nothing changes.
  bool Seek(int64_t SampleNum);

  // TAuInput's GetData, plus the window's end and looping. At the end of a
  // looping window it restarts it: a seek, or for an unseekable input a
  // Flush and Init of itself, so it can raise what those raise (the input
  // is then at end of stream).
  void GetData(uint8_t*& Buffer, uint32_t& Bytes) override;

 protected:
  // Position the decoder so that the next block starts at frame SampleNum of
  // the file; empty the buffered range; may move SampleNum to the frame
  // actually reached. Called under DataCS, on the thread that seeks. May
  // block on the file; may raise (Seek swallows it, a looping restart
  // passes it to GetData's caller).
  virtual bool SeekInternal(int64_t& SampleNum) = 0;

  // A looping window starts again: clear the end, seek (or re-open) to the
  // window's start, count Position from 0.
  void RestartWindow();

  TStream* FStream = nullptr;  // under OpenCS / DataCS
  bool FStreamAssigned = false;
  std::atomic<int64_t> FStartSample{0};
  std::atomic<int64_t> FEndSample{-1};
  std::atomic<bool> FLoop{false};
  std::atomic<int64_t> FTotalSamples{0};
};

class TAuFileIn : public TAuStreamedInput {
 public:
  explicit TAuFileIn(TComponent* AOwner);
  // Frees the stream the input opened itself. CloseFile is virtual: every
  // decoder calls it from its own destructor.
  ~TAuFileIn() override;

  // The setters close the file first (CloseFile, under OpenCS but not
  // DataCS): only while the input is idle. UI thread. They raise what
  // CloseFile raises, and the name is then unchanged.
  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& Value);
  // The name actually opened (UTF-8 path on this platform).
  const std::string& WideFileName() const { return FWideFileName; }
  void SetWideFileName(const std::string& Value);
  void SetStream(TStream* Value) override;

  // Opens the file if needed; true when the decoder recognised it (the file
  // then stays open); false leaves it closed. Any thread while idle; blocks
  // on the file; never throws (an unreadable file is not valid).
  bool Valid();

  // Window limits in minutes and seconds. False when not seekable or beyond
  // the file. They open the file to learn its length, so they block on it
  // and raise what OpenFile raises (a file that cannot be opened).
  bool SetStartTime(int Minutes, int Seconds);
  bool SetEndTime(int Minutes, int Seconds);

  // TAuInput's Reset, then closes the decoder (ignoring its errors). Never
  // throws; the input is idle and closed afterwards.
  void Reset() override;
  // Relative seek in thousandths of the window, positive forward.
  void _Jump(int32_t Offs) override;
  // Frame of the window (the track); ignored when not seekable.
  void _SeekTo(int64_t Frame) override;

  // Decoder operations. OpenFile: under OpenCS, nothing when already open;
  // reads the header and sets FValid, FSize (PCM bytes of the file; <= 0 when
  // unknown), FBPS, FSR, FChan, may clear FSeekable, increments FOpened. A
  // file it cannot decode sets FValid false instead of raising. CloseFile:
  // under OpenCS; safe when nothing is open. OpenFile raises EAuException
  // when the input's own stream cannot be opened (the system's text); the
  // input is then not open and a later call tries again.
  virtual void OpenFile() = 0;
  virtual void CloseFile() = 0;

 protected:
  uint32_t GetBitsPerSample() override;
  uint32_t GetChannels() override;
  uint32_t GetSampleRate() override;
  uint32_t GetTotalTime() override;
  int64_t GetTotalSamples() override;
  // Raises "The component is Busy" when already initialised and "The file
  // name is not assigned" without a name or stream; then nothing changes.
  // An unrecognised file is no error: it delivers nothing. An OpenFile that
  // raises closes the decoder and leaves the input idle (not Busy).
  void InitInternal() override;
  // Closes the decoder, clears the window and Busy. Today: when CloseFile
  // raises, the window and Busy are left as they were.
  void FlushInternal() override;

  // For decoders: open the input's own stream on WideFileName when none was
  // assigned (raises EAuException with the system's text when it cannot), and
  // release it again (an assigned stream is rewound instead).
  void OpenOwnStream();
  void CloseOwnStream();
  // What an unrecognised file reports: 8000 Hz, 8 bits, mono, nothing to play.
  void SetEmptyFormat();

  std::recursive_mutex OpenCS;
  std::string FFileName;
  std::string FWideFileName;
  std::atomic<int32_t> FOpened{0};
  std::atomic<bool> FValid{false};
  std::atomic<uint32_t> FBPS{0};
  std::atomic<uint32_t> FSR{0};
  std::atomic<uint32_t> FChan{0};
  std::atomic<uint32_t> FTime{0};

 private:
  std::unique_ptr<TStream> FOwnStream;  // the stream OpenOwnStream made
};

}  // namespace lirvo
