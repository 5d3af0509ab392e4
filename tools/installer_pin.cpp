#include "tools/installer_pin.h"

#include <algorithm>
#include <vector>

#include "download/download_url.h"
#include "tools/tag_files.h"
#include "tools/tag_keys.h"
#include "tools/tag_payload.h"
#include "tools/tool_error.h"

namespace {

[[noreturn]] void RefusePin(const std::string& message) { throw ToolError(kExitUsageError, message); }

// The program's reading of a URL. A URL too long for any tag reads as having
// no pin here; the payload's size check refuses it.
DownloadRequest RequestOf(const std::string& url, const std::string& field) {
  DownloadRequest request{};
  if (!PrepareDownload(Utf16OfUtf8(url, field).c_str(), request)) request.pin = InstallerPin::kNone;
  return request;
}

std::string FileSha256(const std::string& path) {
  const InputFile file(path);
  const MdCtx context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    throw ToolError(kExitOperationalError, "cannot start a SHA-256 digest");
  }
  // Read in pieces: an installer's size is not bound by memory.
  std::vector<std::uint8_t> piece(1 << 20);
  for (std::uint64_t offset = 0; offset < file.Size();) {
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), file.Size() - offset));
    file.Fetch(offset, piece.data(), count);
    EVP_DigestUpdate(context.get(), piece.data(), count);
    offset += count;
  }
  std::uint8_t digest[kSha256DigestSize];
  EVP_DigestFinal_ex(context.get(), digest, nullptr);
  return HexOf(digest, sizeof digest);
}

std::string NormalizedSha256(const std::string& hex) {
  const DownloadRequest request = RequestOf("#sha256=" + hex, "--installer-sha256");
  if (request.pin != InstallerPin::kPinned) RefusePin("--installer-sha256: not 64 hex digits");
  return HexOf(request.digest, kSha256DigestSize);
}

}  // namespace

std::optional<std::string> PinnedDownloadUrl(const std::optional<std::string>& url,
                                             const InstallerPinSource& source) {
  if (!source.installerPath && !source.installerSha256) return url;
  if (source.installerPath && source.installerSha256) {
    RefusePin("give --installer or --installer-sha256, not both");
  }
  const char* option = source.installerPath ? "--installer" : "--installer-sha256";
  if (!url) RefusePin(std::string(option) + " needs --download-url, the URL it pins");
  if (url->find('#') != std::string::npos) {
    RefusePin(std::string(option) + ": --download-url already has a fragment; a pin must be the whole fragment");
  }
  const std::string digest =
      source.installerPath ? FileSha256(*source.installerPath) : NormalizedSha256(*source.installerSha256);
  return *url + "#sha256=" + digest;
}

std::optional<std::string> InstallerPinOf(const std::string& url, const std::string& field) {
  const DownloadRequest request = RequestOf(url, field);
  if (request.pin == InstallerPin::kMalformed) {
    RefusePin(field + ": its #sha256= pin is not 64 hex digits; the program would run no installer");
  }
  if (request.pin == InstallerPin::kNone) return std::nullopt;
  return HexOf(request.digest, kSha256DigestSize);
}

void RequireNoMalformedPin(const std::optional<std::string>& url) {
  if (url) InstallerPinOf(*url, "--download-url");
}

std::string InstallerPinLine(const char16_t* url) {
  DownloadRequest request{};
  if (url == nullptr || !PrepareDownload(url, request) || request.pin == InstallerPin::kNone) return "";
  if (request.pin == InstallerPin::kMalformed) {
    return "installer SHA-256: malformed (the program runs no installer)";
  }
  return "installer SHA-256: " + HexOf(request.digest, kSha256DigestSize);
}
