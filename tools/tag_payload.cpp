#include "tools/tag_payload.h"

#include <algorithm>
#include <vector>

#include "base/utf16_string.h"
#include "tools/tool_error.h"

namespace {

[[noreturn]] void RejectText(const std::string& field, const std::string& reason) {
  throw ToolError(kExitUsageError, field + ": " + reason);
}

// Decodes one code point at `index`, rejecting overlong forms, surrogates and
// values past U+10FFFF as UTF-8 requires.
char32_t DecodeUtf8(std::string_view text, std::size_t& index, const std::string& field) {
  const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
  const unsigned char lead = byte(index);
  std::size_t length;
  char32_t value;
  char32_t minimum;
  if (lead < 0x80) {
    ++index;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    RejectText(field, "invalid UTF-8 at byte " + std::to_string(index));
  }
  if (index + length > text.size()) RejectText(field, "invalid UTF-8 at byte " + std::to_string(index));
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(index + k) & 0xC0) != 0x80) {
      RejectText(field, "invalid UTF-8 at byte " + std::to_string(index));
    }
    value = (value << 6) | (byte(index + k) & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    RejectText(field, "invalid UTF-8 at byte " + std::to_string(index));
  }
  index += length;
  return value;
}

std::size_t RecordSize(const std::optional<std::u16string>& text) {
  return text ? 1 + 2 * (text->size() + 1) : 0;
}

void AppendRecord(std::vector<std::uint8_t>& records, TagRecordType type,
                  const std::optional<std::u16string>& text) {
  if (!text) return;
  records.push_back(type);
  for (const char16_t unit : *text) {
    records.push_back(static_cast<std::uint8_t>(unit));
    records.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  records.push_back(0);
  records.push_back(0);
}

// U+0000 to U+001F and U+007F, which only ever come as single bytes in UTF-8.
void RequireNoControlCharacters(std::string_view text, const std::string& field) {
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x20 || byte == 0x7F) {
      static const char kDigits[] = "0123456789ABCDEF";
      RejectText(field, std::string("control character U+00") + kDigits[byte >> 4] + kDigits[byte & 0xF] +
                            " at byte " + std::to_string(at));
    }
  }
}

// The program puts the launch argument verbatim inside the double quotes of
// the hand-off's deep-link argument: a double quote would end that argument
// early, and a trailing backslash would escape its closing quote.
void RequireQuotableLaunchArgument(std::string_view text) {
  const std::string field = "--launch-argument";
  if (const std::size_t quote = text.find('"'); quote != std::string_view::npos) {
    RejectText(field, "double quote at byte " + std::to_string(quote) +
                          ", which would end the quoted deep link of the hand-off");
  }
  if (text.ends_with('\\')) {
    RejectText(field, "backslash at its end (byte " + std::to_string(text.size() - 1) +
                          "), which would escape the closing quote of the hand-off's deep link");
  }
}

std::optional<std::u16string> EncodeField(const std::optional<std::string>& text,
                                          const std::string& field) {
  if (!text) return std::nullopt;
  std::u16string units = Utf16OfUtf8(*text, field);
  RequireNoControlCharacters(*text, field);
  return units;
}

}  // namespace

std::u16string Utf16OfUtf8(std::string_view text, const std::string& field) {
  std::u16string units;
  for (std::size_t index = 0; index < text.size();) {
    const std::size_t start = index;
    const char32_t value = DecodeUtf8(text, index, field);
    if (value == 0) RejectText(field, "embedded NUL at byte " + std::to_string(start));
    if (value < 0x10000) {
      units.push_back(static_cast<char16_t>(value));
    } else {
      units.push_back(static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF)));
    }
  }
  return units;
}

std::string Utf8OfTagString(const char16_t* text) {
  std::string out;
  const std::size_t length = Utf16Length(text);
  for (std::size_t i = 0; i < length; ++i) {
    char32_t value = ReadUtf16Unit(text, i);
    if (value >= 0xD800 && value <= 0xDBFF && i + 1 < length &&
        ReadUtf16Unit(text, i + 1) >= 0xDC00 && ReadUtf16Unit(text, i + 1) <= 0xDFFF) {
      value = 0x10000 + ((value - 0xD800) << 10) + (ReadUtf16Unit(text, i + 1) - 0xDC00);
      ++i;
    } else if (value >= 0xD800 && value <= 0xDFFF) {
      value = 0xFFFD;
    }
    if (value < 0x80) {
      out += static_cast<char>(value);
    } else if (value < 0x800) {
      out += static_cast<char>(0xC0 | (value >> 6));
      out += static_cast<char>(0x80 | (value & 0x3F));
    } else if (value < 0x10000) {
      out += static_cast<char>(0xE0 | (value >> 12));
      out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (value & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (value >> 18));
      out += static_cast<char>(0x80 | ((value >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (value & 0x3F));
    }
  }
  return out;
}

TagPayload BuildTagPayload(const TagTexts& texts) {
  const auto headline = EncodeField(texts.headline, "--headline");
  const auto launchArgument = EncodeField(texts.launchArgument, "--launch-argument");
  const auto downloadUrl = EncodeField(texts.downloadUrl, "--download-url");
  if (texts.launchArgument) RequireQuotableLaunchArgument(*texts.launchArgument);
  const std::size_t needed =
      RecordSize(headline) + RecordSize(launchArgument) + RecordSize(downloadUrl) + 1;
  if (needed > kTrailerPayloadSize) {
    throw ToolError(kExitUsageError,
                    "the strings do not fit the " + std::to_string(kTrailerPayloadSize) +
                        "-byte payload: they need " + std::to_string(needed) + " bytes, " +
                        std::to_string(needed - kTrailerPayloadSize) + " too many");
  }
  std::vector<std::uint8_t> records;
  AppendRecord(records, kTagHeadlineRecord, headline);
  AppendRecord(records, kTagLaunchArgumentRecord, launchArgument);
  AppendRecord(records, kTagDownloadUrlRecord, downloadUrl);
  // The end byte and the fill are the zeros after the records.
  TagPayload payload{};
  std::copy(records.begin(), records.end(), payload.begin());
  return payload;
}

Trailer AssembleTrailer(const std::array<std::uint8_t, kSignatureSize>& signature,
                        const TagPayload& payload) {
  Trailer trailer{};
  trailer[0] = kTrailerLeadingByte;
  std::copy(signature.begin(), signature.end(), trailer.begin() + kTrailerSignatureOffset);
  std::copy(payload.begin(), payload.end(), trailer.begin() + kTrailerPayloadOffset);
  return trailer;
}
