#include "UnitMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTableView>
#include <utility>

#include "AppShell.h"
#include "ClickLabel.h"

TLVPMainForm* LVPMainForm = nullptr;

namespace {

constexpr int kClientWidth = 624;
constexpr int kClientHeight = 342;
constexpr int kMinWidth = 640;
constexpr int kMinHeight = 400;
constexpr int kFontPixelSize = 12;

const char kDefaultFileMask[] = "*.wav;*.cue;*.flac;*.ape;*.mp3;*.wma";
const char kErrorStyle[] = "color: #FF0000;";

}  // namespace

TLVPMainForm::TLVPMainForm(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("LVPMainForm"));
  QFont font(QStringLiteral("Tahoma"));
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Noto Sans CJK SC")});
  font.setPixelSize(kFontPixelSize);
  setFont(font);

  BuildMainFormWidgets(this, *this);
  setMinimumSize(kMinWidth, kMinHeight);
  // Qt's minimum bounds the client area, not the framed window, so the
  // minimum wins over the smaller initial client size: the window opens at
  // 640 x 400.
  resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());

  ConnectHandlers();
  // Every key reaches the window before the focused control.
  qApp->installEventFilter(this);
  LVPMainForm = this;
  FormCreate();
}

TLVPMainForm::~TLVPMainForm() {
  if (qApp) qApp->removeEventFilter(this);
  if (LVPMainForm == this) LVPMainForm = nullptr;
}

void TLVPMainForm::ConnectHandlers() {
  connect(lblDisp, &TClickLabel::clicked, this, &TLVPMainForm::lblDispClick);
  connect(muLVP, &QMenu::aboutToShow, this, &TLVPMainForm::muLVPClick);

  const std::pair<QAction*, void (TLVPMainForm::*)()> items[] = {
      {miConfig, &TLVPMainForm::miConfigClick},
      {miRegShell, &TLVPMainForm::miRegShellClick},
      {miRestoreShell, &TLVPMainForm::miRestoreShellClick},
      {miKernelLock, &TLVPMainForm::miKernelLockClick},
      {miRunCMD, &TLVPMainForm::miRunCMDClick},
      {miRunSndVol, &TLVPMainForm::miRunSndVolClick},
      {miReboot, &TLVPMainForm::miRebootClick},
      {miShutdown, &TLVPMainForm::miShutdownClick},
      {miRestart, &TLVPMainForm::miRestartClick},
      {miClose, &TLVPMainForm::miCloseClick},
      {miStop, &TLVPMainForm::miStopClick},
      {miPlay, &TLVPMainForm::miPlayClick},
      {miPause, &TLVPMainForm::miPauseClick},
      {miPrior, &TLVPMainForm::miPriorClick},
      {miNext, &TLVPMainForm::miNextClick},
      {miSelectAll, &TLVPMainForm::miSelectAllClick},
      {miDelete, &TLVPMainForm::miDeleteClick},
      {miClear, &TLVPMainForm::miClearClick},
      {miResetColumns, &TLVPMainForm::miResetColumnsClick},
      {miHelp, &TLVPMainForm::miHelpClick},
  };
  for (const auto& [item, handler] : items)
    connect(item, &QAction::triggered, this, handler);

  const std::pair<QPushButton*, void (TLVPMainForm::*)()> buttons[] = {
      {btnRunCMD, &TLVPMainForm::miRunCMDClick}, {btnSndVol, &TLVPMainForm::miRunSndVolClick},
      {btnReboot, &TLVPMainForm::miRebootClick}, {btnShutdown, &TLVPMainForm::miShutdownClick},
      {btnPrior, &TLVPMainForm::miPriorClick},   {btnStop, &TLVPMainForm::miStopClick},
      {btnPlay, &TLVPMainForm::miPlayClick},     {btnPause, &TLVPMainForm::miPauseClick},
      {btnNext, &TLVPMainForm::miNextClick},
  };
  for (const auto& [button, handler] : buttons) {
    connect(button, &QPushButton::clicked, this, handler);
  }
}

void TLVPMainForm::FormCreate() {
  setWindowTitle(AppTitle());
  DispMessage(windowTitle());
  SetOutputThreadPriorities();
  BuildDeviceLists();
  SetASIOHostWindow();
  miResetColumnsClick();
  LoadSettings();
  LoadPlaylist();
  OptimizeSystem();
  if (IsShell()) ShowSystemButtons();
  edtFilter->setText(QString::fromLatin1(kDefaultFileMask));
  edtFilter->setCursorPosition(0);  // show the start of the mask, not its end
}

void TLVPMainForm::closeEvent(QCloseEvent* event) {
  FormClose();
  QMainWindow::closeEvent(event);
}

void TLVPMainForm::FormClose() {
  dbgSongs->setAcceptDrops(false);
  StopAudioOut();
  SaveSettings();
  SavePlaylist();
  FreeDeviceLists();
  NormalizeSystem();
}

