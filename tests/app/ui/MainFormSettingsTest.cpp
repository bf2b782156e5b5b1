// The main window's start and end as the settings file, the system tuning,
// the session script and the system commands see them: what a first start
// keeps, what a stored value does to the window and the dialog, which
// values survive a restart, and that the system commands save before they
// ask the system for anything.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "AsioControlPanel.h"
#include "ClickLabel.h"
#include "FileBrowserPane.h"
#include "UnitConfig.h"
#include "UnitHelp.h"
#include "UnitMain.h"
#include "app/logic/settings/Settings.h"
#include "audio/outputs/AuASIO.h"
#include "audio/outputs/DSAudioOut.h"
#include "tests/app/ui/MainFormSandbox.h"

namespace {

using lirvo::test::TMainFormSandbox;

const QString kTitle = QStringLiteral("Lirvo音乐播放器 2.4");

// Runs Fn on the modal dialog that the next call opens; Fn must close it.
void OnNextModal(std::function<void(QWidget*)> Fn) {
  QTimer::singleShot(0, [Fn = std::move(Fn)] {
    QWidget* modal = QApplication::activeModalWidget();
    Fn(modal);
    // Never leave a modal loop running if Fn did not close it.
    if (modal && modal->isVisible()) modal->close();
  });
}

lirvo::TIniDocument Ini(const QByteArray& Text) {
  return lirvo::TIniDocument::Parse(Text.toStdString());
}

class MainFormSettingsTest : public ::testing::Test {
 protected:
  std::unique_ptr<TLVPMainForm> Start() {
    return std::make_unique<TLVPMainForm>(sandbox.Services());
  }
  // Closes the window as the close box does (FormClose), then destroys it.
  static void CloseAndDestroy(std::unique_ptr<TLVPMainForm>& form) {
    form->close();
    form.reset();
  }

  TMainFormSandbox sandbox;
};

TEST_F(MainFormSettingsTest, FirstStartKeepsEveryInitialValueAndCloseWritesTheFile) {
  auto form = Start();
  EXPECT_EQ(form->lblDisp->text(), kTitle);
  EXPECT_EQ(form->AudioEngine(), aeDSound);
  EXPECT_EQ(form->DSound().DeviceNumber(), 0);
  EXPECT_EQ(form->DSound().Latency(), 100u);
  EXPECT_TRUE(form->DSound().Calibrate());
  EXPECT_EQ(form->ASIO().DeviceNumber(), 0);
  EXPECT_EQ(form->ASIO().ASIOBufferSize(), lirvo::absPreferred);
  EXPECT_EQ(form->OptimizeOption(), TOptimizeOption{});
  EXPECT_TRUE(form->Playlist().IsEmpty());
  EXPECT_FALSE(form->isMaximized()) << "without a file the window keeps its own state";
  EXPECT_EQ(form->FileBrowser->CurrentFolder(), sandbox.Path("music"));
  // Start-up tuned the system once (the real-time step and the timer).
  EXPECT_EQ(sandbox.ProAudioJoins, 0) << "the switch is off";
  EXPECT_EQ(sandbox.TimerRequests, 1);

  CloseAndDestroy(form);
  const lirvo::TIniDocument ini = Ini(sandbox.ReadSettings());
  EXPECT_EQ(ini.ReadInteger("System", "AudioEngine", -1), 0);
  EXPECT_EQ(ini.ReadInteger("System", "DSoundLatency", -1), 100);
  EXPECT_EQ(ini.ReadInteger("Interface", "LeftPanel", -1), 185);
  EXPECT_EQ(ini.ReadString("Interface", "FileViewDirectory", ""), sandbox.StdPath("music"));
  EXPECT_TRUE(QFile::exists(QString::fromStdString(sandbox.PlaylistFile())));
  EXPECT_TRUE(sandbox.Runner->Calls.empty());
}

TEST_F(MainFormSettingsTest, MaximisedStateWithoutGeometryStartsMaximisedAndNormalCloseAddsIt) {
  sandbox.WriteSettings("[Windows]\nState=2\n");
  auto form = Start();
  EXPECT_TRUE(form->windowState() & Qt::WindowMaximized);
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  EXPECT_TRUE(form->isMaximized());

  form->showNormal();
  form->resize(700, 450);
  QCoreApplication::processEvents();
  CloseAndDestroy(form);
  const lirvo::TIniDocument ini = Ini(sandbox.ReadSettings());
  EXPECT_EQ(ini.ReadInteger("Windows", "State", -1), 0);
  EXPECT_EQ(ini.ReadInteger("Windows", "Width", -1), 700);
  EXPECT_EQ(ini.ReadInteger("Windows", "Bottom", -1), 450);
  EXPECT_TRUE(ini.Value("Windows", "Left").has_value());
  EXPECT_TRUE(ini.Value("Windows", "Top").has_value());
}

TEST_F(MainFormSettingsTest, StoredPaneSizesAndFolderComeBackAfterARestart) {
  QDir(sandbox.Path("music")).mkpath("jazz");
  auto form = Start();
  form->FileBrowser->SetCurrentFolder(sandbox.Path("music/jazz"));
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  form->splLeft->setSizes({240, form->splLeft->width() - 240});
  form->FileBrowser->SetFileViewPos(120);
  QCoreApplication::processEvents();
  CloseAndDestroy(form);

  form = Start();
  EXPECT_EQ(form->FileBrowser->CurrentFolder(), sandbox.Path("music/jazz"));
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  EXPECT_EQ(form->pnlLeft->width(), 240);
  EXPECT_EQ(form->dirlist->height(), 120);
}

TEST_F(MainFormSettingsTest, DeletedFileViewDirectoryLeavesTheBrowserAtItsStartFolder) {
  sandbox.WriteSettings(
      ("[Interface]\nFileViewDirectory=" + sandbox.StdPath("music/gone") + "\n").c_str());
  auto form = Start();
  EXPECT_EQ(form->FileBrowser->CurrentFolder(), sandbox.Path("music"));
}

TEST_F(MainFormSettingsTest, MultiCoreSwitchOnTwoProcessorsReadsFalseAndItsBoxIsDisabled) {
  sandbox.WriteSettings("[Optimize]\nRealtime=1\nMutiCore=1\nWindows7=1\n");
  auto form = Start();
  EXPECT_FALSE(form->OptimizeOption().MutiCoreOptimize);
  EXPECT_TRUE(form->OptimizeOption().RealTimeOptimize);
  EXPECT_TRUE(form->OptimizeOption().Windows7Optimize);
  EXPECT_EQ(sandbox.ProAudioJoins, 1) << "the real-time step follows the switch";

  bool seen = false;
  OnNextModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<TLVPConfigDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    seen = true;
    EXPECT_FALSE(dialog->chkFourCoreOptimize->isEnabled());
    EXPECT_FALSE(dialog->chkFourCoreOptimize->isChecked());
    EXPECT_TRUE(dialog->chkRealtimeProc->isChecked());
    dialog->btnCancel->click();
  });
  form->miConfig->trigger();
  EXPECT_TRUE(seen);
  EXPECT_EQ(form->lblDisp->text(), QStringLiteral("播放停止")) << "playback stops first";
}

