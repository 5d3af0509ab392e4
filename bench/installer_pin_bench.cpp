// How fast the program checks a pinned installer: its SHA-256 of a 100 MB
// file, taken 64 KB at a time as the exe takes it while the bytes are
// written, beside `openssl dgst -sha256` on the same file in the same run.
// bench/write_readme.py sets the check's time beside the installer's download.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "base/bytes_equal.h"
#include "tag/sha256.h"
#include "tools/tag_keys.h"

namespace {

constexpr std::size_t kInstallerSize = 100'000'000;

// Random bytes, so that nothing in the file system shortens the reads; the
// file goes when the benchmark ends.
struct Installer {
  Installer();
  ~Installer() { unlink(path.c_str()); }
  std::string path;
  std::uint8_t digest[kSha256DigestSize];
};

Installer::Installer() {
  char name[] = "/tmp/zorva-pin-bench-XXXXXX";
  const int file = mkstemp(name);
  if (file < 0) std::abort();
  path = name;
  std::mt19937_64 random(19);
  std::vector<std::uint64_t> piece(1 << 17);
  // The pin comes from OpenSSL, so the check also proves the program's digest.
  const MdCtx context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) std::abort();
  for (std::size_t written = 0; written < kInstallerSize;) {
    for (auto& word : piece) word = random();
    const std::size_t count = std::min(piece.size() * 8, kInstallerSize - written);
    if (write(file, piece.data(), count) != static_cast<ssize_t>(count)) std::abort();
    EVP_DigestUpdate(context.get(), piece.data(), count);
    written += count;
  }
  EVP_DigestFinal_ex(context.get(), digest, nullptr);
  close(file);
}

const Installer& TheInstaller() {
  static const Installer installer;
  return installer;
}

std::uint8_t buffer[64 * 1024];

void PinCheck(benchmark::State& state) {
  const Installer& installer = TheInstaller();
  long failures = 0;
  for (auto _ : state) {
    const int file = open(installer.path.c_str(), O_RDONLY);
    Sha256Context context;
    context.Init();
    for (ssize_t count; (count = ::read(file, buffer, sizeof buffer)) > 0;)
      context.Update(buffer, static_cast<std::size_t>(count));
    std::uint8_t digest[kSha256DigestSize];
    context.Final(digest);
    failures += BytesEqual(digest, installer.digest, sizeof digest) ? 0 : 1;
    close(file);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kInstallerSize));
  if (failures != 0) state.SkipWithError("the installer did not match its pin");
}

void OpenSslDgst(benchmark::State& state) {
  const std::string command = "openssl dgst -sha256 " + TheInstaller().path + " >/dev/null";
  long failures = 0;
  for (auto _ : state) failures += std::system(command.c_str()) == 0 ? 0 : 1;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kInstallerSize));
  if (failures != 0) state.SkipWithError("openssl dgst failed");
}

BENCHMARK(PinCheck)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(OpenSslDgst)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
