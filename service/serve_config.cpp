#include "service/serve_config.h"

#include <arpa/inet.h>
#include <toml++/toml.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <stdexcept>

#include "service/language_choice.h"
#include "tools/installer_pin.h"
#include "tools/tag_files.h"
#include "tools/tag_urls.h"
#include "tools/tool_error.h"

namespace {

constexpr std::size_t kConfigSizeLimit = 1 << 20;
// Far above any setup exe; a config naming something else fails here, not
// when memory runs out.
constexpr std::size_t kExeSizeLimit = std::size_t{512} << 20;
constexpr std::size_t kParameterNameLimit = 64;

[[noreturn]] void Refuse(const std::string& message) { throw ToolError(kExitUsageError, message); }

// A table's keys read by type, every key it holds known to the reader: a
// misspelt key is refused, not silently left at its default.
class TableReader {
 public:
  TableReader(const toml::table& table, std::string where) : table_(table), where_(std::move(where)) {}

  std::optional<std::string> Text(const std::string& key) {
    const toml::node* node = Find(key);
    if (node == nullptr) return std::nullopt;
    if (!node->is_string()) Refuse(Name(key) + " must be a string");
    return node->as_string()->get();
  }

  std::vector<std::string> Texts(const std::string& key) {
    std::vector<std::string> texts;
    const toml::node* node = Find(key);
    if (node == nullptr) return texts;
    if (!node->is_array()) Refuse(Name(key) + " must be an array of strings");
    for (const toml::node& element : *node->as_array()) {
      if (!element.is_string()) Refuse(Name(key) + " must be an array of strings");
      texts.push_back(element.as_string()->get());
    }
    return texts;
  }

  std::optional<std::int64_t> Count(const std::string& key, std::int64_t minimum, std::int64_t maximum) {
    const toml::node* node = Find(key);
    if (node == nullptr) return std::nullopt;
    if (!node->is_integer()) Refuse(Name(key) + " must be an integer");
    const std::int64_t value = node->as_integer()->get();
    if (value < minimum || value > maximum) {
      Refuse(Name(key) + " must lie in " + std::to_string(minimum) + ".." + std::to_string(maximum));
    }
    return value;
  }

  // A share, 0 to 1, written as 0.8 or as 0 or 1.
  std::optional<double> Fraction(const std::string& key) {
    const toml::node* node = Find(key);
    if (node == nullptr) return std::nullopt;
    const std::optional<double> value = node->value<double>();
    if (!node->is_number() || !value || !(*value >= 0 && *value <= 1)) Refuse(Name(key) + " must be a number in 0..1");
    return value;
  }

  const toml::table* Table(const std::string& key) {
    const toml::node* node = Find(key);
    if (node == nullptr) return nullptr;
    if (!node->is_table()) Refuse(Name(key) + " must be a table");
    return node->as_table();
  }

  std::string Name(const std::string& key) const { return where_.empty() ? key : where_ + "." + key; }

  void RefuseUnknownKeys() const {
    for (const auto& [key, node] : table_) {
      if (!known_.contains(std::string(key.str()))) Refuse("unknown key " + Name(std::string(key.str())));
    }
  }

 private:
  const toml::node* Find(const std::string& key) {
    known_.insert(key);
    return table_.get(key);
  }

  const toml::table& table_;
  std::string where_;
  std::set<std::string> known_;
};

void ParseListen(const std::string& listen, ServeConfig& config) {
  const std::size_t colon = listen.rfind(':');
  if (colon == std::string::npos) Refuse("listen must be HOST:PORT");
  std::string host = listen.substr(0, colon);
  const std::string port = listen.substr(colon + 1);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  unsigned char address[16];
  const bool numeric =
      inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1;
  if (!numeric) Refuse("listen must name a numeric IPv4 or [IPv6] address, not " + host);
  if (port.empty() || port.size() > 5 ||
      !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }) || std::stoul(port) > 65535) {
    Refuse("listen has no valid port");
  }
  config.listenHost = host;
  config.listenPort = static_cast<std::uint16_t>(std::stoul(port));
}

