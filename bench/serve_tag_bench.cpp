// What one new tag costs the tagging service, part by part, on a given base
// exe with the development key as a PEM file: the signature; its check, the
// program's own (which ran on every tag before) and OpenSSL's verify (which
// runs on every tag now); and the copy, placed whole from the exe (before:
// the look for an older tag, the checksum over the whole copy, the copy
// itself) or from the campaign's prepared head (now: a copy of the head and
// the checksum over the trailer). Preparing the head, once per campaign, is
// shown too, and the whole of the service's answer to a request for a new
// tag, HTTP aside.
//
// Usage: serve_tag_bench [benchmark flags] BASE.exe
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "service/serve_config.h"
#include "service/tag_service.h"
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

// A config serving the base exe, as bench/serve_bench.py's does.
std::string ServeConfigFile() {
  const std::string folder = std::filesystem::temp_directory_path() / "serve_tag_bench";
  std::filesystem::create_directories(folder);
  std::ofstream(folder + "/serve.toml")
      << "listen = \"127.0.0.1:0\"\nkey = \"" ZORVA_DEVELOPMENT_PRIVATE_KEY "\"\n[campaigns.invite]\nexe = \""
      << std::filesystem::absolute(basePath).string()
      << "\"\nheadline = \"YOU ARE INVITED\"\nlaunch_argument = \"invite?code={code}\"\n"
         "download_url = \"https://downloads.example.com/ZorvaInstaller.exe\"\n"
         "[campaigns.invite.parameters]\ncode = \"[A-Za-z0-9]{1,40}\"\n";
  return folder + "/serve.toml";
}

void ServiceAnswer(benchmark::State& state) {
  const std::string config = ServeConfigFile();
  TagService service(config, LoadServeState(config));
  long code = 0;
  for (auto _ : state) {
    const ServeResponse response = service.Answer({"GET", "/invite", {{"code", std::to_string(++code)}}, {}, {}});
    if (response.status != 200) state.SkipWithError("the service failed");
  }
}

BENCHMARK(Signature)->Unit(benchmark::kMicrosecond);
BENCHMARK(OwnCheck)->Unit(benchmark::kMicrosecond);
BENCHMARK(OpenSslCheck)->Unit(benchmark::kMicrosecond);
BENCHMARK(WholeCopy)->Unit(benchmark::kMicrosecond);
BENCHMARK(PreparedCopyWith)->Unit(benchmark::kMicrosecond);
BENCHMARK(PrepareHead)->Unit(benchmark::kMicrosecond);
BENCHMARK(ServiceAnswer)->Unit(benchmark::kMicrosecond);

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
