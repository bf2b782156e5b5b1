#pragma once
// The playing side of the main window: the pipeline components besides the
// two outputs (four decoders, CUE splitter, converter, cache), the playback
// controller working on the window's outputs and playlist, the playlist
// grid with its model, and the ways files reach the playlist (drops from the
// desktop and from the file browser, the browser's double-click).
//
// The window owns one instance, created after its outputs and before its
// settings are read (the settings apply to the grid this installs), and
// destroyed before its outputs. It is handed the window's parts it works
// with (TParts), not the window. Everything runs on the UI thread; adding
// files reads them on a worker thread (TAsyncAdder) and stores the rows on
// the UI thread in batches, so the window stays responsive.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/logic/playback/PlaybackController.h"
#include "app/logic/playback/PlayerPipeline.h"
#include "audio/core/Component.h"
#include "audio/decoders/DecoderEnvironment.h"

class IStatusLine;
class QLabel;
class QLineEdit;
class QMimeData;
class QProgressBar;
class QTableView;
class TFileBrowserPane;
class TPlaylistModel;
class TPlaylistView;

namespace lirvo {
class TAsyncAdder;
class TASIOAudioOut;
class TDSAudioOut;
class TPlaylistTable;
struct TAddProgress;
}  // namespace lirvo

class TMainFormPlayer : public QObject, public lirvo::IPlayerHost {
  Q_OBJECT
 public:
  // The window's parts the player works with; all of them must outlive it.
  struct TParts {
    lirvo::TDSAudioOut& DSound;
    lirvo::TASIOAudioOut& ASIO;
    lirvo::TPlaylistTable& Playlist;
    IStatusLine& Status;
    // The window's plain grid, replaced by the playlist view over the
    // table; the pointer is left at the view.
    QTableView*& Grid;
    QProgressBar& Progress;
    QLabel& Time;       // the playing track's time
    QLineEdit* Filter;  // the file browser's mask box
    // Drops from its lists, its filter, its selection.
    TFileBrowserPane& FileBrowser;
    // The system tuning's timer step; empty: none.
    std::function<void(uint32_t Resolution100ns, bool Set)> SetTimerResolution;
    // Which decoder libraries the chain may load.
    lirvo::TDecoderEnvironment Decoders;
  };

  explicit TMainFormPlayer(TParts Parts);
  // Cancels an add in progress, stops playback and unlinks the window's
  // outputs from the components that go with this instance.
  ~TMainFormPlayer() override;

  lirvo::TPlaybackController& Controller() { return *FController; }
  const lirvo::TPlayerComponents& Components() const { return FComponents; }
  TPlaylistModel* Model() const { return FModel; }
  TPlaylistView* View() const { return FView; }

  // Adds files and folders (in order: a folder's tree, a file itself) on a
  // worker thread. A request made while another runs waits for it, so rows
  // keep the order of the requests.
  void AddPaths(const QStringList& Paths);
  // An add is running or waiting.
  bool Adding() const;
  void CancelAdding();

  // FileDropDrop: paths dropped from the desktop onto the grid.
  void FileDropDrop(const QStringList& Paths);
  // dbgSongsDragOver: a drag over the grid is taken when it comes from the
  // file browser's file or folder list, or carries local files.
  bool dbgSongsDragOver(const QMimeData* Data, QObject* Source) const;
  // dbgSongsDragDrop: from the file list its selected files, from the folder
  // list its selected folder; anything else is a desktop drop of its URLs.
  void dbgSongsDragDrop(const QMimeData* Data, QObject* Source);

  // lirvo::IPlayerHost
  void DispMessage(const std::string& Text) override;
  void DispErrorMessage(const std::string& Text) override;
  void SetProgress(int Percent) override;
  void ProcessMessages() override;
  bool FilterHasFocus() override;
  void ApplyFilter() override;
  void ClearSelection() override;
  void RepaintGrid() override;
  void BeginGridUpdate() override;
  void EndGridUpdate() override;
  void SetTimerResolution(uint32_t Resolution100ns, bool Set) override;
  void SetTrackClock(bool Running) override;

  // The status text shown while files are being added.
  static QString AddingMessage(uint64_t Files);

 signals:
  // Every add request so far has been handled (after the grid refresh).
  void addingFinished();

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;
  // A mouse event on the progress bar: shows and seeks the place (true: taken).
  bool SeekOnProgressBar(QEvent* Event);

 private:
  void StartNextAdd();
  void AddProgress(const lirvo::TAddProgress& Progress);
  void AddDone(const lirvo::TAddProgress& Progress);
  // Makes the grid show the rows added: the scroll range and the playing
  // row's mark are recomputed.
  void RefreshGrid();

  TParts FParts;
  // Shows the track's time once a second while it runs, and only then.
  QTimer FClock;
  // The components of the chain; the window owns the outputs.
  std::unique_ptr<lirvo::TPlayerChain> FChain;
  lirvo::TPlayerComponents FComponents;
  TPlaylistModel* FModel = nullptr;  // child of this
  TPlaylistView* FView = nullptr;    // the window's dbgSongs
  std::unique_ptr<lirvo::TPlaybackController> FController;

  std::unique_ptr<lirvo::TAsyncAdder> FAdder;
  std::deque<std::vector<std::string>> FPendingAdds;
  // The status line before the first progress message of an add, put back
  // at its end unless something else has been shown meanwhile.
  QString FStatusBeforeAdd;
  bool FStatusBeforeAddWasError = false;
  QString FShownAddingText;
  uint64_t FLastShownFiles = 0;
  // Tells the running add from earlier, cancelled ones.
  uint64_t FAddGeneration = 0;
  int FGridUpdateDepth = 0;
};
