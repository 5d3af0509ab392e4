// Threads in the states a process may leave them in when its main function
// returns, and nothing else: no window, no download, none of the setup's code.
//   exit_threads return     no thread but the main one
//   exit_threads idle N     N threads parked on an event that is never set
//   exit_threads gone       one parked thread, then one that starts and ends
//   exit_threads identity   a thread's ID before and after it handles a fault
//                           of its own, while a newer thread runs; prints
//                           "before=.. after=.. newest=.."
// Exits 0 from the main function in every mode.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
HANDLE parked = CreateSemaphoreW(nullptr, 0, 64, nullptr);
DWORD idBefore = 0;
DWORD idAfter = 0;

DWORD WINAPI Park(void*) {
  ReleaseSemaphore(parked, 1, nullptr);
  WaitForSingleObject(never, INFINITE);
  return 0;
}

DWORD WINAPI EndAtOnce(void*) { return 0; }

// ud2 is two bytes long: step over it and go on.
LONG CALLBACK StepOverUd2(EXCEPTION_POINTERS* pointers) {
  if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_ILLEGAL_INSTRUCTION) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
#ifdef _WIN64
  pointers->ContextRecord->Rip += 2;
#else
  pointers->ContextRecord->Eip += 2;
#endif
  return EXCEPTION_CONTINUE_EXECUTION;
}

// After the fault neither thread makes a system call until the IDs are
// printed: a thread that runs on another's TEB would do so in that thread's
// system-call frame.
volatile bool faultingRuns = false;
volatile bool newestRuns = false;
volatile bool reported = false;

DWORD WINAPI FaultOnGo(void*) {
  faultingRuns = true;
  WaitForSingleObject(go, INFINITE);
  idBefore = GetCurrentThreadId();
  __asm__ volatile("ud2");
  idAfter = GetCurrentThreadId();
  reported = true;
  for (;;) __asm__ volatile("pause");
}

DWORD WINAPI Spin(void*) {
  newestRuns = true;
  for (;;) __asm__ volatile("pause");
}

HANDLE Start(LPTHREAD_START_ROUTINE routine, DWORD* id = nullptr) {
  return CreateThread(nullptr, 0, routine, nullptr, 0, id);
}

// Returns once the thread runs, so that it is parked when the main function returns.
void StartParked(DWORD* id = nullptr) {
  Start(Park, id);
  WaitForSingleObject(parked, INFINITE);
}

void Identity() {
  AddVectoredExceptionHandler(1, StepOverUd2);
  Start(FaultOnGo);
  while (!faultingRuns) Sleep(10);
  DWORD newest = 0;
  Start(Spin, &newest);
  while (!newestRuns) Sleep(10);
  SetEvent(go);
  while (!reported) Sleep(10);
  std::printf("before=%lu after=%lu newest=%lu\n", idBefore, idAfter, newest);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const wchar_t* mode = argc > 1 ? argv[1] : L"return";
  if (std::wcscmp(mode, L"idle") == 0) {
    for (int n = argc > 2 ? _wtoi(argv[2]) : 1; n > 0; --n) StartParked();
  } else if (std::wcscmp(mode, L"gone") == 0) {
    StartParked();
    WaitForSingleObject(Start(EndAtOnce), INFINITE);
  } else if (std::wcscmp(mode, L"identity") == 0) {
    Identity();
  }
  std::fflush(stdout);
  return 0;
}
