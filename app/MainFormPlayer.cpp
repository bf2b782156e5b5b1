#include "MainFormPlayer.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMetaObject>
#include <QMimeData>
#include <QMouseEvent>
#include <QPointer>
#include <QProgressBar>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

#include "FileBrowserPane.h"
#include "PlaylistModel.h"
#include "PlaylistView.h"
#include "StatusLine.h"
#include "app/logic/playlist/PlaylistAdder.h"
#include "audio/core/UiDispatcher.h"
#include "audio/outputs/AuASIO.h"
#include "audio/outputs/DSAudioOut.h"

namespace {

// A progress message at the first batch and then every this many files, so
// the status line moves without repainting for every file.
constexpr uint64_t kProgressEveryFiles = 100;

std::vector<std::string> ToStd(const QStringList& Paths) {
  std::vector<std::string> out;
  out.reserve(Paths.size());
  for (const QString& p : Paths)
    out.push_back(p.toStdString());
  return out;
}

// The local files and folders a drop carries, in the drop's order.
QStringList LocalPaths(const QMimeData* Data) {
  QStringList paths;
  if (!Data || !Data->hasUrls()) return paths;
  for (const QUrl& url : Data->urls())
    if (url.isLocalFile()) paths.append(url.toLocalFile());
  return paths;
}

}  // namespace

TMainFormPlayer::TMainFormPlayer(TParts Parts)
    : FParts(std::move(Parts)), FChain(std::make_unique<lirvo::TPlayerChain>(FParts.Decoders)) {
  FComponents = FChain->Components(&FParts.DSound, &FParts.ASIO);

  FModel = new TPlaylistModel(FParts.Playlist, this);
  FView = InstallPlaylistView(FParts.Grid, FModel);
  // Drops land on the grid's viewport; the window decides what they add.
  FView->setAcceptDrops(true);
  FView->viewport()->setAcceptDrops(true);
  FView->setDragDropMode(QAbstractItemView::DropOnly);
  FView->viewport()->installEventFilter(this);
  connect(FView, &QAbstractItemView::doubleClicked, this, [this] { FController->miPlayClick(); });

  FController = std::make_unique<lirvo::TPlaybackController>(FParts.Playlist, FComponents, *this);
  // Rows deleted, added or re-sorted may change the row that follows the
  // playing one, which is already prepared.
  auto listChanged = [this] {
    if (FController) FController->PlaylistChanged();
  };
  connect(FModel, &QAbstractItemModel::rowsRemoved, this, listChanged);
  connect(FModel, &QAbstractItemModel::rowsInserted, this, listChanged);
  connect(FModel, &QAbstractItemModel::layoutChanged, this, listChanged);
  connect(FModel, &QAbstractItemModel::modelReset, this, listChanged);
  // A click or a drag on the progress bar seeks within the playing track.
  FParts.Progress.installEventFilter(this);
  FParts.Progress.setCursor(Qt::PointingHandCursor);
  FParts.Progress.setToolTip(QStringLiteral("点击或拖动以跳到该位置"));
  FClock.setInterval(1000);
  connect(&FClock, &QTimer::timeout, this,
          [this] { FParts.Time.setText(QString::fromStdString(FController->TrackTimeText())); });
}

TMainFormPlayer::~TMainFormPlayer() {
  CancelAdding();
  // No handler of the controller runs from here on.
  FController.reset();
  // The window is being taken down: stop without handling window messages
  // (a synchronous stop still runs the outputs' own calls while it waits).
  for (lirvo::TAuOutput* out : {static_cast<lirvo::TAuOutput*>(&FParts.DSound),
                                static_cast<lirvo::TAuOutput*>(&FParts.ASIO)}) {
    try {
      out->Stop(false);
    } catch (...) {
      // Going away: nothing to report to.
    }
    // The outputs stay with the window; the chain they played goes now.
    out->SetInput(nullptr);
  }
  if (FView) {
    FView->viewport()->removeEventFilter(this);
    // The model goes with this object (before the window's table); the
    // grid, which stays a little longer, must not reach it any more.
    FView->SetPlaylistModel(nullptr);
  }
  FChain.reset();
}

// --- Adding files -------------------------------------------------------------

QString TMainFormPlayer::AddingMessage(uint64_t Files) {
  return QStringLiteral("正在添加文件... 已读取 %1 个").arg(Files);
}

