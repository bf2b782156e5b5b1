#include "common/TestServers.h"

#include <cstdlib>
#include <fstream>
#include <string>

namespace lirvo::test {

void LoadTestServerEnvironment() {
  const char* path = std::getenv("LIRVO_TEST_SERVERS_ENV");
  if (!path || !*path) return;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    setenv(line.substr(0, eq).c_str(), line.substr(eq + 1).c_str(), 1);
  }
}

}  // namespace lirvo::test
