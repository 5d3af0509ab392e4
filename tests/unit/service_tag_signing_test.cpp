// The tagging service with a signer that goes wrong after start-up: every
// request it signs for is answered with the failure, never a tag, and
// nothing is kept that a later request could get.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "service/serve_config.h"
#include "service/tag_service.h"
#include "tests/unit/tag_test_support.h"
#include "tools/tag_signer.h"

namespace {

// The development key's signer, whose signatures `fault` changes once set.
class FaultySigner : public TagSigner {
 public:
  FaultySigner() : signer_(OpenTagSigner({ZORVA_DEVELOPMENT_PRIVATE_KEY, {}, {}, {}})) {}
  TagSignature Sign(const std::uint8_t* message, std::size_t size) const override {
    TagSignature signature = signer_->Sign(message, size);
    if (fault) fault(signature);
    return signature;
  }
  const TagKey& PublicKey() const override { return signer_->PublicKey(); }
  const std::array<std::uint8_t, kKeyFingerprintSize>& PublicKeyFingerprint() const override {
    return signer_->PublicKeyFingerprint();
  }

  std::function<void(TagSignature&)> fault;

 private:
  std::unique_ptr<TagSigner> signer_;
};

class ServeSigningTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "serve_signing_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    std::ofstream(folder_ + "/base.exe", std::ios::binary) << std::string(4000, 'x');
    std::ofstream(folder_ + "/serve.toml") << "listen = \"127.0.0.1:0\"\nkey = \"" ZORVA_DEVELOPMENT_PRIVATE_KEY "\"\n"
                                              "[campaigns.invite]\nexe = \"base.exe\"\nheadline = \"HELLO\"\n";
    auto signer = std::make_unique<FaultySigner>();
    signer_ = signer.get();
    const std::string config = folder_ + "/serve.toml";
    service_ = std::make_unique<TagService>(config, MakeServeState(LoadServeConfig(config), std::move(signer)));
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  ServeResponse Get() { return service_->Answer({"GET", "/invite", {}, std::nullopt, std::nullopt}); }

  std::string folder_;
  FaultySigner* signer_ = nullptr;
  std::unique_ptr<TagService> service_;
};

TEST_F(ServeSigningTest, AWrongSignatureIsAnsweredWithTheFailureAndNeverKept) {
  const TagPayload other = BuildTagPayload({"ANOTHER PAYLOAD", {}, {}});
  const TagSignature otherSignature = SignWithTagKey(DevelopmentKey(), other.data(), other.size());
  const std::pair<const char*, std::function<void(TagSignature&)>> faults[] = {
      {"one bit flipped", [](TagSignature& signature) { signature[200] ^= 0x10; }},
      {"all zeros", [](TagSignature& signature) { signature.fill(0); }},
      {"another payload's signature", [&](TagSignature& signature) { signature = otherSignature; }},
  };
  for (const auto& [name, fault] : faults) {
    SCOPED_TRACE(name);
    signer_->fault = fault;
    const ServeResponse failed = Get();
    EXPECT_EQ(failed.status, 500u);
    EXPECT_EQ(failed.outcome, "failed");
    EXPECT_EQ(failed.refusal, "a fresh signature does not verify");
    ASSERT_TRUE(failed.body);
    EXPECT_EQ(std::string(failed.body->begin(), failed.body->end()), "the tag could not be made\n");
  }
  signer_->fault = nullptr;
  const ServeResponse tagged = Get();
  ASSERT_EQ(tagged.status, 200u);
  EXPECT_TRUE(IsTrailerSigned(tagged.body->data() + tagged.body->size() - kTrailerSize, DevelopmentTagKey()));
}

}  // namespace
