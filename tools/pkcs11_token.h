// A PKCS #11 token as a pkcs11: URI (RFC 7512) names it: its vendor's module,
// loaded and initialized once per process, the one token the URI matches,
// and a user session logged in with a PIN from the environment. p11-kit
// parses the URI and supplies the standard header.
#pragma once

#include <p11-kit/pkcs11.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

typedef struct p11_kit_uri P11KitUri;
class Pkcs11Module;

using Pkcs11Bytes = std::vector<std::uint8_t>;

class Pkcs11Token {
 public:
  // Throws ToolError (operational), one line saying which step failed: a URI
  // that does not parse, an unset PIN variable, a module that does not load,
  // no matching token or more than one, a wrong PIN.
  Pkcs11Token(const std::string& uri, const std::optional<std::string>& pinVariable);
  ~Pkcs11Token();
  Pkcs11Token(const Pkcs11Token&) = delete;
  Pkcs11Token& operator=(const Pkcs11Token&) = delete;

  // The URI as given, to begin error messages with. It holds no PIN: a URI
  // with one is refused.
  const std::string& Name() const { return name_; }
  CK_FUNCTION_LIST& Functions() const;
  // Read-write, open for lookups while the token is open; it keeps the user
  // logged in.
  CK_SESSION_HANDLE LoginSession() const { return session_; }
  // Throws ToolError "NAME: OPERATION failed (reason)" unless `result` is CKR_OK.
  void Check(CK_RV result, const char* operation) const;

  // Read-only sessions serve signing; making a key needs a read-write one.
  CK_SESSION_HANDLE OpenSession(bool readWrite = false) const;
  void CloseSession(CK_SESSION_HANDLE session) const;
  bool HasMechanism(CK_MECHANISM_TYPE mechanism) const;

  // How many more sessions the token allows beside the login session, if it says.
  std::optional<CK_ULONG> SpareSessions() const { return spareSessions_; }

  // Lookups go through the login session: call them from one thread at a time.
  // The URI's object (label) and id, as key attributes; absent ones left out.
  std::vector<CK_ATTRIBUTE> KeyAttributes() const;
  // The URI's type as an object class, if it gives one.
  std::optional<CK_OBJECT_CLASS> ObjectClass() const;
  // Up to `limit` keys of `keyClass` that the URI's object and id match.
  std::vector<CK_OBJECT_HANDLE> FindKeys(CK_OBJECT_CLASS keyClass, std::size_t limit) const;
  // The attribute's value, or nothing when the object lacks it or keeps it secret.
  std::optional<Pkcs11Bytes> Attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) const;

 private:
  bool MatchesSlot(CK_SLOT_ID slot) const;

  std::string name_;
  std::unique_ptr<P11KitUri, void (*)(P11KitUri*)> uri_;
  std::shared_ptr<Pkcs11Module> module_;
  CK_SLOT_ID slot_ = 0;
  CK_SESSION_HANDLE session_ = CK_INVALID_HANDLE;
  std::optional<CK_ULONG> spareSessions_;
};
