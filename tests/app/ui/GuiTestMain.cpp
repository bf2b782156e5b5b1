// Entry point of the GUI tests: the framework's pool, then a QApplication set
// up as the player sets up its own (theme and title), then the tests. Listing
// the tests (done at build time, possibly without a display) needs no
// QApplication.

#include <gtest/gtest.h>

#include <QApplication>

#include "AppShell.h"
#include "audio/core/Pool.h"
#include "audio/core/ThreadSetup.h"
#include "audio/core/UiDispatcher.h"
#include "common/TestServers.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  lirvo::test::LoadTestServerEnvironment();
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  lirvo::SetUiThread();
  lirvo::SetRealtimeAllowed(false);
  lirvo::FrameworkStartup();
  int rc = 0;
  {
    QApplication app(argc, argv);
    SetupApplication(app);
    rc = RUN_ALL_TESTS();
  }
  lirvo::FrameworkShutdown();
  return rc;
}
