// How long the program's tag check takes next to OpenSSL's RSA-2048 verify of
// the same signature, and how many heap allocations the check makes (it must
// make none). Prints the ratio of the two times; exits 1 if the check
// allocated.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <random>
#include <string>

#include "tag/sha256.h"
#include "tag/tag_signature.h"
#include "tag/tag_trailer.h"
#include "tools/tag_keys.h"
#include "tools/tag_payload.h"

namespace {

bool countingAllocations = false;
long allocations = 0;

void NoteAllocation() {
  if (countingAllocations) ++allocations;
}

}  // namespace

extern "C" {
void* __real_malloc(std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void* __real_realloc(void* block, std::size_t size);
void* __wrap_malloc(std::size_t size) {
  NoteAllocation();
  return __real_malloc(size);
}
void* __wrap_calloc(std::size_t count, std::size_t size) {
  NoteAllocation();
  return __real_calloc(count, size);
}
void* __wrap_realloc(void* block, std::size_t size) {
  NoteAllocation();
  return __real_realloc(block, size);
}
}

// The replaced operator new takes its blocks from malloc, so free is the
// matching release; GCC cannot see that through the replacement.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
  NoteAllocation();
  if (void* block = __real_malloc(size ? size : 1)) return block;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

namespace {

struct SignedPayload {
  Pkey key;
  TagKey tagKey;
  TagPayload payload;
  std::array<std::uint8_t, kSignatureSize> signature;
};

const SignedPayload& Fixture() {
  static const SignedPayload fixture = [] {
    SignedPayload made{LoadPrivateTagKey(ZORVA_DEVELOPMENT_PRIVATE_KEY), {}, {}, {}};
    made.tagKey = TagKeyOf(made.key.get());
    made.payload = BuildTagPayload({"INSTALLING ZORVA", "invite/abc?ref=mail",
                                    "https://dl.example.com/Zorva-Setup.exe"});
    made.signature = SignWithTagKey(made.key.get(), made.payload.data(), made.payload.size());
    return made;
  }();
  return fixture;
}

void TagCheck(benchmark::State& state) {
  const SignedPayload& fixture = Fixture();
  long failures = 0;
  allocations = 0;
  countingAllocations = true;
  for (auto _ : state) {
    Sha256Context context;
    context.Init();
    context.Update(fixture.payload.data(), fixture.payload.size());
    std::uint8_t digest[kSha256DigestSize];
    context.Final(digest);
    const bool genuine = VerifyTagSignature(fixture.signature.data(), digest, fixture.tagKey);
    benchmark::DoNotOptimize(genuine);
    failures += genuine ? 0 : 1;
  }
  countingAllocations = false;
  state.counters["heap_allocations"] = static_cast<double>(allocations);
  if (failures != 0) state.SkipWithError("the signature did not verify");
}

void OpenSslVerify(benchmark::State& state) {
  const SignedPayload& fixture = Fixture();
  EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(fixture.key.get(), nullptr);
  if (context == nullptr || EVP_PKEY_verify_init(context) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_CTX_set_signature_md(context, EVP_sha256()) != 1) {
    state.SkipWithError("OpenSSL verify context");
    return;
  }
  long failures = 0;
  for (auto _ : state) {
    std::uint8_t digest[SHA256_DIGEST_LENGTH];
    SHA256(fixture.payload.data(), fixture.payload.size(), digest);
    const int result =
        EVP_PKEY_verify(context, fixture.signature.data(), fixture.signature.size(), digest, sizeof digest);
    benchmark::DoNotOptimize(result);
    failures += result == 1 ? 0 : 1;
  }
  EVP_PKEY_CTX_free(context);
  if (failures != 0) state.SkipWithError("OpenSSL did not verify the signature");
}

BENCHMARK(TagCheck)->Unit(benchmark::kMicrosecond);
BENCHMARK(OpenSslVerify)->Unit(benchmark::kMicrosecond);

// Keeps each run's time per iteration and the allocation counter beside the
// normal console output.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      timeNs[run.benchmark_name()] = run.GetAdjustedRealTime() *
                                     (run.time_unit == benchmark::kMicrosecond ? 1000.0 : 1.0);
      const auto counter = run.counters.find("heap_allocations");
      if (counter != run.counters.end()) allocationCount = static_cast<long>(counter->second.value);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> timeNs;
  long allocationCount = -1;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const auto ours = reporter.timeNs.find("TagCheck");
  const auto openssl = reporter.timeNs.find("OpenSslVerify");
  if (ours != reporter.timeNs.end() && openssl != reporter.timeNs.end()) {
    std::printf("tag check / OpenSSL verify: %.2fx (%.1f us vs %.1f us)\n", ours->second / openssl->second,
                ours->second / 1000.0, openssl->second / 1000.0);
  }
  if (reporter.allocationCount >= 0) {
    std::printf("heap allocations in the tag check: %ld\n", reporter.allocationCount);
    if (reporter.allocationCount != 0) return 1;
  }
  return 0;
}
