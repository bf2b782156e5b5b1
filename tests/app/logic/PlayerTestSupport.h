#pragma once
// The playback controller's test rig: a real playlist table, the player's real
// pipeline playing into capture devices of the test's own, and a host that
// records what the window would show.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/logic/playback/PlaybackController.h"
#include "app/logic/playback/PlayerPipeline.h"
#include "app/logic/playlist/Playlist.h"
#include "audio/core/UiDispatcher.h"
#include "audio/outputs/AuASIO.h"
#include "audio/outputs/drivers/AlsaDirect.h"
#include "common/ExternalTools.h"
#include "common/Pump.h"
#include "common/TestPaths.h"
#include "tests/audio/outputs/AsioTestSupport.h"
#include "tests/audio/outputs/DsTestSupport.h"

namespace lirvo::test {

inline const std::string kNothingToPlay = "没有要播放的曲目";
inline const std::string kPlayingPrefix = "正在播放：";

class TTestHost : public IPlayerHost {
 public:
  struct TMessage {
    std::string Text;
    bool Error;
  };

  void DispMessage(const std::string& Text) override { Messages.push_back({Text, false}); }
  void DispErrorMessage(const std::string& Text) override { Messages.push_back({Text, true}); }
  void SetProgress(int Percent) override { Progress.push_back(Percent); }
  void ProcessMessages() override { CheckSynchronize(std::chrono::milliseconds(0)); }
  bool FilterHasFocus() override { return FilterFocus; }
  void ApplyFilter() override { ++FiltersApplied; }
  void ClearSelection() override { ++SelectionsCleared; }
  void RepaintGrid() override { ++Repaints; }
  void BeginGridUpdate() override { ++GridUpdateDepth; }
  void EndGridUpdate() override { --GridUpdateDepth; }
  void SetTimerResolution(uint32_t Resolution100ns, bool Set) override {
    TimerCalls.emplace_back(Resolution100ns, Set);
  }
  void TrackDone() override {
    ++TracksDone;
    if (OnTrackDone) OnTrackDone();
  }
  void SetTrackClock(bool Running) override { Clock.push_back(Running); }

  // The titles of the rows started, in order ("正在播放：title / artist / album").
  std::vector<std::string> Started() const {
    std::vector<std::string> out;
    for (const TMessage& m : Messages)
      if (!m.Error && m.Text.rfind(kPlayingPrefix, 0) == 0) {
        std::string info = m.Text.substr(kPlayingPrefix.size());
        out.push_back(info.substr(0, info.find(" / ")));
      }
    return out;
  }
  bool Shown(const std::string& Text, bool Error) const {
    for (const TMessage& m : Messages)
      if (m.Text == Text && m.Error == Error) return true;
    return false;
  }

  std::vector<TMessage> Messages;
  std::vector<int> Progress;
  bool FilterFocus = false;
  int FiltersApplied = 0;
  int SelectionsCleared = 0;
  int Repaints = 0;
  int GridUpdateDepth = 0;
  std::vector<std::pair<uint32_t, bool>> TimerCalls;
  int TracksDone = 0;
  std::vector<bool> Clock;  // SetTrackClock's calls
  std::function<void()> OnTrackDone;
};

// Generated audio: Seconds of a sine at Hz, 16-bit stereo at Rate (44.1 kHz
// unless told), written by sox in the format Path's extension names.
inline std::string MakeTone(const std::string& Path, double Seconds, int Hz, int Rate = 44100) {
  RunCapture("sox -n -r " + std::to_string(Rate) + " -c 2 -b 16 " + Quote(Path) + " synth " +
             std::to_string(Seconds) + " sine " + std::to_string(Hz) + " vol 0.5 2>&1");
  return Path;
}

// The PCM a decoder should deliver for Path: 16-bit little-endian, as stored.
inline std::vector<uint8_t> DecodedBytes(const std::string& Path) {
  return RunCapture("sox " + Quote(Path) + " -t raw -e signed -b 16 -L - 2>/dev/null");
}

// The chain's environment for the direct engine with one paced test card
// (32-bit samples) named Pcm that writes what it receives to Capture (see
// tests/audio/outputs/PacedCardPlugin.cpp).
inline TAudioEnvironment PacedCardEnvironment(const std::string& Pcm, const std::string& Capture) {
  alsa::TAlsaDirectSetup setup;
  setup.Config = PacedCardConfig(Pcm, Capture);
  setup.Devices.push_back({"Test card", Pcm, {SND_PCM_FORMAT_S32_LE}});
  TAudioEnvironment env;
  env.Outputs.AlsaDirect = setup;
  TASIOAudioOut::ResetOutputReadySupported();
  return env;
}

struct TPlayerRig {
  // Capture: the shared output plays into CapturePath (paced in real time by
  // the test sound server when Paced).
  // Environment: the direct drivers and decoders' libraries the chain sees.
  explicit TPlayerRig(const std::string& Name, bool Paced = false, bool WithASIO = false,
                      TAudioEnvironment Environment = {})
      : Dir(ScratchDir(Name)), CapturePath(Dir + "/capture.raw") {
    TPlayerPipelineOptions options;
    options.DSoundDevices = std::vector<TDsDeviceEntry>{CaptureDevice(CapturePath, Paced)};
    options.WithASIO = WithASIO;
    options.Environment = std::move(Environment);
    Pipeline = std::make_unique<TPlayerPipeline>(options);
    Ctl = std::make_unique<TPlaybackController>(Table, Pipeline->Components(), Host);
  }
  ~TPlayerRig() {
    Ctl->StopAudioOut();
    Ctl.reset();
    Pipeline.reset();
  }

  // Appends a row with a fresh ID; returns the ID.
  int32_t AddRow(const std::string& File, const std::string& Title,
                 std::optional<int32_t> Track = std::nullopt) {
    PlaylistRecord r;
    r.ID = static_cast<int32_t>(Table.NextAudioID());
    r.Filename = File;
    r.Title = Title;
    r.Artist = "Artist " + Title;
    r.Album = "Album";
    r.Track = Track;
    Table.Append(r);
    return *r.ID;
  }
  std::string Tone(const std::string& Name, double Seconds, int Hz, int Rate = 44100) {
    return MakeTone(Dir + "/" + Name, Seconds, Hz, Rate);
  }
  bool WaitForMessage(const std::string& Text, bool Error = false,
                      std::chrono::milliseconds Timeout = std::chrono::seconds(20)) {
    return PumpUntil([&] { return Host.Shown(Text, Error); }, Timeout);
  }

  std::string Dir;
  std::string CapturePath;
  TPlaylistTable Table;
  TTestHost Host;
  std::unique_ptr<TPlayerPipeline> Pipeline;
  std::unique_ptr<TPlaybackController> Ctl;
};

}  // namespace lirvo::test
