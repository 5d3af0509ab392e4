#include <openssl/bn.h>
#include <openssl/sha.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "tag/montgomery.h"
#include "tag/sha256.h"
#include "tag/tag_signature.h"
#include "tag_test_support.h"

namespace {

Bn BnOfWords(const TagNumber& words) {
  std::uint8_t bytes[kSignatureSize];
  WriteNumber(words, bytes);
  return Bn(BN_bin2bn(bytes, sizeof bytes, nullptr));
}

void RandomWords(std::mt19937& random, TagNumber& words) {
  for (auto& word : words) word = random();
}

std::array<std::uint8_t, kSha256DigestSize> DigestOf(const TagPayload& payload) {
  std::array<std::uint8_t, kSha256DigestSize> digest{};
  SHA256(payload.data(), payload.size(), digest.data());
  return digest;
}

TagPayload RandomPayload(std::mt19937& random) {
  TagPayload payload{};
  for (auto& byte : payload) byte = static_cast<std::uint8_t>(random());
  return payload;
}

bool Verifies(const std::uint8_t* signature, const TagPayload& payload, const TagKey& key) {
  return VerifyTagSignature(signature, DigestOf(payload).data(), key);
}

// (a * b * 2^-2048) mod n, computed by OpenSSL.
Bn MontgomeryProductByOpenSsl(const TagNumber& a, const TagNumber& b, const TagKey& key) {
  BnCtx context(BN_CTX_new());
  Bn n = BnOfWords(key.modulus);
  Bn r(BN_new());
  BN_set_bit(r.get(), 2048);
  Bn rInverse(BN_mod_inverse(nullptr, r.get(), n.get(), context.get()));
  Bn product(BN_new());
  BN_mod_mul(product.get(), BnOfWords(a).get(), BnOfWords(b).get(), n.get(), context.get());
  BN_mod_mul(product.get(), product.get(), rInverse.get(), n.get(), context.get());
  return product;
}

Bn Reduced(const TagNumber& x, const TagKey& key) {
  BnCtx context(BN_CTX_new());
  Bn result(BN_new());
  BN_nnmod(result.get(), BnOfWords(x).get(), BnOfWords(key.modulus).get(), context.get());
  return result;
}

TEST(TagSignature, OpenSslSignaturesVerify) {
  std::mt19937 random(1);
  for (int round = 0; round < 8; ++round) {
    const TagPayload payload = RandomPayload(random);
    const Trailer trailer = SignedTrailer(payload);
    EXPECT_TRUE(Verifies(trailer.data() + kTrailerSignatureOffset, payload, DevelopmentTagKey()));
  }
}

TEST(TagSignature, CompiledKeyIsTheConfiguredKey) {
  const Pkey configured = LoadPublicTagKey(ZORVA_CONFIGURED_PUBLIC_KEY);
  const TagKey expected = TagKeyOf(configured.get());
  EXPECT_EQ(compiledTagKey.negInverse, expected.negInverse);
  EXPECT_EQ(std::memcmp(compiledTagKey.modulus, expected.modulus, sizeof expected.modulus), 0);
  EXPECT_EQ(std::memcmp(compiledTagKey.rSquared, expected.rSquared, sizeof expected.rSquared), 0);
  const auto fingerprint = PublicKeyDerSha256(configured.get());
  EXPECT_EQ(HexOf(compiledTagKeyDerSha256, kKeyFingerprintSize), HexOf(fingerprint.data(), fingerprint.size()));
  // The two-argument form is the same check under this key.
  const TagPayload payload{};
  const Trailer genuine = SignedTrailer(payload);
  const bool underCompiled = Verifies(genuine.data() + 1, payload, compiledTagKey);
  EXPECT_EQ(VerifyTagSignature(genuine.data() + 1, DigestOf(payload).data()), underCompiled);
}

TEST(TagSignature, KeyInvariants) {
  const TagKey& key = DevelopmentTagKey();
  EXPECT_EQ(key.negInverse * key.modulus[0], 0xFFFFFFFFu);
  EXPECT_TRUE(key.modulus[kNumberWords - 1] & 0x80000000u);
}

TEST(TagSignature, RejectsWhatIsNotGenuine) {
  std::mt19937 random(2);
  const TagPayload payload = RandomPayload(random);
  const Trailer genuine = SignedTrailer(payload);
  const Trailer otherKey = SignedTrailer(payload, OtherKey());
  const std::uint8_t zeros[kSignatureSize] = {};
  std::uint8_t ones[kSignatureSize];
  std::memset(ones, 0xFF, sizeof ones);
  TagPayload otherPayload = payload;
  otherPayload[0] ^= 1;

  EXPECT_FALSE(Verifies(otherKey.data() + 1, payload, DevelopmentTagKey())) << "other key";
  EXPECT_FALSE(Verifies(zeros, payload, DevelopmentTagKey())) << "all-zero signature";
  EXPECT_FALSE(Verifies(ones, payload, DevelopmentTagKey())) << "all-FF signature";
  EXPECT_FALSE(Verifies(genuine.data() + 1, otherPayload, DevelopmentTagKey())) << "other payload";
  std::uint8_t flipped[kSignatureSize];
  std::memcpy(flipped, genuine.data() + 1, sizeof flipped);
  flipped[255] ^= 0x01;
  EXPECT_FALSE(Verifies(flipped, payload, DevelopmentTagKey())) << "flipped signature bit";
}

TEST(TagSignature, AllZeroSignatureGivesZero) {
  std::uint8_t block[kSignatureSize] = {};
  RsaPublicOperation(block, DevelopmentTagKey());
  const std::uint8_t zeros[kSignatureSize] = {};
  EXPECT_EQ(std::memcmp(block, zeros, sizeof zeros), 0);
}

TEST(TagSignature, SignatureBytesAreLeftUnchanged) {
  std::mt19937 random(3);
  const TagPayload payload = RandomPayload(random);
  const Trailer genuine = SignedTrailer(payload);
  for (const bool damaged : {false, true}) {
    Trailer trailer = genuine;
    if (damaged) trailer[100] ^= 0x40;
    const Trailer before = trailer;
    EXPECT_EQ(Verifies(trailer.data() + 1, payload, DevelopmentTagKey()), !damaged);
    EXPECT_EQ(trailer, before);
  }
}

// A signature value s + n, where it still fits 2048 bits, is reduced by the
// arithmetic and verifies exactly as s does.
TEST(TagSignature, SignaturePlusModulusVerifiesAsTheSignature) {
  const TagKey& key = DevelopmentTagKey();
  std::mt19937 random(4);
  int found = 0;
  for (int round = 0; round < 400 && found < 2; ++round) {
    const TagPayload payload = RandomPayload(random);
    const Trailer trailer = SignedTrailer(payload);
    Bn value(BN_bin2bn(trailer.data() + 1, kSignatureSize, nullptr));
    BN_add(value.get(), value.get(), BnOfWords(key.modulus).get());
    if (BN_num_bits(value.get()) > 2048) continue;
    ++found;
    std::uint8_t raised[kSignatureSize];
    BN_bn2binpad(value.get(), raised, sizeof raised);
    EXPECT_TRUE(Verifies(raised, payload, key));
    raised[200] ^= 0x10;
    EXPECT_FALSE(Verifies(raised, payload, key));
  }
  EXPECT_EQ(found, 2) << "no signature below 2^2048 - n among the tries";
}

TEST(TagSignature, PublicOperationMatchesOpenSsl) {
  const TagKey& key = DevelopmentTagKey();
  BnCtx context(BN_CTX_new());
  Bn n = BnOfWords(key.modulus);
  Bn e(BN_new());
  BN_set_word(e.get(), 65537);
  std::mt19937 random(5);
  for (int round = 0; round < 20; ++round) {
    TagNumber words;
    RandomWords(random, words);
    // Values at and above n too: every 2048-bit block is accepted as input.
    if (round == 0) std::memcpy(words, key.modulus, sizeof words);
    if (round == 1) std::memset(words, 0xFF, sizeof words);
    std::uint8_t block[kSignatureSize];
    Bn value = BnOfWords(words);
    BN_bn2binpad(value.get(), block, sizeof block);
    Bn expected(BN_new());
    BN_mod_exp(expected.get(), value.get(), e.get(), n.get(), context.get());
    std::uint8_t expectedBlock[kSignatureSize];
    BN_bn2binpad(expected.get(), expectedBlock, sizeof expectedBlock);
    RsaPublicOperation(block, key);
    EXPECT_EQ(std::memcmp(block, expectedBlock, sizeof block), 0) << "round " << round;
  }
}

TEST(TagSignature, MontgomeryRoundTripByRSquaredThenOne) {
  const TagKey& key = DevelopmentTagKey();
  std::mt19937 random(6);
  TagNumber one = {1};
  for (int round = 0; round < 20; ++round) {
    TagNumber x;
    RandomWords(random, x);
    if (round == 0) std::memset(x, 0, sizeof x);
    if (round == 1) std::memset(x, 0xFF, sizeof x);
    TagNumber montgomery;
    TagNumber back;
    MontgomeryMultiply(montgomery, x, key.rSquared, key);
    MontgomeryMultiply(back, montgomery, one, key);
    if (IsAtLeastModulus(back, key)) SubtractModulus(back, key);
    EXPECT_EQ(BN_cmp(BnOfWords(back).get(), Reduced(x, key).get()), 0) << "round " << round;
  }
}

TEST(TagSignature, MontgomeryProductIsCongruentAndBelowTwoTo2048) {
  const TagKey& key = DevelopmentTagKey();
  std::mt19937 random(7);
  TagNumber nMinusOne;
  std::memcpy(nMinusOne, key.modulus, sizeof nMinusOne);
  nMinusOne[0] -= 1;  // n is odd
  TagNumber allOnes;
  std::memset(allOnes, 0xFF, sizeof allOnes);
  for (int round = 0; round < 30; ++round) {
    TagNumber a;
    TagNumber b;
    RandomWords(random, a);
    RandomWords(random, b);
    // The largest operands drive every carry and the final subtraction.
    if (round == 0) std::memcpy(a, allOnes, sizeof a), std::memcpy(b, allOnes, sizeof b);
    if (round == 1) std::memcpy(a, nMinusOne, sizeof a), std::memcpy(b, nMinusOne, sizeof b);
    if (round == 2) std::memcpy(a, allOnes, sizeof a), std::memcpy(b, nMinusOne, sizeof b);
    TagNumber c;
    MontgomeryMultiply(c, a, b, key);
    EXPECT_EQ(BN_cmp(Reduced(c, key).get(), MontgomeryProductByOpenSsl(a, b, key).get()), 0)
        << "round " << round;
  }
}

TEST(TagSignature, MontgomeryAccumulateIsOneExactWordStep) {
  const TagKey& key = DevelopmentTagKey();
  BnCtx context(BN_CTX_new());
  Bn n = BnOfWords(key.modulus);
  Bn wordInverse(BN_new());
  Bn two32(BN_new());
  BN_set_bit(two32.get(), 32);
  BN_mod_inverse(wordInverse.get(), two32.get(), n.get(), context.get());
  std::mt19937 random(8);
  for (int round = 0; round < 30; ++round) {
    TagNumber c;
    TagNumber b;
    RandomWords(random, c);
    RandomWords(random, b);
    std::uint32_t w = random();
    if (round == 0) std::memset(c, 0xFF, sizeof c), std::memset(b, 0xFF, sizeof b), w = 0xFFFFFFFF;
    // Expected: (c + w * b) * 2^-32 mod n.
    Bn expected(BN_new());
    BN_copy(expected.get(), BnOfWords(b).get());
    BN_mul_word(expected.get(), w);
    BN_add(expected.get(), expected.get(), BnOfWords(c).get());
    BN_mod_mul(expected.get(), expected.get(), wordInverse.get(), n.get(), context.get());
    MontgomeryAccumulate(c, w, b, key);
    EXPECT_EQ(BN_cmp(Reduced(c, key).get(), expected.get()), 0) << "round " << round;
  }
}

struct ModulusCase {
  const char* name;
  int word;          // word changed from n
  std::int64_t delta;  // added to that word of n
  bool atLeast;
};

TEST(TagSignature, IsAtLeastModulusAndSubtractModulus) {
  const TagKey& key = DevelopmentTagKey();
  const ModulusCase cases[] = {
      {"n itself", 0, 0, true},
      {"n - 1", 0, -1, false},
      {"n + 1", 0, 1, true},
      {"top word one below", 63, -1, false},
      {"top word one above", 63, 1, true},
      {"middle word one below", 31, -1, false},
  };
  for (const auto& test : cases) {
    TagNumber x;
    std::memcpy(x, key.modulus, sizeof x);
    x[test.word] = static_cast<std::uint32_t>(x[test.word] + test.delta);
    EXPECT_EQ(IsAtLeastModulus(x, key), test.atLeast) << test.name;
    if (!test.atLeast) continue;
    const Bn before = BnOfWords(x);
    SubtractModulus(x, key);
    Bn expected(BN_new());
    BN_sub(expected.get(), before.get(), BnOfWords(key.modulus).get());
    EXPECT_EQ(BN_cmp(BnOfWords(x).get(), expected.get()), 0) << test.name;
  }
  // Below n the borrow is dropped: 0 - n wraps to 2^2048 - n.
  TagNumber zero = {};
  SubtractModulus(zero, key);
  Bn wrapped(BN_new());
  BN_set_bit(wrapped.get(), 2048);
  BN_sub(wrapped.get(), wrapped.get(), BnOfWords(key.modulus).get());
  EXPECT_EQ(BN_cmp(BnOfWords(zero).get(), wrapped.get()), 0);
}

}  // namespace
