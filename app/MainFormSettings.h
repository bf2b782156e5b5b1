#pragma once
// The main window and its two outputs as the settings file and the settings
// dialog see them. Both adapters act on the window's own fields and
// controls; they live as long as the window. UI thread only.

#include "app/logic/settings/Settings.h"

class TLVPMainForm;

class TMainFormSettingsTarget final : public lirvo::ISettingsTarget {
 public:
  explicit TMainFormSettingsTarget(TLVPMainForm& Form) : F(Form) {}

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
  TLVPMainForm& F;
};

class TMainFormOutputs final : public lirvo::IOutputsForSettings {
 public:
  explicit TMainFormOutputs(TLVPMainForm& Form) : F(Form) {}

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
  TLVPMainForm& F;
};
