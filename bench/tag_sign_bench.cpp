// How long signing one tag takes with the key inside a SoftHSM2 token next to
// the same key as a PEM file, from one thread and from two sharing one
// signer. Prints the ratios. The token is made in a temporary folder.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "tools/softhsm_test_token.h"
#include "tools/tag_payload.h"
#include "tools/tag_signer.h"

namespace {

struct Signers {
  SoftHsmTestToken token;
  std::unique_ptr<TagSigner> pem = OpenTagSigner({ZORVA_DEVELOPMENT_PRIVATE_KEY, {}, {}, {}});
  std::unique_ptr<TagSigner> pkcs11 =
      OpenTagSigner({SoftHsmTestToken::KeyUri(), {}, SoftHsmTestToken::kPinVariable, {}});
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
