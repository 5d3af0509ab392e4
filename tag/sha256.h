// Streaming SHA-256 (FIPS 180-4) for the setup tag's payload digest.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kSha256DigestSize = 32;

struct Sha256Context {
  std::uint8_t block[64];  // the partial block kept between Update calls
  std::uint32_t blockFill;
  std::uint64_t bitCount;  // message length so far, in bits
  std::uint32_t chaining[8];

  void Init();
  void Update(const std::uint8_t* data, std::size_t size);
  // Pads the message and writes the 32-byte big-endian digest. The context
  // must be started again with Init before further use.
  void Final(std::uint8_t* digest);
};
