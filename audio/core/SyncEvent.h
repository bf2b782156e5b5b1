#pragma once
// An auto-reset event: Signal wakes one waiter (or the next Wait if nobody
// waits), after which the event is non-signalled again.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace lirvo {

class TAutoResetEvent {
 public:
  void Signal() {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FSignalled = true;
    }
    FCond.notify_one();
  }
  void ResetEvent() {
    std::lock_guard<std::mutex> lock(FMutex);
    FSignalled = false;
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(FMutex);
    FCond.wait(lock, [this] { return FSignalled; });
    FSignalled = false;
  }
  // Returns true when signalled, false on time-out.
  bool WaitFor(std::chrono::milliseconds Timeout) {
    std::unique_lock<std::mutex> lock(FMutex);
    if (!FCond.wait_for(lock, Timeout, [this] { return FSignalled; })) return false;
    FSignalled = false;
    return true;
  }

 private:
  std::mutex FMutex;
  std::condition_variable FCond;
  bool FSignalled = false;
};

}  // namespace lirvo
