#pragma once
// The main window: owner of the playback state, the status line every part of
// the player reports through, and the controls and menus the user works with.
// Everything here runs on the main (UI) thread.

#include <QByteArray>
#include <QMainWindow>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>

#include "MainFormServices.h"
#include "MainWindowLayout.h"
#include "StatusLine.h"
#include "app/logic/playlist/ColumnLayout.h"
#include "app/logic/playlist/Playlist.h"

namespace lirvo {
class TAuOutput;
class TDSAudioOut;
class TASIOAudioOut;
class TSystemOptimizer;
}  // namespace lirvo

class TAsioControlPanel;
class TMainFormSettingsTarget;
class TMainFormOutputs;
class TMainFormPlayer;

class TLVPMainForm : public QMainWindow, public TMainFormWidgets {
  Q_OBJECT
 public:
  // Services: the machine the window works on (TMainFormServices::Current()
  // in the player, a sandbox in tests).
  explicit TLVPMainForm(TMainFormServices Services, QWidget* parent = nullptr);
  ~TLVPMainForm() override;

  // The status line in the window's normal text colour, painted before the
  // call returns so a message shown during long work is seen.
  void DispMessage(const QString& text);
  // The status line in pure red until the next DispMessage, painted at once.
  void DispErrorMessage(const QString& text);
  bool StatusIsError() const { return FStatus->IsError(); }

  const QStringList& DSoundDeviceList() const { return FDSoundDeviceList; }
  const QStringList& ASIODeviceList() const { return FASIODeviceList; }
  // The engine the settings chose and the output of the current or last
  // playback: the playback controller's, which plays with them.
  TAudioEngine AudioEngine() const;
  void SetAudioEngine(TAudioEngine value);
  lirvo::TAuOutput* AudioOut() const;
  void SetAudioOut(lirvo::TAuOutput* value);
  const TOptimizeOption& OptimizeOption() const { return FOptimizeOption; }
  void SetOptimizeOption(const TOptimizeOption& value) { FOptimizeOption = value; }

  // The two outputs (DSound and ASIO) and the playlist table the window owns.
  lirvo::TDSAudioOut& DSound() const { return *FDSound; }
  lirvo::TASIOAudioOut& ASIO() const { return *FASIO; }
  lirvo::TPlaylistTable& Playlist() { return FPlaylist; }
  // Playback, the playlist grid and adding files.
  TMainFormPlayer& Player() const { return *FPlayer; }
  const TMainFormServices& Services() const { return FServices; }
  // Whether the session check at start-up found the player to be the
  // session program.
  bool StartedAsShell() const { return FIsShell; }

  void StopAudioOut();
  void OptimizeSystem();
  void NormalizeSystem();
  bool IsShell();
  void KernelModeOn();
  void KernelModeOff();

 public slots:
  // Files picked in the file browser (double-click).
  void FilesChosenFromBrowser(const QStringList& paths);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private slots:
  void lblDispClick();
  void muLVPClick();
  void miConfigClick();
  void miRegShellClick();
  void miRestoreShellClick();
  void miKernelLockClick();
  void miRunCMDClick();
  void miRunSndVolClick();
  void miRebootClick();
  void miShutdownClick();
  void miRestartClick();
  void miCloseClick();
  void miStopClick();
  void miPlayClick();
  void miPauseClick();
  void miPriorClick();
  void miNextClick();
  // Alt+Left / Alt+Right: seek by 10 s within the playing track.
  void miSeekBackClick();
  void miSeekForwardClick();
  void miSelectAllClick();
  void miDeleteClick();
  void miClearClick();
  void miResetColumnsClick();
  void miHelpClick();

 private:
  void ConnectHandlers();
  void FormCreate();
  void FormClose();
  // Returns whether the key was handled; it reaches the window before the
  // focused control.
  bool FormKeyDown(const QKeyEvent* event);

  void SetOutputThreadPriorities();
  void BuildDeviceLists();
  void FreeDeviceLists();
  void SetASIOHostWindow();
  void LoadSettings();
  // Both report a failure in red and return false.
  bool SaveSettings();
  void LoadPlaylist();
  bool SavePlaylist();
  void ShowSystemButtons();
  // The steps the system commands take before the machine or the player
  // goes away; a failing save throws, so nothing is shut down unsaved.
  lirvo::TSaveSteps SaveSteps();
  // Runs a system command, showing an error it raises in red.
  template <typename Fn>
  void RunSystemCommand(Fn&& Command);

  TMainFormServices FServices;
  lirvo::TPlaylistTable FPlaylist;
  std::unique_ptr<lirvo::TDSAudioOut> FDSound;
  std::unique_ptr<lirvo::TASIOAudioOut> FASIO;
  std::unique_ptr<lirvo::TSystemOptimizer> FOptimizer;
  std::unique_ptr<TAsioControlPanel> FAsioPanel;
  // lblDisp as the window's parts report through it.
  std::unique_ptr<TLabelStatusLine> FStatus;
  // After the outputs, so it goes first: it stops and unlinks them.
  std::unique_ptr<TMainFormPlayer> FPlayer;
  // After the player, whose controller and grid they act on.
  std::unique_ptr<TMainFormSettingsTarget> FSettingsTarget;
  std::unique_ptr<TMainFormOutputs> FOutputs;
  bool FIsShell = false;

  // The playback state (engine, output, playing row, its info, the error
  // flag) is the controller's own: FPlayer->Controller().
  QStringList FDSoundDeviceList;  // index = device number
  QStringList FASIODeviceList;    // index = device number
  uint32_t FAudioID = 0;          // last playlist ID handed out
  TOptimizeOption FOptimizeOption;
};

// The one main window of the process (null while none exists).
extern TLVPMainForm* LVPMainForm;
