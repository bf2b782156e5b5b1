#pragma once
// The direct driver's control panel: a small modal dialog with the facts the
// driver reports (its name, the device it drives, the sample formats and
// rates, the buffer sizes and the output channels). The audio core asks for
// it through IAsioControlPanel when the settings dialog's "ASIO控制面板" is
// pressed; the main window installs one at start-up. UI thread only.

#include <QDialog>

#include "audio/outputs/AsioHost.h"

class QLabel;
class QPushButton;

class TAsioControlPanelDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TAsioControlPanelDialog(const lirvo::TAsioDriverFacts& Facts, QWidget* parent = nullptr);

  // The value labels (also their objectName).
  QLabel* lblDriver = nullptr;
  QLabel* lblDevice = nullptr;
  QLabel* lblFormats = nullptr;
  QLabel* lblSampleRates = nullptr;
  QLabel* lblBufferSizes = nullptr;
  QLabel* lblChannels = nullptr;
  QPushButton* btnClose = nullptr;

  // "min / preferred / max frames"; "-" when the driver reports none.
  static QString BufferSizesText(const lirvo::TAsioDriverFacts& Facts);
  // The rates joined with ", " ("44100 Hz, 48000 Hz"); "-" for none.
  static QString SampleRatesText(const lirvo::TAsioDriverFacts& Facts);
};

// Shows the dialog modally over the open modal dialog, else Owner (or the
// active window), and returns when
// it is closed.
class TAsioControlPanel final : public lirvo::IAsioControlPanel {
 public:
  explicit TAsioControlPanel(QWidget* Owner = nullptr) : FOwner(Owner) {}
  void Show(const lirvo::TAsioDriverFacts& Facts) override;

 private:
  QWidget* FOwner;
};