void TMainFormPlayer::AddPaths(const QStringList& Paths) {
  if (Paths.isEmpty()) return;
  FPendingAdds.push_back(ToStd(Paths));
  if (!FAdder) StartNextAdd();
}

bool TMainFormPlayer::Adding() const {
  return FAdder != nullptr || !FPendingAdds.empty();
}

void TMainFormPlayer::CancelAdding() {
  ++FAddGeneration;
  FPendingAdds.clear();
  if (FAdder) {
    FAdder->Cancel();
    FAdder.reset();
  }
}

void TMainFormPlayer::StartNextAdd() {
  if (FPendingAdds.empty()) return;
  std::vector<std::string> paths = std::move(FPendingAdds.front());
  FPendingAdds.pop_front();
  FStatusBeforeAdd = FParts.Status.Text();
  FStatusBeforeAddWasError = FParts.Status.IsError();
  FShownAddingText.clear();
  FLastShownFiles = 0;
  const uint64_t generation = ++FAddGeneration;
  // The worker's batches run on this thread through the event loop; a batch
  // still queued when this object goes is dropped with it.
  QPointer<TMainFormPlayer> self(this);
  auto poster = [self](std::function<void()> Call) {
    // Called on the worker thread: only queue, never touch the window.
    QMetaObject::invokeMethod(self.data(), std::move(Call), Qt::QueuedConnection);
  };
  lirvo::TAsyncAdder::TEvents events;
  events.OnProgress = [this](const lirvo::TAddProgress& p) { AddProgress(p); };
  events.OnDone = [this, generation](const lirvo::TAddProgress& p) {
    // The adder that sent this must not be destroyed inside its own event.
    // By the time this runs, the add may have been cancelled and another
    // one started: that one is not done.
    QMetaObject::invokeMethod(
        this,
        [this, generation, p] {
          if (generation == FAddGeneration) AddDone(p);
        },
        Qt::QueuedConnection);
  };
  FAdder = std::make_unique<lirvo::TAsyncAdder>(FParts.Playlist, std::move(paths), poster, events);
}

void TMainFormPlayer::AddProgress(const lirvo::TAddProgress& Progress) {
  if (!FShownAddingText.isEmpty() &&
      Progress.FilesExamined / kProgressEveryFiles == FLastShownFiles / kProgressEveryFiles)
    return;
  FLastShownFiles = Progress.FilesExamined;
  FShownAddingText = AddingMessage(Progress.FilesExamined);
  FParts.Status.Show(FShownAddingText);
}

void TMainFormPlayer::AddDone(const lirvo::TAddProgress&) {
  FAdder.reset();
  // The progress text gives way to what the status line said before, unless
  // something else (a track starting, an error) has been shown meanwhile.
  if (!FShownAddingText.isEmpty() && FParts.Status.Text() == FShownAddingText) {
    if (FStatusBeforeAddWasError)
      FParts.Status.ShowError(FStatusBeforeAdd);
    else
      FParts.Status.Show(FStatusBeforeAdd);
  }
  FShownAddingText.clear();
  RefreshGrid();
  if (!FPendingAdds.empty()) {
    StartNextAdd();
    return;
  }
  emit addingFinished();
}

void TMainFormPlayer::RefreshGrid() {
  FModel->SetCurrentID(FController->FCurrentID);
  FView->updateGeometry();
  FView->viewport()->update();
}

void TMainFormPlayer::FileDropDrop(const QStringList& Paths) {
  AddPaths(Paths);
}

bool TMainFormPlayer::dbgSongsDragOver(const QMimeData* Data, QObject* Source) const {
  if (Source && (Source == FParts.FileBrowser.filelist || Source == FParts.FileBrowser.dirlist))
    return true;
  // Desktop drops: files and folders of this machine.
  return !LocalPaths(Data).isEmpty();
}

void TMainFormPlayer::dbgSongsDragDrop(const QMimeData* Data, QObject* Source) {
  if (Source && Source == FParts.FileBrowser.filelist) {
    AddPaths(FParts.FileBrowser.SelectedFiles());
  } else if (Source && Source == FParts.FileBrowser.dirlist) {
    const QString folder = FParts.FileBrowser.SelectedFolder();
    if (!folder.isEmpty()) AddPaths({folder});
  } else {
    FileDropDrop(LocalPaths(Data));
  }
}

