// Where the settings and playlist files live: beside the executable when its
// folder is writable, else under the XDG configuration folder.

#include <gtest/gtest.h>

#include <string>

#include "app/logic/settings/AppPaths.h"

namespace lirvo {
namespace {

TAppPathEnvironment Env(bool exeDirWritable, std::string xdg) {
  TAppPathEnvironment env;
  env.ExeDir = "/opt/lirvo";
  env.XdgConfigHome = std::move(xdg);
  env.Home = "/home/user";
  env.IsWritableDir = [exeDirWritable](const std::string& dir) {
    return dir == "/opt/lirvo" && exeDirWritable;
  };
  return env;
}

TEST(AppPaths, FilesLiveInTheFirstPlaceThatApplies) {
  const struct {
    bool Writable;
    const char* Xdg;
    const char* Dir;
  } cases[] = {
      {true, "/xdg", "/opt/lirvo"},                     // a portable copy
      {false, "/xdg", "/xdg/lirvo"},                    // installed read-only
      {false, "", "/home/user/.config/lirvo"},          // XDG_CONFIG_HOME unset
      {false, "relative", "/home/user/.config/lirvo"},  // not absolute: ignored
  };
  for (const auto& c : cases) {
    const TAppPathEnvironment env = Env(c.Writable, c.Xdg);
    EXPECT_EQ(GetConfigDir(env), c.Dir) << c.Xdg;
    EXPECT_EQ(GetSettingsFileName(env), std::string(c.Dir) + "/lirvo.ini");
    EXPECT_EQ(GetPlaylistFileName(env), std::string(c.Dir) + "/lirvo.xpl");
  }
}

TEST(AppPaths, UnknownExecutableFolderFallsBackToTheConfigFolder) {
  TAppPathEnvironment env = Env(true, "/xdg");
  env.ExeDir.clear();
  EXPECT_EQ(GetPlaylistFileName(env), "/xdg/lirvo/lirvo.xpl");
}

TEST(AppPaths, RunningProcessFindsItsOwnFolder) {
  const TAppPathEnvironment env = CurrentAppPathEnvironment();
  EXPECT_FALSE(env.ExeDir.empty());
  EXPECT_FALSE(env.Home.empty());
  // This test binary's build folder is writable, so the files go beside it.
  EXPECT_EQ(GetPlaylistFileName(), env.ExeDir + "/lirvo.xpl");
}

}  // namespace
}  // namespace lirvo
