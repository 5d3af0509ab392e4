#include "tools/tag_placement.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "tools/pe_layout.h"

namespace {

constexpr std::size_t kCopyChunkSize = 1 << 20;

// A 32-bit value that replaces four bytes of the copy.
struct Patch {
  std::uint64_t offset;
  std::uint32_t value;
};

struct PlacementPlan {
  TrailerPlacement placement;
  std::uint64_t keptSize;  // bytes of the source copied, without a replaced trailer
  std::uint64_t padding;   // zero bytes between them and the new trailer
  std::vector<Patch> patches;
  std::optional<std::uint64_t> checksumField;
};

bool EndsWithSignedTrailer(const ByteSource& source, const TagKey& key) {
  if (source.Size() < kTrailerSize) return false;
  Trailer last;
  source.Fetch(source.Size() - kTrailerSize, last.data(), last.size());
  return IsTrailerSigned(last.data(), key);
}

// The certificate table as it is without a replaced trailer. A trailer of the
// key that ends the file inside the table ends its last record: the record
// and the table are then taken 1024 bytes shorter.
CertificateTable TableWithoutOldTrailer(const ByteSource& source, const PeLayout& layout, std::uint64_t keptSize) {
  const bool holdsOldTrailer = keptSize != source.Size() &&
                               std::uint64_t{layout.tableStart} + layout.tableSize == source.Size();
  if (!holdsOldTrailer) return ReadCertificateTable(ByteCursor(source, keptSize), layout);
  CertificateTable table = ReadCertificateTable(ByteCursor(source, source.Size()), layout);
  if (table.lastRecord + table.lastRecordLength != source.Size() ||
      table.lastRecordLength < 8 + kTrailerSize) {
    RejectCertificateTable("the tag at its end overlaps the header of its last record");
  }
  table.size -= kTrailerSize;
  table.lastRecordLength -= kTrailerSize;
  return table;
}

void PlanCertificateRecord(PlacementPlan& plan, const PeLayout& layout, const CertificateTable& table) {
  const std::uint64_t paddedLength = RoundUpTo8(table.lastRecordLength);
  const std::uint64_t newLength = paddedLength + kTrailerSize;
  const std::uint64_t newTableSize = table.lastRecord + newLength - table.start;
  if (newTableSize > 0xFFFFFFFFu) RejectCertificateTable("it would exceed 4 GiB");
  plan.placement = TrailerPlacement::kInCertificateRecord;
  // The table may already end in some of the zero padding.
  plan.padding = table.lastRecord + paddedLength - plan.keptSize;
  plan.patches.push_back({table.lastRecord, static_cast<std::uint32_t>(newLength)});
  plan.patches.push_back({*layout.securityEntry + 4, static_cast<std::uint32_t>(newTableSize)});
}

PlacementPlan PlanPlacement(const ByteSource& source, const TagKey& key) {
  const std::uint64_t keptSize = source.Size() - (EndsWithSignedTrailer(source, key) ? kTrailerSize : 0);
  PlacementPlan plan{TrailerPlacement::kAppended, keptSize, 0, {}, std::nullopt};
  const auto layout = ReadPeLayout(ByteCursor(source, keptSize));
  if (!layout) return plan;
  // A CheckSum of zero says the file does not use one.
  if (layout->checksum != 0) {
    plan.checksumField = layout->checksumField;
    plan.patches.push_back({layout->checksumField, 0});
  }
  if (!layout->securityEntry || layout->tableSize == 0) return plan;
  const CertificateTable table = TableWithoutOldTrailer(source, *layout, keptSize);
  if (table.start + table.size == keptSize) PlanCertificateRecord(plan, *layout, table);
  return plan;
}

void ApplyPatches(const std::vector<Patch>& patches, std::uint64_t chunkOffset, std::uint8_t* chunk,
                  std::size_t size) {
  for (const Patch& patch : patches) {
    std::uint8_t bytes[4];
    StoreU32(bytes, patch.value);
    for (std::uint64_t k = 0; k < 4; ++k) {
      const std::uint64_t at = patch.offset + k;
      if (at >= chunkOffset && at - chunkOffset < size) chunk[at - chunkOffset] = bytes[k];
    }
  }
}

// The PE CheckSum: the file's 16-bit little-endian words summed with their
// carries folded back in, plus the file's length. The field itself counts as
// zero. Signing tools set it; a stale one makes verifiers warn.
class PeChecksum {
 public:
  void Add(const std::uint8_t* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i, ++length_) sum_ += std::uint64_t{bytes[i]} << (8 * (length_ & 1));
  }
  std::uint32_t Value() const {
    std::uint64_t folded = sum_;
    while (folded >> 16) folded = (folded & 0xFFFF) + (folded >> 16);
    return static_cast<std::uint32_t>(folded + length_);
  }

 private:
  std::uint64_t sum_ = 0;
  std::uint64_t length_ = 0;
};

void StreamPlacedCopy(const ByteSource& source, const PlacementPlan& plan, const Trailer& trailer,
                      ByteSink& sink) {
  PeChecksum checksum;
  const auto write = [&](const std::uint8_t* bytes, std::size_t size) {
    checksum.Add(bytes, size);
    sink.Append(bytes, size);
  };
  std::vector<std::uint8_t> chunk(std::min<std::uint64_t>(kCopyChunkSize, plan.keptSize));
  for (std::uint64_t offset = 0; offset < plan.keptSize; offset += chunk.size()) {
    const std::size_t size = std::min<std::uint64_t>(chunk.size(), plan.keptSize - offset);
    source.Fetch(offset, chunk.data(), size);
    ApplyPatches(plan.patches, offset, chunk.data(), size);
    write(chunk.data(), size);
  }
  const std::array<std::uint8_t, 8> zeros{};
  write(zeros.data(), plan.padding);
  write(trailer.data(), trailer.size());
  if (plan.checksumField) {
    std::uint8_t value[4];
    StoreU32(value, checksum.Value());
    sink.Overwrite(*plan.checksumField, value, sizeof value);
  }
}

}  // namespace

TrailerPlacement WriteTaggedCopy(const ByteSource& source, const TagKey& key, const Trailer& trailer,
                                 ByteSink& sink) {
  const PlacementPlan plan = PlanPlacement(source, key);
  StreamPlacedCopy(source, plan, trailer, sink);
  return plan.placement;
}
