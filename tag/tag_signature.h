// RSASSA-PKCS1-v1_5 / SHA-256 signature check of the setup tag: the public
// operation with e = 65537 on fixed 64-word numbers in Montgomery form
// (tag/montgomery.h), no heap and no state kept between calls.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "tag/tag_key.h"

inline constexpr std::size_t kSignatureSize = 256;
inline constexpr std::size_t kSignaturePrefixSize = 224;

inline constexpr std::uint8_t kSha256DigestInfoHeader[] = {
    0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
    0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20,
};

constexpr std::array<std::uint8_t, kSignaturePrefixSize> MakeSignaturePrefix() {
  std::array<std::uint8_t, kSignaturePrefixSize> prefix{};
  constexpr std::size_t kHeaderStart = kSignaturePrefixSize - sizeof kSha256DigestInfoHeader;
  prefix[1] = 0x01;
  for (std::size_t i = 2; i < kHeaderStart - 1; ++i) prefix[i] = 0xFF;
  for (std::size_t i = 0; i < sizeof kSha256DigestInfoHeader; ++i) {
    prefix[kHeaderStart + i] = kSha256DigestInfoHeader[i];
  }
  return prefix;
}

// The EMSA-PKCS1-v1_5 encoding for a 256-byte modulus and SHA-256, up to the
// digest:  00 01 | FF x 202 | 00 | DigestInfo header (19 bytes).
inline constexpr std::array<std::uint8_t, kSignaturePrefixSize> SignaturePrefix = MakeSignaturePrefix();
static_assert(SignaturePrefix[203] == 0xFF && SignaturePrefix[204] == 0x00 &&
              SignaturePrefix[205] == 0x30 && SignaturePrefix[223] == 0x20);

// True when `signature` (256 bytes, most significant first; left unchanged)
// is a genuine signature of `digest` (32 bytes) under `key`.
bool VerifyTagSignature(const std::uint8_t* signature, const std::uint8_t* digest,
                        const TagKey& key);
// The same check under the compiled-in key.
bool VerifyTagSignature(const std::uint8_t* signature, const std::uint8_t* digest);
