// Fuzzes where zorva-tag puts a trailer in a file it did not make: any bytes,
// seeded with real, signed, nested-signed and tagged exes and broken headers.
// Whatever the input, a copy that is made ends in the trailer, which
// verifies; placing again gives the same bytes, also after another trailer of
// the key took its place. An appended trailer changes nothing before it but
// the checksum. A trailer inside the signature leaves the copy as Windows'
// strict check wants it (the blob a multiple of 8, ending the record, the
// table and the file); before the blob only the checksum, the security
// directory's size and the record's length change, and in the blob nothing
// but the tag attribute and the enclosing headers; removing the attribute and
// placing again gives the same bytes. A copy made from the file's prepared
// head, as the tagging service makes them, is the same copy.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "tests/memory_bytes.h"
#include "tools/pe_layout.h"
#include "tools/signature_attribute.h"
#include "tools/tag_keys.h"
#include "tools/tag_placement.h"
#include "tools/tool_error.h"

namespace {

struct Keys {
  Pkey key = LoadPrivateTagKey(ZORVA_DEVELOPMENT_PRIVATE_KEY);
  TagKey tagKey = TagKeyOf(key.get());
  Trailer Sign(const char* headline) const {
    const TagPayload payload = BuildTagPayload({headline, std::nullopt, std::nullopt});
    return AssembleTrailer(SignWithTagKey(key.get(), payload.data(), payload.size()), payload);
  }
};

struct Placed {
  std::vector<std::uint8_t> bytes;
  TrailerPlacement placement;
  bool operator==(const Placed&) const = default;
};

std::optional<Placed> Place(const std::vector<std::uint8_t>& file, const TagKey& key, const Trailer& trailer) {
  try {
    MemorySink sink;
    const TrailerPlacement placement = WriteTaggedCopy(MemorySource(file), key, trailer, sink);
    return Placed{sink.bytes, placement};
  } catch (const ToolError&) {
    return std::nullopt;
  }
}

std::optional<std::uint32_t> Read32(const std::vector<std::uint8_t>& file, std::uint64_t at) {
  if (at > file.size() || file.size() - at < 4) return std::nullopt;
  return std::uint32_t{file[at]} | (std::uint32_t{file[at + 1]} << 8) | (std::uint32_t{file[at + 2]} << 16) |
         (std::uint32_t{file[at + 3]} << 24);
}

// Offsets of the four-byte fields that may change: the CheckSum and the
// security directory's size, found the plain way, for PE32 and PE32+ alike.
std::vector<std::uint64_t> ChangeableFields(const std::vector<std::uint8_t>& file) {
  const std::uint64_t optionalHeader = std::uint64_t{Read32(file, 0x3C).value_or(0)} + 24;
  return {optionalHeader + 64, optionalHeader + 96 + 36, optionalHeader + 112 + 36};
}

bool InField(std::uint64_t at, const std::vector<std::uint64_t>& fields) {
  return std::any_of(fields.begin(), fields.end(), [&](std::uint64_t field) { return at - field < 4; });
}

// Before `end` the copy differs from the input only in `fields` and, from
// `tableStart` on, in one run of four bytes: the last record's dwLength.
void CheckUnchangedBefore(const std::vector<std::uint8_t>& input, const std::vector<std::uint8_t>& output,
                          std::uint64_t end, const std::vector<std::uint64_t>& fields, std::uint64_t tableStart) {
  std::optional<std::uint64_t> firstChangeInTable;
  for (std::uint64_t at = 0; at < end; ++at) {
    if (input[at] == output[at] || InField(at, fields)) continue;
    if (at < tableStart) std::abort();
    if (!firstChangeInTable) firstChangeInTable = at;
    if (at - *firstChangeInTable >= 4) std::abort();
  }
}

void CheckAppended(const std::vector<std::uint8_t>& input, const std::vector<std::uint8_t>& placed, bool replaced) {
  const std::uint64_t kept = input.size() - (replaced ? kTrailerSize : 0);
  if (placed.size() != kept + kTrailerSize) std::abort();
  CheckUnchangedBefore(input, placed, kept, {ChangeableFields(input)[0]}, kept);
}

// A copy's last record and its signature, read by the tool's own readers.
struct SignedCopy {
  PeLayout layout;
  CertificateTable table;
  SignatureBlob blob;
};

SignedCopy ReadSignedCopy(const ByteSource& copy) {
  const ByteCursor bytes(copy, copy.Size());
  const auto layout = ReadPeLayout(bytes);
  if (!layout) std::abort();
  const CertificateTable table = ReadCertificateTable(bytes, *layout);
  const std::uint64_t blobStart = table.lastRecord + kCertificateHeaderSize;
  return {*layout, table, ReadSignatureBlob(bytes, blobStart, table.lastRecord + table.lastRecordLength)};
}

// The blob's bytes that placing may not change: all but the enclosing
// headers and the tag attribute.
std::vector<std::uint8_t> KeptBytes(const std::vector<std::uint8_t>& file, const SignatureBlob& blob) {
  std::vector<std::uint8_t> kept;
  const auto keep = [&](std::uint64_t from, std::uint64_t to) {
    kept.insert(kept.end(), file.begin() + static_cast<std::ptrdiff_t>(from),
                file.begin() + static_cast<std::ptrdiff_t>(to));
  };
  const auto& enclosing = blob.enclosing;
  for (std::size_t i = 0; i + 1 < enclosing.size(); ++i) keep(enclosing[i].contentStart, enclosing[i + 1].start);
  const std::uint64_t signedEnd = blob.unsignedAttributes ? blob.unsignedAttributes->start : enclosing.back().end;
  keep(enclosing.back().contentStart, signedEnd);
  if (!blob.unsignedAttributes) return kept;
  const std::uint64_t cut = blob.tagAttribute ? blob.tagAttribute->start : blob.unsignedAttributes->end;
  keep(blob.unsignedAttributes->contentStart, cut);
  if (blob.tagAttribute) keep(blob.tagAttribute->end, blob.unsignedAttributes->end);
  return kept;
}

void StoreAt(std::vector<std::uint8_t>& file, std::uint64_t at, std::uint64_t value) {
  StoreU32(file.data() + at, static_cast<std::uint32_t>(value));
}

void CheckInSignature(const std::vector<std::uint8_t>& input, const Placed& placed, const TagKey& key,
                      const Trailer& trailer) {
  const MemorySource copy(placed.bytes);
  const SignedCopy signedCopy = ReadSignedCopy(copy);
  const SignatureBlob& blob = signedCopy.blob;
  const std::uint64_t size = placed.bytes.size();
  const std::uint64_t blobStart = blob.Start();
  if (signedCopy.table.start + signedCopy.table.size != size || blob.End() != size ||
      signedCopy.table.lastRecord + signedCopy.table.lastRecordLength != size || (size - blobStart) % 8 != 0 ||
      !blob.EndsInTagAttribute()) {
    std::abort();
  }
  const MemorySource original(input);
  const std::uint64_t inputRecord = signedCopy.table.lastRecord;
  const SignatureBlob inputBlob = ReadSignatureBlob(ByteCursor(original, original.Size()), blobStart,
                                                    inputRecord + Read32(input, inputRecord).value());
  if (KeptBytes(input, inputBlob) != KeptBytes(placed.bytes, blob)) std::abort();
  CheckUnchangedBefore(input, placed.bytes, blobStart, ChangeableFields(input), signedCopy.table.start);

  std::vector<std::uint8_t> removed(placed.bytes.begin(),
                                    placed.bytes.begin() + static_cast<std::ptrdiff_t>(blobStart));
  const std::vector<std::uint8_t> bare = Materialized(copy, BlobWithoutTagAttribute(blob));
  removed.insert(removed.end(), bare.begin(), bare.end());
  StoreAt(removed, inputRecord, kCertificateHeaderSize + bare.size());
  StoreAt(removed, *signedCopy.layout.securityEntry + 4, removed.size() - signedCopy.table.start);
  if (Place(removed, key, trailer) != placed) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Keys keys;
  static const Trailer trailer = keys.Sign("placed");
  static const Trailer other = keys.Sign("another");
  const std::vector<std::uint8_t> input(data, data + size);
  const auto placed = Place(input, keys.tagKey, trailer);
  if (!placed) return 0;

  const std::vector<std::uint8_t>& copy = placed->bytes;
  if (copy.size() < kTrailerSize || !std::equal(trailer.begin(), trailer.end(), copy.end() - kTrailerSize) ||
      !IsTrailerSigned(copy.data() + copy.size() - kTrailerSize, keys.tagKey)) {
    std::abort();
  }
  if (placed->placement == TrailerPlacement::kInSignature) {
    CheckInSignature(input, *placed, keys.tagKey, trailer);
  } else if (placed->placement == TrailerPlacement::kAppended) {
    CheckAppended(input, copy, size >= kTrailerSize && IsTrailerSigned(data + size - kTrailerSize, keys.tagKey));
  } else {
    std::abort();
  }

  if (Place(copy, keys.tagKey, trailer) != placed) std::abort();
  if (PreparedCopy(MemorySource(input), keys.tagKey).CopyWith(trailer) != copy) std::abort();
  const auto replaced = Place(copy, keys.tagKey, other);
  if (!replaced || Place(replaced->bytes, keys.tagKey, trailer) != placed) std::abort();
  return 0;
}
