#include "tools/byte_source.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

void MemorySource::Fetch(std::uint64_t offset, std::uint8_t* out, std::size_t count) const {
  if (offset > bytes_.size() || bytes_.size() - offset < count) std::abort();
  std::memcpy(out, bytes_.data() + offset, count);
}

void MemorySink::Append(const std::uint8_t* appended, std::size_t count) {
  bytes.insert(bytes.end(), appended, appended + count);
}

void MemorySink::Overwrite(std::uint64_t offset, const std::uint8_t* replacement, std::size_t count) {
  if (offset > bytes.size() || bytes.size() - offset < count) std::abort();
  std::copy(replacement, replacement + count, bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

ByteCursor::ByteCursor(const ByteSource& source, std::uint64_t end)
    : source_(source), end_(std::min(end, source.Size())) {}

bool ByteCursor::Read(std::uint64_t offset, std::uint8_t* out, std::size_t count) const {
  if (offset > end_ || end_ - offset < count) return false;
  source_.Fetch(offset, out, count);
  return true;
}

std::optional<std::uint16_t> ByteCursor::U16(std::uint64_t offset) const {
  std::uint8_t bytes[2];
  if (!Read(offset, bytes, sizeof bytes)) return std::nullopt;
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::optional<std::uint32_t> ByteCursor::U32(std::uint64_t offset) const {
  std::uint8_t bytes[4];
  if (!Read(offset, bytes, sizeof bytes)) return std::nullopt;
  return std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) | (std::uint32_t{bytes[2]} << 16) |
         (std::uint32_t{bytes[3]} << 24);
}

std::optional<std::uint64_t> ByteCursor::FirstNonZero(std::uint64_t from, std::uint64_t to) const {
  std::array<std::uint8_t, 4096> chunk;
  for (std::uint64_t at = from; at < to;) {
    const std::size_t count = std::min<std::uint64_t>(chunk.size(), to - at);
    if (!Read(at, chunk.data(), count)) return at;
    const auto nonZero = std::find_if(chunk.begin(), chunk.begin() + count, [](std::uint8_t b) { return b != 0; });
    if (nonZero != chunk.begin() + count) return at + static_cast<std::uint64_t>(nonZero - chunk.begin());
    at += count;
  }
  return std::nullopt;
}

void StoreU32(std::uint8_t* out, std::uint32_t value) {
  for (int k = 0; k < 4; ++k) out[k] = static_cast<std::uint8_t>(value >> (8 * k));
}
