// What playing costs the machine: lirvo-play against the reference players
// on the same paced device, in one run. Each player runs as a child process;
// its CPU time (user + system, with every process it started) and context
// switches are divided by the seconds of audio.
//
//   WAV:  lirvo-play --play F.wav        aplay F.wav
//   FLAC: lirvo-play --play F.flac       flac -d -c F.flac | aplay
//                                        ffmpeg -i F.flac -f alsa
//
// Needs the test sound server (source scripts/test-servers and call
// start_test_servers first: LIRVO_TEST_PULSE=1 and the ALSA device "pulse"),
// sox, flac, aplay and ffmpeg. LIRVO_BENCH_SECONDS sets the length (default
// 10 s); lirvo-play is taken from the build tree next to this program.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/BenchSupport.h"
#include "common/ExternalTools.h"

namespace {

using lirvo::test::Quote;

struct TCost {
  double CpuMsPerS = -1;
  double SwitchesPerS = -1;
  double WallS = 0;
};

double Seconds(const timeval& T) {
  return T.tv_sec + T.tv_usec / 1e6;
}

// Runs Command through the shell and returns its cost per second of audio.
TCost Measure(const std::string& Command, double AudioSeconds) {
  TCost c;
  timespec t0{}, t1{};
  clock_gettime(CLOCK_MONOTONIC, &t0);
  const pid_t pid = fork();
  if (pid < 0) return c;
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", Command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage ru{};
  if (wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return c;
  clock_gettime(CLOCK_MONOTONIC, &t1);
  c.WallS = (t1.tv_sec - t0.tv_sec) + (t1.tv_nsec - t0.tv_nsec) / 1e9;
  c.CpuMsPerS = (Seconds(ru.ru_utime) + Seconds(ru.ru_stime)) * 1000 / AudioSeconds;
  c.SwitchesPerS = static_cast<double>(ru.ru_nvcsw + ru.ru_nivcsw) / AudioSeconds;
  return c;
}

void Report(const char* Name, const TCost& C) {
  if (C.CpuMsPerS < 0) {
    std::printf("%-44s failed\n", Name);
    return;
  }
  std::printf("%-44s %6.2f ms CPU/s  %6.1f switches/s  (%.1f s wall)\n", Name, C.CpuMsPerS,
              C.SwitchesPerS, C.WallS);
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("LIRVO_TEST_PULSE")) {
    std::fprintf(stderr,
                 "bench_lirvo_play_cpu: needs the test sound server "
                 "(source scripts/test-servers; start_test_servers)\n");
    return 1;
  }
  const double seconds =
      std::getenv("LIRVO_BENCH_SECONDS") ? std::atof(std::getenv("LIRVO_BENCH_SECONDS")) : 10.0;
  const std::filesystem::path self = std::filesystem::canonical("/proc/self/exe");
  const std::string player =
      (self.parent_path().parent_path() / "tools" / "lirvo-play" / "lirvo-play").string();
  if (!std::filesystem::exists(player)) {
    std::fprintf(stderr, "bench_lirvo_play_cpu: %s not built\n", player.c_str());
    return 1;
  }
  const std::string dir = lirvo::test::MakeTempDir("lirvo-bench-play");
  if (dir.empty()) return 1;
  const std::string wav = dir + "/music.wav", flac = dir + "/music.flac";
  const std::string make = "sox -D -n -r 44100 -c 2 -b 16 -e signed-integer " + Quote(wav) +
                           " synth " + std::to_string(seconds) +
                           " sine 200-4000 pinknoise vol 0.5 2>/dev/null && flac -s -f -o " +
                           Quote(flac) + " " + Quote(wav) + " 2>/dev/null";
  if (std::system(make.c_str()) != 0) {
    std::fprintf(stderr, "bench_lirvo_play_cpu: cannot make the files (sox, flac)\n");
    std::filesystem::remove_all(dir);
    return 1;
  }
  const std::string latency = argc > 1 ? argv[1] : "100";
  std::printf("%.0f s of 44.1 kHz 16-bit stereo on the paced device \"pulse\", per audio second\n",
              seconds);
  const std::string quiet = " >/dev/null 2>&1";
  Report(("lirvo-play WAV (latency " + latency + " ms)").c_str(),
         Measure(Quote(player) + " --play " + Quote(wav) + " --device pulse --latency " + latency +
                     quiet,
                 seconds));
  Report("aplay WAV", Measure("aplay -q -D pulse " + Quote(wav) + quiet, seconds));
  Report(("lirvo-play FLAC (latency " + latency + " ms)").c_str(),
         Measure(Quote(player) + " --play " + Quote(flac) + " --device pulse --latency " + latency +
                     quiet,
                 seconds));
  Report("flac -d -c | aplay FLAC",
         Measure("flac -s -d -c " + Quote(flac) + " 2>/dev/null | aplay -q -D pulse" + quiet,
                 seconds));
  Report("ffmpeg -f alsa FLAC",
         Measure("ffmpeg -nostdin -loglevel quiet -i " + Quote(flac) + " -f alsa pulse" + quiet,
                 seconds));
  std::filesystem::remove_all(dir);
  return 0;
}
