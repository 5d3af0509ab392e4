#include "tools/tag_placement.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "tools/pe_layout.h"
#include "tools/signature_attribute.h"

namespace {

constexpr std::size_t kCopyChunkSize = 1 << 20;

// A 32-bit value that replaces four bytes of the copy.
struct Patch {
  std::uint64_t offset;
  std::uint32_t value;
};

struct PlacementPlan {
  TrailerPlacement placement;
  std::vector<CopyPiece> pieces;  // the copy, trailer included
  std::vector<Patch> patches;     // at offsets of the copy
  std::optional<std::uint64_t> checksumField;
};

// The signature of the certificate record that ends a file's first `end`
// bytes.
struct EndingSignature {
  CertificateTable table;
  SignatureBlob blob;
  std::uint64_t end;
};

// What a copy holds before a trailer goes in.
struct CopyShape {
  bool endsWithTrailer;    // of the key
  std::uint64_t keptSize;  // without that trailer
  std::optional<PeLayout> layout;
  std::optional<EndingSignature> signature;
};

bool EndsWithSignedTrailer(const ByteSource& source, const TagKey& key) {
  if (source.Size() < kTrailerSize) return false;
  Trailer last;
  source.Fetch(source.Size() - kTrailerSize, last.data(), last.size());
  // The leading byte first: an untagged file, the service's every base copy,
  // is then told apart without a signature check.
  return last[0] == kTrailerLeadingByte && IsTrailerSigned(last.data(), key);
}

// A signed copy's certificate table ends the file, or ends just before a
// trailer of the key appended to it. Any other table is checked all the same.
CopyShape ShapeOf(const ByteSource& source, const TagKey& key) {
  const bool endsWithTrailer = EndsWithSignedTrailer(source, key);
  CopyShape shape{endsWithTrailer, source.Size() - (endsWithTrailer ? kTrailerSize : 0), std::nullopt, std::nullopt};
  shape.layout = ReadPeLayout(ByteCursor(source, shape.keptSize));
  if (!shape.layout || !shape.layout->securityEntry || shape.layout->tableSize == 0) return shape;
  const std::uint64_t tableEnd = std::uint64_t{shape.layout->tableStart} + shape.layout->tableSize;
  const std::uint64_t end = tableEnd == source.Size() ? source.Size() : shape.keptSize;
  const ByteCursor bytes(source, end);
  const CertificateTable table = ReadCertificateTable(bytes, *shape.layout);
  if (tableEnd != end) return shape;
  const std::uint64_t recordEnd = table.lastRecord + table.lastRecordLength;
  shape.signature = EndingSignature{
      table, ReadSignatureBlob(bytes, table.lastRecord + kCertificateHeaderSize, recordEnd), end};
  return shape;
}

// After the blob the record may hold zero padding and, put there by earlier
// versions, a trailer of the key at the file's end; both go.
void RequireOnlyPaddingOrTrailerAfterBlob(const ByteSource& source, const CopyShape& shape) {
  const EndingSignature& signature = *shape.signature;
  const std::uint64_t blobEnd = signature.blob.End();
  const bool trailerAfterBlob = shape.endsWithTrailer && signature.end == source.Size() &&
                                source.Size() - blobEnd >= kTrailerSize;
  const std::uint64_t paddingEnd = trailerAfterBlob ? source.Size() - kTrailerSize : signature.end;
  if (const auto at = ByteCursor(source, paddingEnd).FirstNonZero(blobEnd, paddingEnd)) {
    RejectCertificateTable("byte " + std::to_string(*at) + " after the PKCS #7 blob, which ends at " +
                           std::to_string(blobEnd) + ", is neither zero padding nor part of a tag of this key");
  }
}

void PlanInSignature(PlacementPlan& plan, const ByteSource& source, const CopyShape& shape, const Trailer& trailer) {
  RequireOnlyPaddingOrTrailerAfterBlob(source, shape);
  const EndingSignature& signature = *shape.signature;
  std::vector<CopyPiece> blob = BlobWithTagAttribute(signature.blob, trailer);
  const std::uint64_t recordLength = kCertificateHeaderSize + LengthOf(blob);
  const std::uint64_t tableSize = signature.table.lastRecord + recordLength - signature.table.start;
  if (tableSize > 0xFFFFFFFFu) RejectCertificateTable("it would exceed 4 GiB");
  plan.placement = TrailerPlacement::kInSignature;
  plan.pieces = {{0, signature.blob.Start(), {}}};
  plan.pieces.insert(plan.pieces.end(), blob.begin(), blob.end());
  plan.patches.push_back({signature.table.lastRecord, static_cast<std::uint32_t>(recordLength)});
  plan.patches.push_back({*shape.layout->securityEntry + 4, static_cast<std::uint32_t>(tableSize)});
}

PlacementPlan PlanPlacement(const ByteSource& source, const TagKey& key, const Trailer& trailer) {
  const CopyShape shape = ShapeOf(source, key);
  PlacementPlan plan{TrailerPlacement::kAppended, {{0, shape.keptSize, {}}, {0, 0, {trailer.begin(), trailer.end()}}},
                     {}, std::nullopt};
  if (!shape.layout) return plan;
  // A CheckSum of zero says the file does not use one.
  if (shape.layout->checksum != 0) {
    plan.checksumField = shape.layout->checksumField;
    plan.patches.push_back({shape.layout->checksumField, 0});
  }
  if (shape.signature) PlanInSignature(plan, source, shape, trailer);
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

// Streams the copy with its CheckSum field zero, and returns the checksum
// the field is to hold.
PeChecksum StreamPlacedCopy(const ByteSource& source, const PlacementPlan& plan, ByteSink& sink) {
  PeChecksum checksum;
  std::uint64_t written = 0;
  const auto write = [&](std::uint8_t* bytes, std::size_t size) {
    ApplyPatches(plan.patches, written, bytes, size);
    checksum.Add(bytes, size);
    sink.Append(bytes, size);
    written += size;
  };
  std::vector<std::uint8_t> chunk;
  for (const CopyPiece& piece : plan.pieces) {
    if (!piece.bytes.empty()) {
      chunk = piece.bytes;
      write(chunk.data(), chunk.size());
      continue;
    }
    chunk.resize(std::min<std::uint64_t>(kCopyChunkSize, piece.size));
    for (std::uint64_t done = 0; done < piece.size; done += chunk.size()) {
      const std::size_t size = std::min<std::uint64_t>(chunk.size(), piece.size - done);
      source.Fetch(piece.offset + done, chunk.data(), size);
      write(chunk.data(), size);
    }
  }
  return checksum;
}

// Any trailer will do where only its place and length matter.
constexpr Trailer kPlaceholderTrailer{};

}  // namespace

void PeChecksum::Add(const std::uint8_t* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i, ++length_) sum_ += std::uint64_t{bytes[i]} << (8 * (length_ & 1));
}

