// Which URL the worker downloads from, and the installer pin it may carry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tag/sha256.h"

inline constexpr char16_t kDefaultDownloadUrl[] = u"https://api.zorva.app/client/download";

// The tag's URL unchanged, even when empty; the built-in one only for null.
const char16_t* ChooseDownloadUrl(const char16_t* tagUrl);

// A tag URL has at most 381 units: its record shares the 767-byte payload
// with a type byte, its zero unit and the end byte.
inline constexpr std::size_t kDownloadUrlCapacity = 384;

// A URL's fragment never reaches the server, yet the tag's signature covers
// it: "#sha256=" and 64 hex digits there name the only installer that may run.
enum class InstallerPin : std::uint8_t {
  kNone,       // no fragment, or one that is not a pin: nothing is checked
  kPinned,     // `digest` holds the pinned SHA-256
  kMalformed,  // "sha256=" without exactly 64 hex digits: no installer may run
};

struct DownloadRequest {
  char16_t url[kDownloadUrlCapacity];  // what the server sees: the fragment cut off
  InstallerPin pin;
  std::uint8_t digest[kSha256DigestSize];
};

// Copies `url` (at any address) up to its first '#' and reads the pin from the
// fragment after it. The key "sha256=" is matched in either case, so a pin
// written by hand in capitals is not silently ignored; the digits may be in
// either case too. False, with `request` unusable, when `url` does not fit.
bool PrepareDownload(const char16_t* url, DownloadRequest& request);

// A copy's URLs by index, in the order they are tried: the download URL 0,
// its mirrors 1 and 2; a set of them holds one bit each.
inline constexpr int kMostUrls = 3;
using UrlSet = std::uint8_t;
constexpr UrlSet UrlBit(int url) { return static_cast<UrlSet>(1u << url); }

// The URLs a download may use: the download URL, and each mirror that is
// there and whose part before its fragment fits `request.url`; a longer one
// is skipped rather than cut.
UrlSet UsableUrls(const char* const (&mirrorUrls)[2]);

// Writes the ASCII `mirror`, one that UsableUrls admits, into `request.url`
// up to its first '#'. Its fragment goes unread: the download URL's pin,
// which `request` keeps, holds for every URL of the copy.
void PrepareMirror(const char* mirror, DownloadRequest& request);

