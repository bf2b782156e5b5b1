// The main window as the user meets it: caption and status line, the colours
// of normal and error messages, menus with captions, order, separators,
// disabled items and shortcuts, the button row and the sizes of the layout.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <memory>
#include <vector>

#include "ClickLabel.h"
#include "UnitMain.h"
#include "tests/app/ui/MainFormSandbox.h"

namespace {

const QString kTitle = QStringLiteral("Lirvo音乐播放器 2.4");

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override { form = std::make_unique<TLVPMainForm>(sandbox.Services()); }

  void ShowForm() {
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  }

  lirvo::test::TMainFormSandbox sandbox;  // outlives the window
  std::unique_ptr<TLVPMainForm> form;
};

// Pixels of the rendered status line whose colour is clearly red.
int RedPixels(QWidget* label) {
  const QImage image = label->grab().toImage();
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.red() > 180 && c.green() < 80 && c.blue() < 80) ++count;
    }
  }
  return count;
}

QColor TextColour(QWidget* w) {
  w->ensurePolished();
  return w->palette().color(w->foregroundRole());
}

TEST_F(MainFormTest, CaptionAndFirstStatusLineAreTheApplicationTitle) {
  EXPECT_EQ(form->windowTitle(), kTitle);
  EXPECT_EQ(form->lblDisp->text(), kTitle);
  EXPECT_EQ(LVPMainForm, form.get());
}

TEST_F(MainFormTest, GlobalInstanceIsClearedWhenTheWindowGoes) {
  form.reset();
  EXPECT_EQ(LVPMainForm, nullptr);
}

TEST_F(MainFormTest, FirstStartHasDSoundNoSwitchesBothDeviceListsAndDefaultFilter) {
  EXPECT_EQ(form->AudioEngine(), aeDSound);
  EXPECT_EQ(form->OptimizeOption(), TOptimizeOption{});
  EXPECT_EQ(form->DSoundDeviceList(), (QStringList{QStringLiteral("默认设备"), "Second"}));
  EXPECT_EQ(form->ASIODeviceList(), QStringList{"JACK"});
  EXPECT_EQ(form->AudioOut(), nullptr);
  EXPECT_EQ(form->edtFilter->text(), QStringLiteral("*.wav;*.cue;*.flac;*.ape;*.mp3;*.wma"));
}

TEST_F(MainFormTest, ErrorMessageIsRedUntilTheNextNormalMessage) {
  ShowForm();
  const QColor normal = form->palette().color(QPalette::WindowText);
  ASSERT_NE(normal, QColor(Qt::red));
  EXPECT_EQ(TextColour(form->lblDisp), normal);
  EXPECT_EQ(RedPixels(form->lblDisp), 0);

  form->DispErrorMessage(QStringLiteral("无法打开文件 ERROR"));
  EXPECT_EQ(form->lblDisp->text(), QStringLiteral("无法打开文件 ERROR"));
  EXPECT_EQ(TextColour(form->lblDisp), QColor(0xFF, 0x00, 0x00));
  EXPECT_GT(RedPixels(form->lblDisp), 0) << "the theme hides the error colour";

  // A second error keeps the colour; a normal message brings the normal one back.
  form->DispErrorMessage(QStringLiteral("第二个错误"));
  EXPECT_EQ(TextColour(form->lblDisp), QColor(0xFF, 0x00, 0x00));
  form->DispMessage(QStringLiteral("正在播放 NORMAL"));
  EXPECT_EQ(form->lblDisp->text(), QStringLiteral("正在播放 NORMAL"));
  EXPECT_EQ(TextColour(form->lblDisp), normal);
  EXPECT_EQ(RedPixels(form->lblDisp), 0);
}

TEST_F(MainFormTest, LongStatusMessageDoesNotWidenTheWindow) {
  ShowForm();
  const int width = form->width();
  form->DispMessage(QString(400, QChar(u'长')));
  QCoreApplication::processEvents();
  EXPECT_EQ(form->width(), width);
  EXPECT_LE(form->minimumSizeHint().width(), 640);
}

TEST_F(MainFormTest, StatusLineIsPlainCentredTextWithHandCursor) {
  form->DispMessage(QStringLiteral("<b>a&b</b>.flac"));
  EXPECT_EQ(form->lblDisp->textFormat(), Qt::PlainText);
  EXPECT_TRUE(form->lblDisp->alignment() & Qt::AlignHCenter);
  EXPECT_EQ(form->lblDisp->cursor().shape(), Qt::PointingHandCursor);
  QSignalSpy clicks(form->lblDisp, &TClickLabel::clicked);
  QTest::mouseClick(form->lblDisp, Qt::LeftButton);
  EXPECT_EQ(clicks.count(), 1);
}

// One row per menu entry; a null name is a separator.
struct ItemRow {
  const char* name;
  const char* caption;
  std::vector<QKeySequence> shortcuts;
  bool enabled;
};

struct MenuRow {
  const char* name;
  const char* caption;
  std::vector<ItemRow> items;
};

const ItemRow kSeparator{nullptr, nullptr, {}, true};

