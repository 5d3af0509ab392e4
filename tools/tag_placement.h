// Where a trailer goes in a copy: appended to the file, or, in a PE file whose
// Authenticode certificate table is its last data, at the end of the last
// WIN_CERTIFICATE record (padded to a multiple of 8 from the record's start),
// with the record's dwLength and the security directory's size grown to
// match. The Authenticode hash skips the certificate table, so the signature
// still verifies. A trailer signed by the same key that already ends the file
// is replaced, not stacked.
#pragma once

#include "tag/tag_key.h"
#include "tools/byte_source.h"
#include "tools/tag_payload.h"

enum class TrailerPlacement { kAppended, kInCertificateRecord };

// Streams `source` with `trailer` put at its end into `sink`, recomputing the
// PE checksum of a PE32 or PE32+ file that has one. Throws ToolError
// (operational) for a certificate table that cannot be used.
TrailerPlacement WriteTaggedCopy(const ByteSource& source, const TagKey& key, const Trailer& trailer,
                                 ByteSink& sink);
