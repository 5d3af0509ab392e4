// The worker's thread creation of the test build that meets a system short of
// threads: it fails, as CreateThread does when no thread can be made. Linked
// ahead of the edge library, so the program's own CreateWorkerThread is not.
#include "shell/setup_window_win.h"

HANDLE CreateWorkerThread(LPTHREAD_START_ROUTINE, void*) { return nullptr; }
