#pragma once
// The controls and menus of the main window and the code that lays them out.
// The window inherits TMainFormWidgets, so its code names each control
// directly (lblDisp, btnPlay, miPlay, ...); each widget's objectName is the
// same name.

#include <QStringList>
#include <optional>

class QAction;
class QComboBox;
class QLineEdit;
class QListView;
class QMainWindow;
class QMenu;
class QProgressBar;
class QPushButton;
class QSplitter;
class QStatusBar;
class QLabel;
class QTableView;
class QWidget;
class TClickLabel;
class TFileBrowserPane;

struct TMainFormWidgets {
  // Control panel.
  QWidget* pnlControl = nullptr;
  TClickLabel* lblDisp = nullptr;
  QProgressBar* pbPlayProgress = nullptr;
  QLabel* lblTime = nullptr;  // the playing track's time, beside the transport
  QPushButton* btnRunCMD = nullptr;
  QPushButton* btnSndVol = nullptr;
  QPushButton* btnReboot = nullptr;
  QPushButton* btnShutdown = nullptr;
  QPushButton* btnPrior = nullptr;
  QPushButton* btnStop = nullptr;
  QPushButton* btnPlay = nullptr;
  QPushButton* btnPause = nullptr;
  QPushButton* btnNext = nullptr;

  // Main area: the file browser on the left, the playlist grid on the right.
  // pnlLeft is the file browser; the controls below are its own.
  QSplitter* splLeft = nullptr;
  TFileBrowserPane* FileBrowser = nullptr;
  QWidget* pnlLeft = nullptr;
  QComboBox* dirvelist = nullptr;
  QListView* dirlist = nullptr;
  QSplitter* splFileView = nullptr;
  QWidget* pFileFilter = nullptr;
  QLineEdit* edtFilter = nullptr;
  QPushButton* btnApplyFilter = nullptr;
  QListView* filelist = nullptr;
  QWidget* pnlSong = nullptr;
  QTableView* dbgSongs = nullptr;
  QStatusBar* statBar = nullptr;

  // Menus.
  QMenu* muLVP = nullptr;
  QAction* miConfig = nullptr;
  QAction* miRegShell = nullptr;
  QAction* miRestoreShell = nullptr;
  QAction* miKernelLock = nullptr;
  QAction* miRunCMD = nullptr;
  QAction* miRunSndVol = nullptr;
  QAction* miReboot = nullptr;
  QAction* miShutdown = nullptr;
  QAction* miRestart = nullptr;
  QAction* miClose = nullptr;
  QMenu* muCtrl = nullptr;
  QAction* miStop = nullptr;
  QAction* miPlay = nullptr;
  QAction* miPause = nullptr;
  QAction* miPrior = nullptr;
  QAction* miNext = nullptr;
  QAction* miSeekBack = nullptr;
  QAction* miSeekForward = nullptr;
  QMenu* muPlaylist = nullptr;
  QAction* miSelectAll = nullptr;
  QAction* miDelete = nullptr;
  QAction* miClear = nullptr;
  QAction* miResetColumns = nullptr;
  QMenu* muHelp = nullptr;
  QAction* miHelp = nullptr;
};

// Creates every control and menu of the form, lays them out and stores the
// pointers in w. Connects nothing but the file browser's own controls: the
// window wires the handlers. DriveRoots are the file browser's drives
// (nullopt: the system's).
void BuildMainFormWidgets(QMainWindow* form, TMainFormWidgets& w,
                          const std::optional<QStringList>& DriveRoots = std::nullopt);
