// Resuming a cut download: what the answer that began the kept bytes said
// about the whole file, the request for the rest, and whether an answer
// continues the kept bytes. Portable: pure functions of the answer's status
// and header texts, so every case is tested natively.
#pragma once

#include <cstddef>
#include <cstdint>

#include "download/handoff_commands.h"

// The longest ETag or Last-Modified header read, NUL included. An HTTP date
// takes 29 units; a longer entity tag is not read, and after a cut the file
// is then fetched whole again.
inline constexpr std::size_t kValidatorCapacity = 128;
// Of the size the exe's other composed texts have, so that it needs no
// second copy of their code.
using ValidatorText = ComposedText;

// What the 200 that began the kept bytes said about the whole file.
struct FileIdentity {
  std::uint32_t length = 0;  // its Content-Length; 0 when absent
  ValidatorText validator;   // for If-Range; empty when the answer had none
  std::uint8_t url = 0;      // the URL of the copy that gave the answer
};

// The identity a 200 gives, written over `identity` (which starts empty), from its ETag and Last-Modified headers (empty
// texts when absent) and its Content-Length. If-Range takes only a strong
// entity tag (quoted, without "W/"), else the date; with neither, no resume
// is asked.
void IdentifyFile(const char16_t* etag, const char16_t* lastModified, std::uint32_t length,
                  FileIdentity& identity);

// Whether the next attempt, on the copy's URL `url`, asks for the rest of the
// file: some bytes are kept, fewer than the whole, whose length and validator
// are known. Another URL than the one they came from only under a strong
// entity tag, which names the same bytes wherever they are served; a date
// does not.
bool ShouldResume(std::uint32_t kept, const FileIdentity& identity, std::uint8_t url);

// "Range: bytes=N-" and "If-Range: <validator>", each ended by CRLF.
using ResumeHeaders = ComposedText;
bool ComposeResumeHeaders(std::uint32_t kept, const FileIdentity& identity, ResumeHeaders& headers);

enum class AnswerFit : std::uint8_t {
  kContinues,  // a 206 for the rest of the kept bytes' file: append its body
  kWholeFile,  // the file from its first byte (a 200): the kept bytes go first
  kRefused,    // a request for the rest met a 416, or a 206 for other bytes or
               // another length: the kept bytes go, the next attempt asks for all
  kErrorPage,  // an HTTP error: no part of the file, and the kept bytes go
};

// How the answer of `status` (0: no HTTP status) and Content-Range text fits
// the `kept` bytes of a file of `length` bytes; `askedRest` tells whether the
// request asked for the rest. Only a 206 that brings all the rest continues
// it: its range "bytes K-E/L" starts at K = `kept`, ends at E = `length` - 1,
// and names the first answer's length L as the whole.
AnswerFit JudgeAnswer(bool askedRest, std::uint32_t status, const char16_t* contentRange,
                      std::uint32_t kept, std::uint32_t length);