std::vector<MenuRow> ExpectedMenus() {
  return {
      {"muLVP",
       "Lirvo",
       {
           {"miConfig", "参数设置", {QKeySequence(Qt::CTRL | Qt::Key_P)}, true},
           kSeparator,
           {"miRegShell", "注册 Shell (Lirvo Audio OS)", {}, false},
           {"miRestoreShell", "恢复 Shell (Lirvo Audio OS)", {}, false},
           {"miKernelLock", "内核锁定模式 (Lirvo Audio OS)", {}, false},
           {"miRunCMD", "运行 CMD", {}, true},
           {"miRunSndVol", "运行 SndVol", {}, true},
           kSeparator,
           {"miReboot", "重启系统", {}, true},
           {"miShutdown", "关机", {}, true},
           kSeparator,
           {"miRestart", "重启Lirvo", {}, true},
           {"miClose", "关闭Lirvo", {}, true},
       }},
      {"muCtrl",
       "控制",
       {
           {"miStop", "停止", {QKeySequence(Qt::Key_Escape)}, true},
           {"miPlay", "播放", {QKeySequence(Qt::Key_Enter), QKeySequence(Qt::Key_Return)}, true},
           {"miPause", "暂停/恢复", {QKeySequence(Qt::Key_Space)}, true},
           {"miPrior", "上一首", {QKeySequence(Qt::CTRL | Qt::Key_Left)}, true},
           {"miNext", "下一首", {QKeySequence(Qt::CTRL | Qt::Key_Right)}, true},
           {"miSeekBack", "后退10秒", {QKeySequence(Qt::ALT | Qt::Key_Left)}, true},
           {"miSeekForward", "前进10秒", {QKeySequence(Qt::ALT | Qt::Key_Right)}, true},
       }},
      {"muPlaylist",
       "播放列表",
       {
           {"miSelectAll", "全选", {}, true},
           {"miDelete", "删除", {}, true},
           {"miClear", "清除", {}, true},
           kSeparator,
           {"miResetColumns", "重置栏目", {QKeySequence(Qt::CTRL | Qt::Key_R)}, true},
       }},
      {"muHelp", "帮助", {{"miHelp", "操作指南", {QKeySequence(Qt::Key_F1)}, true}}},
  };
}

TEST_F(MainFormTest, MenusHaveTheirCaptionsItemsSeparatorsAndShortcutsInOrder) {
  const std::vector<MenuRow> expected = ExpectedMenus();
  const QList<QAction*> bar = form->menuBar()->actions();
  ASSERT_EQ(bar.size(), static_cast<qsizetype>(expected.size()));
  for (size_t m = 0; m < expected.size(); ++m) {
    SCOPED_TRACE(expected[m].name);
    QMenu* menu = bar[m]->menu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->objectName(), QString::fromLatin1(expected[m].name));
    EXPECT_EQ(menu->title(), QString::fromUtf8(expected[m].caption));
    const QList<QAction*> items = menu->actions();
    ASSERT_EQ(items.size(), static_cast<qsizetype>(expected[m].items.size()));
    for (qsizetype i = 0; i < items.size(); ++i) {
      const ItemRow& row = expected[m].items[static_cast<size_t>(i)];
      SCOPED_TRACE(i);
      if (!row.name) {
        EXPECT_TRUE(items[i]->isSeparator());
        continue;
      }
      EXPECT_FALSE(items[i]->isSeparator());
      EXPECT_EQ(items[i]->objectName(), QString::fromLatin1(row.name));
      EXPECT_EQ(items[i]->text(), QString::fromUtf8(row.caption));
      EXPECT_EQ(items[i]->isEnabled(), row.enabled);
      EXPECT_EQ(items[i]->shortcuts(),
                QList<QKeySequence>(row.shortcuts.begin(), row.shortcuts.end()));
    }
  }
}

TEST_F(MainFormTest, ShortcutKeysTriggerTheirMenuItems) {
  ShowForm();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  form->dbgSongs->setFocus();
  const struct {
    QAction* item;
    Qt::Key key;
    Qt::KeyboardModifiers mods;
  } rows[] = {
      {form->miConfig, Qt::Key_P, Qt::ControlModifier},
      {form->miStop, Qt::Key_Escape, Qt::NoModifier},
      {form->miPlay, Qt::Key_Return, Qt::NoModifier},
      {form->miPlay, Qt::Key_Enter, Qt::KeypadModifier},
      {form->miPause, Qt::Key_Space, Qt::NoModifier},
      {form->miPrior, Qt::Key_Left, Qt::ControlModifier},
      {form->miNext, Qt::Key_Right, Qt::ControlModifier},
      {form->miSeekBack, Qt::Key_Left, Qt::AltModifier},
      {form->miSeekForward, Qt::Key_Right, Qt::AltModifier},
      {form->miResetColumns, Qt::Key_R, Qt::ControlModifier},
      {form->miHelp, Qt::Key_F1, Qt::NoModifier},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.item->objectName().toStdString());
    // A dialog of an earlier row took the focus away.
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    form->dbgSongs->setFocus();
    QSignalSpy triggered(row.item, &QAction::triggered);
    if (row.item == form->miConfig || row.item == form->miHelp) {
      // These open a modal dialog: close it once it runs.
      QTimer::singleShot(0, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
      });
    }
    QTest::keyClick(form->dbgSongs, row.key, row.mods);
    EXPECT_EQ(triggered.count(), 1);
  }
}

