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

// The query as it goes: a byte below kFirstText stands for that number
// (RunNumber + 1), one from kFirstText up for that text of ComposeRunPing's.
constexpr char kFirstText = 0x10;
constexpr char kQuery[] =
    "\x10outcome=\x11&reason=\x12&detail=\x01&bytes=\x02&size=\x03&attempts=\x04&resumes=\x05"
    "&mirror=\x06&download_ms=\x07&installer_ms=\x08&installer_exit=\x09&os=\x0A.\x0B.\x0C"
    "&arch=\x13&ui_lang=\x14&tag_lang=\x15&version=\x16&id=\x17";
static_assert(kRunNumberCount < kFirstText);

bool Append(ComposedText& text, const char* ascii) {
  return text.AppendAscii(ascii, std::strlen(ascii));
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
  struct Architecture {
    std::uint16_t machine;    // IMAGE_FILE_MACHINE_I386, _AMD64, _ARM64
    std::uint16_t processor;  // PROCESSOR_ARCHITECTURE_INTEL, _AMD64, _ARM64
    char name[6];
  };
  static constexpr Architecture kArchitectures[] = {
      {0x014C, 0, "x86"}, {0x8664, 9, "x64"}, {0xAA64, 12, "arm64"}};
  for (const Architecture& architecture : kArchitectures) {
    if ((machine != 0 && machine == architecture.machine) ||
        (machine == 0 && processor == architecture.processor))
      return architecture.name;
  }
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
  for (int digit = 0; digit < 16; ++digit) {
    const int value = (random[digit / 2] >> (digit % 2 == 0 ? 4 : 0)) & 15;
    id[digit] = static_cast<char>(value < 10 ? '0' + value : 'a' - 10 + value);
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
  const char* texts[] = {
      last == '?' || last == '&' ? "" : hasQuery ? "&" : "?",
      kOutcomeNames[static_cast<int>(outcome)],
      report.reason != nullptr && *report.reason != '\0' ? report.reason : "none",
      report.arch,
      report.uiLanguage,
      tagLanguage != nullptr ? tagLanguage : "",
      kVersion,
      report.id,
  };
  if (!ping.AppendAscii(pingUrl, length)) return false;
  for (const char* at = kQuery; *at != '\0'; ++at) {
    const bool appended = *at < kFirstText   ? AppendCount(ping, report.numbers[*at - 1])
                          : *at < ' '        ? Append(ping, texts[*at - kFirstText])
                                             : ping.AppendAscii(at, 1);
    if (!appended) return false;
  }
  return true;
}
