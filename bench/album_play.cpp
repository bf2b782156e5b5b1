// Continuous playback and seeking through the window's own controller and
// chain (tests/app/logic's rig: a real playlist, the player's pipeline).
//
// BM_SeekToNewFrame/{0: shared engine, 1: direct engine}: the time from a
// seek command to the first frame written to the device after it, on the
// paced PulseAudio device of the test sound server (captured by ALSA's file
// plugin in front of it) and on the paced test card. Counters: ms, as the
// mean and the largest of the seeks of one run.
//
// BM_AlbumCpu/{0: one run per track, 1: one stream}: CPU time of the whole
// process for a FLAC album of three files played from the playlist on an
// unpaced capture device (so the run is as fast as the chain), per second of
// audio. The ratio of the second to the first is what preparing the next
// track while one plays costs beyond the decoding it does (1.0: nothing).
//
// Needs the test sound server (LIRVO_TEST_PULSE=1, scripts/test-servers).
// LIRVO_BENCH_SECONDS: the album's length (default 60 s; the figure
// is for 600).

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>

#include "audio/core/Pool.h"
#include "audio/core/UiDispatcher.h"
#include "audio/outputs/AuASIO.h"
#include "audio/outputs/drivers/AlsaDirect.h"
#include "tests/app/logic/PlayerTestSupport.h"
#include "tests/audio/outputs/AsioTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;
using namespace std::chrono_literals;

namespace {

int Seconds() {
  const char* s = std::getenv("LIRVO_BENCH_SECONDS");
  const int n = s ? std::atoi(s) : 60;
  return n > 0 ? n : 60;
}

bool ServerAvailable(benchmark::State& state) {
  const char* v = std::getenv("LIRVO_TEST_PULSE");
  if (!v || std::string(v) != "1") {
    state.SkipWithError("needs the test sound server (LIRVO_TEST_PULSE=1)");
    return false;
  }
  return true;
}

double CpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  return ms(u.ru_utime) + ms(u.ru_stime);
}

int64_t FileSize(const std::string& Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

void BM_SeekToNewFrame(benchmark::State& state) {
  if (!ServerAvailable(state)) return;
  const bool direct = state.range(0) == 1;
  const std::string card = ScratchDir("bench_seek_card") + "/card.raw";
  TAudioEnvironment env;
  if (direct) env = PacedCardEnvironment("lirvo_bench_card", card);
  TPlayerRig rig(direct ? "bench_seek_direct" : "bench_seek_shared", /*Paced=*/true, direct, env);
  rig.Ctl->FAudioEngine = direct ? aeASIO : aeDSound;
  rig.AddRow(rig.Tone("long.flac", 120, 440), "Long");
  const std::string capture = direct ? card : rig.CapturePath;
  double sum = 0, worst = 0, callSum = 0;
  int seeks = 0;
  for (auto _ : state) {
    rig.Table.SetCurrentRow(0);
    rig.Ctl->miPlayClick();
    // Let the device settle in its steady state before each seek.
    PumpFor(2500ms);
    for (int i = 0; i < 5; ++i) {
      const int64_t before = FileSize(capture);
      const auto t0 = std::chrono::steady_clock::now();
      rig.Ctl->SeekToFraction(0.1 + 0.15 * i);
      const double call =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
      callSum += call;
      // The first write after the seek: what the device got from before was
      // dropped, so it is the new place.
      while (FileSize(capture) <= before &&
             std::chrono::steady_clock::now() - t0 < std::chrono::seconds(5)) {
        CheckSynchronize(0ms);
        std::this_thread::sleep_for(200us);
      }
      const double ms =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
      sum += ms;
      worst = std::max(worst, ms);
      ++seeks;
      PumpFor(1000ms);
    }
    rig.Ctl->miStopClick();
  }
  state.counters["mean_ms"] = seeks ? sum / seeks : 0;
  state.counters["max_ms"] = worst;
  // Of which the seek command itself took (the UI thread waits that long).
  state.counters["call_ms"] = seeks ? callSum / seeks : 0;
}

void BM_AlbumCpu(benchmark::State& state) {
  if (!ServerAvailable(state)) return;
  const bool continuous = state.range(0) == 1;
  TPlayerRig rig(continuous ? "bench_album_one" : "bench_album_runs", /*Paced=*/false);
  const double third = Seconds() / 3.0;
  for (int i = 0; i < 3; ++i)
    rig.AddRow(rig.Tone("t" + std::to_string(i) + ".flac", third, 330 + 110 * i),
               "T" + std::to_string(i));
  // Without the second set of track components every track is a run of its
  // own, as before continuous playback.
  TPlayerComponents parts = rig.Pipeline->Components();
  if (!continuous) parts.Second = {};
  TPlaybackController ctl(rig.Table, parts, rig.Host);
  double cpu = 0;
  for (auto _ : state) {
    rig.Host.Messages.clear();
    rig.Table.SetCurrentRow(0);
    const double c0 = CpuMs();
    ctl.miPlayClick();
    PumpUntil([&] { return rig.Host.Shown(kNothingToPlay, false); }, std::chrono::minutes(30));
    cpu += CpuMs() - c0;
  }
  ctl.StopAudioOut();
  state.counters["cpu_ms_per_s"] = cpu / static_cast<double>(state.iterations()) / Seconds();
}

}  // namespace

BENCHMARK(BM_SeekToNewFrame)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AlbumCpu)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  SetUiThread();
  FrameworkStartup();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  FrameworkShutdown();
  return 0;
}
