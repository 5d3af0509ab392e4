// The setup tag inside an Authenticode signature: the last unsigned attribute
// of the PKCS #7 SignerInfo, of the project's own type, whose one value is an
// OCTET STRING of zero filler followed by the trailer. No signature covers
// unsigned attributes (timestamps and nested signatures live there too), and
// Windows' strict check (EnableCertPaddingCheck) refuses only bytes after the
// blob. The SignerInfo's [1] is the last element of every element around it,
// so the attribute's last bytes are the blob's last bytes; the filler makes
// the blob a multiple of 8 long, so that its certificate record needs no
// padding and the trailer is the file's last 1024 bytes.
//
// The blob is edited, never re-encoded: besides the attribute only the length
// octets of the elements that enclose it change.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "tools/byte_source.h"
#include "tools/der_cursor.h"
#include "tools/tag_payload.h"

struct SignatureBlob {
  // ContentInfo, its [0], SignedData, the SignerInfo set and its one
  // SignerInfo, each the last element of the one before.
  std::array<DerElement, 5> enclosing;
  std::optional<DerElement> unsignedAttributes;  // the SignerInfo's [1], its last element
  std::optional<DerElement> tagAttribute;        // one of them

  std::uint64_t Start() const { return enclosing.front().start; }
  std::uint64_t End() const { return enclosing.front().end; }
  bool EndsInTagAttribute() const { return tagAttribute && tagAttribute->end == End(); }
};

// The PKCS #7 SignedData blob at `start`, which ends by `limit`. Throws
// ToolError (operational), "malformed Authenticode signature: ...", for a BER
// indefinite length, lengths that do not add up, other than one SignerInfo,
// or anything else that is not the shape Authenticode signs.
SignatureBlob ReadSignatureBlob(const ByteCursor& bytes, std::uint64_t start, std::uint64_t limit);

// The blob with a tag attribute ending in `trailer` as its last unsigned
// attribute, in place of any tag attribute it holds; a multiple of 8 long.
std::vector<CopyPiece> BlobWithTagAttribute(const SignatureBlob& blob, const Trailer& trailer);

// The blob without its tag attribute, and without unsigned attributes when
// that was the only one.
std::vector<CopyPiece> BlobWithoutTagAttribute(const SignatureBlob& blob);

std::uint64_t LengthOf(const std::vector<CopyPiece>& pieces);
