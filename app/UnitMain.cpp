#include "UnitMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <utility>

#include <QDir>
#include <filesystem>

#include "AppShell.h"
#include "AsioControlPanel.h"
#include "ClickLabel.h"
#include "FileBrowserPane.h"
#include "MainFormPlayer.h"
#include "MainFormSettings.h"
#include "PlaylistView.h"
#include "UnitConfig.h"
#include "UnitHelp.h"
#include "app/logic/playlist/PlaylistFile.h"
#include "app/logic/settings/Settings.h"
#include "audio/core/AuException.h"
#include "audio/core/ThreadSetup.h"
#include "audio/outputs/AuASIO.h"
#include "audio/outputs/DSAudioOut.h"

TLVPMainForm* LVPMainForm = nullptr;

namespace {

constexpr int kClientWidth = 624;
constexpr int kClientHeight = 342;
constexpr int kMinWidth = 640;
constexpr int kMinHeight = 400;
constexpr int kFontPixelSize = 12;

QString FromUtf8(const std::string& text) {
  return QString::fromStdString(text);
}

class TNoProcesses final : public lirvo::IProcessSource {
 public:
  std::vector<pid_t> GetProcessIdList() override { return {}; }
};

class TRefusingRunner final : public lirvo::ICommandRunner {
 public:
  bool StartDetached(const std::string&, const std::vector<std::string>&) override { return false; }
  bool Run(const std::string&, const std::vector<std::string>&) override { return false; }
  bool IsInstalled(const std::string&) override { return false; }
};

// The shared output's calibrated latency into an existing settings file
// ([System] DSoundLatency, where LoadSettings reads it). Called when the
// output goes away, after the window's own SaveSettings; a failure is
// ignored as the output ignores it, since the value was saved already.
void StoreCalibratedLatency(const std::string& IniFile, int32_t Milliseconds) {
  if (IniFile.empty() || Milliseconds <= 0) return;
  try {
    std::optional<lirvo::TIniDocument> doc = lirvo::LoadIniFile(IniFile);
    if (!doc) return;  // nothing saved yet: the next start keeps its defaults
    if (doc->ReadInteger("System", "DSoundLatency", -1) == Milliseconds) return;
    doc->WriteInteger("System", "DSoundLatency", Milliseconds);
    lirvo::SaveIniFile(IniFile, *doc);
  } catch (const std::exception&) {
  }
}

}  // namespace

TMainFormServices TMainFormServices::Current() {
  TMainFormServices s;
  s.Paths = lirvo::CurrentAppPathEnvironment();
  s.Processes = std::make_shared<lirvo::TProcFsProcessSource>();
  s.OptimizerEnv = lirvo::TOptimizerEnvironment::Current();  // loads the process utilities
  s.ProcessorCount = lirvo::CpuCount.load();
  s.Runner = std::make_shared<lirvo::TSystemCommandRunner>();
  s.ShellFiles = lirvo::CurrentShellFiles();
  s.PlayerPath = lirvo::CurrentExecutablePath();
  s.Quit = [] { QCoreApplication::exit(0); };
  return s;
}

