#pragma once
// A pattern source whose reads can be made to stall: while Stalled, a read
// waits up to StallFor (10 s by default) before it delivers, the way a
// source on a hung network share would. Release() ends every stall at once,
// so a test never leaves a thread behind inside it.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "common/TestSource.h"

namespace lirvo::test {

class TBlockingSource : public TTestSource {
 public:
  explicit TBlockingSource(TComponent* AOwner = nullptr) : TTestSource(AOwner) {}
  ~TBlockingSource() override {
    Release();
    NotifyRemoval();
  }

  std::chrono::milliseconds StallFor{10000};
  void Stall() {
    std::lock_guard<std::mutex> lock(FCS);
    FStalled = true;
  }
  // Reads that start at or past Bytes stall, as Stall() would make them.
  void StallFrom(int64_t Bytes) {
    std::lock_guard<std::mutex> lock(FCS);
    FStallFrom = Bytes;
  }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(FCS);
      FStalled = false;
      FStallFrom = -1;
    }
    FCond.notify_all();
  }
  // Reads that have started stalling so far.
  std::atomic<int> StallsEntered{0};

 protected:
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override {
    {
      std::unique_lock<std::mutex> lock(FCS);
      if (FStalled || (FStallFrom >= 0 && Position() >= FStallFrom)) {
        ++StallsEntered;
        FCond.wait_for(lock, StallFor, [this] { return !FStalled && FStallFrom < 0; });
      }
    }
    TTestSource::GetDataInternal(Buffer, Bytes);
  }

 private:
  std::mutex FCS;
  std::condition_variable FCond;
  bool FStalled = false;    // under FCS
  int64_t FStallFrom = -1;  // under FCS
};

}  // namespace lirvo::test