void TLVPMainForm::DispMessage(const QString& text) {
  if (FStatusIsError) {
    lblDisp->setStyleSheet(QString());
    FStatusIsError = false;
  }
  lblDisp->setText(text);
  lblDisp->repaint();
}

void TLVPMainForm::DispErrorMessage(const QString& text) {
  if (!FStatusIsError) {
    // A sheet of the label's own wins over the theme's text colour.
    lblDisp->setStyleSheet(QString::fromLatin1(kErrorStyle));
    FStatusIsError = true;
  }
  lblDisp->setText(text);
  lblDisp->repaint();
}

bool TLVPMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
    // A key travels from the focused control up through its parents and
    // passes this filter at every step; the window looks at it once, at the
    // first step, and only for its own controls.
    auto* target = static_cast<QWidget*>(watched);
    QWidget* first = QApplication::focusWidget() ? QApplication::focusWidget() : this;
    if (target == first && target->window() == this) {
      if (FormKeyDown(static_cast<QKeyEvent*>(event))) return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

bool TLVPMainForm::FormKeyDown(const QKeyEvent* event) {
  const Qt::KeyboardModifiers mods =
      event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  if (event->key() == Qt::Key_K && mods == (Qt::ControlModifier | Qt::AltModifier)) {
    miKernelLockClick();
  }
  // The key goes on to the focused control.
  return false;
}

void TLVPMainForm::lblDispClick() {
  // Locating the playing row in the grid comes here.
}

void TLVPMainForm::muLVPClick() {
  miKernelLock->setChecked(FOptimizeOption.KernelLockMode);
}

void TLVPMainForm::miConfigClick() {
  // The settings dialog opens here.
}

void TLVPMainForm::miRegShellClick() {
  // Registering the player as the session program comes here.
}

void TLVPMainForm::miRestoreShellClick() {
  // Restoring the previous session program comes here.
}

void TLVPMainForm::miKernelLockClick() {
  // Kernel lock mode has no effect on this system.
}

void TLVPMainForm::miRunCMDClick() {
  // Starting a terminal comes here.
}

void TLVPMainForm::miRunSndVolClick() {
  // Starting the volume mixer comes here.
}

void TLVPMainForm::miRebootClick() {
  // Saving and restarting the machine comes here.
}

void TLVPMainForm::miShutdownClick() {
  // Saving and powering the machine off comes here.
}

void TLVPMainForm::miRestartClick() {
  // Saving and starting a new instance of the player comes here.
}

void TLVPMainForm::miCloseClick() {
  close();
}

void TLVPMainForm::miStopClick() {
  // Stopping playback comes here.
}

void TLVPMainForm::miPlayClick() {
  // Playing the current row (or applying the filter from its box) comes here.
}

void TLVPMainForm::miPauseClick() {
  // Pausing and resuming comes here.
}

void TLVPMainForm::miPriorClick() {
  // Playing the previous row comes here.
}

void TLVPMainForm::miNextClick() {
  // Playing the next row comes here.
}

void TLVPMainForm::miSelectAllClick() {
  // Selecting every playlist row comes here.
}

void TLVPMainForm::miDeleteClick() {
  // Deleting the selected playlist rows comes here.
}

void TLVPMainForm::miClearClick() {
  // Emptying the playlist comes here.
}

void TLVPMainForm::miResetColumnsClick() {
  // Rebuilding the grid's columns with their default titles and widths comes here.
}

void TLVPMainForm::miHelpClick() {
  // The user guide dialog opens here.
}

void TLVPMainForm::StopAudioOut() {
  // Stopping both outputs synchronously comes here.
}

void TLVPMainForm::OptimizeSystem() {
  // Raising the player's priority and tuning the other processes comes here.
}

void TLVPMainForm::NormalizeSystem() {
  // Putting back the priorities and affinities found before tuning comes here.
}

bool TLVPMainForm::IsShell() {
  // The check whether the player is the session program comes here; until
  // then the system buttons stay hidden.
  return false;
}

void TLVPMainForm::SetOutputThreadPriorities() {
  // Both outputs' playback threads are made time-critical here.
}

void TLVPMainForm::BuildDeviceLists() {
  // The outputs' device names are listed here, once per run.
}

void TLVPMainForm::FreeDeviceLists() {
  FDSoundDeviceList.clear();
  FASIODeviceList.clear();
}

void TLVPMainForm::SetASIOHostWindow() {
  // The direct-driver output is given this window as its host here.
}

void TLVPMainForm::LoadSettings() {
  // Reading the settings file comes here.
}

void TLVPMainForm::SaveSettings() {
  // Writing the settings file comes here.
}

void TLVPMainForm::LoadPlaylist() {
  // Reading the playlist file comes here.
}

void TLVPMainForm::SavePlaylist() {
  // Writing the playlist file comes here.
}

void TLVPMainForm::ShowSystemButtons() {
  for (QPushButton* button : {btnRunCMD, btnSndVol, btnReboot, btnShutdown})
    button->show();
}
