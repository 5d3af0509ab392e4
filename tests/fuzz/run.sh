#!/usr/bin/env bash
# Builds the trailer fuzzer with clang (libFuzzer, AddressSanitizer, UBSan) in
# build/fuzz and runs it for about a minute from the committed seed corpus.
# Any crash, leak or sanitizer report fails the run. New inputs the fuzzer
# finds go to a scratch folder, so the committed corpus stays as it is.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${ZORVA_FUZZ_SECONDS:-60}
cmake -S . -B build/fuzz -DZORVA_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/fuzz --target tag_trailer_fuzzer -j2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
build/fuzz/tests/fuzz/tag_trailer_fuzzer -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix=build/fuzz/ "$scratch" tests/fuzz/corpus
