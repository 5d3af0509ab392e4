#include "tools/pkcs11_signer.h"

#include <openssl/sha.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "tools/pkcs11_token.h"
#include "tools/tool_error.h"

namespace {

// A session runs one operation at a time, so each signing call takes a
// session of its own from a pool and gives it back: calls from several
// threads sign in parallel on tokens that can, instead of queueing behind one
// guarded session. The pool grows on demand up to this many sessions (fewer
// where the token allows fewer), then callers wait for one to come back.
constexpr CK_ULONG kSessionLimit = 8;

[[noreturn]] void Fail(const std::string& message) { throw ToolError(kExitOperationalError, message); }

CK_ULONG SessionLimit(const Pkcs11Token& token) {
  return std::max<CK_ULONG>(1, std::min(kSessionLimit, token.SpareSessions().value_or(kSessionLimit)));
}

class Pkcs11TagSigner : public TagSigner {
 public:
  Pkcs11TagSigner(std::unique_ptr<Pkcs11Token> token, CK_OBJECT_HANDLE key, CK_MECHANISM_TYPE mechanism,
                  Pkey publicKey)
      : token_(std::move(token)),
        key_(key),
        mechanism_(mechanism),
        publicKey_(TagKeyOf(publicKey.get())),
        fingerprint_(PublicKeyDerSha256(publicKey.get())),
        sessionLimit_(SessionLimit(*token_)) {}
  ~Pkcs11TagSigner() override {
    for (const CK_SESSION_HANDLE session : idle_) token_->CloseSession(session);
  }

  TagSignature Sign(const std::uint8_t* message, std::size_t size) const override {
    const std::vector<std::uint8_t> input = MechanismInput(message, size);
    const CK_SESSION_HANDLE session = TakeSession();
    CK_MECHANISM mechanism{mechanism_, nullptr, 0};
    TagSignature signature{};
    CK_ULONG length = signature.size();
    CK_RV result = token_->Functions().C_SignInit(session, &mechanism, key_);
    if (result == CKR_OK) {
      result = token_->Functions().C_Sign(session, const_cast<std::uint8_t*>(input.data()), input.size(),
                                          signature.data(), &length);
    }
    ReturnSession(session, result == CKR_OK);
    token_->Check(result, "signing");
    if (length != signature.size()) Fail(token_->Name() + ": the token's signature is not 256 bytes");
    return signature;
  }
  const TagKey& PublicKey() const override { return publicKey_; }
  const std::array<std::uint8_t, kKeyFingerprintSize>& PublicKeyFingerprint() const override {
    return fingerprint_;
  }

 private:
  // CKM_RSA_PKCS pads and signs what it is given: the DER DigestInfo of the
  // message's SHA-256, which the combined mechanism builds itself.
  std::vector<std::uint8_t> MechanismInput(const std::uint8_t* message, std::size_t size) const {
    if (mechanism_ == CKM_SHA256_RSA_PKCS) return std::vector<std::uint8_t>(message, message + size);
    std::vector<std::uint8_t> digestInfo(std::begin(kSha256DigestInfoHeader), std::end(kSha256DigestInfoHeader));
    digestInfo.resize(digestInfo.size() + SHA256_DIGEST_LENGTH);
    SHA256(message, size, digestInfo.data() + sizeof kSha256DigestInfoHeader);
    return digestInfo;
  }

  CK_SESSION_HANDLE TakeSession() const {
    std::unique_lock<std::mutex> lock(mutex_);
    sessionFree_.wait(lock, [this] { return !idle_.empty() || open_ < sessionLimit_; });
    if (!idle_.empty()) {
      const CK_SESSION_HANDLE session = idle_.back();
      idle_.pop_back();
      return session;
    }
    ++open_;
    lock.unlock();
    try {
      return token_->OpenSession();
    } catch (...) {
      ReturnSession(CK_INVALID_HANDLE, false);
      throw;
    }
  }

  // A session whose operation failed may be broken (a token pulled out, a
  // closed session): it is closed, and the pool opens a fresh one when needed.
  void ReturnSession(CK_SESSION_HANDLE session, bool usable) const {
    if (!usable && session != CK_INVALID_HANDLE) token_->CloseSession(session);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (usable) {
        idle_.push_back(session);
      } else {
        --open_;
      }
    }
    sessionFree_.notify_one();
  }

  std::unique_ptr<Pkcs11Token> token_;
  CK_OBJECT_HANDLE key_;
  CK_MECHANISM_TYPE mechanism_;
  TagKey publicKey_;
  std::array<std::uint8_t, kKeyFingerprintSize> fingerprint_;
  CK_ULONG sessionLimit_;
  mutable std::mutex mutex_;
  mutable std::condition_variable sessionFree_;
  mutable std::vector<CK_SESSION_HANDLE> idle_;
  mutable CK_ULONG open_ = 0;
};

CK_OBJECT_HANDLE OnlyKey(const Pkcs11Token& token, CK_OBJECT_CLASS keyClass, const std::string& kind,
                         const std::string& whenNone) {
  const std::vector<CK_OBJECT_HANDLE> found = token.FindKeys(keyClass, 2);
  if (found.empty()) Fail(token.Name() + ": " + whenNone);
  if (found.size() > 1) Fail(token.Name() + ": more than one " + kind + " matches; name one by object= and id=");
  return found.front();
}

