#include "download/download_url.h"

#include "base/utf16_string.h"

namespace {

constexpr char16_t kPinKey[] = u"sha256=";
constexpr std::size_t kPinKeyLength = sizeof kPinKey / sizeof kPinKey[0] - 1;

char16_t LowerAscii(char16_t unit) { return unit >= u'A' && unit <= u'Z' ? unit + (u'a' - u'A') : unit; }

int HexValue(char16_t unit) {
  if (unit >= u'0' && unit <= u'9') return unit - u'0';
  unit = LowerAscii(unit);
  if (unit >= u'a' && unit <= u'f') return unit - u'a' + 10;
  return -1;
}

bool StartsWithPinKey(const char16_t* fragment) {
  for (std::size_t i = 0; i < kPinKeyLength; ++i) {
    if (LowerAscii(fragment[i]) != kPinKey[i]) return false;
  }
  return true;
}

// Exactly 2 * kSha256DigestSize hex digits, then the end of the string.
bool ReadDigest(const char16_t* digits, std::uint8_t* digest) {
  for (std::size_t i = 0; i < kSha256DigestSize; ++i) {
    const int high = HexValue(digits[2 * i]);
    const int low = high < 0 ? -1 : HexValue(digits[2 * i + 1]);
    if (low < 0) return false;
    digest[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return digits[2 * kSha256DigestSize] == 0;
}

// The units of an ASCII URL a server sees: those before its first '#'.
std::size_t SentLength(const char* url) {
  std::size_t length = 0;
  while (url[length] != 0 && url[length] != '#') ++length;
  return length;
}

InstallerPin ReadPin(const char16_t* fragment, std::uint8_t* digest) {
  if (!StartsWithPinKey(fragment)) return InstallerPin::kNone;
  return ReadDigest(fragment + kPinKeyLength, digest) ? InstallerPin::kPinned : InstallerPin::kMalformed;
}

}  // namespace

const char16_t* ChooseDownloadUrl(const char16_t* tagUrl) {
  return tagUrl != nullptr ? tagUrl : kDefaultDownloadUrl;
}

bool PrepareDownload(const char16_t* url, DownloadRequest& request) {
  request.pin = InstallerPin::kNone;
  if (!CopyUtf16String(url, request.url, kDownloadUrlCapacity)) return false;
  for (char16_t* unit = request.url; *unit != 0; ++unit) {
    if (*unit == u'#') {
      *unit = 0;
      request.pin = ReadPin(unit + 1, request.digest);
      break;
    }
  }
  return true;
}

UrlSet UsableUrls(const char* const (&mirrorUrls)[2]) {
  UrlSet usable = UrlBit(0);
  for (int i = 0; i < 2; ++i) {
    if (mirrorUrls[i] != nullptr && SentLength(mirrorUrls[i]) < kDownloadUrlCapacity)
      usable |= UrlBit(i + 1);
  }
  return usable;
}

void PrepareMirror(const char* mirror, DownloadRequest& request) {
  const std::size_t length = SentLength(mirror);
  for (std::size_t i = 0; i < length; ++i) request.url[i] = static_cast<unsigned char>(mirror[i]);
  request.url[length] = 0;
}
