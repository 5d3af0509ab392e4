// What one new tag costs the tagging service, part by part, on a given base
// exe with the development key as a PEM file: the signature; its check, the
// program's own (which ran on every tag before) and OpenSSL's verify (which
// runs on every tag now); and the copy, placed whole from the exe (before:
// the look for an older tag, the checksum over the whole copy, the copy
// itself) or from the campaign's prepared head (now: a copy of the head and
// the checksum over the trailer). Preparing the head, once per campaign, is
// shown too.
//
// Usage: serve_tag_bench [benchmark flags] BASE.exe
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "tag/tag_trailer.h"
#include "tools/byte_source.h"
#include "tools/tag_keys.h"
#include "tools/tag_payload.h"
#include "tools/tag_placement.h"
#include "tools/tag_signer.h"

namespace {

std::string basePath;

struct Fixture {
  std::vector<std::uint8_t> exe;
  std::unique_ptr<TagSigner> signer = OpenTagSigner({ZORVA_DEVELOPMENT_PRIVATE_KEY, {}, {}, {}});
  Pkey checkKey = OpenSslPublicKeyOf(signer->PublicKey());
  TagPayload payload =
      BuildTagPayload({"YOU ARE INVITED", "invite?code=Abcd1234", "https://downloads.example.com/ZorvaInstaller.exe"});
  TagSignature signature = signer->Sign(payload.data(), payload.size());
  Trailer trailer = AssembleTrailer(signature, payload);
  std::unique_ptr<PreparedCopy> prepared;

  Fixture() {
    std::ifstream file(basePath, std::ios::binary);
    exe.assign(std::istreambuf_iterator<char>(file), {});
    if (!file || exe.empty()) {
      std::fprintf(stderr, "serve_tag_bench: cannot read %s\n", basePath.c_str());
      std::exit(2);
    }
    prepared = std::make_unique<PreparedCopy>(MemorySource(exe), signer->PublicKey());
  }
};

Fixture& Get() {
  static Fixture fixture;
  return fixture;
}

void Signature(benchmark::State& state) {
  const Fixture& f = Get();
  for (auto _ : state) benchmark::DoNotOptimize(f.signer->Sign(f.payload.data(), f.payload.size()));
}

void OwnCheck(benchmark::State& state) {
  const Fixture& f = Get();
  for (auto _ : state) {
    if (!IsTrailerSigned(f.trailer.data(), f.signer->PublicKey())) state.SkipWithError("the tag does not verify");
  }
}

void OpenSslCheck(benchmark::State& state) {
  const Fixture& f = Get();
  for (auto _ : state) {
    if (!VerifiesWithTagKey(f.checkKey.get(), f.signature, f.payload.data(), f.payload.size())) {
      state.SkipWithError("the tag does not verify");
    }
  }
}

void WholeCopy(benchmark::State& state) {
  const Fixture& f = Get();
  for (auto _ : state) {
    MemorySink sink;
    sink.bytes.reserve(f.exe.size() + 2 * kTrailerSize);
    WriteTaggedCopy(MemorySource(f.exe), f.signer->PublicKey(), f.trailer, sink);
    benchmark::DoNotOptimize(sink.bytes.data());
  }
}

void PreparedCopyWith(benchmark::State& state) {
  const Fixture& f = Get();
  for (auto _ : state) benchmark::DoNotOptimize(f.prepared->CopyWith(f.trailer));
}

void PrepareHead(benchmark::State& state) {
  const Fixture& f = Get();
  for (auto _ : state) benchmark::DoNotOptimize(PreparedCopy(MemorySource(f.exe), f.signer->PublicKey()));
}

BENCHMARK(Signature)->Unit(benchmark::kMicrosecond);
BENCHMARK(OwnCheck)->Unit(benchmark::kMicrosecond);
BENCHMARK(OpenSslCheck)->Unit(benchmark::kMicrosecond);
BENCHMARK(WholeCopy)->Unit(benchmark::kMicrosecond);
BENCHMARK(PreparedCopyWith)->Unit(benchmark::kMicrosecond);
BENCHMARK(PrepareHead)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: serve_tag_bench [benchmark flags] BASE.exe\n");
    return 2;
  }
  basePath = argv[1];
  Get();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
