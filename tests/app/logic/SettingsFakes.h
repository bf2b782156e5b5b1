#pragma once
// Stand-ins for the main window and the two outputs as the settings file and
// the settings dialog see them: plain fields with the window's initial
// values, and a log of every setter and action in call order.

#include <optional>
#include <string>
#include <vector>

#include "app/logic/settings/Settings.h"
#include "audio/core/AuException.h"

namespace lirvo::test {

class TFakeSettingsWindow : public ISettingsTarget {
 public:
  int32_t LeftPanel = 185;
  int32_t FolderListHeight = 97;
  std::string Folder = "/start";
  TColumnLayout Columns = {{0, "ID", 40, true}, {1, "Filename", 100, false}};
  int32_t State = kWindowStateNormal;
  TWindowGeometry Geometry{10, 20, 640, 400};
  TAudioEngine Engine = aeDSound;
  TOptimizeOption Option;
  std::optional<TAudioEngine> AudioOut;  // FAudioOut, empty until set
  std::vector<std::string> Log;

  int32_t LeftPanelWidth() const override { return LeftPanel; }
  void SetLeftPanelWidth(int32_t Width) override {
    LeftPanel = Width;
    Log.push_back("LeftPanel");
  }
  int32_t FileViewPos() const override { return FolderListHeight; }
  void SetFileViewPos(int32_t Height) override {
    FolderListHeight = Height;
    Log.push_back("FileViewPos");
  }
  std::string FileViewDirectory() const override { return Folder; }
  void SetFileViewDirectory(const std::string& Dir) override {
    Folder = Dir;
    Log.push_back("FileViewDirectory");
  }
  TColumnLayout ColumnLayout() const override { return Columns; }
  void SetColumnLayout(const TColumnLayout& Layout) override {
    Columns = Layout;
    Log.push_back("ColumnSetting");
  }
  int32_t WindowState() const override { return State; }
  void SetWindowState(int32_t Value) override {
    State = Value;
    Log.push_back("State");
  }
  TWindowGeometry NormalGeometry() const override { return Geometry; }
  void SetNormalGeometry(const TWindowGeometry& Value) override {
    Geometry = Value;
    Log.push_back("Geometry");
  }
  TAudioEngine AudioEngine() const override { return Engine; }
  void SetAudioEngine(TAudioEngine Value) override {
    Engine = Value;
    Log.push_back("AudioEngine");
  }
  TOptimizeOption OptimizeOption() const override { return Option; }
  void SetOptimizeOption(const TOptimizeOption& Value) override {
    Option = Value;
    Log.push_back("Optimize");
  }
  void SetAudioOut(TAudioEngine Value) override {
    AudioOut = Value;
    Log.push_back("AudioOut");
  }
  void NormalizeSystem() override { Log.push_back("NormalizeSystem"); }
  void OptimizeSystem() override { Log.push_back("OptimizeSystem"); }
};

// The ASIO side behaves as the real output does: a number outside the driver
// list is refused with "Device number out of range: %d" unless there are no
// drivers, and the control panel needs a valid device.
class TFakeOutputs : public IOutputsForSettings {
 public:
  std::vector<std::string> DSoundNames = {"Default", "Card A"};
  std::vector<std::string> ASIONames = {"hw:CARD=A,DEV=0", "JACK"};
  int32_t DSoundDevice = 0;
  int32_t DSoundLatencyMs = 100;
  int32_t ASIODevice = 0;
  int32_t BufferSize = kASIOBufferPreferred;
  bool ControlPanelFails = false;
  std::vector<std::string> Log;

  std::vector<std::string> DSoundDeviceNames() const override { return DSoundNames; }
  std::vector<std::string> ASIODeviceNames() const override { return ASIONames; }
  int32_t DSoundDeviceNumber() const override { return DSoundDevice; }
  void SetDSoundDeviceNumber(int32_t Number) override {
    DSoundDevice = Number;
    Log.push_back("DSoundDevice");
  }
  int32_t DSoundLatency() const override { return DSoundLatencyMs; }
  void SetDSoundLatency(int32_t Milliseconds) override {
    DSoundLatencyMs = Milliseconds;
    Log.push_back("DSoundLatency");
  }
  int32_t ASIODeviceNumber() const override { return ASIODevice; }
  void SetASIODeviceNumber(int32_t Number) override {
    Log.push_back("ASIODevice " + std::to_string(Number));
    if (ASIONames.empty()) return;
    if (Number < 0 || Number >= static_cast<int32_t>(ASIONames.size())) {
      throw EAuException("Device number out of range: " + std::to_string(Number));
    }
    ASIODevice = Number;
  }
  int32_t ASIOBufferSize() const override { return BufferSize; }
  void SetASIOBufferSize(int32_t Size) override {
    BufferSize = Size;
    Log.push_back("ASIOLatency");
  }
  void ReleaseASIODriver() override { Log.push_back("ReleaseASIODriver"); }
  void ShowASIOControlPanel() override {
    Log.push_back("ShowASIOControlPanel");
    if (ControlPanelFails) throw EAuException("Failed to open ASIO device");
  }
};

}  // namespace lirvo::test
