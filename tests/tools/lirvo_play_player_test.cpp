// lirvo-play as a player, run as a child process: what reaches a capture
// device of the test's own (named through LIRVO_ALSA_CONFIG), how it fails,
// and how Ctrl+C stops it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "common/ExternalTools.h"
#include "common/TestFiles.h"
#include "common/TestPaths.h"

extern char** environ;

using namespace lirvo::test;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<uint8_t>;

std::string Tool() {
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  return (self.parent_path().parent_path() / "tools" / "lirvo-play" / "lirvo-play").string();
}

// What reached the device is Expected, then silence (zero bytes) only.
::testing::AssertionResult DataThenSilence(const Bytes& Capture, const Bytes& Expected) {
  if (Capture.size() < Expected.size())
    return ::testing::AssertionFailure()
           << "captured " << Capture.size() << " bytes of " << Expected.size();
  for (size_t i = 0; i < Capture.size(); ++i) {
    const uint8_t want = i < Expected.size() ? Expected[i] : 0;
    if (Capture[i] != want)
      return ::testing::AssertionFailure()
             << "byte " << i << " differs (data ends at " << Expected.size() << ")";
  }
  return ::testing::AssertionSuccess();
}

class LirvoPlayPlayer : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = ScratchDir(std::string("lirvo-play-player-") +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_TRUE(std::filesystem::exists(Tool())) << Tool() << " is missing";
  }

  static bool PulseAvailable() {
    const char* v = std::getenv("LIRVO_TEST_PULSE");
    return v && std::string(v) == "1";
  }

  // An ALSA configuration with the capture PCM "lirvocap" (what the shared
  // output plays, over "null" or, Paced, over the test sound server).
  std::string WriteConfig(bool Paced = false) {
    const std::string slave = Paced ? "{ type pulse }" : "{ type null }";
    const std::string conf = Dir + "/asoundrc";
    std::ofstream(conf) << "pcm.lirvocap { type file slave.pcm " << slave << " file \"" << Dir
                        << "/cap.raw\" format \"raw\" }\n";
    return conf;
  }

  struct TRun {
    int Status = -1;
    std::string Err;
  };
  TRun Run(const std::string& Args, const std::string& Config = "", const std::string& Env = "") {
    const std::string err = Dir + "/stderr";
    std::string cmd = Env;
    if (!Config.empty()) cmd = "LIRVO_ALSA_CONFIG=" + Quote(Config) + " ";
    cmd += "timeout 60 " + Quote(Tool()) + " " + Args + " >/dev/null 2>" + Quote(err);
    const int rc = std::system(cmd.c_str());
    TRun r;
    r.Status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.Err = ReadText(err);
    return r;
  }

  std::string Tone(const std::string& Name, double Seconds) {
    const std::string path = Dir + "/" + Name;
    RunCapture("sox -n -r 44100 -c 2 -b 16 " + Quote(path) + " synth " + std::to_string(Seconds) +
               " sine 440 vol 0.5 2>&1");
    return path;
  }
  static Bytes Pcm16(const std::string& Path) {
    return RunCapture("sox " + Quote(Path) + " -t raw -e signed -b 16 -L - 2>/dev/null");
  }

  std::string Dir;
};

TEST_F(LirvoPlayPlayer, PlaysAFileAndACueTrackBitExactIntoTheDevice) {
  REQUIRE_TOOL("sox");
  const std::string conf = WriteConfig();
  const std::string wav = Tone("song.wav", 0.7);

  TRun r = Run("--play " + Quote(wav) + " --device lirvocap --latency 50", conf);
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Err.find("正在播放：song.wav"), std::string::npos) << r.Err;
  EXPECT_TRUE(DataThenSilence(ReadFileBytes(Dir + "/cap.raw"), Pcm16(wav)));

  const std::string image = Tone("album.wav", 3.0);
  std::ofstream(Dir + "/album.cue") << "FILE \"album.wav\" WAVE\n"
                                    << "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                    << "  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n"
                                    << "  TRACK 03 AUDIO\n    INDEX 01 00:02:00\n";
  r = Run("--play " + Quote(Dir + "/album.cue") + " --track 2 --device lirvocap", conf);
  ASSERT_EQ(r.Status, 0) << r.Err;
  const Bytes pcm = Pcm16(image);
  const size_t second = 44100 * 4;
  ASSERT_GE(pcm.size(), 3 * second);
  // Exactly the second second: the track ends on the frame before track 3's.
  EXPECT_TRUE(DataThenSilence(ReadFileBytes(Dir + "/cap.raw"),
                              Bytes(pcm.begin() + second, pcm.begin() + 2 * second)));

  // The direct engine, on the test's JACK server (paced like a card); a frame
  // count picks one of the driver's sizes. What the chain delivers there is
  // checked sample for sample in the direct engine's and the controller's
  // own tests.
  const char* jack = std::getenv("LIRVO_TEST_JACK_SERVER");
  if (!jack || !*jack) GTEST_SKIP() << "the direct engine's run needs the test JACK server";
  r = Run("--play " + Quote(wav) + " --engine asio --device JACK --buffer 4096", "",
          std::string("JACK_DEFAULT_SERVER=") + Quote(jack) + " ");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Err.find("end of track"), std::string::npos) << r.Err;
}

