// The Qt dispatcher must let a worker's synchronous call run on the main
// thread from the event loop alone (nobody pumps CheckSynchronize by hand).

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <thread>

#include "QtUiDispatcher.h"
#include "audio/core/UiDispatcher.h"

namespace {

TEST(QtUiDispatcher, WorkerSynchronizeRunsOnMainThreadFromEventLoop) {
  TQtUiDispatcher dispatcher;
  QThread* mainThread = QThread::currentThread();
  std::atomic<bool> ranOnMain{false};
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    lirvo::Synchronize([&] { ranOnMain = QThread::currentThread() == mainThread; });
    returned = true;
  });

  QElapsedTimer timer;
  timer.start();
  while (!returned && timer.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  if (!returned) lirvo::CheckSynchronize();  // release the worker so the test can end
  worker.join();
  EXPECT_TRUE(returned.load()) << "the event loop never ran the queued call";
  EXPECT_TRUE(ranOnMain.load());
}

TEST(QtUiDispatcher, DestroyedDispatcherPostsNothing) {
  { TQtUiDispatcher dispatcher; }
  // With the hook removed a worker's call waits until someone pumps; it must
  // not post to the application any more.
  std::atomic<bool> ran{false};
  std::thread worker([&] { lirvo::Synchronize([&] { ran = true; }); });
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < 200)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_FALSE(ran.load());
  lirvo::CheckSynchronize(std::chrono::milliseconds(5000));
  worker.join();
  EXPECT_TRUE(ran.load());
}

}  // namespace