TLVPMainForm::TLVPMainForm(TMainFormServices Services, QWidget* parent)
    : QMainWindow(parent), FServices(std::move(Services)) {
  setObjectName(QStringLiteral("LVPMainForm"));
  // What a caller leaves out touches nothing outside the process: only
  // Current() reaches the machine's processes and starts programs.
  if (!FServices.Processes) FServices.Processes = std::make_shared<TNoProcesses>();
  if (!FServices.Runner) FServices.Runner = std::make_shared<TRefusingRunner>();

  QFont font(QStringLiteral("Tahoma"));
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Noto Sans CJK SC")});
  font.setPixelSize(kFontPixelSize);
  setFont(font);

  BuildMainFormWidgets(this, *this, FServices.DriveRoots);
  FStatus = std::make_unique<TLabelStatusLine>(*lblDisp);
  setMinimumSize(kMinWidth, kMinHeight);
  // Qt's minimum bounds the client area, not the framed window, so the
  // minimum wins over the smaller initial client size: the window opens at
  // 640 x 400.
  resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());

  // The components, with their initial values; each output's playback
  // thread starts asleep.
  FDSound = FServices.DSoundDevices
                ? std::make_unique<lirvo::TDSAudioOut>(nullptr, *FServices.DSoundDevices)
                : std::make_unique<lirvo::TDSAudioOut>(nullptr);
  FDSound->SetName("DSound");
  FDSound->SetDeviceNumber(0);
  FDSound->SetCalibrate(true);
  FDSound->SetLatency(100);
  FDSound->SetSpeedFactor(1.0f);
  // The latency the output calibrated itself to is kept in the settings
  // file when the output goes away (SaveSettings keeps it as well).
  FDSound->SetINIFile(lirvo::GetSettingsFileName(FServices.Paths));
  FDSound->SetOnStoreLatency([](const lirvo::TLatencyStore& Entry) {
    StoreCalibratedLatency(Entry.IniFile, Entry.Value);
  });
  FASIO = std::make_unique<lirvo::TASIOAudioOut>(nullptr, FServices.Audio.Outputs);
  FASIO->SetName("ASIO");
  FASIO->SetASIOBufferSize(lirvo::absPreferred);
  // The driver reset needs nothing of the window.
  FASIO->SetOnDriverReset([](lirvo::TComponent*) {});
  FOptimizer =
      std::make_unique<lirvo::TSystemOptimizer>(*FServices.Processes, FServices.OptimizerEnv);
  // The other components, the controller and the playlist grid; the grid
  // is in place before anything reads or sets its columns.
  FPlayer = std::make_unique<TMainFormPlayer>(TMainFormPlayer::TParts{
      .DSound = *FDSound,
      .ASIO = *FASIO,
      .Playlist = FPlaylist,
      .Status = *FStatus,
      .Grid = dbgSongs,
      .Progress = *pbPlayProgress,
      .Time = *lblTime,
      .Filter = edtFilter,
      .FileBrowser = *FileBrowser,
      .SetTimerResolution = FServices.OptimizerEnv.SetTimerResolution,
      .Decoders = FServices.Audio.Decoders,
  });
  FSettingsTarget = std::make_unique<TMainFormSettingsTarget>(TMainFormSettingsTarget::TParts{
      .Window = *this,
      .LeftSplitter = *splLeft,
      .FileBrowser = *FileBrowser,
      .Grid = *dbgSongs,
      .Playback = FPlayer->Controller(),
      .DSound = *FDSound,
      .ASIO = *FASIO,
      .Optimize = FOptimizeOption,
      .OptimizeSystem = [this] { OptimizeSystem(); },
      .NormalizeSystem = [this] { NormalizeSystem(); },
  });
  FOutputs =
      std::make_unique<TMainFormOutputs>(*FDSound, *FASIO, FDSoundDeviceList, FASIODeviceList);

  ConnectHandlers();
  // Every key reaches the window before the focused control.
  qApp->installEventFilter(this);
  LVPMainForm = this;
  FormCreate();
}

TLVPMainForm::~TLVPMainForm() {
  if (qApp) qApp->removeEventFilter(this);
  if (FAsioPanel) lirvo::SetAsioControlPanel(nullptr);
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
      {miSeekBack, &TLVPMainForm::miSeekBackClick},
      {miSeekForward, &TLVPMainForm::miSeekForwardClick},
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
  connect(FileBrowser, &TFileBrowserPane::filesChosen, this, &TLVPMainForm::FilesChosenFromBrowser);
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
  // Asked once: the buttons stay as decided now until the next start.
  FIsShell = IsShell();
  if (FIsShell) ShowSystemButtons();
  edtFilter->setText(FileBrowser->Mask());
  edtFilter->setCursorPosition(0);  // show the start of the mask, not its end
}

void TLVPMainForm::closeEvent(QCloseEvent* event) {
  FormClose();
  QMainWindow::closeEvent(event);
}

void TLVPMainForm::FormClose() {
  dbgSongs->setAcceptDrops(false);
  // Rows still being read would arrive after the playlist is saved.
  FPlayer->CancelAdding();
  StopAudioOut();
  SaveSettings();
  SavePlaylist();
  FreeDeviceLists();
  NormalizeSystem();
}

void TLVPMainForm::DispMessage(const QString& text) {
  FStatus->Show(text);
}

void TLVPMainForm::DispErrorMessage(const QString& text) {
  FStatus->ShowError(text);
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
  FPlayer->Controller().lblDispClick();
}

void TLVPMainForm::muLVPClick() {
  miKernelLock->setChecked(FOptimizeOption.KernelLockMode);
}

