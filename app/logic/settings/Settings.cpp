#include "app/logic/settings/Settings.h"

#include <QFile>
#include <QFileInfo>
#include <exception>
#include <filesystem>
#include <system_error>
#include <utility>

#include "app/logic/common/AtomicFile.h"
#include "audio/core/AuException.h"
#include "audio/core/ThreadSetup.h"

namespace lirvo {

namespace {

constexpr std::string_view kInterface = "Interface";
constexpr std::string_view kWindows = "Windows";
constexpr std::string_view kSystem = "System";
constexpr std::string_view kOptimize = "Optimize";

std::string QtErrorText(const QFileDevice& File) {
  return File.errorString().toStdString();
}

}  // namespace

// ---------------------------------------------------------------------------
// Reading and writing the settings

TSettingsEnvironment TSettingsEnvironment::Current() {
  TSettingsEnvironment env;
  env.ProcessorCount = CPUCount();
  return env;
}

TSettings ReadSettings(const TIniDocument& Doc, const TSettings& Current,
                       const TSettingsEnvironment& Env) {
  TSettings s = Current;

  // [Interface]
  if (const int32_t v = Doc.ReadInteger(kInterface, "LeftPanel", Current.LeftPanel); v > 0) {
    s.LeftPanel = v;
  }
  if (const int32_t v = Doc.ReadInteger(kInterface, "FileViewPos", Current.FileViewPos); v > 0) {
    s.FileViewPos = v;
  }
  const std::string dir = Doc.ReadString(kInterface, "FileViewDirectory", std::string());
  if (!dir.empty()) {
    bool exists = false;
    if (Env.DirectoryExists) {
      exists = Env.DirectoryExists(dir);
    } else {
      std::error_code ec;
      exists = std::filesystem::is_directory(dir, ec);
    }
    if (exists) s.FileViewDirectory = dir;
  }
  s.ColumnSetting = DecodeColumnLayout(Doc.ReadString(kInterface, "ColumnSetting", std::string()));

  // [Windows]
  s.State = Doc.ReadInteger(kWindows, "State", kWindowStateMaximized);
  if (s.State < kWindowStateNormal || s.State > kWindowStateMaximized) {
    s.State = kWindowStateMaximized;
  }
  if (s.State == kWindowStateNormal) {
    s.Geometry.Left = Doc.ReadInteger(kWindows, "Left", Current.Geometry.Left);
    s.Geometry.Top = Doc.ReadInteger(kWindows, "Top", Current.Geometry.Top);
    s.Geometry.Width = Doc.ReadInteger(kWindows, "Width", Current.Geometry.Width);
    s.Geometry.Height = Doc.ReadInteger(kWindows, "Bottom", Current.Geometry.Height);
  }

  // [System]
  switch (Doc.ReadInteger(kSystem, "AudioEngine", Current.AudioEngine)) {
    case aeDSound:
      s.AudioEngine = aeDSound;
      break;
    case aeASIO:
      s.AudioEngine = aeASIO;
      break;
    default:  // no such engine: the one in effect stays
      break;
  }
  s.DSoundDevice = Doc.ReadInteger(kSystem, "DSoundDevice", 0);
  s.DSoundLatency = Doc.ReadInteger(kSystem, "DSoundLatency", 100);
  if (s.DSoundLatency < 0) s.DSoundLatency = 100;
  s.ASIODevice = Doc.ReadInteger(kSystem, "ASIODevice", 0);
  s.ASIOLatency = Doc.ReadInteger(kSystem, "ASIOLatency", kASIOBufferPreferred);
  if (s.ASIOLatency < kASIOBufferPreferred || s.ASIOLatency > kASIOBufferMaximum) {
    s.ASIOLatency = kASIOBufferPreferred;
  }

  // [Optimize]
  const TOptimizeOption& cur = Current.Optimize;
  s.Optimize.RealTimeOptimize = Doc.ReadBool(kOptimize, "Realtime", cur.RealTimeOptimize);
  s.Optimize.SuppressOtherProcesses =
      Doc.ReadBool(kOptimize, "SuppressOtherProcesses", cur.SuppressOtherProcesses);
  // The multi-core strategy needs four processors.
  s.Optimize.MutiCoreOptimize =
      Env.ProcessorCount > 3 && Doc.ReadBool(kOptimize, "MutiCore", cur.MutiCoreOptimize);
  s.Optimize.AudioServiceOptimize =
      Doc.ReadBool(kOptimize, "AudioService", cur.AudioServiceOptimize);
  // Real-time scheduling of the main thread; every system here can ask for it.
  s.Optimize.Windows7Optimize = Doc.ReadBool(kOptimize, "Windows7", cur.Windows7Optimize);
  s.Optimize.KernelLockMode = cur.KernelLockMode;
  return s;
}

void WriteSettings(TIniDocument& Doc, const TSettings& Settings) {
  const TSettings& s = Settings;
  Doc.WriteInteger(kInterface, "LeftPanel", s.LeftPanel);
  Doc.WriteInteger(kInterface, "FileViewPos", s.FileViewPos);
  // A line break would end the value and start a line of its own.
  const bool oneLine = s.FileViewDirectory.find_first_of("\r\n") == std::string::npos;
  Doc.WriteString(kInterface, "FileViewDirectory", oneLine ? s.FileViewDirectory : std::string());
  Doc.WriteString(kInterface, "ColumnSetting",
                  s.ColumnSetting ? EncodeColumnLayout(*s.ColumnSetting) : std::string());

  Doc.WriteInteger(kWindows, "State", s.State);
  if (s.State == kWindowStateNormal) {
    Doc.WriteInteger(kWindows, "Left", s.Geometry.Left);
    Doc.WriteInteger(kWindows, "Top", s.Geometry.Top);
    Doc.WriteInteger(kWindows, "Width", s.Geometry.Width);
    Doc.WriteInteger(kWindows, "Bottom", s.Geometry.Height);
  }

  Doc.WriteInteger(kSystem, "AudioEngine", s.AudioEngine);
  Doc.WriteInteger(kSystem, "DSoundDevice", s.DSoundDevice);
  Doc.WriteInteger(kSystem, "DSoundLatency", s.DSoundLatency);
  Doc.WriteInteger(kSystem, "ASIODevice", s.ASIODevice);
  Doc.WriteInteger(kSystem, "ASIOLatency", s.ASIOLatency);

  Doc.WriteBool(kOptimize, "Realtime", s.Optimize.RealTimeOptimize);
  Doc.WriteBool(kOptimize, "SuppressOtherProcesses", s.Optimize.SuppressOtherProcesses);
  Doc.WriteBool(kOptimize, "MutiCore", s.Optimize.MutiCoreOptimize);
  Doc.WriteBool(kOptimize, "AudioService", s.Optimize.AudioServiceOptimize);
  Doc.WriteBool(kOptimize, "Windows7", s.Optimize.Windows7Optimize);
}

// ---------------------------------------------------------------------------
// Devices and files

TIniDocument ReadIniDocument(QIODevice& Device) {
  std::string bytes;
  char chunk[16384];
  for (;;) {
    const qint64 got = Device.read(chunk, sizeof chunk);
    if (got < 0) {
      throw EAuException("Cannot read settings: " + Device.errorString().toStdString());
    }
    if (got == 0) break;
    // Checked before the text grows past the limit.
    if (static_cast<qint64>(bytes.size()) + got > kMaxSettingsFileBytes) {
      throw EAuException("Settings text is longer than " + std::to_string(kMaxSettingsFileBytes) +
                         " bytes");
    }
    bytes.append(chunk, static_cast<size_t>(got));
  }
  return TIniDocument::Parse(bytes);
}

void WriteIniDocument(QIODevice& Device, const TIniDocument& Doc) {
  const std::string text = Doc.ToText();
  if (Device.write(text.data(), static_cast<qint64>(text.size())) !=
      static_cast<qint64>(text.size())) {
    throw EAuException("Cannot write settings: " + Device.errorString().toStdString());
  }
}

std::optional<TIniDocument> LoadIniFile(const std::string& Path) {
  const QString path = QString::fromStdString(Path);
  if (!QFileInfo::exists(path)) return std::nullopt;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    throw EAuException("Cannot open settings file " + Path + ": " + QtErrorText(file));
  }
  try {
    return ReadIniDocument(file);
  } catch (const EAuException& e) {
    throw EAuException(std::string(e.what()) + " (" + Path + ")");
  }
}

