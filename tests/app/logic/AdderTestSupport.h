#pragma once
// Helpers of the adder tests: small WAV files written byte by byte, FLAC
// files made with sox and tagged with metaflac, sheets as text.

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/TestFiles.h"

namespace lirvo::test {

// A PCM WAV file of Frames silent frames. ClaimedBytes, when not 0, is what
// the header says the data chunk holds (more than the file carries), to fake
// a very long file in a few bytes.
void WriteWav(const std::string& Path, uint32_t Rate, uint16_t Channels, uint16_t Bits,
              uint32_t Frames, uint32_t ClaimedBytes = 0);

// A silent FLAC file of Seconds seconds (8 kHz mono) with the given
// metaflac tags ("TITLE=x"). False when a tool failed.
bool MakeTaggedFlac(const std::string& Path, double Seconds, const std::vector<std::string>& Tags);

// A UI thread's queue in miniature: the worker posts, the test drains.
class TTestQueue {
 public:
  void Post(std::function<void()> Call);
  // Runs the oldest call; false when there was none.
  bool RunOne();
  size_t Size();
  // The poster to hand to an adder.
  std::function<void(std::function<void()>)> Poster();

 private:
  std::mutex FLock;
  std::deque<std::function<void()>> FCalls;
};

}  // namespace lirvo::test
