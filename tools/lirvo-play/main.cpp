// lirvo-play: inspect and verify audio files through the player's own
// decoders, and play them through the player's own chain. See UsageText()
// for the commands.

#include <signal.h>

#include <atomic>
#include <iostream>
#include <string>
#include <vector>

#include "PlayCommands.h"
#include "PlayOptions.h"
#include "audio/core/Pool.h"
#include "audio/core/UiDispatcher.h"

namespace {

// Set by SIGINT and SIGTERM while --play runs; the wait loop polls it (the
// handler does nothing else: stopping the output is no work for a handler).
std::atomic<bool> gStopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnStopSignal(int) {
  gStopRequested.store(true);
}

void InstallStopHandlers() {
  struct sigaction sa = {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

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
    case TCommand::Play:
      InstallStopHandlers();
      rc = RunPlay(options, std::cerr, gStopRequested);
      break;
  }
  std::cout.flush();
  lirvo::FrameworkShutdown();
  return rc;
}
