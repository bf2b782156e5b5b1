#include "QuitSignals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QWidget>
#include <atomic>
#include <cerrno>

namespace {

constexpr int kSignals[3] = {SIGTERM, SIGHUP, SIGINT};
// Written by the handler, so it must be a plain lock-free value.
std::atomic<int> gWriteFd{-1};

void OnSignal(int) {
  const int saved = errno;
  const int fd = gWriteFd.load();
  if (fd >= 0) {
    const char byte = 1;
    // A full socket already holds a request: losing this byte loses nothing.
    [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
  }
  errno = saved;
}

}  // namespace

TQuitSignals::TQuitSignals(QWidget* Window) : FWindow(Window) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, FFds) != 0) return;
  gWriteFd.store(FFds[0]);
  FNotifier = new QSocketNotifier(FFds[1], QSocketNotifier::Read, this);
  connect(FNotifier, &QSocketNotifier::activated, this, &TQuitSignals::Received);
  struct sigaction sa = {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  FInstalled = true;
  for (int i = 0; i < 3; ++i)
    if (::sigaction(kSignals[i], &sa, &FPrevious[i]) != 0) FInstalled = false;
}

TQuitSignals::~TQuitSignals() {
  for (int i = 0; i < 3; ++i)
    ::sigaction(kSignals[i], &FPrevious[i], nullptr);
  gWriteFd.store(-1);
  delete FNotifier;
  for (int fd : FFds)
    if (fd >= 0) ::close(fd);
}

void TQuitSignals::Received() {
  char buf[64];
  while (::read(FFds[1], buf, sizeof buf) > 0) {
  }
  // Closing runs the window's own closing work; a window already gone or
  // closed needs nothing more.
  if (FWindow && FWindow->isVisible()) FWindow->close();
}
