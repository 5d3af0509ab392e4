#!/usr/bin/env bash
# Builds a release: the 32-bit ZorvaSetup.exe and the zorva-tag tool, from
# clean folders, and writes build/release/ with both files and MANIFEST.txt
# (file names, sizes, SHA-256, the commit, and the SHA-256 of the public key
# compiled into the exe). Usage: release.sh [PUBLIC_KEY.pem]
# Without an argument the development key is compiled in, which is only fit
# for trying the process out.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)
public_key=${1:-$source_dir/keys/development/public.pem}
if [ ! -r "$public_key" ]; then
  echo "release: cannot read the public key '$public_key'" >&2
  exit 2
fi
public_key=$(cd "$(dirname "$public_key")" && pwd)/$(basename "$public_key")

bash scripts/install-prereqs.sh
rm -rf build/release build/release-win32 build/release-native
cmake -S . -B build/release-win32 -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=MinSizeRel -DZORVA_TAG_PUBLIC_KEY="$public_key" >/dev/null
cmake --build build/release-win32 --target ZorvaSetup -j "$(nproc)" >/dev/null
cmake -S . -B build/release-native -DCMAKE_BUILD_TYPE=Release -DZORVA_TAG_PUBLIC_KEY="$public_key" >/dev/null
cmake --build build/release-native --target zorva-tag -j "$(nproc)" >/dev/null

mkdir -p build/release
cp build/release-win32/ZorvaSetup.exe build/release-native/zorva-tag build/release/

commit=$(git rev-parse HEAD 2>/dev/null || echo unknown)
[ -z "$(git status --porcelain --untracked-files=no 2>/dev/null)" ] || commit="$commit (with uncommitted changes)"
key_sha256=$(openssl pkey -pubin -in "$public_key" -outform DER | sha256sum | cut -c1-64)
{
  echo "Zorva Setup release"
  echo "commit: $commit"
  echo "public key: $(basename "$public_key")"
  echo "public key SHA-256 (DER SubjectPublicKeyInfo): $key_sha256"
  echo
  echo "file  size  SHA-256"
  for f in ZorvaSetup.exe zorva-tag; do
    echo "$f  $(stat -c %s "build/release/$f")  $(sha256sum <"build/release/$f" | cut -c1-64)"
  done
} >build/release/MANIFEST.txt.tmp
mv build/release/MANIFEST.txt.tmp build/release/MANIFEST.txt
cat build/release/MANIFEST.txt
