#include "tag/sha256.h"

#include <cstring>

#include "base/byte_order.h"
#include "tag/sha256_blocks.h"

#include <cpuid.h>
#include <immintrin.h>

namespace {

constexpr std::uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr std::uint32_t kInitialHash[8] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

std::uint32_t RotateRight(std::uint32_t x, int bits) {
  return (x >> bits) | (x << (32 - bits));
}

}  // namespace

void CompressBlock(std::uint32_t (&chaining)[8], const std::uint8_t* block) {
  std::uint32_t schedule[64];
  for (int t = 0; t < 16; ++t) schedule[t] = LoadBigEndian32(block + 4 * t);
  for (int t = 16; t < 64; ++t) {
    const std::uint32_t w15 = schedule[t - 15];
    const std::uint32_t w2 = schedule[t - 2];
    const std::uint32_t sigma0 = RotateRight(w15, 7) ^ RotateRight(w15, 18) ^ (w15 >> 3);
    const std::uint32_t sigma1 = RotateRight(w2, 17) ^ RotateRight(w2, 19) ^ (w2 >> 10);
    schedule[t] = schedule[t - 16] + sigma0 + schedule[t - 7] + sigma1;
  }
  std::uint32_t a = chaining[0], b = chaining[1], c = chaining[2], d = chaining[3];
  std::uint32_t e = chaining[4], f = chaining[5], g = chaining[6], h = chaining[7];
  for (int t = 0; t < 64; ++t) {
    const std::uint32_t sum1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
    const std::uint32_t choose = (e & f) ^ (~e & g);
    const std::uint32_t t1 = h + sum1 + choose + kRoundConstants[t] + schedule[t];
    const std::uint32_t sum0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
    const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
    const std::uint32_t t2 = sum0 + majority;
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  chaining[0] += a;
  chaining[1] += b;
  chaining[2] += c;
  chaining[3] += d;
  chaining[4] += e;
  chaining[5] += f;
  chaining[6] += g;
  chaining[7] += h;
}

bool HasShaExtensions() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d) || (c & bit_SSSE3) == 0 || (c & bit_SSE4_1) == 0)
    return false;
  return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_SHA) != 0;
}

// The processor's SHA-256 instructions take the state as two registers, ABEF
// and CDGH (A in the highest lane), do two rounds an instruction, and derive
// four schedule words from the twelve before them in two.
__attribute__((target("sha,sse4.1"))) void CompressBlocksWithShaExtensions(
    std::uint32_t (&chaining)[8], const std::uint8_t* blocks, std::size_t count) {
  const __m128i bigEndianWords = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  const __m128i badc = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(chaining)), 0xB1);
  const __m128i hgfe =
      _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(chaining + 4)), 0x1B);
  __m128i abef = _mm_alignr_epi8(badc, hgfe, 8);
  __m128i cdgh = _mm_blend_epi16(hgfe, badc, 0xF0);
  for (; count > 0; --count, blocks += 64) {
    const __m128i abefBefore = abef, cdghBefore = cdgh;
    __m128i words[4];  // words[g % 4]: the schedule words of rounds 4g to 4g + 3
    for (int i = 0; i < 4; ++i) {
      words[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)),
                                  bigEndianWords);
    }
    for (int group = 0; group < 16; ++group) {
      __m128i& next = words[group & 3];
      if (group >= 4) {
        const __m128i& last = words[(group + 3) & 3];
        next = _mm_sha256msg2_epu32(
            _mm_add_epi32(_mm_sha256msg1_epu32(next, words[(group + 1) & 3]),
                          _mm_alignr_epi8(last, words[(group + 2) & 3], 4)),
            last);
      }
      const __m128i sums = _mm_add_epi32(
          next, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRoundConstants + 4 * group)));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, sums);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(sums, 0x0E));
    }
    abef = _mm_add_epi32(abef, abefBefore);
    cdgh = _mm_add_epi32(cdgh, cdghBefore);
  }
  const __m128i abef_ = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i ghcd = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(chaining), _mm_blend_epi16(abef_, ghcd, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(chaining + 4), _mm_alignr_epi8(ghcd, abef_, 8));
}

namespace {

// Asked once: in a virtual machine each CPUID is a trip to the host, and
// the installer's bytes come in thousands of pieces.
const bool shaExtensions = HasShaExtensions();

// A pinned installer is hashed as it arrives: at the processor's own pace
// where it has the instructions for it.
void CompressBlocks(std::uint32_t (&chaining)[8], const std::uint8_t* blocks, std::size_t count) {
  if (shaExtensions) {
    CompressBlocksWithShaExtensions(chaining, blocks, count);
    return;
  }
  for (; count > 0; --count, blocks += 64) CompressBlock(chaining, blocks);
}

}  // namespace

void Sha256Context::Init() {
  blockFill = 0;
  bitCount = 0;
  std::memcpy(chaining, kInitialHash, sizeof chaining);
}

void Sha256Context::Update(const std::uint8_t* data, std::size_t size) {
  bitCount += static_cast<std::uint64_t>(size) * 8;
  while (size > 0) {
    if (blockFill == 0 && size >= sizeof block) {
      const std::size_t whole = size / sizeof block;
      CompressBlocks(chaining, data, whole);
      data += whole * sizeof block;
      size -= whole * sizeof block;
      continue;
    }
    const std::size_t room = sizeof block - blockFill;
    const std::size_t taken = size < room ? size : room;
    std::memcpy(block + blockFill, data, taken);
    blockFill += static_cast<std::uint32_t>(taken);
    data += taken;
    size -= taken;
    if (blockFill == sizeof block) {
      CompressBlocks(chaining, block, 1);
      blockFill = 0;
    }
  }
}

void Sha256Context::Final(std::uint8_t* digest) {
  // Padding: one 1 bit, zeros up to 8 bytes before a block end, then the
  // message length in bits as a 64-bit big-endian number.
  const std::uint64_t messageBits = bitCount;
  block[blockFill++] = 0x80;
  if (blockFill > sizeof block - 8) {
    std::memset(block + blockFill, 0, sizeof block - blockFill);
    CompressBlocks(chaining, block, 1);
    blockFill = 0;
  }
  std::memset(block + blockFill, 0, sizeof block - 8 - blockFill);
  StoreBigEndian32(static_cast<std::uint32_t>(messageBits >> 32), block + 56);
  StoreBigEndian32(static_cast<std::uint32_t>(messageBits), block + 60);
  CompressBlocks(chaining, block, 1);
  for (int i = 0; i < 8; ++i) StoreBigEndian32(chaining[i], digest + 4 * i);
}
