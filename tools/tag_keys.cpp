#include "tools/tag_keys.h"

#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <cstdlib>
#include <cstring>

#include "tag/montgomery.h"
#include "tools/tag_files.h"
#include "tools/tool_error.h"

namespace {

struct BioDeleter {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct PkeyCtxDeleter {
  void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
struct ParamBuilderDeleter {
  void operator()(OSSL_PARAM_BLD* builder) const { OSSL_PARAM_BLD_free(builder); }
};
struct ParamsDeleter {
  void operator()(OSSL_PARAM* parameters) const { OSSL_PARAM_free(parameters); }
};

std::string OpenSslReason() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "no further detail";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

// Key files are a few kilobytes; a larger file is no key.
constexpr std::size_t kKeyFileLimit = 1 << 20;

std::unique_ptr<BIO, BioDeleter> KeyBytes(const std::string& pem) {
  std::unique_ptr<BIO, BioDeleter> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) throw ToolError(kExitOperationalError, "cannot read the key (" + OpenSslReason() + ")");
  return bio;
}

Bn RsaParameter(EVP_PKEY* key, const char* name) {
  BIGNUM* value = nullptr;
  if (EVP_PKEY_get_bn_param(key, name, &value) != 1) {
    throw ToolError(kExitOperationalError, std::string("cannot read the RSA parameter ") + name);
  }
  return Bn(value);
}

// The program's check has a fixed e = 65537 schedule and reduces with one
// subtraction, which needs a full 2048-bit modulus.
void RequireTagKeyShape(EVP_PKEY* key, const std::string& path) {
  if (EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) {
    throw ToolError(kExitOperationalError, path + ": not an RSA key");
  }
  const Bn modulus = RsaParameter(key, OSSL_PKEY_PARAM_RSA_N);
  const Bn exponent = RsaParameter(key, OSSL_PKEY_PARAM_RSA_E);
  if (BN_num_bits(modulus.get()) != 2048) {
    throw ToolError(kExitOperationalError, path + ": the modulus has " +
                                               std::to_string(BN_num_bits(modulus.get())) +
                                               " bits, a tag key needs exactly 2048");
  }
  if (!BN_is_word(exponent.get(), 65537)) {
    char* text = BN_bn2dec(exponent.get());
    const std::string shown = text ? text : "?";
    OPENSSL_free(text);
    throw ToolError(kExitOperationalError,
                    path + ": the public exponent is " + shown + ", a tag key needs 65537");
  }
}

void StoreWords(const BIGNUM* number, TagNumber& words) {
  std::uint8_t bytes[kSignatureSize];
  if (BN_bn2binpad(number, bytes, sizeof bytes) != static_cast<int>(sizeof bytes)) {
    throw ToolError(kExitOperationalError, "number does not fit 2048 bits");
  }
  ReadNumber(bytes, words);
}

// What OpenSSL asks for the passphrase of an encrypted key: never a prompt,
// only the environment variable named on the command line, if any.
struct PassphraseSource {
  const char* variable;
  bool asked = false;
};

int PassphraseFromEnvironment(char* buffer, int size, int /*writing*/, void* context) {
  auto* source = static_cast<PassphraseSource*>(context);
  source->asked = true;
  const char* passphrase = source->variable ? std::getenv(source->variable) : nullptr;
  if (passphrase == nullptr || std::strlen(passphrase) > static_cast<std::size_t>(size)) return -1;
  std::memcpy(buffer, passphrase, std::strlen(passphrase));
  return static_cast<int>(std::strlen(passphrase));
}

std::string WhyNotLoaded(const std::string& path, const char* kind, const PassphraseSource& passphrase) {
  if (!passphrase.asked) return path + ": not a PEM " + kind + " key (" + OpenSslReason() + ")";
  ERR_clear_error();
  if (passphrase.variable == nullptr) {
    return path + ": the key is encrypted; put its passphrase in an environment variable and name it with "
                  "--key-passphrase-env NAME";
  }
  if (std::getenv(passphrase.variable) == nullptr) {
    return path + ": the key is encrypted and the environment variable " + passphrase.variable + " is not set";
  }
  return path + ": cannot decrypt the key with the passphrase in " + passphrase.variable;
}

using PemKeyReader = EVP_PKEY* (*)(BIO*, EVP_PKEY**, pem_password_cb*, void*);

Pkey LoadTagKey(const std::string& pem, const std::string& path, PemKeyReader read, const char* kind,
                const char* passphraseVariable) {
  auto bio = KeyBytes(pem);
  PassphraseSource passphrase{passphraseVariable};
  Pkey key(read(bio.get(), nullptr, PassphraseFromEnvironment, &passphrase));
  if (!key) throw ToolError(kExitOperationalError, WhyNotLoaded(path, kind, passphrase));
  RequireTagKeyShape(key.get(), path);
  return key;
}

}  // namespace

Pkey LoadPrivateTagKey(const std::string& path, const char* passphraseVariable) {
  return LoadTagKey(ReadSmallFile(path, kKeyFileLimit), path, PEM_read_bio_PrivateKey, "private",
                    passphraseVariable);
}

Pkey LoadPublicTagKey(const std::string& path) {
  return LoadTagKey(ReadSmallFile(path, kKeyFileLimit), path, PEM_read_bio_PUBKEY, "public", nullptr);
}

Pkey RsaPublicTagKey(const std::vector<std::uint8_t>& modulus, const std::vector<std::uint8_t>& exponent,
                     const std::string& name) {
  const Bn n(BN_bin2bn(modulus.data(), static_cast<int>(modulus.size()), nullptr));
  const Bn e(BN_bin2bn(exponent.data(), static_cast<int>(exponent.size()), nullptr));
  std::unique_ptr<OSSL_PARAM_BLD, ParamBuilderDeleter> builder(OSSL_PARAM_BLD_new());
  if (!n || !e || !builder || !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) ||
      !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, e.get())) {
    throw ToolError(kExitOperationalError, name + ": cannot hold the RSA key (" + OpenSslReason() + ")");
  }
  std::unique_ptr<OSSL_PARAM, ParamsDeleter> parameters(OSSL_PARAM_BLD_to_param(builder.get()));
  std::unique_ptr<EVP_PKEY_CTX, PkeyCtxDeleter> context(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY* made = nullptr;
  if (!parameters || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
      EVP_PKEY_fromdata(context.get(), &made, EVP_PKEY_PUBLIC_KEY, parameters.get()) != 1) {
    throw ToolError(kExitOperationalError, name + ": not an RSA public key (" + OpenSslReason() + ")");
  }
  Pkey key(made);
  RequireTagKeyShape(key.get(), name);
  return key;
}

