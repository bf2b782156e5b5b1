#include "StatusLine.h"

#include <QLabel>

namespace {

const char kErrorStyle[] = "color: #FF0000;";

}  // namespace

QString TLabelStatusLine::Text() const {
  return FLabel.text();
}

void TLabelStatusLine::Show(const QString& Text) {
  if (FIsError) {
    FLabel.setStyleSheet(QString());
    FIsError = false;
  }
  FLabel.setText(Text);
  FLabel.repaint();
}

void TLabelStatusLine::ShowError(const QString& Text) {
  if (!FIsError) {
    // A sheet of the label's own wins over the theme's text colour.
    FLabel.setStyleSheet(QString::fromLatin1(kErrorStyle));
    FIsError = true;
  }
  FLabel.setText(Text);
  FLabel.repaint();
}
