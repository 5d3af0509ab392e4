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

# The system paths this script writes (apt's sources, /run, binfmt_misc) and
# the emulator it registers lie under this root: / but for the script's own
# tests, which also put stand-ins for apt-get, dpkg and dpkg-query on PATH.
root=${ZORVA_PREREQS_ROOT:-}

# The native build, both mingw toolchains, the 64-bit Wine, the display and
# the service: the demo and every test but those of the shipping exe's run.
packages=(
  cmake make g++ python3 pkg-config
  libgtest-dev libbenchmark-dev libssl-dev openssl
  clang libclang-rt-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
  wine wine64
  xvfb x11-utils xdotool imagemagick fonts-liberation
  fonts-wqy-microhei fonts-dejavu-core tesseract-ocr tesseract-ocr-deu tesseract-ocr-jpn
  osslsigncode optipng
  libp11-kit-dev softhsm2
  libmicrohttpd-dev libtomlplusplus-dev nlohmann-json3-dev libpcre2-dev nginx-light wrk prometheus
)
# What only the shipping 32-bit exe's runs need: the 32-bit Wine, and the
# emulator that runs it (checked by version below).
packages_32=(wine32:i386)
emulator_package=qemu-user-static
emulator_minimum=1:8.0
emulator=$root/usr/bin/qemu-i386-static

# A mirror caught mid-sync serves an index that does not match its Release
# file; apt keeps the lists that did load. Tries of the whole update, and the
# pause between them (the tests of this script make it 0).
update_tries=3
update_pause=${ZORVA_APT_RETRY_PAUSE:-20}
# Where a 32-bit set that could not be installed is noted, for the tests of
# the shipping exe to give as the reason they skip. In /run: it speaks of
# this boot's lists, and the next run of this script writes it anew.
note_32=$root/run/zorva-prereqs-32bit.note

# The backports suite serves the emulator's packages alone: every other
# package keeps bookworm's version, whatever backports holds.
backports_sources=$root/etc/apt/sources.list.d/zorva-bookworm-backports.sources
backports_pin=$root/etc/apt/preferences.d/zorva-bookworm-backports
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
# Prints the packages of the named list that are not installed.
missing_of() {
  local -n list=$1
  local p
  for p in "${list[@]}"; do
    installed "$p" || echo "$p"
  done
}

# "suite component arch" of each index that apt-get update could not fetch:
# .../dists/bookworm-security/main/binary-i386/Packages.xz gives
# "bookworm-security main i386".
# A Release file that failed gives "bookworm-security (Release)".
failed_indexes() {
  sed -nE -e 's#^(E|W): Failed to fetch [^ ]*/dists/([^/ ]+)/([^/ ]+)/binary-([^/ ]+)/.*#\2 \3 \4#p' \
          -e 's#^(E|W): Failed to fetch [^ ]*/dists/([^/ ]+)/(In)?Release .*#\2 (Release)#p' "$1" | sort -u
}
failed_indexes_text=""
# Updates the lists, trying again after a pause when an index fails; after the
# last try it names what failed and goes on with the lists that loaded.
update_lists() {
  local log try
  log=$(mktemp)
  for ((try = 1; try <= update_tries; try++)); do
    if apt-get update -qq -o Acquire::Retries=3 >/dev/null 2>"$log"; then
      rm -f "$log"
      return 0
    fi
    if [ "$try" -lt "$update_tries" ]; then sleep "$update_pause"; fi
  done
  failed_indexes_text=$(failed_indexes "$log" | paste -sd ',' | sed 's/,/, /g')
  if [ -n "$failed_indexes_text" ]; then
    echo "note: apt could not load the index $failed_indexes_text after $update_tries tries" \
         "(the mirror may be mid-sync); going on with the lists that loaded" >&2
  else
    echo "note: apt-get update failed $update_tries times ($(grep -m1 '^E:' "$log" || echo 'no reason given'));" \
         "going on with the lists that loaded" >&2
  fi
  rm -f "$log"
}

# Installs the named packages; apt's own errors go to stderr, and its status
# is the result.
apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

mapfile -t missing < <(missing_of packages)
mapfile -t missing_32 < <(missing_of packages_32)
emulator_is_current || missing_32+=("$emulator_package")
if [ "${#missing[@]}" -gt 0 ] || [ "${#missing_32[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}${missing[*]:+ }${missing_32[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  add_backports_for_emulator
  update_lists
fi
if [ "${#missing[@]}" -gt 0 ] && ! apt_install "${missing[@]}"; then
  echo "error: could not install ${missing[*]} (apt's reason above)" >&2
  exit 1
fi
# Debian's prometheus package enables and starts a server of its own on port
# 9090, which scrapes every 15 s; the tests start theirs on a free loopback
# port, and a build machine needs no resident one. Only a server this script
# just installed is stopped: one already there is someone's.
if [[ " ${missing[*]} " == *" prometheus "* ]] && [ -d "$root/run/systemd/system" ]; then
  systemctl disable --now prometheus.service >/dev/null 2>&1 ||
    echo "note: could not stop the prometheus service the package started; the tests do not need its port" >&2
fi
rm -f "$note_32"
if [ "${#missing_32[@]}" -gt 0 ] && ! apt_install "${missing_32[@]}" 2>/dev/null; then
  why="the 32-bit set (${missing_32[*]}) could not be installed"
  [ -n "$failed_indexes_text" ] && why+=" while the index $failed_indexes_text failed to load"
  echo "note: $why; the tests of the shipping 32-bit exe will report themselves skipped," \
       "and demo.sh --win32 cannot run here" >&2
  echo "$why" > "$note_32"
  exit 0
fi
emulator_is_current || { echo "error: $emulator_package older than $emulator_minimum" >&2; exit 1; }

# i386 ELF executables (32-bit, little-endian, type EXEC or DYN, machine 3) go
# to QEMU. The F flag opens the emulator now, so it also serves programs that
# Wine starts inside another root or namespace; it also means the kernel keeps
# the file it opened, even after a newer emulator replaced it on disk. The
# stamp, in /run like the registration itself, names the file registered.
binfmt=$root/proc/sys/fs/binfmt_misc
stamp=$root/run/zorva-qemu-i386.binfmt
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
