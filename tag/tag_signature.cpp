#include "tag/tag_signature.h"

#include <cstring>

#include "tag/montgomery.h"

bool IsAtLeastModulus(const TagNumber& x, const TagKey& key) {
  for (int j = kNumberWords - 1; j >= 0; --j) {
    if (x[j] != key.modulus[j]) return x[j] > key.modulus[j];
  }
  return true;
}

void SubtractModulus(TagNumber& x, const TagKey& key) {
  std::int64_t accumulator = 0;
  for (int j = 0; j < kNumberWords; ++j) {
    accumulator += static_cast<std::int64_t>(x[j]) - static_cast<std::int64_t>(key.modulus[j]);
    x[j] = static_cast<std::uint32_t>(accumulator);
    // Arithmetic shift: the borrow is 0 or -1.
    accumulator >>= 32;
  }
}

namespace {

// The word step's loop, returning the carry out of the top word. The restrict
// pointers (c is distinct from b and from the key) let the compiler keep the
// loop in registers instead of reloading after each store to c.
std::uint32_t AccumulateWordStep(std::uint32_t* __restrict c, std::uint32_t w,
                                 const std::uint32_t* __restrict b,
                                 const std::uint32_t* __restrict n, std::uint32_t negInverse) {
  const std::uint64_t w64 = w;
  // Every sum below is at most (2^32 - 1) + (2^32 - 1)^2 + (2^32 - 1)
  // = 2^64 - 1, so none overflows 64 bits.
  std::uint64_t a = w64 * b[0] + c[0];
  const std::uint64_t d = static_cast<std::uint32_t>(static_cast<std::uint32_t>(a) * negInverse);
  std::uint64_t m = d * n[0] + static_cast<std::uint32_t>(a);  // its low word is 0
  for (int j = 1; j < kNumberWords; ++j) {
    a = (a >> 32) + w64 * b[j] + c[j];
    m = (m >> 32) + d * n[j] + static_cast<std::uint32_t>(a);
    c[j - 1] = static_cast<std::uint32_t>(m);
  }
  a = (a >> 32) + (m >> 32);
  c[kNumberWords - 1] = static_cast<std::uint32_t>(a);
  return static_cast<std::uint32_t>(a >> 32);
}

}  // namespace

void MontgomeryAccumulate(TagNumber& c, std::uint32_t w, const TagNumber& b, const TagKey& key) {
  // The dropped carry (2^2048) and the borrow SubtractModulus drops cancel.
  if (AccumulateWordStep(c, w, b, key.modulus, key.negInverse) != 0) SubtractModulus(c, key);
}

void MontgomeryMultiply(TagNumber& c, const TagNumber& a, const TagNumber& b, const TagKey& key) {
  std::memset(c, 0, sizeof(TagNumber));
  for (int i = 0; i < kNumberWords; ++i) MontgomeryAccumulate(c, a[i], b, key);
}

void RsaPublicOperation(std::uint8_t* block, const TagKey& key) {
  TagNumber s;
  TagNumber aR;
  TagNumber t;
  ReadNumber(block, s);
  MontgomeryMultiply(aR, s, key.rSquared, key);
  // 16 squarings: aR = s^65536 * R.
  for (int round = 0; round < 8; ++round) {
    MontgomeryMultiply(t, aR, aR, key);
    MontgomeryMultiply(aR, t, t, key);
  }
  // Multiplying by the plain s leaves Montgomery form: t = s^65537 (mod n).
  MontgomeryMultiply(t, aR, s, key);
  // Every product is below 2^2048 < 2n (the top bit of n is set), so one
  // subtraction reduces fully.
  if (IsAtLeastModulus(t, key)) SubtractModulus(t, key);
  WriteNumber(t, block);
}

bool VerifyTagSignature(const std::uint8_t* signature, const std::uint8_t* digest,
                        const TagKey& key) {
  std::uint8_t block[kSignatureSize];
  std::memcpy(block, signature, kSignatureSize);
  RsaPublicOperation(block, key);
  for (std::size_t i = 0; i < kSignaturePrefixSize; ++i) {
    if (block[i] != SignaturePrefix[i]) return false;
  }
  for (std::size_t i = kSignaturePrefixSize; i < kSignatureSize; ++i) {
    if (block[i] != digest[i - kSignaturePrefixSize]) return false;
  }
  return true;
}

bool VerifyTagSignature(const std::uint8_t* signature, const std::uint8_t* digest) {
  return VerifyTagSignature(signature, digest, compiledTagKey);
}
