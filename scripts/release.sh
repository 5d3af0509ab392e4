#!/usr/bin/env bash
# Builds a release: the 32-bit ZorvaSetup.exe and the zorva-tag tool, from
# clean folders, and writes build/release/ with both files and MANIFEST.txt
# (file names, sizes, SHA-256, the commit, and the SHA-256 of the public key
# compiled into the exe).
# Usage: release.sh [--allow-development-key] PUBLIC_KEY.pem
# The development key's private half is published: an exe built with it
# accepts tags anyone can sign, so any copy could be given a download URL of
# anyone's choosing. It is refused, by its SHA-256, unless
# --allow-development-key is given for a trial, which the manifest then says.
set -euo pipefail
cd "$(dirname "$0")/.."
usage="usage: release.sh [--allow-development-key] PUBLIC_KEY.pem"
refuse() {
  echo "release: $1" >&2
  exit 2
}

allow_development_key=no
public_key=
for argument in "$@"; do
  case $argument in
    --allow-development-key) allow_development_key=yes ;;
    -*) refuse "unknown option $argument; $usage" ;;
    *) [ -z "$public_key" ] || refuse "more than one key given; $usage"
       public_key=$argument ;;
  esac
done
[ -n "$public_key" ] || refuse "no public key given; $usage"
[ -r "$public_key" ] || refuse "cannot read the public key '$public_key'"
public_key=$(cd "$(dirname "$public_key")" && pwd)/$(basename "$public_key")

# SHA-256 of a PEM public key's DER SubjectPublicKeyInfo, as zorva-tag shows it.
key_sha256() {
  openssl pkey -pubin -in "$1" -outform DER 2>/dev/null | sha256sum | cut -c1-64
}
key_sha256=$(key_sha256 "$public_key") || refuse "'$public_key' is not a PEM public key"
development_key=no
if [ "$key_sha256" = "$(key_sha256 keys/development/public.pem)" ]; then
  development_key=yes
  [ $allow_development_key = yes ] || refuse "'$public_key' is the development key, whose private half is \
published: its release would accept tags anyone can sign. Give your own public key \
(or --allow-development-key for a trial release that is never distributed)"
fi

bash scripts/install-prereqs.sh
rm -rf build/release build/release-win32 build/release-native
cmake --preset win32 -B build/release-win32 -DZORVA_TAG_PUBLIC_KEY="$public_key" >/dev/null
cmake --build build/release-win32 --target ZorvaSetup -j "$(nproc)" >/dev/null
cmake --preset native -B build/release-native -DZORVA_TAG_PUBLIC_KEY="$public_key" >/dev/null
cmake --build build/release-native --target zorva-tag -j "$(nproc)" >/dev/null

mkdir -p build/release
cp build/release-win32/ZorvaSetup.exe build/release-native/zorva-tag build/release/

commit=$(git rev-parse HEAD 2>/dev/null || echo unknown)
[ -z "$(git status --porcelain --untracked-files=no 2>/dev/null)" ] || commit="$commit (with uncommitted changes)"
{
  echo "Zorva Setup release"
  if [ $development_key = yes ]; then
    echo "WARNING: built with the development key (--allow-development-key): it accepts tags anyone"
    echo "can sign, so this release must never be distributed"
  fi
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
