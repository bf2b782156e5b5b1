// lirvo-play: inspect and verify audio files through the player's own
// decoders. See UsageText() for the commands.

#include <iostream>
#include <string>
#include <vector>

#include "PlayCommands.h"
#include "PlayOptions.h"
#include "audio/core/Pool.h"

int main(int argc, char** argv) {
  using namespace lirvo::play;
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
  }
  std::cout.flush();
  lirvo::FrameworkShutdown();
  return rc;
}
