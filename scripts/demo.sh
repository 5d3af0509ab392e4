#!/usr/bin/env bash
# The demo: installs what is missing, builds everything, then runs a tagged
# copy of the exe under Wine against a local server that serves a demo
# installer slowly, and a copy whose download fails. Screenshots of the splash
# go into the folder it prints (demo-output/ by default, or the first argument).
# Wine uses your display when DISPLAY is set, otherwise an Xvfb of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-prereqs.sh
bash scripts/build-all.sh >/dev/null
exec python3 scripts/demo.py "$@"
