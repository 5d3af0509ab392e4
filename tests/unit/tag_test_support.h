// Shared by the tag tests: the development key, a second key, signed
// trailers, and payloads built record by record.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "tag/tag_trailer.h"
#include "tools/tag_keys.h"
#include "tools/tag_payload.h"

EVP_PKEY* DevelopmentKey();
// A second RSA-2048 key made once per test run.
EVP_PKEY* OtherKey();
const TagKey& DevelopmentTagKey();

// A trailer over `payload` signed by `key`.
Trailer SignedTrailer(const TagPayload& payload, EVP_PKEY* key = DevelopmentKey());

// Payload bytes put down in order; the rest of the 767 bytes stay zero.
class PayloadBuilder {
 public:
  PayloadBuilder& Bytes(std::initializer_list<std::uint8_t> bytes);
  // UTF-16LE units without a zero unit.
  PayloadBuilder& Units(std::u16string_view text);
  // A record: type byte, UTF-16LE text, zero unit.
  PayloadBuilder& Record(std::uint8_t type, std::u16string_view text);
  // An ASCII record: type byte, the bytes of `text`, a 0 byte.
  PayloadBuilder& Ascii(std::uint8_t type, std::string_view text);
  // Moves to `offset`, which must not lie behind what is already written,
  // filling the gap with `fill` (0x09 is a type byte that carries nothing).
  PayloadBuilder& At(std::size_t offset, std::uint8_t fill = 0);
  // Fills with `byte` up to the payload's end.
  PayloadBuilder& FillToEnd(std::uint8_t byte);
  TagPayload Build() const;

 private:
  std::vector<std::uint8_t> bytes_;
};

// The units of a tag string, read without dereferencing it; "<absent>" for null.
std::u16string TextOf(const char16_t* text);
