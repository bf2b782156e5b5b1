#pragma once
// The settings dialog "Lirvo播放器设置": output engine, device, latency and
// the optimisation switches. It reads and writes the main window's state and
// the two outputs through ISettingsTarget and IOutputsForSettings, and
// writes nothing to the settings file (SaveSettings does at the end).
// Created, shown modally and destroyed by the window's "参数设置" (Ctrl+P,
// miConfigClick) through ExecConfigDialog, after playback was stopped, so
// changing the engine or the device never touches a running pipeline.
//
// UI thread only.

#include <QDialog>
#include <QString>
#include <functional>

#include "app/logic/settings/Settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;

class TLVPConfigDialog : public QDialog {
  Q_OBJECT
 public:
  // Shows an error message with the caption "错误", an error icon and an OK
  // button, and returns when it is closed.
  using TErrorBox = std::function<void(QWidget* Parent, const QString& Text)>;

  // Window and Outputs must outlive the dialog. ProcessorCount decides
  // whether the multi-core switch can be changed.
  TLVPConfigDialog(lirvo::ISettingsTarget& Window, lirvo::IOutputsForSettings& Outputs,
                   int ProcessorCount, QWidget* parent = nullptr);

  // Replaces the message box (tests answer it without a modal loop).
  void SetErrorBox(TErrorBox Box) { FErrorBox = std::move(Box); }
  // The message box the dialog uses unless replaced.
  static void ShowErrorBox(QWidget* Parent, const QString& Text);

  // The latency box's index for a DirectSound latency (50 → 0, 200 → 2,
  // anything else → 1) and for an ASIO buffer size, and back.
  static int DSoundLatencyIndex(int32_t Milliseconds);
  static int32_t DSoundLatencyOfIndex(int Index);
  static int ASIOBufferSizeIndex(int32_t Size);
  static int32_t ASIOBufferSizeOfIndex(int Index);

  // The controls, named as the code refers to them (also their objectName).
  QLabel* lbEngine = nullptr;
  QRadioButton* rbDSound = nullptr;
  QRadioButton* rbASIO = nullptr;
  QLabel* lbDevice = nullptr;
  QComboBox* cbAudioDevice = nullptr;
  QPushButton* btnShowASIOControlPanel = nullptr;
  QLabel* lbLatency = nullptr;
  QComboBox* cbLantecy = nullptr;
  QLabel* lbOptimize = nullptr;
  QCheckBox* chkRealtimeProc = nullptr;
  QCheckBox* chkSuppressOtherProc = nullptr;
  QCheckBox* chkAudioServiceOptimize = nullptr;
  QCheckBox* chkFourCoreOptimize = nullptr;
  QCheckBox* chkWin7Optimize = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;

 public slots:
  // Runs when the dialog is shown: engine, devices and switches from the
  // window and the outputs.
  void FormShow();
  void rbDSoundClick();
  // Also releases the ASIO driver.
  void rbASIOClick();
  void btnShowASIOControlPanelClick();
  // Stores the choices and closes, or shows why it cannot and stays open.
  void btnOKClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  void FillDevices(const std::vector<std::string>& Names);
  void Error(const QString& Text);

  lirvo::ISettingsTarget& FWindow;
  lirvo::IOutputsForSettings& FOutputs;
  int FProcessorCount;
  TErrorBox FErrorBox;
  bool FShown = false;
};

// The window's miConfigClick: StopPlayback (what "停止" does), then the
// dialog, owned by Owner, shown modally and destroyed. Returns the dialog's
// result (QDialog::Accepted after "确定").
int ExecConfigDialog(QWidget* Owner, lirvo::ISettingsTarget& Window,
                     lirvo::IOutputsForSettings& Outputs, int ProcessorCount,
                     const std::function<void()>& StopPlayback);
