#include "MainWindowLayout.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QVBoxLayout>

#include "ClickLabel.h"
#include "FileBrowserPane.h"

namespace {

constexpr int kControlPanelHeight = 73;
// Tall enough to hit with the mouse: a click or a drag seeks.
constexpr int kProgressHeight = 12;
constexpr int kButtonWidth = 59;
constexpr int kButtonHeight = 23;
constexpr int kInnerMargin = 8;  // left, right and bottom of the client area
constexpr int kSplitterHandle = 6;
constexpr int kLeftPaneWidth = 185;
// Large enough that the other side of a splitter takes all remaining space
// until the first real resize distributes it.
constexpr int kRestOfSplitter = 100000;

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, int width,
                        int height) {
  auto* button = Named(new QPushButton(caption, parent), name);
  button->setFixedSize(width, height);
  return button;
}

// A splitter whose sides may shrink to one pixel but never vanish.
QSplitter* MakeSplitter(Qt::Orientation orientation, QWidget* parent, const char* name) {
  auto* splitter = Named(new QSplitter(orientation, parent), name);
  splitter->setHandleWidth(kSplitterHandle);
  splitter->setChildrenCollapsible(false);
  splitter->setOpaqueResize(true);
  return splitter;
}

void AddToSplitter(QSplitter* splitter, QWidget* child, int stretch) {
  if (splitter->orientation() == Qt::Horizontal) {
    child->setMinimumWidth(1);
  } else {
    child->setMinimumHeight(1);
  }
  splitter->addWidget(child);
  splitter->setStretchFactor(splitter->indexOf(child), stretch);
}

QWidget* BuildControlPanel(QWidget* parent, TMainFormWidgets& w) {
  auto* panel = Named(new QWidget(parent), "pnlControl");
  panel->setFixedHeight(kControlPanelHeight);

  w.lblDisp = Named(new TClickLabel(panel), "lblDisp");
  w.lblDisp->setAlignment(Qt::AlignCenter);
  w.lblDisp->setCursor(Qt::PointingHandCursor);
  w.lblDisp->setTextFormat(Qt::PlainText);  // file names are shown as they are
  // A long message must not widen the window: the line is as wide as the
  // panel and clips what does not fit.
  w.lblDisp->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);

  w.pbPlayProgress = Named(new QProgressBar(panel), "pbPlayProgress");
  w.pbPlayProgress->setRange(0, 100);
  w.pbPlayProgress->setValue(0);
  w.pbPlayProgress->setTextVisible(false);
  w.pbPlayProgress->setFixedHeight(kProgressHeight);

  auto* buttons = new QHBoxLayout;
  buttons->setContentsMargins(0, 0, 0, 0);
  buttons->setSpacing(4);
  auto button = [&](const char* name, const char* caption) {
    QPushButton* b =
        MakeButton(panel, name, QString::fromUtf8(caption), kButtonWidth, kButtonHeight);
    buttons->addWidget(b);
    return b;
  };
  // System commands on the left, shown only when the player is the session.
  w.btnRunCMD = button("btnRunCMD", "命令行");
  w.btnSndVol = button("btnSndVol", "音量");
  w.btnReboot = button("btnReboot", "重启");
  w.btnShutdown = button("btnShutdown", "关机");
  for (QPushButton* b : {w.btnRunCMD, w.btnSndVol, w.btnReboot, w.btnShutdown})
    b->hide();
  buttons->addStretch(1);
  // The track's time, left of the transport buttons it belongs with.
  w.lblTime = Named(new QLabel(panel), "lblTime");
  w.lblTime->setTextFormat(Qt::PlainText);
  w.lblTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  buttons->addWidget(w.lblTime);
  buttons->addSpacing(8);
  // Transport, kept at the right edge.
  w.btnPrior = button("btnPrior", "上一首");
  w.btnStop = button("btnStop", "停止");
  w.btnPlay = button("btnPlay", "播放");
  w.btnPause = button("btnPause", "暂停");
  w.btnNext = button("btnNext", "下一首");

  auto* column = new QVBoxLayout(panel);
  column->setContentsMargins(0, 8, 0, 6);
  column->setSpacing(0);
  column->addWidget(w.lblDisp);
  column->addSpacing(4);
  column->addWidget(w.pbPlayProgress);
  column->addStretch(1);
  column->addLayout(buttons);
  return panel;
}

QWidget* BuildFileBrowser(QWidget* parent, TMainFormWidgets& w,
                          const std::optional<QStringList>& DriveRoots) {
  w.FileBrowser =
      DriveRoots ? new TFileBrowserPane(*DriveRoots, parent) : new TFileBrowserPane(parent);
  w.pnlLeft = w.FileBrowser;
  w.dirvelist = w.FileBrowser->dirvelist;
  w.dirlist = w.FileBrowser->dirlist;
  w.splFileView = w.FileBrowser->splFileView;
  w.pFileFilter = w.FileBrowser->pFileFilter;
  w.edtFilter = w.FileBrowser->edtFilter;
  w.btnApplyFilter = w.FileBrowser->btnApplyFilter;
  w.filelist = w.FileBrowser->filelist;
  return w.pnlLeft;
}

QWidget* BuildPlaylistPane(QWidget* parent, TMainFormWidgets& w) {
  w.pnlSong = Named(new QWidget(parent), "pnlSong");
  w.dbgSongs = Named(new QTableView(w.pnlSong), "dbgSongs");
  auto* column = new QVBoxLayout(w.pnlSong);
  column->setContentsMargins(0, 0, 0, 0);
  column->addWidget(w.dbgSongs);
  return w.pnlSong;
}

