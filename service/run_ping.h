// A run's ping: the one GET /ping a setup program sends when a run ends,
// carrying its outcome and a few numbers, checked here field by field. Only
// what a label needs is kept, and only as a value of a fixed set.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct RunPing {
  std::string campaign;      // well formed as a campaign name; empty when the URL names none
  std::string_view outcome;  // one of the outcomes, the reasons, the architectures below
  std::string_view reason;
  std::string_view arch;
  std::string_view osMajorMinor;  // a known Windows version, else "other"
  std::uint32_t detail = 0;       // the HTTP status or the system's error number
  std::uint64_t bytes = 0;
  std::uint64_t downloadMs = 0;
  std::uint64_t id = 0;
};

// Runs whose download ended with every byte in: their time and size are a
// download's.
bool DownloadedWhole(const RunPing& ping);

struct PingCheck {
  std::optional<RunPing> ping;
  std::string refusal;  // names a known parameter at most, never a value
};

// Every field a ping carries given exactly once (`campaign`, which the ping
// URL brings, at most once), each in its format and range, and no other.
PingCheck CheckRunPing(const std::vector<std::pair<std::string, std::string>>& query);

// The ids of the pings counted in the last `window`, so that a repeat (a
// retry of a proxy, a client sending twice) counts once. Fixed in size: past
// `capacity` the oldest is dropped, so a flood costs no more memory. The
// caller gives the time, which keeps the window testable.
class RecentPingIds {
 public:
  RecentPingIds(std::size_t capacity, std::chrono::steady_clock::duration window);
  // False when `id` was first seen within the window before `now`.
  bool FirstSeen(std::uint64_t id, std::chrono::steady_clock::time_point now);

 private:
  struct Seen {
    std::uint64_t id;
    std::chrono::steady_clock::time_point at;
  };
  void DropOldest();

  const std::chrono::steady_clock::duration window_;
  std::mutex mutex_;
  std::vector<Seen> ring_;  // in order of arrival from oldest_
  std::size_t oldest_ = 0;
  std::size_t count_ = 0;
  // A tree, not a hash table: ids come from clients, who must not be able to
  // choose ones that collide.
  std::set<std::uint64_t> ids_;
};
