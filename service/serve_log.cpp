#include "service/serve_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string_view>

namespace {

std::mutex outputMutex;

// The time as 2026-01-31T12:34:56.789Z, in `text`; returns its length.
std::size_t FormatNow(char (&text)[40]) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  const std::size_t size = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  return size + std::snprintf(text + size, sizeof text - size, ".%03dZ", static_cast<int>(milliseconds));
}

std::string Now() {
  char text[40];
  return std::string(text, FormatNow(text));
}

// One line at a time in a buffer of its thread's, kept from line to line,
// written by nlohmann's serializer as json::dump writes (replacing invalid
// UTF-8 keeps one bad text from throwing away the line). A request's line
// is written field by field, in the order of the keys as an object would
// hold them, through one reused string value: no object is built for it.
class LineWriter {
 public:
  static LineWriter& OfThisThread() {
    thread_local LineWriter writer;
    return writer;
  }

  void Object(const nlohmann::json& object) {
    line_.clear();
    serializer_.dump(object, false, false, 0);
  }

  void Open() { line_.assign(1, '{'); }

  void Field(std::string_view key, const nlohmann::json& value) {
    Key(key);
    serializer_.dump(value, false, false, 0);
  }

  void Field(std::string_view key, const std::string& text) {
    Key(key);
    Text(text);
  }

  void Field(std::string_view key, const std::map<std::string, std::string>& texts) {
    Key(key);
    line_ += '{';
    for (const auto& [name, text] : texts) {
      if (line_.back() != '{') line_ += ',';
      Text(name);
      line_ += ':';
      Text(text);
    }
    line_ += '}';
  }

  void TimeField() {
    char text[40];
    Key("time");
    Text(std::string_view(text, FormatNow(text)));
  }

  void Close() { line_ += '}'; }

  void Write() {
    line_ += '\n';
    const std::lock_guard lock(outputMutex);
    std::fwrite(line_.data(), 1, line_.size(), stdout);
    std::fflush(stdout);
  }

 private:
  LineWriter()
      : serializer_(nlohmann::detail::output_adapter<char>(line_), ' ', nlohmann::json::error_handler_t::replace) {}

  void Key(std::string_view key) {
    if (line_.size() > 1) line_ += ',';
    Text(key);
    line_ += ':';
  }

  void Text(std::string_view text) {
    text_.get_ref<std::string&>().assign(text);
    serializer_.dump(text_, false, false, 0);
  }

  std::string line_;
  nlohmann::json text_ = nlohmann::json::string_t();
  nlohmann::detail::serializer<nlohmann::json> serializer_;
};

void WriteLine(const nlohmann::json& line) {
  LineWriter& writer = LineWriter::OfThisThread();
  writer.Object(line);
  writer.Write();
}

}  // namespace

void LogRequest(const RequestLogEntry& entry) {
  const ServeResponse& response = *entry.response;
  LineWriter& line = LineWriter::OfThisThread();
  line.Open();
  line.Field("bytes", entry.bytes);
  line.Field("campaign", response.campaign);
  if (!response.language.empty()) line.Field("language", response.language);
  line.Field("method", entry.method);
  line.Field("ms", entry.milliseconds);
  line.Field("outcome", response.outcome);
  if (!response.parameterSha256.empty()) line.Field("parameter_sha256", response.parameterSha256);
  if (!response.refusal.empty()) line.Field("refusal", response.refusal);
  line.Field("request_id", entry.requestId);
  if (response.run) {
    const RunSummary& run = *response.run;
    line.Field("run", nlohmann::json{{"detail", run.detail}, {"outcome", run.outcome}, {"reason", run.reason}});
  }
  line.Field("status", response.status);
  if (!response.tagSha256.empty()) line.Field("tag_sha256", response.tagSha256);
  line.TimeField();
  line.Close();
  line.Write();
}

void LogEvent(const std::string& event, const std::string& detail) {
  WriteLine({{"time", Now()}, {"event", event}, {"detail", detail}});
}
