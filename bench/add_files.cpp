// How fast a folder reaches the playlist: 1,000 tagged FLAC files (1 s each)
// and 200 tagged MP3 files in one folder, added synchronously (warm cache:
// one run first, then the best of three), against reading the same facts
// with the reference tools run once per file (metaflac --export-tags-to=-
// --show-total-samples --show-sample-rate for FLAC, ffprobe -show_format for
// MP3). Then the same folder through the asynchronous adder, drained by a
// stand-in UI thread: the longest time one batch held that thread is the
// stall the event loop would see.
//
//   bench_add_files            (needs sox, metaflac, ffmpeg and ffprobe)

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/logic/playlist/PlaylistAdder.h"
#include "audio/core/Pool.h"
#include "audio/core/ThreadSetup.h"
#include "common/BenchSupport.h"
#include "common/ExternalTools.h"
#include "common/TestFiles.h"

extern char** environ;

namespace {

using lirvo::test::Quote;
using lirvo::test::ReadText;

constexpr int kFlacFiles = 1000;
constexpr int kMp3Files = 200;

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point Start) {
  return std::chrono::duration<double>(Clock::now() - Start).count();
}

// Runs Args with stdout and stderr on /dev/null, without a shell; true on
// exit status 0.
bool Spawn(const std::vector<std::string>& Args) {
  std::vector<char*> argv;
  for (const std::string& a : Args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Put32BE(std::string& S, uint32_t V) {
  for (int shift = 24; shift >= 0; shift -= 8)
    S += static_cast<char>((V >> shift) & 0xFF);
}

// An ID3v2.3 tag with Latin-1 text frames.
std::string Id3v23(const std::vector<std::pair<std::string, std::string>>& Frames) {
  std::string body;
  for (const auto& [id, text] : Frames) {
    body += id;
    Put32BE(body, static_cast<uint32_t>(text.size() + 1));
    body += std::string(2, '\0');  // flags
    body += '\0';                  // encoding: Latin-1
    body += text;
  }
  std::string tag = "ID3";
  tag += '\x03';
  tag += '\0';
  tag += '\0';
  const uint32_t n = static_cast<uint32_t>(body.size());  // syncsafe size
  for (int shift = 21; shift >= 0; shift -= 7)
    tag += static_cast<char>((n >> shift) & 0x7F);
  return tag + body;
}

bool MakeFiles(const std::string& Dir) {
  // One FLAC made by sox, copied and tagged per file with metaflac (one shell
  // run for all: spawning a shell per file would dominate the set-up).
  const std::string base = Dir + "/base.flac.tmp";
  if (std::system(("sox -n -r 44100 -c 2 -b 16 -t flac " + Quote(base) +
                   " synth 1 sine 440 vol 0.2 2>/dev/null")
                      .c_str()) != 0)
    return false;
  const std::string script = Dir + "/make.sh";
  {
    std::ofstream s(script);
    s << "set -e\ncd " << Quote(Dir) << "\n";
    s << "i=0\nwhile [ $i -lt " << kFlacFiles << " ]; do\n"
      << "  f=$(printf 'flac%04d.flac' $i)\n"
      << "  cp base.flac.tmp \"$f\"\n"
      << "  metaflac --set-tag=\"TITLE=Title $i\" --set-tag=\"ARTIST=Artist $((i % 37))\" "
         "--set-tag=\"ALBUM=Album $((i % 50))\" --set-tag=\"TRACKNUMBER=$((i % 20 + 1))/20\" "
         "\"$f\"\n"
      << "  i=$((i + 1))\ndone\n";
  }
  if (std::system(("sh " + Quote(script)).c_str()) != 0) return false;
  std::filesystem::remove(script);
  std::filesystem::remove(base);

  // One MP3 encoded by ffmpeg; each copy gets its own ID3v2 tag in front.
  const std::string mp3 = Dir + "/base.mp3.tmp";
  if (std::system(("ffmpeg -v quiet -f lavfi -i sine=frequency=440:duration=1 -ac 2 -b:a 128k "
                   "-id3v2_version 0 -write_xing 0 -f mp3 -y " +
                   Quote(mp3))
                      .c_str()) != 0)
    return false;
  const std::string audio = ReadText(mp3);
  std::filesystem::remove(mp3);
  if (audio.empty()) return false;
  for (int i = 0; i < kMp3Files; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/mp3%04d.mp3", i);
    std::ofstream f(Dir + name, std::ios::binary);
    f << Id3v23({{"TIT2", "Song " + std::to_string(i)},
                 {"TPE1", "Artist " + std::to_string(i % 11)},
                 {"TALB", "Album " + std::to_string(i % 7)},
                 {"TRCK", std::to_string(i % 12 + 1) + "/12"}})
      << audio;
  }
  return true;
}

// A stand-in for the UI thread's queue.
struct TQueue {
  std::mutex Lock;
  std::deque<std::function<void()>> Calls;
  void Post(std::function<void()> F) {
    std::lock_guard<std::mutex> l(Lock);
    Calls.push_back(std::move(F));
  }
  bool Take(std::function<void()>& F) {
    std::lock_guard<std::mutex> l(Lock);
    if (Calls.empty()) return false;
    F = std::move(Calls.front());
    Calls.pop_front();
    return true;
  }
};

}  // namespace

int main() {
  using namespace lirvo;
  SetRealtimeAllowed(false);
  FrameworkStartup();
  const std::string dir = test::MakeTempDir("lirvo-bench-add");
  if (dir.empty()) return 1;
  std::printf("making %d FLAC and %d MP3 files in %s ...\n", kFlacFiles, kMp3Files, dir.c_str());
  if (!MakeFiles(dir)) {
    std::fprintf(stderr, "could not make the files (sox, metaflac, ffmpeg needed)\n");
    std::filesystem::remove_all(dir);
    return 1;
  }
  const int files = kFlacFiles + kMp3Files;

  // Synchronous add: one warm-up run, then the best of three.
  double best = 1e9;
  int rows = 0;
  for (int run = 0; run < 4; ++run) {
    TPlaylistTable table;
    const auto t0 = Clock::now();
    TPlaylistAdder(table).AddDir(dir);
    const double s = Since(t0);
    rows = table.RowCount();
    if (run > 0) best = std::min(best, s);
  }
  std::printf("synchronous add:        %d rows, %.3f s, %.0f files/s\n", rows, best, files / best);

  std::vector<std::string> names, flacs, mp3s;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().string());
  std::sort(names.begin(), names.end());
  for (const std::string& f : names)
    (f.ends_with(".flac") ? flacs : mp3s).push_back(f);

  // Each kind alone, file by file (best of three after a warm-up).
  auto addEach = [](const std::vector<std::string>& Files) {
    double b = 1e9;
    for (int run = 0; run < 4; ++run) {
      TPlaylistTable table;
      TPlaylistAdder adder(table);
      const auto t0 = Clock::now();
      for (const std::string& f : Files)
        adder.AddAudioFile(f);
      if (run > 0) b = std::min(b, Since(t0));
    }
    return b;
  };
  const double flacAdd = addEach(flacs), mp3Add = addEach(mp3s);
  std::printf("FLAC files added:       %zu, %.3f s, %.0f files/s, %.3f ms a file\n", flacs.size(),
              flacAdd, flacs.size() / flacAdd, flacAdd * 1000 / flacs.size());
  std::printf("MP3 files added:        %zu, %.3f s, %.0f files/s, %.3f ms a file\n", mp3s.size(),
              mp3Add, mp3s.size() / mp3Add, mp3Add * 1000 / mp3s.size());

  // metaflac reading every FLAC file's tags and duration in one process.
  {
    std::vector<std::string> argv = {"metaflac", "--export-tags-to=-", "--show-total-samples",
                                     "--show-sample-rate"};
    argv.insert(argv.end(), flacs.begin(), flacs.end());
    double b = 1e9;
    bool ok = true;
    for (int run = 0; run < 3; ++run) {
      const auto t0 = Clock::now();
      ok = Spawn(argv) && ok;
      b = std::min(b, Since(t0));
    }
    std::printf(
        "metaflac, one process:  %zu files, %.3f s, %.3f ms a file%s; ours/metaflac %.2fx\n",
        flacs.size(), b, b * 1000 / flacs.size(), ok ? "" : " (failed)", flacAdd / b);
  }

  // The reference tools, once per file.
  const auto t1 = Clock::now();
  int failures = 0;
  for (const std::string& f : names) {
    const bool ok = f.ends_with(".flac") ? Spawn({"metaflac", "--export-tags-to=-",
                                                  "--show-total-samples", "--show-sample-rate", f})
                                         : Spawn({"ffprobe", "-v", "quiet", "-show_format", f});
    failures += ok ? 0 : 1;
  }
  const double tools = Since(t1);
  std::printf("metaflac/ffprobe:       %zu runs, %.3f s, %.0f files/s%s\n", names.size(), tools,
              names.size() / tools, failures ? " (some runs failed)" : "");
  std::printf("ratio:                  %.1fx\n", tools / best);

  // Asynchronous add, the main thread standing in for the UI thread.
  TQueue queue;
  TPlaylistTable table;
  double longest_ms = 0;
  int batches = 0;
  const auto t2 = Clock::now();
  {
    TAsyncAdder adder(table, {dir}, [&](std::function<void()> F) { queue.Post(std::move(F)); },
                      {nullptr, nullptr});
    std::function<void()> call;
    while (!adder.Finished()) {
      if (!queue.Take(call)) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        continue;
      }
      const auto b = Clock::now();
      call();
      longest_ms = std::max(longest_ms, Since(b) * 1000);
      ++batches;
    }
  }
  const double async_s = Since(t2);
  std::printf("asynchronous add:       %d rows, %.3f s, %d batches, longest UI batch %.2f ms\n",
              table.RowCount(), async_s, batches, longest_ms);

  std::filesystem::remove_all(dir);
  FrameworkShutdown();
  return rows == files && table.RowCount() == files ? 0 : 1;
}
