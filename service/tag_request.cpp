#include "service/tag_request.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <optional>

#include "tools/tag_keys.h"
#include "tools/tool_error.h"

namespace {

// The one value of a parameter: a missing or repeated one is refused, since
// a repeat could make the site's HMAC and the tag see different values.
std::optional<std::string> SingleValue(const RequestArguments& arguments, const std::string& name) {
  const auto found = arguments.find(name);
  if (found == arguments.end() || found->second.size() != 1) return std::nullopt;
  return found->second.front();
}

bool IsSigned(const Campaign& campaign, const RequestArguments& arguments, const std::vector<std::string>& values) {
  const auto sig = SingleValue(arguments, "sig");
  if (!sig) return false;
  const std::string expected = RequestHmac(campaign, values);
  return sig->size() == expected.size() && CRYPTO_memcmp(sig->data(), expected.data(), expected.size()) == 0;
}

// The template with each {name} replaced by its value, in one pass: a value
// holding braces is text, never a further placeholder.
std::optional<std::string> Filled(const std::optional<std::string>& text, const Campaign& campaign,
                                  const std::vector<std::string>& values) {
  if (!text) return std::nullopt;
  std::string filled;
  for (std::size_t at = 0; at < text->size(); ++at) {
    if ((*text)[at] != '{') {
      filled += (*text)[at];
      continue;
    }
    const std::size_t close = text->find('}', at);
    const std::string name = text->substr(at + 1, close - at - 1);
    for (std::size_t k = 0; k < campaign.parameters.size(); ++k) {
      if (campaign.parameters[k].name == name) filled += values[k];
    }
    at = close;
  }
  return filled;
}

TagDecision Invalid(const TagPayload& fallback, std::string refusal) { return {false, std::move(refusal), fallback}; }

}  // namespace

std::string RequestHmac(const Campaign& campaign, const std::vector<std::string>& valuesInNameOrder) {
  std::string message = campaign.name;
  for (std::size_t k = 0; k < campaign.parameters.size(); ++k) {
    message += "\n" + campaign.parameters[k].name + "=" + valuesInNameOrder[k];
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  const std::string& key = *campaign.hmacKey;
  if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
           reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest, &size) == nullptr) {
    throw ToolError(kExitOperationalError, "HMAC-SHA256 failed");
  }
  return HexOf(digest, size);
}

TagDecision DecideTag(const Campaign& campaign, const std::string& language, const RequestArguments& arguments) {
  const auto table = campaign.languages.find(language);
  const bool inTable = table != campaign.languages.end();
  const TagTexts& templates = inTable ? table->second.templates : campaign.templates;
  const TagPayload& fallback = inTable ? table->second.fallbackPayload : campaign.fallbackPayload;
  std::vector<std::string> values;
  values.reserve(campaign.parameters.size());
  for (const ParameterRule& rule : campaign.parameters) {
    const auto value = SingleValue(arguments, rule.name);
    if (!value) return Invalid(fallback, "parameter " + rule.name + " is missing or repeated");
    if (value->size() > kParameterValueLimit || !rule.wholeValue.Matches(*value)) {
      return Invalid(fallback, "parameter " + rule.name + " does not match its pattern");
    }
    values.push_back(*value);
  }
  if (campaign.hmacKey && !IsSigned(campaign, arguments, values)) return Invalid(fallback, "sig is missing or wrong");
  try {
    TagTexts filled = templates;
    filled.headline = Filled(templates.headline, campaign, values);
    filled.launchArgument = Filled(templates.launchArgument, campaign, values);
    return {true, "", BuildTagPayload(filled)};
  } catch (const ToolError& error) {
    return Invalid(fallback, std::string("the filled fields break the tag's rules: ") + error.what());
  }
}
