// The track's time as the window shows it, and when the window is told to
// run its clock: from the first frame of a track, standing while paused,
// gone after a stop.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "app/logic/playback/TrackTime.h"
#include "tests/app/logic/PlayerTestSupport.h"

using namespace lirvo;
using namespace lirvo::test;
using namespace std::chrono_literals;

namespace {

TEST(TrackTime, MinutesAndSecondsWithHoursOnlyWhenATimeReachesOne) {
  const struct {
    int64_t Elapsed, Total;
    const char* Text;
  } cases[] = {
      {0, 0, "0:00 / 0:00"},
      {83, 296, "1:23 / 4:56"},
      {9, 61, "0:09 / 1:01"},
      {599, 3599, "9:59 / 59:59"},
      {5, 3600, "0:00:05 / 1:00:00"},
      {3723, 4200, "1:02:03 / 1:10:00"},
      {75, -1, "1:15"},
      {-3, 10, "0:00 / 0:10"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatTrackTime(c.Elapsed, c.Total), c.Text) << c.Elapsed << " of " << c.Total;
}

TEST(TrackTime, TheClockRunsWhilePlayingStandsWhilePausedAndIsClearedByStop) {
  REQUIRE_TOOL("sox");
  LIRVO_REQUIRE_PULSE();
  TPlayerRig rig("track_time", /*Paced=*/true);
  rig.AddRow(rig.Tone("a.wav", 4.0, 440), "A");
  EXPECT_EQ(rig.Ctl->TrackTimeText(), "") << "nothing plays yet";

  rig.Ctl->miPlayClick();
  ASSERT_EQ(rig.Host.Clock, (std::vector<bool>{false, true}))
      << "the stop before the start, then the start";
  // The sound server takes a moment to start the stream; then the time counts.
  EXPECT_TRUE(PumpUntil([&] { return rig.Ctl->TrackTimeText() == "0:01 / 0:04"; }, 3s))
      << rig.Ctl->TrackTimeText();

  rig.Ctl->miPauseClick();
  EXPECT_EQ(rig.Host.Clock.back(), false);
  const std::string paused = rig.Ctl->TrackTimeText();
  PumpFor(1200ms);
  EXPECT_EQ(rig.Ctl->TrackTimeText(), paused) << "a paused track's time stands";
  rig.Ctl->miPauseClick();
  EXPECT_EQ(rig.Host.Clock.back(), true);
  // The test server's null sink takes up to two seconds to run a stream
  // again once none played.
  EXPECT_TRUE(PumpUntil([&] { return rig.Ctl->TrackTimeText() == "0:02 / 0:04"; }, 6s))
      << rig.Ctl->TrackTimeText();

  rig.Ctl->miStopClick();
  EXPECT_EQ(rig.Host.Clock.back(), false);
  EXPECT_EQ(rig.Ctl->TrackTimeText(), "");
}

}  // namespace
