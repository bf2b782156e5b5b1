#pragma once
// The playing track's time as the window shows it: "1:23 / 4:56", with hours
// once a time reaches one ("1:02:03 / 1:10:00"), and the elapsed time alone
// when the length is unknown.

#include <cstdint>
#include <string>

namespace lirvo {

class TAuOutput;

// Elapsed and total whole seconds; a negative total is unknown.
std::string FormatTrackTime(int64_t ElapsedSeconds, int64_t TotalSeconds);

// The time of Out's current run from what its input has delivered (the
// output's ring, a fraction of a second, is not subtracted): empty when Out
// is idle or its input has no format. Elapsed seconds are whole seconds
// passed, never rounded up; the total is the input's length.
std::string TrackTimeOf(TAuOutput* Out);

}  // namespace lirvo
