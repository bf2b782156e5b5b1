// The user guide: caption, fixed size, the four pages and their texts, the
// close button, and "操作指南" showing it modally and destroying it.

#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include "UnitHelp.h"

namespace {

QStringList LinesOf(const QPlainTextEdit* memo) {
  return memo->toPlainText().split(u'\n');
}

TEST(HelpTest, CaptionSizeAndPages) {
  TLVPHelp help;
  EXPECT_EQ(help.windowTitle(), QStringLiteral("Lirvo音乐播放器 - 用户指南"));
  EXPECT_EQ(help.size(), QSize(561, 419));
  EXPECT_EQ(help.minimumSize(), help.maximumSize());
  ASSERT_EQ(help.pcHelp->count(), 4);
  const QString captions[] = {QStringLiteral("指南"), QStringLiteral("快捷键"),
                              QStringLiteral("关于"), QStringLiteral("捐赠")};
  const QPlainTextEdit* memos[] = {help.mmoGuide, help.mmoShortcuts, help.mmoAbout, help.mmoDonate};
  for (int page = 0; page < 4; ++page) {
    EXPECT_EQ(help.pcHelp->tabText(page), captions[page]);
    EXPECT_EQ(help.pcHelp->widget(page), memos[page]);
    EXPECT_TRUE(memos[page]->isReadOnly());
  }
  EXPECT_EQ(help.pcHelp->currentIndex(), 0);  // opens on the guide
  EXPECT_EQ(help.mmoGuide->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(help.mmoGuide->frameShape(), QFrame::NoFrame);
  EXPECT_EQ(help.mmoShortcuts->frameShape(), QFrame::NoFrame);
  EXPECT_NE(help.mmoDonate->frameShape(), QFrame::NoFrame);  // the one with a border
  EXPECT_EQ(help.btnClose->text(), QStringLiteral("关闭"));
}

TEST(HelpTest, ShortcutPageLinesAreExact) {
  TLVPHelp help;
  const QStringList expected = {
      "播放列表选中状态:",
      "",
      "    Ctrl+A   选中所有曲目",
      "",
      "    Del      删除选中曲目",
      "",
      "    Ctrl+Del 删除所有曲目",
      "",
      "鼠标操作",
      "",
      "    在播放列表空白处点击右键，选中所有曲目",
      "",
      "    在文件列表空白处点击右键，选中所有文件",
      "",
      "    在文件列表项上点击右键，选中所有同类型文件",
      "",
      "    在正在播放标题上点击左键，可定位到当前播放曲目",
      "",
      "    在进度条上点击或拖动，跳到曲目中的该位置",
      "",
      "播放控制",
      "",
      "    Alt+Left  后退10秒",
      "",
      "    Alt+Right 前进10秒",
  };
  EXPECT_EQ(LinesOf(help.mmoShortcuts), expected);
}

TEST(HelpTest, GuideAboutAndDonationPagesKeepTheirFixedLines) {
  TLVPHelp help;
  const QStringList guide = LinesOf(help.mmoGuide);
  ASSERT_GE(guide.size(), 21);
  EXPECT_EQ(guide[0], QStringLiteral("Lirvo音乐播放器所支持的操作系统和硬件"));
  EXPECT_EQ(guide[1], QString());
  EXPECT_EQ(guide[4], QStringLiteral("    若要完全发挥Lirvo的能力，需要四核或更高级的处理器。"));
  EXPECT_EQ(guide[15], QStringLiteral("系统优化指南"));
  EXPECT_EQ(guide[19], QStringLiteral("    要想获得最佳表现，推荐禁用所有网络相关硬件和服务"));

  const QStringList about = LinesOf(help.mmoAbout);
  ASSERT_EQ(about.size(), 6);
  EXPECT_EQ(about.mid(1), (QStringList{"特点是高音质，体积小巧，无插件，纯绿色。", "",
                                       "    Lirvo目前支持的音频文件格式：", "",
                                       "    WAV、FLAC、APE、MP3、WMA、CUE"}));

  const QStringList donate = LinesOf(help.mmoDonate);
  EXPECT_EQ(donate.first(),
            QStringLiteral("感谢您使用Lirvo音乐播放器，Lirvo音乐播放器是免费软件，需要您的支持。"));
  EXPECT_EQ(donate.last(), QStringLiteral("您的捐助将帮助Lirvo做得更好！"));
  EXPECT_TRUE(donate.filter(QRegularExpression(QStringLiteral("^-{10,}$"))).size() >= 2);
}

TEST(HelpTest, PagesSpeakOfThisPlatformAndNameNoPersonalAccount) {
  TLVPHelp help;
  const QString all = help.mmoGuide->toPlainText() + help.mmoDonate->toPlainText();
  for (const char* foreign : {"Windows", "XP", "Superfetch", "FontCache", "ASIO4ALL", "@"})
    EXPECT_FALSE(all.contains(QString::fromLatin1(foreign))) << foreign;
  for (const char* local : {"Linux", "ALSA", "JACK", "README"})
    EXPECT_TRUE(all.contains(QString::fromLatin1(local))) << local;
}

TEST(HelpTest, CloseButtonClosesTheDialog) {
  TLVPHelp help;
  help.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&help));
  help.btnClose->click();
  EXPECT_FALSE(help.isVisible());
}

TEST(HelpTest, ShowUserGuideRunsModallyOverItsOwnerAndDestroysTheDialog) {
  QWidget owner;
  owner.resize(640, 400);
  owner.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
  bool seen = false;
  QTimer::singleShot(0, [&] {
    if (auto* help = qobject_cast<TLVPHelp*>(QApplication::activeModalWidget())) {
      seen = help->parentWidget() == &owner && help->isModal();
      help->btnClose->click();
    } else if (auto* stray = owner.findChild<TLVPHelp*>()) {
      stray->reject();  // not modal: the test fails, but it does not hang
    }
  });
  ShowUserGuide(&owner);
  EXPECT_TRUE(seen);
  EXPECT_TRUE(owner.findChildren<TLVPHelp*>().isEmpty());
}

}  // namespace
