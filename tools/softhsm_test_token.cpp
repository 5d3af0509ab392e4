#include "tools/softhsm_test_token.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace {

constexpr char kPin[] = "271828";

void Run(const std::string& command) {
  if (std::system((command + " >/dev/null").c_str()) != 0) throw std::runtime_error("failed: " + command);
}

}  // namespace

SoftHsmTestToken::SoftHsmTestToken() {
  char pattern[] = "/tmp/zorva-test-token-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot make a temporary folder");
  folder_ = pattern;
  std::filesystem::create_directory(folder_ / "tokens");
  const std::string conf = (folder_ / "softhsm2.conf").string();
  FILE* out = std::fopen(conf.c_str(), "w");
  if (out == nullptr) throw std::runtime_error("cannot write " + conf);
  std::fprintf(out, "directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n",
               (folder_ / "tokens").c_str());
  std::fclose(out);
  setenv("SOFTHSM2_CONF", conf.c_str(), 1);
  setenv(kPinVariable, kPin, 1);
  const std::string key = (folder_ / "key.p8").string();
  Run("openssl pkcs8 -topk8 -nocrypt -in '" ZORVA_DEVELOPMENT_PRIVATE_KEY "' -out " + key);
  Run(std::string("softhsm2-util --init-token --free --label zorva --so-pin so-pin-0 --pin ") + kPin);
  Run("softhsm2-util --import " + key + " --token zorva --label tag-key --id 01 --pin " + kPin);
}

SoftHsmTestToken::~SoftHsmTestToken() { std::filesystem::remove_all(folder_); }

std::string SoftHsmTestToken::KeyUri() {
  const char* module = std::getenv("ZORVA_SOFTHSM2_MODULE");
  return std::string("pkcs11:token=zorva;object=tag-key?module-path=") +
         (module ? module : "/usr/lib/softhsm/libsofthsm2.so");
}
