// The session script (~/.xsession under a temporary HOME) and the system
// commands through a recording runner: nothing here starts a terminal,
// reboots or writes the real session script.

#include "app/logic/system/ShellCommands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "app/logic/system/ProcUtils.h"
#include "common/TestFiles.h"
#include "common/TestPaths.h"

namespace lirvo {
namespace {

namespace fs = std::filesystem;
using test::ReadText;
using ::testing::ElementsAre;

void WriteText(const std::string& Path, const std::string& Text, fs::perms Mode = fs::perms(0644)) {
  test::WriteText(Path, Text);
  fs::permissions(Path, Mode);
}

// Records what would have left the process; Accept decides the answer.
class TRecordingRunner final : public ICommandRunner {
 public:
  explicit TRecordingRunner(std::vector<std::string>& Log) : FLog(Log) {}
  bool StartDetached(const std::string& Program, const std::vector<std::string>& Args) override {
    FLog.push_back("start " + Join(Program, Args));
    return Accept;
  }
  bool Run(const std::string& Program, const std::vector<std::string>& Args) override {
    FLog.push_back("run " + Join(Program, Args));
    return Accept;
  }
  bool IsInstalled(const std::string& Program) override { return Installed.count(Program) > 0; }

  bool Accept = true;
  std::set<std::string> Installed;

 private:
  static std::string Join(const std::string& Program, const std::vector<std::string>& Args) {
    std::string s = Program;
    for (const std::string& a : Args)
      s += " " + a;
    return s;
  }
  std::vector<std::string>& FLog;
};

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* home = getenv("HOME");
    if (home) FOldHome = home;
    FScratch = test::ScratchDir("shell-" + std::to_string(getpid()));
    FHome = FScratch + "/home of \"lirvo\" user";
    fs::create_directories(FHome);
    setenv("HOME", FHome.c_str(), 1);
    FFiles = CurrentShellFiles();
    // Nothing below may touch a real session script.
    ASSERT_EQ(FFiles.Shell, FHome + "/.xsession");
    ASSERT_EQ(FFiles.SaveShell, FHome + "/.xsession.lirvo-save");
  }
  void TearDown() override {
    if (FOldHome)
      setenv("HOME", FOldHome->c_str(), 1);
    else
      unsetenv("HOME");
    fs::remove_all(FScratch);
  }

  std::optional<std::string> FOldHome;
  std::string FScratch, FHome;
  TShellFiles FFiles;
  const std::string FPlayer = "/opt/Lirvo Player/lirvo";
};

TEST_F(ShellTest, IsShellFollowsTheSessionScriptIgnoringLetterCase) {
  EXPECT_FALSE(IsShell(FPlayer)) << "no script";
  WriteText(FFiles.Shell, "exec x-session-manager\n");
  EXPECT_FALSE(IsShell(FPlayer));
  WriteText(FFiles.Shell, "exec /OPT/lirvo player/LIRVO\n");
  EXPECT_TRUE(IsShell(FPlayer));
  EXPECT_FALSE(IsShell("")) << "an empty path is in every text";
  fs::remove(FFiles.Shell);
  ASSERT_TRUE(RegisterShell(FPlayer));
  EXPECT_TRUE(IsShell(FPlayer));
  EXPECT_FALSE(IsShell("/usr/bin/other-player"));
}

TEST_F(ShellTest, RegisteringTwiceKeepsTheScriptSavedFirst) {
  const std::string original = "#!/bin/sh\nexec startxfce4\n";
  WriteText(FFiles.Shell, original, fs::perms(0700));
  ASSERT_TRUE(RegisterShell(FPlayer));
  EXPECT_EQ(ReadText(FFiles.SaveShell), original);
  EXPECT_EQ(ReadText(FFiles.Shell), "#!/bin/sh\nexec \"/opt/Lirvo Player/lirvo\"\n");
  EXPECT_EQ(fs::status(FFiles.Shell).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);

  ASSERT_TRUE(RegisterShell("/usr/local/bin/lirvo"));
  EXPECT_EQ(ReadText(FFiles.SaveShell), original);
  EXPECT_TRUE(IsShell("/usr/local/bin/lirvo"));

  ASSERT_TRUE(RestoreShell());
  EXPECT_EQ(ReadText(FFiles.Shell), original);
  EXPECT_EQ(fs::status(FFiles.Shell).permissions() & fs::perms::all, fs::perms(0700));
  EXPECT_TRUE(fs::exists(FFiles.SaveShell)) << "the saved copy stays";
  EXPECT_FALSE(IsShell(FPlayer));
}

