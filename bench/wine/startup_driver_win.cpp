// Starts programs in turn, RUNS times each, and measures for each start the
// time from CreateProcessW until a visible top-level window of the program's
// class exists; then ends the program. Taking the programs in turn spreads
// cache warm-up and machine load over all of them alike. Prints every time
// and each program's median, in milliseconds.
// Usage: startup_driver RUNS WINDOW_CLASS PROGRAM [WINDOW_CLASS PROGRAM ...]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <vector>

namespace {

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool VisibleWindowOfClassExists(const wchar_t* windowClass) {
  HWND window = FindWindowW(windowClass, nullptr);
  return window != nullptr && IsWindowVisible(window);
}

// One start; returns the milliseconds to a visible window, or a negative
// value when the program ended or the window did not come within 30 s.
double TimeOneStart(const wchar_t* windowClass, const wchar_t* program) {
  wchar_t commandLine[MAX_PATH + 2];
  swprintf(commandLine, MAX_PATH + 2, L"\"%ls\"", program);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  LARGE_INTEGER start, now;
  QueryPerformanceCounter(&start);
  if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return -1;
  double elapsed = -1;
  for (;;) {
    if (VisibleWindowOfClassExists(windowClass)) {
      QueryPerformanceCounter(&now);
      elapsed = Milliseconds(start, now);
      break;
    }
    QueryPerformanceCounter(&now);
    if (Milliseconds(start, now) > 30000 || WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0)
      break;
    SwitchToThread();
  }
  TerminateProcess(process.hProcess, 0);
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // Let the window's destruction reach every process before the next start.
  while (FindWindowW(windowClass, nullptr) != nullptr) Sleep(1);
  return elapsed;
}

}  // namespace

double Median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  const size_t n = times.size();
  return n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
}

int wmain(int argc, wchar_t** argv) {
  const int runs = argc > 1 ? _wtoi(argv[1]) : 0;
  if (argc < 4 || argc % 2 != 0 || runs < 1) {
    fwprintf(stderr, L"usage: startup_driver RUNS WINDOW_CLASS PROGRAM [WINDOW_CLASS PROGRAM ...]\n");
    return 2;
  }
  const int programs = (argc - 2) / 2;
  std::vector<std::vector<double>> times(programs);
  for (int run = 1; run <= runs; ++run) {
    for (int p = 0; p < programs; ++p) {
      const wchar_t* windowClass = argv[2 + 2 * p];
      const wchar_t* program = argv[3 + 2 * p];
      const double elapsed = TimeOneStart(windowClass, program);
      if (elapsed < 0) {
        fwprintf(stderr, L"%ls, start %d: no visible window of class %ls\n", program, run, windowClass);
        return 1;
      }
      times[p].push_back(elapsed);
      wprintf(L"%ls, run %d: %.2f ms\n", windowClass, run, elapsed);
    }
  }
  for (int p = 0; p < programs; ++p)
    wprintf(L"median %ls: %.2f ms\n", argv[2 + 2 * p], Median(times[p]));
  return 0;
}