TEST_F(MainFormSettingsTest, OddDSoundLatencyShowsRecommendedAndOkStores100) {
  sandbox.WriteSettings("[System]\nDSoundLatency=75\n");
  auto form = Start();
  EXPECT_EQ(form->DSound().Latency(), 75u);
  bool seen = false;
  OnNextModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<TLVPConfigDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    seen = true;
    EXPECT_TRUE(dialog->rbDSound->isChecked());
    EXPECT_EQ(dialog->cbLantecy->currentText(), QStringLiteral("推荐设置"));
    dialog->btnOK->click();
  });
  form->miConfig->trigger();
  ASSERT_TRUE(seen);
  EXPECT_EQ(form->DSound().Latency(), 100u);
  EXPECT_EQ(form->AudioOut(), &form->DSound());
  CloseAndDestroy(form);
  EXPECT_EQ(Ini(sandbox.ReadSettings()).ReadInteger("System", "DSoundLatency", -1), 100);
}

TEST_F(MainFormSettingsTest, CalibratedLatencySurvivesARestartAndOkSetsItBackTo100) {
  auto form = Start();
  form->DSound().SetLatency(130);  // what calibration grows it to
  CloseAndDestroy(form);
  EXPECT_EQ(Ini(sandbox.ReadSettings()).ReadInteger("System", "DSoundLatency", -1), 130);

  form = Start();
  EXPECT_EQ(form->DSound().Latency(), 130u);
  OnNextModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<TLVPConfigDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->cbLantecy->currentIndex(), 1);
    dialog->btnOK->click();
  });
  form->miConfig->trigger();
  EXPECT_EQ(form->DSound().Latency(), 100u);
}

