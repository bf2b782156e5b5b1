#pragma once
// The main window and its two outputs as the settings file and the settings
// dialog see them. Each adapter is handed the controls and objects it acts
// on, never the window itself; all of them must outlive it. UI thread only.

#include <QStringList>
#include <functional>
#include <optional>
#include <utility>

#include "app/logic/settings/Settings.h"

class QMainWindow;
class QSplitter;
class QTableView;
class TFileBrowserPane;

namespace lirvo {
class TAuOutput;
class TDSAudioOut;
class TASIOAudioOut;
class TPlaybackController;
}  // namespace lirvo

class TMainFormSettingsTarget final : public lirvo::ISettingsTarget {
 public:
  // What the window's settings live in.
  struct TParts {
    QMainWindow& Window;      // state and normal geometry
    QSplitter& LeftSplitter;  // the file browser against the grid
    TFileBrowserPane& FileBrowser;
    QTableView& Grid;  // the playlist grid, for its columns
    // The engine chosen and the output playback uses.
    lirvo::TPlaybackController& Playback;
    lirvo::TAuOutput& DSound;
    lirvo::TAuOutput& ASIO;
    // The window's optimisation switches, and retuning the system by them.
    TOptimizeOption& Optimize;
    std::function<void()> OptimizeSystem;
    std::function<void()> NormalizeSystem;
  };

  explicit TMainFormSettingsTarget(TParts Parts) : FParts(std::move(Parts)) {}

  int32_t LeftPanelWidth() const override;
  void SetLeftPanelWidth(int32_t Width) override;
  int32_t FileViewPos() const override;
  void SetFileViewPos(int32_t Height) override;
  std::string FileViewDirectory() const override;
  void SetFileViewDirectory(const std::string& Dir) override;
  lirvo::TColumnLayout ColumnLayout() const override;
  void SetColumnLayout(const lirvo::TColumnLayout& Layout) override;
  int32_t WindowState() const override;
  void SetWindowState(int32_t State) override;
  lirvo::TWindowGeometry NormalGeometry() const override;
  void SetNormalGeometry(const lirvo::TWindowGeometry& Geometry) override;

  TAudioEngine AudioEngine() const override;
  void SetAudioEngine(TAudioEngine Engine) override;
  TOptimizeOption OptimizeOption() const override;
  void SetOptimizeOption(const TOptimizeOption& Option) override;
  void SetAudioOut(TAudioEngine Engine) override;
  void NormalizeSystem() override;
  void OptimizeSystem() override;

 private:
  TParts FParts;
  // Left pane width while the splitter has not been laid out yet.
  int FLeftPanelWidth = 185;
  // The column layout the settings file held, kept while the grid shows no
  // columns so saving does not lose it.
  std::optional<lirvo::TColumnLayout> FStoredColumns;
};

class TMainFormOutputs final : public lirvo::IOutputsForSettings {
 public:
  // The device lists are the window's, built once at start-up (index =
  // device number).
  TMainFormOutputs(lirvo::TDSAudioOut& DSound, lirvo::TASIOAudioOut& ASIO,
                   const QStringList& DSoundDevices, const QStringList& ASIODevices)
      : FDSound(DSound), FASIO(ASIO), FDSoundDevices(DSoundDevices), FASIODevices(ASIODevices) {}

  std::vector<std::string> DSoundDeviceNames() const override;
  std::vector<std::string> ASIODeviceNames() const override;
  int32_t DSoundDeviceNumber() const override;
  void SetDSoundDeviceNumber(int32_t Number) override;
  int32_t DSoundLatency() const override;
  void SetDSoundLatency(int32_t Milliseconds) override;
  int32_t ASIODeviceNumber() const override;
  void SetASIODeviceNumber(int32_t Number) override;
  int32_t ASIOBufferSize() const override;
  void SetASIOBufferSize(int32_t Size) override;
  void ReleaseASIODriver() override;
  void ShowASIOControlPanel() override;

 private:
  lirvo::TDSAudioOut& FDSound;
  lirvo::TASIOAudioOut& FASIO;
  const QStringList& FDSoundDevices;
  const QStringList& FASIODevices;
};
