// A SoftHSM2 token in a temporary folder holding the development key as
// "tag-key", for the tests and benchmarks of token signing. Points
// SOFTHSM2_CONF at the folder and puts the PIN in ZORVA_TEST_TOKEN_PIN.
#pragma once

#include <filesystem>
#include <string>

class SoftHsmTestToken {
 public:
  // Throws std::runtime_error when softhsm2-util or openssl fails.
  SoftHsmTestToken();
  ~SoftHsmTestToken();
  SoftHsmTestToken(const SoftHsmTestToken&) = delete;
  SoftHsmTestToken& operator=(const SoftHsmTestToken&) = delete;

  // pkcs11:token=zorva;object=tag-key with the SoftHSM2 module's path
  // (ZORVA_SOFTHSM2_MODULE, or where Debian puts it).
  static std::string KeyUri();
  static constexpr char kPinVariable[] = "ZORVA_TEST_TOKEN_PIN";

 private:
  std::filesystem::path folder_;
};
