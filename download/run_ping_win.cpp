#include "download/run_ping_win.h"

#include <atomic>

#include "base/system_functions_win.h"
#include "base/system_text_win.h"
#include "download/internet_lookup_win.h"
#include "state/setup_state.h"

// RtlGenRandom: random bytes from the system's generator. advapi32, a
// KnownDLL, is in every process of the exe before its first instruction
// (shlwapi imports it), so the import loads nothing.
extern "C" __declspec(dllimport) BOOLEAN WINAPI SystemFunction036(void* buffer, ULONG length);

namespace {

// Written at start-up, before any thread that sends exists.
const char* runPingUrl = nullptr;
const char* runTagLanguage = nullptr;

// Written by the thread that starts the ping, before the ping's thread
// exists; the exchange of `pingStarted` lets one thread alone do so.
std::atomic<bool> pingStarted{false};
RunOutcome pingOutcome;
std::atomic<DWORD> pingStartTick{0};
std::atomic<bool> pingEnded{false};
std::atomic<bool> reportFinal{false};

constexpr DWORD kAwaitStepMs = 50;
constexpr DWORD kReportStepMs = 10;

// Straight to the server: no cache read or write, no cookie sent or kept,
// no login of the person's offered to the server or a proxy, no redirect
// followed (so none to another scheme, nor the run's facts to another
// server), and nothing that may put up a dialog.
constexpr DWORD kPingFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE |
                             INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES |
                             INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_NO_AUTO_REDIRECT |
                             INTERNET_FLAG_NO_UI;

// kernel32 is in every process: nothing is loaded for the look-up.
// GetModuleHandle adds ".dll".
void LookUpMachineFunctions() {
  LookUpSystemFunctions(SystemModule::kKernel32, GetModuleHandleA("kernel32"));
}

// The version as GetVersionEx tells it to an exe manifested for Windows 7
// to 10: the true one on each of them and on 11.
void ReadOsVersion(RunReport& report) {
  OSVERSIONINFOW version;
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExW(&version)) return;
  report.numbers[kOsMajor] = version.dwMajorVersion;
  report.numbers[kOsMinor] = version.dwMinorVersion;
  report.numbers[kOsBuild] = version.dwBuildNumber;
}

// The machine's own architecture, not the process's: the 32-bit exe runs
// emulated on x64 and arm64 alike. IsWow64Process2 (Windows 10) tells arm64
// apart; before it, GetNativeSystemInfo does the rest.
void ReadArchitecture(RunReport& report) {
  USHORT process = 0, native = 0, processor = PROCESSOR_ARCHITECTURE_UNKNOWN;
  if (systemFunctions.IsWow64Process2 == nullptr ||
      !systemFunctions.IsWow64Process2(kThisProcess, &process, &native)) {
    native = 0;
    SYSTEM_INFO system;
    GetNativeSystemInfo(&system);
    processor = system.wProcessorArchitecture;
  }
  report.arch = ArchitectureName(native, processor);
}

void ReadUiLanguage(RunReport& report) {
  wchar_t name[kLanguageCapacity];
  if (LCIDToLocaleName(MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT), name,
                       kLanguageCapacity, 0) == 0)
    name[0] = L'\0';
  TakeLanguageTag(reinterpret_cast<const char16_t*>(name), report.uiLanguage);
}

// A fresh id for this ping alone; false when the system gives no random bytes.
bool DrawPingId(RunReport& report) {
  std::uint8_t random[8];
  if (!SystemFunction036(random, sizeof random)) return false;
  FormatPingId(random, report.id);
  return true;
}

// One GET, never repeated; its answer is not read.
void Get(const char16_t* url) {
  if (!InternetFound() && !LookUpInternet()) return;
  const HINTERNET session =
      systemFunctions.InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (session == nullptr) return;
  static constexpr std::uint8_t kTimeouts[] = {INTERNET_OPTION_CONNECT_TIMEOUT,
                                              INTERNET_OPTION_SEND_TIMEOUT,
                                              INTERNET_OPTION_RECEIVE_TIMEOUT};
  for (const DWORD option : kTimeouts) {
    DWORD ms = kRunPingMs;
    systemFunctions.InternetSetOptionW(session, option, &ms, sizeof ms);
  }
  if (const HINTERNET answer =
          systemFunctions.InternetOpenUrlW(session, SystemText(url), nullptr, 0, kPingFlags, 0))
    systemFunctions.InternetCloseHandle(answer);
  systemFunctions.InternetCloseHandle(session);
}

// The ping's thread: it alone gathers the machine's facts, composes and
// sends, and owns every handle of the request. The run's failure class is
// final once the run has ended.
DWORD WINAPI SendPing(LPVOID) {
  RunReport& report = runReport;
  LookUpMachineFunctions();
  while (!reportFinal.load(std::memory_order_acquire)) Sleep(kReportStepMs);
  report.reason = FailureReason(setupGlobals.failureClass.load(std::memory_order_acquire));
  ReadOsVersion(report);
  ReadArchitecture(report);
  ReadUiLanguage(report);
  ComposedText ping;
  if (DrawPingId(report) && ComposeRunPing(runPingUrl, report, pingOutcome, runTagLanguage, ping))
    Get(ping.Text());
  pingEnded.store(true, std::memory_order_release);
  return 0;
}

}  // namespace

void PrepareRunPing(const char* pingUrl, const char* tagLanguage) {
  runPingUrl = pingUrl;
  runTagLanguage = tagLanguage;
}

void SendRunPing(RunEnd end, bool finalReport) {
  if (runPingUrl == nullptr || pingStarted.exchange(true)) return;
  if (finalReport) FinishRunReport();
  pingOutcome = OutcomeOfRun(runReport.stage, end);
  pingStartTick.store(GetTickCount(), std::memory_order_release);
  const HANDLE thread = CreateThread(nullptr, 0, SendPing, nullptr, 0, nullptr);
  if (thread == nullptr)
    pingEnded.store(true, std::memory_order_release);
  else
    CloseHandle(thread);
}

void FinishRunReport() { reportFinal.store(true, std::memory_order_release); }

void AwaitRunPing() {
  if (!pingStarted.load()) return;
  // Polled, not waited on: the thread's handle is its starter's, which closed it.
  while (!pingEnded.load(std::memory_order_acquire) &&
         GetTickCount() - pingStartTick.load(std::memory_order_acquire) < kRunPingMs) {
    Sleep(kAwaitStepMs);
  }
}
