#pragma once
// The settings file (lirvo.ini, where GetSettingsFileName says): the layout
// of the main window and its file browser, the grid's columns, the output
// engine with its devices and latencies, and the optimisation switches.
//
//   [Interface]  LeftPanel, FileViewPos, FileViewDirectory, ColumnSetting
//   [Windows]    State, Left, Top, Width, Bottom (the four only in state 0)
//   [System]     AudioEngine, DSoundDevice, DSoundLatency, ASIODevice, ASIOLatency
//   [Optimize]   Realtime, SuppressOtherProcesses, MutiCore, AudioService, Windows7
//
// Integers are decimal, Booleans "1" or "0" (any non-zero integer reads as
// true). The file is read once at start-up (LoadSettings) and written when
// the player ends (SaveSettings); in between the values live in the window
// and the outputs, reached through ISettingsTarget and IOutputsForSettings.
//
// The text is a TIniDocument (IniDocument.h), not QSettings: the keys keep
// the order above and the values are written as they are, without escapes,
// and a key or section the player does not know is kept as it was.
//
// Everything here runs on the UI thread.

#include <QIODevice>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/logic/common/AppTypes.h"
#include "app/logic/playlist/ColumnLayout.h"
#include "app/logic/settings/IniDocument.h"

namespace lirvo {

// ---------------------------------------------------------------------------
// The settings as values

// Values of the [Windows] State key.
inline constexpr int32_t kWindowStateNormal = 0;
inline constexpr int32_t kWindowStateMinimized = 1;
inline constexpr int32_t kWindowStateMaximized = 2;

// Values of TASIOBufferSize and of the [System] ASIOLatency key.
inline constexpr int32_t kASIOBufferPreferred = 0;
inline constexpr int32_t kASIOBufferMinimum = 1;
inline constexpr int32_t kASIOBufferMaximum = 2;

// The window's frame position and client size, as move() and resize() take
// them; Bottom in the file is the height.
struct TWindowGeometry {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Width = 640;
  int32_t Height = 400;

  bool operator==(const TWindowGeometry&) const = default;
};

// Every key of the file. The initial values are the window's and the
// outputs' own initial values, which a first start without a file keeps.
struct TSettings {
  // [Interface]
  int32_t LeftPanel = 185;        // width of the file-browser pane
  int32_t FileViewPos = 97;       // height of the folder list
  std::string FileViewDirectory;  // folder of the file list; empty: none
  // nullopt: missing or undecodable; the grid keeps its reset columns.
  std::optional<TColumnLayout> ColumnSetting;
  // [Windows]
  int32_t State = kWindowStateMaximized;
  TWindowGeometry Geometry;  // Left, Top, Width, Bottom
  // [System]
  TAudioEngine AudioEngine = aeDSound;
  int32_t DSoundDevice = 0;
  int32_t DSoundLatency = 100;  // milliseconds
  int32_t ASIODevice = 0;
  int32_t ASIOLatency = kASIOBufferPreferred;
  // [Optimize]; KernelLockMode is not stored.
  TOptimizeOption Optimize;

  bool operator==(const TSettings&) const = default;
};

// What reading depends on besides the file.
struct TSettingsEnvironment {
  int ProcessorCount = 1;
  // Whether a folder exists; default std::filesystem::is_directory.
  std::function<bool(const std::string& Dir)> DirectoryExists;

  // The machine's processor count (CPUCount) and the real file system.
  static TSettingsEnvironment Current();
};

// The values in Doc, each key in turn, with Current giving the value of a
// key that is missing, unreadable or refused:
//   - LeftPanel, FileViewPos only when above 0;
//   - FileViewDirectory only when the folder exists;
//   - ColumnSetting: nullopt when missing or undecodable;
//   - State outside 0..2 counts as missing (2), and Left, Top, Width,
//     Bottom are read only when State is 0;
//   - AudioEngine only 0 or 1; DSoundLatency only when not negative;
//     ASIOLatency only 0..2 (else 0);
//   - MutiCore only with 4 or more processors, otherwise false;
//   - Windows7 (real-time scheduling of the main thread) always read;
//   - KernelLockMode stays Current's.
TSettings ReadSettings(const TIniDocument& Doc, const TSettings& Current,
                       const TSettingsEnvironment& Env);

// Writes every key into Doc in the file's order; Left, Top, Width and
// Bottom only when State is 0, so a maximised or minimised window leaves the
// stored geometry as it was. A folder name that cannot stand on one line (it
// holds a line break) is written empty.
void WriteSettings(TIniDocument& Doc, const TSettings& Settings);

// ---------------------------------------------------------------------------
// Reading and writing the text

// The longest settings text read; a longer one is refused as not ours.
inline constexpr qint64 kMaxSettingsFileBytes = 1 << 20;

// Reads all of Device (open for reading). Throws EAuException when it cannot
// be read or is longer than kMaxSettingsFileBytes.
TIniDocument ReadIniDocument(QIODevice& Device);
// Writes Doc's text to Device (open for writing). Throws EAuException.
void WriteIniDocument(QIODevice& Device, const TIniDocument& Doc);

// nullopt when Path does not exist. Throws EAuException naming the file
// when it exists but cannot be read.
std::optional<TIniDocument> LoadIniFile(const std::string& Path);
// Writes Doc to Path through a temporary file in the same folder that is
// flushed to disk and renamed over Path, so a crash or a full disk leaves
// the old file or the new one, never a part. A missing folder is created.
// Throws EAuException naming the file and the reason; Path is then untouched.
void SaveIniFile(const std::string& Path, const TIniDocument& Doc);

// ---------------------------------------------------------------------------
// The window and the outputs as the settings and the settings dialog see them

// The main window's state. The setters get values read from the file or
// chosen in the dialog; a setter given the value it already has must leave
// things as they are.
class ISettingsTarget {
 public:
  virtual ~ISettingsTarget() = default;

