#include "service/tag_service.h"

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>

#include "service/language_choice.h"
#include "service/tag_request.h"
#include "tag/tag_trailer.h"
#include "tools/byte_source.h"
#include "tools/tag_keys.h"
#include "tools/tag_placement.h"
#include "tools/tool_error.h"

namespace {

constexpr char kExeType[] = "application/vnd.microsoft.portable-executable";
// A ping's id counts once within a minute. Far more pings than a minute of
// a busy campaign brings; past them a repeat older than the newest this many
// may count again.
constexpr std::size_t kRecentPingIds = 1 << 16;
constexpr auto kPingRepeatWindow = std::chrono::minutes(1);

void RequireKeyVerifiesItsOwnTag(const TagSigner& signer) {
  const TagPayload payload = BuildTagPayload({"zorva-tag serve start-up test", std::nullopt, std::nullopt});
  const Trailer trailer = AssembleTrailer(signer.Sign(payload.data(), payload.size()), payload);
  if (!IsTrailerSigned(trailer.data(), signer.PublicKey())) {
    throw ToolError(kExitOperationalError, "the key does not verify its own test tag");
  }
}

// No tag is served or kept unless its signature verifies. OpenSSL's verify
// checks each new one under the very modulus the program's own check uses:
// for a payload, exactly one signature below the modulus verifies; OpenSSL
// accepts only that one, and the program accepts it too
// (RequireSampleCopyAccepted shows the two agree before anything is served).
Trailer CheckedTrailer(const ServeState& state, const TagPayload& payload, ServeMetrics* metrics) {
  const auto start = std::chrono::steady_clock::now();
  const TagSignature signature = state.signer->Sign(payload.data(), payload.size());
  if (metrics) metrics->ObserveSigning(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  if (!VerifiesWithTagKey(state.checkKey.get(), signature, payload.data(), payload.size())) {
    throw ToolError(kExitOperationalError, "a fresh signature does not verify");
  }
  return AssembleTrailer(signature, payload);
}

// The ETag names the tag, the exe and, for a campaign with text tables, the
// language, whose copies may share their bytes but not their cache entry.
std::shared_ptr<const TaggedCopy> TaggedCopyFor(const ServeState& state, const Campaign& campaign,
                                                const std::string& language, const Trailer& trailer) {
  const std::shared_ptr<const PreparedCopy>& base = state.preparedCopies.at(campaign.name);
  std::string tagSha256 = Sha256Hex(trailer.data(), trailer.size());
  std::string etag;
  etag.reserve(52 + language.size());
  etag.append("\"").append(tagSha256, 0, 32).append("-").append(state.exeSha256.at(campaign.name), 0, 16);
  if (!language.empty()) etag.append("-").append(language);
  etag += '"';
  return std::make_shared<const TaggedCopy>(
      TaggedCopy{std::move(tagSha256), std::move(etag),
                 std::make_shared<const std::vector<std::uint8_t>>(base->CopyWith(trailer))});
}

// Each campaign's sample: its fallback tag signed and checked as every tag
// is, and its copy made from the prepared head as every copy is. That copy
// must be, byte for byte, what placement streams for the same trailer (what
// `sign` writes), and the program's own check must accept the tag that ends
// it: the head is right, and OpenSSL's check and the program's agree on the
// key.
void RequireSampleCopyAccepted(const ServeState& state, const Campaign& campaign) {
  const Trailer trailer = CheckedTrailer(state, campaign.fallbackPayload, nullptr);
  const SharedBytes copy = TaggedCopyFor(state, campaign, "", trailer)->bytes;
  MemorySink placed;
  WriteTaggedCopy(MemorySource(campaign.exe), state.signer->PublicKey(), trailer, placed);
  if (*copy != placed.bytes ||
      !IsTrailerSigned(copy->data() + copy->size() - kTrailerSize, state.signer->PublicKey())) {
    throw ToolError(kExitOperationalError, "its prepared copy is not the one placement makes");
  }
}

// An exe whose certificate table cannot take a tag is refused now, not on
// every request.
void PrepareCampaign(ServeState& state, const Campaign& campaign) {
  try {
    state.preparedCopies[campaign.name] =
        std::make_shared<const PreparedCopy>(MemorySource(campaign.exe), state.signer->PublicKey());
    RequireSampleCopyAccepted(state, campaign);
  } catch (const ToolError& error) {
    throw ToolError(kExitOperationalError, "campaigns." + campaign.name + ".exe cannot take a tag: " + error.what());
  }
}

ServeResponse Text(unsigned status, const std::string& outcome, const std::string& text) {
  ServeResponse response;
  response.status = status;
  response.outcome = outcome;
  response.headers = {{"Content-Type", "text/plain; charset=utf-8"}, {"Cache-Control", "no-store"}};
  response.body = std::make_shared<const std::vector<std::uint8_t>>(text.begin(), text.end());
  return response;
}

// 1 to 64 letters, digits, '_', '.' or '-', then ".exe".
bool IsFileName(const std::string& name) {
  return name.size() > 4 && name.size() <= 68 && name.ends_with(".exe") &&
         std::all_of(name.begin(), name.end() - 4, [](char c) { return IsNameCharacter(c) || c == '.'; });
}

// The campaign named by /NAME or /NAME/FILE.exe, and the file name to give.
std::optional<std::pair<const Campaign*, std::string>> Route(const ServeConfig& config, const std::string& path) {
  if (path.size() < 2 || path.size() > 200 || path[0] != '/') return std::nullopt;
  const std::size_t slash = path.find('/', 1);
  const auto found = config.campaigns.find(path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1));
  if (found == config.campaigns.end()) return std::nullopt;
  if (slash == std::string::npos) return std::make_pair(&found->second, found->second.fileName);
  const std::string fileName = path.substr(slash + 1);
  if (!IsFileName(fileName)) return std::nullopt;
  return std::make_pair(&found->second, fileName);
}

// Weak comparison, as If-None-Match asks: W/"x" matches "x".
bool MatchesEtag(const std::string& ifNoneMatch, const std::string& etag) {
  std::size_t at = 0;
  while (at < ifNoneMatch.size()) {
    std::size_t end = ifNoneMatch.find(',', at);
    if (end == std::string::npos) end = ifNoneMatch.size();
    std::string candidate = ifNoneMatch.substr(at, end - at);
    candidate.erase(0, candidate.find_first_not_of(" \t"));
    candidate.erase(candidate.find_last_not_of(" \t") + 1);
    if (candidate.starts_with("W/")) candidate.erase(0, 2);
    if (candidate == "*" || candidate == etag) return true;
    at = end + 1;
  }
  return false;
}

RequestArguments ArgumentsFor(const Campaign& campaign, const ServeRequest& request) {
  RequestArguments arguments;
  for (const auto& [name, value] : request.query) {
    const bool named = name == "sig" || std::any_of(campaign.parameters.begin(), campaign.parameters.end(),
                                                    [&](const ParameterRule& rule) { return rule.name == name; });
    if (named) arguments[name].push_back(value);
  }
  return arguments;
}

// The table a request's `lang` or Accept-Language picks; a repeated `lang`
// names none.
LanguageChoice LanguageFor(const Campaign& campaign, const ServeRequest& request) {
  std::vector<std::string> langs;
  for (const auto& [name, value] : request.query) {
    if (name == "lang") langs.push_back(value);
  }
  const auto lang = langs.size() == 1 ? std::optional(langs.front()) : std::nullopt;
  return ChooseLanguage([&](const std::string& tag) { return campaign.languages.contains(tag); },
                        campaign.defaultLanguage, lang, request.acceptLanguage);
}

std::map<std::string, double> InstallRatioAlerts(const ServeConfig& config) {
  std::map<std::string, double> thresholds;
  for (const auto& [name, campaign] : config.campaigns) {
    if (campaign.installRatioAlert) thresholds[name] = *campaign.installRatioAlert;
  }
  return thresholds;
}

std::map<std::string, std::string> HashedValues(const RequestArguments& arguments) {
  std::map<std::string, std::string> hashed;
  for (const auto& [name, values] : arguments) {
    if (name == "sig") continue;
    for (const std::string& value : values) {
      hashed[name] = Sha256Hex(reinterpret_cast<const std::uint8_t*>(value.data()), value.size());
    }
  }
  return hashed;
}

}  // namespace

