#include "app/logic/playback/PlaybackController.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <filesystem>
#include <system_error>
#include <thread>

#include "app/logic/playback/TrackTime.h"
#include "app/logic/playlist/FileKinds.h"
#include "audio/core/AuException.h"
#include "audio/core/AudioClasses.h"
#include "audio/core/UiDispatcher.h"
#include "audio/decoders/AudioFLAC.h"
#include "audio/decoders/AudioMAC.h"
#include "audio/decoders/AudioWave.h"
#include "audio/decoders/AudioWinMedia.h"
#include "audio/outputs/AuASIO.h"
#include "audio/outputs/DSAudioOut.h"
#include "audio/processors/AudioCache.h"
#include "audio/processors/AudioConverters.h"
#include "audio/processors/AudioMisc.h"
#include "audio/processors/TrackQueue.h"

namespace lirvo {

namespace {

// The status texts the user sees.
constexpr const char* kMsgNothingToPlay = "没有要播放的曲目";
constexpr const char* kMsgBadCueIndex = "CUE索引无效，播放失败";
constexpr const char* kMsgFileMissing = "要播放的文件不存在";
constexpr const char* kMsgUnknownFormat = "打开文件失败，未知音频格式";
constexpr const char* kMsgPlaying = "正在播放：";
constexpr const char* kMsgPaused = "暂停播放：";
constexpr const char* kMsgStopped = "播放停止";

// What the ASIO start asks for once the driver's first buffers are under way.
constexpr uint32_t kAsioTimerResolution = 9000;
constexpr auto kAsioStartSettle = std::chrono::milliseconds(100);
constexpr auto kStopServeStep = std::chrono::milliseconds(50);

bool FileExists(const std::string& Path) {
  if (Path.empty()) return false;
  std::error_code ec;
  return std::filesystem::is_regular_file(std::filesystem::u8path(Path), ec);
}

std::string FieldText(const std::optional<std::string>& Field) {
  return Field ? *Field : std::string();
}

}  // namespace

TPlaybackController::TPlaybackController(TPlaylistTable& Table, const TPlayerComponents& Components,
                                         IPlayerHost& Host)
    : FTable(Table),
      FComponents(Components),
      FHost(Host),
      FSelf(std::make_shared<TPlaybackController*>(this)) {
  std::weak_ptr<TPlaybackController*> self = FSelf;
  auto progress = [self](TComponent* Sender) {
    if (auto cell = self.lock(); cell && *cell) (*cell)->AudioOutProgress(Sender);
  };
  auto error = [self](TComponent* Sender) {
    if (auto cell = self.lock(); cell && *cell) (*cell)->AudioOutThreadException(Sender);
  };
  for (TAuOutput* out :
       {static_cast<TAuOutput*>(FComponents.DSound), static_cast<TAuOutput*>(FComponents.ASIO)}) {
    if (!out) continue;
    out->SetOnProgress(progress);
    out->SetOnThreadException(error);
  }
}

TPlaybackController::~TPlaybackController() {
  *FSelf = nullptr;
  for (TAuOutput* out :
       {static_cast<TAuOutput*>(FComponents.DSound), static_cast<TAuOutput*>(FComponents.ASIO)}) {
    if (!out) continue;
    out->SetOnDone(nullptr);
    out->SetOnProgress(nullptr);
    out->SetOnThreadException(nullptr);
  }
}

void TPlaybackController::DetachOnDone() {
  if (FComponents.DSound) FComponents.DSound->SetOnDone(nullptr);
  if (FComponents.ASIO) FComponents.ASIO->SetOnDone(nullptr);
}

TTrackComponents TPlaybackController::Slot(int Index) const {
  if (Index == 1) return FComponents.Second;
  return {FComponents.WAV, FComponents.FLAC, FComponents.APE,
          FComponents.WMA, FComponents.CUE,  FComponents.BPS};
}

bool TPlaybackController::Continuous() const {
  const TTrackComponents& s = FComponents.Second;
  return FComponents.Queue && FComponents.Cache && s.WAV && s.FLAC && s.APE && s.WMA && s.CUE &&
         s.BPS;
}

TAuInput* TPlaybackController::SourceFor(int Kind, const std::string& Path,
                                         const TTrackComponents& Parts) {
  TAuFileIn* in = nullptr;
  switch (Kind) {
    case aftWAV:
      in = Parts.WAV;
      break;
    case aftFLAC:
      in = Parts.FLAC;
      break;
    case aftAPE:
      in = Parts.APE;
      break;
    case aftMP3:
    case aftWMA:
      in = Parts.WMA;
      break;
    default:
      return nullptr;
  }
  if (in) in->SetFileName(Path);
  return in;
}

TPlaybackController::TLink TPlaybackController::LinkTrack(const PlaylistRecord& Row,
                                                          const TTrackComponents& Parts,
                                                          TAuInput*& Source) {
  Source = nullptr;
  const std::string fileName = FieldText(Row.Filename);
  // A file deleted since it was added.
  if (!FileExists(fileName)) return TLink::Missing;
  const TAudioFileType kind = GetAudioFileType(fileName);
  if (kind != aftCUE) {
    Source = SourceFor(kind, fileName, Parts);
    return Source ? TLink::Ok : TLink::UnknownFormat;
  }
  TCueSplitter* cue = Parts.CUE;
  if (!cue) return TLink::UnknownFormat;
  // Paths are UTF-8 throughout; the splitter reads the sheet's own coding.
  cue->SetCueFile(fileName);
  const int64_t index = static_cast<int64_t>(Row.Track.value_or(0)) - 1;
  if (index < 0) return TLink::BadCueIndex;
  // The splitter's index is one byte: a larger track number must not wrap
  // round to another track.
  if (index > 255) throw EAuException("Item index out of bounds");
  cue->SetCurrentItem(static_cast<uint8_t>(index));
  const std::string audio = GetCueAudioFileName(fileName);
  if (!FileExists(audio)) return TLink::AudioMissing;
  TAuInput* decoder = SourceFor(GetAudioFileType(audio), audio, Parts);
  if (!decoder) return TLink::UnknownFormat;
  cue->SetInput(decoder);
  Source = cue;
  return TLink::Ok;
}

std::string TPlaybackController::InfoOf(const PlaylistRecord& Row) {
  return FieldText(Row.Title) + " / " + FieldText(Row.Artist) + " / " + FieldText(Row.Album);
}

void TPlaybackController::StartPlay() {
  // An end-of-track event of an earlier run must not advance the playlist
  // while the chain is re-linked.
  DetachOnDone();
  // The flag belongs to the run about to start.
  FHavePlayError = false;
  FNext = {};
  FEndCandidate = -1;

  if (FTable.IsEmpty()) {
    FHost.DispErrorMessage(kMsgNothingToPlay);
    return;
  }
  const PlaylistRecord row = *FTable.Current();
  // A file deleted since it was added: silently nothing, the status stays.
  if (!FileExists(FieldText(row.Filename))) return;

  FCurrentMark = FTable.GetBookmark();
  FCurrentID = row.ID.value_or(0);

  TAuInput* source = nullptr;
  switch (LinkTrack(row, Slot(0), source)) {
    case TLink::Ok:
      break;
    case TLink::Missing:
      return;
    case TLink::BadCueIndex:
      FHost.DispErrorMessage(kMsgBadCueIndex);
      return;
    case TLink::AudioMissing:
      FHost.DispErrorMessage(kMsgFileMissing);
      return;
    case TLink::UnknownFormat:
      FHost.DispErrorMessage(kMsgUnknownFormat);
      return;
  }
  FPlaySlot = 0;

  FCurrentInfo = InfoOf(row);
  FHost.DispMessage(kMsgPlaying + FCurrentInfo);

  // The track (through the converter on the direct engine) goes to the
  // cache, through the queue when tracks may follow each other.
  auto linkCache = [this](TAuInput* Track) {
    if (Continuous()) {
      FComponents.Queue->SetInput(Track);
      FComponents.Queue->ExpectNextTrack();
      FComponents.Cache->SetInput(FComponents.Queue);
    } else {
      FComponents.Cache->SetInput(Track);
    }
    FHeardSerial = FComponents.Cache->TrackSerial();
  };
  if (FAudioEngine == aeASIO) {
    TASIOAudioOut* asio = FComponents.ASIO;
    if (!asio || !FComponents.Cache || !FComponents.BPS)
      throw EAuException("The ASIO output is not available");
    FAudioOut = asio;
    asio->SetInput(FComponents.Cache);
    FComponents.BPS->SetInput(source);
    linkCache(FComponents.BPS);
    asio->Run();
    asio->SetOnDone(DoneHandler());
    PrepareNext();
    // Let the driver's first buffers get under way before the timer changes.
    std::this_thread::sleep_for(kAsioStartSettle);
    FHost.ProcessMessages();
    FHost.SetTimerResolution(kAsioTimerResolution, true);
  } else {
    TDSAudioOut* ds = FComponents.DSound;
    if (!ds || !FComponents.Cache) throw EAuException("The DirectSound output is not available");
    FAudioOut = ds;
    ds->SetInput(FComponents.Cache);
    linkCache(source);
    ds->Run();
    ds->SetOnDone(DoneHandler());
    PrepareNext();
  }
  FHost.SetTrackClock(true);
}

bool TPlaybackController::SameFormat(TAuInput* A, TAuInput* B) {
  return A->BitsPerSample() == B->BitsPerSample() && A->Channels() == B->Channels() &&
         A->SampleRate() == B->SampleRate();
}

int32_t TPlaybackController::RowAfterPlaying() const {
  const int pos = FTable.FindID(FCurrentID);
  if (pos < 0 || pos + 1 >= FTable.RowCount()) return 0;
  return FTable.Row(pos + 1).ID.value_or(0);
}

void TPlaybackController::PrepareNext() {
  if (!Continuous() || !FAudioOut || FNext.Valid) return;
  TTrackQueue* queue = FComponents.Queue;
  const int slot = 1 - FPlaySlot;
  const TTrackComponents parts = Slot(slot);
  const int pos = FTable.FindID(FCurrentID);
  const int32_t first = RowAfterPlaying();
  for (int p = pos < 0 ? FTable.RowCount() : pos + 1; p < FTable.RowCount(); ++p) {
    const PlaylistRecord& row = FTable.Row(p);
    TAuInput* source = nullptr;
    TAuInput* head = nullptr;
    try {
      // A row that cannot be opened is passed over, as the listener would
      // skip it; the stream goes on with the one after it.
      if (LinkTrack(row, parts, source) != TLink::Ok) continue;
      head = source;
      if (FAudioEngine == aeASIO) {
        parts.BPS->SetInput(source);
        head = parts.BPS;
      }
      head->Init();
    } catch (...) {
      if (head) head->Reset();
      continue;
    }
    // Another format needs the device opened anew: the stream ends here and
    // the end of the run starts this row as today.
    bool same = false;
    try {
      same = SameFormat(head, queue);
    } catch (...) {
    }
    if (!same || !queue->SetNext(head)) {
      head->Reset();
      break;
    }
    FNext.Valid = true;
    FNext.Slot = slot;
    FNext.Head = head;
    FNext.Mark = FTable.BookmarkAt(p);
    FNext.ID = row.ID.value_or(0);
    FNext.Info = InfoOf(row);
    FNext.FirstCandidate = first;
    return;
  }
  FEndCandidate = first;
  queue->EndAfterCurrent();
}

void TPlaybackController::NextTrackHeard() {
  // The track before has been played to its end; nobody reads it any more.
  if (TAuInput* done = FComponents.Queue->TakeFinished()) done->Reset();
  if (!FNext.Valid) return;
  FHost.TrackDone();
  FCurrentMark = FNext.Mark;
  FCurrentID = FNext.ID;
  FCurrentInfo = FNext.Info;
  FPlaySlot = FNext.Slot;
  FNext = {};
  FHost.DispMessage(kMsgPlaying + FCurrentInfo);
  // The cursor follows the track that is heard, as when a track is started.
  FHost.BeginGridUpdate();
  const int pos = FTable.FindID(FCurrentID);
  if (pos >= 0) FTable.SetCurrentRow(pos);
  FHost.EndGridUpdate();
  FHost.RepaintGrid();
  PrepareNext();
}

void TPlaybackController::PlaylistChanged() {
  if (!Continuous() || !FAudioOut || FAudioOut->Status() == tosIdle) return;
  if (FNext.Valid) {
    if (FNext.FirstCandidate == RowAfterPlaying() && FTable.FindID(FNext.ID) >= 0) return;
    // Another row follows now. Once the stream reads the prepared track it
    // stays (its start is already buffered).
    TAuInput* head = FComponents.Queue->TakeNext();
    if (!head) return;
    head->Reset();
    FNext = {};
  } else if (RowAfterPlaying() == FEndCandidate) {
    // The same row follows that did not fit (or none does, as before).
    return;
  }
  PrepareNext();
}

std::string TPlaybackController::TrackTimeText() const {
  return TrackTimeOf(FAudioOut);
}

std::function<void(TComponent*)> TPlaybackController::DoneHandler() {
  std::weak_ptr<TPlaybackController*> self = FSelf;
  return [self](TComponent* Sender) {
    auto cell = self.lock();
    if (!cell || !*cell) return;
    // The end of a run is delivered once the playback thread sleeps, but its
    // delivery may still be queued when the next track has been started (a
    // track ending just as the user chose another one): it must not cut the
    // new track short.
    auto* out = dynamic_cast<TAuOutput*>(Sender);
    if (out && out->Status() != tosIdle) return;
    (*cell)->AudioOutDone(Sender);
  };
}

void TPlaybackController::StopAndWait(TAuOutput* Out) {
  if (!Out || Out->Status() == tosIdle) return;
  Out->Stop(true);
  // The run ends after its current block; the output's own device time-outs
  // bound this wait. The outputs' calls are served as they come and the end
  // of the run wakes the wait; the host's own messages (the window's events)
  // are handled at least every kStopServeStep meanwhile.
  while (Out->Status() != tosIdle) {
    // Status reads atomics only, as a wait under the dispatcher's lock must.
    ServeUntil([Out] { return Out->Status() == tosIdle; }, kStopServeStep);
    FHost.ProcessMessages();
  }
}

void TPlaybackController::ResetInput(TAuOutput* Out) {
  if (!Out) return;
  TAuInput* in = Out->Input();
  if (!in || !in->IsBusy()) return;
  try {
    in->Reset();
  } catch (...) {
    // A chain that fails to reset is released anyway by the next Init; there
    // is nothing the user could do about it here.
  }
}

void TPlaybackController::StopAudioOut() {
  // A stop must not start the next track, nor announce one the stream had
  // begun (its event may be served while the stop waits).
  DetachOnDone();
  struct TStopping {
    bool& Flag;
    const bool Was;
    explicit TStopping(bool& F) : Flag(F), Was(F) { Flag = true; }
    ~TStopping() { Flag = Was; }
  } stopping(FStopping);
  StopAndWait(FComponents.DSound);
  StopAndWait(FComponents.ASIO);
  ResetInput(FComponents.DSound);
  ResetInput(FComponents.ASIO);
  // What the queue still holds (a run that never read it, or that ended
  // before its flush) is closed here, before the components are linked anew.
  if (TTrackQueue* queue = FComponents.Queue) {
    for (TAuInput* t : {queue->TakeNext(), queue->TakeFinished(), queue->TakeAbandoned()})
      if (t) t->Reset();
  }
  FNext = {};
  FHost.SetTrackClock(false);
}

void TPlaybackController::PausePlay() {
  for (TAuOutput* out :
       {static_cast<TAuOutput*>(FComponents.DSound), static_cast<TAuOutput*>(FComponents.ASIO)}) {
    if (out && out->Status() == tosPlaying) {
      out->Pause();
      FHost.DispMessage(kMsgPaused + FCurrentInfo);
      FHost.SetTrackClock(false);
    }
  }
}

void TPlaybackController::ResumePlay() {
  for (TAuOutput* out :
       {static_cast<TAuOutput*>(FComponents.DSound), static_cast<TAuOutput*>(FComponents.ASIO)}) {
    if (out && out->Status() == tosPaused) {
      out->Resume();
      FHost.DispMessage(kMsgPlaying + FCurrentInfo);
      FHost.SetTrackClock(true);
    }
  }
}

namespace {

// The frames of the track an output plays: what it has delivered so far and
// the track's length (0 when unknown).
struct TTrackFrames {
  int64_t Frame = 0;
  int64_t Total = 0;
  uint32_t Rate = 0;
};

TTrackFrames FramesOf(TAuOutput* Out) {
  TTrackFrames f;
  TAuInput* in = Out ? Out->Input() : nullptr;
  if (!in) return f;
  const int64_t frame = static_cast<int64_t>((in->BitsPerSample() & 0x7F) / 8) * in->Channels();
  if (frame <= 0) return f;
  f.Frame = in->Position() / frame;
  f.Total = std::max<int64_t>(0, in->Size()) / frame;
  f.Rate = in->SampleRate();
  return f;
}

}  // namespace

void TPlaybackController::SeekToFrame(int64_t Frame) {
  TAuOutput* out = FAudioOut;
  if (!out || out->Status() == tosIdle) return;
  if (auto* ds = dynamic_cast<TDSAudioOut*>(out))
    ds->SeekTo(Frame);
  else if (auto* asio = dynamic_cast<TASIOAudioOut*>(out))
    asio->SeekTo(Frame);
  // A seek during the last seconds of a track, when the stream had begun the
  // next one, went back into the track heard: the next is prepared anew.
  if (TTrackQueue* queue = FComponents.Queue) {
    if (TAuInput* abandoned = queue->TakeAbandoned()) {
      abandoned->Reset();
      FNext = {};
      PrepareNext();
    }
  }
  FHost.SetProgress(out->Progress());
  FHost.SetTrackClock(out->Status() == tosPlaying);
}

void TPlaybackController::SeekToFraction(double Fraction) {
  const TTrackFrames f = FramesOf(FAudioOut);
  if (f.Total <= 0) return;
  const double at = std::clamp(Fraction, 0.0, 1.0);
  SeekToFrame(std::llround(at * static_cast<double>(f.Total)));
}

void TPlaybackController::SeekBy(double Seconds) {
  const TTrackFrames f = FramesOf(FAudioOut);
  if (f.Total <= 0 || f.Rate == 0) return;
  const int64_t to = f.Frame + std::llround(Seconds * f.Rate);
  SeekToFrame(std::clamp<int64_t>(to, 0, f.Total));
}

bool TPlaybackController::LocateCurrentPlayItem() {
  if (FTable.IsEmpty()) return false;
  FHost.BeginGridUpdate();
  const TPlaylistBookmark mark = FTable.GetBookmark();
  // The first row in the grid's order with the playing ID (a null ID matches
  // nothing, so 0 before the first playback finds no row).
  const int pos = FTable.FindID(FCurrentID);
  if (pos >= 0)
    FTable.SetCurrentRow(pos);
  else
    FTable.GotoBookmark(mark);
  FHost.EndGridUpdate();
  return pos >= 0;
}

void TPlaybackController::StartPlayReporting() {
  try {
    StartPlay();
  } catch (const std::exception& e) {
    FHost.DispErrorMessage(e.what());
  } catch (...) {
    FHost.DispErrorMessage("Unknown error");
  }
}

void TPlaybackController::miPlayClick() {
  if (FHost.FilterHasFocus()) {
    FHost.ApplyFilter();
    return;
  }
  StopAudioOut();
  StartPlayReporting();
  FHost.ClearSelection();
  FHost.RepaintGrid();
}

void TPlaybackController::miStopClick() {
  StopAudioOut();
  FHost.SetProgress(0);
  FHost.DispMessage(kMsgStopped);
}

void TPlaybackController::miPauseClick() {
  if (FHost.FilterHasFocus() || !FAudioOut) return;
  try {
    const TOutputStatus status = FAudioOut->Status();
    if (status == tosPaused)
      ResumePlay();
    else if (status == tosPlaying)
      PausePlay();
  } catch (const std::exception& e) {
    FHost.DispErrorMessage(e.what());
  }
}

void TPlaybackController::MoveAndPlay(TStep Step) {
  StopAudioOut();
  LocateCurrentPlayItem();
  // The cursor stays put on the last (first) row.
  if (Step == TStep::Next)
    FTable.Next();
  else
    FTable.Prior();
  const PlaylistRecord* row = FTable.Current();
  if (row && row->ID.value_or(0) != FCurrentID)
    StartPlayReporting();
  else
    FHost.DispMessage(kMsgNothingToPlay);
  FHost.RepaintGrid();
}

void TPlaybackController::miNextClick() {
  MoveAndPlay(TStep::Next);
}

void TPlaybackController::miPriorClick() {
  FHost.ProcessMessages();
  MoveAndPlay(TStep::Prior);
}

void TPlaybackController::lblDispClick() {
  LocateCurrentPlayItem();
}

void TPlaybackController::AudioOutDone(TComponent* Sender) {
  FHost.TrackDone();
  FHost.SetProgress(0);
  if (FHavePlayError) {
    // The run ended because its device or input failed, not because the
    // track was over: moving on would fail the same way row after row and
    // the user would never see why. Stop here and say what went wrong.
    auto* out = dynamic_cast<TAuOutput*>(Sender);
    if (!out) out = FAudioOut;
    std::string message = out ? out->ExceptionMessage() : std::string();
    if (message.empty()) message = "Unknown error";
    StopAudioOut();
    FHost.DispErrorMessage(message);
    return;
  }
  miNextClick();
}

void TPlaybackController::AudioOutProgress(TComponent* Sender) {
  // The output announces with its progress that the next track's first
  // frames have reached the device.
  if (Continuous() && FAudioOut && Sender == FAudioOut && !FStopping) {
    const uint64_t serial = FComponents.Cache->TrackSerial();
    if (serial != FHeardSerial) {
      FHeardSerial = serial;
      NextTrackHeard();
    }
  }
  FHost.SetProgress(FAudioOut ? FAudioOut->Progress() : 0);
}

void TPlaybackController::AudioOutThreadException(TComponent* Sender) {
  // Run clears the output's message, so an event of an earlier run that is
  // delivered after the next track started finds it empty and must not
  // mark the new run as failed.
  auto* out = dynamic_cast<TAuOutput*>(Sender);
  if (out && out->ExceptionMessage().empty()) return;
  FHavePlayError = true;
}

}  // namespace lirvo
