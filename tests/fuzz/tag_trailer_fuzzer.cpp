// Fuzzes what the program does with a file's last 1024 bytes: the signature
// check on any signature value, and the payload walk on any payload (the walk
// is driven directly, since random payloads are never signed).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/utf16_string.h"
#include "tag/tag_trailer.h"

namespace {

// Each field must be null or a string that ends, zero unit included, inside
// the payload.
void CheckField(const char16_t* field, const std::uint8_t* payload) {
  if (field == nullptr) return;
  const auto* start = reinterpret_cast<const std::uint8_t*>(field);
  if (start <= payload || start >= payload + kTrailerPayloadSize) std::abort();
  const std::size_t bytes = 2 * (Utf16Length(field) + 1);
  if (bytes > static_cast<std::size_t>(payload + kTrailerPayloadSize - start)) std::abort();
}

// Likewise for an ASCII field, whose bytes before its 0 are all 0x21 to 0x7E.
void CheckAsciiField(const char* field, const std::uint8_t* payload) {
  if (field == nullptr) return;
  const auto* start = reinterpret_cast<const std::uint8_t*>(field);
  if (start <= payload || start >= payload + kTrailerPayloadSize) std::abort();
  for (const std::uint8_t* byte = start;; ++byte) {
    if (byte == payload + kTrailerPayloadSize) std::abort();
    if (*byte == 0) break;
    if (*byte < 0x21 || *byte > 0x7E) std::abort();
  }
}

void CheckFields(const TagFields& fields, const std::uint8_t* payload) {
  for (const char16_t* field : {fields.headline, fields.launchArgument, fields.downloadUrl, fields.failureText,
                                fields.hint, fields.cancelQuestion, fields.cancelTitle, fields.fallbackText}) {
    CheckField(field, payload);
  }
  for (const char* field : {fields.mirrorUrls[0], fields.mirrorUrls[1], fields.fallbackPage, fields.pingUrl,
                            fields.textsLanguage}) {
    CheckAsciiField(field, payload);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The input is a trailer, cut or zero-filled to 1024 bytes. Each buffer is a
  // heap block of exactly its size, so AddressSanitizer reports any read past
  // the trailer's or the payload's last byte.
  const std::size_t taken = std::min(size, kTrailerSize);
  auto trailer = std::make_unique<std::uint8_t[]>(kTrailerSize);
  std::memcpy(trailer.get(), data, taken);
  auto payload = std::make_unique<std::uint8_t[]>(kTrailerPayloadSize);
  std::memcpy(payload.get(), trailer.get() + kTrailerPayloadOffset, kTrailerPayloadSize);

  CheckFields(WalkTagPayload(payload.get()), payload.get());

  // The check must leave the trailer as it was, whatever its result.
  auto before = std::make_unique<std::uint8_t[]>(kTrailerSize);
  std::memcpy(before.get(), trailer.get(), kTrailerSize);
  const TagFields parsed = ParseSetupTag(trailer.get(), compiledTagKey);
  if (std::memcmp(before.get(), trailer.get(), kTrailerSize) != 0) std::abort();
  CheckFields(parsed, trailer.get() + kTrailerPayloadOffset);
  return 0;
}
