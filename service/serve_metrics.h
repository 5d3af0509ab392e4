// The service's counters, served at /metrics in the Prometheus text format.
// Label values come from the config (campaign names) and a fixed set of
// outcomes, never from a request, so the series stay few.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

class ServeMetrics {
 public:
  void CountRequest(const std::string& campaign, const std::string& outcome);
  void ObserveSigning(double seconds);
  void CountCacheLookup(bool hit) { (hit ? cacheHits_ : cacheMisses_).fetch_add(1, std::memory_order_relaxed); }
  void CountReload(bool kept) { (kept ? reloadsRefused_ : reloadsDone_).fetch_add(1, std::memory_order_relaxed); }

  std::string PrometheusText();

 private:
  static constexpr std::array<double, 10> kSigningBuckets{0.0005, 0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.5, 1};

  std::mutex mutex_;
  std::map<std::pair<std::string, std::string>, std::uint64_t> requests_;
  std::array<std::uint64_t, kSigningBuckets.size()> signingBuckets_{};
  std::uint64_t signingCount_ = 0;
  double signingSum_ = 0;
  std::atomic<std::uint64_t> cacheHits_{0};
  std::atomic<std::uint64_t> cacheMisses_{0};
  std::atomic<std::uint64_t> reloadsDone_{0};
  std::atomic<std::uint64_t> reloadsRefused_{0};
};
