#include <openssl/sha.h>

#include <gtest/gtest.h>

#include <string_view>

#include <cstring>
#include <string>
#include <vector>

#include "download/download_url.h"
#include "tools/tag_keys.h"

namespace {

// SHA-256 of "abc", in lower and in upper case.
const std::u16string kLower = u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::u16string kUpper = u"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
const std::string kDigest = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

struct PinCase {
  const char* name;
  std::u16string url;
  std::u16string requested;  // what the server is asked for
  InstallerPin pin;
};

const PinCase kPinCases[] = {
    {"no fragment", u"https://d.test/a.exe?v=1", u"https://d.test/a.exe?v=1", InstallerPin::kNone},
    {"empty fragment", u"https://d.test/a.exe#", u"https://d.test/a.exe", InstallerPin::kNone},
    {"other fragment", u"https://d.test/a.exe#top", u"https://d.test/a.exe", InstallerPin::kNone},
    {"key without =", u"https://d.test/a.exe#sha256", u"https://d.test/a.exe", InstallerPin::kNone},
    {"pin after another fragment", u"https://d.test/a#x#sha256=" + kLower, u"https://d.test/a",
     InstallerPin::kNone},
    {"pin", u"https://d.test/a.exe#sha256=" + kLower, u"https://d.test/a.exe", InstallerPin::kPinned},
    {"upper-case digits", u"https://d.test/a.exe#sha256=" + kUpper, u"https://d.test/a.exe",
     InstallerPin::kPinned},
    {"upper-case key", u"https://d.test/a.exe#SHA256=" + kLower, u"https://d.test/a.exe",
     InstallerPin::kPinned},
    {"pin alone", u"#sha256=" + kLower, u"", InstallerPin::kPinned},
    {"no digits", u"https://d.test/a.exe#sha256=", u"https://d.test/a.exe", InstallerPin::kMalformed},
    {"63 digits", u"https://d.test/a.exe#sha256=" + kLower.substr(1), u"https://d.test/a.exe",
     InstallerPin::kMalformed},
    {"65 digits", u"https://d.test/a.exe#sha256=" + kLower + u"0", u"https://d.test/a.exe",
     InstallerPin::kMalformed},
    {"a non-hex digit", u"https://d.test/a.exe#sha256=g" + kLower.substr(1), u"https://d.test/a.exe",
     InstallerPin::kMalformed},
    {"a non-hex last digit", u"https://d.test/a.exe#sha256=" + kLower.substr(1) + u"x",
     u"https://d.test/a.exe", InstallerPin::kMalformed},
    {"more after the digits", u"https://d.test/a.exe#sha256=" + kLower + u"&x=1", u"https://d.test/a.exe",
     InstallerPin::kMalformed},
};

TEST(DownloadPin, CutsTheFragmentAndReadsThePin) {
  for (const PinCase& test : kPinCases) {
    // One byte into the buffer: a tag string may begin at an odd address.
    std::vector<unsigned char> bytes(1 + (test.url.size() + 1) * sizeof(char16_t));
    std::memcpy(bytes.data() + 1, test.url.c_str(), bytes.size() - 1);
    DownloadRequest request;
    ASSERT_TRUE(PrepareDownload(reinterpret_cast<const char16_t*>(bytes.data() + 1), request)) << test.name;
    EXPECT_EQ(std::u16string(request.url), test.requested) << test.name;
    EXPECT_EQ(request.pin, test.pin) << test.name;
    if (test.pin == InstallerPin::kPinned) {
      EXPECT_EQ(HexOf(request.digest, kSha256DigestSize), kDigest) << test.name;
    }
  }
}

TEST(DownloadPin, RefusesAUrlLongerThanATagCanHold) {
  DownloadRequest request;
  const std::u16string longest(kDownloadUrlCapacity - 1, u'u');
  EXPECT_TRUE(PrepareDownload(longest.c_str(), request));
  EXPECT_FALSE(PrepareDownload((longest + u"u").c_str(), request));
}

// A mirror is widened up to its fragment, which may repeat the pin but is
// never read: the download URL's pin stays. One whose part before the
// fragment does not fit is skipped, never cut.
TEST(DownloadMirror, KeepsThePinAndSkipsAMirrorTooLongToSend) {
  DownloadRequest request;
  ASSERT_TRUE(PrepareDownload((u"https://d.test/a.exe#sha256=" + kLower).c_str(), request));
  const std::string fits(kDownloadUrlCapacity - 1, 'm'), pinned = "http://m.test/a.exe#sha256=" + std::string(64, '0');
  for (const std::string& mirror : {std::string("https://m.test/b.exe"), pinned, fits + "#x"}) {
    SCOPED_TRACE(mirror.size());
    const char* mirrors[2] = {mirror.c_str(), nullptr};
    ASSERT_EQ(UsableUrls(mirrors), UrlBit(0) | UrlBit(1));
    PrepareMirror(mirror.c_str(), request);
    const std::string sent = mirror.substr(0, mirror.find('#'));
    EXPECT_EQ(std::u16string(request.url), std::u16string(sent.begin(), sent.end()));
    EXPECT_EQ(request.pin, InstallerPin::kPinned);
    EXPECT_EQ(HexOf(request.digest, kSha256DigestSize), kDigest);
  }
  const std::string tooLong = fits + "m";
  const char* mirrors[2] = {tooLong.c_str(), "https://m.test/c.exe"};
  EXPECT_EQ(UsableUrls(mirrors), UrlBit(0) | UrlBit(2));
  const char* none[2] = {nullptr, nullptr};
  EXPECT_EQ(UsableUrls(none), UrlBit(0));
}

TEST(DownloadUrl, NullSelectsTheBuiltInUrlAndAnyTagUrlIsKeptEvenEmpty) {
  EXPECT_EQ(ChooseDownloadUrl(nullptr), kDefaultDownloadUrl);
  EXPECT_EQ(std::u16string_view(kDefaultDownloadUrl).substr(0, 8), u"https://");
  EXPECT_TRUE(std::u16string_view(kDefaultDownloadUrl).ends_with(u"/client/download"));
  const char16_t tagUrl[] = u"http://127.0.0.1:8/x.exe";
  EXPECT_EQ(ChooseDownloadUrl(tagUrl), tagUrl);
  const char16_t empty[] = u"";
  EXPECT_EQ(ChooseDownloadUrl(empty), empty);
}

}  // namespace