bool TMainFormPlayer::SeekOnProgressBar(QEvent* Event) {
  QProgressBar& bar = FParts.Progress;
  const QEvent::Type type = Event->type();
  if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove &&
      type != QEvent::MouseButtonRelease)
    return false;
  auto* e = static_cast<QMouseEvent*>(Event);
  if (type == QEvent::MouseButtonPress && e->button() != Qt::LeftButton) return false;
  if (type == QEvent::MouseMove && !(e->buttons() & Qt::LeftButton)) return false;
  if (type == QEvent::MouseButtonRelease && e->button() != Qt::LeftButton) return false;
  const double width = std::max(1, bar.width());
  const double at = std::clamp(e->position().x() / width, 0.0, 1.0);
  // While the button is held the bar shows where the track will go; the seek
  // itself comes with the release, so a drag is one seek, not many.
  bar.setValue(static_cast<int>(std::lround(at * 100.0)));
  if (type == QEvent::MouseButtonRelease) FController->SeekToFraction(at);
  return true;
}

bool TMainFormPlayer::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == &FParts.Progress && SeekOnProgressBar(Event)) return true;
  if (FView && Watched == FView->viewport()) {
    switch (Event->type()) {
      case QEvent::DragEnter:
      case QEvent::DragMove: {
        auto* e = static_cast<QDragMoveEvent*>(Event);
        // The window stops taking drops while it closes.
        if (FView->acceptDrops() && dbgSongsDragOver(e->mimeData(), e->source())) {
          e->setDropAction(Qt::CopyAction);
          e->accept();
        } else {
          e->ignore();
        }
        return true;
      }
      case QEvent::Drop: {
        auto* e = static_cast<QDropEvent*>(Event);
        if (!FView->acceptDrops() || !dbgSongsDragOver(e->mimeData(), e->source())) {
          e->ignore();
          return true;
        }
        e->setDropAction(Qt::CopyAction);
        e->accept();
        dbgSongsDragDrop(e->mimeData(), e->source());
        return true;
      }
      default:
        break;
    }
  }
  return QObject::eventFilter(Watched, Event);
}

// --- The controller's view of the window -------------------------------------------

void TMainFormPlayer::DispMessage(const std::string& Text) {
  FParts.Status.Show(QString::fromStdString(Text));
}

void TMainFormPlayer::DispErrorMessage(const std::string& Text) {
  FParts.Status.ShowError(QString::fromStdString(Text));
}

void TMainFormPlayer::SetProgress(int Percent) {
  // An output that does not know its length reports -1.
  FParts.Progress.setValue(Percent < 0 ? 0 : Percent > 100 ? 100 : Percent);
}

void TMainFormPlayer::SetTrackClock(bool Running) {
  if (Running)
    FClock.start();
  else
    FClock.stop();
  FParts.Time.setText(QString::fromStdString(FController->TrackTimeText()));
}

void TMainFormPlayer::ProcessMessages() {
  QCoreApplication::processEvents();
  // The outputs' events, also where no Qt hook wakes the event loop for them.
  lirvo::CheckSynchronize(std::chrono::milliseconds(0));
}

bool TMainFormPlayer::FilterHasFocus() {
  return FParts.Filter && FParts.Filter->hasFocus();
}

void TMainFormPlayer::ApplyFilter() {
  FParts.FileBrowser.btnApplyFilterClick();
}

void TMainFormPlayer::ClearSelection() {
  FView->clearSelection();
}

void TMainFormPlayer::RepaintGrid() {
  // Every start of a track passes here: the playing row's mark follows.
  FModel->SetCurrentID(FController->FCurrentID);
  FView->viewport()->repaint();
}

void TMainFormPlayer::BeginGridUpdate() {
  if (FGridUpdateDepth++ == 0) FView->setUpdatesEnabled(false);
}

void TMainFormPlayer::EndGridUpdate() {
  if (FGridUpdateDepth > 0 && --FGridUpdateDepth == 0) {
    FView->setUpdatesEnabled(true);
    // Re-enabling repaints the grid itself, not its row indicator, whose
    // update requests were dropped while updates were off.
    FView->verticalHeader()->viewport()->update();
  }
}

void TMainFormPlayer::SetTimerResolution(uint32_t Resolution100ns, bool Set) {
  if (FParts.SetTimerResolution) FParts.SetTimerResolution(Resolution100ns, Set);
}