std::string Resolved(const std::filesystem::path& folder, const std::string& path) {
  return std::filesystem::path(path).is_absolute() ? path : (folder / path).string();
}

std::vector<ParameterRule> ReadParameters(const toml::table* table, const std::string& where) {
  std::vector<ParameterRule> rules;
  if (table == nullptr) return rules;
  TableReader reader(*table, where);
  for (const auto& [key, node] : *table) {
    const std::string name(key.str());
    if (!IsName(name) || name == "sig" || name == "lang")
      Refuse(reader.Name(name) + ": a parameter name is 1 to 64 letters, digits, _ or -, and not sig or lang");
    const std::string pattern = *reader.Text(name);
    try {
      rules.push_back({name, pattern, WholeValuePattern(pattern)});
    } catch (const std::invalid_argument& error) {
      Refuse(reader.Name(name) + " is not a valid regular expression: " + error.what());
    }
  }
  std::sort(rules.begin(), rules.end(), [](const ParameterRule& a, const ParameterRule& b) { return a.name < b.name; });
  return rules;
}

std::optional<std::string> EnvironmentValue(const std::string& variable, const std::string& key) {
  const char* value = std::getenv(variable.c_str());
  if (value == nullptr || *value == '\0') Refuse(key + " names " + variable + ", which is unset or empty");
  return std::string(value);
}

void RequireKnownPlaceholders(const std::optional<std::string>& text, const std::string& field,
                              const std::vector<ParameterRule>& parameters) {
  if (!text) return;
  for (const std::string& name : PlaceholdersOf(*text, field)) {
    const bool known =
        std::any_of(parameters.begin(), parameters.end(), [&](const ParameterRule& rule) { return rule.name == name; });
    if (!known) Refuse(field + " names {" + name + "}, which is not among the campaign's parameters");
  }
}

std::optional<std::string> WithoutPlaceholders(const std::optional<std::string>& text, const std::string& field) {
  if (!text || !PlaceholdersOf(*text, field).empty()) return std::nullopt;
  return text;
}

// The campaign's download URL with its installer's pin, when it names one. A
// pin written by hand must be well formed: the program would run nothing.
std::optional<std::string> PinnedUrl(const std::optional<std::string>& url, const std::optional<std::string>& installer,
                                     const TableReader& reader, const std::filesystem::path& folder) {
  const std::string key = installer ? "installer" : "download_url";
  try {
    RequireNoMalformedPin(url);
    if (!installer) return url;
    return PinnedDownloadUrl(url, {Resolved(folder, *installer), std::nullopt});
  } catch (const ToolError& error) {
    throw ToolError(error.exitCode, reader.Name(key) + ": " + error.what());
  }
}

// A request must never choose where the setup downloads from, what it
// offers after a failure or where it reports.
void RequireNoPlaceholder(const std::optional<std::string>& url, const std::string& key) {
  if (url && url->find_first_of("{}") != std::string::npos) Refuse(key + " holds a placeholder; its URL is fixed");
}

// The campaign's ping URL names the campaign, never the download: the same
// for every copy of it. A campaign name is letters, digits, _ and -, which a
// query carries as they are.
std::optional<std::string> PingUrlOfCampaign(const std::optional<std::string>& url, const std::string& name,
                                             const std::string& key) {
  if (!url) return url;
  const std::size_t query = url->find('?');
  if (query != std::string::npos) {
    std::string parameters = url->substr(query);
    parameters[0] = '&';
    if (parameters.find("&campaign=") != std::string::npos) {
      Refuse(key + " has a campaign parameter already; the service adds campaign=" + name);
    }
  }
  return *url + (query == std::string::npos ? "?" : "&") + "campaign=" + name;
}

// The URL rules `sign` keeps, named by the config's place.
void RequireSoundUrls(const TagTexts& templates, const std::string& where) {
  try {
    RequireSoundTagUrls(templates);
  } catch (const ToolError& error) {
    Refuse(where + ": " + error.what());
  }
}