TEST_F(LirvoPlayPlayer, FailuresExitNonZeroWithTheirReason) {
  REQUIRE_TOOL("sox");
  const std::string conf = WriteConfig();
  const std::string wav = Tone("song.wav", 0.2);
  const std::string broken = Dir + "/broken.asoundrc";
  std::ofstream(broken) << "pcm.other { type null }\n";
  std::ofstream(Dir + "/x.cue")
      << "FILE \"song.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
  const struct {
    const char* Name;
    std::string Args;
    std::string Config;
    int Status;
    const char* Reason;
  } cases[] = {
      {"missing file", "--play " + Quote(Dir + "/gone.wav"), "", 1, "no such file"},
      {"device number past the list", "--play " + Quote(wav) + " --device 99", "", 1,
       "no DirectSound device 99"},
      {"device that cannot be opened", "--play " + Quote(wav) + " --device lirvo_missing", broken,
       1, "Failed to create DirectSound device"},
      {"unknown file kind", "--play " + Quote(Dir + "/asoundrc"), "", 1, "未知音频格式"},
      {"CUE sheet without a track", "--play " + Quote(Dir + "/x.cue"), "", 2, "needs --track N"},
      {"latency with the direct engine", "--play " + Quote(wav) + " --engine asio --latency 50", "",
       2, "--latency goes with --engine dsound"},
      {"unknown engine", "--play " + Quote(wav) + " --engine wasapi", "", 2,
       "--engine takes dsound or asio"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const TRun r = Run(c.Args, c.Config);
    EXPECT_EQ(r.Status, c.Status) << r.Err;
    EXPECT_NE(r.Err.find(c.Reason), std::string::npos) << r.Err;
  }
}

TEST_F(LirvoPlayPlayer, SigintStopsPlaybackCleanlyAndReportsProgress) {
  REQUIRE_TOOL("sox");
  if (!PulseAvailable()) GTEST_SKIP() << "needs the paced test sound server (LIRVO_TEST_PULSE=1)";
  const std::string conf = WriteConfig(/*Paced=*/true);
  const std::string wav = Tone("long.wav", 20.0);
  const std::string err = Dir + "/stderr";

  const std::string tool = Tool();
  const std::string env = "LIRVO_ALSA_CONFIG=" + conf;
  std::vector<char*> envp;
  for (char** e = environ; *e; ++e)
    envp.push_back(*e);
  envp.push_back(const_cast<char*>(env.c_str()));
  envp.push_back(nullptr);
  std::vector<std::string> args = {tool, "--play", wav, "--device", "lirvocap"};
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, tool.c_str(), &fa, nullptr, argv.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&fa);

  std::this_thread::sleep_for(2500ms);
  ASSERT_EQ(kill(pid, SIGINT), 0);
  int status = 0;
  pid_t done = 0;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while ((done = waitpid(pid, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(20ms);
  if (done == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    FAIL() << "lirvo-play did not stop after SIGINT";
  }
  const std::string text = ReadText(err);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal instead of stopping: " << text;
  EXPECT_EQ(WEXITSTATUS(status), 130) << text;
  EXPECT_NE(text.find("播放停止"), std::string::npos) << text;
  EXPECT_NE(text.find("underruns"), std::string::npos) << "no progress line: " << text;
  // What was played is the file's beginning, cut short.
  const Bytes cap = ReadFileBytes(Dir + "/cap.raw");
  const Bytes pcm = Pcm16(wav);
  ASSERT_GT(cap.size(), 4096u);
  EXPECT_LT(cap.size(), pcm.size());
  EXPECT_TRUE(std::equal(cap.begin(), cap.begin() + 4096, pcm.begin()));
}

}  // namespace
