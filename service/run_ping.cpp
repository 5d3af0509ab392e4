#include "service/run_ping.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <charconv>

#include "service/language_choice.h"
#include "service/serve_config.h"

namespace {

constexpr std::array<std::string_view, 6> kOutcomes{"installed",        "download_failed", "pin_mismatch",
                                                    "installer_failed", "cancelled",       "stalled"};
constexpr std::array<std::string_view, 11> kReasons{"none",  "http", "refused",    "reset", "tls",  "dns",
                                                    "stall", "cut",  "proxy_auth", "disk",  "other"};
constexpr std::array<std::string_view, 3> kArchitectures{"x86", "x64", "arm64"};
// Windows 7, 8, 8.1, and 10 and 11 (both 10.0): the ones the program runs on.
constexpr std::array<std::string_view, 4> kKnownWindows{"6.1", "6.2", "6.3", "10.0"};

constexpr std::uint64_t kMostBytes = std::uint64_t{1} << 40;
constexpr std::uint64_t kMostCount = 100;
constexpr std::uint64_t kMostMilliseconds = 7 * 24 * 3600 * 1000ull;  // a week
constexpr std::uint64_t kMostUnsigned32 = 0xFFFFFFFF;

// A decimal as a program writes it: digits only, no sign, no leading zero.
std::optional<std::uint64_t> Decimal(std::string_view text, std::uint64_t most) {
  if (text.empty() || text.size() > 13 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > most) return std::nullopt;
  return value;
}

template <std::size_t N>
std::optional<std::string_view> OneOf(std::string_view text, const std::array<std::string_view, N>& values) {
  const auto found = std::find(values.begin(), values.end(), text);
  return found == values.end() ? std::nullopt : std::optional(*found);
}

// `text` split at its dots, when it is 1 to `most` decimals of at most
// `digits` digits each.
std::optional<std::vector<std::string_view>> DecimalParts(std::string_view text, std::size_t most, std::size_t digits) {
  std::vector<std::string_view> parts;
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t dot = std::min(text.find('.', at), text.size());
    const std::string_view part = text.substr(at, dot - at);
    if (parts.size() == most || part.size() > digits || !Decimal(part, kMostUnsigned32)) return std::nullopt;
    parts.push_back(part);
    at = dot + 1;
  }
  return parts;
}

// major.minor.build, of up to 2, 2 and 6 digits; the label is the known
// Windows it names, else "other".
std::optional<std::string_view> MajorMinorOf(std::string_view os) {
  const auto parts = DecimalParts(os, 3, 6);
  if (!parts || parts->size() != 3 || (*parts)[0].size() > 2 || (*parts)[1].size() > 2) return std::nullopt;
  return OneOf(os.substr(0, os.rfind('.')), kKnownWindows).value_or("other");
}

std::optional<std::uint64_t> Id(std::string_view text) {
  const bool hex = text.size() == 16 && std::all_of(text.begin(), text.end(), [](char c) {
                     return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
                   });
  std::uint64_t id = 0;
  if (!hex || std::from_chars(text.data(), text.data() + 16, id, 16).ec != std::errc()) return std::nullopt;
  return id;
}

template <typename T, typename U>
bool Keep(const std::optional<U>& value, T& field) {
  if (value) field = static_cast<T>(*value);
  return value.has_value();
}

bool Within(std::string_view text, std::uint64_t most) { return Decimal(text, most).has_value(); }

struct Field {
  std::string_view name;
  bool (*check)(std::string_view value, RunPing& ping);
};

constexpr Field kFields[] = {
    {"campaign",
     [](std::string_view v, RunPing& p) {
       p.campaign = v;
       return IsName(p.campaign);
     }},
    {"outcome", [](std::string_view v, RunPing& p) { return Keep(OneOf(v, kOutcomes), p.outcome); }},
    {"reason", [](std::string_view v, RunPing& p) { return Keep(OneOf(v, kReasons), p.reason); }},
    {"detail", [](std::string_view v, RunPing& p) { return Keep(Decimal(v, kMostUnsigned32), p.detail); }},
    {"bytes", [](std::string_view v, RunPing& p) { return Keep(Decimal(v, kMostBytes), p.bytes); }},
    {"size", [](std::string_view v, RunPing&) { return Within(v, kMostBytes); }},
    {"attempts", [](std::string_view v, RunPing&) { return Within(v, kMostCount); }},
    {"resumes", [](std::string_view v, RunPing&) { return Within(v, kMostCount); }},
    {"mirror", [](std::string_view v, RunPing&) { return Within(v, 2); }},
    {"download_ms", [](std::string_view v, RunPing& p) { return Keep(Decimal(v, kMostMilliseconds), p.downloadMs); }},
    {"installer_ms", [](std::string_view v, RunPing&) { return Within(v, kMostMilliseconds); }},
    {"installer_exit", [](std::string_view v, RunPing&) { return Within(v, kMostUnsigned32); }},
    {"os", [](std::string_view v, RunPing& p) { return Keep(MajorMinorOf(v), p.osMajorMinor); }},
    {"arch", [](std::string_view v, RunPing& p) { return Keep(OneOf(v, kArchitectures), p.arch); }},
    {"ui_lang", [](std::string_view v, RunPing&) { return IsWellFormedLanguageTag(v); }},
    {"tag_lang", [](std::string_view v, RunPing&) { return v.empty() || IsWellFormedLanguageTag(v); }},
    {"version", [](std::string_view v, RunPing&) { return DecimalParts(v, 4, 5).has_value(); }},
    {"id", [](std::string_view v, RunPing& p) { return Keep(Id(v), p.id); }},
};
constexpr std::size_t kFieldCount = std::size(kFields);

PingCheck Refused(std::string refusal) { return {std::nullopt, std::move(refusal)}; }

}  // namespace

bool DownloadedWhole(const RunPing& ping) {
  return ping.outcome == "installed" || ping.outcome == "pin_mismatch" || ping.outcome == "installer_failed";
}

PingCheck CheckRunPing(const std::vector<std::pair<std::string, std::string>>& query) {
  RunPing ping;
  std::bitset<kFieldCount> given;
  for (const auto& [name, value] : query) {
    const auto field =
        std::find_if(std::begin(kFields), std::end(kFields), [&](const Field& f) { return f.name == name; });
    if (field == std::end(kFields)) return Refused("an unknown parameter");
    const std::size_t index = static_cast<std::size_t>(field - std::begin(kFields));
    if (given[index]) return Refused(name + " is given twice");
    given[index] = true;
    if (!field->check(value, ping)) return Refused(name + " is malformed or out of range");
  }
  // The campaign is the first field, the only one a ping may leave out.
  for (std::size_t k = 1; k < kFieldCount; ++k) {
    if (!given[k]) return Refused(std::string(kFields[k].name) + " is missing");
  }
  return {ping, ""};
}

RecentPingIds::RecentPingIds(std::size_t capacity, std::chrono::steady_clock::duration window)
    : window_(window), ring_(capacity) {}

void RecentPingIds::DropOldest() {
  ids_.erase(ring_[oldest_].id);
  oldest_ = (oldest_ + 1) % ring_.size();
  --count_;
}

bool RecentPingIds::FirstSeen(std::uint64_t id, std::chrono::steady_clock::time_point now) {
  const std::lock_guard lock(mutex_);
  while (count_ != 0 && now - ring_[oldest_].at >= window_) DropOldest();
  if (ids_.contains(id)) return false;
  if (count_ == ring_.size()) DropOldest();
  ring_[(oldest_ + count_) % ring_.size()] = {id, now};
  ++count_;
  ids_.insert(id);
  return true;
}
