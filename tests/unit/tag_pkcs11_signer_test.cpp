// The token signer as the tagging service uses it: one signer shared by more
// threads than it has sessions, and two signers on one module in one process.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/softhsm_test_token.h"
#include "tools/tag_payload.h"
#include "tools/tag_signer.h"

namespace {

class Pkcs11SignerTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { token = new SoftHsmTestToken(); }
  static void TearDownTestSuite() { delete token; }

  static std::unique_ptr<TagSigner> TokenSigner() {
    return OpenTagSigner({SoftHsmTestToken::KeyUri(), {}, SoftHsmTestToken::kPinVariable, {}});
  }
  static std::unique_ptr<TagSigner> PemSigner() { return OpenTagSigner({ZORVA_DEVELOPMENT_PRIVATE_KEY, {}, {}, {}}); }
  static TagSignature Sign(const TagSigner& signer, const TagPayload& payload) {
    return signer.Sign(payload.data(), payload.size());
  }

  static SoftHsmTestToken* token;
};

SoftHsmTestToken* Pkcs11SignerTest::token = nullptr;

TEST_F(Pkcs11SignerTest, ThreadsSharingOneSignerEachGetTheirOwnSignature) {
  // More threads than the pool's sessions, so some wait for one, and a
  // payload per thread, so that crossed sessions would show.
  constexpr int kThreads = 12;
  constexpr int kSignsEach = 8;
  const std::unique_ptr<TagSigner> signer = TokenSigner();
  const std::unique_ptr<TagSigner> pem = PemSigner();
  std::vector<TagPayload> payloads;
  std::vector<TagSignature> expected;
  for (int thread = 0; thread < kThreads; ++thread) {
    payloads.push_back(BuildTagPayload({"THREAD " + std::to_string(thread), {}, {}}));
    expected.push_back(Sign(*pem, payloads.back()));
  }
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int thread = 0; thread < kThreads; ++thread) {
    threads.emplace_back([&, thread] {
      for (int sign = 0; sign < kSignsEach; ++sign) {
        try {
          if (Sign(*signer, payloads[thread]) != expected[thread]) ++wrong[thread];
        } catch (const std::exception&) {
          ++wrong[thread];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(kThreads, 0));
}

TEST_F(Pkcs11SignerTest, SecondSignerOnTheModuleSignsAfterTheFirstCloses) {
  const TagPayload payload = BuildTagPayload({"TWO SIGNERS", {}, {}});
  std::unique_ptr<TagSigner> first = TokenSigner();
  const std::unique_ptr<TagSigner> second = TokenSigner();
  first.reset();
  EXPECT_EQ(Sign(*second, payload), Sign(*PemSigner(), payload));
}

}  // namespace
