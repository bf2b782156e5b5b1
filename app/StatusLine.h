#pragma once
// The window's status line as the parts of the window see it: a message in
// the normal text colour or an error in red, each painted before the call
// returns so a message shown during long work is seen. UI thread only.

#include <QString>

class QLabel;

class IStatusLine {
 public:
  virtual ~IStatusLine() = default;

  virtual QString Text() const = 0;
  // The line shows an error (red) until the next Show.
  virtual bool IsError() const = 0;
  virtual void Show(const QString& Text) = 0;
  virtual void ShowError(const QString& Text) = 0;
};

// The status line on a label the caller keeps alive.
class TLabelStatusLine final : public IStatusLine {
 public:
  explicit TLabelStatusLine(QLabel& Label) : FLabel(Label) {}

  QString Text() const override;
  bool IsError() const override { return FIsError; }
  void Show(const QString& Text) override;
  void ShowError(const QString& Text) override;

 private:
  QLabel& FLabel;
  bool FIsError = false;
};