TEST_F(MainFormSettingsTest, LatencyTheOutputHandsOnLeavingIsStoredInTheSettingsFile) {
  auto form = Start();
  CloseAndDestroy(form);  // the file exists now, with 100
  form = Start();
  form->DSound().SetLatency(140);  // calibrated after the last save
  form.reset();                    // gone without closing: only the output stores it
  const lirvo::TIniDocument ini = Ini(sandbox.ReadSettings());
  EXPECT_EQ(ini.ReadInteger("System", "DSoundLatency", -1), 140);
  EXPECT_EQ(ini.ReadInteger("Interface", "LeftPanel", -1), 185) << "the rest of the file stays";
}

TEST_F(MainFormSettingsTest, RefusedASIODeviceFallsBackToZeroAndStartUpGoesOn) {
  sandbox.WriteSettings("[System]\nAudioEngine=1\nASIODevice=7\nASIOLatency=2\n");
  auto form = Start();
  EXPECT_EQ(form->AudioEngine(), aeASIO);
  EXPECT_EQ(form->ASIO().DeviceNumber(), 0);
  EXPECT_EQ(form->ASIO().ASIOBufferSize(), lirvo::absMaximum);
  // The steps after the settings ran: system tuned, filter box filled.
  EXPECT_EQ(sandbox.TimerRequests, 1);
  EXPECT_EQ(form->edtFilter->text(), QStringLiteral("*.wav;*.cue;*.flac;*.ape;*.mp3;*.wma"));
}

TEST_F(MainFormSettingsTest, SuppressingTunesOnlyListedProcessesAndClosingPutsThemBack) {
  QProcess child;
  child.start(QStringLiteral("sleep"), {QStringLiteral("30")});
  ASSERT_TRUE(child.waitForStarted());
  const pid_t pid = static_cast<pid_t>(child.processId());
  sandbox.Processes->Pids = {pid};
  sandbox.WriteSettings("[Optimize]\nSuppressOtherProcesses=1\n");

  auto form = Start();
  errno = 0;
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(pid)), 19);
  CloseAndDestroy(form);
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(pid)), 0);
  child.kill();
  child.waitForFinished();
}

TEST_F(MainFormSettingsTest, SystemButtonsShowOnlyWhenTheSessionScriptRunsThePlayer) {
  {
    auto form = Start();
    form->show();
    EXPECT_FALSE(form->StartedAsShell());
    EXPECT_FALSE(form->btnRunCMD->isVisible());
  }
  // The player's path has a space; the session script quotes it.
  ASSERT_TRUE(lirvo::RegisterShell(sandbox.PlayerPath(), sandbox.Services().ShellFiles));
  auto form = Start();
  form->show();
  EXPECT_TRUE(form->StartedAsShell());
  for (QPushButton* b : {form->btnRunCMD, form->btnSndVol, form->btnReboot, form->btnShutdown})
    EXPECT_TRUE(b->isVisible()) << b->objectName().toStdString();
}

TEST_F(MainFormSettingsTest, RebootAndPowerOffSaveEverythingBeforeAskingTheSystem) {
  for (QAction* TLVPMainForm::*item : {&TLVPMainForm::miReboot, &TLVPMainForm::miShutdown}) {
    QFile::remove(QString::fromStdString(sandbox.SettingsFile()));
    QFile::remove(QString::fromStdString(sandbox.PlaylistFile()));
    sandbox.Runner->Calls.clear();
    auto form = Start();
    bool savedFirst = false;
    sandbox.Runner->OnCall = [&](const lirvo::test::TRecordingRunner::TCall&) {
      savedFirst = QFile::exists(QString::fromStdString(sandbox.SettingsFile())) &&
                   QFile::exists(QString::fromStdString(sandbox.PlaylistFile()));
    };
    (form.get()->*item)->trigger();
    ASSERT_EQ(sandbox.Runner->Calls.size(), 1u);
    EXPECT_EQ(sandbox.Runner->Calls[0].Program, "busctl");
    EXPECT_TRUE(savedFirst);
    sandbox.Runner->OnCall = nullptr;
    form.reset();
  }
}

TEST_F(MainFormSettingsTest, RestartSavesStartsTheSameExecutableAndQuits) {
  auto form = Start();
  bool savedFirst = false;
  sandbox.Runner->OnCall = [&](const lirvo::test::TRecordingRunner::TCall&) {
    savedFirst = QFile::exists(QString::fromStdString(sandbox.SettingsFile())) &&
                 QFile::exists(QString::fromStdString(sandbox.PlaylistFile()));
  };
  form->miRestart->trigger();
  ASSERT_EQ(sandbox.Runner->Calls.size(), 1u);
  EXPECT_EQ(sandbox.Runner->Calls[0].Kind, "start");
  EXPECT_EQ(sandbox.Runner->Calls[0].Program, sandbox.PlayerPath());
  EXPECT_TRUE(sandbox.Runner->Calls[0].Args.empty());
  EXPECT_TRUE(savedFirst);
  EXPECT_EQ(sandbox.Quits, 1);

  // A new instance that cannot be started leaves this one running.
  sandbox.Runner->Accept = false;
  form->miRestart->trigger();
  EXPECT_EQ(sandbox.Quits, 1);
  sandbox.Runner->OnCall = nullptr;
}

