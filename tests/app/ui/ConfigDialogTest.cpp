// The settings dialog against a stand-in window and stand-in outputs: what it
// shows for the stored state, what "确定" stores (and when it refuses), the
// ASIO-less machine, the control panel, cancelling, the message boxes, and
// the grid's columns as the settings file keeps them.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <memory>

#include "GridColumns.h"
#include "UnitConfig.h"
#include "tests/app/logic/SettingsFakes.h"

namespace {

using lirvo::test::TFakeOutputs;
using lirvo::test::TFakeSettingsWindow;

QString U(const char* Utf8) {
  return QString::fromUtf8(Utf8);
}

class ConfigDialogTest : public ::testing::Test {
 protected:
  // Builds and shows the dialog for the present window and outputs; message
  // boxes are recorded instead of shown.
  TLVPConfigDialog& Open(int processors = 4) {
    dialog = std::make_unique<TLVPConfigDialog>(window, outputs, processors, &owner);
    dialog->SetErrorBox([this](QWidget*, const QString& text) { boxes.push_back(text); });
    dialog->show();
    return *dialog;
  }

  QStringList Devices() const {
    QStringList names;
    for (int i = 0; i < dialog->cbAudioDevice->count(); ++i)
      names << dialog->cbAudioDevice->itemText(i);
    return names;
  }

  bool Contains(const std::vector<std::string>& log, const std::string& entry) const {
    return std::find(log.begin(), log.end(), entry) != log.end();
  }

