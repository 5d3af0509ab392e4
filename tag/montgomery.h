// The 2048-bit arithmetic under the tag signature check, in Montgomery form
// with R = 2^2048. Kept out of tag_signature.h so that callers of the check
// see only the check; the tool that derives keys and the tests that pin each
// step against OpenSSL include it.
#pragma once

#include <cstdint>

#include "base/byte_order.h"
#include "tag/tag_key.h"

// Word i of the number is bytes 252 - 4i .. 255 - 4i of the 256-byte block,
// most significant first as RSA signatures are written. Inline, so that the
// check folds each into its one caller instead of paying for calls in the exe.
inline void ReadNumber(const std::uint8_t* block, TagNumber& number) {
  for (int i = 0; i < kNumberWords; ++i)
    number[i] = LoadBigEndian32(block + 4 * (kNumberWords - 1 - i));
}

inline void WriteNumber(const TagNumber& number, std::uint8_t* block) {
  for (int j = 0; j < kNumberWords; ++j)
    StoreBigEndian32(number[kNumberWords - 1 - j], block + 4 * j);
}

// Replaces the 256-byte block's value s by s^65537 mod n.
void RsaPublicOperation(std::uint8_t* block, const TagKey& key);

// c = a * b * 2^-2048 (mod n), below 2^2048. c MUST be distinct from a and b.
void MontgomeryMultiply(TagNumber& c, const TagNumber& a, const TagNumber& b, const TagKey& key);

// One word step of the product: c = (c + w * b + d * n) / 2^32 with d chosen
// so the division is exact. c MUST be distinct from b.
void MontgomeryAccumulate(TagNumber& c, std::uint32_t w, const TagNumber& b, const TagKey& key);

// True when x >= n.
bool IsAtLeastModulus(const TagNumber& x, const TagKey& key);

// x = x - n mod 2^2048.
void SubtractModulus(TagNumber& x, const TagKey& key);
