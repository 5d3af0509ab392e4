#include "tools/tag_payload.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "base/utf16_string.h"
#include "tools/language_tag.h"
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

// The present fields of one list, as records in the order they are written.
using RecordList = std::vector<std::pair<TagRecordType, std::u16string>>;
using AsciiRecordList = std::vector<std::pair<TagRecordType, std::string>>;

struct RecordLists {
  RecordList first;      // records 1 to 3, which every reader reads
  RecordList more;       // records 17 to 20, behind the more-records byte
  AsciiRecordList ascii;  // records 33 to 36, after them
  RecordList later;      // record 21, behind the later-records byte
};

void AppendRecords(std::vector<std::uint8_t>& bytes, const RecordList& list) {
  for (const auto& [type, text] : list) {
    bytes.push_back(type);
    for (const char16_t unit : text) {
      bytes.push_back(static_cast<std::uint8_t>(unit));
      bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
  }
}

void AppendAsciiRecords(std::vector<std::uint8_t>& bytes, const AsciiRecordList& list) {
  for (const auto& [type, text] : list) {
    bytes.push_back(type);
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
  }
}

std::size_t ListSize(const RecordList& list) {
  std::size_t size = 0;
  for (const auto& record : list) size += 1 + 2 * (record.second.size() + 1);
  return size;
}

std::size_t ListSize(const AsciiRecordList& list) {
  std::size_t size = 0;
  for (const auto& record : list) size += 1 + record.second.size() + 1;
  return size;
}

bool HasMoreRecords(const RecordLists& lists) { return !lists.more.empty() || !lists.ascii.empty(); }

// The end byte after the first list; the more-records byte and an end byte
// around the next, and the later-records byte and an end byte around the
// last, each when it holds any record.
std::size_t BytesNeeded(const RecordLists& lists) {
  return ListSize(lists.first) + 1 +
         (HasMoreRecords(lists) ? 1 + ListSize(lists.more) + ListSize(lists.ascii) + 1 : 0) +
         (lists.later.empty() ? 0 : 1 + ListSize(lists.later) + 1);
}

// U+0000 to U+001F and U+007F, which only ever come as single bytes in UTF-8;
// up to `lineBreaks` line feeds are let through.
void RequireNoControlCharacters(std::string_view text, const std::string& field, int lineBreaks = 0) {
  int linesLeft = lineBreaks;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte == '\n' && lineBreaks > 0) {
      if (linesLeft-- == 0) {
        RejectText(field, "line break at byte " + std::to_string(at) + " begins a line too many: it has " +
                              std::to_string(lineBreaks + 1) + " lines at most");
      }
    } else if (byte < 0x20 || byte == 0x7F) {
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

struct FieldRule {
  TagRecordType type;
  std::optional<std::string> TagTexts::*text;
  const char* name;
  int lineBreaks;
};

// Every field, in the order its list holds it.
constexpr FieldRule kFirstFields[] = {
    {kTagHeadlineRecord, &TagTexts::headline, "--headline", 0},
    {kTagLaunchArgumentRecord, &TagTexts::launchArgument, "--launch-argument", 0},
    {kTagDownloadUrlRecord, &TagTexts::downloadUrl, "--download-url", 0},
};
// The splash's hint is drawn on two lines.
constexpr FieldRule kMoreFields[] = {
    {kTagFailureTextRecord, &TagTexts::failureText, "--failure-text", 0},
    {kTagHintRecord, &TagTexts::hint, "--hint", 1},
    {kTagCancelQuestionRecord, &TagTexts::cancelQuestion, "--cancel-question", 0},
    {kTagCancelTitleRecord, &TagTexts::cancelTitle, "--cancel-title", 0},
};
constexpr FieldRule kLaterFields[] = {
    {kTagFallbackTextRecord, &TagTexts::fallbackText, "--fallback-text", 0},
};

struct AsciiFieldRule {
  TagRecordType type;
  std::optional<std::string> TagTexts::*text;
  const char* name;
};

constexpr AsciiFieldRule kAsciiFields[] = {
    {kTagFallbackPageRecord, &TagTexts::fallbackPage, "--fallback-page"},
    {kTagPingUrlRecord, &TagTexts::pingUrl, "--ping-url"},
    {kTagTextsLanguageRecord, &TagTexts::textsLanguage, "--texts-language"},
};

// An ASCII record can hold neither a 0 nor, for readers that know only
// records 17 to 20, a byte that could read as one of their types: only the
// printable characters but the space. A URL writes others percent-encoded.
void RequirePrintableAscii(const std::string& text, const std::string& field) {
  if (text.empty()) RejectText(field, "empty");
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x21 || byte > 0x7E) {
      RejectText(field, "byte " + std::to_string(at) +
                            " is not a printable ASCII character other than the space (0x21 to 0x7E); "
                            "percent-encode it");
    }
  }
}

