// What playing costs the machine: lirvo-play against the reference players
// on the same devices, one after the other, in one run. Each player runs as a
// child process; its CPU time (user + system, with every process it started)
// and its voluntary context switches (wake-ups after a sleep) are divided by
// the seconds of audio. lirvo-play's threads are also sampled from /proc
// while it plays, so each thread's share shows.
//
//   shared engine (ALSA "pulse", the PulseAudio null sink):
//     WAV:  lirvo-play --engine dsound (its latency, and 500 ms: the buffer
//           aplay and mpd take), aplay, mpv, mpd
//     FLAC: the same, flac -d | aplay, ffmpeg, mpv, mpd
//   direct engine (the JACK dummy server):
//     WAV:  lirvo-play --engine asio, aplay (ALSA's jack plugin), mpv, mpd
//     FLAC: lirvo-play --engine asio, flac -d | aplay (jack plugin), mpv, mpd
//
// mpd is measured from "play" to the end of the song, so its start-up is not
// counted; the others from start to exit. A peer that is not installed is
// reported as skipped (scripts/setup --bench installs mpv and mpd).
//
// Needs the test sound servers (source scripts/test-servers and call
// start_test_servers first), sox, flac, aplay and ffmpeg. LIRVO_BENCH_SECONDS
// sets the length (default 60 s); the first argument the shared engine's
// latency in ms (default 100). lirvo-play is taken from the build tree next to
// this program. The peers run with a HOME of their own, so no user
// configuration changes what they do.

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/BenchSupport.h"
#include "common/ExternalTools.h"

