// Tag keys that live inside a PKCS #11 token: signing with one, and making
// one. The private half never leaves the token.
#pragma once

#include <memory>

#include "tools/tag_keys.h"
#include "tools/tag_signer.h"

// `source.key` is a pkcs11: URI with a module-path; the PIN comes from the
// environment variable `source.pinVariable`. The public half comes from the
// token's public key object, or from `source.publicKeyPath` where the token
// has none. Throws ToolError (operational), one line, for a key that cannot
// be used.
std::unique_ptr<TagSigner> OpenPkcs11TagSigner(const TagKeySource& source);

// Generates an RSA-2048 key pair with exponent 65537 inside the token, named
// by the URI's object (and id, if given), the private half sensitive and not
// extractable, and returns its public half. Refuses a name a key already has.
Pkey MakePkcs11TagKey(const TagKeySource& source);
