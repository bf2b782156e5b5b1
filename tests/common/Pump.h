#pragma once
// Test side of the UI dispatcher: the test's main thread plays the UI thread
// and runs queued synchronous calls while it waits for something.

#include <chrono>
#include <functional>

#include "audio/core/UiDispatcher.h"

namespace lirvo::test {

// Pumps the dispatcher until Done() is true or Timeout passes; returns Done().
inline bool PumpUntil(const std::function<bool()>& Done,
                      std::chrono::milliseconds Timeout = std::chrono::seconds(10)) {
  auto deadline = std::chrono::steady_clock::now() + Timeout;
  while (!Done()) {
    if (std::chrono::steady_clock::now() >= deadline) return Done();
    CheckSynchronize(std::chrono::milliseconds(2));
  }
  return true;
}

// Pumps for a fixed time (to see that something does NOT happen).
inline void PumpFor(std::chrono::milliseconds Duration) {
  auto deadline = std::chrono::steady_clock::now() + Duration;
  while (std::chrono::steady_clock::now() < deadline)
    CheckSynchronize(std::chrono::milliseconds(2));
}

}  // namespace lirvo::test
