// Soak run of the shared-device engine: a healthy generated source plays
// through the read-ahead cache and TDSAudioOut (latency 100 ms, calibration
// on, as the player sets it up) on the paced "pulse" device of the test
// sound server, while another thread keeps one processor busy. Prints the
// underruns counted and the latency at the end; exits non-zero when any
// underrun was counted. The playback thread is raised to time-critical, as
// the player's main window does.
//
// Usage: bench_dsound_soak [seconds]   (default 600; needs LIRVO_TEST_PULSE=1,
// see scripts/test-servers)

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "audio/core/Pool.h"
#include "audio/core/UiDispatcher.h"
#include "audio/outputs/DSAudioOut.h"
#include "audio/processors/AudioCache.h"

namespace {

// A 440 Hz tone, 16-bit stereo at 44.1 kHz, for a given number of seconds.
class TToneSource : public lirvo::TAuInput {
 public:
  TToneSource(lirvo::TComponent* AOwner, int64_t Seconds)
      : TAuInput(AOwner), FFrames(Seconds * 44100) {}
  ~TToneSource() override { NotifyRemoval(); }

 protected:
  uint32_t GetBitsPerSample() override { return 16; }
  uint32_t GetChannels() override { return 2; }
  uint32_t GetSampleRate() override { return 44100; }
  void InitInternal() override {
    FFrame = 0;
    FSize = FFrames * 4;
    FBlock.resize(16384);
  }
  void FlushInternal() override {}
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override {
    int64_t frames = std::min<int64_t>({Bytes / 4, FFrames - FFrame, 4096});
    for (int64_t i = 0; i < frames; ++i) {
      int16_t s = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * (FFrame + i) / 44100.0));
      std::memcpy(&FBlock[i * 4], &s, 2);
      std::memcpy(&FBlock[i * 4 + 2], &s, 2);
    }
    FFrame += frames;
    Buffer = frames > 0 ? FBlock.data() : nullptr;
    Bytes = static_cast<uint32_t>(frames * 4);
  }

 private:
  int64_t FFrames;
  int64_t FFrame = 0;
  std::vector<uint8_t> FBlock;
};

}  // namespace

int main(int argc, char** argv) {
  const int64_t seconds = argc > 1 ? std::atoll(argv[1]) : 600;
  const char* pulse = std::getenv("LIRVO_TEST_PULSE");
  if (!pulse || std::string(pulse) != "1") {
    std::fprintf(stderr,
                 "needs the test sound server (source scripts/test-servers; "
                 "start_test_servers)\n");
    return 2;
  }
  lirvo::SetUiThread();
  lirvo::FrameworkStartup();
  int rc = 0;
  {
    std::atomic<bool> stopLoad{false};
    std::thread load([&] {
      volatile uint64_t x = 0;
      while (!stopLoad.load(std::memory_order_relaxed))
        for (int i = 0; i < 100000; ++i)
          x = x + 1;
    });

    lirvo::TComponent owner;
    TToneSource source(&owner, seconds);
    lirvo::TAudioCache cache(&owner);
    lirvo::TDSAudioOut out(&owner, {{"Pulse", "pulse", ""}});
    out.SetCalibrate(true);
    out.SetLatency(100);
    // As the main window does once the player is up.
    out.SetThreadPriority(lirvo::tpTimeCritical);
    std::atomic<bool> done{false};
    std::atomic<uint32_t> events{0};
    out.SetOnSyncDone([&](lirvo::TComponent*) { done = true; });
    out.SetOnUnderrun([&](lirvo::TComponent*) { ++events; });
    cache.SetInput(&source);
    out.SetInput(&cache);
    const auto t0 = std::chrono::steady_clock::now();
    out.Run();
    int64_t lastReport = 0;
    while (!done) {
      lirvo::CheckSynchronize(std::chrono::milliseconds(200));
      const int64_t s =
          std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - t0)
              .count();
      if (s - lastReport >= 60) {
        lastReport = s;
        std::printf("%4lld s: underruns %u, latency %u ms\n", static_cast<long long>(s),
                    out.Underruns(), out.Latency());
        std::fflush(stdout);
      }
    }
    // Deliver the underrun events still queued.
    lirvo::CheckSynchronize(std::chrono::milliseconds(200));
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("played %lld s of audio in %.1f s: underruns %u (events %u), latency %u ms%s%s\n",
                static_cast<long long>(seconds), elapsed, out.Underruns(), events.load(),
                out.Latency(),
                out.ExceptionMessage().empty() ? "" : ", error: ", out.ExceptionMessage().c_str());
    rc = out.Underruns() == 0 && out.ExceptionMessage().empty() ? 0 : 1;
    out.SetInput(nullptr);
    cache.SetInput(nullptr);
    stopLoad = true;
    load.join();
  }
  lirvo::FrameworkShutdown();
  return rc;
}
