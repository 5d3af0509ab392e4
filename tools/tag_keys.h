// OpenSSL side of the tagging tool: loading the tag keys, signing payloads and
// deriving the TagKey form the program's own check uses.
#pragma once

#include <openssl/bn.h>
#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tag/tag_key.h"
#include "tag/tag_signature.h"

// Owners of the OpenSSL objects the tool hands out, and the tests use too.
struct PkeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyDeleter>;
struct BnDeleter {
  void operator()(BIGNUM* number) const { BN_free(number); }
};
using Bn = std::unique_ptr<BIGNUM, BnDeleter>;
struct BnCtxDeleter {
  void operator()(BN_CTX* context) const { BN_CTX_free(context); }
};
using BnCtx = std::unique_ptr<BN_CTX, BnCtxDeleter>;
struct MdCtxDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxDeleter>;

// Both throw ToolError (operational) for a file that cannot be read, a key
// that does not load, or a key other than RSA-2048 with exponent 65537. An
// encrypted private key takes its passphrase from the environment variable
// named `passphraseVariable`; nothing ever prompts for one.
Pkey LoadPrivateTagKey(const std::string& path, const char* passphraseVariable = nullptr);
Pkey LoadPublicTagKey(const std::string& path);
// The public key with the big-endian `modulus` and `exponent`, such as a
// token holds; throws ToolError (operational) for one other than RSA-2048 with
// exponent 65537, its message beginning with `name`.
Pkey RsaPublicTagKey(const std::vector<std::uint8_t>& modulus, const std::vector<std::uint8_t>& exponent,
                     const std::string& name);
// The public half as the PEM SubjectPublicKeyInfo that a release compiles in.
std::string PublicKeyPem(EVP_PKEY* key);

// keys/development/public.pem, built in so that the tool can tell an exe that
// accepts tags anyone can sign: the key's private half is published.
extern const char kDevelopmentPublicKeyPem[];
const TagKey& DevelopmentPublicTagKey();

// RSASSA-PKCS1-v1_5 with SHA-256 over `message`.
std::array<std::uint8_t, kSignatureSize> SignWithTagKey(EVP_PKEY* key, const std::uint8_t* message,
                                                        std::size_t size);

// OpenSSL's RSASSA-PKCS1-v1_5 / SHA-256 verify of `signature` over
// `message`: a check independent of the signer, a fraction of its time.
bool VerifiesWithTagKey(EVP_PKEY* key, const std::array<std::uint8_t, kSignatureSize>& signature,
                        const std::uint8_t* message, std::size_t size);

// The public key OpenSSL verifies with, made from the very modulus of `key`,
// the form the program's own check uses.
Pkey OpenSslPublicKeyOf(const TagKey& key);

// negInverse, modulus and rSquared of the key's public half.
TagKey TagKeyOf(EVP_PKEY* key);

// SHA-256 of the key's public half as DER SubjectPublicKeyInfo.
std::array<std::uint8_t, kKeyFingerprintSize> PublicKeyDerSha256(EVP_PKEY* key);

std::string HexOf(const std::uint8_t* bytes, std::size_t size);