void SaveIniFile(const std::string& Path, const TIniDocument& Doc) {
  const TAtomicWriteResult written = WriteFileAtomically(Path, Doc.ToText());
  if (written) return;
  if (written.FolderFailed) {
    const std::string dir = QFileInfo(QString::fromStdString(Path)).absolutePath().toStdString();
    throw EAuException("Cannot create folder " + dir + " for settings file " + Path);
  }
  throw EAuException("Cannot write settings file " + Path + ": " + written.Error.message());
}

// ---------------------------------------------------------------------------
// The window's operations

TSettings CaptureSettings(const ISettingsTarget& Window, const IOutputsForSettings& Outputs) {
  TSettings s;
  s.LeftPanel = Window.LeftPanelWidth();
  s.FileViewPos = Window.FileViewPos();
  s.FileViewDirectory = Window.FileViewDirectory();
  s.ColumnSetting = Window.ColumnLayout();
  s.State = Window.WindowState();
  s.Geometry = Window.NormalGeometry();
  s.AudioEngine = Window.AudioEngine();
  s.DSoundDevice = Outputs.DSoundDeviceNumber();
  s.DSoundLatency = Outputs.DSoundLatency();
  s.ASIODevice = Outputs.ASIODeviceNumber();
  s.ASIOLatency = Outputs.ASIOBufferSize();
  s.Optimize = Window.OptimizeOption();
  return s;
}

