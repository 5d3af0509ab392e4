// What the service answers, apart from HTTP: the loaded config and key, the
// routes, the tags, and the reload that swaps them. The HTTP edge hands each
// request here as plain values.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "service/run_ping.h"
#include "service/serve_config.h"
#include "service/serve_metrics.h"
#include "service/tag_cache.h"
#include "tools/tag_keys.h"
#include "tools/tag_placement.h"
#include "tools/tag_signer.h"

// A config whose key has signed and verified a test tag and whose every exe
// is loaded and takes a tag: the only kind the service runs with. What
// depends only on an exe and the key is worked out here, once.
struct ServeState {
  ServeConfig config;
  std::unique_ptr<TagSigner> signer;
  Pkey checkKey;                                 // the signer's public half, for OpenSSL's check
  std::unique_ptr<TagCache> cache;               // its copies are of this config's exes and key only
  std::map<std::string, std::string> exeSha256;  // by campaign, for the ETag
  std::map<std::string, std::shared_ptr<const PreparedCopy>> preparedCopies;  // by campaign
};

// Both throw ToolError saying what keeps the config from serving.
std::shared_ptr<const ServeState> LoadServeState(const std::string& configPath);
// The state of a config already read, signing with `signer`, which holds
// the config's key.
std::shared_ptr<const ServeState> MakeServeState(ServeConfig config, std::unique_ptr<TagSigner> signer);

struct ServeRequest {
  std::string method;
  std::string path;                                        // decoded, without the query
  std::vector<std::pair<std::string, std::string>> query;  // decoded
  std::optional<std::string> ifNoneMatch;
  std::optional<std::string> acceptLanguage;
};

// What the log keeps of a ping: never its id.
struct RunSummary {
  std::string_view outcome;
  std::string_view reason;
  std::uint32_t detail;
};

struct ServeResponse {
  unsigned status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  SharedBytes body;  // null: none
  // For the log line and the counters.
  std::string campaign;
  std::string language;  // the text table's, when the campaign has tables
  std::string outcome;
  std::string refusal;
  std::string tagSha256;
  std::map<std::string, std::string> parameterSha256;
  std::optional<RunSummary> run;  // a ping's
};

class TagService {
 public:
  TagService(std::string configPath, std::shared_ptr<const ServeState> state);

  ServeResponse Answer(const ServeRequest& request);
  // Loads the config file again and swaps it in; on any error keeps the one
  // in use and returns why.
  std::optional<std::string> Reload();
  void StartDraining() { draining_ = true; }
  bool Draining() const { return draining_; }
  std::shared_ptr<const ServeState> State();

 private:
  ServeResponse AnswerPing(const ServeRequest& request);
  ServeResponse AnswerCampaign(const ServeState& state, const Campaign& campaign, const ServeRequest& request);
  std::shared_ptr<const TaggedCopy> TaggedCopyOf(const ServeState& state, const Campaign& campaign,
                                                 const std::string& language, const TagPayload& payload);

  std::string configPath_;
  std::mutex stateMutex_;
  std::shared_ptr<const ServeState> state_;
  ServeMetrics metrics_;
  RecentPingIds recentPingIds_;
  std::atomic<bool> draining_{false};
};

std::size_t BodySize(const ServeResponse& response);
std::string Sha256Hex(const std::uint8_t* bytes, std::size_t size);
