#include "AppShell.h"

#include <QApplication>
#include <QFile>
#include <QPalette>
#include <QStyleFactory>

// The resources live in the static library lirvo_ui; nothing else references
// their initialiser, so it is pulled in here by name.
static void InitLirvoResources() {
  Q_INIT_RESOURCE(resources);
}

const QString& AppTitle() {
  static const QString title = QStringLiteral("Lirvo音乐播放器 2.4");
  return title;
}

namespace {

// The palette under the style sheet: it colours whatever the sheet leaves
// alone (for instance the parts Fusion draws itself) in the same dark tones.
QPalette CarbonPalette() {
  const QColor window(0x2b, 0x2d, 0x30);
  const QColor base(0x1e, 0x1f, 0x22);
  const QColor text(0xd6, 0xd8, 0xdb);
  const QColor disabled(0x6e, 0x73, 0x78);
  const QColor accent(0x3d, 0x6a, 0x8f);
  QPalette p;
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, QColor(0x25, 0x27, 0x2a));
  p.setColor(QPalette::ToolTipBase, base);
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::PlaceholderText, disabled);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, QColor(0x36, 0x39, 0x3e));
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::BrightText, QColor(0xff, 0xff, 0xff));
  p.setColor(QPalette::Light, QColor(0x45, 0x48, 0x4d));
  p.setColor(QPalette::Midlight, QColor(0x3a, 0x3d, 0x42));
  p.setColor(QPalette::Mid, QColor(0x2f, 0x31, 0x35));
  p.setColor(QPalette::Dark, QColor(0x1a, 0x1b, 0x1e));
  p.setColor(QPalette::Shadow, QColor(0x10, 0x10, 0x12));
  p.setColor(QPalette::Highlight, accent);
  p.setColor(QPalette::HighlightedText, QColor(0xff, 0xff, 0xff));
  p.setColor(QPalette::Link, QColor(0x7f, 0xae, 0xd3));
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    p.setColor(QPalette::Disabled, role, disabled);
  }
  return p;
}

}  // namespace

void ApplyCarbonTheme(QApplication& app) {
  InitLirvoResources();
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);
  app.setPalette(CarbonPalette());
  QFile sheet(QStringLiteral(":/carbon.qss"));
  // Without the sheet the player still works on the dark palette alone.
  if (sheet.open(QIODevice::ReadOnly | QIODevice::Text)) {
    app.setStyleSheet(QString::fromUtf8(sheet.readAll()));
  }
}

void SetupApplication(QApplication& app) {
  ApplyCarbonTheme(app);
  QGuiApplication::setApplicationDisplayName(AppTitle());
}