// The fields that hold no placeholder, which the fallback carries.
TagTexts FixedFields(const TagTexts& templates) {
  TagTexts fixed = templates;
  fixed.headline = WithoutPlaceholders(templates.headline, "headline");
  fixed.launchArgument = WithoutPlaceholders(templates.launchArgument, "launch_argument");
  return fixed;
}

// Every {name} is ASCII, two bytes a character in the tag, and stands for
// a value that may be empty: without them the templates take the fewest
// bytes any request can fill them to.
std::size_t LeastBytesFilled(const TagTexts& templates) {
  std::size_t placeholderBytes = 0;
  for (const auto& text : {templates.headline, templates.launchArgument}) {
    if (!text) continue;
    for (const std::string& name : PlaceholdersOf(*text, "")) placeholderBytes += 2 * (name.size() + 2);
  }
  return TagPayloadBytesNeeded(templates) - placeholderBytes;
}

// The fallback of one language's templates; refused when it breaks the
// tag's rules, or when no request could fill the templates to fit.
TagPayload CheckedFallback(const TagTexts& templates, const std::string& where) {
  TagPayload fallback{};
  std::size_t least = 0;
  try {
    fallback = BuildTagPayload(FixedFields(templates));
  } catch (const ToolError& error) {
    Refuse(where + ": its fixed fields: " + error.what());
  }
  try {
    least = LeastBytesFilled(templates);
  } catch (const ToolError& error) {
    Refuse(where + ": its fields: " + error.what());
  }
  if (least > kTrailerPayloadSize) {
    Refuse(where + ": the fields need " + std::to_string(least) + " bytes even with every {parameter} empty, " +
           std::to_string(least - kTrailerPayloadSize) + " more than the " + std::to_string(kTrailerPayloadSize) +
           "-byte payload holds");
  }
  return fallback;
}

// One text table: the campaign's templates with the table's headline (a
// template too) and the splash's texts in.
TagTexts TableTemplates(const toml::table& table, const std::string& where, const TagTexts& campaignTemplates) {
  TableReader reader(table, where);
  TagTexts templates = campaignTemplates;
  if (auto headline = reader.Text("headline")) templates.headline = std::move(headline);
  templates.failureText = reader.Text("failure");
  templates.hint = reader.Text("hint");
  templates.cancelQuestion = reader.Text("cancel_question");
  templates.cancelTitle = reader.Text("cancel_title");
  templates.fallbackText = reader.Text("fallback");
  reader.RefuseUnknownKeys();
  return templates;
}

void ReadTextTables(const toml::table* tables, const std::optional<std::string>& defaultLanguage,
                    const TableReader& reader, Campaign& campaign) {
  if (tables == nullptr || tables->empty()) {
    if (defaultLanguage) Refuse(reader.Name("default_language") + " is given, but the campaign has no texts tables");
    return;
  }
  for (const auto& [key, node] : *tables) {
    const std::string tag(key.str());
    const std::string where = reader.Name("texts." + tag);
    if (!IsWellFormedLanguageTag(tag)) Refuse(where + ": not a well-formed language tag such as de or pt-BR");
    if (!node.is_table()) Refuse(where + " must be a table");
    TagTexts templates = TableTemplates(*node.as_table(), where, campaign.templates);
    templates.textsLanguage = tag;
    RequireKnownPlaceholders(templates.headline, where + ".headline", campaign.parameters);
    RequireSoundUrls(templates, where);
    const LanguageTexts texts{templates, CheckedFallback(templates, where)};
    if (!campaign.languages.emplace(LowerCase(tag), texts).second) {
      Refuse(where + ": a second table for " + LowerCase(tag) + " (tags ignore case)");
    }
  }
  if (!defaultLanguage) Refuse(reader.Name("default_language") + " is missing; it names the table of other languages");
  campaign.defaultLanguage = LowerCase(*defaultLanguage);
  if (!campaign.languages.contains(campaign.defaultLanguage)) {
    Refuse(reader.Name("default_language") + " names " + *defaultLanguage + ", which has no texts table");
  }
}

