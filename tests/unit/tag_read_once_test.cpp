#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "tag/tag_trailer.h"
#include "tag_test_support.h"

namespace {

// The injected file read: what it delivers and how often it was asked.
struct FakeOwnFile {
  std::optional<Trailer> lastBytes;  // nullopt: no file, short file or short read
  int reads = 0;
};
FakeOwnFile fakeFile;

bool ReadFakeTrailer(std::uint8_t* buffer) {
  ++fakeFile.reads;
  if (!fakeFile.lastBytes) return false;
  std::memcpy(buffer, fakeFile.lastBytes->data(), kTrailerSize);
  return true;
}

class TagReadOnceTest : public ::testing::Test {
 protected:
  void SetUp() override { fakeFile = FakeOwnFile{}; }
  const TagFields& Load() { return LoadSetupTagOnce(store_, ReadFakeTrailer, DevelopmentTagKey()); }
  SetupTagStore store_{};
};

TEST_F(TagReadOnceTest, GenuineTagIsReadOnceAndKeptInTheStore) {
  fakeFile.lastBytes = SignedTrailer(PayloadBuilder().Record(1, u"Once").Record(3, u"https://o/").Build());
  const TagFields& first = Load();
  EXPECT_EQ(TextOf(first.headline), u"Once");
  EXPECT_EQ(TextOf(first.downloadUrl), u"https://o/");
  EXPECT_EQ(first.launchArgument, nullptr);
  EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(first.headline), store_.tagBuffer + 258);
  fakeFile.lastBytes.reset();
  for (int call = 0; call < 3; ++call) {
    const TagFields& again = Load();
    EXPECT_EQ(&again, &first);
    EXPECT_EQ(again.headline, first.headline);
    EXPECT_EQ(again.downloadUrl, first.downloadUrl);
  }
  EXPECT_EQ(fakeFile.reads, 1);
}

TEST_F(TagReadOnceTest, FailedReadIsNotRetried) {
  const TagFields& first = Load();
  EXPECT_EQ(first.headline, nullptr);
  fakeFile.lastBytes = SignedTrailer(PayloadBuilder().Record(1, u"Too late").Build());
  const TagFields& again = Load();
  EXPECT_EQ(&again, &first);
  EXPECT_EQ(again.headline, nullptr);
  EXPECT_EQ(fakeFile.reads, 1);
}

TEST_F(TagReadOnceTest, UnsignedLastBytesGiveNoTagAndAreNotReadAgain) {
  Trailer plain{};
  plain.fill(0x41);
  fakeFile.lastBytes = plain;
  const TagFields& first = Load();
  EXPECT_EQ(first.headline, nullptr);
  EXPECT_EQ(first.launchArgument, nullptr);
  EXPECT_EQ(first.downloadUrl, nullptr);
  EXPECT_EQ(store_.tagRead, 1);
  Load();
  EXPECT_EQ(fakeFile.reads, 1);
}

}  // namespace
