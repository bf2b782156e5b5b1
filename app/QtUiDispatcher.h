#pragma once
// Connects the audio core's synchronous calls to the Qt event loop.
//
// While an instance lives, the constructing thread is the UI thread and every
// call a worker queues with lirvo::Synchronize wakes the event loop, which runs
// lirvo::CheckSynchronize on the main thread. Create it on the main thread
// after the QApplication and keep it until every component that may call
// Synchronize is gone.

#include <memory>

class TQtUiDispatcher {
 public:
  TQtUiDispatcher();
  ~TQtUiDispatcher();
  TQtUiDispatcher(const TQtUiDispatcher&) = delete;
  TQtUiDispatcher& operator=(const TQtUiDispatcher&) = delete;

  struct THookState;

 private:
  std::shared_ptr<THookState> FHook;
};
