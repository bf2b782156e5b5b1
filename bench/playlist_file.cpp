// Saving and loading a playlist of 100,000 rows, as the player does when it
// closes and starts: the atomic save (text built in memory, written to a
// temporary file, flushed to disk, renamed) and the load (read, parse, check
// that each row's file exists, renumber). The rows carry realistic text:
// Chinese and Latin titles, albums and artists, folder paths of about 60
// characters, track numbers and durations. The rows point at 1,000 real
// files, so the existence checks hit the file system.
//
// The text-only variants show how much of each is the format itself.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/logic/playlist/PlaylistFile.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRows = 100000;
constexpr int kFiles = 1000;

const fs::path& BenchDir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("lirvo_bench_playlist_" + std::to_string(getpid()));
    fs::create_directories(d / "music");
    for (int i = 0; i < kFiles; ++i) {
      std::ofstream(d / "music" / ("专辑 " + std::to_string(i) + ".flac")) << "x";
    }
    return d;
  }();
  return dir;
}

lirvo::TPlaylistTable& BigTable() {
  static lirvo::TPlaylistTable table;
  if (table.IsEmpty()) {
    const std::string music = (BenchDir() / "music").string();
    for (int i = 0; i < kRows; ++i) {
      lirvo::PlaylistRecord r;
      r.ID = static_cast<int32_t>(table.NextAudioID());
      r.Filename = music + "/专辑 " + std::to_string(i % kFiles) + ".flac";
      r.Track = i % 20 + 1;
      r.Title = i % 2 ? "第" + std::to_string(i) + "首 春江花月夜"
                      : "Track, \"No.\" " + std::to_string(i);
      r.Album = "Album " + std::to_string(i / 12) + " 100% live";
      if (i % 7) r.Artist = "演奏家 " + std::to_string(i % 300);
      r.Time = 120 + i % 400;
      table.Append(std::move(r));
    }
  }
  return table;
}

std::string PlaylistPath() {
  return (BenchDir() / "lirvo.xpl").string();
}

void BM_SavePlaylistFile(benchmark::State& state) {
  const lirvo::TPlaylistTable& table = BigTable();
  for (auto _ : state)
    lirvo::SavePlaylistFile(PlaylistPath(), table);
  state.counters["rows"] = kRows;
  state.counters["bytes"] = static_cast<double>(fs::file_size(PlaylistPath()));
}
BENCHMARK(BM_SavePlaylistFile)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_LoadPlaylistFile(benchmark::State& state) {
  lirvo::SavePlaylistFile(PlaylistPath(), BigTable());
  lirvo::TPlaylistTable loaded;
  for (auto _ : state) {
    const lirvo::TPlaylistLoadOutcome outcome = lirvo::LoadPlaylistFile(PlaylistPath(), loaded);
    if (outcome.Result != lirvo::TPlaylistLoadResult::plrLoaded || loaded.RowCount() != kRows) {
      state.SkipWithError("the playlist did not load whole");
      break;
    }
  }
  state.counters["rows"] = loaded.RowCount();
}
BENCHMARK(BM_LoadPlaylistFile)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_PlaylistToText(benchmark::State& state) {
  const lirvo::TPlaylistTable& table = BigTable();
  for (auto _ : state)
    benchmark::DoNotOptimize(lirvo::PlaylistToText(table));
}
BENCHMARK(BM_PlaylistToText)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ParsePlaylistText(benchmark::State& state) {
  const std::string text = lirvo::PlaylistToText(BigTable());
  for (auto _ : state)
    benchmark::DoNotOptimize(lirvo::ParsePlaylistText(text));
}
BENCHMARK(BM_ParsePlaylistText)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(BenchDir(), ec);
  return 0;
}