  // The file browser (pnlLeft's width, dirlist's height, the file list's folder).
  virtual int32_t LeftPanelWidth() const = 0;
  virtual void SetLeftPanelWidth(int32_t Width) = 0;
  virtual int32_t FileViewPos() const = 0;
  virtual void SetFileViewPos(int32_t Height) = 0;
  virtual std::string FileViewDirectory() const = 0;
  // Dir exists; the file list, folder list and drive box move there.
  virtual void SetFileViewDirectory(const std::string& Dir) = 0;
  // The grid's columns in display order.
  virtual TColumnLayout ColumnLayout() const = 0;
  virtual void SetColumnLayout(const TColumnLayout& Layout) = 0;
  // kWindowStateNormal, kWindowStateMinimized or kWindowStateMaximized.
  virtual int32_t WindowState() const = 0;
  virtual void SetWindowState(int32_t State) = 0;
  // The geometry of the normal (not maximised) window.
  virtual TWindowGeometry NormalGeometry() const = 0;
  virtual void SetNormalGeometry(const TWindowGeometry& Geometry) = 0;

  // FAudioEngine, FOptimizeOption.
  virtual TAudioEngine AudioEngine() const = 0;
  virtual void SetAudioEngine(TAudioEngine Engine) = 0;
  virtual TOptimizeOption OptimizeOption() const = 0;
  virtual void SetOptimizeOption(const TOptimizeOption& Option) = 0;
  // FAudioOut := the output of Engine (DSound or ASIO).
  virtual void SetAudioOut(TAudioEngine Engine) = 0;
  virtual void NormalizeSystem() = 0;
  virtual void OptimizeSystem() = 0;
};

// The two outputs (DSound and ASIO) and the device lists the window built
// from them once at start-up (index = device number).
class IOutputsForSettings {
 public:
  virtual ~IOutputsForSettings() = default;

  virtual std::vector<std::string> DSoundDeviceNames() const = 0;
  virtual std::vector<std::string> ASIODeviceNames() const = 0;

  // DSound.DeviceNumber (checked only when playback starts), DSound.Latency
  // in milliseconds.
  virtual int32_t DSoundDeviceNumber() const = 0;
  virtual void SetDSoundDeviceNumber(int32_t Number) = 0;
  virtual int32_t DSoundLatency() const = 0;
  virtual void SetDSoundLatency(int32_t Milliseconds) = 0;

  // ASIO.DeviceNumber: throws EAuException for a number outside the driver
  // list (and ignores it when there are no drivers).
  virtual int32_t ASIODeviceNumber() const = 0;
  virtual void SetASIODeviceNumber(int32_t Number) = 0;
  // ASIO.ASIOBufferSize as kASIOBuffer... (TASIOBufferSize's values).
  virtual int32_t ASIOBufferSize() const = 0;
  virtual void SetASIOBufferSize(int32_t Size) = 0;
  virtual void ReleaseASIODriver() = 0;
  // The driver's own control panel; throws EAuException when the driver
  // cannot be opened.
  virtual void ShowASIOControlPanel() = 0;
};

// The values the window and the outputs hold now.
TSettings CaptureSettings(const ISettingsTarget& Window, const IOutputsForSettings& Outputs);

// Hands Settings to the window and the outputs in the file's order:
// Interface (pane width, folder-list height, folder, columns), Windows
// (state, then the geometry when the state is normal), System (engine,
// DirectSound device and latency, ASIO device and buffer size), Optimize.
// A value that equals Current's (what the window holds, the file left it
// alone) is not handed on again for the pane sizes and the folder. A step
// that throws is reported in the result and the rest goes on; an ASIO device
// number the output refuses falls back to device 0.
std::vector<std::string> ApplySettings(const TSettings& Settings, const TSettings& Current,
                                       ISettingsTarget& Window, IOutputsForSettings& Outputs);

// What LoadSettings and SaveSettings did.
struct TSettingsOutcome {
  bool FileFound = false;           // the settings file existed beforehand
  std::vector<std::string> Errors;  // each for the status line; empty when all went well
};

// The window's LoadSettings (start-up, after the columns were reset): reads
// Path if it exists and applies it; without a file nothing changes. Never
// throws: a file that cannot be read keeps every value, a value that cannot
// be applied is skipped (or falls back, see ApplySettings), and each is
// named in the outcome.
TSettingsOutcome LoadSettings(const std::string& Path, ISettingsTarget& Window,
                              IOutputsForSettings& Outputs,
                              const TSettingsEnvironment& Env = TSettingsEnvironment::Current());

// The window's SaveSettings (closing, restart, reboot, shutdown): writes
// every key of the present values into Path, keeping what else the file
// holds (and the stored geometry of a window that is not in the normal
// state); atomic as SaveIniFile. Never throws; a failure is in the outcome.
TSettingsOutcome SaveSettings(const std::string& Path, const ISettingsTarget& Window,
                              const IOutputsForSettings& Outputs);

}  // namespace lirvo
