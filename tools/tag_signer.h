// Whatever signs tags: a PEM private key or a key inside a PKCS #11 token.
// The tool's `sign` and the tagging service hold one signer each and
// never see the private key itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "tag/tag_key.h"
#include "tag/tag_signature.h"

using TagSignature = std::array<std::uint8_t, kSignatureSize>;

class TagSigner {
 public:
  virtual ~TagSigner() = default;
  // RSASSA-PKCS1-v1_5 with SHA-256 over `message`. Safe to call from several
  // threads at once. Throws ToolError (operational) when signing fails.
  virtual TagSignature Sign(const std::uint8_t* message, std::size_t size) const = 0;
  // The public half in the form the program's check uses, and the SHA-256 of
  // its DER SubjectPublicKeyInfo.
  virtual const TagKey& PublicKey() const = 0;
  virtual const std::array<std::uint8_t, kKeyFingerprintSize>& PublicKeyFingerprint() const = 0;
};

// Where the private key is and how to unlock it, as the command line and the
// service's config give it. `key` is a PEM file's path or a pkcs11: URI
// (RFC 7512) naming a key in a token; such a key takes its PIN from the
// environment variable `pinVariable`, and its public half from
// `publicKeyPath` where the token holds none.
struct TagKeySource {
  std::string key;
  std::optional<std::string> passphraseVariable;
  std::optional<std::string> pinVariable;
  std::optional<std::string> publicKeyPath;
};

// Whether `key` names a key inside a PKCS #11 token (an RFC 7512 URI) rather
// than a PEM file.
inline bool IsTokenKey(const std::string& key) { return key.starts_with("pkcs11:"); }

// How a reader of a TagKeySource names its options: the command line's
// --key-pin-env, the service config's key_pin_env.
struct TagKeyOptionNames {
  const char* passphraseVariable;
  const char* pinVariable;
  const char* publicKeyPath;
};

// A passphrase goes with a PEM key, a PIN and a public key file with a token
// key. An option of the other kind would be ignored, silently: a public key
// meant as a check would check nothing. Returns the refusal, naming the
// options by `names`, or nothing where the options fit the key.
std::optional<std::string> MismatchedKeyOptions(const TagKeySource& source, const TagKeyOptionNames& names);

// Throws ToolError (operational) for a key that cannot be used, saying why.
std::unique_ptr<TagSigner> OpenTagSigner(const TagKeySource& source);
