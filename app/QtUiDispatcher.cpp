#include "QtUiDispatcher.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <mutex>

#include "audio/core/UiDispatcher.h"

// The wake hook runs on worker threads and may outlive this object (the core
// copies it before calling it), so it reaches the application only through
// this guarded state, which the destructor disarms.
struct TQtUiDispatcher::THookState {
  std::mutex Lock;                     // guards Target
  QCoreApplication* Target = nullptr;  // null once disarmed
};

TQtUiDispatcher::TQtUiDispatcher() : FHook(std::make_shared<THookState>()) {
  lirvo::SetUiThread();
  FHook->Target = QCoreApplication::instance();
  lirvo::SetWakeMainThread([hook = FHook] {
    std::lock_guard<std::mutex> lock(hook->Lock);
    if (!hook->Target) return;
    // Posting is thread-safe; the functor then runs on the application's
    // (main) thread from the event loop.
    QMetaObject::invokeMethod(
        hook->Target, [] { lirvo::CheckSynchronize(); }, Qt::QueuedConnection);
  });
}

TQtUiDispatcher::~TQtUiDispatcher() {
  lirvo::SetWakeMainThread(nullptr);
  std::lock_guard<std::mutex> lock(FHook->Lock);
  FHook->Target = nullptr;
}
