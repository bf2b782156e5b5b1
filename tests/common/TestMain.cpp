// Test entry point shared by every non-GUI test binary: starts the framework
// (the locked pool) once, marks the main thread as the UI thread and keeps
// test threads out of the real-time class. The real-time area
// (LIRVO_TEST_REALTIME) keeps the class on and bounds it instead: a
// real-time thread of the test that runs 2 s of processor time without
// blocking gets SIGXCPU, at 3 s SIGKILL, so a runaway cannot hold the
// machine.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include "audio/core/Pool.h"
#include "audio/core/ThreadSetup.h"
#include "audio/core/UiDispatcher.h"
#include "common/TestServers.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  lirvo::test::LoadTestServerEnvironment();
  lirvo::SetUiThread();
#ifdef LIRVO_TEST_REALTIME
  const struct rlimit rttime { 2'000'000, 3'000'000 };  // microseconds
  if (setrlimit(RLIMIT_RTTIME, &rttime) != 0) return 1;
#else
  lirvo::SetRealtimeAllowed(false);
#endif
  lirvo::FrameworkStartup();
  int rc = RUN_ALL_TESTS();
  lirvo::FrameworkShutdown();
  return rc;
}
