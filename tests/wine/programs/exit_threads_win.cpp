// Threads in the states a process may leave them in when its main function
// returns, and nothing else: no window, no download, none of the setup's code.
// What it shows (tests/wine/exit_threads_run.py; QEMU 7.2, Wine 8.0): QEMU's
// i386 user-mode emulation gives all threads one GDT, so when Wine reloads %fs
// after a fault a thread finds the TEB of the thread started last (`identity`:
// 2 of 2 runs). Once that thread has ended, Wine crashes ("qemu: uncaught
// target signal 11"; both traced ones after the main function returned) or
// loses its server connection: `fault older` in 6 of 12 runs, `fault newest` in none of
// 6, `return`, `idle 2`, `gone` and `terminate older` in none of 26, the
// 64-bit loader never. QEMU 8.0 gives each thread a GDT of its own: on QEMU
// 10.0.2 `fault older` ends with exit 0 and `identity` keeps the thread's ID.
//   exit_threads return     no thread but the main one
//   exit_threads idle N     N threads parked on an event that is never set
//   exit_threads gone       one parked thread, then one that starts and ends
//   exit_threads terminate older|newest
//                           two parked threads, the older or the newer ended
//                           with TerminateThread, then the other unparked
//   exit_threads fault older|newest
//                           a thread that handles a fault of its own and then
//                           parks, and a thread that ends after the fault;
//                           the faulting thread started first or last
//   exit_threads identity   a thread's ID before and after it handles a fault
//                           of its own, while a newer thread runs; prints
//                           "before=.. after=.. newest=.."
// Exits 0 from the main function in every mode.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

HANDLE unpark = CreateEventW(nullptr, TRUE, FALSE, nullptr);
HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
HANDLE running = CreateSemaphoreW(nullptr, 0, 64, nullptr);
DWORD idBefore = 0;
DWORD idAfter = 0;
volatile bool faultHandled = false;

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

DWORD WINAPI Park(void*) {
  ReleaseSemaphore(running, 1, nullptr);
  WaitForSingleObject(unpark, INFINITE);
  return 0;
}

DWORD WINAPI EndAtOnce(void*) { return 0; }

DWORD WINAPI EndOnRelease(void*) {
  ReleaseSemaphore(running, 1, nullptr);
  WaitForSingleObject(release, INFINITE);
  return 0;
}

DWORD WINAPI FaultThenPark(void*) {
  ReleaseSemaphore(running, 1, nullptr);
  WaitForSingleObject(go, INFINITE);
  __asm__ volatile("ud2");
  faultHandled = true;
  WaitForSingleObject(unpark, INFINITE);
  return 0;
}

// After the fault neither thread of `identity` makes a system call: a thread
// that runs on another's TEB would make it in that thread's system-call frame.
DWORD WINAPI FaultThenSpin(void*) {
  ReleaseSemaphore(running, 1, nullptr);
  WaitForSingleObject(go, INFINITE);
  idBefore = GetCurrentThreadId();
  __asm__ volatile("ud2");
  idAfter = GetCurrentThreadId();
  faultHandled = true;
  for (;;) __asm__ volatile("pause");
}

DWORD WINAPI Spin(void*) {
  ReleaseSemaphore(running, 1, nullptr);
  for (;;) __asm__ volatile("pause");
}

// Returns once the thread runs, so that the threads start in a known order.
HANDLE StartRunning(LPTHREAD_START_ROUTINE routine, DWORD* id = nullptr) {
  HANDLE thread = CreateThread(nullptr, 0, routine, nullptr, 0, id);
  WaitForSingleObject(running, INFINITE);
  return thread;
}

void AwaitFault() {
  SetEvent(go);
  while (!faultHandled) Sleep(10);
}

// The thread left parked is then unparked and ends by itself.
void TerminateOne(bool newest) {
  HANDLE older = StartRunning(Park);
  HANDLE newer = StartRunning(Park);
  HANDLE ended = newest ? newer : older;
  TerminateThread(ended, 0);
  WaitForSingleObject(ended, INFINITE);
  SetEvent(unpark);
  WaitForSingleObject(newest ? older : newer, 10000);
}

void FaultThenOtherEnds(bool faultingIsNewest) {
  AddVectoredExceptionHandler(1, StepOverUd2);
  HANDLE ending;
  if (faultingIsNewest) {
    ending = StartRunning(EndOnRelease);
    StartRunning(FaultThenPark);
  } else {
    StartRunning(FaultThenPark);
    ending = StartRunning(EndOnRelease);
  }
  AwaitFault();
  SetEvent(release);
  WaitForSingleObject(ending, 10000);
  Sleep(500);
}

void Identity() {
  AddVectoredExceptionHandler(1, StepOverUd2);
  StartRunning(FaultThenSpin);
  DWORD newest = 0;
  StartRunning(Spin, &newest);
  AwaitFault();
  std::printf("before=%lu after=%lu newest=%lu\n", idBefore, idAfter, newest);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const wchar_t* mode = argc > 1 ? argv[1] : L"return";
  const bool newest = argc > 2 && std::wcscmp(argv[2], L"newest") == 0;
  if (std::wcscmp(mode, L"idle") == 0) {
    for (int n = argc > 2 ? _wtoi(argv[2]) : 1; n > 0; --n) StartRunning(Park);
  } else if (std::wcscmp(mode, L"gone") == 0) {
    StartRunning(Park);
    WaitForSingleObject(CreateThread(nullptr, 0, EndAtOnce, nullptr, 0, nullptr), INFINITE);
  } else if (std::wcscmp(mode, L"terminate") == 0) {
    TerminateOne(newest);
  } else if (std::wcscmp(mode, L"fault") == 0) {
    FaultThenOtherEnds(newest);
  } else if (std::wcscmp(mode, L"identity") == 0) {
    Identity();
  }
  std::fflush(stdout);
  return 0;
}