AsciiRecordList EncodeAsciiList(const TagTexts& texts, bool checkCharacters) {
  if (texts.mirrorUrls.size() > kTagMirrorLimit) {
    RejectText("--mirror", "at most " + std::to_string(kTagMirrorLimit) + " mirrors, not " +
                               std::to_string(texts.mirrorUrls.size()));
  }
  AsciiRecordList list;
  for (const std::string& mirror : texts.mirrorUrls) {
    if (checkCharacters) RequirePrintableAscii(mirror, "--mirror");
    list.emplace_back(kTagMirrorUrlRecord, mirror);
  }
  for (const AsciiFieldRule& rule : kAsciiFields) {
    const std::optional<std::string>& text = texts.*rule.text;
    if (!text) continue;
    if (checkCharacters) RequirePrintableAscii(*text, rule.name);
    list.emplace_back(rule.type, *text);
  }
  if (checkCharacters && texts.textsLanguage && !IsWellFormedLanguageTag(*texts.textsLanguage)) {
    RejectText("--texts-language", "not a well-formed language tag such as de or pt-BR");
  }
  return list;
}

template <std::size_t count>
RecordList EncodeList(const TagTexts& texts, const FieldRule (&rules)[count], bool checkCharacters) {
  RecordList list;
  for (const FieldRule& rule : rules) {
    const std::optional<std::string>& text = texts.*rule.text;
    if (!text) continue;
    list.emplace_back(rule.type, Utf16OfUtf8(*text, rule.name));
    if (checkCharacters) RequireNoControlCharacters(*text, rule.name, rule.lineBreaks);
  }
  return list;
}

RecordLists EncodeRecords(const TagTexts& texts, bool checkCharacters) {
  return {EncodeList(texts, kFirstFields, checkCharacters), EncodeList(texts, kMoreFields, checkCharacters),
          EncodeAsciiList(texts, checkCharacters), EncodeList(texts, kLaterFields, checkCharacters)};
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

std::size_t TagPayloadBytesNeeded(const TagTexts& texts) { return BytesNeeded(EncodeRecords(texts, false)); }

TagPayload BuildTagPayload(const TagTexts& texts) {
  const RecordLists lists = EncodeRecords(texts, true);
  if (texts.launchArgument) RequireQuotableLaunchArgument(*texts.launchArgument);
  const std::size_t needed = BytesNeeded(lists);
  if (needed > kTrailerPayloadSize) {
    throw ToolError(kExitUsageError,
                    "the strings do not fit the " + std::to_string(kTrailerPayloadSize) +
                        "-byte payload: they need " + std::to_string(needed) + " bytes, " +
                        std::to_string(needed - kTrailerPayloadSize) + " too many");
  }
  std::vector<std::uint8_t> records;
  AppendRecords(records, lists.first);
  if (HasMoreRecords(lists)) {
    records.push_back(kTagEndRecord);
    records.push_back(kTagMoreRecords);
    AppendRecords(records, lists.more);
    AppendAsciiRecords(records, lists.ascii);
  }
  if (!lists.later.empty()) {
    records.push_back(kTagEndRecord);
    records.push_back(kTagLaterRecords);
    AppendRecords(records, lists.later);
  }
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