std::string Sha256Hex(const std::uint8_t* bytes, std::size_t size) {
  // Fetched once: OpenSSL's implicit fetch, on each digest, costs about as
  // much as hashing a tag.
  static EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestSize = 0;
  if (sha256 == nullptr || EVP_Digest(bytes, size, digest, &digestSize, sha256, nullptr) != 1) {
    throw ToolError(kExitOperationalError, "SHA-256 failed");
  }
  return HexOf(digest, digestSize);
}

std::shared_ptr<const ServeState> LoadServeState(const std::string& configPath) {
  ServeConfig config = LoadServeConfig(configPath);
  std::unique_ptr<TagSigner> signer = OpenTagSigner(config.key);
  return MakeServeState(std::move(config), std::move(signer));
}

std::shared_ptr<const ServeState> MakeServeState(ServeConfig config, std::unique_ptr<TagSigner> signer) {
  auto state = std::make_shared<ServeState>();
  state->config = std::move(config);
  state->signer = std::move(signer);
  RequireKeyVerifiesItsOwnTag(*state->signer);
  state->checkKey = OpenSslPublicKeyOf(state->signer->PublicKey());
  for (const auto& [name, campaign] : state->config.campaigns) {
    state->exeSha256[name] = Sha256Hex(campaign.exe.data(), campaign.exe.size());
    PrepareCampaign(*state, campaign);
  }
  state->cache = std::make_unique<TagCache>(state->config.cacheBytes);
  return state;
}

