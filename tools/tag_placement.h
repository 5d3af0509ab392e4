// Where a trailer goes in a copy. In a PE file whose Authenticode certificate
// table is its last data, it goes inside the signature of the last
// WIN_CERTIFICATE record, as the signature's tag attribute (see
// signature_attribute.h): the record's dwLength and the security directory's
// size change to match, and the record, the table and the file end with the
// trailer. The Authenticode hash skips the certificate table and no
// signature covers unsigned attributes, so the signature still verifies, also
// under Windows' strict check. Any other file gets the trailer appended.
//
// A trailer signed by the same key that already ends the file is replaced,
// not stacked; so is a signature's tag attribute, whichever key signed it,
// and so is a trailer that earlier versions put after the PKCS #7 blob in the
// record, so that its copies now pass the strict check too.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "tag/tag_key.h"
#include "tools/byte_source.h"
#include "tools/tag_payload.h"

enum class TrailerPlacement { kAppended, kAfterSignatureBlob, kInSignature };

// Streams `source` with `trailer` put at its end into `sink`, recomputing the
// PE checksum of a PE32 or PE32+ file that has one. Never places after the
// signature blob. Throws ToolError (operational) for a certificate table or
// signature that cannot be used.
TrailerPlacement WriteTaggedCopy(const ByteSource& source, const TagKey& key, const Trailer& trailer,
                                 ByteSink& sink);

// The PE CheckSum: the file's 16-bit little-endian words summed with their
// carries folded back in, plus the file's length. The field itself counts as
// zero. Signing tools set it; a stale one makes verifiers warn.
class PeChecksum {
 public:
  // The bytes that follow those added so far.
  void Add(const std::uint8_t* bytes, std::size_t size);
  std::uint32_t Value() const;

 private:
  std::uint64_t sum_ = 0;
  std::uint64_t length_ = 0;
};

// What WriteTaggedCopy writes, worked out once for every trailer to come:
// the copy's bytes before the trailer, with its CheckSum field zero, and
// their part of the checksum. A copy for a trailer then costs a copy of
// those bytes and the checksum over the trailer alone. Throws as
// WriteTaggedCopy.
class PreparedCopy {
 public:
  PreparedCopy(const ByteSource& source, const TagKey& key);

  // Byte for byte what WriteTaggedCopy writes for `trailer`.
  std::vector<std::uint8_t> CopyWith(const Trailer& trailer) const;

 private:
  std::vector<std::uint8_t> head_;
  PeChecksum headChecksum_;
  std::optional<std::uint64_t> checksumField_;  // in the head; none for a file without one
};

// Where the last 1024 bytes of `file` lie; nothing when they are part of a
// signature but not its tag attribute. `key` tells a trailer appended to a
// PE file from the file's own bytes. Throws ToolError (operational) as above.
std::optional<TrailerPlacement> LocateTrailer(const ByteSource& file, const TagKey& key);
