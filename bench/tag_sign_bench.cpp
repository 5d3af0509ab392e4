// How long signing one tag takes with the key inside a SoftHSM2 token next to
// the same key as a PEM file, from one thread and from two sharing one
// signer. Prints the ratios. The token is made in a temporary folder.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "tools/tag_payload.h"
#include "tools/tag_signer.h"

namespace {

constexpr char kPin[] = "271828";

// A token holding the development key, as `softhsm2-util --import` puts it.
class DevelopmentKeyToken {
 public:
  DevelopmentKeyToken() {
    char pattern[] = "/tmp/zorva-sign-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot make a temporary folder");
    folder_ = pattern;
    std::filesystem::create_directory(folder_ / "tokens");
    const std::string conf = (folder_ / "softhsm2.conf").string();
    if (FILE* out = std::fopen(conf.c_str(), "w")) {
      std::fprintf(out, "directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n",
                   (folder_ / "tokens").c_str());
      std::fclose(out);
    }
    setenv("SOFTHSM2_CONF", conf.c_str(), 1);
    setenv("ZORVA_BENCH_PIN", kPin, 1);
    const std::string key = (folder_ / "key.p8").string();
    Run("openssl pkcs8 -topk8 -nocrypt -in '" ZORVA_DEVELOPMENT_PRIVATE_KEY "' -out " + key);
    Run(std::string("softhsm2-util --init-token --free --label zorva --so-pin so-pin-0 --pin ") + kPin);
    Run("softhsm2-util --import " + key + " --token zorva --label tag-key --id 01 --pin " + kPin);
  }
  ~DevelopmentKeyToken() { std::filesystem::remove_all(folder_); }

 private:
  static void Run(const std::string& command) {
    if (std::system((command + " >/dev/null").c_str()) != 0) throw std::runtime_error("failed: " + command);
  }
  std::filesystem::path folder_;
};

std::string SoftHsmModule() {
  const char* given = std::getenv("ZORVA_SOFTHSM2_MODULE");
  return given ? given : "/usr/lib/softhsm/libsofthsm2.so";
}

struct Signers {
  DevelopmentKeyToken token;
  std::unique_ptr<TagSigner> pem = OpenTagSigner({ZORVA_DEVELOPMENT_PRIVATE_KEY, {}, {}, {}});
  std::unique_ptr<TagSigner> pkcs11 = OpenTagSigner(
      {"pkcs11:token=zorva;object=tag-key?module-path=" + SoftHsmModule(), {}, "ZORVA_BENCH_PIN", {}});
  TagPayload payload =
      BuildTagPayload({"INSTALLING ZORVA", "invite/abc?ref=mail", "https://dl.example.com/Zorva-Setup.exe"});
};

Signers& Fixture() {
  static Signers signers;
  return signers;
}

void SignWith(benchmark::State& state, const TagSigner& signer) {
  const TagPayload& payload = Fixture().payload;
  const TagSignature expected = Fixture().pem->Sign(payload.data(), payload.size());
  long mismatches = 0;
  for (auto _ : state) {
    const TagSignature signature = signer.Sign(payload.data(), payload.size());
    mismatches += signature == expected ? 0 : 1;
  }
  state.SetItemsProcessed(state.iterations());
  if (mismatches != 0) state.SkipWithError("a signature differs from the PEM key's");
}

void PemSign(benchmark::State& state) { SignWith(state, *Fixture().pem); }
void TokenSign(benchmark::State& state) { SignWith(state, *Fixture().pkcs11); }

BENCHMARK(PemSign)->Unit(benchmark::kMicrosecond)->UseRealTime()->Threads(1)->Threads(2);
BENCHMARK(TokenSign)->Unit(benchmark::kMicrosecond)->UseRealTime()->Threads(1)->Threads(2);

// Keeps each run's signs per second beside the normal console output.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      const auto rate = run.counters.find("items_per_second");
      if (rate != run.counters.end()) signsPerSecond[run.benchmark_name()] = rate->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> signsPerSecond;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Fixture();
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  for (const char* threads : {"1", "2"}) {
    const std::string suffix = std::string("/real_time/threads:") + threads;
    const auto pem = reporter.signsPerSecond.find("PemSign" + suffix);
    const auto token = reporter.signsPerSecond.find("TokenSign" + suffix);
    if (pem == reporter.signsPerSecond.end() || token == reporter.signsPerSecond.end()) return 1;
    std::printf("tag signing, %s thread(s): SoftHSM2 %.0f/s, PEM %.0f/s; time per tag %.2fx the PEM key's\n",
                threads, token->second, pem->second, pem->second / token->second);
  }
  return 0;
}
