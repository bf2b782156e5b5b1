#pragma once
// Paths of the shared fixtures and of a scratch folder for files a test makes.

#include <string>

namespace lirvo::test {

inline std::string FixturePath(const std::string& relative) {
  return std::string(LIRVO_FIXTURES_DIR) + "/" + relative;
}

// A fresh folder under the build tree for this test process's generated files.
std::string ScratchDir(const std::string& name);

}  // namespace lirvo::test
