// Where a trailer goes in a copy: appended to the file, or, in a PE file whose
// Authenticode certificate table is its last data, at the end of the last
// WIN_CERTIFICATE record (padded to a multiple of 8 from the record's start),
// with the record's dwLength and the security directory's size grown to
// match. The Authenticode hash skips the certificate table, so the signature
// still verifies.
#pragma once

#include <cstdint>
#include <vector>

#include "tag/tag_key.h"
#include "tools/tag_payload.h"

enum class TrailerPlacement { kAppended, kInCertificateRecord };

// Removes the file's trailer if its last 1024 bytes verify under `key`,
// shrinking the certificate record that holds it. True when one was removed.
bool RemoveSignedTrailer(std::vector<std::uint8_t>& file, const TagKey& key);

// Puts the trailer at the end of the file. Throws ToolError (operational) for
// a certificate table that cannot be walked.
TrailerPlacement PlaceTrailer(std::vector<std::uint8_t>& file, const Trailer& trailer);
