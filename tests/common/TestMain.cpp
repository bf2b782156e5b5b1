// Test entry point shared by every non-GUI test binary: starts the framework
// (the locked pool) once, marks the main thread as the UI thread and keeps
// test threads out of the real-time class.

#include <gtest/gtest.h>

#include "audio/core/Pool.h"
#include "audio/core/ThreadSetup.h"
#include "audio/core/UiDispatcher.h"
#include "common/TestServers.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  lirvo::test::LoadTestServerEnvironment();
  lirvo::SetUiThread();
  lirvo::SetRealtimeAllowed(false);
  lirvo::FrameworkStartup();
  int rc = RUN_ALL_TESTS();
  lirvo::FrameworkShutdown();
  return rc;
}
