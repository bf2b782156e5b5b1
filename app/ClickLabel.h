#pragma once
// A label that reports a left click (press and release inside it), used for
// the status line, which locates the playing row when clicked.

#include <QLabel>

class TClickLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool FPressed = false;  // a left press began inside the label
};
