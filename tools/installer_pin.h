// The installer pin of a download URL: the fragment "#sha256=" and the
// installer's SHA-256, which the program compares with what it downloaded
// before it runs it. The program's own parser decides what a pin is.
#pragma once

#include <optional>
#include <string>

// Where `sign` takes the pin from: --installer FILE or --installer-sha256 HEX.
struct InstallerPinSource {
  std::optional<std::string> installerPath;
  std::optional<std::string> installerSha256;
};

// `url` with "#sha256=" and the digest in lower case appended, or unchanged
// when `source` names neither. Throws ToolError: usage for both sources at
// once, no URL, a URL that has a fragment already (the program reads only a
// whole fragment as a pin) or HEX that is not 64 hex digits; operational for
// an installer file that cannot be read.
std::optional<std::string> PinnedDownloadUrl(const std::optional<std::string>& url,
                                             const InstallerPinSource& source);

// The SHA-256 that `url` pins, as 64 lower-case hex digits, read as the
// program reads it; nullopt for a URL without a pin. Throws ToolError (usage)
// naming `field` for a fragment that starts "sha256=" without exactly 64 hex
// digits after it: the program would run no installer at all.
std::optional<std::string> InstallerPinOf(const std::string& url, const std::string& field);

// Throws as InstallerPinOf does for a malformed pin of a download URL.
void RequireNoMalformedPin(const std::optional<std::string>& url);

// "installer SHA-256: ..." for a URL with a pin or a malformed one; empty for
// a URL without (null included).
std::string InstallerPinLine(const char16_t* url);
