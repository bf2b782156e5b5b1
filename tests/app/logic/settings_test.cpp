// The settings file as the window meets it at start-up and when it ends:
// defaults, the conditions on each key, the order of the file, values out of
// range, round trips through a real file, and failures that must not stop
// start-up or corrupt the file.

#include <gtest/gtest.h>

#include <QFile>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/logic/settings/Settings.h"
#include "common/TestPaths.h"
#include "tests/app/logic/SettingsFakes.h"

namespace lirvo {
namespace {

namespace fs = std::filesystem;
using test::TFakeOutputs;
using test::TFakeSettingsWindow;

TSettingsEnvironment Env(int processors, std::vector<std::string> existingDirs = {}) {
  TSettingsEnvironment env;
  env.ProcessorCount = processors;
  env.DirectoryExists = [existingDirs](const std::string& dir) {
    return std::find(existingDirs.begin(), existingDirs.end(), dir) != existingDirs.end();
  };
  return env;
}

TSettings Read(const std::string& text, const TSettings& current = TSettings{}, int processors = 8,
               std::vector<std::string> dirs = {}) {
  return ReadSettings(TIniDocument::Parse(text), current, Env(processors, std::move(dirs)));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

TEST(Settings, InitialValuesAreTheWindowsFirstStartValues) {
  const TSettings s;
  EXPECT_EQ(s.LeftPanel, 185);
  EXPECT_EQ(s.FileViewPos, 97);
  EXPECT_EQ(s.State, kWindowStateMaximized);
  EXPECT_EQ(s.AudioEngine, aeDSound);
  EXPECT_EQ(s.DSoundDevice, 0);
  EXPECT_EQ(s.DSoundLatency, 100);
  EXPECT_EQ(s.ASIODevice, 0);
  EXPECT_EQ(s.ASIOLatency, kASIOBufferPreferred);
  EXPECT_EQ(s.Optimize, TOptimizeOption{});
  EXPECT_FALSE(s.ColumnSetting.has_value());
  // An empty file changes nothing but the window state (whose default is
  // 2, not the current value) and the columns (kept as reset).
  TSettings current;
  current.State = kWindowStateNormal;
  current.ColumnSetting = TColumnLayout{{0, "ID", 40, true}};
  TSettings expected = current;
  expected.State = kWindowStateMaximized;
  expected.ColumnSetting.reset();
  EXPECT_EQ(Read("", current), expected);
}

TEST(Settings, FirstStartWithoutAFileTouchesNothing) {
  const std::string path = test::ScratchDir("settings-first-start") + "/lirvo.ini";
  TFakeSettingsWindow window;
  TFakeOutputs outputs;
  const TSettingsOutcome outcome = LoadSettings(path, window, outputs, Env(2));
  EXPECT_FALSE(outcome.FileFound);
  EXPECT_TRUE(outcome.Errors.empty());
  EXPECT_TRUE(window.Log.empty());
  EXPECT_TRUE(outputs.Log.empty());
  EXPECT_FALSE(fs::exists(path)) << "reading never creates the file";
}

TEST(Settings, SaveWritesEveryKeyInTheFilesOrder) {
  TSettings s;
  s.FileViewDirectory = "/music";
  s.ColumnSetting = TColumnLayout{{0, "ID", 40, true}};
  s.State = kWindowStateNormal;
  s.Geometry = {10, 20, 800, 600};
  s.AudioEngine = aeASIO;
  s.DSoundDevice = 1;
  s.DSoundLatency = 130;
  s.ASIODevice = 2;
  s.ASIOLatency = kASIOBufferMaximum;
  s.Optimize = {true, false, true, false, true, /*KernelLockMode=*/true};
  TIniDocument doc;
  WriteSettings(doc, s);
  EXPECT_EQ(doc.ToText(),
            "[Interface]\n"
            "LeftPanel=185\n"
            "FileViewPos=97\n"
            "FileViewDirectory=/music\n"
            "ColumnSetting=" +
                EncodeColumnLayout(*s.ColumnSetting) +
                "\n"
                "\n"
                "[Windows]\n"
                "State=0\n"
                "Left=10\n"
                "Top=20\n"
                "Width=800\n"
                "Bottom=600\n"
                "\n"
                "[System]\n"
                "AudioEngine=1\n"
                "DSoundDevice=1\n"
                "DSoundLatency=130\n"
                "ASIODevice=2\n"
                "ASIOLatency=2\n"
                "\n"
                "[Optimize]\n"
                "Realtime=1\n"
                "SuppressOtherProcesses=0\n"
                "MutiCore=0\n"
                "AudioService=1\n"
                "Windows7=1\n");
}

TEST(Settings, MaximisedStartWithoutGeometryThenNormalCloseWritesGeometry) {
  const std::string path = test::ScratchDir("settings-state") + "/lirvo.ini";
  WriteFile(path, "[Windows]\nState=2\n");
  TFakeSettingsWindow window;
  TFakeOutputs outputs;
  ASSERT_TRUE(LoadSettings(path, window, outputs, Env(2)).Errors.empty());
  EXPECT_EQ(window.State, kWindowStateMaximized);
  EXPECT_EQ(std::count(window.Log.begin(), window.Log.end(), "Geometry"), 0);

  // Closed while maximised: the stored geometry (none) stays as it was.
  ASSERT_TRUE(SaveSettings(path, window, outputs).Errors.empty());
  EXPECT_EQ(ReadFile(path).find("Left="), std::string::npos);

  // Closed from the normal state: the four keys appear.
  window.State = kWindowStateNormal;
  window.Geometry = {30, 40, 700, 500};
  ASSERT_TRUE(SaveSettings(path, window, outputs).Errors.empty());
  const TIniDocument doc = *LoadIniFile(path);
  EXPECT_EQ(doc.ReadInteger("Windows", "Left", -1), 30);
  EXPECT_EQ(doc.ReadInteger("Windows", "Top", -1), 40);
  EXPECT_EQ(doc.ReadInteger("Windows", "Width", -1), 700);
  EXPECT_EQ(doc.ReadInteger("Windows", "Bottom", -1), 500);

  // Maximised again: the stored normal geometry survives the next save.
  window.State = kWindowStateMaximized;
  window.Geometry = {0, 0, 1920, 1080};
  ASSERT_TRUE(SaveSettings(path, window, outputs).Errors.empty());
  EXPECT_EQ(LoadIniFile(path)->ReadInteger("Windows", "Width", -1), 700);
}

TEST(Settings, GeometryIsReadOnlyInTheNormalStateEachKeyDefaultingToTheCurrentValue) {
  TSettings current;
  current.Geometry = {1, 2, 3, 4};
  EXPECT_EQ(Read("[Windows]\nState=1\nLeft=50\n", current).Geometry, current.Geometry);
  const TSettings normal = Read("[Windows]\nState=0\nLeft=50\nBottom=480\n", current);
  EXPECT_EQ(normal.State, kWindowStateNormal);
  EXPECT_EQ(normal.Geometry, (TWindowGeometry{50, 2, 3, 480}));
}

TEST(Settings, MultiCoreNeedsFourProcessorsAndRealtimeSchedulingIsAlwaysRead) {
  const std::string text = "[Optimize]\nMutiCore=1\nWindows7=1\n";
  EXPECT_FALSE(Read(text, {}, 2).Optimize.MutiCoreOptimize);
  EXPECT_FALSE(Read(text, {}, 3).Optimize.MutiCoreOptimize);
  EXPECT_TRUE(Read(text, {}, 4).Optimize.MutiCoreOptimize);
  EXPECT_TRUE(Read(text, {}, 1).Optimize.Windows7Optimize);
}

TEST(Settings, OptimizeKeysDefaultToCurrentSwitchesAndKernelLockIsCarried) {
  TSettings current;
  current.Optimize = {true, true, true, true, true, true};
  const TSettings s = Read("[Optimize]\nRealtime=0\nAudioService=5\n", current, 4);
  EXPECT_EQ(s.Optimize, (TOptimizeOption{false, true, true, true, true, true}));
  TIniDocument doc;
  WriteSettings(doc, s);
  EXPECT_EQ(doc.ToText().find("Kernel"), std::string::npos) << "KernelLockMode is not stored";
}

TEST(Settings, OutOfRangeAndUnreadableValuesFallBack) {
  TSettings current;
  current.AudioEngine = aeASIO;
  const struct {
    const char* Text;
    TSettings Expected;
  } cases[] = {
      {"[Interface]\nLeftPanel=0\nFileViewPos=-3\n", current},
      {"[Interface]\nLeftPanel=abc\nFileViewPos=\n", current},
      {"[Windows]\nState=7\n", current},
      {"[Windows]\nState=-1\n", current},
      {"[System]\nAudioEngine=5\n", current},
      {"[System]\nAudioEngine=x\n", current},
      {"[System]\nDSoundLatency=-1\n", current},
      {"[System]\nASIOLatency=9\n", current},
      {"[Interface]\nColumnSetting=NOT HEX\n", current},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Read(c.Text, current), c.Expected) << c.Text;

  const TSettings fine = Read(
      "[Interface]\nLeftPanel=250\nFileViewPos=120\n[System]\nAudioEngine=0\n"
      "DSoundDevice=3\nDSoundLatency=75\nASIODevice=1\nASIOLatency=1\n",
      current);
  EXPECT_EQ(fine.LeftPanel, 250);
  EXPECT_EQ(fine.FileViewPos, 120);
  EXPECT_EQ(fine.AudioEngine, aeDSound);
  EXPECT_EQ(fine.DSoundDevice, 3);
  EXPECT_EQ(fine.DSoundLatency, 75) << "any latency is kept; the dialog shows it as recommended";
  EXPECT_EQ(fine.ASIODevice, 1);
  EXPECT_EQ(fine.ASIOLatency, kASIOBufferMinimum);
}

TEST(Settings, FileViewDirectoryIsTakenOnlyWhenTheFolderExists) {
  const std::string dir = test::ScratchDir("settings-folder") + "/music";
  fs::create_directories(dir);
  TSettings current;
  current.FileViewDirectory = "/start";
  const std::string text = "[Interface]\nFileViewDirectory=" + dir + "\n";
  TSettingsEnvironment real;  // the real file system
  real.ProcessorCount = 2;
  EXPECT_EQ(ReadSettings(TIniDocument::Parse(text), current, real).FileViewDirectory, dir);
  fs::remove(dir);
  EXPECT_EQ(ReadSettings(TIniDocument::Parse(text), current, real).FileViewDirectory, "/start");

  // Through the window: a deleted folder is never handed on.
  const std::string path = test::ScratchDir("settings-folder-window") + "/lirvo.ini";
  WriteFile(path, text);
  TFakeSettingsWindow window;
  TFakeOutputs outputs;
  LoadSettings(path, window, outputs, real);
  EXPECT_EQ(window.Folder, "/start");
  EXPECT_EQ(std::count(window.Log.begin(), window.Log.end(), "FileViewDirectory"), 0);
}

TEST(Settings, FolderNameWithALineBreakCannotInjectKeys) {
  TSettings s;
  s.FileViewDirectory = "/music\n[System]\nAudioEngine=1";
  TIniDocument doc;
  WriteSettings(doc, s);
  const TIniDocument back = TIniDocument::Parse(doc.ToText());
  EXPECT_EQ(back.ReadString("Interface", "FileViewDirectory", "?"), "");
  EXPECT_EQ(back.ReadInteger("System", "AudioEngine", -1), 0);
}

TEST(Settings, ValuesAreAppliedInTheFilesOrder) {
  const std::string path = test::ScratchDir("settings-order") + "/lirvo.ini";
  TSettings stored;
  stored.LeftPanel = 200;
  stored.FileViewPos = 150;
  stored.FileViewDirectory = "/music";
  stored.ColumnSetting = TColumnLayout{{3, "标题", 250, true}};
  stored.State = kWindowStateNormal;
  stored.Geometry = {5, 6, 700, 500};
  TIniDocument doc;
  WriteSettings(doc, stored);
  SaveIniFile(path, doc);

  TFakeSettingsWindow window;
  TFakeOutputs outputs;
  ASSERT_TRUE(LoadSettings(path, window, outputs, Env(8, {"/music"})).Errors.empty());
  // The window's and the outputs' logs interleave in the file's order.
  EXPECT_EQ(window.Log, (std::vector<std::string>{"LeftPanel", "FileViewPos", "FileViewDirectory",
                                                  "ColumnSetting", "State", "Geometry",
                                                  "AudioEngine", "Optimize"}));
  EXPECT_EQ(outputs.Log, (std::vector<std::string>{"DSoundDevice", "DSoundLatency", "ASIODevice 0",
                                                   "ASIOLatency"}));
  EXPECT_EQ(window.Columns, *stored.ColumnSetting);
  EXPECT_EQ(window.Geometry, stored.Geometry);
}

TEST(Settings, RefusedASIODeviceFallsBackToTheFirstAndTheRestIsStillApplied) {
  const std::string path = test::ScratchDir("settings-asio-range") + "/lirvo.ini";
  WriteFile(path,
            "[System]\nAudioEngine=1\nASIODevice=7\nASIOLatency=2\n"
            "[Optimize]\nRealtime=1\n");
  TFakeSettingsWindow window;
  TFakeOutputs outputs;
  outputs.ASIODevice = 1;
  const TSettingsOutcome outcome = LoadSettings(path, window, outputs, Env(2));
  ASSERT_EQ(outcome.Errors.size(), 1u);
  EXPECT_NE(outcome.Errors[0].find("Device number out of range: 7"), std::string::npos);
  EXPECT_EQ(outputs.ASIODevice, 0);
  EXPECT_EQ(outputs.BufferSize, kASIOBufferMaximum);
  EXPECT_EQ(window.Engine, aeASIO);
  EXPECT_TRUE(window.Option.RealTimeOptimize);
}

TEST(Settings, AStepThatThrowsDoesNotStopTheOthers) {
  struct TThrowingWindow : TFakeSettingsWindow {
    void SetWindowState(int32_t) override { throw std::runtime_error("no screen"); }
  } window;
  TFakeOutputs outputs;
  TSettings s;
  s.DSoundLatency = 130;
  s.Optimize.SuppressOtherProcesses = true;
  const std::vector<std::string> errors = ApplySettings(s, TSettings{}, window, outputs);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "State: no screen");
  EXPECT_EQ(outputs.DSoundLatencyMs, 130);
  EXPECT_TRUE(window.Option.SuppressOtherProcesses);
}

TEST(Settings, CalibratedLatencyAndEveryValueSurviveARestart) {
  const std::string path = test::ScratchDir("settings-restart") + "/lirvo.ini";
  TFakeSettingsWindow first;
  TFakeOutputs firstOutputs;
  first.LeftPanel = 222;
  first.FolderListHeight = 111;
  first.Folder = "/music";
  first.Columns = {{5, "艺术家", 150, true}, {0, "ID", 40, true}, {1, "Filename", 0, false}};
  first.State = kWindowStateNormal;
  first.Geometry = {12, 34, 800, 600};
  first.Engine = aeASIO;
  first.Option = {true, true, true, true, true, false};
  firstOutputs.DSoundDevice = 1;
  firstOutputs.DSoundLatencyMs = 130;  // grown by calibration while playing
  firstOutputs.ASIODevice = 1;
  firstOutputs.BufferSize = kASIOBufferMinimum;
  ASSERT_TRUE(SaveSettings(path, first, firstOutputs).Errors.empty());

  TFakeSettingsWindow next;
  TFakeOutputs nextOutputs;
  ASSERT_TRUE(LoadSettings(path, next, nextOutputs, Env(4, {"/music"})).Errors.empty());
  EXPECT_EQ(CaptureSettings(next, nextOutputs), CaptureSettings(first, firstOutputs));
  EXPECT_EQ(nextOutputs.DSoundLatencyMs, 130);
}

TEST(Settings, SavingKeepsForeignContentAndIsAtomic) {
  const std::string dir = test::ScratchDir("settings-save");
  const std::string path = dir + "/sub/folder/lirvo.ini";  // the folder is created
  TFakeSettingsWindow window;
  TFakeOutputs outputs;
  ASSERT_TRUE(SaveSettings(path, window, outputs).Errors.empty());
  WriteFile(path, ReadFile(path) + "\n[AudioOutput]\nLatency=140\n");
  ASSERT_TRUE(SaveSettings(path, window, outputs).Errors.empty());
  EXPECT_EQ(LoadIniFile(path)->ReadInteger("AudioOutput", "Latency", 0), 140);
  for (const auto& entry : fs::directory_iterator(fs::path(path).parent_path()))
    EXPECT_EQ(entry.path().filename(), "lirvo.ini") << "no temporary file left behind";

  // A place where no file can be made: reported, nothing thrown.
  WriteFile(dir + "/plain-file", "x");
  const TSettingsOutcome blocked = SaveSettings(dir + "/plain-file/lirvo.ini", window, outputs);
  ASSERT_EQ(blocked.Errors.size(), 1u);
  EXPECT_NE(blocked.Errors[0].find("plain-file"), std::string::npos);
  EXPECT_EQ(ReadFile(dir + "/plain-file"), "x");
}

TEST(Settings, OversizedOrUnreadableFileKeepsEveryValueAndIsReplacedOnSave) {
  const std::string path = test::ScratchDir("settings-oversized") + "/lirvo.ini";
  WriteFile(path, "[System]\nAudioEngine=1\n" + std::string(kMaxSettingsFileBytes, ';'));
  TFakeSettingsWindow window;
  TFakeOutputs outputs;
  const TSettingsOutcome loaded = LoadSettings(path, window, outputs, Env(2));
  EXPECT_TRUE(loaded.FileFound);
  ASSERT_EQ(loaded.Errors.size(), 1u);
  EXPECT_TRUE(window.Log.empty());
  EXPECT_EQ(window.Engine, aeDSound);

  ASSERT_TRUE(SaveSettings(path, window, outputs).Errors.empty());
  EXPECT_LT(fs::file_size(path), 4096u);
  EXPECT_EQ(LoadIniFile(path)->ReadInteger("System", "AudioEngine", -1), 0);

  // A folder where the file should be: it cannot be read.
  const std::string folder = test::ScratchDir("settings-folder-as-file") + "/lirvo.ini";
  fs::create_directories(folder);
  const TSettingsOutcome unreadable = LoadSettings(folder, window, outputs, Env(2));
  EXPECT_TRUE(unreadable.FileFound);
  EXPECT_EQ(unreadable.Errors.size(), 1u);
}

}  // namespace
}  // namespace lirvo
