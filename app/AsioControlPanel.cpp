#include "AsioControlPanel.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

namespace {

QLabel* ValueLabel(QWidget* parent, const char* name, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);  // names come from the driver
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setWordWrap(true);
  return label;
}

QString OrDash(const QString& text) {
  return text.isEmpty() ? QStringLiteral("-") : text;
}

}  // namespace

QString TAsioControlPanelDialog::BufferSizesText(const lirvo::TAsioDriverFacts& Facts) {
  if (Facts.MinBufferSize <= 0 && Facts.MaxBufferSize <= 0 && Facts.PreferredBufferSize <= 0) {
    return QStringLiteral("-");
  }
  return QStringLiteral("%1 / %2 / %3")
      .arg(Facts.MinBufferSize)
      .arg(Facts.PreferredBufferSize)
      .arg(Facts.MaxBufferSize);
}

QString TAsioControlPanelDialog::SampleRatesText(const lirvo::TAsioDriverFacts& Facts) {
  QStringList rates;
  for (uint32_t rate : Facts.SampleRates)
    rates.append(QStringLiteral("%1 Hz").arg(rate));
  return OrDash(rates.join(QStringLiteral(", ")));
}

TAsioControlPanelDialog::TAsioControlPanelDialog(const lirvo::TAsioDriverFacts& Facts,
                                                 QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("AsioControlPanel"));
  setWindowTitle(QStringLiteral("ASIO控制面板"));
  QStringList formats;
  for (const std::string& f : Facts.Formats)
    formats.append(QString::fromStdString(f));

  lblDriver = ValueLabel(this, "lblDriver", OrDash(QString::fromStdString(Facts.Driver)));
  lblDevice = ValueLabel(this, "lblDevice", OrDash(QString::fromStdString(Facts.Device)));
  lblFormats = ValueLabel(this, "lblFormats", OrDash(formats.join(QStringLiteral(", "))));
  lblSampleRates = ValueLabel(this, "lblSampleRates", SampleRatesText(Facts));
  lblBufferSizes = ValueLabel(this, "lblBufferSizes", BufferSizesText(Facts));
  lblChannels = ValueLabel(this, "lblChannels", QString::number(Facts.OutputChannels));

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("驱动："), lblDriver);
  form->addRow(QStringLiteral("设备："), lblDevice);
  form->addRow(QStringLiteral("采样格式："), lblFormats);
  form->addRow(QStringLiteral("采样率："), lblSampleRates);
  form->addRow(QStringLiteral("缓冲大小（最小/推荐/最大）："), lblBufferSizes);
  form->addRow(QStringLiteral("输出声道："), lblChannels);

  btnClose = new QPushButton(QStringLiteral("关闭"), this);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  btnClose->setDefault(true);
  connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnClose);

  auto* column = new QVBoxLayout(this);
  column->addLayout(form);
  column->addLayout(buttons);
  setMinimumWidth(360);
}

void TAsioControlPanel::Show(const lirvo::TAsioDriverFacts& Facts) {
  // Over the settings dialog that asked for it, when there is one.
  QWidget* owner = QApplication::activeModalWidget();
  if (!owner) owner = FOwner ? FOwner : QApplication::activeWindow();
  TAsioControlPanelDialog dialog(Facts, owner);
  dialog.exec();
}
