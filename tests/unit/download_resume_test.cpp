#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>

#include "download/download_resume.h"

namespace {

FileIdentity Identify(const char16_t* etag, const char16_t* lastModified, std::uint32_t length) {
  FileIdentity identity;
  IdentifyFile(etag, lastModified, length, identity);
  return identity;
}

constexpr char16_t kDate[] = u"Wed, 09 Dec 2026 22:00:00 GMT";

TEST(ResumeValidator, IsTheStrongEntityTagElseTheDateElseNone) {
  const std::u16string_view longTag =
      u"\"0123456789012345678901234567890123456789012345678901234567890123456789\"";
  struct Case {
    const char16_t* etag;
    const char16_t* lastModified;
    std::u16string_view validator;
  };
  const Case cases[] = {
      {u"\"v2-5mb\"", kDate, u"\"v2-5mb\""},
      {u"\"v2-5mb\"", u"", u"\"v2-5mb\""},
      {u"W/\"v2-5mb\"", kDate, kDate},  // weak: If-Range may not carry it
      {u"W/\"v2-5mb\"", u"", u""},
      {u"", kDate, kDate},
      {u"v2-5mb", kDate, kDate},        // not quoted: no entity tag
      {u"\"", kDate, kDate},
      {u"", u"", u""},
      {longTag.data(), u"", longTag},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::u16string_view(c.etag).size() << " units of tag");
    EXPECT_EQ(std::u16string_view(Identify(c.etag, c.lastModified, 9).validator.Text()),
              c.validator);
  }
}

TEST(ResumeDecision, AsksForTheRestOnlyOfAKnownFileWithSomeButNotAllOfItKept) {
  const FileIdentity tagged = Identify(u"\"a\"", u"", 1000), dated = Identify(u"", kDate, 1000),
                     bare = Identify(u"", u"", 1000), unsized = Identify(u"\"a\"", kDate, 0);
  FileIdentity taggedByMirror = tagged;
  taggedByMirror.url = 2;
  struct Case {
    const char* name;
    std::uint32_t kept;
    const FileIdentity& identity;
    std::uint8_t url;  // the URL of the next attempt; the kept bytes came from 0
    bool resume;
  };
  const Case cases[] = {
      {"850 of 1000, tagged", 850, tagged, 0, true},
      {"1 of 1000, dated", 1, dated, 0, true},
      {"999 of 1000", 999, tagged, 0, true},
      {"nothing kept", 0, tagged, 0, false},
      {"all kept", 1000, tagged, 0, false},
      {"more than all", 1001, tagged, 0, false},
      {"no validator", 850, bare, 0, false},
      {"no length", 850, unsized, 0, false},
      // From another URL, only the strong entity tag names the same bytes.
      {"tagged, from a mirror", 850, tagged, 1, true},
      {"tagged by a mirror, from the download URL", 850, taggedByMirror, 0, true},
      {"dated, from a mirror", 850, dated, 1, false},
      {"nothing kept, from a mirror", 0, tagged, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ShouldResume(c.kept, c.identity, c.url), c.resume);
  }
}

TEST(ResumeDecision, TheRequestNamesTheFirstByteNotKeptAndTheValidator) {
  ResumeHeaders tagged, dated, large;
  ASSERT_TRUE(ComposeResumeHeaders(4456448, Identify(u"\"v1\"", kDate, 5242880), tagged));
  EXPECT_EQ(std::u16string_view(tagged.Text()),
            u"Range: bytes=4456448-\r\nIf-Range: \"v1\"\r\n");
  ASSERT_TRUE(ComposeResumeHeaders(1, Identify(u"W/\"v1\"", kDate, 2), dated));
  EXPECT_EQ(std::u16string_view(dated.Text()),
            u"Range: bytes=1-\r\nIf-Range: Wed, 09 Dec 2026 22:00:00 GMT\r\n");
  ASSERT_TRUE(ComposeResumeHeaders(4294967294u, Identify(u"\"v\"", u"", 4294967295u), large));
  EXPECT_EQ(std::u16string_view(large.Text()), u"Range: bytes=4294967294-\r\nIf-Range: \"v\"\r\n");
}

TEST(ResumeAnswer, OnlyA206ForAllTheRestOfTheSameLengthContinuesTheFile) {
  struct Case {
    const char* name;
    bool askedRest;
    std::uint32_t status;
    const char16_t* contentRange;
    AnswerFit fit;
  };
  // 850 of 1000 bytes kept.
  const Case cases[] = {
      {"the rest", true, 206, u"bytes 850-999/1000", AnswerFit::kContinues},
      {"the whole file: ignored Range, or a new version", true, 200, u"", AnswerFit::kWholeFile},
      {"the whole file, asked so", false, 200, u"", AnswerFit::kWholeFile},
      {"no HTTP", false, 0, u"", AnswerFit::kWholeFile},
      {"another 2xx", false, 203, u"", AnswerFit::kWholeFile},
      {"a wrong start", true, 206, u"bytes 0-999/1000", AnswerFit::kRefused},
      {"a start past the kept bytes", true, 206, u"bytes 851-999/1000", AnswerFit::kRefused},
      {"another length", true, 206, u"bytes 850-1099/1100", AnswerFit::kRefused},
      {"another length, same end", true, 206, u"bytes 850-999/1100", AnswerFit::kRefused},
      {"a part of the rest", true, 206, u"bytes 850-899/1000", AnswerFit::kRefused},
      {"an unknown length", true, 206, u"bytes 850-999/*", AnswerFit::kRefused},
      {"another unit", true, 206, u"items 850-999/1000", AnswerFit::kRefused},
      {"trailing text", true, 206, u"bytes 850-999/1000 ", AnswerFit::kRefused},
      {"leading zeros", true, 206, u"bytes 0850-999/1000", AnswerFit::kRefused},
      {"no Content-Range", true, 206, u"", AnswerFit::kRefused},
      {"a 206 nobody asked for", false, 206, u"bytes 850-999/1000", AnswerFit::kRefused},
      {"416", true, 416, u"bytes */1000", AnswerFit::kRefused},
      {"416 to a request for all", false, 416, u"", AnswerFit::kErrorPage},
      {"503", true, 503, u"", AnswerFit::kErrorPage},
      {"404", false, 404, u"", AnswerFit::kErrorPage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(JudgeAnswer(c.askedRest, c.status, c.contentRange, 850, 1000), c.fit);
  }
  // Counts up to the largest 32-bit length are composed whole; with the
  // length unknown, no range continues the file.
  EXPECT_EQ(JudgeAnswer(true, 206, u"bytes 850-4294967294/4294967295", 850, 4294967295u),
            AnswerFit::kContinues);
  EXPECT_EQ(JudgeAnswer(true, 206, u"bytes 850-4294967295/0", 850, 0), AnswerFit::kRefused);
}

}  // namespace
