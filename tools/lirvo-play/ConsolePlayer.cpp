// --list-devices and --play: the player's own chain and playback controller
// driven from a console instead of the window.

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PlayCommands.h"
#include "app/logic/playback/PlaybackController.h"
#include "app/logic/playback/PlayerPipeline.h"
#include "app/logic/playlist/FileKinds.h"
#include "app/logic/playlist/Playlist.h"
#include "app/logic/system/ProcUtils.h"
#include "audio/core/AudioClasses.h"
#include "audio/core/UiDispatcher.h"
#include "audio/outputs/AsioHost.h"
#include "audio/outputs/AsioList.h"
#include "audio/outputs/AuASIO.h"
#include "audio/outputs/DSAudioOut.h"
#include "audio/outputs/DSoundLayer.h"
#include "audio/outputs/OutputEnvironment.h"

namespace lirvo::play {

namespace {

// Names a configuration file whose PCM definitions --device may name.
constexpr const char* kAlsaConfigEnv = "LIRVO_ALSA_CONFIG";

std::optional<int> AsNumber(const std::string& Text) {
  int n = 0;
  const char* end = Text.data() + Text.size();
  const auto [ptr, ec] = std::from_chars(Text.data(), end, n);
  if (Text.empty() || ec != std::errc() || ptr != end || n < 0) return std::nullopt;
  return n;
}

// The text of the file LIRVO_ALSA_CONFIG names; nullopt when it is not set.
// Throws with a reason when it is set but cannot be read.
std::optional<std::string> ExtraAlsaConfig() {
  const char* path = std::getenv(kAlsaConfigEnv);
  if (!path || !*path) return std::nullopt;
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error(std::string(kAlsaConfigEnv) + ": cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

std::vector<TDsDeviceEntry> SystemDsDevices() {
  DSW_Devices table;
  EnumerateDsDevices(table);
  std::vector<TDsDeviceEntry> out;
  for (int32_t i = 0; i < table.devcount; ++i)
    out.push_back({table.dinfo[i].Description, table.dinfo[i].Pcm, table.dinfo[i].Config});
  return out;
}

std::string Clock(int32_t Seconds) {
  if (Seconds < 0) Seconds = 0;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d:%02d", Seconds / 60, Seconds % 60);
  return buf;
}

// The window's status line and progress bar, on a console.
class TConsoleHost : public IPlayerHost {
 public:
  explicit TConsoleHost(std::ostream& Err) : FErr(Err) {}

  void DispMessage(const std::string& Text) override {
    // After the end of the track the controller reports that nothing follows
    // it; on a console that only confuses.
    if (FDone) return;
    EndProgressLine();
    FErr << Text << "\n";
  }
  void DispErrorMessage(const std::string& Text) override {
    EndProgressLine();
    FErr << "lirvo-play: " << Text << "\n";
    FErrorShown = true;
  }
  void SetProgress(int Percent) override { FPercent = Percent; }
  void ProcessMessages() override { CheckSynchronize(std::chrono::milliseconds(0)); }
  void SetTimerResolution(uint32_t Resolution100ns, bool Set) override {
    lirvo::SetTimerResolution(Resolution100ns, Set);
  }
  void TrackDone() override { FDone = true; }

  void ShowProgress(TAuOutput* Out, uint64_t Underruns) {
    if (!Out) return;
    std::string line = "  " + Clock(Out->TimeElapsed()) + "  " +
                       std::to_string(Out->Progress() < 0 ? 0 : Out->Progress()) + "%  underruns " +
                       std::to_string(Underruns);
    if (FTty) {
      FErr << "\r" << line << "   " << std::flush;
      FLineOpen = true;
    } else {
      FErr << line << "\n" << std::flush;
    }
  }
  void EndProgressLine() {
    if (FLineOpen) FErr << "\n";
    FLineOpen = false;
  }

  bool Done() const { return FDone; }
  bool ErrorShown() const { return FErrorShown; }

 private:
  std::ostream& FErr;
  bool FTty = isatty(STDERR_FILENO) == 1;
  bool FLineOpen = false;
  bool FDone = false;
  bool FErrorShown = false;
  int FPercent = 0;
};

// Chooses the shared output's device. Number: the system's device table.
// Name: a device of the table by its name or PCM, else the PCM of that name
// (defined in LIRVO_ALSA_CONFIG's file when it is set).
struct TDsChoice {
  std::vector<TDsDeviceEntry> Devices;
  int32_t Number = 0;
};

TDsChoice ChooseDsDevice(const std::string& Device) {
  TDsChoice c;
  c.Devices = SystemDsDevices();
  if (Device.empty()) return c;
  if (std::optional<int> n = AsNumber(Device)) {
    if (*n >= static_cast<int>(c.Devices.size()))
      throw std::runtime_error("no DirectSound device " + Device + " (see --list-devices)");
    c.Number = *n;
    return c;
  }
  for (size_t i = 0; i < c.Devices.size(); ++i)
    if (c.Devices[i].Name == Device || c.Devices[i].Pcm == Device) {
      c.Number = static_cast<int32_t>(i);
      return c;
    }
  c.Devices = {{Device, Device, ExtraAlsaConfig().value_or("")}};
  c.Number = 0;
  return c;
}

// Chooses the direct driver: a number or a name of the driver list, else
// (with LIRVO_ALSA_CONFIG) a PCM of that file opened as a hardware device,
// which Env then lists first.
int32_t ChooseAsioDriver(const std::string& Device, TOutputEnvironment& Env) {
  TAsioDriverList list;
  ListAsioDrivers(list, Env);
  if (Device.empty()) return 0;
  if (std::optional<int> n = AsNumber(Device)) {
    if (*n >= static_cast<int>(list.size()))
      throw std::runtime_error("no ASIO driver " + Device + " (see --list-devices)");
    return *n;
  }
  for (size_t i = 0; i < list.size(); ++i)
    if (Device == list[i].name || Device == list[i].path) return static_cast<int32_t>(i);
  if (std::optional<std::string> config = ExtraAlsaConfig()) {
    alsa::TAlsaDirectSetup setup;
    setup.Config = *config;
    setup.Devices.push_back({Device, Device, {}});
    Env.AlsaDirect = setup;
    return 0;  // the list now starts with that device
  }
  throw std::runtime_error("no ASIO driver named '" + Device + "' (see --list-devices)");
}

// The driver's buffer choice nearest to Buffer (a name or a frame count).
TASIOBufferSize ChooseAsioBuffer(const std::string& Buffer, int32_t DeviceNumber,
                                 const TOutputEnvironment& Env) {
  if (Buffer.empty() || Buffer == "preferred") return absPreferred;
  if (Buffer == "min") return absMinimum;
  if (Buffer == "max") return absMaximum;
  const int64_t want = std::stoll(Buffer);
  TAsioDriverList list;
  ListAsioDrivers(list, Env);
  if (DeviceNumber < 0 || DeviceNumber >= static_cast<int32_t>(list.size())) return absPreferred;
  std::unique_ptr<IAsioHost> driver;
  if (CreateAsioHost(list[DeviceNumber], Env, driver) != S_OK || !driver || !driver->init(nullptr))
    throw std::runtime_error("Failed to open ASIO device");
  int32_t mn = 0, mx = 0, pref = 0, gran = 0;
  driver->getBufferSize(&mn, &mx, &pref, &gran);
  driver.reset();
  TASIOBufferSize best = absPreferred;
  int64_t bestDist = std::llabs(want - pref);
  if (std::llabs(want - mn) < bestDist) {
    best = absMinimum;
    bestDist = std::llabs(want - mn);
  }
  if (std::llabs(want - mx) < bestDist) best = absMaximum;
  return best;
}

std::string BaseName(const std::string& Path) {
  const size_t slash = Path.find_last_of('/');
  return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

}  // namespace

int RunListDevices(std::ostream& Out) {
  Out << "DirectSound devices:\n";
  const std::vector<TDsDeviceEntry> ds = SystemDsDevices();
  for (size_t i = 0; i < ds.size(); ++i)
    Out << "  " << i << ": " << ds[i].Name << " (" << ds[i].Pcm << ")\n";
  Out << "ASIO drivers:\n";
  TAsioDriverList asio;
  ListAsioDrivers(asio, TOutputEnvironment{});
  for (size_t i = 0; i < asio.size(); ++i)
    Out << "  " << i << ": " << asio[i].name << "\n";
  return kExitOk;
}

int RunPlay(const TPlayOptions& Options, std::ostream& Err,
            const std::atomic<bool>& StopRequested) {
  const std::string& file = Options.File;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(std::filesystem::u8path(file), ec)) {
    Err << "lirvo-play: " << file << ": no such file\n";
    return kExitFailed;
  }
  const bool cue = GetAudioFileType(file) == aftCUE;
  if (cue && Options.Track == 0) {
    Err << "lirvo-play: " << file << ": a CUE sheet needs --track N\n";
    return kExitUsage;
  }
  if (!cue && Options.Track != 0) {
    Err << "lirvo-play: --track goes with a CUE sheet\n";
    return kExitUsage;
  }

  TPlayerPipelineOptions pipelineOptions;
  int32_t deviceNumber = 0;
  TASIOBufferSize buffer = absPreferred;
  try {
    if (Options.Engine == TEngine::DSound) {
      TDsChoice choice = ChooseDsDevice(Options.Device);
      pipelineOptions.DSoundDevices = std::move(choice.Devices);
      deviceNumber = choice.Number;
      pipelineOptions.WithASIO = false;
    } else {
      TOutputEnvironment& outputs = pipelineOptions.Environment.Outputs;
      deviceNumber = ChooseAsioDriver(Options.Device, outputs);
      buffer = ChooseAsioBuffer(Options.Buffer, deviceNumber, outputs);
      // The shared output is not used: list no devices for it.
      pipelineOptions.DSoundDevices = std::vector<TDsDeviceEntry>{};
    }
  } catch (const std::exception& e) {
    Err << "lirvo-play: " << e.what() << "\n";
    return kExitFailed;
  }

  TPlayerPipeline pipeline(pipelineOptions);
  const TPlayerComponents& parts = pipeline.Components();
  TAuOutput* out = nullptr;
  try {
    if (Options.Engine == TEngine::DSound) {
      parts.DSound->SetDeviceNumber(deviceNumber);
      parts.DSound->SetLatency(static_cast<uint32_t>(Options.LatencyMs));
      out = parts.DSound;
    } else {
      if (parts.ASIO->DeviceCount() == 0) throw std::runtime_error("no ASIO drivers");
      parts.ASIO->SetDeviceNumber(deviceNumber);
      parts.ASIO->SetASIOBufferSize(buffer);
      out = parts.ASIO;
    }
  } catch (const std::exception& e) {
    Err << "lirvo-play: " << e.what() << "\n";
    return kExitFailed;
  }

  TPlaylistTable table;
  PlaylistRecord row;
  row.ID = static_cast<int32_t>(table.NextAudioID());
  row.Filename = file;
  row.Title = BaseName(file);
  if (cue) {
    row.Track = Options.Track;
    *row.Title += " #" + std::to_string(Options.Track);
  }
  table.Append(row);

  TConsoleHost host(Err);
  int rc = kExitOk;
  {
    TPlaybackController player(table, parts, host);
    player.FAudioEngine = Options.Engine == TEngine::ASIO ? aeASIO : aeDSound;
    try {
      player.StartPlay();
    } catch (const std::exception& e) {
      host.DispErrorMessage(e.what());
    }
    if (host.ErrorShown() || player.FAudioOut == nullptr) {
      player.StopAudioOut();
      return kExitFailed;
    }

    auto nextReport = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    auto underruns = [&]() -> uint64_t {
      return Options.Engine == TEngine::ASIO ? parts.ASIO->Shortfalls() : parts.DSound->Underruns();
    };
    // Sleeps until the outputs post work, a stop signal arrives or the
    // progress line is due.
    auto done = [&] { return host.Done() || StopRequested.load(); };
    while (!done()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(
          nextReport - std::chrono::steady_clock::now());
      ServeUntil(done, std::max(left, std::chrono::milliseconds(1)));
      if (std::chrono::steady_clock::now() >= nextReport) {
        host.ShowProgress(out, underruns());
        nextReport += std::chrono::seconds(1);
      }
    }
    if (StopRequested.load() && !host.Done()) {
      host.EndProgressLine();
      player.miStopClick();
      rc = kExitInterrupted;
    } else {
      // The end of the track: let the controller finish its step (it finds
      // no next row) before the components go.
      player.StopAudioOut();
      host.EndProgressLine();
      if (player.FHavePlayError) {
        // The controller shows a failed run's error itself.
        if (!host.ErrorShown()) Err << "lirvo-play: " << out->ExceptionMessage() << "\n";
        rc = kExitFailed;
      } else {
        Err << "end of track, underruns " << underruns() << "\n";
      }
    }
  }
  return rc;
}

}  // namespace lirvo::play
