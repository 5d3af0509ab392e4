#include "service/serve_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <nlohmann/json.hpp>

namespace {

std::mutex outputMutex;

std::string Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[40];
  const std::size_t size = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + size, sizeof text - size, ".%03dZ", static_cast<int>(milliseconds));
  return text;
}

void WriteLine(const nlohmann::json& line) {
  // Replacing invalid UTF-8 keeps one bad text from throwing away the line.
  const std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  const std::lock_guard lock(outputMutex);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

void LogRequest(const RequestLogEntry& entry) {
  const ServeResponse& response = *entry.response;
  nlohmann::json line = {
      {"time", Now()},
      {"request_id", entry.requestId},
      {"method", entry.method},
      {"campaign", response.campaign},
      {"outcome", response.outcome},
      {"status", response.status},
      {"bytes", entry.bytes},
      {"ms", entry.milliseconds},
  };
  if (!response.language.empty()) line["language"] = response.language;
  if (!response.tagSha256.empty()) line["tag_sha256"] = response.tagSha256;
  if (!response.parameterSha256.empty()) line["parameter_sha256"] = response.parameterSha256;
  if (!response.refusal.empty()) line["refusal"] = response.refusal;
  if (response.run) {
    const RunSummary& run = *response.run;
    line["run"] = {{"outcome", run.outcome}, {"reason", run.reason}, {"detail", run.detail}};
  }
  WriteLine(line);
}

void LogEvent(const std::string& event, const std::string& detail) {
  WriteLine({{"time", Now()}, {"event", event}, {"detail", detail}});
}
