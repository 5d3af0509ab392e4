// The 2048-bit arithmetic under the tag signature check, in Montgomery form
// with R = 2^2048. Kept out of tag_signature.h so that callers of the check
// see only the check; the tool that derives keys and the tests that pin each
// step against OpenSSL include it.
#pragma once

#include <cstdint>

#include "tag/tag_key.h"

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
