// Which tag a request gets: its parameters checked against the campaign's
// patterns and HMAC, the templates filled, and the tool's field rules applied.
// Nothing a request sends reaches a payload unless every check passed.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "service/serve_config.h"
#include "tools/tag_payload.h"

// A decoded value longer than this is refused before any pattern sees it:
// a payload holds 767 bytes in all.
inline constexpr std::size_t kParameterValueLimit = 512;

// The decoded values of the query's arguments that the campaign names, and
// `sig`; any other argument is dropped as it arrives.
using RequestArguments = std::map<std::string, std::vector<std::string>>;

struct TagDecision {
  bool valid = false;
  std::string refusal;   // why an invalid request is one; never holds a value
  TagPayload payload{};  // valid: the filled fields; invalid: the fallback
};

// `language` names one of the campaign's text tables, or none (empty) for a
// campaign without them.
TagDecision DecideTag(const Campaign& campaign, const std::string& language, const RequestArguments& arguments);

// The lowercase hex HMAC-SHA256 a web site puts in `sig`: keyed with the
// campaign's key, over the campaign's name followed by "\nNAME=VALUE" for each
// of its parameters in name order.
std::string RequestHmac(const Campaign& campaign, const std::vector<std::string>& valuesInNameOrder);
