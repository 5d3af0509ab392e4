#!/usr/bin/env bash
# Runs every benchmark, each against its floor measured in the same run, and
# writes the results into bench/README.md. Not part of the tests: no test
# asserts a time. Usage: bash bench/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-prereqs.sh
bash scripts/build-all.sh >/dev/null
# The Wine benchmarks copy the tests' template prefix.
ctest --preset all -R '^wine\.prefix$' >/dev/null

results=$(mktemp)
trap 'rm -f "$results" "$results.native" "$results.serve"' EXIT
build/native/bench/tag_check_bench --benchmark_color=false --benchmark_min_time=1 | tee "$results.native"
build/native/bench/tag_sign_bench --benchmark_color=false --benchmark_min_time=1 | tee -a "$results.native"
build/native/bench/installer_pin_bench --benchmark_color=false | tee -a "$results.native"
build/native/bench/serve_tag_bench --benchmark_color=false --benchmark_min_time=1 build/win32/ZorvaSetup.exe |
  tee -a "$results.native"
python3 bench/wine/run.py | tee "$results"
python3 bench/serve_bench.py | tee "$results.serve"
python3 bench/write_readme.py "$results.native" "$results" "$results.serve" bench/README.md
echo "results written to bench/README.md"
