#include <openssl/sha.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tag/sha256.h"
#include "tag/sha256_blocks.h"
#include "tools/tag_keys.h"

namespace {

std::string DigestHex(const std::vector<std::vector<std::uint8_t>>& pieces) {
  Sha256Context context;
  context.Init();
  for (const auto& piece : pieces) context.Update(piece.data(), piece.size());
  std::uint8_t digest[kSha256DigestSize];
  context.Final(digest);
  return HexOf(digest, sizeof digest);
}

std::vector<std::uint8_t> BytesOf(const std::string& text) { return {text.begin(), text.end()}; }

struct KnownAnswer {
  std::string message;
  std::string digest;
};

// FIPS 180-4 example messages (one block, two blocks, the 896-bit message)
// and the empty message.
const KnownAnswer kKnownAnswers[] = {
    {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
     "mnopqrstnopqrstu",
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
};

TEST(TagSha256, KnownAnswers) {
  for (const auto& known : kKnownAnswers) {
    EXPECT_EQ(DigestHex({BytesOf(known.message)}), known.digest) << known.message;
  }
}

TEST(TagSha256, MillionLetterA) {
  // Fed in uneven runs so block boundaries fall inside Update calls.
  const std::vector<std::uint8_t> run(999, 'a');
  std::vector<std::vector<std::uint8_t>> pieces(1001, run);
  pieces.push_back(std::vector<std::uint8_t>(1000000 - 999 * 1001, 'a'));
  EXPECT_EQ(DigestHex(pieces), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(TagSha256, EverySplitPointGivesTheSameDigest) {
  std::vector<std::uint8_t> message(200);
  for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<std::uint8_t>(i * 7 + 3);
  const std::string whole = DigestHex({message});
  for (std::size_t split = 0; split <= message.size(); ++split) {
    const std::vector<std::uint8_t> head(message.begin(), message.begin() + split);
    const std::vector<std::uint8_t> tail(message.begin() + split, message.end());
    EXPECT_EQ(DigestHex({head, tail}), whole) << "split at " << split;
  }
}

TEST(TagSha256, MatchesOpenSslOnRandomInputsInRandomSplits) {
  std::mt19937 random(20261207);
  for (int round = 0; round < 300; ++round) {
    std::vector<std::uint8_t> message(random() % 1500);
    for (auto& byte : message) byte = static_cast<std::uint8_t>(random());
    std::vector<std::vector<std::uint8_t>> pieces;
    for (std::size_t at = 0; at < message.size();) {
      const std::size_t length = std::min<std::size_t>(random() % 150, message.size() - at);
      pieces.emplace_back(message.begin() + at, message.begin() + at + length);
      at += length;
    }
    std::uint8_t expected[SHA256_DIGEST_LENGTH];
    SHA256(message.data(), message.size(), expected);
    EXPECT_EQ(DigestHex(pieces), HexOf(expected, sizeof expected)) << "length " << message.size();
  }
}

// The digest above takes the processor's instructions where it has them:
// both ways must give the same chaining values, block after block.
TEST(TagSha256, TheProcessorsInstructionsCompressAsThePortableCodeDoes) {
  if (!HasShaExtensions()) GTEST_SKIP() << "this processor has no SHA instructions";
  std::mt19937 random(20261210);
  std::vector<std::uint8_t> blocks(64 * 37);
  for (auto& byte : blocks) byte = static_cast<std::uint8_t>(random());
  std::uint32_t portable[8], extended[8];
  for (auto& word : portable) word = random();
  std::copy(std::begin(portable), std::end(portable), extended);
  for (std::size_t at = 0; at < blocks.size(); at += 64) CompressBlock(portable, blocks.data() + at);
  CompressBlocksWithShaExtensions(extended, blocks.data(), blocks.size() / 64);
  EXPECT_TRUE(std::equal(std::begin(portable), std::end(portable), extended));
}

}  // namespace
