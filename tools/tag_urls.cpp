#include "tools/tag_urls.h"

#include <optional>
#include <string_view>

#include "download/download_url.h"
#include "tools/installer_pin.h"
#include "tools/tool_error.h"

namespace {

[[noreturn]] void RefuseUrl(const std::string& field, const std::string& reason) {
  throw ToolError(kExitUsageError, field + ": " + reason);
}

// The scheme ignores case, as the program's WinINet does.
bool HasScheme(const std::string& url, std::string_view scheme) {
  if (url.size() < scheme.size()) return false;
  for (std::size_t at = 0; at < scheme.size(); ++at) {
    char c = url[at];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != scheme[at]) return false;
  }
  return true;
}

bool IsPlainHttp(const std::string& url) { return HasScheme(url, "http://"); }

void RequireWebUrl(const std::string& url, const std::string& field) {
  if (!IsPlainHttp(url) && !HasScheme(url, "https://")) RefuseUrl(field, "not an http:// or https:// URL");
}

// The copy's pin is the main URL's; the built-in URL pins nothing.
std::optional<std::string> CopyPin(const TagTexts& texts) {
  return texts.downloadUrl ? InstallerPinOf(*texts.downloadUrl, "--download-url") : std::nullopt;
}

void RequireMirrorKeepsThePin(const std::string& mirror, const std::optional<std::string>& copyPin) {
  RequireWebUrl(mirror, "--mirror");
  if (mirror.size() >= kDownloadUrlCapacity) {
    RefuseUrl("--mirror", std::to_string(mirror.size()) + " characters, more than the " +
                              std::to_string(kDownloadUrlCapacity - 1) + " the program downloads from");
  }
  const std::optional<std::string> pin = InstallerPinOf(mirror, "--mirror");
  if (pin && pin != copyPin) {
    RefuseUrl("--mirror", copyPin ? "its pin differs from the download URL's; every URL of a copy names one installer"
                                  : "it pins an installer, but the download URL pins none; pin the copy with "
                                    "--installer or in the download URL");
  }
  if (!copyPin && IsPlainHttp(mirror)) {
    RefuseUrl("--mirror", "a plain http:// mirror needs a pinned copy: without a pin anyone on the way could "
                          "answer it with other bytes");
  }
}

}  // namespace

void RequireSoundTagUrls(const TagTexts& texts) {
  const std::optional<std::string> copyPin = CopyPin(texts);
  for (const std::string& mirror : texts.mirrorUrls) RequireMirrorKeepsThePin(mirror, copyPin);
  if (texts.fallbackPage) RequireWebUrl(*texts.fallbackPage, "--fallback-page");
  if (texts.fallbackText && !texts.fallbackPage) {
    RefuseUrl("--fallback-text", "given without --fallback-page, the page its link opens");
  }
  if (texts.fallbackText && texts.fallbackText->empty()) {
    RefuseUrl("--fallback-text", "empty; a link must be seen and heard");
  }
  if (texts.pingUrl) {
    RequireWebUrl(*texts.pingUrl, "--ping-url");
    if (texts.pingUrl->find('#') != std::string::npos) {
      RefuseUrl("--ping-url", "holds a fragment (#), where the fields the program appends would never reach "
                              "the server");
    }
  }
}

std::vector<std::string> TagUrlWarnings(const TagTexts& texts) {
  std::vector<std::string> warnings;
  if (texts.downloadUrl && IsPlainHttp(*texts.downloadUrl) && !CopyPin(texts)) {
    warnings.push_back("the download URL is plain http:// without a pin: anyone on the way can answer it with "
                       "other bytes, which the copy would run; pin it with --installer");
  }
  if (texts.pingUrl && IsPlainHttp(*texts.pingUrl)) {
    warnings.push_back("the ping URL is plain http://: the fields of each ping travel in the clear");
  }
  return warnings;
}
