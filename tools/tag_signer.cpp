#include "tools/tag_signer.h"

#include "tools/pkcs11_signer.h"
#include "tools/tag_keys.h"

namespace {

// OpenSSL 3 signs through a fresh context per call, so one loaded key serves
// any number of threads at once.
class PemTagSigner : public TagSigner {
 public:
  explicit PemTagSigner(Pkey key)
      : key_(std::move(key)), publicKey_(TagKeyOf(key_.get())), fingerprint_(PublicKeyDerSha256(key_.get())) {}

  TagSignature Sign(const std::uint8_t* message, std::size_t size) const override {
    return SignWithTagKey(key_.get(), message, size);
  }
  const TagKey& PublicKey() const override { return publicKey_; }
  const std::array<std::uint8_t, kKeyFingerprintSize>& PublicKeyFingerprint() const override {
    return fingerprint_;
  }

 private:
  Pkey key_;
  TagKey publicKey_;
  std::array<std::uint8_t, kKeyFingerprintSize> fingerprint_;
};

}  // namespace

std::unique_ptr<TagSigner> OpenTagSigner(const TagKeySource& source) {
  if (IsTokenKey(source.key)) return OpenPkcs11TagSigner(source);
  return std::make_unique<PemTagSigner>(
      LoadPrivateTagKey(source.key, source.passphraseVariable ? source.passphraseVariable->c_str() : nullptr));
}

std::optional<std::string> MismatchedKeyOptions(const TagKeySource& source, const TagKeyOptionNames& names) {
  const bool inToken = IsTokenKey(source.key);
  if (inToken && source.passphraseVariable) return std::string(names.passphraseVariable) + " goes with a PEM key";
  if (!inToken && (source.pinVariable || source.publicKeyPath)) {
    return std::string(names.pinVariable) + " and " + names.publicKeyPath + " go with a pkcs11: key";
  }
  return std::nullopt;
}
