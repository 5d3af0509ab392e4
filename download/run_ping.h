// The run's one report to the distributor: what the run came to and on which
// Windows, as the query of one GET of the tag's ping URL. Portable: the
// worker fills the download's part, the Win32 edge (run_ping_win.h) adds the
// machine's facts and sends it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "download/handoff_commands.h"

enum class RunOutcome : std::uint8_t {
  kInstalled,
  kDownloadFailed,
  kPinMismatch,
  kInstallerFailed,  // the installer's process could not be created
  kCancelled,
  kStalled,  // the watchdog gave the download up
};

// How far the run came; the worker moves it on as it goes. The pin mismatch
// stands while the last whole file that came was not the pinned installer.
enum class RunStage : std::uint8_t {
  kDownloading,
  kPinMismatched,
  kDownloaded,
  kInstallerStarted,
};

// How the run ended: by itself (done or failed), by a Yes to the question,
// or by the watchdog's take-over.
enum class RunEnd : std::uint8_t { kEnded, kCancelled, kTakenOver };

// The person's Yes first, then the take-over, then the stage reached.
RunOutcome OutcomeOfRun(RunStage stage, RunEnd end);

// The ping's numbers, in the order they go.
enum RunNumber {
  kDetail,  // the HTTP status for "http", the WinINet or system error for "other"
  kBytes,   // kept
  kSize,    // announced; 0 when unknown
  kAttempts,
  kResumes,
  kMirror,  // the URL that served: 0 the main one
  kDownloadMs,
  kInstallerMs,
  kInstallerExit,
  // The machine's, gathered for the ping alone: the Windows version.
  kOsMajor,
  kOsMinor,
  kOsBuild,
  kRunNumberCount,
};

// LOCALE_NAME_MAX_LENGTH, its NUL included.
inline constexpr std::size_t kLanguageCapacity = 85;
// 16 hex digits and a NUL.
inline constexpr std::size_t kPingIdCapacity = 17;

struct RunReport {
  RunStage stage;
  // The class of the last failure ("http", "refused", ...); null or empty
  // for none.
  const char* reason;
  std::uint32_t numbers[kRunNumberCount];
  // The machine's, gathered for the ping alone.
  const char* arch;            // "x86", "x64" or "arm64"; null: not one of them
  char uiLanguage[kLanguageCapacity];
  char id[kPingIdCapacity];
};

// The run's report: written by the worker while it runs, read once the run
// has ended, by the thread that sends the ping.
extern RunReport runReport;

// The name the ping gives the native architecture of IMAGE_FILE_MACHINE
// `machine` or, for machine 0 (unknown), of PROCESSOR_ARCHITECTURE
// `processor`; null for any other.
const char* ArchitectureName(std::uint16_t machine, std::uint16_t processor);

// The system's locale `name` as the ping's language tag: copied when it is
// 2 to 84 ASCII letters, digits and hyphens, else "und" (undetermined), so
// that nothing else reaches the query.
void TakeLanguageTag(const char16_t* name, char (&tag)[kLanguageCapacity]);

// The 8 random bytes as 16 lowercase hex digits.
void FormatPingId(const std::uint8_t (&random)[8], char (&id)[kPingIdCapacity]);

// The ping URL (ASCII, up to any fragment, which never reaches a server)
// with the report appended as its query: after '&' when it has one, else
// after '?', in a fixed order, numbers in decimal; `tagLanguage` may be null.
// False when the report has no architecture or the whole does not fit:
// then no ping goes.
bool ComposeRunPing(const char* pingUrl, const RunReport& report, RunOutcome outcome,
                    const char* tagLanguage, ComposedText& ping);
