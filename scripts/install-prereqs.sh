#!/usr/bin/env bash
# Installs every package the build, the demo and the tests need, from Debian's
# archive only, and lets this machine run the shipping 32-bit exe. Idempotent:
# packages already present are not fetched again, and a registration already
# made for the installed emulator is kept.
#
# The kernel here cannot execute 32-bit programs itself. Debian's 32-bit Wine
# loader (wine32, from the i386 architecture) runs under QEMU's user-mode
# emulator, which the kernel's binfmt_misc hands every i386 ELF program to;
# Debian does not register it on amd64 hosts, so this script does.
#
# The emulator comes from bookworm-backports: bookworm's QEMU 7.2 gives an i386
# thread another thread's identity after an exception (fixed in QEMU 8.0), which
# crashes 32-bit Wine at times (tests/wine/exit_threads_run.py shows it).
set -euo pipefail

packages=(
  cmake make g++ python3 pkg-config
  libgtest-dev libbenchmark-dev libssl-dev openssl
  clang libclang-rt-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
  wine wine64 wine32:i386
  xvfb x11-utils xdotool imagemagick fonts-liberation
  osslsigncode optipng
  pkg-config libp11-kit-dev softhsm2
  libmicrohttpd-dev libtomlplusplus-dev nlohmann-json3-dev nginx-light wrk
)
emulator_package=qemu-user-static
emulator_minimum=1:8.0
emulator=/usr/bin/qemu-i386-static

# The backports suite serves the emulator's packages alone: every other
# package keeps bookworm's version, whatever backports holds.
backports_sources=/etc/apt/sources.list.d/zorva-bookworm-backports.sources
backports_pin=/etc/apt/preferences.d/zorva-bookworm-backports
add_backports_for_emulator() {
  cat > "$backports_sources" <<'SOURCES'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  cat > "$backports_pin" <<'PIN'
Package: *
Pin: release n=bookworm-backports
Pin-Priority: -1

Package: qemu-user-static qemu-user qemu-user-binfmt
Pin: release n=bookworm-backports
Pin-Priority: 990
PIN
}

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}
emulator_is_current() {
  local version
  version=$(dpkg-query -W -f='${Version}' "$emulator_package" 2>/dev/null) || return 1
  installed "$emulator_package" && dpkg --compare-versions "$version" ge "$emulator_minimum"
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
emulator_is_current || missing+=("$emulator_package")
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  add_backports_for_emulator
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
emulator_is_current || { echo "error: $emulator_package older than $emulator_minimum" >&2; exit 1; }

# i386 ELF executables (32-bit, little-endian, type EXEC or DYN, machine 3) go
# to QEMU. The F flag opens the emulator now, so it also serves programs that
# Wine starts inside another root or namespace; it also means the kernel keeps
# the file it opened, even after a newer emulator replaced it on disk. The
# stamp, in /run like the registration itself, names the file registered.
binfmt=/proc/sys/fs/binfmt_misc
stamp=/run/zorva-qemu-i386.binfmt
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
emulator_identity() {
  stat -L -c '%d:%i:%Y:%s' "$emulator"
}
register_qemu_i386() {
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" || return 1
  if [ -e "$binfmt/qemu-i386" ]; then
    [ "$(cat "$stamp" 2>/dev/null)" = "$(emulator_identity)" ] && return 0
    echo "renewing the binfmt registration of $emulator"
    echo -1 > "$binfmt/qemu-i386"
  fi
  echo ":qemu-i386:M::$i386_magic:$i386_mask:$emulator:F" > "$binfmt/register"
  emulator_identity > "$stamp"
}
if ! register_qemu_i386 2>/dev/null; then
  echo "note: cannot register QEMU for 32-bit programs with binfmt_misc here;" \
       "the tests of the 32-bit exe will report themselves skipped" >&2
fi
