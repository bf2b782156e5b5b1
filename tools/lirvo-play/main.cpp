// lirvo-play: inspect and verify audio files through the player's own
// decoders, and play them through the player's own chain. See UsageText()
// for the commands.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "PlayCommands.h"
#include "PlayOptions.h"
#include "audio/core/Pool.h"
#include "audio/core/UiDispatcher.h"

namespace {

// Set by SIGINT and SIGTERM while --play runs. The handler also writes a
// byte to a pipe, whose reader wakes the waiting UI thread: a handler may not
// touch the dispatcher's lock, and the UI thread sleeps until there is work.
std::atomic<bool> gStopRequested{false};
std::atomic<int> gStopPipe{-1};
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int) {
  const int saved = errno;
  gStopRequested.store(true);
  const int fd = gStopPipe.load();
  if (fd >= 0) {
    const ssize_t r = write(fd, "s", 1);
    (void)r;
  }
  errno = saved;
}

// Installs the handlers and the pipe's reader for as long as it lives.
class TStopSignals {
 public:
  TStopSignals() {
    int fds[2] = {-1, -1};
    if (pipe(fds) == 0) {
      FRead = fds[0];
      gStopPipe.store(fds[1]);
      FReader = std::thread([fd = FRead] {
        char c = 0;
        for (;;) {
          const ssize_t r = read(fd, &c, 1);
          if (r > 0) {
            lirvo::WakeUiWaiters();
          } else if (r == 0 || errno != EINTR) {
            break;
          }
        }
      });
    }
    struct sigaction sa = {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
  }
  ~TStopSignals() {
    // The reader ends at the pipe's end of file.
    const int fd = gStopPipe.exchange(-1);
    if (fd >= 0) close(fd);
    if (FReader.joinable()) FReader.join();
    if (FRead >= 0) close(FRead);
  }
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;

 private:
  int FRead = -1;
  std::thread FReader;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace lirvo::play;
  // This thread plays the UI thread: the outputs' events run here.
  lirvo::SetUiThread();
  try {
    // The decoders borrow their buffers from the framework's pool.
    lirvo::FrameworkStartup();
  } catch (const std::exception& e) {
    std::cerr << "lirvo-play: " << e.what() << "\n";
    return kExitFailed;
  }
  TPlayOptions options;
  try {
    options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const TUsageError& e) {
    std::cerr << "lirvo-play: " << e.Message << "\n" << UsageText();
    return kExitUsage;
  }
  int rc = kExitOk;
  switch (options.Command) {
    case TCommand::Help:
      std::cout << UsageText();
      break;
    case TCommand::Info:
      rc = RunInfo(options, std::cout, std::cerr);
      break;
    case TCommand::Decode:
      rc = RunDecode(options, std::cerr);
      break;
    case TCommand::ListDevices:
      rc = RunListDevices(std::cout);
      break;
    case TCommand::Play: {
      TStopSignals signals;
      rc = RunPlay(options, std::cerr, gStopRequested);
      break;
    }
  }
  std::cout.flush();
  lirvo::FrameworkShutdown();
  return rc;
}
