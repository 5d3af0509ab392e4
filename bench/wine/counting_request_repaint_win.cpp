// The benchmark build's window invalidation: the repaint hook start-up sets,
// which invalidates like the program's own and counts. At exit the count goes
// to the file named by ZORVA_BENCH_REPAINTS. Linked ahead of the edge
// library, so the program's own definition is not.
#include <windows.h>

#include <atomic>
#include <cstdio>

#include "shell/setup_window_win.h"
#include "state/setup_state.h"

namespace {

std::atomic<int> repaintRequests{0};

struct CountReporter {
  ~CountReporter() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"ZORVA_BENCH_REPAINTS", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    if (FILE* file = _wfopen(path, L"w")) {
      fprintf(file, "%d\n", repaintRequests.load());
      fclose(file);
    }
  }
} countReporter;

}  // namespace

void InvalidateSetupWindow() {
  repaintRequests.fetch_add(1);
  InvalidateRect(SetupWindow(), nullptr, TRUE);
}
