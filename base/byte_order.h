// Fixed byte orders of the formats we read and write, independent of the
// machine's own.
#pragma once

#include <cstdint>

// SHA-256 words and RSA numbers are both stored most significant byte first.
constexpr std::uint32_t LoadBigEndian32(const std::uint8_t* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

constexpr void StoreBigEndian32(std::uint32_t value, std::uint8_t* bytes) {
  bytes[0] = static_cast<std::uint8_t>(value >> 24);
  bytes[1] = static_cast<std::uint8_t>(value >> 16);
  bytes[2] = static_cast<std::uint8_t>(value >> 8);
  bytes[3] = static_cast<std::uint8_t>(value);
}