TEST_F(MainFormTest, OpeningLirvoMenuShowsKernelLockFromTheSwitch) {
  form->miKernelLock->setChecked(true);
  emit form->muLVP->aboutToShow();
  EXPECT_FALSE(form->miKernelLock->isChecked());
  EXPECT_FALSE(form->miKernelLock->isEnabled());
}

TEST_F(MainFormTest, CloseItemClosesTheWindow) {
  ShowForm();
  form->miClose->trigger();
  EXPECT_FALSE(form->isVisible());
}

TEST_F(MainFormTest, ButtonsHaveCaptionsSizeAndVisibility) {
  ShowForm();
  const struct {
    QPushButton* button;
    const char* name;
    const char* caption;
    bool visible;
  } rows[] = {
      {form->btnRunCMD, "btnRunCMD", "命令行", false},
      {form->btnSndVol, "btnSndVol", "音量", false},
      {form->btnReboot, "btnReboot", "重启", false},
      {form->btnShutdown, "btnShutdown", "关机", false},
      {form->btnPrior, "btnPrior", "上一首", true},
      {form->btnStop, "btnStop", "停止", true},
      {form->btnPlay, "btnPlay", "播放", true},
      {form->btnPause, "btnPause", "暂停", true},
      {form->btnNext, "btnNext", "下一首", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.button->objectName(), QString::fromLatin1(row.name));
    EXPECT_EQ(row.button->text(), QString::fromUtf8(row.caption));
    EXPECT_EQ(row.button->size(), QSize(59, 23));
    EXPECT_EQ(row.button->isVisible(), row.visible);
  }
}

TEST_F(MainFormTest, TransportButtonsStayInOrderAtTheRightEdge) {
  ShowForm();
  const QPushButton* order[] = {form->btnPrior, form->btnStop, form->btnPlay, form->btnPause,
                                form->btnNext};
  for (int width : {640, 900}) {
    SCOPED_TRACE(width);
    form->resize(width, form->height());
    QCoreApplication::processEvents();
    for (size_t i = 1; i < std::size(order); ++i) {
      EXPECT_LT(order[i - 1]->geometry().right(), order[i]->geometry().left());
    }
    EXPECT_EQ(form->btnNext->geometry().right(), form->pnlControl->rect().right());
  }
}

TEST_F(MainFormTest, LayoutHasTheGivenSizes) {
  ShowForm();
  EXPECT_EQ(form->minimumSize(), QSize(640, 400));
  form->resize(100, 100);
  EXPECT_GE(form->width(), 640);
  EXPECT_GE(form->height(), 400);

  EXPECT_EQ(form->font().pixelSize(), 12);
  EXPECT_EQ(form->pnlControl->height(), 73);
  EXPECT_EQ(form->pbPlayProgress->height(), 12);  // tall enough to click for a seek
  EXPECT_EQ(form->pbPlayProgress->minimum(), 0);
  EXPECT_EQ(form->pbPlayProgress->maximum(), 100);
  EXPECT_GT(form->pbPlayProgress->geometry().top(), form->lblDisp->geometry().bottom());
  EXPECT_EQ(form->pnlLeft->width(), 185);
  EXPECT_EQ(form->splLeft->handleWidth(), 6);
  EXPECT_EQ(form->splFileView->handleWidth(), 6);
  EXPECT_EQ(form->dirlist->height(), 97);
  EXPECT_EQ(form->pFileFilter->height(), 24);
  EXPECT_EQ(form->btnApplyFilter->text(), QStringLiteral("查找"));
  EXPECT_EQ(form->btnApplyFilter->size(), QSize(48, 20));
  EXPECT_EQ(form->btnApplyFilter->geometry().left(),
            form->pFileFilter->width() - form->btnApplyFilter->width() - 2);
  EXPECT_EQ(form->edtFilter->width(),
            form->pFileFilter->width() - form->btnApplyFilter->width() - 6);
  EXPECT_TRUE(form->statBar->isVisible());
  ASSERT_NE(form->dbgSongs->model(), nullptr);
  EXPECT_EQ(form->dbgSongs->model()->columnCount(), 7);
}

TEST_F(MainFormTest, SplittersShrinkASideToOnePixelButNeverHideIt) {
  ShowForm();
  form->splLeft->setSizes({0, 10000});
  form->splFileView->setSizes({0, 10000});
  QCoreApplication::processEvents();
  EXPECT_EQ(form->pnlLeft->width(), 1);
  EXPECT_EQ(form->dirlist->height(), 1);
  EXPECT_TRUE(form->pnlLeft->isVisible());

  // The filter row narrower than its button plus 6 pixels leaves no edit box.
  form->splLeft->setSizes({30, 10000});
  QCoreApplication::processEvents();
  EXPECT_EQ(form->edtFilter->width(), 0);
}

}  // namespace
