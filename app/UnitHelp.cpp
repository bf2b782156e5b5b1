#include "UnitHelp.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>

namespace {

constexpr int kClientWidth = 561;
constexpr int kClientHeight = 419;

// The guide's page. The lines about the system, the drivers and tuning speak
// of this program's own platform; details are in the README.
const char* const kGuide[] = {
    "Lirvo音乐播放器所支持的操作系统和硬件",
    "",
    "    Lirvo可以在Debian、Ubuntu等Linux发行版上运行，推荐操作系统是Debian 12 ",
    "64bit，Lirvo可以在没有实时调度权限的系统上运行，但无法获得最大系统优化效果。",
    "    若要完全发挥Lirvo的能力，需要四核或更高级的处理器。",
    "",
    "ASIO（直接输出）兼容性",
    "",
    "    由于声卡驱动本身的复杂性，Lirvo不能保证在所有的声卡上工作良好",
    "ASIO方式可以使用的驱动有：",
    "",
    "    ALSA直接硬件设备（hw，独占声卡）",
    "    JACK音频服务器（jackd2）",
    "    通过ALSA驱动的USB音频设备（snd-usb-audio）",
    "",
    "系统优化指南",
    "",
    "    请禁用文件索引服务（如tracker、plocate的定时更新），可以减少爆音机率",
    "    请禁用定时唤醒CPU的服务和定时器（如apt-daily、man-db），可以减少干扰",
    "    要想获得最佳表现，推荐禁用所有网络相关硬件和服务",
    "",
    "    如果您需要为最佳音质而定制的Lirvo Audio OS，",
    "请通过项目主页（见README）与作者联系。",
};

const char* const kShortcuts[] = {
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

const char* const kAbout[] = {
    "    Lirvo音乐播放器是一款专为高品质音乐回放而设计的音频播放器，",
    "特点是高音质，体积小巧，无插件，纯绿色。",
    "",
    "    Lirvo目前支持的音频文件格式：",
    "",
    "    WAV、FLAC、APE、MP3、WMA、CUE",
};

// The ways to give point to the project's own page rather than to a
// person's account.
const char* const kDonate[] = {
    "感谢您使用Lirvo音乐播放器，Lirvo音乐播放器是免费软件，需要您的支持。",
    "",
    "------------------------------------------------------------",
    "捐赠方式",
    "",
    "    捐赠的方式和账户请见项目主页（见README）。",
    "------------------------------------------------------------",
    "参与项目",
    "",
    "    报告问题、改进代码和翻译，同样是对Lirvo的支持，",
    "    请通过项目主页（见README）参与。",
    "------------------------------------------------------------",
    "",
    "您的捐助将帮助Lirvo做得更好！",
};

template <size_t N>
QStringList Lines(const char* const (&lines)[N]) {
  QStringList list;
  for (const char* line : lines)
    list.append(QString::fromUtf8(line));
  return list;
}

QPlainTextEdit* MakePage(QTabWidget* pages, const char* name, const char* caption,
                         const QStringList& lines) {
  auto* memo = new QPlainTextEdit(pages);
  memo->setObjectName(QString::fromLatin1(name));
  memo->setReadOnly(true);
  memo->setFrameShape(QFrame::NoFrame);
  // A line wider than the page wraps at the page's edge.
  memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  memo->setPlainText(lines.join(u'\n'));
  pages->addTab(memo, QString::fromUtf8(caption));
  return memo;
}

}  // namespace

QStringList TLVPHelp::GuideLines() {
  return Lines(kGuide);
}
QStringList TLVPHelp::ShortcutLines() {
  return Lines(kShortcuts);
}
QStringList TLVPHelp::AboutLines() {
  return Lines(kAbout);
}
QStringList TLVPHelp::DonateLines() {
  return Lines(kDonate);
}

TLVPHelp::TLVPHelp(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("LVPHelp"));
  setWindowTitle(QStringLiteral("Lirvo音乐播放器 - 用户指南"));
  // A dialog window does not take its owner's font by itself.
  if (parent) setFont(parent->font());
  BuildControls();
  setFixedSize(kClientWidth, kClientHeight);
  setWindowFlag(Qt::MSWindowsFixedSizeDialogHint, true);
  connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
  FormCreate();
}

void TLVPHelp::BuildControls() {
  pcHelp = new QTabWidget(this);
  pcHelp->setObjectName(QStringLiteral("pcHelp"));
  pcHelp->setGeometry(8, 8, kClientWidth - 16, kClientHeight - 52);

  mmoGuide = MakePage(pcHelp, "mmoGuide", "指南", GuideLines());
  mmoGuide->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  mmoShortcuts = MakePage(pcHelp, "mmoShortcuts", "快捷键", ShortcutLines());
  mmoAbout = MakePage(pcHelp, "mmoAbout", "关于", AboutLines());
  mmoDonate = MakePage(pcHelp, "mmoDonate", "捐赠", DonateLines());
  mmoDonate->setFrameShape(QFrame::StyledPanel);  // the one page with a border

  btnClose = new QPushButton(QStringLiteral("关闭"), this);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  btnClose->setGeometry(kClientWidth - 8 - 85, kClientHeight - 8 - 28, 85, 28);
}

void TLVPHelp::FormCreate() {
  pcHelp->setCurrentIndex(0);
}

void ShowUserGuide(QWidget* owner) {
  TLVPHelp dialog(owner);
  dialog.exec();
}
