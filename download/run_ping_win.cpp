#include "download/run_ping_win.h"

#include <atomic>

#include "base/system_function_win.h"
#include "base/system_text_win.h"
#include "download/internet_functions_win.h"

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

constexpr DWORD kAwaitStepMs = 50;

// Straight to the server: no cache read or write, no cookie sent or kept,
// no login of the person's offered to the server or a proxy, no redirect
// followed (so none to another scheme, nor the run's facts to another
// server), and nothing that may put up a dialog.
constexpr DWORD kPingFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_PRAGMA_NOCACHE |
                             INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES |
                             INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_NO_AUTO_REDIRECT |
                             INTERNET_FLAG_NO_UI;

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW* version);
using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE process, USHORT* processMachine,
                                              USHORT* nativeMachine);
using LcidToLocaleNameFunction = int(WINAPI*)(LCID locale, wchar_t* name, int capacity,
                                              DWORD flags);
using RtlGenRandomFunction = BOOLEAN(WINAPI*)(void* buffer, ULONG length);

// Modules are named without ".dll", which GetModuleHandle adds.

// GetCurrentProcess's pseudo-handle, without the call.
const HANDLE kThisProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

void ReadOsVersion(RunReport& report) {
  // The true version: GetVersionEx answers what the manifest lets it.
  OSVERSIONINFOW version;
  version.dwOSVersionInfoSize = sizeof version;
  const auto getVersion =
      LookUpFunction<RtlGetVersionFunction>(GetModuleHandleA("ntdll"), "RtlGetVersion");
  if (getVersion == nullptr || getVersion(&version) != 0) return;
  report.numbers[kOsMajor] = version.dwMajorVersion;
  report.numbers[kOsMinor] = version.dwMinorVersion;
  report.numbers[kOsBuild] = version.dwBuildNumber;
}

// The machine's own architecture, not the process's: the 32-bit exe runs
// emulated on x64 and arm64 alike. IsWow64Process2 (Windows 10) tells arm64
// apart; before it, GetNativeSystemInfo does.
void ReadArchitecture(HMODULE kernel32, RunReport& report) {
  USHORT process = 0, native = 0, processor = PROCESSOR_ARCHITECTURE_UNKNOWN;
  const auto isWow64Process2 = LookUpFunction<IsWow64Process2Function>(kernel32, "IsWow64Process2");
  if (isWow64Process2 == nullptr || !isWow64Process2(kThisProcess, &process, &native)) {
    native = 0;
    SYSTEM_INFO system;
    GetNativeSystemInfo(&system);
    processor = system.wProcessorArchitecture;
  }
  report.arch = ArchitectureName(native, processor);
}

void ReadUiLanguage(HMODULE kernel32, RunReport& report) {
  wchar_t name[kLanguageCapacity];
  const auto toName = LookUpFunction<LcidToLocaleNameFunction>(kernel32, "LCIDToLocaleName");
  if (toName == nullptr ||
      toName(MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT), name, kLanguageCapacity, 0) == 0)
    name[0] = L'\0';
  TakeLanguageTag(reinterpret_cast<const char16_t*>(name), report.uiLanguage);
}

// A fresh id for this ping alone; false when the system gives no random bytes.
bool DrawPingId(RunReport& report) {
  // shell32 and shlwapi, which the exe imports, bring advapi32 in: nothing
  // is loaded for the id.
  const auto genRandom = LookUpFunction<RtlGenRandomFunction>(GetModuleHandleA("advapi32"),
                                                               "SystemFunction036");
  std::uint8_t random[8];
  if (genRandom == nullptr || !genRandom(random, sizeof random)) return false;
  FormatPingId(random, report.id);
  return true;
}

// One GET, never repeated; its answer is not read.
void Get(const char16_t* url) {
  InternetFunctions internet;
  if (!LookUpInternet(internet)) return;
  const HINTERNET session =
      internet.open(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (session == nullptr) return;
  static constexpr std::uint8_t kTimeouts[] = {INTERNET_OPTION_CONNECT_TIMEOUT,
                                              INTERNET_OPTION_SEND_TIMEOUT,
                                              INTERNET_OPTION_RECEIVE_TIMEOUT};
  for (const DWORD option : kTimeouts) {
    DWORD ms = kRunPingMs;
    internet.setOption(session, option, &ms, sizeof ms);
  }
  if (const HINTERNET answer = internet.openUrl(session, SystemText(url), nullptr, 0, kPingFlags, 0))
    internet.close(answer);
  internet.close(session);
}

// The ping's thread: it alone gathers the machine's facts, composes and
// sends, and owns every handle of the request.
DWORD WINAPI SendPing(LPVOID) {
  RunReport& report = runReport;
  const HMODULE kernel32 = GetModuleHandleA("kernel32");
  ReadOsVersion(report);
  ReadArchitecture(kernel32, report);
  ReadUiLanguage(kernel32, report);
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

void SendRunPing(RunEnd end) {
  if (runPingUrl == nullptr || pingStarted.exchange(true)) return;
  pingOutcome = OutcomeOfRun(runReport.stage, end);
  pingStartTick.store(GetTickCount(), std::memory_order_release);
  const HANDLE thread = CreateThread(nullptr, 0, SendPing, nullptr, 0, nullptr);
  if (thread == nullptr)
    pingEnded.store(true, std::memory_order_release);
  else
    CloseHandle(thread);
}

void AwaitRunPing() {
  if (!pingStarted.load()) return;
  // Polled, not waited on: the thread's handle is its starter's, which closed it.
  while (!pingEnded.load(std::memory_order_acquire) &&
         GetTickCount() - pingStartTick.load(std::memory_order_acquire) < kRunPingMs) {
    Sleep(kAwaitStepMs);
  }
}
