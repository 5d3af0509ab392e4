// Bytes in memory as the tagging tool's sources and sinks, for the unit tests
// and the placement fuzzer. The source is a heap block of exactly its size,
// so that AddressSanitizer reports any read past its end.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "tools/byte_source.h"

class MemorySource : public ByteSource {
 public:
  explicit MemorySource(const std::vector<std::uint8_t>& bytes)
      : size_(bytes.size()), bytes_(std::make_unique<std::uint8_t[]>(bytes.size())) {
    std::copy(bytes.begin(), bytes.end(), bytes_.get());
  }
  std::uint64_t Size() const override { return size_; }
  void Fetch(std::uint64_t offset, std::uint8_t* out, std::size_t count) const override {
    if (offset > size_ || size_ - offset < count) std::abort();
    std::memcpy(out, bytes_.get() + offset, count);
  }

 private:
  std::size_t size_;
  std::unique_ptr<std::uint8_t[]> bytes_;
};

class MemorySink : public ByteSink {
 public:
  void Append(const std::uint8_t* bytes, std::size_t count) override {
    bytes_.insert(bytes_.end(), bytes, bytes + count);
  }
  void Overwrite(std::uint64_t offset, const std::uint8_t* bytes, std::size_t count) override {
    if (offset > bytes_.size() || bytes_.size() - offset < count) std::abort();
    std::copy(bytes, bytes + count, bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
  }
  std::vector<std::uint8_t> bytes_;
};

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
