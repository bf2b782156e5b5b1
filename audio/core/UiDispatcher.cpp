#include "audio/core/UiDispatcher.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace lirvo {

namespace {

struct SyncCall {
  const std::function<void()>* call;
  std::exception_ptr error;
  bool done = false;
};

struct Dispatcher {
  std::mutex mutex;                // guards everything below
  std::condition_variable queued;  // a call was queued (UI side waits)
  std::condition_variable ran;     // a call finished (workers wait)
  std::deque<SyncCall*> calls;
  std::function<void()> wake;
  std::thread::id uiThread;
  bool uiThreadSet = false;
};

Dispatcher& D() {
  static Dispatcher d;
  return d;
}

std::thread::id UiThreadId() {
  Dispatcher& d = D();
  std::lock_guard<std::mutex> lock(d.mutex);
  if (!d.uiThreadSet) {
    d.uiThread = std::this_thread::get_id();
    d.uiThreadSet = true;
  }
  return d.uiThread;
}

}  // namespace

void SetUiThread() {
  Dispatcher& d = D();
  std::lock_guard<std::mutex> lock(d.mutex);
  d.uiThread = std::this_thread::get_id();
  d.uiThreadSet = true;
}

bool IsUiThread() {
  return UiThreadId() == std::this_thread::get_id();
}

void SetWakeMainThread(std::function<void()> wake) {
  Dispatcher& d = D();
  std::lock_guard<std::mutex> lock(d.mutex);
  d.wake = std::move(wake);
}

void Synchronize(const std::function<void()>& Call) {
  if (IsUiThread()) {
    Call();
    return;
  }
  Dispatcher& d = D();
  SyncCall item{&Call, nullptr, false};
  std::function<void()> wake;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.calls.push_back(&item);
    wake = d.wake;
  }
  d.queued.notify_all();
  if (wake) wake();
  std::unique_lock<std::mutex> lock(d.mutex);
  d.ran.wait(lock, [&] { return item.done; });
  if (item.error) std::rethrow_exception(item.error);
}

namespace {

// Runs the queued calls; the lock is held on entry and on return.
bool RunQueued(Dispatcher& d, std::unique_lock<std::mutex>& lock) {
  bool any = false;
  while (!d.calls.empty()) {
    SyncCall* item = d.calls.front();
    d.calls.pop_front();
    lock.unlock();
    std::exception_ptr error;
    try {
      (*item->call)();
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    item->error = error;
    item->done = true;
    any = true;
    d.ran.notify_all();
  }
  return any;
}

}  // namespace

bool CheckSynchronize(std::chrono::milliseconds Timeout) {
  Dispatcher& d = D();
  std::unique_lock<std::mutex> lock(d.mutex);
  if (d.calls.empty() && Timeout.count() > 0)
    d.queued.wait_for(lock, Timeout, [&] { return !d.calls.empty(); });
  return RunQueued(d, lock);
}

bool ServeUntil(const std::function<bool()>& Done, std::chrono::milliseconds Timeout) {
  Dispatcher& d = D();
  const auto deadline = std::chrono::steady_clock::now() + Timeout;
  std::unique_lock<std::mutex> lock(d.mutex);
  for (;;) {
    RunQueued(d, lock);
    if (Done()) return true;
    if (!d.queued.wait_until(lock, deadline, [&] { return !d.calls.empty() || Done(); }))
      return false;
  }
}

void WakeUiWaiters() {
  Dispatcher& d = D();
  {
    // Taking the lock orders the waker's change before the waiter's next look.
    std::lock_guard<std::mutex> lock(d.mutex);
  }
  d.queued.notify_all();
}

size_t PendingSyncCalls() {
  Dispatcher& d = D();
  std::lock_guard<std::mutex> lock(d.mutex);
  return d.calls.size();
}

}  // namespace lirvo