TEST_F(MainFormSettingsTest, TerminalAndMixerGoThroughTheRunner) {
  auto form = Start();
  form->miRunCMD->trigger();
  form->btnSndVol->click();
  ASSERT_EQ(sandbox.Runner->Calls.size(), 2u);
  EXPECT_EQ(sandbox.Runner->Calls[0].Program, "x-terminal-emulator");
  EXPECT_EQ(sandbox.Runner->Calls[1].Program, "x-terminal-emulator");
  EXPECT_EQ(sandbox.Runner->Calls[1].Args, (std::vector<std::string>{"-e", "alsamixer"}));
}

TEST_F(MainFormSettingsTest, CtrlAltKChangesNothing) {
  auto form = Start();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  const TOptimizeOption before = form->OptimizeOption();
  QTest::keyClick(form->dbgSongs, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
  EXPECT_EQ(form->OptimizeOption(), before);
  EXPECT_EQ(form->lblDisp->text(), kTitle);
  EXPECT_TRUE(sandbox.Runner->Calls.empty());
}

TEST_F(MainFormSettingsTest, F1OpensTheUserGuide) {
  auto form = Start();
  form->show();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  QString caption;
  OnNextModal([&](QWidget* modal) {
    auto* help = qobject_cast<TLVPHelp*>(modal);
    ASSERT_NE(help, nullptr);
    caption = help->windowTitle();
    help->btnClose->click();
  });
  QTest::keyClick(form->dbgSongs, Qt::Key_F1);
  EXPECT_EQ(caption, QStringLiteral("Lirvo音乐播放器 - 用户指南"));
}

TEST_F(MainFormSettingsTest, DriverControlPanelShowsTheFactsOverTheWindowUntilItGoes) {
  lirvo::TAsioDriverFacts facts;
  facts.Driver = "JACK";
  facts.Device = "hw:CARD=Test,DEV=0";
  facts.Formats = {"S32_LE", "Int32LSB"};
  facts.SampleRates = {44100, 48000};
  facts.MinBufferSize = 64;
  facts.PreferredBufferSize = 256;
  facts.MaxBufferSize = 2048;
  facts.OutputChannels = 2;

  auto form = Start();
  bool seen = false;
  OnNextModal([&](QWidget* modal) {
    auto* panel = qobject_cast<TAsioControlPanelDialog*>(modal);
    ASSERT_NE(panel, nullptr);
    seen = true;
    EXPECT_EQ(panel->parentWidget(), form.get());
    EXPECT_EQ(panel->lblDriver->text(), QStringLiteral("JACK"));
    EXPECT_EQ(panel->lblDevice->text(), QStringLiteral("hw:CARD=Test,DEV=0"));
    EXPECT_EQ(panel->lblFormats->text(), QStringLiteral("S32_LE, Int32LSB"));
    EXPECT_EQ(panel->lblSampleRates->text(), QStringLiteral("44100 Hz, 48000 Hz"));
    EXPECT_EQ(panel->lblBufferSizes->text(), QStringLiteral("64 / 256 / 2048"));
    EXPECT_EQ(panel->lblChannels->text(), QStringLiteral("2"));
    panel->btnClose->click();
  });
  EXPECT_EQ(lirvo::ShowAsioControlPanel(facts), lirvo::ASE_OK);
  EXPECT_TRUE(seen);

  form.reset();
  EXPECT_EQ(lirvo::ShowAsioControlPanel(facts), lirvo::ASE_NotPresent);
}

TEST(AsioControlPanelDialog, MissingFactsShowADashNotAnEmptyOrZeroLine) {
  TAsioControlPanelDialog panel{lirvo::TAsioDriverFacts{}};
  EXPECT_EQ(panel.lblDriver->text(), QStringLiteral("-"));
  EXPECT_EQ(panel.lblSampleRates->text(), QStringLiteral("-"));
  EXPECT_EQ(panel.lblBufferSizes->text(), QStringLiteral("-"));
  EXPECT_EQ(panel.lblFormats->text(), QStringLiteral("-"));
}

}  // namespace
