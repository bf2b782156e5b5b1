#pragma once
// The user guide "Lirvo音乐播放器 - 用户指南": four read-only pages (guide,
// shortcuts, about, donations) and a "关闭" button. The window's "操作指南"
// (F1) creates it through ShowUserGuide, shows it modally and destroys it.
//
// UI thread only.

#include <QDialog>
#include <QStringList>

class QPlainTextEdit;
class QPushButton;
class QTabWidget;

class TLVPHelp : public QDialog {
  Q_OBJECT
 public:
  explicit TLVPHelp(QWidget* parent = nullptr);

  // The lines of each page, in page order.
  static QStringList GuideLines();
  static QStringList ShortcutLines();
  static QStringList AboutLines();
  static QStringList DonateLines();

  // The controls (also their objectName).
  QTabWidget* pcHelp = nullptr;
  QPlainTextEdit* mmoGuide = nullptr;
  QPlainTextEdit* mmoShortcuts = nullptr;
  QPlainTextEdit* mmoAbout = nullptr;
  QPlainTextEdit* mmoDonate = nullptr;
  QPushButton* btnClose = nullptr;

 private:
  void BuildControls();
  void FormCreate();
};

// "操作指南" (F1): the guide, owned by owner, shown modally; gone when this
// returns.
void ShowUserGuide(QWidget* owner);
