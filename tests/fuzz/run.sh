#!/usr/bin/env bash
# Builds the fuzzers with clang (libFuzzer, AddressSanitizer, UBSan) in
# build/fuzz and runs each for about a minute from its committed seed corpus:
# the trailer fuzzer (what the program does with a file's last 1024 bytes) and
# the placement fuzzer (where zorva-tag puts a tag in a file). Any crash, leak
# or sanitizer report fails the run. New inputs the fuzzers find go to scratch
# folders, so the committed corpora stay as they are.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${ZORVA_FUZZ_SECONDS:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for target in tag_trailer tag_placement; do
  corpus=tests/fuzz/corpus
  [ $target = tag_trailer ] || corpus=tests/fuzz/placement-corpus
  mkdir "$scratch/$target"
  build/fuzz/tests/fuzz/${target}_fuzzer -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix=build/fuzz/$target- "$scratch/$target" "$corpus"
done
