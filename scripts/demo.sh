#!/usr/bin/env bash
# The demo: installs what is missing, builds everything, then runs a tagged
# copy of the exe under Wine against a local server that serves a demo
# installer slowly, and a copy whose download fails. Screenshots of the splash
# go into the folder it prints (demo-output/ by default, or the argument).
# Wine uses your display when DISPLAY is set, otherwise an Xvfb of its own.
#
#   bash scripts/demo.sh [--win32] [OUTPUT_DIR]
#
# The 64-bit twin runs by default; --win32 runs the shipping 32-bit exe, under
# QEMU's emulation here.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-prereqs.sh
bash scripts/build-all.sh >/dev/null
exec python3 scripts/demo.py "$@"
