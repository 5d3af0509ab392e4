// Fuzzes where zorva-tag puts a trailer in a file it did not make: any bytes,
// seeded with real and signed exes and broken headers. Whatever the input, a
// copy that is made ends in the trailer, which verifies; placing again gives
// the same bytes, also after another trailer of the key took its place; and
// before the certificate table or the original end only the checksum, the
// security directory's size and the last record's length may change.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

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

std::optional<std::vector<std::uint8_t>> Place(const std::vector<std::uint8_t>& file, const TagKey& key,
                                               const Trailer& trailer) {
  try {
    MemorySink sink;
    WriteTaggedCopy(MemorySource(file), key, trailer, sink);
    return sink.bytes;
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

void CheckUnchangedBefore(const std::vector<std::uint8_t>& input, const std::vector<std::uint8_t>& output,
                          std::uint64_t originalEnd) {
  const auto fields = ChangeableFields(input);
  std::uint64_t tableStart = originalEnd;
  for (std::uint64_t entry : {fields[1] - 4, fields[2] - 4}) {
    if (const auto start = Read32(input, entry); start && *start != 0) tableStart = std::min<std::uint64_t>(tableStart, *start);
  }
  std::optional<std::uint64_t> firstChangeInTable;
  for (std::uint64_t at = 0; at < originalEnd; ++at) {
    if (input[at] == output[at] || InField(at, fields)) continue;
    if (at < tableStart) std::abort();
    // In the table only the last record's dwLength changes: four bytes.
    if (!firstChangeInTable) firstChangeInTable = at;
    if (at - *firstChangeInTable >= 4) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Keys keys;
  static const Trailer trailer = keys.Sign("placed");
  static const Trailer other = keys.Sign("another");
  const std::vector<std::uint8_t> input(data, data + size);
  const auto placed = Place(input, keys.tagKey, trailer);
  if (!placed) return 0;

  if (placed->size() < kTrailerSize || !std::equal(trailer.begin(), trailer.end(), placed->end() - kTrailerSize) ||
      !IsTrailerSigned(placed->data() + placed->size() - kTrailerSize, keys.tagKey)) {
    std::abort();
  }
  const bool replacedTrailer = size >= kTrailerSize && IsTrailerSigned(data + size - kTrailerSize, keys.tagKey);
  const std::uint64_t originalEnd = std::min(size - (replacedTrailer ? kTrailerSize : 0), placed->size() - kTrailerSize);
  CheckUnchangedBefore(input, *placed, originalEnd);

  if (Place(*placed, keys.tagKey, trailer) != placed) std::abort();
  const auto replaced = Place(*placed, keys.tagKey, other);
  if (!replaced || Place(*replaced, keys.tagKey, trailer) != placed) std::abort();
  return 0;
}