TagService::TagService(std::string configPath, std::shared_ptr<const ServeState> state)
    : configPath_(std::move(configPath)), state_(std::move(state)), recentPingIds_(kRecentPingIds, kPingRepeatWindow) {
  metrics_.SetInstallRatioAlerts(InstallRatioAlerts(state_->config));
}

std::shared_ptr<const ServeState> TagService::State() {
  const std::lock_guard lock(stateMutex_);
  return state_;
}

std::optional<std::string> TagService::Reload() {
  try {
    auto fresh = LoadServeState(configPath_);
    const auto current = State();
    if (fresh->config.listenHost != current->config.listenHost ||
        fresh->config.listenPort != current->config.listenPort) {
      throw ToolError(kExitUsageError, "listen cannot change without a restart");
    }
    metrics_.SetInstallRatioAlerts(InstallRatioAlerts(fresh->config));
    const std::lock_guard lock(stateMutex_);
    state_ = std::move(fresh);
  } catch (const ToolError& error) {
    metrics_.CountReload(true);
    return error.what();
  } catch (const std::bad_alloc&) {
    metrics_.CountReload(true);
    return "out of memory";
  }
  metrics_.CountReload(false);
  return std::nullopt;
}

ServeResponse TagService::Answer(const ServeRequest& request) {
  if (request.path == "/healthz") return Text(200, "health", "ok\n");
  if (request.path == "/readyz") return draining_ ? Text(503, "health", "draining\n") : Text(200, "health", "ready\n");
  if (request.path == "/metrics") {
    ServeResponse response = Text(200, "metrics", metrics_.PrometheusText());
    response.headers[0].second = "text/plain; version=0.0.4; charset=utf-8";
    return response;
  }
  if (request.path == "/ping") return AnswerPing(request);
  const std::shared_ptr<const ServeState> state = State();
  const auto route = Route(state->config, request.path);
  ServeResponse response;
  if (!route) {
    response = Text(404, "unknown_campaign", "no such campaign\n");
  } else if (request.method != "GET" && request.method != "HEAD") {
    response = Text(405, "method_not_allowed", "only GET and HEAD\n");
    response.headers.emplace_back("Allow", "GET, HEAD");
    response.campaign = route->first->name;
  } else {
    try {
      response = AnswerCampaign(*state, *route->first, request);
      if (response.status == 200) {
        response.headers.emplace_back("Content-Disposition", "attachment; filename=\"" + route->second + "\"");
      }
    } catch (const ToolError& error) {
      response = Text(500, "failed", "the tag could not be made\n");
      response.refusal = error.what();
    }
    response.campaign = route->first->name;
  }
  metrics_.CountRequest(response.campaign, response.outcome);
  return response;
}