TEST_F(ShellTest, RestoringWithoutSavedCopyStartsTheSessionManager) {
  WriteText(FFiles.Shell, "exec \"/opt/Lirvo Player/lirvo\"\n");
  ASSERT_TRUE(RestoreShell());
  EXPECT_EQ(ReadText(FFiles.Shell), "#!/bin/sh\nexec x-session-manager\n");
  EXPECT_FALSE(fs::exists(FFiles.SaveShell));
}

TEST_F(ShellTest, RestoringAfterRegisteringWithoutScriptRemovesTheScript) {
  ASSERT_TRUE(RegisterShell(FPlayer));
  EXPECT_TRUE(IsShell(FPlayer));
  ASSERT_TRUE(RestoreShell());
  EXPECT_FALSE(fs::exists(FFiles.Shell)) << "the login manager's own session comes back";
  EXPECT_TRUE(RestoreShell()) << "already gone is fine";
}

TEST_F(ShellTest, ScriptThatCannotBeReadIsNeitherSavedNorReplaced) {
  fs::create_directory(FFiles.Shell);
  EXPECT_FALSE(IsShell(FPlayer));
  EXPECT_FALSE(RegisterShell(FPlayer));
  EXPECT_FALSE(fs::exists(FFiles.SaveShell));
  EXPECT_TRUE(fs::is_directory(FFiles.Shell));
  for (const auto& e : fs::directory_iterator(FHome))
    EXPECT_TRUE(e.path() == FFiles.Shell) << "left behind: " << e.path();
}

TEST_F(ShellTest, WithoutHomeNothingIsReadOrWritten) {
  unsetenv("HOME");
  EXPECT_FALSE(CurrentShellFiles().Valid());
  EXPECT_FALSE(IsShell(FPlayer));
  EXPECT_FALSE(RegisterShell(FPlayer));
  EXPECT_FALSE(RestoreShell());
  setenv("HOME", "", 1);
  EXPECT_FALSE(RegisterShell(FPlayer));
  EXPECT_TRUE(fs::is_empty(FHome));
}

TEST_F(ShellTest, RegisteredScriptStartsAPlayerWhosePathHoldsSpacesQuotesAndShellCharacters) {
  const std::string dir = FHome + "/Lirvo \"Player\" $HOME `id` \\ 's";
  fs::create_directories(dir);
  const std::string player = dir + "/lirvo player";
  const std::string marker = FScratch + "/started";
  WriteText(player, "#!/bin/sh\necho \"started $#\" > \"" + marker + "\"\n", fs::perms(0755));

  ASSERT_TRUE(RegisterShell(player));
  EXPECT_TRUE(IsShell(player)) << ReadText(FFiles.Shell);
  // The shell itself reads the script: the player runs, without arguments.
  TSystemCommandRunner runner;
  ASSERT_TRUE(runner.Run("/bin/sh", {FFiles.Shell}));
  EXPECT_EQ(ReadText(marker), "started 0\n");
}

TEST(SystemCommandsTest, TerminalAndMixerStartTheMappedPrograms) {
  struct TCase {
    bool Pavucontrol;
    const char* Mixer;
  };
  for (TCase c :
       {TCase{true, "start pavucontrol"}, TCase{false, "start x-terminal-emulator -e alsamixer"}}) {
    std::vector<std::string> log;
    TRecordingRunner runner(log);
    if (c.Pavucontrol) runner.Installed.insert("pavucontrol");
    EXPECT_TRUE(RunTerminal(runner));
    EXPECT_TRUE(RunMixer(runner));
    EXPECT_THAT(log, ElementsAre("start x-terminal-emulator", c.Mixer));
  }
  std::vector<std::string> log;
  TRecordingRunner refusing(log);
  refusing.Accept = false;
  EXPECT_FALSE(RunTerminal(refusing));
  EXPECT_FALSE(RunMixer(refusing));
}

class SaveStepsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = test::ScratchDir("system-steps-" + std::to_string(getpid()));
    FSteps.StopAudioOut = [this] { FLog.push_back("stop"); };
    FSteps.SaveSettings = [this] {
      FLog.push_back("settings");
      WriteText(FDir + "/lirvo.ini", "[Config]\n");
    };
    FSteps.SavePlaylist = [this] {
      FLog.push_back("playlist");
      WriteText(FDir + "/lirvo.xpl", "list");
    };
  }
  void TearDown() override { fs::remove_all(FDir); }
  bool FilesSaved() const {
    return fs::exists(FDir + "/lirvo.ini") && fs::exists(FDir + "/lirvo.xpl");
  }

  std::string FDir;
  std::vector<std::string> FLog;
  TSaveSteps FSteps;
};

