#include "service/serve_metrics.h"

#include <sstream>

void ServeMetrics::CountRequest(const std::string& campaign, const std::string& outcome) {
  const std::lock_guard lock(mutex_);
  ++requests_[{campaign, outcome}];
}

void ServeMetrics::ObserveSigning(double seconds) {
  const std::lock_guard lock(mutex_);
  for (std::size_t k = 0; k < kSigningBuckets.size(); ++k) {
    if (seconds <= kSigningBuckets[k]) ++signingBuckets_[k];
  }
  ++signingCount_;
  signingSum_ += seconds;
}

std::string ServeMetrics::PrometheusText() {
  std::ostringstream text;
  const std::lock_guard lock(mutex_);
  text << "# HELP zorva_tag_requests_total Requests answered, by campaign and outcome.\n"
          "# TYPE zorva_tag_requests_total counter\n";
  for (const auto& [labels, count] : requests_) {
    text << "zorva_tag_requests_total{campaign=\"" << labels.first << "\",outcome=\"" << labels.second << "\"} "
         << count << "\n";
  }
  text << "# HELP zorva_tag_signing_seconds Time to sign one tag.\n"
          "# TYPE zorva_tag_signing_seconds histogram\n";
  for (std::size_t k = 0; k < kSigningBuckets.size(); ++k) {
    text << "zorva_tag_signing_seconds_bucket{le=\"" << kSigningBuckets[k] << "\"} " << signingBuckets_[k] << "\n";
  }
  text << "zorva_tag_signing_seconds_bucket{le=\"+Inf\"} " << signingCount_ << "\n"
       << "zorva_tag_signing_seconds_sum " << signingSum_ << "\n"
       << "zorva_tag_signing_seconds_count " << signingCount_ << "\n"
       << "# HELP zorva_tag_cache_hits_total Tags whose signature came from the in-process cache.\n"
          "# TYPE zorva_tag_cache_hits_total counter\n"
       << "zorva_tag_cache_hits_total " << cacheHits_.load() << "\n"
       << "# HELP zorva_tag_cache_misses_total Tags that had to be signed.\n"
          "# TYPE zorva_tag_cache_misses_total counter\n"
       << "zorva_tag_cache_misses_total " << cacheMisses_.load() << "\n"
       << "# HELP zorva_tag_reloads_total Config reloads on SIGHUP, by result.\n"
          "# TYPE zorva_tag_reloads_total counter\n"
       << "zorva_tag_reloads_total{result=\"applied\"} " << reloadsDone_.load() << "\n"
       << "zorva_tag_reloads_total{result=\"refused\"} " << reloadsRefused_.load() << "\n";
  return text.str();
}