Campaign ReadCampaign(const std::string& name, const toml::table& table, const std::filesystem::path& folder) {
  if (!IsName(name)) Refuse("campaigns." + name + ": a campaign name is 1 to 64 letters, digits, _ or -");
  // The service's own routes come first, and "unknown" is the campaign label
  // of pings that name none configured.
  for (const char* reserved : {"healthz", "readyz", "metrics", "ping", "unknown"}) {
    if (name == reserved) Refuse("campaigns." + name + ": the name is the service's own");
  }
  TableReader reader(table, "campaigns." + name);
  Campaign campaign;
  campaign.name = name;
  const auto exe = reader.Text("exe");
  if (!exe) Refuse(reader.Name("exe") + " is missing");
  campaign.templates.headline = reader.Text("headline");
  campaign.templates.launchArgument = reader.Text("launch_argument");
  campaign.templates.downloadUrl = reader.Text("download_url");
  campaign.templates.mirrorUrls = reader.Texts("mirrors");
  campaign.templates.fallbackPage = reader.Text("fallback_page");
  const auto pingUrl = reader.Text("ping_url");
  const auto installer = reader.Text("installer");
  const std::string onInvalid = reader.Text("on_invalid").value_or("fallback");
  if (onInvalid != "fallback" && onInvalid != "reject")
    Refuse(reader.Name("on_invalid") + " must be fallback or reject");
  campaign.onInvalid = onInvalid == "reject" ? OnInvalid::kReject : OnInvalid::kFallback;
  if (const auto variable = reader.Text("hmac_key_env"))
    campaign.hmacKey = EnvironmentValue(*variable, reader.Name("hmac_key_env"));
  campaign.fileName = reader.Text("file_name").value_or(std::filesystem::path(*exe).filename().string());
  if (!IsName(std::filesystem::path(campaign.fileName).stem().string()) || !campaign.fileName.ends_with(".exe")) {
    Refuse(reader.Name("file_name") + " must be a plain NAME.exe");
  }
  campaign.parameters = ReadParameters(reader.Table("parameters"), reader.Name("parameters"));
  campaign.installRatioAlert = reader.Fraction("install_ratio_alert");
  const auto defaultLanguage = reader.Text("default_language");
  const toml::table* texts = reader.Table("texts");
  reader.RefuseUnknownKeys();

  RequireNoPlaceholder(campaign.templates.downloadUrl, reader.Name("download_url"));
  for (const std::string& mirror : campaign.templates.mirrorUrls) RequireNoPlaceholder(mirror, reader.Name("mirrors"));
  if (campaign.templates.mirrorUrls.size() > kTagMirrorLimit) {
    Refuse(reader.Name("mirrors") + " holds " + std::to_string(campaign.templates.mirrorUrls.size()) +
           " URLs; a copy takes at most " + std::to_string(kTagMirrorLimit));
  }
  RequireNoPlaceholder(campaign.templates.fallbackPage, reader.Name("fallback_page"));
  RequireNoPlaceholder(pingUrl, reader.Name("ping_url"));
  campaign.templates.pingUrl = PingUrlOfCampaign(pingUrl, name, reader.Name("ping_url"));
  campaign.templates.downloadUrl = PinnedUrl(campaign.templates.downloadUrl, installer, reader, folder);
  RequireSoundUrls(campaign.templates, "campaigns." + name);
  RequireKnownPlaceholders(campaign.templates.headline, reader.Name("headline"), campaign.parameters);
  RequireKnownPlaceholders(campaign.templates.launchArgument, reader.Name("launch_argument"), campaign.parameters);
  campaign.fallbackPayload = CheckedFallback(campaign.templates, "campaigns." + name);
  ReadTextTables(texts, defaultLanguage, reader, campaign);
  const std::string bytes = ReadSmallFile(Resolved(folder, *exe), kExeSizeLimit);
  campaign.exe.assign(bytes.begin(), bytes.end());
  return campaign;
}

