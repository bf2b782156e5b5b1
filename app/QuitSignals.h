#pragma once
// SIGTERM, SIGHUP and SIGINT close the main window the way its close box does,
// so the player stops, saves its settings and playlist and puts back the
// processes it tuned when the session ends, the system shuts down from
// outside, or a terminal's Ctrl+C reaches it. The signal handler only writes
// a byte to a socket; the window is closed from the event loop.

#include <QObject>
#include <QPointer>
#include <csignal>

class QSocketNotifier;
class QWidget;

class TQuitSignals : public QObject {
  Q_OBJECT
 public:
  // Closes Window when one of the signals arrives. One instance at a time;
  // the previous handlers come back when it is destroyed.
  explicit TQuitSignals(QWidget* Window);
  ~TQuitSignals() override;

  // False when the handlers could not be installed (the signals then keep
  // their previous behaviour).
  bool Installed() const { return FInstalled; }

 private:
  void Received();

  QPointer<QWidget> FWindow;
  QSocketNotifier* FNotifier = nullptr;
  int FFds[2] = {-1, -1};
  bool FInstalled = false;
  struct sigaction FPrevious[3] = {};
};
