#pragma once
// The main window: owner of the playback state, the status line every part of
// the player reports through, and the controls and menus the user works with.
// Everything here runs on the main (UI) thread.

#include <QByteArray>
#include <QMainWindow>
#include <QStringList>
#include <cstdint>

#include "AppTypes.h"
#include "MainWindowLayout.h"

namespace lirvo {
class TAuOutput;
}

class TLVPMainForm : public QMainWindow, public TMainFormWidgets {
  Q_OBJECT
 public:
  explicit TLVPMainForm(QWidget* parent = nullptr);
  ~TLVPMainForm() override;

  // The status line in the window's normal text colour, painted before the
  // call returns so a message shown during long work is seen.
  void DispMessage(const QString& text);
  // The status line in pure red until the next DispMessage, painted at once.
  void DispErrorMessage(const QString& text);

  const QStringList& DSoundDeviceList() const { return FDSoundDeviceList; }
  const QStringList& ASIODeviceList() const { return FASIODeviceList; }
  TAudioEngine AudioEngine() const { return FAudioEngine; }
  void SetAudioEngine(TAudioEngine value) { FAudioEngine = value; }
  lirvo::TAuOutput* AudioOut() const { return FAudioOut; }
  void SetAudioOut(lirvo::TAuOutput* value) { FAudioOut = value; }
  const TOptimizeOption& OptimizeOption() const { return FOptimizeOption; }
  void SetOptimizeOption(const TOptimizeOption& value) { FOptimizeOption = value; }

  void StopAudioOut();
  void OptimizeSystem();
  void NormalizeSystem();
  bool IsShell();

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
  void SaveSettings();
  void LoadPlaylist();
  void SavePlaylist();
  void ShowSystemButtons();

  TAudioEngine FAudioEngine = aeDSound;
  QStringList FDSoundDeviceList;          // index = device number
  QStringList FASIODeviceList;            // index = device number
  lirvo::TAuOutput* FAudioOut = nullptr;  // not owned; one of the window's outputs
  bool FHavePlayError = false;
  uint32_t FAudioID = 0;  // last playlist ID handed out
  TOptimizeOption FOptimizeOption;
  QByteArray FCurrentMark;      // playlist position of the row being played
  int32_t FCurrentID = 0;       // 0: nothing played yet
  QString FCurrentInfo;         // "title / artist / album" of the row being played
  bool FStatusIsError = false;  // lblDisp shows an error (red)
};

// The one main window of the process (null while none exists); the settings
// dialog reads and writes the player's state through it.
extern TLVPMainForm* LVPMainForm;
