// The worker's thread creation, alone so that a test build can refuse it.
#include "shell/setup_window_win.h"

HANDLE CreateWorkerThread(LPTHREAD_START_ROUTINE body, void* inputs) {
  return CreateThread(nullptr, 0, body, inputs, 0, nullptr);
}
