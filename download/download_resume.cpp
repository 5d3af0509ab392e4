#include "download/download_resume.h"

#include "download/download_attempt.h"

namespace {

bool SameText(const char16_t* a, const char16_t* b) {
  while (*a != 0 && *a == *b) ++a, ++b;
  return *a == *b;
}

bool IsStrongEntityTag(const char16_t* etag) {
  std::size_t length = 0;
  while (etag[length] != 0) ++length;
  return length >= 2 && etag[0] == u'"' && etag[length - 1] == u'"';
}

}  // namespace

void IdentifyFile(const char16_t* etag, const char16_t* lastModified, std::uint32_t length,
                  FileIdentity& identity) {
  identity.length = length;
  // A weak tag, "W/" first, does not begin with the quote.
  identity.validator.Append(IsStrongEntityTag(etag) ? etag : lastModified);
}

bool ShouldResume(std::uint32_t kept, const FileIdentity& identity, std::uint8_t url) {
  return kept > 0 && kept < identity.length && identity.validator.Length() > 0 &&
         (url == identity.url || identity.validator.Text()[0] == u'"');
}

bool ComposeResumeHeaders(std::uint32_t kept, const FileIdentity& identity,
                          ResumeHeaders& headers) {
  return headers.Append(u"Range: bytes=") && AppendCount(headers, kept) &&
         headers.Append(u"-\r\nIf-Range: ") && headers.Append(identity.validator.Text()) &&
         headers.Append(u"\r\n");
}

AnswerFit JudgeAnswer(bool askedRest, std::uint32_t status, const char16_t* contentRange,
                      std::uint32_t kept, std::uint32_t length) {
  if (status == 206 || (status == 416 && askedRest)) {
    // Only a request for the rest has kept < length. The longest range text
    // takes 38 units, so no append is refused.
    ComposedText rest;
    rest.Append(u"bytes ");
    AppendCount(rest, kept);
    rest.Append(u"-");
    AppendCount(rest, length - 1);
    rest.Append(u"/");
    AppendCount(rest, length);
    const bool continues =
        askedRest && status == 206 && kept < length && SameText(contentRange, rest.Text());
    return continues ? AnswerFit::kContinues : AnswerFit::kRefused;
  }
  return IsErrorResponse(status) ? AnswerFit::kErrorPage : AnswerFit::kWholeFile;
}