std::vector<std::string> ApplySettings(const TSettings& Settings, const TSettings& Current,
                                       ISettingsTarget& Window, IOutputsForSettings& Outputs) {
  std::vector<std::string> errors;
  // One failing value must not keep the others (or the rest of start-up)
  // from being applied: each step's error is reported and the next goes on.
  const auto step = [&errors](const char* What, auto&& Fn) {
    try {
      Fn();
    } catch (const std::exception& e) {
      errors.push_back(std::string(What) + ": " + e.what());
    } catch (...) {
      errors.push_back(std::string(What) + ": unknown error");
    }
  };
  const TSettings& s = Settings;

  step("LeftPanel", [&] {
    if (s.LeftPanel != Current.LeftPanel) Window.SetLeftPanelWidth(s.LeftPanel);
  });
  step("FileViewPos", [&] {
    if (s.FileViewPos != Current.FileViewPos) Window.SetFileViewPos(s.FileViewPos);
  });
  step("FileViewDirectory", [&] {
    if (s.FileViewDirectory != Current.FileViewDirectory) {
      Window.SetFileViewDirectory(s.FileViewDirectory);
    }
  });
  step("ColumnSetting", [&] {
    if (s.ColumnSetting) Window.SetColumnLayout(*s.ColumnSetting);
  });

  step("State", [&] { Window.SetWindowState(s.State); });
  if (s.State == kWindowStateNormal) {
    step("Window geometry", [&] { Window.SetNormalGeometry(s.Geometry); });
  }

  step("AudioEngine", [&] { Window.SetAudioEngine(s.AudioEngine); });
  step("DSoundDevice", [&] { Outputs.SetDSoundDeviceNumber(s.DSoundDevice); });
  step("DSoundLatency", [&] { Outputs.SetDSoundLatency(s.DSoundLatency); });
  step("ASIODevice", [&] {
    try {
      Outputs.SetASIODeviceNumber(s.ASIODevice);
    } catch (const std::exception&) {
      // The driver list changed since the file was written: the first
      // driver stands in. Reported all the same.
      Outputs.SetASIODeviceNumber(0);
      throw;
    }
  });
  step("ASIOLatency", [&] { Outputs.SetASIOBufferSize(s.ASIOLatency); });

  step("Optimize", [&] { Window.SetOptimizeOption(s.Optimize); });
  return errors;
}

TSettingsOutcome LoadSettings(const std::string& Path, ISettingsTarget& Window,
                              IOutputsForSettings& Outputs, const TSettingsEnvironment& Env) {
  TSettingsOutcome outcome;
  std::optional<TIniDocument> doc;
  try {
    doc = LoadIniFile(Path);
  } catch (const std::exception& e) {
    outcome.FileFound = true;
    outcome.Errors.push_back(e.what());
    return outcome;
  }
  if (!doc) return outcome;
  outcome.FileFound = true;
  try {
    const TSettings current = CaptureSettings(Window, Outputs);
    const TSettings read = ReadSettings(*doc, current, Env);
    outcome.Errors = ApplySettings(read, current, Window, Outputs);
  } catch (const std::exception& e) {
    outcome.Errors.push_back(e.what());
  }
  return outcome;
}

TSettingsOutcome SaveSettings(const std::string& Path, const ISettingsTarget& Window,
                              const IOutputsForSettings& Outputs) {
  TSettingsOutcome outcome;
  try {
    TIniDocument doc;
    try {
      // What else the file holds stays.
      if (std::optional<TIniDocument> old = LoadIniFile(Path)) {
        doc = std::move(*old);
        outcome.FileFound = true;
      }
    } catch (const std::exception&) {
      // A file that cannot be read (or is not ours) is replaced by a fresh one.
      outcome.FileFound = true;
    }
    WriteSettings(doc, CaptureSettings(Window, Outputs));
    SaveIniFile(Path, doc);
  } catch (const std::exception& e) {
    outcome.Errors.push_back(e.what());
  }
  return outcome;
}

}  // namespace lirvo
