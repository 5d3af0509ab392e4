#!/usr/bin/env bash
# Installs every package the build, the demo and the tests need, from Debian's
# archive only. Idempotent: packages already present are not fetched again.
# The i386 architecture is never added: this kernel cannot run 32-bit code,
# so the 32-bit exe is only built and inspected, and the 64-bit one is run.
set -euo pipefail

packages=(
  cmake make g++ python3
  libgtest-dev libbenchmark-dev libssl-dev openssl
  clang libclang-rt-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
  wine wine64
  xvfb x11-utils xdotool imagemagick fonts-liberation
  osslsigncode optipng
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
