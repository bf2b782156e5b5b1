#include "MainFormSettings.h"

#include <QHeaderView>
#include <QSplitter>
#include <QTableView>
#include <algorithm>

#include "FileBrowserPane.h"
#include "UnitConfig.h"
#include "UnitMain.h"
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
  if (!F.splLeft->isVisible()) return F.FLeftPanelWidth;
  return F.splLeft->sizes().value(0, F.FLeftPanelWidth);
}

void TMainFormSettingsTarget::SetLeftPanelWidth(int32_t Width) {
  if (Width <= 0) return;
  F.FLeftPanelWidth = Width;
  QList<int> sizes = F.splLeft->sizes();
  const int total = std::max(0, sizes.value(0) + sizes.value(1));
  // The grid takes the rest; before the first layout "the rest" is all of it.
  const int rest = F.splLeft->isVisible() && total > Width ? total - Width : 100000;
  F.splLeft->setSizes({Width, rest});
}

int32_t TMainFormSettingsTarget::FileViewPos() const {
  return F.FileBrowser->FileViewPos();
}

void TMainFormSettingsTarget::SetFileViewPos(int32_t Height) {
  F.FileBrowser->SetFileViewPos(Height);
}

std::string TMainFormSettingsTarget::FileViewDirectory() const {
  return F.FileBrowser->CurrentFolder().toStdString();
}

void TMainFormSettingsTarget::SetFileViewDirectory(const std::string& Dir) {
  F.FileBrowser->SetCurrentFolder(QString::fromStdString(Dir));
}

lirvo::TColumnLayout TMainFormSettingsTarget::ColumnLayout() const {
  const QHeaderView& header = *F.dbgSongs->horizontalHeader();
  // A grid without columns has nothing to say; what the file held stays.
  if (header.count() == 0 && F.FStoredColumns) return *F.FStoredColumns;
  return CaptureGridColumns(header);
}

void TMainFormSettingsTarget::SetColumnLayout(const lirvo::TColumnLayout& Layout) {
  F.FStoredColumns = Layout;
  ApplyGridColumns(*F.dbgSongs->horizontalHeader(), Layout);
}

int32_t TMainFormSettingsTarget::WindowState() const {
  if (F.isMinimized()) return lirvo::kWindowStateMinimized;
  if (F.isMaximized() || F.isFullScreen()) return lirvo::kWindowStateMaximized;
  return lirvo::kWindowStateNormal;
}

void TMainFormSettingsTarget::SetWindowState(int32_t State) {
  Qt::WindowStates states = F.windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
  if (State == lirvo::kWindowStateMinimized) states |= Qt::WindowMinimized;
  if (State == lirvo::kWindowStateMaximized) states |= Qt::WindowMaximized;
  F.setWindowState(states);
}

lirvo::TWindowGeometry TMainFormSettingsTarget::NormalGeometry() const {
  if (WindowState() == lirvo::kWindowStateNormal) {
    return {F.x(), F.y(), F.width(), F.height()};
  }
  const QRect r = F.normalGeometry();
  return {r.x(), r.y(), r.width(), r.height()};
}

void TMainFormSettingsTarget::SetNormalGeometry(const lirvo::TWindowGeometry& Geometry) {
  F.move(Geometry.Left, Geometry.Top);
  F.resize(Geometry.Width, Geometry.Height);
}

TAudioEngine TMainFormSettingsTarget::AudioEngine() const {
  return F.AudioEngine();
}

void TMainFormSettingsTarget::SetAudioEngine(TAudioEngine Engine) {
  F.SetAudioEngine(Engine);
}

TOptimizeOption TMainFormSettingsTarget::OptimizeOption() const {
  return F.FOptimizeOption;
}

void TMainFormSettingsTarget::SetOptimizeOption(const TOptimizeOption& Option) {
  F.FOptimizeOption = Option;
}

void TMainFormSettingsTarget::SetAudioOut(TAudioEngine Engine) {
  F.SetAudioOut(Engine == aeASIO ? static_cast<lirvo::TAuOutput*>(F.FASIO.get())
                                 : static_cast<lirvo::TAuOutput*>(F.FDSound.get()));
}

void TMainFormSettingsTarget::NormalizeSystem() {
  F.NormalizeSystem();
}

void TMainFormSettingsTarget::OptimizeSystem() {
  F.OptimizeSystem();
}

// --- The outputs ---

std::vector<std::string> TMainFormOutputs::DSoundDeviceNames() const {
  return ToStdList(F.FDSoundDeviceList);
}

std::vector<std::string> TMainFormOutputs::ASIODeviceNames() const {
  return ToStdList(F.FASIODeviceList);
}

int32_t TMainFormOutputs::DSoundDeviceNumber() const {
  return F.FDSound->DeviceNumber();
}

void TMainFormOutputs::SetDSoundDeviceNumber(int32_t Number) {
  F.FDSound->SetDeviceNumber(Number);
}

int32_t TMainFormOutputs::DSoundLatency() const {
  return static_cast<int32_t>(F.FDSound->Latency());
}

void TMainFormOutputs::SetDSoundLatency(int32_t Milliseconds) {
  if (Milliseconds < 0) return;  // the reader refuses these already
  F.FDSound->SetLatency(static_cast<uint32_t>(Milliseconds));
}

int32_t TMainFormOutputs::ASIODeviceNumber() const {
  return F.FASIO->DeviceNumber();
}

void TMainFormOutputs::SetASIODeviceNumber(int32_t Number) {
  F.FASIO->SetDeviceNumber(Number);
}

int32_t TMainFormOutputs::ASIOBufferSize() const {
  return static_cast<int32_t>(F.FASIO->ASIOBufferSize());
}

void TMainFormOutputs::SetASIOBufferSize(int32_t Size) {
  switch (Size) {
    case lirvo::kASIOBufferMinimum:
      F.FASIO->SetASIOBufferSize(lirvo::absMinimum);
      break;
    case lirvo::kASIOBufferMaximum:
      F.FASIO->SetASIOBufferSize(lirvo::absMaximum);
      break;
    default:
      F.FASIO->SetASIOBufferSize(lirvo::absPreferred);
      break;
  }
}

void TMainFormOutputs::ReleaseASIODriver() {
  F.FASIO->ReleaseASIODriver();
}

void TMainFormOutputs::ShowASIOControlPanel() {
  F.FASIO->ShowSetupDlg();
}
