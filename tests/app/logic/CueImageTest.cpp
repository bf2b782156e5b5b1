// Sample-accurate tracks through the real decoders: a generated disc image is
// cut by a sheet, and every track must deliver exactly the frames its index
// times give (a CD frame of 1/75 s is rate / 75 frames; a track ends where
// the next one or its pregap begins), no more and no fewer, taken from the
// reference PCM the image was made from.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/logic/playlist/FileKinds.h"
#include "audio/decoders/AudioFLAC.h"
#include "audio/decoders/AudioMAC.h"
#include "audio/decoders/AudioWave.h"
#include "audio/processors/AudioMisc.h"
#include "common/ExternalTools.h"
#include "common/TestFiles.h"
#include "common/TestPaths.h"

using namespace lirvo;
using namespace lirvo::test;

namespace {

// Runs a reference tool; a missing tool is a set-up fault worth saying so.
bool RunTool(const std::string& Command) {
  return std::system((Command + " >/dev/null 2>&1").c_str()) == 0;
}

// The frames a track covers, as the index times give them.
struct TrackFrames {
  int64_t first, last;  // inclusive
};

std::vector<TrackFrames> ExpectedFrames(const std::vector<TCueItem>& Items, int64_t Rate,
                                        int64_t TotalFrames) {
  // The frame a CD frame (1/75 s) falls in.
  auto frames = [Rate](int64_t Cd) { return Cd * Rate / 75; };
  std::vector<TrackFrames> out;
  for (size_t i = 0; i < Items.size(); ++i) {
    const int64_t first = frames(Items[i].BeginFrame);
    const int64_t last = i + 1 == Items.size() ? TotalFrames - 1 : frames(Items[i].EndFrame) - 1;
    out.push_back({first, last});
  }
  return out;
}

std::unique_ptr<TAuFileIn> DecoderFor(const std::string& Path) {
  switch (GetAudioFileType(Path)) {
    case aftWAV:
      return std::make_unique<TWaveIn>();
    case aftFLAC:
      return std::make_unique<TFLACIn>();
    case aftAPE:
      return std::make_unique<TMACIn>();
    default:
      return nullptr;
  }
}

// Plays every track of Cue from the image its FILE line names and checks
// each against Reference (the image's whole PCM). Returns the tracks' bytes.
std::vector<std::vector<uint8_t>> CheckTracks(const std::string& Cue,
                                              const std::vector<uint8_t>& Reference, int FrameBytes,
                                              uint32_t Ask) {
  const std::string image = GetCueAudioFileName(Cue);
  std::unique_ptr<TAuFileIn> decoder = DecoderFor(image);
  EXPECT_TRUE(decoder) << "no decoder for " << image;
  if (!decoder) return {};
  decoder->SetFileName(image);
  TCueSplitter cs;
  cs.SetCueFile(Cue);
  cs.SetInput(decoder.get());

  const int64_t total = static_cast<int64_t>(Reference.size()) / FrameBytes;
  const std::vector<TrackFrames> expected =
      ExpectedFrames(cs.Items(), decoder->SampleRate(), total);
  std::vector<std::vector<uint8_t>> tracks;
  for (size_t i = 0; i < expected.size(); ++i) {
    cs.SetCurrentItem(static_cast<uint8_t>(i));
    cs.Init();
    std::vector<uint8_t> got = ReadAll(cs, Ask);
    cs.Flush();
    const TrackFrames& e = expected[i];
    const std::vector<uint8_t> want(Reference.begin() + e.first * FrameBytes,
                                    Reference.begin() + (e.last + 1) * FrameBytes);
    EXPECT_EQ(got.size() / FrameBytes, want.size() / FrameBytes)
        << "track " << i + 1 << ": frames " << e.first << ".." << e.last;
    EXPECT_TRUE(got == want) << "track " << i + 1 << " differs from frames " << e.first << ".."
                             << e.last;
    tracks.push_back(std::move(got));
  }
  return tracks;
}

// Tracks without pregaps joined again, as they come.
std::vector<uint8_t> JoinTracks(const std::vector<std::vector<uint8_t>>& Tracks) {
  std::vector<uint8_t> joined;
  for (const std::vector<uint8_t>& t : Tracks)
    joined.insert(joined.end(), t.begin(), t.end());
  return joined;
}

struct ImageCase {
  const char* name;
  const char* ext;  // "wav" or "flac"
  int rate;
  int bits;
  bool pregaps;
};

class CueImageTest : public ::testing::TestWithParam<ImageCase> {};

TEST_P(CueImageTest, EveryTrackDeliversExactlyItsFrames) {
  const ImageCase& c = GetParam();
  const std::string dir = ScratchDir(std::string("cue_image_") + c.name);
  const std::string raw = dir + "/image.raw";
  const std::string image = dir + "/image." + c.ext;
  const std::string format = " -r " + std::to_string(c.rate) + " -b " + std::to_string(c.bits) +
                             " -c 2 -e signed-integer -L ";
  // Noise makes every frame different, so a track shifted by one frame fails.
  ASSERT_TRUE(RunTool("sox -n -t raw" + format + Quote(raw) + " synth 3.5 whitenoise vol 0.5"))
      << "sox must be installed to make the test image";
  if (std::string(c.ext) == "wav") {
    ASSERT_TRUE(RunTool("sox -t raw" + format + Quote(raw) + " " + Quote(image)));
  } else {
    ASSERT_TRUE(
        RunTool("flac -s --force-raw-format --endian=little --sign=signed --channels=2"
                " --bps=" +
                std::to_string(c.bits) + " --sample-rate=" + std::to_string(c.rate) + " -o " +
                Quote(image) + " " + Quote(raw)))
        << "flac must be installed to make the test image";
  }
  const std::vector<uint8_t> reference = ReadFileBytes(raw);
  const int frame = 2 * c.bits / 8;
  ASSERT_EQ(reference.size(), static_cast<size_t>(c.rate * 7 / 2 * frame));

  // Odd CD frame counts (17, 20 and 37 of 75) put the boundaries on frames
  // that no whole millisecond gives.
  const std::string cue = dir + "/album.cue";
  const std::string file = "FILE \"image." + std::string(c.ext) + "\" WAVE\r\n";
  if (c.pregaps) {
    WriteText(cue, file +
                       "TRACK 01 AUDIO\r\n INDEX 01 00:00:00\r\n"
                       "TRACK 02 AUDIO\r\n INDEX 00 00:01:00\r\n INDEX 01 00:01:17\r\n"
                       "TRACK 03 AUDIO\r\n INDEX 00 00:02:20\r\n INDEX 01 00:02:37\r\n");
  } else {
    WriteText(cue, file +
                       "TRACK 01 AUDIO\r\n INDEX 01 00:00:00\r\n"
                       "TRACK 02 AUDIO\r\n INDEX 01 00:01:17\r\n"
                       "TRACK 03 AUDIO\r\n INDEX 01 00:02:37\r\n");
  }
  // A request that is no whole number of frames at either width.
  const std::vector<std::vector<uint8_t>> tracks = CheckTracks(cue, reference, frame, 40001);
  ASSERT_EQ(tracks.size(), 3u);
  if (c.pregaps) return;

  // Without pregaps the tracks joined again are the image.
  EXPECT_TRUE(JoinTracks(tracks) == reference);
}

INSTANTIATE_TEST_SUITE_P(Images, CueImageTest,
                         ::testing::Values(ImageCase{"Wav44k16", "wav", 44100, 16, false},
                                           ImageCase{"Wav44k16Pregaps", "wav", 44100, 16, true},
                                           ImageCase{"Wav96k24", "wav", 96000, 24, false},
                                           ImageCase{"Wav96k24Pregaps", "wav", 96000, 24, true},
                                           ImageCase{"Flac44k16", "flac", 44100, 16, false},
                                           ImageCase{"Flac44k16Pregaps", "flac", 44100, 16, true},
                                           ImageCase{"Flac96k24", "flac", 96000, 24, false},
                                           ImageCase{"Flac96k24Pregaps", "flac", 96000, 24, true}),
                         [](const ::testing::TestParamInfo<ImageCase>& Info) {
                           return Info.param.name;
                         });

// The APE fixture cut into tracks; the reference PCM comes from FFmpeg's
// decoder, independent of ours. The FILE line names the image by an absolute
// path, as sheets written on other machines do.
TEST(CueApeImageTest, EveryTrackDeliversExactlyItsFrames) {
  const std::string dir = ScratchDir("cue_image_ape");
  const std::string fixture = FixturePath("audio/mac-399.ape");
  const std::string raw = dir + "/reference.raw";
  ASSERT_TRUE(RunTool("ffmpeg -nostdin -v error -i " + Quote(fixture) +
                      " -map 0:a:0 -f s16le -acodec pcm_s16le -y " + Quote(raw)))
      << "ffmpeg must be installed to decode the reference PCM";
  const std::vector<uint8_t> reference = ReadFileBytes(raw);
  ASSERT_EQ(reference.size(), 626224u);

  const std::string cue = dir + "/album.cue";
  WriteText(cue, "FILE \"" + fixture +
                     "\" WAVE\n"
                     "TRACK 01 AUDIO\n INDEX 01 00:00:00\n"
                     "TRACK 02 AUDIO\n INDEX 01 00:01:17\n"
                     "TRACK 03 AUDIO\n INDEX 01 00:02:37\n");
  const std::vector<std::vector<uint8_t>> tracks = CheckTracks(cue, reference, 4, 40001);
  ASSERT_EQ(tracks.size(), 3u);
  EXPECT_TRUE(JoinTracks(tracks) == reference);
}

}  // namespace
