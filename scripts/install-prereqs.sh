#!/usr/bin/env bash
# Installs every package the build, the demo and the tests need, from Debian's
# archive only, and lets this machine run the shipping 32-bit exe. Idempotent:
# packages already present are not fetched again, and a registration already
# made is kept.
#
# The kernel here cannot execute 32-bit programs itself. Debian's 32-bit Wine
# loader (wine32, from the i386 architecture) runs under QEMU's user-mode
# emulator, which the kernel's binfmt_misc hands every i386 ELF program to;
# Debian does not register it on amd64 hosts, so this script does.
set -euo pipefail

packages=(
  cmake make g++ python3 pkg-config
  libgtest-dev libbenchmark-dev libssl-dev openssl
  clang libclang-rt-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
  wine wine64 wine32:i386 qemu-user-static
  xvfb x11-utils xdotool imagemagick fonts-liberation
  osslsigncode optipng
  pkg-config libp11-kit-dev softhsm2
  libmicrohttpd-dev libtomlplusplus-dev nlohmann-json3-dev nginx-light wrk
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# i386 ELF executables (32-bit, little-endian, type EXEC or DYN, machine 3) go
# to QEMU. The F flag opens the emulator now, so it also serves programs that
# Wine starts inside another root or namespace.
binfmt=/proc/sys/fs/binfmt_misc
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
register_qemu_i386() {
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" || return 1
  [ -e "$binfmt/qemu-i386" ] && return 0
  echo ":qemu-i386:M::$i386_magic:$i386_mask:/usr/bin/qemu-i386-static:F" > "$binfmt/register"
}
if ! register_qemu_i386 2>/dev/null; then
  echo "note: cannot register QEMU for 32-bit programs with binfmt_misc here;" \
       "the tests of the 32-bit exe will report themselves skipped" >&2
fi
