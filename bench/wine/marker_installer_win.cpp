// A stand-in installer for the benchmarks: on start it creates the file named
// by ZORVA_BENCH_MARKER, so the benchmark sees the moment the installer runs.
// Padded with zeros to the size under test before it is served.
#include <windows.h>

int wmain() {
  wchar_t marker[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"ZORVA_BENCH_MARKER", marker, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(file);
  }
  return 0;
}