void ReadLimits(TableReader& reader, ClientLimits& limits) {
  limits.threads = static_cast<unsigned>(reader.Count("threads", 0, 256).value_or(limits.threads));
  limits.maxConnections =
      static_cast<unsigned>(reader.Count("max_connections", 1, 65536).value_or(limits.maxConnections));
  limits.maxConnectionsPerIp =
      static_cast<unsigned>(reader.Count("max_connections_per_ip", 1, 65536).value_or(limits.maxConnectionsPerIp));
  limits.timeoutSeconds =
      static_cast<unsigned>(reader.Count("connection_timeout_seconds", 1, 3600).value_or(limits.timeoutSeconds));
  limits.memoryPerConnection =
      static_cast<std::size_t>(reader.Count("connection_memory_bytes", 4096, 1 << 20)
                                   .value_or(static_cast<std::int64_t>(limits.memoryPerConnection)));
}

}  // namespace

bool IsName(const std::string& text) {
  return !text.empty() && text.size() <= kParameterNameLimit && std::all_of(text.begin(), text.end(), IsNameCharacter);
}

std::vector<std::string> PlaceholdersOf(const std::string& text, const std::string& field) {
  std::vector<std::string> names;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '}') Refuse(field + ": a } that closes no placeholder");
    if (text[at] != '{') continue;
    const std::size_t close = text.find('}', at);
    if (close == std::string::npos) Refuse(field + ": a { that opens no placeholder");
    const std::string name = text.substr(at + 1, close - at - 1);
    if (!IsName(name)) Refuse(field + ": a placeholder holds a parameter name, 1 to 64 letters, digits, _ or -");
    names.push_back(name);
    at = close;
  }
  return names;
}

ServeConfig LoadServeConfig(const std::string& path) {
  const std::string text = ReadSmallFile(path, kConfigSizeLimit);
  toml::table root;
  try {
    root = toml::parse(text, path);
  } catch (const toml::parse_error& error) {
    Refuse(path + ":" + std::to_string(error.source().begin.line) + ": " + std::string(error.description()));
  }
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  TableReader reader(root, "");
  ServeConfig config;
  ParseListen(reader.Text("listen").value_or("127.0.0.1:8080"), config);
  const auto key = reader.Text("key");
  if (!key) Refuse("key is missing");
  config.key.key = IsTokenKey(*key) ? *key : Resolved(folder, *key);
  config.key.passphraseVariable = reader.Text("key_passphrase_env");
  config.key.pinVariable = reader.Text("key_pin_env");
  if (const auto publicKey = reader.Text("public_key")) config.key.publicKeyPath = Resolved(folder, *publicKey);
  if (const auto mismatch = MismatchedKeyOptions(config.key, {"key_passphrase_env", "key_pin_env", "public_key"})) {
    Refuse(*mismatch);
  }
  config.cacheControl = reader.Text("cache_control").value_or(config.cacheControl);
  if (std::any_of(config.cacheControl.begin(), config.cacheControl.end(),
                  [](char c) { return c < 0x20 || c == 0x7F; })) {
    Refuse("cache_control holds a control character");
  }
  if (const auto megabytes = reader.Count("cache_megabytes", 0, 1 << 20))
    config.cacheBytes = static_cast<std::size_t>(*megabytes) << 20;
  ReadLimits(reader, config.limits);
  const toml::table* campaigns = reader.Table("campaigns");
  reader.RefuseUnknownKeys();
  if (campaigns == nullptr || campaigns->empty()) Refuse("no [campaigns.NAME] table");
  for (const auto& [name, node] : *campaigns) {
    if (!node.is_table()) Refuse("campaigns." + std::string(name.str()) + " must be a table");
    config.campaigns.emplace(std::string(name.str()), ReadCampaign(std::string(name.str()), *node.as_table(), folder));
  }
  return config;
}

bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}
