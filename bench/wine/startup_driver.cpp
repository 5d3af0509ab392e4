// Starts a program N times and measures, for each start, the time from
// CreateProcessW until a visible top-level window of the given class exists;
// then ends the program. Prints each time and the median, in milliseconds.
// Usage: startup_driver RUNS WINDOW_CLASS PROGRAM
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

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    fwprintf(stderr, L"usage: startup_driver RUNS WINDOW_CLASS PROGRAM\n");
    return 2;
  }
  const int runs = _wtoi(argv[1]);
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    double elapsed = TimeOneStart(argv[2], argv[3]);
    if (elapsed < 0) {
      fwprintf(stderr, L"start %d: no visible window of class %ls\n", i + 1, argv[2]);
      return 1;
    }
    times.push_back(elapsed);
    wprintf(L"run %d: %.2f ms\n", i + 1, elapsed);
  }
  std::sort(times.begin(), times.end());
  const double median = runs % 2 ? times[runs / 2] : (times[runs / 2 - 1] + times[runs / 2]) / 2;
  wprintf(L"median: %.2f ms\n", median);
  return 0;
}