  QWidget owner;
  TFakeSettingsWindow window;
  TFakeOutputs outputs;
  std::unique_ptr<TLVPConfigDialog> dialog;
  QStringList boxes;
};

TEST_F(ConfigDialogTest, ShowsEveryControlWithItsCaptionAndHint) {
  owner.setGeometry(100, 100, 800, 600);
  owner.show();
  TLVPConfigDialog& d = Open();
  EXPECT_EQ(d.windowTitle(), U("Lirvo播放器设置"));
  EXPECT_EQ(d.size(), QSize(487, 356));
  EXPECT_EQ(d.minimumSize(), d.maximumSize()) << "fixed size";
  EXPECT_LE((d.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(), 40)
      << "centred on the main window";

  EXPECT_EQ(d.lbEngine->text(), U("输出方式："));
  EXPECT_EQ(d.rbDSound->text(), U("DSound"));
  EXPECT_EQ(d.rbASIO->text(), U("ASIO"));
  EXPECT_EQ(d.lbDevice->text(), U("输出设备："));
  EXPECT_EQ(d.btnShowASIOControlPanel->text(), U("ASIO控制面板"));
  EXPECT_EQ(d.lbLatency->text(), U("设备延迟："));
  EXPECT_EQ(d.lbOptimize->text(), U("系统优化："));
  EXPECT_EQ(d.btnOK->text(), U("确定"));
  EXPECT_EQ(d.btnCancel->text(), U("取消"));
  ASSERT_EQ(d.cbLantecy->count(), 3);
  EXPECT_EQ(d.cbLantecy->itemText(0), U("最小延迟"));
  EXPECT_EQ(d.cbLantecy->itemText(1), U("推荐设置"));
  EXPECT_EQ(d.cbLantecy->itemText(2), U("最大延迟"));

  const struct {
    QCheckBox* Box;
    const char* Caption;
    const char* Hint;
  } checks[] = {
      {d.chkRealtimeProc, "实时进程优化", "Lirvo运行在实时模式"},
      {d.chkSuppressOtherProc, "进程抢占", "尽量抢占时间片，其它程序将会变慢"},
      {d.chkAudioServiceOptimize, "音频服务优化", "优化音频服务效能"},
      {d.chkFourCoreOptimize, "多核优化", "四核及更多核心系统优化策略"},
  };
  for (const auto& c : checks) {
    EXPECT_EQ(c.Box->text(), U(c.Caption));
    EXPECT_EQ(c.Box->toolTip(), U(c.Hint));
  }
  // The last switch says what it does here: real-time scheduling of the
  // main thread.
  EXPECT_TRUE(d.chkWin7Optimize->text().contains(U("实时调度")));
  EXPECT_TRUE(d.chkWin7Optimize->toolTip().contains(U("主线程")));
  EXPECT_FALSE(d.chkWin7Optimize->text().contains(U("Windows")));
  for (QWidget* w : std::initializer_list<QWidget*>{
           d.lbEngine, d.rbDSound, d.rbASIO, d.lbDevice, d.cbAudioDevice, d.btnShowASIOControlPanel,
           d.lbLatency, d.cbLantecy, d.lbOptimize, d.chkRealtimeProc, d.chkSuppressOtherProc,
           d.chkAudioServiceOptimize, d.chkFourCoreOptimize, d.chkWin7Optimize, d.btnOK,
           d.btnCancel}) {
    EXPECT_TRUE(d.rect().contains(w->geometry())) << w->objectName().toStdString();
  }
}

TEST_F(ConfigDialogTest, DSoundEngineShowsItsDevicesLatencyAndSwitches) {
  outputs.DSoundDevice = 1;
  outputs.DSoundLatencyMs = 200;
  window.Option = {true, false, true, false, true, false};
  TLVPConfigDialog& d = Open();
  EXPECT_TRUE(d.rbDSound->isChecked());
  EXPECT_FALSE(d.rbASIO->isChecked());
  EXPECT_EQ(Devices(), QStringList({"Default", "Card A"}));
  EXPECT_EQ(d.cbAudioDevice->currentIndex(), 1);
  EXPECT_EQ(d.cbLantecy->currentIndex(), 2);
  EXPECT_FALSE(d.btnShowASIOControlPanel->isVisible());
  EXPECT_TRUE(d.chkAudioServiceOptimize->isEnabled());
  EXPECT_TRUE(d.chkRealtimeProc->isChecked());
  EXPECT_FALSE(d.chkSuppressOtherProc->isChecked());
  EXPECT_TRUE(d.chkAudioServiceOptimize->isChecked());
  EXPECT_FALSE(d.chkFourCoreOptimize->isChecked());
  EXPECT_TRUE(d.chkWin7Optimize->isChecked());
  EXPECT_FALSE(Contains(outputs.Log, "ReleaseASIODriver"));
}

TEST_F(ConfigDialogTest, DSoundLatencyShownAndStoredByTheThreeChoices) {
  const struct {
    int32_t Stored;
    int Shown;
    int32_t AfterOK;
  } cases[] = {
      {50, 0, 50}, {100, 1, 100}, {200, 2, 200}, {75, 1, 100}, {130, 1, 100}, {10, 1, 100},
  };
  for (const auto& c : cases) {
    outputs.DSoundLatencyMs = c.Stored;
    TLVPConfigDialog& d = Open();
    EXPECT_EQ(d.cbLantecy->currentIndex(), c.Shown) << c.Stored;
    d.btnOK->click();
    EXPECT_EQ(outputs.DSoundLatencyMs, c.AfterOK) << c.Stored;
    EXPECT_EQ(d.result(), QDialog::Accepted);
  }
}

TEST_F(ConfigDialogTest, OKWithDSoundStoresEngineDeviceOutputAndReappliesTheSwitches) {
  window.Engine = aeASIO;
  window.Option.KernelLockMode = true;
  TLVPConfigDialog& d = Open();
  d.rbDSound->click();
  d.cbAudioDevice->setCurrentIndex(1);
  d.cbLantecy->setCurrentIndex(0);
  d.chkSuppressOtherProc->setChecked(true);
  window.Log.clear();
  d.btnOK->click();
  EXPECT_EQ(window.Engine, aeDSound);
  EXPECT_EQ(outputs.DSoundDevice, 1);
  EXPECT_EQ(outputs.DSoundLatencyMs, 50);
  EXPECT_EQ(window.AudioOut, aeDSound);
  EXPECT_TRUE(window.Option.SuppressOtherProcesses);
  EXPECT_TRUE(window.Option.KernelLockMode) << "carried through unchanged";
  EXPECT_EQ(window.Log, (std::vector<std::string>{"Optimize", "AudioEngine", "AudioOut",
                                                  "NormalizeSystem", "OptimizeSystem"}));
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_FALSE(d.isVisible());
  EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(ConfigDialogTest, ASIOEngineShowsDriversBufferSizeAndReleasesTheDriver) {
  window.Engine = aeASIO;
  outputs.ASIODevice = 1;
  const struct {
    int32_t Size;
    int Shown;
  } sizes[] = {{lirvo::kASIOBufferMinimum, 0},
               {lirvo::kASIOBufferPreferred, 1},
               {lirvo::kASIOBufferMaximum, 2}};
  for (const auto& c : sizes) {
    outputs.BufferSize = c.Size;
    outputs.Log.clear();
    TLVPConfigDialog& d = Open();
    EXPECT_TRUE(d.rbASIO->isChecked());
    EXPECT_EQ(Devices(), QStringList({"hw:CARD=A,DEV=0", "JACK"}));
    EXPECT_EQ(d.cbAudioDevice->currentIndex(), 1);
    EXPECT_EQ(d.cbLantecy->currentIndex(), c.Shown);
    EXPECT_TRUE(d.btnShowASIOControlPanel->isVisible());
    EXPECT_FALSE(d.chkAudioServiceOptimize->isEnabled());
    EXPECT_TRUE(Contains(outputs.Log, "ReleaseASIODriver"));
  }
}

TEST_F(ConfigDialogTest, OKWithASIOStoresTheDriverAndTheBufferSizeByTheLatencyChoice) {
  const int32_t expected[] = {lirvo::kASIOBufferMinimum, lirvo::kASIOBufferPreferred,
                              lirvo::kASIOBufferMaximum};
  for (int index = 0; index < 3; ++index) {
    window.Engine = aeDSound;
    TLVPConfigDialog& d = Open();
    d.rbASIO->click();
    d.cbAudioDevice->setCurrentIndex(1);
    d.cbLantecy->setCurrentIndex(index);
    outputs.Log.clear();
    d.btnOK->click();
    EXPECT_EQ(window.Engine, aeASIO);
    EXPECT_EQ(outputs.ASIODevice, 1);
    EXPECT_EQ(outputs.BufferSize, expected[index]);
    EXPECT_EQ(window.AudioOut, aeASIO);
    EXPECT_EQ(outputs.Log,
              (std::vector<std::string>{"ReleaseASIODriver", "ASIODevice 1", "ASIOLatency"}));
  }
}

TEST_F(ConfigDialogTest, MultiCoreSwitchIsDisabledBelowFourProcessors) {
  EXPECT_FALSE(Open(2).chkFourCoreOptimize->isEnabled());
  EXPECT_FALSE(Open(3).chkFourCoreOptimize->isEnabled());
  EXPECT_TRUE(Open(4).chkFourCoreOptimize->isEnabled());
}

TEST_F(ConfigDialogTest, WithoutDirectDriversASIOCannotBeChosen) {
  outputs.ASIONames.clear();
  window.Engine = aeASIO;  // stored from a machine that had drivers
  TLVPConfigDialog& d = Open();
  EXPECT_EQ(d.rbASIO->text(), U("ASIO [不可用，未发现ASIO驱动]"));
  EXPECT_FALSE(d.rbASIO->isEnabled());
  EXPECT_FALSE(d.rbASIO->isChecked());
  EXPECT_TRUE(d.rbDSound->isChecked());
  EXPECT_EQ(Devices(), QStringList({"Default", "Card A"}));
  EXPECT_FALSE(d.btnShowASIOControlPanel->isVisible());
  EXPECT_TRUE(d.chkAudioServiceOptimize->isEnabled());
  d.btnOK->click();
  EXPECT_EQ(window.Engine, aeDSound);
  EXPECT_EQ(d.result(), QDialog::Accepted);
}

TEST_F(ConfigDialogTest, OKWithoutADeviceShowsTheErrorAndStaysOpen) {
  // No shared device at all.
  outputs.DSoundNames.clear();
  TLVPConfigDialog& d = Open();
  d.chkRealtimeProc->setChecked(true);
  d.btnOK->click();
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_EQ(boxes[0], U("所选择的 DSound 输出设备无效，请重新选择。"));
  EXPECT_TRUE(d.isVisible());
  EXPECT_NE(d.result(), QDialog::Accepted);
  EXPECT_TRUE(window.Option.RealTimeOptimize) << "the switches are stored before the check";
  EXPECT_FALSE(window.AudioOut.has_value());
  EXPECT_FALSE(Contains(window.Log, "NormalizeSystem"));

  // A stored driver number that is no longer in the list selects nothing.
  boxes.clear();
  window.Log.clear();
  window.Engine = aeASIO;
  outputs.ASIODevice = 5;
  TLVPConfigDialog& asio = Open();
  EXPECT_EQ(asio.cbAudioDevice->currentIndex(), -1);
  asio.btnOK->click();
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_EQ(boxes[0], U("所选择的 ASIO 输出设备无效，请重新选择。"));
  EXPECT_TRUE(asio.isVisible());
  EXPECT_FALSE(Contains(window.Log, "AudioEngine"));

  // Choosing a device then succeeds in the same dialog.
  asio.cbAudioDevice->setCurrentIndex(0);
  asio.btnOK->click();
  EXPECT_EQ(asio.result(), QDialog::Accepted);
  EXPECT_EQ(outputs.ASIODevice, 0);
}

TEST_F(ConfigDialogTest, ControlPanelOpensTheSelectedDriverOrReportsTheOutputsError) {
  window.Engine = aeASIO;
  TLVPConfigDialog& d = Open();
  d.cbAudioDevice->setCurrentIndex(1);
  outputs.Log.clear();
  d.btnShowASIOControlPanel->click();
  EXPECT_EQ(outputs.Log, (std::vector<std::string>{"ReleaseASIODriver", "ASIODevice 1",
                                                   "ShowASIOControlPanel"}));
  EXPECT_TRUE(boxes.isEmpty());

  d.cbAudioDevice->setCurrentIndex(-1);
  d.btnShowASIOControlPanel->click();
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_EQ(boxes[0], U("Device number out of range: -1"));

  outputs.ControlPanelFails = true;
  d.cbAudioDevice->setCurrentIndex(0);
  d.btnShowASIOControlPanel->click();
  ASSERT_EQ(boxes.size(), 2);
  EXPECT_EQ(boxes[1], U("Failed to open ASIO device"));
  EXPECT_TRUE(d.isVisible());
}

TEST_F(ConfigDialogTest, ChoosingASIOThenCancelKeepsTheEngineButReleasesTheDriver) {
  TLVPConfigDialog& d = Open();
  d.rbASIO->click();
  EXPECT_TRUE(d.btnShowASIOControlPanel->isVisible());
  EXPECT_EQ(Devices(), QStringList({"hw:CARD=A,DEV=0", "JACK"}));
  d.btnCancel->click();
  EXPECT_EQ(d.result(), QDialog::Rejected);
  EXPECT_EQ(window.Engine, aeDSound);
  EXPECT_FALSE(window.AudioOut.has_value());
  EXPECT_FALSE(Contains(window.Log, "Optimize"));
  EXPECT_TRUE(Contains(outputs.Log, "ReleaseASIODriver"));
}

TEST_F(ConfigDialogTest, RealMessageBoxIsAnErrorWithCaptionAndOKAndDoesNotBlock) {
  outputs.DSoundNames.clear();
  dialog = std::make_unique<TLVPConfigDialog>(window, outputs, 4, &owner);
  dialog->show();
  QString caption, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  // The box runs its own modal loop; a timer answers it.
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    caption = box->windowTitle();
    text = box->text();
    icon = box->icon();
    buttons = box->standardButtons();
    box->button(QMessageBox::Ok)->click();
  });
  dialog->btnOK->click();
  EXPECT_EQ(caption, U("错误"));
  EXPECT_EQ(text, U("所选择的 DSound 输出设备无效，请重新选择。"));
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_TRUE(dialog->isVisible());
}

TEST_F(ConfigDialogTest, MenuCommandStopsPlaybackFirstThenRunsTheDialogModallyAndDestroysIt) {
  bool dialogExistedAtStop = true;
  const auto anyDialog = [] {
    for (QWidget* w : QApplication::allWidgets())
      if (qobject_cast<TLVPConfigDialog*>(w)) return true;
    return false;
  };
  bool wasModal = false;
  QTimer::singleShot(0, [&] {
    auto* d = qobject_cast<TLVPConfigDialog*>(QApplication::activeModalWidget());
    if (!d) return;
    wasModal = true;
    EXPECT_EQ(d->parentWidget(), &owner);
    d->btnCancel->click();
  });
  const int result = ExecConfigDialog(&owner, window, outputs, 4, [&] {
    dialogExistedAtStop = anyDialog();
    window.Log.push_back("Stop");
  });
  EXPECT_FALSE(dialogExistedAtStop);
  EXPECT_TRUE(wasModal);
  EXPECT_EQ(result, QDialog::Rejected);
  EXPECT_EQ(window.Log.front(), "Stop");
  EXPECT_FALSE(anyDialog()) << "destroyed when closed";
}

// The grid's columns through the settings file: captured from one header,
// written as hexadecimal digits, decoded and applied to a freshly reset one.
TEST(GridColumns, LayoutSurvivesTheSettingsFileAndSkipsWhatTheGridLacks) {
  const QStringList captions = {"ID",      "Filename",  U("音轨"), U("标题"),
                                U("专辑"), U("艺术家"), U("时间")};
  const auto makeGrid = [&](QStandardItemModel& model, QTableView& view) {
    model.setColumnCount(captions.size());
    model.setHorizontalHeaderLabels(captions);
    view.setModel(&model);
    view.horizontalHeader()->setSectionsMovable(true);
    view.horizontalHeader()->setSectionHidden(1, true);
  };
  QStandardItemModel firstModel;
  QTableView first;
  makeGrid(firstModel, first);
  QHeaderView& h = *first.horizontalHeader();
  h.moveSection(h.visualIndex(5), 0);  // "艺术家" first
  h.resizeSection(3, 321);
  firstModel.setHeaderData(4, Qt::Horizontal, U("专辑名"));
  const lirvo::TColumnLayout captured = CaptureGridColumns(h);
  ASSERT_EQ(captured.size(), 7u);
  EXPECT_EQ(captured[0],
            (lirvo::TColumnSetting{5, U("艺术家").toStdString(), h.sectionSize(5), true}));
  EXPECT_EQ(captured[2], (lirvo::TColumnSetting{1, "Filename", 0, false}));

  std::optional<lirvo::TColumnLayout> stored =
      lirvo::DecodeColumnLayout(lirvo::EncodeColumnLayout(captured));
  ASSERT_TRUE(stored.has_value());
  stored->insert(stored->begin() + 1, lirvo::TColumnSetting{42, "no such field", 10, true});

  QStandardItemModel nextModel;
  QTableView next;
  makeGrid(nextModel, next);
  ApplyGridColumns(*next.horizontalHeader(), *stored);
  EXPECT_EQ(CaptureGridColumns(*next.horizontalHeader()), captured);
  EXPECT_EQ(nextModel.headerData(4, Qt::Horizontal).toString(), U("专辑名"));

  // A layout naming only some columns puts those first; the rest follow in
  // their present order.
  QStandardItemModel partialModel;
  QTableView partial;
  makeGrid(partialModel, partial);
  ApplyGridColumns(*partial.horizontalHeader(), {{6, "", 0, true}, {2, "", 0, true}});
  const lirvo::TColumnLayout result = CaptureGridColumns(*partial.horizontalHeader());
  std::vector<int> order;
  for (const auto& c : result)
    order.push_back(c.Field);
  EXPECT_EQ(order, (std::vector<int>{6, 2, 0, 1, 3, 4, 5}));
  EXPECT_FALSE(result[3].Visible) << "Filename stays hidden";
}

}  // namespace
