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

}  // namespace lirvo
