// What the unit tests and the placement fuzzer read back of a planned copy.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/byte_source.h"

// The bytes `pieces` of `source` stand for.
inline std::vector<std::uint8_t> Materialized(const ByteSource& source, const std::vector<CopyPiece>& pieces) {
  std::vector<std::uint8_t> bytes;
  for (const CopyPiece& piece : pieces) {
    if (!piece.bytes.empty()) {
      bytes.insert(bytes.end(), piece.bytes.begin(), piece.bytes.end());
      continue;
    }
    const std::size_t at = bytes.size();
    bytes.resize(at + piece.size);
    source.Fetch(piece.offset, bytes.data() + at, piece.size);
  }
  return bytes;
}
