#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the three presets, then
# runs the native unit tests, the tool tests, the checks of the 32-bit exe and
# the tests that run the real 64-bit exe under Wine, all through ctest; last,
# the trailer fuzzer for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-prereqs.sh
bash scripts/build-all.sh
bash tests/fuzz/run.sh
ctest --preset all -j "$(nproc)"
