#include "service/serve_metrics.h"

#include <array>
#include <charconv>
#include <sstream>

namespace {

constexpr std::array<double, 10> kSigningBuckets{0.0005, 0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.5, 1};
// From a fast line's seconds to the hour a slow one takes for a large installer.
constexpr std::array<double, 12> kDownloadSecondsBuckets{1, 2, 5, 10, 20, 30, 60, 120, 300, 600, 1200, 3600};
// 1 MiB to 4 GiB, a power of two apart.
constexpr std::array<double, 13> kDownloadBytesBuckets{1 << 20,           1 << 21, 1 << 22, 1 << 23,
                                                       1 << 24,           1 << 25, 1 << 26, 1 << 27,
                                                       1 << 28,           1 << 29, 1 << 30, double(1ull << 31),
                                                       double(1ull << 32)};

// Without an exponent, to the digits the value needs: 0.0005, 1048576.
std::string Number(double value) {
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed).ptr;
  return std::string(text, end);
}

std::string WithLe(const std::string& labels, const std::string& le) {
  return "{" + labels + (labels.empty() ? "" : ",") + "le=\"" + le + "\"}";
}

std::string Braced(const std::string& labels) { return labels.empty() ? "" : "{" + labels + "}"; }

void WriteHeader(std::ostream& text, const char* name, const char* type, const char* help) {
  text << "# HELP " << name << " " << help << "\n# TYPE " << name << " " << type << "\n";
}

// name{a="x",b="y",c="z"} count, for each entry.
void WriteCounters(std::ostream& text, const char* name, const std::array<const char*, 3>& labelNames,
                   const std::map<std::tuple<std::string, std::string, std::string>, std::uint64_t>& counts) {
  for (const auto& [labels, count] : counts) {
    text << name << "{" << labelNames[0] << "=\"" << std::get<0>(labels) << "\"," << labelNames[1] << "=\""
         << std::get<1>(labels) << "\"," << labelNames[2] << "=\"" << std::get<2>(labels) << "\"} " << count << "\n";
  }
}

}  // namespace

void Histogram::Observe(double value) {
  for (std::size_t k = 0; k < bounds_.size(); ++k) {
    if (value <= bounds_[k]) ++buckets_[k];
  }
  ++count_;
  sum_ += value;
}

void Histogram::Write(std::ostream& text, const std::string& name, const std::string& labels) const {
  for (std::size_t k = 0; k < bounds_.size(); ++k) {
    text << name << "_bucket" << WithLe(labels, Number(bounds_[k])) << " " << buckets_[k] << "\n";
  }
  text << name << "_bucket" << WithLe(labels, "+Inf") << " " << count_ << "\n"
       << name << "_sum" << Braced(labels) << " " << Number(sum_) << "\n"
       << name << "_count" << Braced(labels) << " " << count_ << "\n";
}

ServeMetrics::ServeMetrics() : signing_(kSigningBuckets) {}

void ServeMetrics::CountRequest(const std::string& campaign, const std::string& outcome) {
  const std::lock_guard lock(mutex_);
  ++requests_[{campaign, outcome}];
}

void ServeMetrics::ObserveSigning(double seconds) {
  const std::lock_guard lock(mutex_);
  signing_.Observe(seconds);
}

void ServeMetrics::CountRun(const std::string& campaign, const RunPing& ping) {
  const std::lock_guard lock(mutex_);
  ++runs_[{campaign, std::string(ping.outcome), std::string(ping.reason)}];
  ++runsByOs_[{campaign, std::string(ping.osMajorMinor), std::string(ping.arch)}];
  if (!DownloadedWhole(ping)) return;
  downloadSeconds_.try_emplace(campaign, kDownloadSecondsBuckets).first->second.Observe(ping.downloadMs / 1000.0);
  downloadBytes_.try_emplace(campaign, kDownloadBytesBuckets).first->second.Observe(static_cast<double>(ping.bytes));
}

void ServeMetrics::SetInstallRatioAlerts(std::map<std::string, double> thresholds) {
  const std::lock_guard lock(mutex_);
  installRatioAlerts_ = std::move(thresholds);
}

void ServeMetrics::WriteRunMetrics(std::ostream& text) const {
  WriteHeader(text, "zorva_setup_runs_total", "counter",
              "Runs of the setup program that pinged, by outcome and reason.");
  WriteCounters(text, "zorva_setup_runs_total", {"campaign", "outcome", "reason"}, runs_);
  WriteHeader(text, "zorva_setup_runs_by_os_total", "counter",
              "Runs that pinged, by Windows version and architecture.");
  WriteCounters(text, "zorva_setup_runs_by_os_total", {"campaign", "os_major_minor", "arch"}, runsByOs_);
  WriteHeader(text, "zorva_setup_download_seconds", "histogram", "Time of each download that got every byte.");
  for (const auto& [campaign, histogram] : downloadSeconds_) {
    histogram.Write(text, "zorva_setup_download_seconds", "campaign=\"" + campaign + "\"");
  }
  WriteHeader(text, "zorva_setup_download_bytes", "histogram", "Size of each download that got every byte.");
  for (const auto& [campaign, histogram] : downloadBytes_) {
    histogram.Write(text, "zorva_setup_download_bytes", "campaign=\"" + campaign + "\"");
  }
  WriteHeader(text, "zorva_setup_install_ratio_threshold", "gauge",
              "The install ratio under which a campaign alerts (install_ratio_alert).");
  for (const auto& [campaign, threshold] : installRatioAlerts_) {
    text << "zorva_setup_install_ratio_threshold{campaign=\"" << campaign << "\"} " << Number(threshold) << "\n";
  }
}

std::string ServeMetrics::PrometheusText() {
  std::ostringstream text;
  const std::lock_guard lock(mutex_);
  WriteHeader(text, "zorva_tag_requests_total", "counter", "Requests answered, by campaign and outcome.");
  for (const auto& [labels, count] : requests_) {
    text << "zorva_tag_requests_total{campaign=\"" << labels.first << "\",outcome=\"" << labels.second << "\"} "
         << count << "\n";
  }
  WriteHeader(text, "zorva_tag_signing_seconds", "histogram", "Time to sign one tag.");
  signing_.Write(text, "zorva_tag_signing_seconds", "");
  WriteHeader(text, "zorva_tag_cache_hits_total", "counter", "Tags whose signature came from the in-process cache.");
  text << "zorva_tag_cache_hits_total " << cacheHits_.load() << "\n";
  WriteHeader(text, "zorva_tag_cache_misses_total", "counter", "Tags that had to be signed.");
  text << "zorva_tag_cache_misses_total " << cacheMisses_.load() << "\n";
  WriteHeader(text, "zorva_tag_reloads_total", "counter", "Config reloads on SIGHUP, by result.");
  text << "zorva_tag_reloads_total{result=\"applied\"} " << reloadsDone_.load() << "\n"
       << "zorva_tag_reloads_total{result=\"refused\"} " << reloadsRefused_.load() << "\n";
  WriteRunMetrics(text);
  return text.str();
}
