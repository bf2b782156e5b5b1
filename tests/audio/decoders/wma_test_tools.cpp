// Shared helpers of the WMA/MP3 input tests: running the reference tools,
// files generated once per run, reading an input to its end.

#include "tests/audio/decoders/wma_test_tools.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include <unistd.h>

#include "common/TestPaths.h"

namespace lirvo::test {

std::vector<uint8_t> FfmpegPcm(const std::string& File, int Bits, const std::string& Extra) {
  const std::string fmt = Bits == 8 ? "u8" : Bits == 16 ? "s16le" : Bits == 24 ? "s24le" : "s32le";
  const std::string codec = Bits == 8 ? "pcm_u8" : "pcm_" + fmt;
  return RunCapture("ffmpeg -v quiet -i " + Quote(File) + " -map 0:a:0 " + Extra + " -f " + fmt +
                    " -acodec " + codec + " - 2>/dev/null");
}

std::string Ffprobe(const std::string& File, const std::string& Entry) {
  std::vector<uint8_t> out = RunCapture("ffprobe -v quiet -show_entries " + Entry +
                                        " -of default=nw=1:nk=1 " + Quote(File));
  std::string s(out.begin(), out.end());
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
    s.pop_back();
  const size_t nl = s.find('\n');
  return nl == std::string::npos ? s : s.substr(0, nl);
}

int64_t FfprobeDurationMicros(const std::string& File) {
  const std::string s = Ffprobe(File, "format=duration");
  const size_t dot = s.find('.');
  if (s.empty() || s == "N/A" || dot == std::string::npos) return -1;
  std::string frac = s.substr(dot + 1);
  frac.resize(6, '0');
  return std::stoll(s.substr(0, dot)) * 1000000 + std::stoll(frac);
}

namespace {

// Makes Path with Command (which writes to the file named last on its command
// line) unless an earlier test process made it already. The file is written
// under a temporary name and renamed into place, so test processes running
// side by side never see a half-written file.
bool MakeOnce(const std::string& Path, const std::string& Command) {
  if (std::filesystem::exists(Path)) return true;
  const std::string tmp =
      Path + ".tmp" + std::to_string(getpid()) + std::filesystem::path(Path).extension().string();
  if (std::system((Command + Quote(tmp)).c_str()) != 0) return false;
  std::error_code ec;
  std::filesystem::rename(tmp, Path, ec);
  return !ec;
}

}  // namespace

const Generated& GeneratedFiles() {
  static Generated g;
  static std::once_flag once;
  std::call_once(once, [] {
    if (!HaveTool("ffmpeg")) return;
    // Shared by the test processes of one build; the names carry the
    // generation's version, so a changed recipe makes new files.
    const std::string dir = std::string(LIRVO_TEST_TMP) + "/wma_generated_v1";
    std::filesystem::create_directories(dir);
    const std::string tags =
        " -metadata title='Generated Title' -metadata artist='Generated Artist'"
        " -metadata album='Generated Album' -metadata track=5 -metadata date=2021 ";
    const std::string tone =
        "ffmpeg -v error -y -f lavfi -i 'sine=frequency=440:sample_rate=44100:duration=20' "
        "-f lavfi -i 'sine=frequency=660:sample_rate=44100:duration=20' "
        "-filter_complex '[0][1]amerge=inputs=2' ";
    const std::string six =
        "ffmpeg -v error -y -f lavfi -i 'sine=frequency=300:sample_rate=48000:duration=4' "
        "-filter_complex '[0]asplit=6[a][b][c][d][e][f];[a][b][c][d][e][f]"
        "join=inputs=6:channel_layout=5.1' -c:a ac3 -f asf ";
    g.Mp3 = dir + "/tone.mp3";
    g.Mp3Vbr = dir + "/tone-vbr.mp3";
    g.Wma = dir + "/tone.wma";
    g.Wma51 = dir + "/six.wma";
    g.Mp3Low = dir + "/tone-24k-8k.mp3";
    g.Ok = MakeOnce(g.Mp3, tone + "-c:a libmp3lame -b:a 128k" + tags) &&
           MakeOnce(g.Mp3Vbr, tone + "-c:a libmp3lame -q:a 5" + tags) &&
           MakeOnce(g.Wma, tone + "-c:a wmav2 -b:a 128k" + tags) && MakeOnce(g.Wma51, six) &&
           MakeOnce(g.Mp3Low,
                    "ffmpeg -v error -y -f lavfi -i "
                    "'sine=frequency=440:sample_rate=24000:duration=20' -ac 1 -c:a libmp3lame "
                    "-b:a 8k ");
  });
  return g;
}

const std::string& HourLongMp3() {
  static std::string path;
  static std::once_flag once;
  std::call_once(once, [] {
    if (!HaveTool("ffmpeg")) return;
    const std::string dir = std::string(LIRVO_TEST_TMP) + "/wma_generated_v1";
    std::filesystem::create_directories(dir);
    const std::string file = dir + "/hour-24k.mp3";
    if (MakeOnce(
            file,
            "ffmpeg -v error -y -f lavfi -i 'sine=frequency=440:sample_rate=24000:duration=3600' "
            "-ac 1 -c:a libmp3lame -b:a 24k "))
      path = file;
  });
  return path;
}

}  // namespace lirvo::test