namespace {

using lirvo::test::Quote;
using lirvo::test::TThreadSample;
using Clock = std::chrono::steady_clock;

constexpr auto kSampleInterval = std::chrono::milliseconds(100);
// lirvo-play's steady state is counted from here: its start-up (libraries,
// device lists, the first buffers) is over by then.
constexpr auto kStartUp = std::chrono::milliseconds(1500);

struct TCost {
  bool Ok = false;
  std::string Note;  // why it failed or was skipped; the underruns of ours
  double CpuS = 0;
  int64_t Voluntary = 0;
  int64_t Involuntary = 0;
  double WallS = 0;
  std::vector<TThreadSample> Threads;  // ours only: the last values of each thread
  // Ours: from a mark after start-up to a second before the end; mpd: play
  // to stop.
  double SteadyCpuMsPerS = -1;
  double SteadyVoluntaryPerS = -1;
  // Ours: per thread, from the mark to the last sample (-1: not measured).
  std::map<pid_t, double> SteadyThreadVoluntaryPerS;
  std::map<pid_t, double> SteadyThreadCpuMsPerS;
};

// Whole-process voluntary switches between two samples: per thread, so a
// thread that ended keeps what it did.
int64_t VoluntaryBetween(const std::map<pid_t, TThreadSample>& Before,
                         const std::map<pid_t, TThreadSample>& After) {
  int64_t n = 0;
  for (const auto& [tid, s] : After) {
    const auto b = Before.find(tid);
    n += s.Voluntary - (b == Before.end() ? 0 : b->second.Voluntary);
  }
  return n;
}

struct TRow {
  std::string Name;
  TCost Cost;
};

double Seconds(const timeval& T) {
  return static_cast<double>(T.tv_sec) + static_cast<double>(T.tv_usec) / 1e6;
}

double Since(Clock::time_point T0) {
  return std::chrono::duration<double>(Clock::now() - T0).count();
}

TCost Skipped(const std::string& Why) {
  TCost c;
  c.Note = Why;
  return c;
}

pid_t Spawn(const std::string& Command) {
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", Command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

// Runs Command through the shell and returns what it cost. With Threads the
// command must exec the measured program (the shell's pid becomes its pid),
// whose threads are then sampled while it runs.
TCost Measure(const std::string& Command, bool Threads = false) {
  TCost c;
  const Clock::time_point t0 = Clock::now();
  const pid_t pid = Spawn(Command);
  if (pid < 0) return Skipped("fork failed");
  std::optional<lirvo::test::TThreadWatch> watch;
  if (Threads) watch.emplace(pid, kSampleInterval, kStartUp);
  // Wait for the end without reaping, so the last sample still sees it.
  siginfo_t info{};
  waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
  if (watch) {
    watch->Stop();
    for (const auto& [tid, s] : watch->Last())
      c.Threads.push_back(s);
    // The steady state ends a second before the process does: its last
    // second is the drain and the release of the device (a JACK client's
    // close is a few round trips to the server), no period's work.
    const auto mark = watch->Mark(), last = watch->PointBefore(watch->LastPoint().AtS - 1.0);
    if (mark.AtS >= 0 && last.AtS > mark.AtS + 0.5) {
      const double span = last.AtS - mark.AtS;
      c.SteadyCpuMsPerS = (last.ProcessCpuS - mark.ProcessCpuS) * 1000 / span;
      c.SteadyVoluntaryPerS =
          static_cast<double>(VoluntaryBetween(mark.Threads, last.Threads)) / span;
      for (const auto& [tid, t] : last.Threads) {
        const auto b = mark.Threads.find(tid);
        const int64_t v0 = b == mark.Threads.end() ? 0 : b->second.Voluntary;
        const double c0 = b == mark.Threads.end() ? 0 : b->second.CpuSeconds;
        c.SteadyThreadVoluntaryPerS[tid] = static_cast<double>(t.Voluntary - v0) / span;
        c.SteadyThreadCpuMsPerS[tid] = (t.CpuSeconds - c0) * 1000 / span;
      }
    }
  }
  int status = 0;
  rusage ru{};
  if (wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    c.Note = "failed (exit " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
    return c;
  }
  c.Ok = true;
  c.WallS = Since(t0);
  c.CpuS = Seconds(ru.ru_utime) + Seconds(ru.ru_stime);
  c.Voluntary = ru.ru_nvcsw;
  c.Involuntary = ru.ru_nivcsw;
  return c;
}

// "end of track, underruns N" from lirvo-play's log.
std::string Underruns(const std::string& Log) {
  std::ifstream in(Log);
  std::string line, last;
  while (std::getline(in, line))
    if (line.find("underruns") != std::string::npos) last = line;
  const size_t at = last.rfind("underruns");
  return at == std::string::npos ? "" : last.substr(at);
}

// --- mpd, driven over its unix socket with the text protocol ---------------

class TMpdClient {
 public:
  explicit TMpdClient(const std::string& Socket) {
    FFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (FFd < 0 || Socket.size() >= sizeof(addr.sun_path)) return;
    std::memcpy(addr.sun_path, Socket.c_str(), Socket.size() + 1);
    if (connect(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
      close(FFd);
      FFd = -1;
    }
  }
  ~TMpdClient() {
    if (FFd >= 0) close(FFd);
  }
  TMpdClient(const TMpdClient&) = delete;
  TMpdClient& operator=(const TMpdClient&) = delete;

  bool Connected() const { return FFd >= 0; }

  // The greeting: "OK MPD x.y.z".
  bool Hello(int TimeoutMs) {
    std::string line;
    return ReadLine(line, TimeoutMs) && line.rfind("OK MPD", 0) == 0;
  }

  // Sends one command and collects its answer up to "OK"; false on "ACK",
  // a closed socket or no answer within TimeoutMs.
  bool Command(const std::string& Text, std::vector<std::string>& Answer, int TimeoutMs) {
    Answer.clear();
    const std::string line = Text + "\n";
    if (send(FFd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size()))
      return false;
    std::string reply;
    while (ReadLine(reply, TimeoutMs)) {
      if (reply == "OK") return true;
      if (reply.rfind("ACK", 0) == 0) {
        Answer.push_back(reply);
        return false;
      }
      Answer.push_back(reply);
    }
    return false;
  }

 private:
  bool ReadLine(std::string& Line, int TimeoutMs) {
    for (;;) {
      const size_t nl = FBuffer.find('\n');
      if (nl != std::string::npos) {
        Line = FBuffer.substr(0, nl);
        FBuffer.erase(0, nl + 1);
        return true;
      }
      pollfd p{FFd, POLLIN, 0};
      if (poll(&p, 1, TimeoutMs) != 1) return false;
      char buf[4096];
      const ssize_t n = recv(FFd, buf, sizeof(buf), 0);
      if (n <= 0) return false;
      FBuffer.append(buf, static_cast<size_t>(n));
    }
  }

  int FFd = -1;
  std::string FBuffer;
};

std::string MpdQuote(const std::string& S) {
  std::string q = "\"";
  for (char c : S) {
    if (c == '"' || c == '\\') q += '\\';
    q += c;
  }
  return q + "\"";
}

// Plays File once through an mpd with the given audio_output block and
// returns what the play cost from "play" to the end of the song.
TCost MeasureMpd(const std::string& Dir, const std::string& Output, const std::string& File,
                 double AudioSeconds) {
  if (!lirvo::test::HaveTool("mpd")) return Skipped("skipped: mpd not installed");
  static int run = 0;
  const std::string home = Dir + "/mpd" + std::to_string(++run);
  std::filesystem::create_directories(home);
  const std::string socketPath = home + "/socket", conf = home + "/mpd.conf";
  {
    std::ofstream out(conf);
    out << "log_file " << MpdQuote(home + "/log") << "\n"
        << "bind_to_address " << MpdQuote(socketPath) << "\n"
        << "zeroconf_enabled \"no\"\n"
        << "audio_output {\n"
        << Output << "}\n";
  }
  const pid_t pid =
      Spawn("exec mpd --no-daemon " + Quote(conf) + " >" + Quote(home + "/stderr") + " 2>&1");
  if (pid < 0) return Skipped("fork failed");
  auto end = [&](TCost C) {
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    return C;
  };
  // Start-up is not measured: wait for the socket.
  const Clock::time_point started = Clock::now();
  while (!std::filesystem::exists(socketPath) && Since(started) < 10) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return Skipped("failed: mpd exited (see its log)");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  TMpdClient mpd(socketPath);
  std::vector<std::string> answer;
  if (!mpd.Connected() || !mpd.Hello(5000)) return end(Skipped("failed: no mpd on its socket"));
  if (!mpd.Command("add " + MpdQuote("file://" + File), answer, 5000))
    return end(Skipped("failed: mpd add: " + (answer.empty() ? "" : answer.back())));

  lirvo::test::TThreadWatch watch(pid, kSampleInterval);
  const std::map<pid_t, TThreadSample> before = watch.Last();
  const double cpu0 = lirvo::test::ProcessCpuSeconds(pid);
  const Clock::time_point t0 = Clock::now();
  if (!mpd.Command("play", answer, 5000)) return end(Skipped("failed: mpd play"));
  // "idle player" answers when the player's state changed: no polling.
  const int limitMs = static_cast<int>(AudioSeconds * 3000) + 10000;
  bool stopped = false;
  while (!stopped && Since(t0) * 1000 < limitMs) {
    if (!mpd.Command("status", answer, 5000)) break;
    for (const std::string& a : answer)
      if (a == "state: stop") stopped = true;
    if (!stopped && !mpd.Command("idle player", answer, limitMs)) break;
  }
  if (!stopped) return end(Skipped("failed: mpd did not finish the song"));
  TCost c;
  c.WallS = Since(t0);
  c.CpuS = lirvo::test::ProcessCpuSeconds(pid) - cpu0;
  watch.Stop();
  c.Voluntary = VoluntaryBetween(before, watch.Last());
  for (const auto& [tid, s] : watch.Last()) {
    const auto b = before.find(tid);
    c.Involuntary += s.Involuntary - (b == before.end() ? 0 : b->second.Involuntary);
  }
  c.Ok = c.CpuS >= 0;
  c.SteadyCpuMsPerS = c.CpuS * 1000 / c.WallS;
  c.SteadyVoluntaryPerS = static_cast<double>(c.Voluntary) / c.WallS;
  return end(c);
}

// --- the JACK server's period ----------------------------------------------

struct TJackPeriod {
  int Frames = 0;
  int Rate = 0;
  std::string Source;
};

int FirstNumber(const std::string& Text) {
  std::smatch m;
  return std::regex_search(Text, m, std::regex("[0-9]+")) ? std::atoi(m.str().c_str()) : 0;
}

TJackPeriod JackPeriod() {
  TJackPeriod p;
  auto text = [](const std::string& Command) {
    const std::vector<uint8_t> out = lirvo::test::RunCapture(Command + " 2>/dev/null");
    return std::string(out.begin(), out.end());
  };
  if (lirvo::test::HaveTool("jack_bufsize") && lirvo::test::HaveTool("jack_samplerate")) {
    p.Frames = FirstNumber(text("jack_bufsize"));
    p.Rate = FirstNumber(text("jack_samplerate"));
    p.Source = "jack_bufsize, jack_samplerate";
  }
  if (p.Frames <= 0 || p.Rate <= 0) {
    // The settings the test servers start JACK with.
    std::ifstream in(std::string(LIRVO_TESTS_SOURCE_DIR) + "/../scripts/test-servers");
    std::stringstream all;
    all << in.rdbuf();
    const std::string s = all.str();
    std::smatch m;
    if (std::regex_search(s, m, std::regex("-d dummy -r ([0-9]+) -p ([0-9]+)"))) {
      p.Rate = std::atoi(m[1].str().c_str());
      p.Frames = std::atoi(m[2].str().c_str());
      p.Source = "scripts/test-servers";
    }
  }
  return p;
}

// --- the report ----------------------------------------------------------------

void PrintTable(const std::string& Title, const std::vector<TRow>& Rows, double AudioSeconds,
                const TJackPeriod* Jack) {
  std::printf("\n== %s ==\n", Title.c_str());
  std::printf("%-34s %10s %10s %10s %7s %17s\n", "player", "CPU ms/s", "vol sw/s", "invol sw/s",
              "wall s", "steady CPU / vol");
  for (const TRow& r : Rows) {
    if (!r.Cost.Ok) {
      std::printf("%-34s %s\n", r.Name.c_str(), r.Cost.Note.c_str());
      continue;
    }
    std::printf("%-34s %10.2f %10.1f %10.1f %7.1f", r.Name.c_str(),
                r.Cost.CpuS * 1000 / AudioSeconds, r.Cost.Voluntary / AudioSeconds,
                r.Cost.Involuntary / AudioSeconds, r.Cost.WallS);
    if (r.Cost.SteadyCpuMsPerS >= 0)
      std::printf(" %8.2f / %6.1f", r.Cost.SteadyCpuMsPerS, r.Cost.SteadyVoluntaryPerS);
    else
      std::printf(" %17s", "");
    std::printf("  %s\n", r.Cost.Note.c_str());
    const double periodsPerS =
        Jack && Jack->Frames > 0 ? static_cast<double>(Jack->Rate) / Jack->Frames : 0;
    int order = 0;
    for (const TThreadSample& t : r.Cost.Threads) {
      ++order;
      const double wakeups = t.Voluntary / AudioSeconds;
      std::printf("  thread #%-2d %-15.15s tid %-7d %10.2f %10.1f %10.1f", order, t.Comm.c_str(),
                  static_cast<int>(t.Tid), t.CpuSeconds * 1000 / AudioSeconds, wakeups,
                  t.Involuntary / AudioSeconds);
      // Steady: without the start-up (a JACK client's set-up is a few dozen
      // round trips to the server, each one a sleep).
      const auto sv = r.Cost.SteadyThreadVoluntaryPerS.find(t.Tid);
      const auto sc = r.Cost.SteadyThreadCpuMsPerS.find(t.Tid);
      const bool steady =
          sv != r.Cost.SteadyThreadVoluntaryPerS.end() && sc != r.Cost.SteadyThreadCpuMsPerS.end();
      if (steady)
        std::printf(" %8.2f / %6.1f", sc->second, sv->second);
      else
        std::printf(" %17s", "");
      if (periodsPerS > 0) {
        std::printf("  %5.2f wake-ups/period", wakeups / periodsPerS);
        if (steady) std::printf(" (steady %5.2f)", sv->second / periodsPerS);
      }
      std::printf("\n");
    }
  }
}

const TCost* Find(const std::vector<TRow>& Rows, const std::string& Prefix) {
  for (const TRow& r : Rows)
    if (r.Name.rfind(Prefix, 0) == 0 && r.Cost.Ok) return &r.Cost;
  return nullptr;
}

enum class TFigure { Cpu, Voluntary, SteadyCpu };

void PrintRatio(const std::string& What, const TCost* Ours, const TCost* Peer, TFigure Figure,
                double Goal) {
  if (!Ours || !Peer) {
    std::printf("  %-58s n/a (a run failed or was skipped)\n", What.c_str());
    return;
  }
  auto figure = [Figure](const TCost& C) {
    switch (Figure) {
      case TFigure::Cpu:
        return C.CpuS;
      case TFigure::Voluntary:
        return static_cast<double>(C.Voluntary);
      case TFigure::SteadyCpu:
        return C.SteadyCpuMsPerS;
    }
    return -1.0;
  };
  const double a = figure(*Ours), b = figure(*Peer);
  if (a < 0 || b <= 0) {
    std::printf("  %-58s n/a (no figure)\n", What.c_str());
    return;
  }
  std::printf("  %-58s %6.2f  (goal <= %.2f: %s)\n", What.c_str(), a / b, Goal,
              a / b <= Goal ? "met" : "not met");
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("LIRVO_TEST_PULSE")) {
    std::fprintf(stderr,
                 "bench_lirvo_play_cpu: needs the test sound servers "
                 "(source scripts/test-servers; start_test_servers)\n");
    return 1;
  }
  const char* jackServer = std::getenv("LIRVO_TEST_JACK_SERVER");
  const double seconds =
      std::getenv("LIRVO_BENCH_SECONDS") ? std::atof(std::getenv("LIRVO_BENCH_SECONDS")) : 60.0;
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
  // Every child gets this HOME: the peers read no user configuration, and
  // ALSA finds the JACK device defined below in its .asoundrc.
  const std::string home = dir + "/home";
  std::filesystem::create_directories(home);
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
  if (jackServer) {
    // libjack's clients (lirvo-play's driver, mpv, ALSA's jack plugin) reach
    // the test server by this name.
    setenv("JACK_DEFAULT_SERVER", jackServer, 1);
    std::ofstream asoundrc(home + "/.asoundrc");
    asoundrc << "pcm.lirvojack {\n  type plug\n  slave.pcm {\n    type jack\n"
             << "    playback_ports { 0 system:playback_1 1 system:playback_2 }\n  }\n}\n";
  }

  const std::string latency = argc > 1 ? argv[1] : "100";
  const std::string quiet = " >/dev/null 2>&1";
  const bool haveMpv = lirvo::test::HaveTool("mpv");
  auto ours = [&](const std::string& File, const std::string& Engine) {
    const std::string log = dir + "/lirvo-play.log";
    TCost c = Measure("exec " + Quote(player) + " --play " + Quote(File) + " " + Engine + " >" +
                          Quote(log) + " 2>&1",
                      true);
    if (c.Ok) c.Note = Underruns(log);
    return c;
  };
  auto mpv = [&](const std::string& File, const std::string& Ao) {
    if (!haveMpv) return Skipped("skipped: mpv not installed");
    return Measure("mpv --no-config --no-video --really-quiet " + Ao + " " + Quote(File) + quiet);
  };
  const std::string mpdAlsa =
      "  type \"alsa\"\n  name \"pulse\"\n  device \"pulse\"\n"
      "  mixer_type \"none\"\n";
  const std::string mpdJack = "  type \"jack\"\n  name \"jack\"\n  server_name \"" +
                              std::string(jackServer ? jackServer : "") +
                              "\"\n  mixer_type \"none\"\n";

  std::printf(
      "%.0f s of 44.1 kHz 16-bit stereo, one player after the other, figures per audio second\n"
      "(vol sw: voluntary context switches, all threads and children; mpd from play to stop)\n",
      seconds);

  const std::string shared = "--engine dsound --device pulse --latency " + latency;
  // aplay and mpd ask the plugin for a 500 ms buffer: ours with the same
  // buffer is the like-for-like row (its default is the 100 ms above).
  const std::string peerLatency = "500";
  const std::string sharedAsPeers = "--engine dsound --device pulse --latency " + peerLatency;
  const std::string oursAsPeers = "lirvo-play (latency " + peerLatency + " ms)";
  std::vector<TRow> wavShared = {
      {"lirvo-play (latency " + latency + " ms)", ours(wav, shared)},
      {oursAsPeers, ours(wav, sharedAsPeers)},
      {"aplay", Measure("aplay -q -D pulse " + Quote(wav) + quiet)},
      {"mpv --ao=alsa", mpv(wav, "--ao=alsa --audio-device=alsa/pulse")},
      {"mpd (alsa)", MeasureMpd(dir, mpdAlsa, wav, seconds)},
  };
  PrintTable("WAV, shared engine (ALSA \"pulse\" -> PulseAudio null sink)", wavShared, seconds,
             nullptr);
  std::vector<TRow> flacShared = {
      {"lirvo-play (latency " + latency + " ms)", ours(flac, shared)},
      {oursAsPeers, ours(flac, sharedAsPeers)},
      {"flac -d | aplay",
       Measure("flac -s -d -c " + Quote(flac) + " 2>/dev/null | aplay -q -D pulse" + quiet)},
      {"ffmpeg -f alsa",
       Measure("ffmpeg -nostdin -loglevel quiet -i " + Quote(flac) + " -f alsa pulse" + quiet)},
      {"mpv --ao=alsa", mpv(flac, "--ao=alsa --audio-device=alsa/pulse")},
      {"mpd (alsa)", MeasureMpd(dir, mpdAlsa, flac, seconds)},
  };
  PrintTable("FLAC, shared engine (ALSA \"pulse\" -> PulseAudio null sink)", flacShared, seconds,
             nullptr);

  std::vector<TRow> wavJack, flacJack;
  TJackPeriod period;
  if (jackServer) {
    period = JackPeriod();
    std::printf("\nJACK server \"%s\": period %d frames at %d Hz = %.1f periods/s (from %s)\n",
                jackServer, period.Frames, period.Rate,
                period.Frames > 0 ? static_cast<double>(period.Rate) / period.Frames : 0.0,
                period.Source.c_str());
    const std::string direct = "--engine asio --device JACK";
    wavJack = {
        {"lirvo-play (JACK)", ours(wav, direct)},
        {"aplay (alsa jack plugin)", Measure("aplay -q -D lirvojack " + Quote(wav) + quiet)},
        {"mpv --ao=jack", mpv(wav, "--ao=jack")},
        {"mpd (jack)", MeasureMpd(dir, mpdJack, wav, seconds)},
    };
    PrintTable("WAV, direct engine (JACK dummy server)", wavJack, seconds, &period);
    flacJack = {
        {"lirvo-play (JACK)", ours(flac, direct)},
        {"flac -d | aplay (jack plugin)",
         Measure("flac -s -d -c " + Quote(flac) + " 2>/dev/null | aplay -q -D lirvojack" + quiet)},
        {"mpv --ao=jack", mpv(flac, "--ao=jack")},
        {"mpd (jack)", MeasureMpd(dir, mpdJack, flac, seconds)},
    };
    PrintTable("FLAC, direct engine (JACK dummy server)", flacJack, seconds, &period);
  } else {
    std::printf("\nskipped: the direct engine (no JACK test server: LIRVO_TEST_JACK_SERVER)\n");
  }

  std::printf("\nGoals (ratios of this run; reported, not asserted)\n");
  const char* oursName = "lirvo-play";
  PrintRatio("shared, FLAC: CPU lirvo-play / mpd", Find(flacShared, oursName),
             Find(flacShared, "mpd"), TFigure::Cpu, 1.0);
  PrintRatio("shared, FLAC: CPU w/o start-up lirvo-play / mpd", Find(flacShared, oursName),
             Find(flacShared, "mpd"), TFigure::SteadyCpu, 1.0);
  PrintRatio("shared, FLAC: vol switches lirvo-play / flac -d | aplay", Find(flacShared, oursName),
             Find(flacShared, "flac -d"), TFigure::Voluntary, 2.0);
  // The same with the peers' buffer size.
  PrintRatio("shared, FLAC, 500 ms: CPU lirvo-play / mpd", Find(flacShared, oursAsPeers),
             Find(flacShared, "mpd"), TFigure::Cpu, 1.0);
  PrintRatio("shared, FLAC, 500 ms: CPU w/o start-up lirvo-play / mpd",
             Find(flacShared, oursAsPeers), Find(flacShared, "mpd"), TFigure::SteadyCpu, 1.0);
  PrintRatio("shared, FLAC, 500 ms: vol switches lirvo-play / flac -d | aplay",
             Find(flacShared, oursAsPeers), Find(flacShared, "flac -d"), TFigure::Voluntary, 2.0);
  if (jackServer) {
    PrintRatio("JACK, WAV: CPU lirvo-play / mpv", Find(wavJack, oursName), Find(wavJack, "mpv"),
               TFigure::Cpu, 1.0);
    PrintRatio("JACK, FLAC: CPU lirvo-play / mpv", Find(flacJack, oursName), Find(flacJack, "mpv"),
               TFigure::Cpu, 1.0);
    // The playback thread and JACK's process thread (created by it, so of
    // the same name) are told apart by neither name nor order: the goal
    // holds when no thread wakes more than once a period in the steady
    // state (JACK's process thread wakes once a period by design). The
    // whole run adds the start-up: the client's set-up is a few dozen round
    // trips to the server, each a sleep, and no period's work.
    const double periodsPerS =
        period.Frames > 0 ? static_cast<double>(period.Rate) / period.Frames : 0;
    for (const auto* rows : {&wavJack, &flacJack}) {
      const TCost* c = Find(*rows, oursName);
      const char* kind = rows == &wavJack ? "WAV" : "FLAC";
      const std::string what =
          std::string("JACK, ") + kind + ": wake-ups per period, busiest thread, steady";
      if (!c || periodsPerS <= 0 || c->SteadyThreadVoluntaryPerS.empty()) {
        std::printf("  %-58s n/a\n", what.c_str());
        continue;
      }
      double busiest = -1, busiestWhole = 0;
      int order = 0, busiestOrder = 0;
      for (const TThreadSample& t : c->Threads) {
        ++order;
        const auto sv = c->SteadyThreadVoluntaryPerS.find(t.Tid);
        if (sv == c->SteadyThreadVoluntaryPerS.end()) continue;
        if (sv->second > busiest) {
          busiest = sv->second;
          busiestWhole = t.Voluntary / seconds;
          busiestOrder = order;
        }
      }
      const double ratio = busiest / periodsPerS;
      std::printf(
          "  %-58s %6.2f  (thread #%d, whole run %.2f; goal <= 1.00 for the playback thread: %s)\n",
          what.c_str(), ratio, busiestOrder, busiestWhole / periodsPerS,
          ratio <= 1.0 ? "met" : "not met");
    }
  }
  std::filesystem::remove_all(dir);
  return 0;
}
