#include "common/TestPaths.h"

#include <unistd.h>

#include <filesystem>

namespace lirvo::test {

std::string ScratchDir(const std::string& name) {
  // ctest runs each test in its own process, several at once: the folder is
  // per process so that parallel tests never share (or delete) files.
  std::filesystem::path p =
      std::filesystem::path(LIRVO_TEST_TMP) / (name + "-" + std::to_string(::getpid()));
  std::filesystem::remove_all(p);
  std::filesystem::create_directories(p);
  return p.string();
}

}  // namespace lirvo::test
