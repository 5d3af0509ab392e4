// The service's TOML config: where it listens, the signing key, the limits
// it puts on clients, and the campaigns, each with its exe read into memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "service/whole_value_pattern.h"
#include "tools/tag_payload.h"
#include "tools/tag_signer.h"

struct ParameterRule {
  std::string name;
  std::string pattern;
  WholeValuePattern wholeValue;
};

enum class OnInvalid { kFallback, kReject };

// A text table's language: the campaign's templates with the table's texts
// in, and the fallback made of them.
struct LanguageTexts {
  TagTexts templates;
  TagPayload fallbackPayload{};
};

// Field templates may name parameters as {name}; no URL ever does. The ping
// URL in `templates` names the campaign.
struct Campaign {
  std::string name;
  std::vector<std::uint8_t> exe;
  std::string fileName;
  TagTexts templates;
  OnInvalid onInvalid = OnInvalid::kFallback;
  std::optional<std::string> hmacKey;
  std::vector<ParameterRule> parameters;  // in name order, as the HMAC takes them
  TagPayload fallbackPayload{};           // only the fields without placeholders
  // The text tables by lower-case language tag, and the one a request that
  // names none of them gets; both empty when the campaign has no tables.
  std::map<std::string, LanguageTexts> languages;
  std::string defaultLanguage;
  // The share of runs that install under which the campaign's alert fires;
  // none: no alert.
  std::optional<double> installRatioAlert;
};

struct ClientLimits {
  unsigned threads = 0;  // 0: one per core
  unsigned maxConnections = 1024;
  unsigned maxConnectionsPerIp = 64;
  unsigned timeoutSeconds = 10;
  std::size_t memoryPerConnection = 16 * 1024;
};

struct ServeConfig {
  std::string listenHost;
  std::uint16_t listenPort = 0;
  TagKeySource key;
  std::string cacheControl = "public, max-age=86400";
  std::size_t cacheBytes = std::size_t{64} << 20;
  ClientLimits limits;
  std::map<std::string, Campaign> campaigns;
};

// Throws ToolError: usage for a config that cannot be obeyed (a placeholder
// in a URL, URLs that break the rules `sign` keeps, an unknown key, a bad
// pattern, fixed fields the tag cannot hold, a text table that cannot fit
// beside them, a language tag that is not well formed), operational for a
// file that cannot be read.
ServeConfig LoadServeConfig(const std::string& path);

// A campaign's or a parameter's name: 1 to 64 letters, digits, _ or -.
bool IsName(const std::string& text);

// The names of a template's {placeholders}, in order. Throws ToolError
// (usage) naming `field` for a brace that does not form one.
std::vector<std::string> PlaceholdersOf(const std::string& text, const std::string& field);

// An ASCII letter or digit, '_' or '-': what names in the config and in
// paths are made of.
bool IsNameCharacter(char c);