std::uint32_t PeChecksum::Value() const {
  std::uint64_t folded = sum_;
  while (folded >> 16) folded = (folded & 0xFFFF) + (folded >> 16);
  return static_cast<std::uint32_t>(folded + length_);
}

TrailerPlacement WriteTaggedCopy(const ByteSource& source, const TagKey& key, const Trailer& trailer,
                                 ByteSink& sink) {
  const PlacementPlan plan = PlanPlacement(source, key, trailer);
  const PeChecksum checksum = StreamPlacedCopy(source, plan, sink);
  if (plan.checksumField) {
    std::uint8_t value[4];
    StoreU32(value, checksum.Value());
    sink.Overwrite(*plan.checksumField, value, sizeof value);
  }
  return plan.placement;
}

PreparedCopy::PreparedCopy(const ByteSource& source, const TagKey& key) {
  // The plan's pieces and patches hang on the trailer's length alone, and
  // the trailer is the last piece: the bytes before it are every copy's.
  const PlacementPlan plan = PlanPlacement(source, key, kPlaceholderTrailer);
  MemorySink sink;
  StreamPlacedCopy(source, plan, sink);
  sink.bytes.resize(sink.bytes.size() - kTrailerSize);
  head_ = std::move(sink.bytes);
  headChecksum_.Add(head_.data(), head_.size());
  checksumField_ = plan.checksumField;
}

std::vector<std::uint8_t> PreparedCopy::CopyWith(const Trailer& trailer) const {
  std::vector<std::uint8_t> copy;
  copy.reserve(head_.size() + trailer.size());
  copy.assign(head_.begin(), head_.end());
  copy.insert(copy.end(), trailer.begin(), trailer.end());
  if (checksumField_) {
    PeChecksum checksum = headChecksum_;
    checksum.Add(trailer.data(), trailer.size());
    StoreU32(copy.data() + *checksumField_, checksum.Value());
  }
  return copy;
}

std::optional<TrailerPlacement> LocateTrailer(const ByteSource& file, const TagKey& key) {
  const CopyShape shape = ShapeOf(file, key);
  if (!shape.signature || shape.signature->end != file.Size()) return TrailerPlacement::kAppended;
  const SignatureBlob& blob = shape.signature->blob;
  if (blob.EndsInTagAttribute() && blob.End() == file.Size()) return TrailerPlacement::kInSignature;
  if (file.Size() - blob.End() >= kTrailerSize) return TrailerPlacement::kAfterSignatureBlob;
  return std::nullopt;
}
