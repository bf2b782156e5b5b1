#include "MainFormSettings.h"

#include <QHeaderView>
#include <QMainWindow>
#include <QSplitter>
#include <QTableView>
#include <algorithm>

#include "FileBrowserPane.h"
#include "GridColumns.h"
#include "app/logic/playback/PlaybackController.h"
#include "audio/outputs/AuASIO.h"
#include "audio/outputs/DSAudioOut.h"

namespace {

std::vector<std::string> ToStdList(const QStringList& List) {
  std::vector<std::string> out;
  out.reserve(static_cast<size_t>(List.size()));
  for (const QString& s : List)
    out.push_back(s.toStdString());
  return out;
}

}  // namespace

// --- The window ---

int32_t TMainFormSettingsTarget::LeftPanelWidth() const {
  // Before the window is first laid out the splitter does not know its
  // sizes yet; the width asked for is what it will get.
  if (!FParts.LeftSplitter.isVisible()) return FLeftPanelWidth;
  return FParts.LeftSplitter.sizes().value(0, FLeftPanelWidth);
}

void TMainFormSettingsTarget::SetLeftPanelWidth(int32_t Width) {
  if (Width <= 0) return;
  FLeftPanelWidth = Width;
  QList<int> sizes = FParts.LeftSplitter.sizes();
  const int total = std::max(0, sizes.value(0) + sizes.value(1));
  // The grid takes the rest; before the first layout "the rest" is all of it.
  const int rest = FParts.LeftSplitter.isVisible() && total > Width ? total - Width : 100000;
  FParts.LeftSplitter.setSizes({Width, rest});
}

int32_t TMainFormSettingsTarget::FileViewPos() const {
  return FParts.FileBrowser.FileViewPos();
}

void TMainFormSettingsTarget::SetFileViewPos(int32_t Height) {
  FParts.FileBrowser.SetFileViewPos(Height);
}

std::string TMainFormSettingsTarget::FileViewDirectory() const {
  return FParts.FileBrowser.CurrentFolder().toStdString();
}

void TMainFormSettingsTarget::SetFileViewDirectory(const std::string& Dir) {
  FParts.FileBrowser.SetCurrentFolder(QString::fromStdString(Dir));
}

lirvo::TColumnLayout TMainFormSettingsTarget::ColumnLayout() const {
  const QHeaderView& header = *FParts.Grid.horizontalHeader();
  // A grid without columns has nothing to say; what the file held stays.
  if (header.count() == 0 && FStoredColumns) return *FStoredColumns;
  return CaptureGridColumns(header);
}

void TMainFormSettingsTarget::SetColumnLayout(const lirvo::TColumnLayout& Layout) {
  FStoredColumns = Layout;
  ApplyGridColumns(*FParts.Grid.horizontalHeader(), Layout);
}

int32_t TMainFormSettingsTarget::WindowState() const {
  if (FParts.Window.isMinimized()) return lirvo::kWindowStateMinimized;
  if (FParts.Window.isMaximized() || FParts.Window.isFullScreen())
    return lirvo::kWindowStateMaximized;
  return lirvo::kWindowStateNormal;
}

void TMainFormSettingsTarget::SetWindowState(int32_t State) {
  Qt::WindowStates states =
      FParts.Window.windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
  if (State == lirvo::kWindowStateMinimized) states |= Qt::WindowMinimized;
  if (State == lirvo::kWindowStateMaximized) states |= Qt::WindowMaximized;
  FParts.Window.setWindowState(states);
}

lirvo::TWindowGeometry TMainFormSettingsTarget::NormalGeometry() const {
  if (WindowState() == lirvo::kWindowStateNormal) {
    return {FParts.Window.x(), FParts.Window.y(), FParts.Window.width(), FParts.Window.height()};
  }
  const QRect r = FParts.Window.normalGeometry();
  return {r.x(), r.y(), r.width(), r.height()};
}

void TMainFormSettingsTarget::SetNormalGeometry(const lirvo::TWindowGeometry& Geometry) {
  FParts.Window.move(Geometry.Left, Geometry.Top);
  FParts.Window.resize(Geometry.Width, Geometry.Height);
}

TAudioEngine TMainFormSettingsTarget::AudioEngine() const {
  return FParts.Playback.FAudioEngine;
}

void TMainFormSettingsTarget::SetAudioEngine(TAudioEngine Engine) {
  FParts.Playback.FAudioEngine = Engine;
}

TOptimizeOption TMainFormSettingsTarget::OptimizeOption() const {
  return FParts.Optimize;
}

void TMainFormSettingsTarget::SetOptimizeOption(const TOptimizeOption& Option) {
  FParts.Optimize = Option;
}

void TMainFormSettingsTarget::SetAudioOut(TAudioEngine Engine) {
  FParts.Playback.FAudioOut = Engine == aeASIO ? &FParts.ASIO : &FParts.DSound;
}

void TMainFormSettingsTarget::NormalizeSystem() {
  if (FParts.NormalizeSystem) FParts.NormalizeSystem();
}

void TMainFormSettingsTarget::OptimizeSystem() {
  if (FParts.OptimizeSystem) FParts.OptimizeSystem();
}

// --- The outputs ---

std::vector<std::string> TMainFormOutputs::DSoundDeviceNames() const {
  return ToStdList(FDSoundDevices);
}

std::vector<std::string> TMainFormOutputs::ASIODeviceNames() const {
  return ToStdList(FASIODevices);
}

int32_t TMainFormOutputs::DSoundDeviceNumber() const {
  return FDSound.DeviceNumber();
}

void TMainFormOutputs::SetDSoundDeviceNumber(int32_t Number) {
  FDSound.SetDeviceNumber(Number);
}

int32_t TMainFormOutputs::DSoundLatency() const {
  return static_cast<int32_t>(FDSound.Latency());
}

void TMainFormOutputs::SetDSoundLatency(int32_t Milliseconds) {
  if (Milliseconds < 0) return;  // the reader refuses these already
  FDSound.SetLatency(static_cast<uint32_t>(Milliseconds));
}

int32_t TMainFormOutputs::ASIODeviceNumber() const {
  return FASIO.DeviceNumber();
}

void TMainFormOutputs::SetASIODeviceNumber(int32_t Number) {
  FASIO.SetDeviceNumber(Number);
}

int32_t TMainFormOutputs::ASIOBufferSize() const {
  return static_cast<int32_t>(FASIO.ASIOBufferSize());
}

void TMainFormOutputs::SetASIOBufferSize(int32_t Size) {
  switch (Size) {
    case lirvo::kASIOBufferMinimum:
      FASIO.SetASIOBufferSize(lirvo::absMinimum);
      break;
    case lirvo::kASIOBufferMaximum:
      FASIO.SetASIOBufferSize(lirvo::absMaximum);
      break;
    default:
      FASIO.SetASIOBufferSize(lirvo::absPreferred);
      break;
  }
}

void TMainFormOutputs::ReleaseASIODriver() {
  FASIO.ReleaseASIODriver();
}

void TMainFormOutputs::ShowASIOControlPanel() {
  FASIO.ShowSetupDlg();
}
