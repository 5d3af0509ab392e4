#include "download/run_ping.h"

#include <cstring>
#include <iterator>

#include "base/zero_filled.h"
#include "resources/version.h"

constinit ZERO_FILLED RunReport runReport;

namespace {

// The version the ping reports is the version record's: its text must be
// its four numbers.
constexpr unsigned kVersionNumbers[] = {ZORVA_VERSION_NUMBERS};
constexpr char kVersion[] = ZORVA_VERSION_TEXT;

constexpr bool VersionTextIsNumbers() {
  const char* text = kVersion;
  for (std::size_t i = 0; i < std::size(kVersionNumbers); ++i) {
    unsigned read = 0;
    if (*text < '0' || *text > '9') return false;
    while (*text >= '0' && *text <= '9') read = read * 10 + static_cast<unsigned>(*text++ - '0');
    const char end = i + 1 == std::size(kVersionNumbers) ? '\0' : '.';
    if (read != kVersionNumbers[i] || *text++ != end) return false;
  }
  return true;
}
static_assert(VersionTextIsNumbers(), "ZORVA_VERSION_TEXT must spell ZORVA_VERSION_NUMBERS");

constexpr const char* kOutcomeNames[] = {"installed",        "download_failed", "pin_mismatch",
                                         "installer_failed", "cancelled",       "stalled"};

// Each name with the '&' before it and the '=' after, in RunNumber's order.
constexpr const char* kNumberNames[kRunNumberCount] = {
    "&detail=",  "&bytes=",       "&size=",         "&attempts=",      "&resumes=",
    "&mirror=", "&download_ms=", "&installer_ms=", "&installer_exit="};

bool Append(ComposedText& text, const char* ascii) {
  return text.AppendAscii(ascii, std::strlen(ascii));
}

bool AppendField(ComposedText& text, const char* name, const char* value) {
  return Append(text, name) && Append(text, value);
}

bool AppendOsVersion(ComposedText& text, const std::uint32_t (&version)[3]) {
  return Append(text, "&os=") && AppendCount(text, version[0]) && Append(text, ".") &&
         AppendCount(text, version[1]) && Append(text, ".") && AppendCount(text, version[2]);
}

bool IsTagCharacter(char16_t unit) {
  return (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z') ||
         (unit >= u'0' && unit <= u'9') || unit == u'-';
}

}  // namespace

RunOutcome OutcomeOfRun(RunStage stage, RunEnd end) {
  if (end == RunEnd::kCancelled) return RunOutcome::kCancelled;
  if (end == RunEnd::kTakenOver) return RunOutcome::kStalled;
  constexpr RunOutcome kByStage[] = {RunOutcome::kDownloadFailed, RunOutcome::kPinMismatch,
                                     RunOutcome::kInstallerFailed, RunOutcome::kInstalled};
  return kByStage[static_cast<int>(stage)];
}

const char* ArchitectureName(std::uint16_t machine, std::uint16_t processor) {
  // IMAGE_FILE_MACHINE_I386, _AMD64, _ARM64; PROCESSOR_ARCHITECTURE_INTEL, _AMD64, _ARM64.
  if (machine == 0x014C || (machine == 0 && processor == 0)) return "x86";
  if (machine == 0x8664 || (machine == 0 && processor == 9)) return "x64";
  if (machine == 0xAA64 || (machine == 0 && processor == 12)) return "arm64";
  return nullptr;
}

void TakeLanguageTag(const char16_t* name, char (&tag)[kLanguageCapacity]) {
  std::size_t length = 0;
  while (length < kLanguageCapacity - 1 && IsTagCharacter(name[length])) {
    tag[length] = static_cast<char>(name[length]);
    ++length;
  }
  tag[length] = '\0';
  if (length < 2 || name[length] != 0) std::memcpy(tag, "und", 4);
}

void FormatPingId(const std::uint8_t (&random)[8], char (&id)[kPingIdCapacity]) {
  constexpr char kHex[] = "0123456789abcdef";
  for (int i = 0; i < 8; ++i) {
    id[2 * i] = kHex[random[i] >> 4];
    id[2 * i + 1] = kHex[random[i] & 15];
  }
  id[16] = '\0';
}

bool ComposeRunPing(const char* pingUrl, const RunReport& report, RunOutcome outcome,
                    const char* tagLanguage, ComposedText& ping) {
  if (report.arch == nullptr) return false;
  std::size_t length = 0;
  bool hasQuery = false;
  for (; pingUrl[length] != '\0' && pingUrl[length] != '#'; ++length)
    hasQuery |= pingUrl[length] == '?';
  // A query that ends open ("...?" or "...&") takes the first field as it is.
  const char last = length == 0 ? '\0' : pingUrl[length - 1];
  const char* separator = last == '?' || last == '&' ? "" : hasQuery ? "&" : "?";
  const char* reason = report.reason != nullptr && *report.reason != '\0' ? report.reason : "none";
  if (!ping.AppendAscii(pingUrl, length) || !Append(ping, separator) ||
      !AppendField(ping, "outcome=", kOutcomeNames[static_cast<int>(outcome)]) ||
      !AppendField(ping, "&reason=", reason)) {
    return false;
  }
  for (int number = 0; number < kRunNumberCount; ++number) {
    if (!Append(ping, kNumberNames[number]) || !AppendCount(ping, report.numbers[number]))
      return false;
  }
  return AppendOsVersion(ping, report.osVersion) && AppendField(ping, "&arch=", report.arch) &&
         AppendField(ping, "&ui_lang=", report.uiLanguage) &&
         AppendField(ping, "&tag_lang=", tagLanguage != nullptr ? tagLanguage : "") &&
         AppendField(ping, "&version=", kVersion) && AppendField(ping, "&id=", report.id);
}
