#include "tag_test_support.h"

#include <openssl/rsa.h>

#include <algorithm>
#include <stdexcept>

#include "base/utf16_string.h"

EVP_PKEY* DevelopmentKey() {
  static const Pkey key = LoadPrivateTagKey(ZORVA_DEVELOPMENT_PRIVATE_KEY);
  return key.get();
}

EVP_PKEY* OtherKey() {
  static const Pkey key(EVP_RSA_gen(2048));
  return key.get();
}

const TagKey& DevelopmentTagKey() {
  static const TagKey key = TagKeyOf(DevelopmentKey());
  return key;
}

Trailer SignedTrailer(const TagPayload& payload, EVP_PKEY* key) {
  return AssembleTrailer(SignWithTagKey(key, payload.data(), payload.size()), payload);
}

PayloadBuilder& PayloadBuilder::Bytes(std::initializer_list<std::uint8_t> bytes) {
  bytes_.insert(bytes_.end(), bytes);
  return *this;
}

PayloadBuilder& PayloadBuilder::Units(std::u16string_view text) {
  for (const char16_t unit : text) {
    bytes_.push_back(static_cast<std::uint8_t>(unit));
    bytes_.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return *this;
}

PayloadBuilder& PayloadBuilder::Record(std::uint8_t type, std::u16string_view text) {
  return Bytes({type}).Units(text).Bytes({0, 0});
}

PayloadBuilder& PayloadBuilder::Ascii(std::uint8_t type, std::string_view text) {
  bytes_.push_back(type);
  bytes_.insert(bytes_.end(), text.begin(), text.end());
  bytes_.push_back(0);
  return *this;
}

PayloadBuilder& PayloadBuilder::At(std::size_t offset, std::uint8_t fill) {
  if (offset < bytes_.size()) throw std::logic_error("PayloadBuilder::At moves backwards");
  bytes_.resize(offset, fill);
  return *this;
}

PayloadBuilder& PayloadBuilder::FillToEnd(std::uint8_t byte) {
  bytes_.resize(kTrailerPayloadSize, byte);
  return *this;
}

TagPayload PayloadBuilder::Build() const {
  if (bytes_.size() > kTrailerPayloadSize) throw std::logic_error("payload longer than 767 bytes");
  TagPayload payload{};
  std::copy(bytes_.begin(), bytes_.end(), payload.begin());
  return payload;
}

std::u16string TextOf(const char16_t* text) {
  if (text == nullptr) return u"<absent>";
  std::u16string units;
  for (std::size_t i = 0; ReadUtf16Unit(text, i) != 0; ++i) units.push_back(ReadUtf16Unit(text, i));
  return units;
}