void TLVPMainForm::miConfigClick() {
  ExecConfigDialog(this, *FSettingsTarget, *FOutputs, FServices.ProcessorCount,
                   [this] { miStopClick(); });
}

void TLVPMainForm::miRegShellClick() {
  lirvo::RegisterShell(FServices.PlayerPath, FServices.ShellFiles);
}

void TLVPMainForm::miRestoreShellClick() {
  lirvo::RestoreShell(FServices.ShellFiles);
}

void TLVPMainForm::miKernelLockClick() {
  // Kernel lock mode has no effect on this system.
}

// A program that cannot be started fails silently.
void TLVPMainForm::miRunCMDClick() {
  lirvo::RunTerminal(*FServices.Runner);
}

void TLVPMainForm::miRunSndVolClick() {
  lirvo::RunMixer(*FServices.Runner);
}

lirvo::TSaveSteps TLVPMainForm::SaveSteps() {
  // A file that could not be written stops the command before the machine
  // or the player goes away, so nothing is lost unnoticed.
  return {[this] { StopAudioOut(); },
          [this] {
            if (!SaveSettings()) throw lirvo::EAuException("The settings could not be saved");
          },
          [this] {
            if (!SavePlaylist()) throw lirvo::EAuException("The playlist could not be saved");
          }};
}

template <typename Fn>
void TLVPMainForm::RunSystemCommand(Fn&& Command) {
  try {
    Command();
  } catch (const std::exception& e) {
    DispErrorMessage(FromUtf8(e.what()));
  }
}

void TLVPMainForm::miRebootClick() {
  // The window stays and the system stays tuned: the machine's restart ends
  // the process. A refused request leaves the player stopped and saved.
  RunSystemCommand([this] { lirvo::SaveAndShutdown(SaveSteps(), *FServices.Runner, true); });
}

void TLVPMainForm::miShutdownClick() {
  RunSystemCommand([this] { lirvo::SaveAndShutdown(SaveSteps(), *FServices.Runner, false); });
}

void TLVPMainForm::miRestartClick() {
  lirvo::TSaveSteps steps = SaveSteps();
  // The optimiser puts back what it found; the new instance records what it
  // finds at its start. Left tuned, the other processes would be recorded at
  // idle and stay there after the new instance closes, so they are put back
  // before it starts (it tunes them again at once).
  steps.SavePlaylist = [save = std::move(steps.SavePlaylist), this] {
    save();
    NormalizeSystem();
  };
  RunSystemCommand([&] {
    const auto quit = FServices.Quit ? FServices.Quit : [] { QCoreApplication::exit(0); };
    if (!lirvo::SaveAndRestart(steps, *FServices.Runner, FServices.PlayerPath, quit)) {
      // This instance stays; tune the system for it again.
      OptimizeSystem();
    }
  });
}

void TLVPMainForm::miCloseClick() {
  close();
}

void TLVPMainForm::miStopClick() {
  FPlayer->Controller().miStopClick();
}

void TLVPMainForm::miPlayClick() {
  FPlayer->Controller().miPlayClick();
}

void TLVPMainForm::miPauseClick() {
  FPlayer->Controller().miPauseClick();
}

void TLVPMainForm::miPriorClick() {
  FPlayer->Controller().miPriorClick();
}

void TLVPMainForm::miNextClick() {
  FPlayer->Controller().miNextClick();
}

namespace {
// How far the seek keys move within the track.
constexpr double kSeekStepSeconds = 10.0;
}  // namespace

void TLVPMainForm::miSeekBackClick() {
  FPlayer->Controller().SeekBy(-kSeekStepSeconds);
}

void TLVPMainForm::miSeekForwardClick() {
  FPlayer->Controller().SeekBy(kSeekStepSeconds);
}

void TLVPMainForm::miSelectAllClick() {
  FPlayer->View()->SelectAllItems();
}

void TLVPMainForm::miDeleteClick() {
  FPlayer->View()->DeleteSelectedItems();
}

void TLVPMainForm::miClearClick() {
  FPlayer->View()->ClearPlaylist();
}

void TLVPMainForm::miResetColumnsClick() {
  FPlayer->View()->ResetColumns();
}

void TLVPMainForm::miHelpClick() {
  ShowUserGuide(this);
}

void TLVPMainForm::FilesChosenFromBrowser(const QStringList& paths) {
  // filelistDblClick: the browser's current file joins the playlist.
  FPlayer->AddPaths(paths);
}

