#pragma once
// Synchronous calls from worker threads to the UI thread.
//
// The audio core knows nothing of the GUI toolkit. A worker (the event
// thread) calls Synchronize, which queues the call, wakes the UI thread
// through the installed wake hook and waits until the UI thread has run it
// from CheckSynchronize. The application installs a hook that makes its event
// loop call CheckSynchronize; tests pump CheckSynchronize themselves.
//
// Threads: Synchronize from any thread other than the UI thread (on the UI
// thread it runs the call at once); CheckSynchronize only on the UI thread.

#include <chrono>
#include <cstddef>
#include <functional>

namespace lirvo {

// Marks the calling thread as the UI thread (the process's main thread by
// default: the first thread that calls any function of this unit).
void SetUiThread();
bool IsUiThread();

// Called (from the worker's thread) whenever a call has been queued; the
// application uses it to post "run CheckSynchronize" to its event loop.
void SetWakeMainThread(std::function<void()> wake);

// Runs Call on the UI thread and waits for it. An exception raised by the call
// is caught on the UI thread and re-raised here.
void Synchronize(const std::function<void()>& Call);

// Runs every queued call. Returns true when at least one ran. When Timeout is
// positive and nothing is queued, waits up to Timeout for a call to arrive.
bool CheckSynchronize(std::chrono::milliseconds Timeout = std::chrono::milliseconds(0));

// UI thread: runs queued calls until Done() is true or Timeout passes; true
// when Done() is. It sleeps until a call is queued or WakeUiWaiters is called,
// never on a timer, so whoever makes Done() true calls WakeUiWaiters after.
// Done runs under the dispatcher's lock: it must only read atomics.
bool ServeUntil(const std::function<bool()>& Done, std::chrono::milliseconds Timeout);
// Wakes the UI thread from ServeUntil to look at its Done again. Any thread.
void WakeUiWaiters();

// Calls queued and not yet taken by the UI thread (for tests and waits).
size_t PendingSyncCalls();

}  // namespace lirvo