std::string PublicKeyPem(EVP_PKEY* key) {
  std::unique_ptr<BIO, BioDeleter> bio(BIO_new(BIO_s_mem()));
  char* text = nullptr;
  long length = 0;
  if (!bio || PEM_write_bio_PUBKEY(bio.get(), key) != 1 || (length = BIO_get_mem_data(bio.get(), &text)) <= 0) {
    throw ToolError(kExitOperationalError, "cannot encode the public key as PEM (" + OpenSslReason() + ")");
  }
  return std::string(text, static_cast<std::size_t>(length));
}

const TagKey& DevelopmentPublicTagKey() {
  static const TagKey key = TagKeyOf(
      LoadTagKey(kDevelopmentPublicKeyPem, "the development key", PEM_read_bio_PUBKEY, "public", nullptr).get());
  return key;
}

std::array<std::uint8_t, kSignatureSize> SignWithTagKey(EVP_PKEY* key, const std::uint8_t* message,
                                                        std::size_t size) {
  const MdCtx context(EVP_MD_CTX_new());
  std::array<std::uint8_t, kSignatureSize> signature{};
  std::size_t signatureSize = signature.size();
  // RSA keys sign with PKCS #1 v1.5 padding unless told otherwise.
  if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
      EVP_DigestSign(context.get(), signature.data(), &signatureSize, message, size) != 1 ||
      signatureSize != signature.size()) {
    throw ToolError(kExitOperationalError, "signing failed (" + OpenSslReason() + ")");
  }
  return signature;
}

bool VerifiesWithTagKey(EVP_PKEY* key, const std::array<std::uint8_t, kSignatureSize>& signature,
                        const std::uint8_t* message, std::size_t size) {
  // Each thread sets up a context for the key once: OpenSSL's set-up costs a
  // fifth of the verify. The context holds a reference to its key, so no
  // other key can take that address while it is kept.
  thread_local std::unique_ptr<EVP_PKEY_CTX, PkeyCtxDeleter> context;
  thread_local EVP_PKEY* contextKey = nullptr;
  if (contextKey != key) {
    context.reset(EVP_PKEY_CTX_new(key, nullptr));
    contextKey = nullptr;
    if (!context || EVP_PKEY_verify_init(context.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha256()) != 1) {
      context.reset();
      throw ToolError(kExitOperationalError, "cannot verify (" + OpenSslReason() + ")");
    }
    contextKey = key;
  }
  std::uint8_t digest[SHA256_DIGEST_LENGTH];
  SHA256(message, size, digest);
  return EVP_PKEY_verify(context.get(), signature.data(), signature.size(), digest, sizeof digest) == 1;
}

Pkey OpenSslPublicKeyOf(const TagKey& key) {
  std::vector<std::uint8_t> modulus(kSignatureSize);
  WriteNumber(key.modulus, modulus.data());
  return RsaPublicTagKey(modulus, {0x01, 0x00, 0x01}, "the tag key");
}

TagKey TagKeyOf(EVP_PKEY* key) {
  const Bn modulus = RsaParameter(key, OSSL_PKEY_PARAM_RSA_N);
  BnCtx context(BN_CTX_new());
  Bn rSquared(BN_new());
  Bn power(BN_new());
  Bn wordModulus(BN_new());
  Bn inverse(BN_new());
  if (!context || !rSquared || !power || !wordModulus || !inverse ||
      !BN_set_bit(power.get(), 4096) || !BN_mod(rSquared.get(), power.get(), modulus.get(), context.get()) ||
      !BN_set_bit(wordModulus.get(), 32) ||
      !BN_mod_inverse(inverse.get(), modulus.get(), wordModulus.get(), context.get())) {
    throw ToolError(kExitOperationalError, "cannot derive the tag key (" + OpenSslReason() + ")");
  }
  TagKey tagKey{};
  const std::uint32_t modulusInverse = static_cast<std::uint32_t>(BN_get_word(inverse.get()));
  tagKey.negInverse = 0u - modulusInverse;
  StoreWords(modulus.get(), tagKey.modulus);
  StoreWords(rSquared.get(), tagKey.rSquared);
  return tagKey;
}

std::array<std::uint8_t, kKeyFingerprintSize> PublicKeyDerSha256(EVP_PKEY* key) {
  unsigned char* der = nullptr;
  const int length = i2d_PUBKEY(key, &der);
  if (length <= 0) throw ToolError(kExitOperationalError, "cannot encode the public key");
  std::array<std::uint8_t, kKeyFingerprintSize> digest{};
  SHA256(der, static_cast<std::size_t>(length), digest.data());
  OPENSSL_free(der);
  return digest;
}

std::string HexOf(const std::uint8_t* bytes, std::size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * size);
  for (std::size_t i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}