// The public half an RSA key object shows, or nothing where the token keeps
// its modulus or exponent to itself.
std::optional<Pkey> RsaHalfOf(const Pkcs11Token& token, CK_OBJECT_HANDLE key) {
  const std::optional<Pkcs11Bytes> type = token.Attribute(key, CKA_KEY_TYPE);
  CK_KEY_TYPE keyType = CKK_RSA;
  if (!type || type->size() != sizeof keyType || std::memcmp(type->data(), &keyType, sizeof keyType) != 0) {
    Fail(token.Name() + ": not an RSA key");
  }
  const std::optional<Pkcs11Bytes> modulus = token.Attribute(key, CKA_MODULUS);
  const std::optional<Pkcs11Bytes> exponent = token.Attribute(key, CKA_PUBLIC_EXPONENT);
  if (!modulus || !exponent) return std::nullopt;
  return RsaPublicTagKey(*modulus, *exponent, token.Name());
}

Pkey PublicKeyObject(const Pkcs11Token& token) {
  const CK_OBJECT_HANDLE object =
      OnlyKey(token, CKO_PUBLIC_KEY, "public key",
              "the token holds no public key beside the private key; give its PEM with --public-key PATH");
  std::optional<Pkey> key = RsaHalfOf(token, object);
  if (!key) Fail(token.Name() + ": the public key object does not show its modulus and exponent");
  return std::move(*key);
}

// A public key from elsewhere must be this private key's other half, or every
// tag signed would fail to verify.
void RequireOtherHalf(const Pkcs11Token& token, CK_OBJECT_HANDLE privateKey, EVP_PKEY* publicKey) {
  const std::optional<Pkey> shown = RsaHalfOf(token, privateKey);
  if (shown && EVP_PKEY_eq(shown->get(), publicKey) != 1) {
    Fail(token.Name() + ": the public key is not the private key's other half");
  }
}

CK_MECHANISM_TYPE SigningMechanism(const Pkcs11Token& token) {
  if (token.HasMechanism(CKM_SHA256_RSA_PKCS)) return CKM_SHA256_RSA_PKCS;
  if (token.HasMechanism(CKM_RSA_PKCS)) return CKM_RSA_PKCS;
  Fail(token.Name() + ": the token offers neither CKM_SHA256_RSA_PKCS nor CKM_RSA_PKCS");
}

}  // namespace

std::unique_ptr<TagSigner> OpenPkcs11TagSigner(const TagKeySource& source) {
  auto token = std::make_unique<Pkcs11Token>(source.key, source.pinVariable);
  if (token->ObjectClass().value_or(CKO_PRIVATE_KEY) != CKO_PRIVATE_KEY) {
    Fail(token->Name() + ": the URI's type names no private key; leave type= out or give type=private");
  }
  const CK_OBJECT_HANDLE key = OnlyKey(*token, CKO_PRIVATE_KEY, "private key", "no such private key on the token");
  Pkey publicKey = source.publicKeyPath ? LoadPublicTagKey(*source.publicKeyPath) : PublicKeyObject(*token);
  RequireOtherHalf(*token, key, publicKey.get());
  const CK_MECHANISM_TYPE mechanism = SigningMechanism(*token);
  return std::make_unique<Pkcs11TagSigner>(std::move(token), key, mechanism, std::move(publicKey));
}

Pkey MakePkcs11TagKey(const TagKeySource& source) {
  const Pkcs11Token token(source.key, source.pinVariable);
  std::vector<CK_ATTRIBUTE> name = token.KeyAttributes();
  const bool labelled =
      std::any_of(name.begin(), name.end(), [](const CK_ATTRIBUTE& given) { return given.type == CKA_LABEL; });
  if (!labelled) Fail(token.Name() + ": name the new key with object=LABEL");
  if (!token.FindKeys(CKO_PRIVATE_KEY, 1).empty() || !token.FindKeys(CKO_PUBLIC_KEY, 1).empty()) {
    Fail(token.Name() + ": the token already holds a key by this name; a second would make signing ambiguous");
  }
  if (!token.HasMechanism(CKM_RSA_PKCS_KEY_PAIR_GEN)) {
    Fail(token.Name() + ": the token cannot generate RSA keys (no CKM_RSA_PKCS_KEY_PAIR_GEN)");
  }
  CK_BBOOL yes = CK_TRUE;
  CK_BBOOL no = CK_FALSE;
  CK_ULONG bits = 2048;
  CK_BYTE exponent[] = {0x01, 0x00, 0x01};
  std::vector<CK_ATTRIBUTE> publicTemplate{{CKA_TOKEN, &yes, sizeof yes},
                                           {CKA_VERIFY, &yes, sizeof yes},
                                           {CKA_MODULUS_BITS, &bits, sizeof bits},
                                           {CKA_PUBLIC_EXPONENT, exponent, sizeof exponent}};
  std::vector<CK_ATTRIBUTE> privateTemplate{{CKA_TOKEN, &yes, sizeof yes},     {CKA_PRIVATE, &yes, sizeof yes},
                                            {CKA_SENSITIVE, &yes, sizeof yes}, {CKA_EXTRACTABLE, &no, sizeof no},
                                            {CKA_SIGN, &yes, sizeof yes}};
  publicTemplate.insert(publicTemplate.end(), name.begin(), name.end());
  privateTemplate.insert(privateTemplate.end(), name.begin(), name.end());
  CK_MECHANISM generation{CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
  CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
  token.Check(token.Functions().C_GenerateKeyPair(token.LoginSession(), &generation, publicTemplate.data(),
                                                  publicTemplate.size(), privateTemplate.data(),
                                                  privateTemplate.size(), &publicKey, &privateKey),
              "C_GenerateKeyPair");
  std::optional<Pkey> made = RsaHalfOf(token, publicKey);
  if (!made) Fail(token.Name() + ": the new public key does not show its modulus and exponent");
  return std::move(*made);
}
