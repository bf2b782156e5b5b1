#include "UnitConfig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <exception>
#include <vector>

namespace {

constexpr int kClientWidth = 487;
constexpr int kClientHeight = 356;

// The switch that once enabled an operating system's audio scheduling: here
// it asks for real-time scheduling of the player's main thread.
const char kRealtimeSchedulingCaption[] = "主线程实时调度";
const char kRealtimeSchedulingHint[] =
    "播放器主线程使用实时调度（经rtkit或SCHED_FIFO，需要实时权限）";

QString Text(const char* Utf8) {
  return QString::fromUtf8(Utf8);
}

}  // namespace

TLVPConfigDialog::TLVPConfigDialog(lirvo::ISettingsTarget& Window,
                                   lirvo::IOutputsForSettings& Outputs, int ProcessorCount,
                                   QWidget* parent)
    : QDialog(parent),
      FWindow(Window),
      FOutputs(Outputs),
      FProcessorCount(ProcessorCount),
      FErrorBox(&TLVPConfigDialog::ShowErrorBox) {
  setObjectName(QStringLiteral("LVPConfigDialog"));
  setWindowTitle(Text("Lirvo播放器设置"));
  // A dialog window does not take its owner's font by itself.
  if (parent) setFont(parent->font());
  BuildControls();
  setFixedSize(kClientWidth, kClientHeight);
  setWindowFlag(Qt::MSWindowsFixedSizeDialogHint, true);

  connect(rbDSound, &QRadioButton::clicked, this, &TLVPConfigDialog::rbDSoundClick);
  connect(rbASIO, &QRadioButton::clicked, this, &TLVPConfigDialog::rbASIOClick);
  connect(btnShowASIOControlPanel, &QPushButton::clicked, this,
          &TLVPConfigDialog::btnShowASIOControlPanelClick);
  connect(btnOK, &QPushButton::clicked, this, &TLVPConfigDialog::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TLVPConfigDialog::BuildControls() {
  const auto label = [this](QLabel*& Out, const char* Name, const char* Caption, int Y) {
    Out = new QLabel(Text(Caption), this);
    Out->setObjectName(QString::fromLatin1(Name));
    Out->setGeometry(24, Y, 80, 24);
  };
  const auto check = [this](QCheckBox*& Out, const char* Name, const char* Caption,
                            const char* Hint, int Y) {
    Out = new QCheckBox(Text(Caption), this);
    Out->setObjectName(QString::fromLatin1(Name));
    Out->setToolTip(Text(Hint));
    Out->setGeometry(112, Y, 350, 24);
  };
  const auto button = [this](QPushButton*& Out, const char* Name, const char* Caption, QRect Rect) {
    Out = new QPushButton(Text(Caption), this);
    Out->setObjectName(QString::fromLatin1(Name));
    Out->setGeometry(Rect);
  };

  label(lbEngine, "lbEngine", "输出方式：", 20);
  rbDSound = new QRadioButton(Text("DSound"), this);
  rbDSound->setObjectName(QStringLiteral("rbDSound"));
  rbDSound->setGeometry(112, 20, 90, 24);
  rbASIO = new QRadioButton(Text("ASIO"), this);
  rbASIO->setObjectName(QStringLiteral("rbASIO"));
  rbASIO->setGeometry(210, 20, 260, 24);

  label(lbDevice, "lbDevice", "输出设备：", 60);
  cbAudioDevice = new QComboBox(this);
  cbAudioDevice->setObjectName(QStringLiteral("cbAudioDevice"));
  cbAudioDevice->setGeometry(112, 60, 240, 24);
  button(btnShowASIOControlPanel, "btnShowASIOControlPanel", "ASIO控制面板",
         QRect(362, 59, 100, 26));
  btnShowASIOControlPanel->hide();

  label(lbLatency, "lbLatency", "设备延迟：", 100);
  cbLantecy = new QComboBox(this);
  cbLantecy->setObjectName(QStringLiteral("cbLantecy"));
  cbLantecy->setGeometry(112, 100, 240, 24);
  cbLantecy->addItems({Text("最小延迟"), Text("推荐设置"), Text("最大延迟")});
  cbLantecy->setCurrentIndex(1);

  label(lbOptimize, "lbOptimize", "系统优化：", 140);
  check(chkRealtimeProc, "chkRealtimeProc", "实时进程优化", "Lirvo运行在实时模式", 140);
  check(chkSuppressOtherProc, "chkSuppressOtherProc", "进程抢占",
        "尽量抢占时间片，其它程序将会变慢", 168);
  check(chkAudioServiceOptimize, "chkAudioServiceOptimize", "音频服务优化", "优化音频服务效能",
        196);
  check(chkFourCoreOptimize, "chkFourCoreOptimize", "多核优化", "四核及更多核心系统优化策略", 224);
  check(chkWin7Optimize, "chkWin7Optimize", kRealtimeSchedulingCaption, kRealtimeSchedulingHint,
        252);

  button(btnOK, "btnOK", "确定", QRect(282, 310, 85, 28));
  button(btnCancel, "btnCancel", "取消", QRect(377, 310, 85, 28));
}

void TLVPConfigDialog::ShowErrorBox(QWidget* Parent, const QString& Text) {
  QMessageBox::critical(Parent, QString::fromUtf8("错误"), Text, QMessageBox::Ok);
}

void TLVPConfigDialog::Error(const QString& Text) {
  if (FErrorBox) FErrorBox(this, Text);
}

int TLVPConfigDialog::DSoundLatencyIndex(int32_t Milliseconds) {
  if (Milliseconds == 50) return 0;
  if (Milliseconds == 200) return 2;
  return 1;
}

int32_t TLVPConfigDialog::DSoundLatencyOfIndex(int Index) {
  if (Index == 0) return 50;
  if (Index == 2) return 200;
  return 100;
}

int TLVPConfigDialog::ASIOBufferSizeIndex(int32_t Size) {
  if (Size == lirvo::kASIOBufferMinimum) return 0;
  if (Size == lirvo::kASIOBufferMaximum) return 2;
  return 1;
}

int32_t TLVPConfigDialog::ASIOBufferSizeOfIndex(int Index) {
  if (Index == 0) return lirvo::kASIOBufferMinimum;
  if (Index == 2) return lirvo::kASIOBufferMaximum;
  return lirvo::kASIOBufferPreferred;
}

void TLVPConfigDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Once per dialog: it is created for each use.
  if (!event->spontaneous() && !FShown) {
    FShown = true;
    FormShow();
  }
}

void TLVPConfigDialog::FormShow() {
  const bool dsound = FWindow.AudioEngine() == aeDSound;
  // One of the two is always on; checking it turns the other off.
  (dsound ? rbDSound : rbASIO)->setChecked(true);
  btnShowASIOControlPanel->setVisible(rbASIO->isChecked());
  if (rbDSound->isChecked()) {
    rbDSoundClick();
  } else {
    rbASIOClick();
  }

  chkFourCoreOptimize->setEnabled(FProcessorCount >= 4);
  // Real-time scheduling can be asked for on every system here: the switch
  // stays as stored.

  const TOptimizeOption option = FWindow.OptimizeOption();
  chkRealtimeProc->setChecked(option.RealTimeOptimize);
  chkSuppressOtherProc->setChecked(option.SuppressOtherProcesses);
  chkAudioServiceOptimize->setChecked(option.AudioServiceOptimize);
  chkFourCoreOptimize->setChecked(option.MutiCoreOptimize);
  chkWin7Optimize->setChecked(option.Windows7Optimize);

  if (FOutputs.ASIODeviceNames().empty()) {
    rbASIO->setText(Text("ASIO [不可用，未发现ASIO驱动]"));
    rbASIO->setEnabled(false);
    if (rbASIO->isChecked()) {
      rbDSound->setChecked(true);
      rbDSoundClick();
    }
  }
}

void TLVPConfigDialog::FillDevices(const std::vector<std::string>& Names) {
  cbAudioDevice->clear();
  for (const std::string& name : Names)
    cbAudioDevice->addItem(QString::fromStdString(name));
}

void TLVPConfigDialog::rbDSoundClick() {
  FillDevices(FOutputs.DSoundDeviceNames());
  if (cbAudioDevice->count() > 0) {
    // A stored number outside the list selects nothing; "确定" then asks
    // for a device.
    const int32_t number = FOutputs.DSoundDeviceNumber();
    cbAudioDevice->setCurrentIndex(number < cbAudioDevice->count() ? number : -1);
    cbLantecy->setCurrentIndex(DSoundLatencyIndex(FOutputs.DSoundLatency()));
  }
  btnShowASIOControlPanel->hide();
  chkAudioServiceOptimize->setEnabled(true);
}

void TLVPConfigDialog::rbASIOClick() {
  FillDevices(FOutputs.ASIODeviceNames());
  if (cbAudioDevice->count() > 0) {
    const int32_t number = FOutputs.ASIODeviceNumber();
    cbAudioDevice->setCurrentIndex(number < cbAudioDevice->count() ? number : -1);
    cbLantecy->setCurrentIndex(ASIOBufferSizeIndex(FOutputs.ASIOBufferSize()));
  }
  btnShowASIOControlPanel->show();
  // The audio-service switch acts only with the shared output.
  chkAudioServiceOptimize->setEnabled(false);
  FOutputs.ReleaseASIODriver();
}

void TLVPConfigDialog::btnShowASIOControlPanelClick() {
  try {
    FOutputs.ReleaseASIODriver();
    FOutputs.SetASIODeviceNumber(cbAudioDevice->currentIndex());
    FOutputs.ShowASIOControlPanel();
  } catch (const std::exception& e) {
    // The output refused the device or could not open its driver.
    Error(QString::fromUtf8(e.what()));
  }
}

void TLVPConfigDialog::btnOKClick() {
  TOptimizeOption option;
  option.RealTimeOptimize = chkRealtimeProc->isChecked();
  option.SuppressOtherProcesses = chkSuppressOtherProc->isChecked();
  option.AudioServiceOptimize = chkAudioServiceOptimize->isChecked();
  option.MutiCoreOptimize = chkFourCoreOptimize->isChecked();
  option.Windows7Optimize = chkWin7Optimize->isChecked();
  option.KernelLockMode = FWindow.OptimizeOption().KernelLockMode;
  // Stored even when the device check below keeps the dialog open.
  FWindow.SetOptimizeOption(option);

  try {
    if (rbDSound->isEnabled() && rbDSound->isChecked()) {
      if (cbAudioDevice->currentIndex() < 0) {
        Error(Text("所选择的 DSound 输出设备无效，请重新选择。"));
        return;
      }
      FWindow.SetAudioEngine(aeDSound);
      FOutputs.SetDSoundDeviceNumber(cbAudioDevice->currentIndex());
      FOutputs.SetDSoundLatency(DSoundLatencyOfIndex(cbLantecy->currentIndex()));
      FWindow.SetAudioOut(aeDSound);
    }
    if (rbASIO->isEnabled() && rbASIO->isChecked()) {
      if (cbAudioDevice->currentIndex() < 0) {
        Error(Text("所选择的 ASIO 输出设备无效，请重新选择。"));
        return;
      }
      FWindow.SetAudioEngine(aeASIO);
      FOutputs.ReleaseASIODriver();
      FOutputs.SetASIODeviceNumber(cbAudioDevice->currentIndex());
      FOutputs.SetASIOBufferSize(ASIOBufferSizeOfIndex(cbLantecy->currentIndex()));
      FWindow.SetAudioOut(aeASIO);
    }
  } catch (const std::exception& e) {
    // An output refused the choice: say why and let the user choose again.
    Error(QString::fromUtf8(e.what()));
    return;
  }

  // The new switches take effect at once.
  FWindow.NormalizeSystem();
  FWindow.OptimizeSystem();
  accept();
}

int ExecConfigDialog(QWidget* Owner, lirvo::ISettingsTarget& Window,
                     lirvo::IOutputsForSettings& Outputs, int ProcessorCount,
                     const std::function<void()>& StopPlayback) {
  if (StopPlayback) StopPlayback();
  TLVPConfigDialog dialog(Window, Outputs, ProcessorCount, Owner);
  return dialog.exec();
}
