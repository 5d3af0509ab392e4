// Stands in for the system's wininet.dll (copied into a test prefix's
// system32, loaded with WINEDLLOVERRIDES=wininet=n) to script outcomes that a
// real server cannot produce. ZORVA_SCRIPTED_DOWNLOAD picks one; every
// request prints the URL it was given as "requested_url=..." on stdout, so a
// test sees that no fragment is sent. The scripts:
//   cert-error    the request fails as on a certificate no one vouches for
//   failing-read  the answer is a 200 of 100 bytes whose read fails as on a
//                 reset connection
//   deaf          the read never returns, whatever is closed (each close of
//                 the session prints "aborts=N")
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "probe_output_win.h"

namespace {

// wininet.h declares these functions as imports, so it is not included here.
using HINTERNET = void*;
constexpr DWORD kStatusCodeNumber = 19 | 0x20000000;  // HTTP_QUERY_STATUS_CODE | _FLAG_NUMBER
constexpr DWORD kContentLength = 5;                   // kContentLength
constexpr DWORD kInvalidCa = 12045;                   // kInvalidCa
constexpr DWORD kConnectionReset = 12031;             // ERROR_INTERNET_CONNECTION_RESET
constexpr DWORD kHeaderNotFound = 12150;              // kHeaderNotFound

bool Script(const wchar_t* name) {
  wchar_t script[32];
  DWORD length = GetEnvironmentVariableW(L"ZORVA_SCRIPTED_DOWNLOAD", script, 32);
  return length > 0 && length < 32 && std::wcscmp(script, name) == 0;
}

// Handles are distinct addresses the program never looks into.
char session, answer;
int aborts = 0;

}  // namespace

extern "C" {

__declspec(dllexport) HINTERNET WINAPI InternetOpenW(LPCWSTR, DWORD, LPCWSTR, LPCWSTR, DWORD) {
  return &session;
}

// The run ping's time-outs, and a proxy login the download never meets here.
__declspec(dllexport) BOOL WINAPI InternetSetOptionW(HINTERNET, DWORD, LPVOID, DWORD) {
  return TRUE;
}

__declspec(dllexport) HINTERNET WINAPI InternetOpenUrlW(HINTERNET, LPCWSTR url, LPCWSTR, DWORD,
                                                        DWORD, DWORD_PTR) {
  PrintText("requested_url", reinterpret_cast<const char16_t*>(url));
  std::fflush(stdout);
  if (Script(L"cert-error")) {
    SetLastError(kInvalidCa);
    return nullptr;
  }
  return &answer;
}

// Every scripted answer is a 200: no login is ever asked for or sent.
__declspec(dllexport) BOOL WINAPI HttpSendRequestW(HINTERNET, LPCWSTR, DWORD, LPVOID, DWORD) {
  return FALSE;
}

__declspec(dllexport) DWORD WINAPI InternetErrorDlg(HWND, HINTERNET, DWORD, DWORD, LPVOID*) {
  return ERROR_CANCELLED;
}

__declspec(dllexport) BOOL WINAPI InternetQueryOptionW(HINTERNET, DWORD, LPVOID, LPDWORD) {
  return FALSE;
}

__declspec(dllexport) BOOL WINAPI HttpQueryInfoW(HINTERNET, DWORD info, LPVOID buffer, LPDWORD size,
                                                 LPDWORD) {
  if (info == kStatusCodeNumber) {
    *static_cast<DWORD*>(buffer) = 200;
    return TRUE;
  }
  if (info == kContentLength && *size >= sizeof L"100") {
    std::wcscpy(static_cast<wchar_t*>(buffer), L"100");
    return TRUE;
  }
  SetLastError(kHeaderNotFound);
  return FALSE;
}

__declspec(dllexport) BOOL WINAPI InternetReadFile(HINTERNET, LPVOID, DWORD, LPDWORD read) {
  if (Script(L"deaf")) Sleep(INFINITE);
  *read = 0;
  SetLastError(kConnectionReset);
  return FALSE;
}

__declspec(dllexport) BOOL WINAPI InternetCloseHandle(HINTERNET handle) {
  if (handle == &session && Script(L"deaf")) {
    std::printf("aborts=%d\n", ++aborts);
    std::fflush(stdout);
  }
  return TRUE;
}

}  // extern "C"
