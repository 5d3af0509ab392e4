#!/usr/bin/env bash
# Configures and builds the three presets: native (core, tests, tools,
# benchmarks), win32 (the shipping exe) and win64 (the exe run under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
for preset in native win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
