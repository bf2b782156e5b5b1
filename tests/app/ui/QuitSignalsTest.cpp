// The signals that end a session or a terminal close the window through its
// own closing work (the player saves there), and leave the process's signal
// handling as it was afterwards.

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <csignal>
#include <functional>

#include "QuitSignals.h"

namespace {

class TClosingWindow : public QWidget {
 public:
  int Closes = 0;

 protected:
  void closeEvent(QCloseEvent* Event) override {
    ++Closes;
    QWidget::closeEvent(Event);
  }
};

bool ProcessUntil(const std::function<bool()>& Done) {
  QElapsedTimer t;
  t.start();
  while (!Done() && t.elapsed() < 5000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return Done();
}

TEST(QuitSignals, EachSignalClosesTheWindowOnceThroughItsCloseEvent) {
  for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(sig);
    TClosingWindow window;
    window.show();
    TQuitSignals quit(&window);
    ASSERT_TRUE(quit.Installed());
    ASSERT_EQ(::raise(sig), 0);
    EXPECT_TRUE(ProcessUntil([&] { return window.Closes > 0; }));
    EXPECT_FALSE(window.isVisible());
    // Two signals in a row, or one after the window closed, close nothing twice.
    ::raise(sig);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(window.Closes, 1);
  }
}

TEST(QuitSignals, PreviousHandlersComeBackAndAWindowGoneFirstIsHarmless) {
  struct sigaction before = {}, after = {};
  ::sigaction(SIGTERM, nullptr, &before);
  {
    auto* window = new TClosingWindow;
    window->show();
    TQuitSignals quit(window);
    delete window;
    ::raise(SIGTERM);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  ::sigaction(SIGTERM, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
}

}  // namespace
