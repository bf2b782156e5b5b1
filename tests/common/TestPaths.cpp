#include "common/TestPaths.h"

#include <filesystem>

namespace lirvo::test {

std::string ScratchDir(const std::string& name) {
  std::filesystem::path p = std::filesystem::path(LIRVO_TEST_TMP) / name;
  std::filesystem::remove_all(p);
  std::filesystem::create_directories(p);
  return p.string();
}

}  // namespace lirvo::test
