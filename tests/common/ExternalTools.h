#pragma once
// Running the reference tools (ffmpeg, flac, sox, ...) from tests.

#include <cstdint>
#include <string>
#include <vector>

namespace lirvo::test {

// Single-quotes S for the shell.
std::string Quote(const std::string& S);
// Runs Command through the shell and returns what it wrote to stdout.
std::vector<uint8_t> RunCapture(const std::string& Command);
// Whether the tool is on the PATH.
bool HaveTool(const std::string& Name);

}  // namespace lirvo::test

// The tools are part of the project's set-up: a missing one is a failure.
#define REQUIRE_TOOL(name) \
  ASSERT_TRUE(::lirvo::test::HaveTool(name)) << name << " is needed by this test (project set-up)"
