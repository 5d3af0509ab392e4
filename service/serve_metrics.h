// The service's counters, served at /metrics in the Prometheus text format.
// Label values come from the config (campaign names) and fixed sets
// (outcomes, reasons, Windows versions, architectures), never from a
// request's own text, so the series stay few and no value can break the
// format.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <span>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "service/run_ping.h"

class Histogram {
 public:
  explicit Histogram(std::span<const double> bounds) : bounds_(bounds), buckets_(bounds.size()) {}
  void Observe(double value);
  // The series of `name`, each with `labels` (`campaign="x"` or empty).
  void Write(std::ostream& text, const std::string& name, const std::string& labels) const;

 private:
  std::span<const double> bounds_;
  std::vector<std::uint64_t> buckets_;
  std::uint64_t count_ = 0;
  double sum_ = 0;
};

class ServeMetrics {
 public:
  ServeMetrics();
  void CountRequest(const std::string& campaign, const std::string& outcome);
  void ObserveSigning(double seconds);
  void CountCacheLookup(bool hit) { (hit ? cacheHits_ : cacheMisses_).fetch_add(1, std::memory_order_relaxed); }
  void CountReload(bool kept) { (kept ? reloadsRefused_ : reloadsDone_).fetch_add(1, std::memory_order_relaxed); }
  // `campaign` is a configured one or "unknown".
  void CountRun(const std::string& campaign, const RunPing& ping);
  // The install ratio under which each campaign alerts, as the config in use
  // sets it.
  void SetInstallRatioAlerts(std::map<std::string, double> thresholds);

  std::string PrometheusText();

 private:
  using Labels3 = std::tuple<std::string, std::string, std::string>;
  void WriteRunMetrics(std::ostream& text) const;

  std::mutex mutex_;
  std::map<std::pair<std::string, std::string>, std::uint64_t> requests_;
  Histogram signing_;
  std::atomic<std::uint64_t> cacheHits_{0};
  std::atomic<std::uint64_t> cacheMisses_{0};
  std::atomic<std::uint64_t> reloadsDone_{0};
  std::atomic<std::uint64_t> reloadsRefused_{0};
  std::map<Labels3, std::uint64_t> runs_;             // campaign, outcome, reason
  std::map<Labels3, std::uint64_t> runsByOs_;         // campaign, os_major_minor, arch
  std::map<std::string, Histogram> downloadSeconds_;  // by campaign
  std::map<std::string, Histogram> downloadBytes_;
  std::map<std::string, double> installRatioAlerts_;
};