void TLVPMainForm::StopAudioOut() {
  FPlayer->Controller().StopAudioOut();
}

TAudioEngine TLVPMainForm::AudioEngine() const {
  return FPlayer->Controller().FAudioEngine;
}

void TLVPMainForm::SetAudioEngine(TAudioEngine value) {
  FPlayer->Controller().FAudioEngine = value;
}

lirvo::TAuOutput* TLVPMainForm::AudioOut() const {
  return FPlayer->Controller().FAudioOut;
}

void TLVPMainForm::SetAudioOut(lirvo::TAuOutput* value) {
  FPlayer->Controller().FAudioOut = value;
}

void TLVPMainForm::OptimizeSystem() {
  FOptimizer->OptimizeSystem(FOptimizeOption, AudioEngine());
}

void TLVPMainForm::NormalizeSystem() {
  FOptimizer->NormalizeSystem();
}

bool TLVPMainForm::IsShell() {
  return lirvo::IsShell(FServices.PlayerPath, FServices.ShellFiles);
}

void TLVPMainForm::KernelModeOn() {}

void TLVPMainForm::KernelModeOff() {}

void TLVPMainForm::SetOutputThreadPriorities() {
  FDSound->SetThreadPriority(lirvo::tpTimeCritical);
  FASIO->SetThreadPriority(lirvo::tpTimeCritical);
}

void TLVPMainForm::BuildDeviceLists() {
  FDSoundDeviceList.clear();
  FASIODeviceList.clear();
  for (int32_t i = 0; i < FDSound->DeviceCount(); ++i)
    FDSoundDeviceList.append(FromUtf8(FDSound->GetDeviceName(i)));
  for (int32_t i = 0; i < FASIO->DeviceCount(); ++i)
    FASIODeviceList.append(FromUtf8(FASIO->DeviceName(i)));
}

void TLVPMainForm::FreeDeviceLists() {
  FDSoundDeviceList.clear();
  FASIODeviceList.clear();
}

void TLVPMainForm::SetASIOHostWindow() {
  FASIO->SetASIOForm(this);
  // The driver shows its control panel through the application, over this
  // window.
  FAsioPanel = std::make_unique<TAsioControlPanel>(this);
  lirvo::SetAsioControlPanel(FAsioPanel.get());
}

void TLVPMainForm::LoadSettings() {
  lirvo::TSettingsEnvironment env;
  env.ProcessorCount = FServices.ProcessorCount;
  env.DirectoryExists = [](const std::string& Dir) {
    std::error_code ec;
    return std::filesystem::is_directory(Dir, ec);
  };
  // Never throws: a value that cannot be applied is skipped (an ASIO device
  // the output refuses becomes device 0) and the rest of the start goes on.
  const lirvo::TSettingsOutcome outcome = lirvo::LoadSettings(
      lirvo::GetSettingsFileName(FServices.Paths), *FSettingsTarget, *FOutputs, env);
  if (!outcome.Errors.empty()) DispErrorMessage(FromUtf8(outcome.Errors.front()));
}

bool TLVPMainForm::SaveSettings() {
  const lirvo::TSettingsOutcome outcome =
      lirvo::SaveSettings(lirvo::GetSettingsFileName(FServices.Paths), *FSettingsTarget, *FOutputs);
  if (outcome.Errors.empty()) return true;
  DispErrorMessage(FromUtf8(outcome.Errors.front()));
  return false;
}

void TLVPMainForm::LoadPlaylist() {
  // A damaged file is kept aside and the list starts empty; start-up goes on.
  const lirvo::TPlaylistLoadOutcome outcome =
      lirvo::LoadPlaylistFile(lirvo::GetPlaylistFileName(FServices.Paths), FPlaylist);
  FAudioID = FPlaylist.AudioID();
  if (outcome.Result == lirvo::TPlaylistLoadResult::plrDamaged)
    DispErrorMessage(FromUtf8(outcome.Error));
}

bool TLVPMainForm::SavePlaylist() {
  try {
    lirvo::SavePlaylistFile(lirvo::GetPlaylistFileName(FServices.Paths), FPlaylist);
    return true;
  } catch (const std::exception& e) {
    DispErrorMessage(FromUtf8(e.what()));
    return false;
  }
}

void TLVPMainForm::ShowSystemButtons() {
  for (QPushButton* button : {btnRunCMD, btnSndVol, btnReboot, btnShutdown})
    button->show();
}
