#!/usr/bin/env bash
# Builds ZorvaSetup.exe twice from this tree, in two fresh folders of
# different names and at different times, and fails unless the two exes are
# byte for byte the same. Usage: check-reproducible.sh [win32|win64 ...]
set -euo pipefail
cd "$(dirname "$0")/.."
targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(win32 win64)

scratch=$(mktemp -d /tmp/zorva-reproducible.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

build_exe() {  # build_exe PRESET FOLDER
  case "$1" in
    win32 | win64) ;;
    *) echo "check-reproducible: unknown target '$1' (win32 or win64)" >&2; exit 2 ;;
  esac
  cmake --preset "$1" -B "$2" >/dev/null
  cmake --build "$2" --target ZorvaSetup -j "$(nproc)" >/dev/null
}

status=0
for target in "${targets[@]}"; do
  first="$scratch/$target-first"
  second="$scratch/a-second-folder-with-a-longer-name/$target"
  build_exe "$target" "$first"
  sleep 1  # a later clock for the second build
  build_exe "$target" "$second"
  if cmp -s "$first/ZorvaSetup.exe" "$second/ZorvaSetup.exe"; then
    echo "reproducible $target: $(sha256sum <"$first/ZorvaSetup.exe" | cut -c1-64)  $(stat -c %s "$first/ZorvaSetup.exe") bytes"
  else
    echo "NOT reproducible $target: the two builds differ at (offset, byte, byte):" >&2
    cmp -l "$first/ZorvaSetup.exe" "$second/ZorvaSetup.exe" | head -20 >&2 || true
    status=1
  fi
done
exit $status
