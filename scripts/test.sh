#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the three presets, runs
# the fuzzers for a bounded time, then the native unit tests, the tool tests,
# the checks of the 32-bit exe and the tests that run the real exe under Wine,
# all through ctest. It ends with the skipped tests and why, and a line of
# counts.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-prereqs.sh
bash scripts/build-all.sh
bash tests/fuzz/run.sh
results=$PWD/build/native/ctest-results.xml
rm -f "$results"
status=0
ctest --preset all -j "$(nproc)" --output-junit "$results" || status=$?
python3 tests/test_summary.py "$results"
exit "$status"
