#include "app/logic/playback/TrackTime.h"

#include <algorithm>
#include <cstdio>

#include "audio/core/AudioClasses.h"

namespace lirvo {

namespace {

std::string Clock(int64_t Seconds, bool WithHours) {
  Seconds = std::max<int64_t>(0, Seconds);
  char text[32];
  if (WithHours) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(Seconds / 3600),
                  static_cast<long long>(Seconds / 60 % 60), static_cast<long long>(Seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(Seconds / 60),
                  static_cast<long long>(Seconds % 60));
  }
  return text;
}

}  // namespace

std::string FormatTrackTime(int64_t ElapsedSeconds, int64_t TotalSeconds) {
  // Both halves in one style, so the two line up as they count.
  const bool hours = ElapsedSeconds >= 3600 || TotalSeconds >= 3600;
  if (TotalSeconds < 0) return Clock(ElapsedSeconds, hours);
  return Clock(ElapsedSeconds, hours) + " / " + Clock(TotalSeconds, hours);
}

std::string TrackTimeOf(TAuOutput* Out) {
  if (!Out || Out->Status() == tosIdle) return {};
  TAuInput* in = Out->Input();
  if (!in) return {};
  const int64_t bytesPerSecond = static_cast<int64_t>(in->BitsPerSample() / 8) * in->Channels() *
                                 static_cast<int64_t>(in->SampleRate());
  if (bytesPerSecond <= 0) return {};
  const int64_t size = in->Size();
  const int64_t total = size > 0 ? size / bytesPerSecond : -1;
  int64_t elapsed = in->Position() / bytesPerSecond;
  if (total >= 0) elapsed = std::min(elapsed, total);
  return FormatTrackTime(elapsed, total);
}

}  // namespace lirvo
