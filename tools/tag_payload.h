// Building a setup tag's payload and trailer from UTF-8 texts.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tag/tag_signature.h"
#include "tag/tag_trailer.h"

// Each field absent (nullopt), empty, or a text. Texts are UTF-8.
struct TagTexts {
  std::optional<std::string> headline;
  std::optional<std::string> launchArgument;
  std::optional<std::string> downloadUrl;
  // The splash's texts; absent, the program's built-in English. Initialised,
  // so that a brace list of the first three may leave them out.
  std::optional<std::string> failureText{};
  std::optional<std::string> hint{};  // at most one line break (LF): the splash's two lines
  std::optional<std::string> cancelQuestion{};
  std::optional<std::string> cancelTitle{};
  // The fallback page's link text; absent, the program's built-in English.
  std::optional<std::string> fallbackText{};
  // ASCII 0x21 to 0x7E each, none empty (tools/tag_urls.h holds what the
  // URLs must further be).
  std::vector<std::string> mirrorUrls{};  // at most kTagMirrorLimit, in the order tried
  std::optional<std::string> fallbackPage{};
  std::optional<std::string> pingUrl{};
  std::optional<std::string> textsLanguage{};  // a well-formed BCP 47 tag
};

inline constexpr std::size_t kTagMirrorLimit = 2;

using TagPayload = std::array<std::uint8_t, kTrailerPayloadSize>;
using Trailer = std::array<std::uint8_t, kTrailerSize>;

// UTF-16 units of a UTF-8 text. Throws ToolError (usage) naming `field` for
// invalid UTF-8 or an embedded NUL, which would end the string early.
std::u16string Utf16OfUtf8(std::string_view text, const std::string& field);

// UTF-8 of a tag string, unpaired surrogates shown as U+FFFD.
std::string Utf8OfTagString(const char16_t* text);

// The payload bytes the present fields take, end bytes included. Throws
// ToolError (usage) for a text that is not UTF-8.
std::size_t TagPayloadBytesNeeded(const TagTexts& texts);

// The records 1, 2, 3 for the present fields and the 0 end byte; when any of
// records 17 to 20 or an ASCII record is present, the more-records byte,
// records 17 to 20, the ASCII records 33 to 36 and an end byte; when the
// fallback text is present, the later-records byte, record 21 and an end
// byte; then zero fill. Throws ToolError (usage) when they do not fit, saying
// by how many bytes, for a control character in any text (the hint may hold
// one line break), a launch argument holding a double quote or ending in a
// backslash, an ASCII field that is empty or holds another byte, more than
// two mirrors, and a texts language that is not a well-formed tag.
TagPayload BuildTagPayload(const TagTexts& texts);

// What every trailer this tool writes begins with.
inline constexpr std::uint8_t kTrailerLeadingByte = 1;

// The leading byte, the signature, the payload.
Trailer AssembleTrailer(const std::array<std::uint8_t, kSignatureSize>& signature,
                        const TagPayload& payload);