TEST_F(SaveStepsTest, RebootAndPowerOffStopAndSaveBeforeAskingLogindAndSurviveARefusal) {
  const std::string call =
      "run busctl call org.freedesktop.login1 /org/freedesktop/login1 "
      "org.freedesktop.login1.Manager ";
  struct TCase {
    bool Reboot, Accepted;
  };
  for (TCase c : {TCase{true, true}, TCase{false, true}, TCase{true, false}, TCase{false, false}}) {
    SCOPED_TRACE(::testing::Message() << "reboot " << c.Reboot << " accepted " << c.Accepted);
    FLog.clear();
    fs::remove(FDir + "/lirvo.ini");
    fs::remove(FDir + "/lirvo.xpl");
    TRecordingRunner runner(FLog);
    runner.Accept = c.Accepted;
    EXPECT_EQ(SaveAndShutdown(FSteps, runner, c.Reboot), c.Accepted);
    EXPECT_THAT(FLog, ElementsAre("stop", "settings", "playlist",
                                  call + (c.Reboot ? "Reboot" : "PowerOff") + " b true"));
    EXPECT_TRUE(FilesSaved());
  }
}

TEST_F(SaveStepsTest, RestartSavesStartsTheSameExecutableThenQuitsOnlyWhenItStarted) {
  const std::string player = "/home/a user/Lirvo \"Player\"/lirvo";
  for (bool started : {true, false}) {
    SCOPED_TRACE(started);
    FLog.clear();
    TRecordingRunner runner(FLog);
    runner.Accept = started;
    EXPECT_EQ(SaveAndRestart(FSteps, runner, player, [this] { FLog.push_back("quit"); }), started);
    std::vector<std::string> expected{"stop", "settings", "playlist", "start " + player};
    if (started) expected.push_back("quit");
    EXPECT_EQ(FLog, expected);
    EXPECT_TRUE(FilesSaved());
  }
}

TEST_F(SaveStepsTest, FailingSaveKeepsTheMachineAndThePlayerRunning) {
  FSteps.SavePlaylist = [this] {
    FLog.push_back("playlist");
    throw std::runtime_error("disk full");
  };
  TRecordingRunner runner(FLog);
  EXPECT_THROW(SaveAndShutdown(FSteps, runner, true), std::runtime_error);
  bool quit = false;
  EXPECT_THROW(SaveAndRestart(FSteps, runner, "/usr/bin/lirvo", [&] { quit = true; }),
               std::runtime_error);
  EXPECT_FALSE(quit);
  EXPECT_THAT(FLog, ElementsAre("stop", "settings", "playlist", "stop", "settings", "playlist"));
}

// The real runner, on harmless programs of the test's own.
TEST(CommandRunnerTest, RunReportsExitStatusAndDetachedProgramsStartAtNormalPriority) {
  TSystemCommandRunner runner;
  EXPECT_TRUE(runner.Run("true", {}));
  EXPECT_FALSE(runner.Run("false", {}));
  EXPECT_FALSE(runner.Run("/nonexistent/program", {}));
  EXPECT_FALSE(runner.StartDetached("/nonexistent/program", {}));
  EXPECT_FALSE(runner.StartDetached("lirvo-no-such-program", {}));
  EXPECT_TRUE(runner.IsInstalled("sh"));
  EXPECT_FALSE(runner.IsInstalled("lirvo-no-such-program"));

  const std::string dir = test::ScratchDir("runner-" + std::to_string(getpid()));
  const std::string marker = dir + "/marker";
  const std::string probe = dir + "/probe";
  WriteText(probe,
            "#!/bin/sh\ncut -d' ' -f4,19 /proc/$$/stat > \"$1.tmp\" && mv \"$1.tmp\" \"$1\"\n",
            fs::perms(0755));

  // Started from a thread at nice 5, as from a tuned player.
  std::atomic<bool> started{false};
  std::thread([&] {
    SetTaskNice(static_cast<pid_t>(syscall(SYS_gettid)), 5);
    started = runner.StartDetached(probe, {marker});
  }).join();
  ASSERT_TRUE(started);
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!fs::exists(marker) && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(fs::exists(marker));
  std::istringstream fields(ReadText(marker));
  pid_t parent = 0;
  int nice = 99;
  fields >> parent >> nice;
  EXPECT_NE(parent, getpid()) << "detached: not a child of the player";
  EXPECT_EQ(nice, CanSetNice(0, 5) ? 0 : 5);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace lirvo