QAction* AddItem(QMenu* menu, const char* name, const char* caption,
                 const QList<QKeySequence>& shortcuts = {}) {
  QAction* item = menu->addAction(QString::fromUtf8(caption));
  item->setObjectName(QString::fromLatin1(name));
  item->setShortcuts(shortcuts);
  return item;
}

QMenu* AddMenu(QMainWindow* form, const char* name, const char* caption) {
  QMenu* menu = form->menuBar()->addMenu(QString::fromUtf8(caption));
  menu->setObjectName(QString::fromLatin1(name));
  return menu;
}

void BuildMenus(QMainWindow* form, TMainFormWidgets& w) {
  form->menuBar()->setObjectName(QStringLiteral("mmMain"));

  w.muLVP = AddMenu(form, "muLVP", "Lirvo");
  w.miConfig = AddItem(w.muLVP, "miConfig", "参数设置", {QKeySequence(Qt::CTRL | Qt::Key_P)});
  w.muLVP->addSeparator();
  w.miRegShell = AddItem(w.muLVP, "miRegShell", "注册 Shell (Lirvo Audio OS)");
  w.miRestoreShell = AddItem(w.muLVP, "miRestoreShell", "恢复 Shell (Lirvo Audio OS)");
  w.miKernelLock = AddItem(w.muLVP, "miKernelLock", "内核锁定模式 (Lirvo Audio OS)");
  w.miKernelLock->setCheckable(true);
  for (QAction* item : {w.miRegShell, w.miRestoreShell, w.miKernelLock})
    item->setEnabled(false);
  w.miRunCMD = AddItem(w.muLVP, "miRunCMD", "运行 CMD");
  w.miRunSndVol = AddItem(w.muLVP, "miRunSndVol", "运行 SndVol");
  w.muLVP->addSeparator();
  w.miReboot = AddItem(w.muLVP, "miReboot", "重启系统");
  w.miShutdown = AddItem(w.muLVP, "miShutdown", "关机");
  w.muLVP->addSeparator();
  w.miRestart = AddItem(w.muLVP, "miRestart", "重启Lirvo");
  w.miClose = AddItem(w.muLVP, "miClose", "关闭Lirvo");

  w.muCtrl = AddMenu(form, "muCtrl", "控制");
  w.miStop = AddItem(w.muCtrl, "miStop", "停止", {QKeySequence(Qt::Key_Escape)});
  // Both Enter keys play; the keypad one comes first so the menu shows "Enter".
  w.miPlay = AddItem(w.muCtrl, "miPlay", "播放",
                     {QKeySequence(Qt::Key_Enter), QKeySequence(Qt::Key_Return)});
  w.miPause = AddItem(w.muCtrl, "miPause", "暂停/恢复", {QKeySequence(Qt::Key_Space)});
  w.miPrior = AddItem(w.muCtrl, "miPrior", "上一首", {QKeySequence(Qt::CTRL | Qt::Key_Left)});
  w.miNext = AddItem(w.muCtrl, "miNext", "下一首", {QKeySequence(Qt::CTRL | Qt::Key_Right)});
  // Alt with the arrows: the grid keeps the plain arrows, Ctrl moves between
  // rows.
  w.miSeekBack =
      AddItem(w.muCtrl, "miSeekBack", "后退10秒", {QKeySequence(Qt::ALT | Qt::Key_Left)});
  w.miSeekForward =
      AddItem(w.muCtrl, "miSeekForward", "前进10秒", {QKeySequence(Qt::ALT | Qt::Key_Right)});

  w.muPlaylist = AddMenu(form, "muPlaylist", "播放列表");
  w.miSelectAll = AddItem(w.muPlaylist, "miSelectAll", "全选");
  w.miDelete = AddItem(w.muPlaylist, "miDelete", "删除");
  w.miClear = AddItem(w.muPlaylist, "miClear", "清除");
  w.muPlaylist->addSeparator();
  w.miResetColumns =
      AddItem(w.muPlaylist, "miResetColumns", "重置栏目", {QKeySequence(Qt::CTRL | Qt::Key_R)});

  w.muHelp = AddMenu(form, "muHelp", "帮助");
  w.miHelp = AddItem(w.muHelp, "miHelp", "操作指南", {QKeySequence(Qt::Key_F1)});
}

}  // namespace

void BuildMainFormWidgets(QMainWindow* form, TMainFormWidgets& w,
                          const std::optional<QStringList>& DriveRoots) {
  BuildMenus(form, w);

  auto* client = Named(new QWidget(form), "pnlClient");
  auto* column = new QVBoxLayout(client);
  column->setContentsMargins(kInnerMargin, 0, kInnerMargin, kInnerMargin);
  column->setSpacing(0);
  w.pnlControl = BuildControlPanel(client, w);
  column->addWidget(w.pnlControl);

  w.splLeft = MakeSplitter(Qt::Horizontal, client, "splLeft");
  AddToSplitter(w.splLeft, BuildFileBrowser(w.splLeft, w, DriveRoots), 0);
  AddToSplitter(w.splLeft, BuildPlaylistPane(w.splLeft, w), 1);
  w.splLeft->setSizes({kLeftPaneWidth, kRestOfSplitter});
  column->addWidget(w.splLeft, 1);
  form->setCentralWidget(client);

  w.statBar = Named(new QStatusBar(form), "statBar");
  form->setStatusBar(w.statBar);
}
