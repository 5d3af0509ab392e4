// The two ways SHA-256 compresses its 64-byte blocks; Sha256Context takes
// the processor's instructions where HasShaExtensions finds them.
#pragma once

#include <cstddef>
#include <cstdint>

void CompressBlock(std::uint32_t (&chaining)[8], const std::uint8_t* block);

bool HasShaExtensions();

// Only where HasShaExtensions is true.
void CompressBlocksWithShaExtensions(std::uint32_t (&chaining)[8], const std::uint8_t* blocks,
                                     std::size_t count);