// A refused ping, a repeat and a wrong method count nowhere.
ServeResponse TagService::AnswerPing(const ServeRequest& request) {
  if (request.method != "GET") {
    ServeResponse response = Text(405, "method_not_allowed", "only GET\n");
    response.headers.emplace_back("Allow", "GET");
    return response;
  }
  const PingCheck check = CheckRunPing(request.query);
  if (!check.ping) {
    ServeResponse response = Text(400, "ping_refused", "invalid ping: " + check.refusal + "\n");
    response.refusal = check.refusal;
    return response;
  }
  const RunPing& ping = *check.ping;
  ServeResponse response;
  response.status = 204;
  response.headers = {{"Cache-Control", "no-store"}};
  response.campaign = State()->config.campaigns.contains(ping.campaign) ? ping.campaign : "unknown";
  response.run = RunSummary{ping.outcome, ping.reason, ping.detail};
  const bool first = recentPingIds_.FirstSeen(ping.id, std::chrono::steady_clock::now());
  if (first) metrics_.CountRun(response.campaign, ping);
  response.outcome = first ? "ping_counted" : "ping_repeat";
  return response;
}

std::shared_ptr<const TaggedCopy> TagService::TaggedCopyOf(const ServeState& state, const Campaign& campaign,
                                                           const std::string& language, const TagPayload& payload) {
  // Two tables may hold the same texts; their copies still differ in ETag.
  std::string key = campaign.name + '\0' + language + '\0';
  key.append(payload.begin(), payload.end());
  if (auto cached = state.cache->Find(key)) {
    metrics_.CountCacheLookup(true);
    return cached;
  }
  metrics_.CountCacheLookup(false);
  auto copy = TaggedCopyFor(state, campaign, language, CheckedTrailer(state, payload, &metrics_));
  state.cache->Add(key, copy);
  return copy;
}

ServeResponse TagService::AnswerCampaign(const ServeState& state, const Campaign& campaign,
                                         const ServeRequest& request) {
  const RequestArguments arguments = ArgumentsFor(campaign, request);
  const LanguageChoice language = LanguageFor(campaign, request);
  const TagDecision decision = DecideTag(campaign, language.language, arguments);
  if (!decision.valid && campaign.onInvalid == OnInvalid::kReject) {
    ServeResponse rejected = Text(400, "rejected", "invalid request: " + decision.refusal + "\n");
    rejected.parameterSha256 = HashedValues(arguments);
    rejected.refusal = decision.refusal;
    return rejected;
  }
  const std::shared_ptr<const TaggedCopy> copy = TaggedCopyOf(state, campaign, language.language, decision.payload);
  ServeResponse response;
  response.language = language.language;
  response.parameterSha256 = HashedValues(arguments);
  response.refusal = decision.refusal;
  response.tagSha256 = copy->tagSha256;
  response.headers.reserve(5);  // with Vary, Content-Type and Content-Disposition
  response.headers = {{"ETag", copy->etag}, {"Cache-Control", state.config.cacheControl}};
  if (language.byAcceptLanguage) response.headers.emplace_back("Vary", "Accept-Language");
  response.outcome = decision.valid ? "tagged" : "fallback";
  if (request.ifNoneMatch && MatchesEtag(*request.ifNoneMatch, copy->etag)) {
    response.status = 304;
    response.outcome = "not_modified";
    return response;
  }
  response.body = copy->bytes;
  response.headers.emplace_back("Content-Type", kExeType);
  return response;
}

std::size_t BodySize(const ServeResponse& response) { return response.body ? response.body->size() : 0; }
