#!/bin/sh
# Installs what building and testing Corvane needs on Debian 12. Safe to run
# again: packages already present are skipped.
set -eu

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: run as root to install: $*" >&2
    exit 1
  fi
}

packages="cmake g++ clang libclang-rt-14-dev libgtest-dev g++-mingw-w64-i686
  binutils-mingw-w64-i686 wine wine32:i386 wine64 xvfb xdotool x11-utils
  imagemagick python3 python3-pefile"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" ||
    missing="$missing $p"
done

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_root "i386 architecture"
  dpkg --add-architecture i386
  missing="$missing update"
fi
if [ -n "$missing" ]; then
  need_root "$missing"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    $packages >/dev/null
fi

# The i386 half of Wine needs a user-mode emulator where the kernel does
# not run 32-bit programs itself. Emulators before 8.x make each Wine start
# take most of a minute, so take the one from backports.
misc=/proc/sys/fs/binfmt_misc
modern_emulator() {
  qemu-i386-static --version 2>/dev/null | grep -q "version \([89]\|[1-9][0-9]\)\."
}
if ! /usr/lib/wine/wine --version >/dev/null 2>&1 ||
   { [ -f "$misc/qemu-i386" ] && ! modern_emulator; }; then
  need_root "qemu-user-static (i386 emulation)"
  if ! modern_emulator; then
    list=/etc/apt/sources.list.d/corvane-backports.list
    [ -f "$list" ] || echo "deb http://deb.debian.org/debian bookworm-backports main" >"$list"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -t bookworm-backports \
      qemu-user-static >/dev/null
  fi
  [ -f "$misc/register" ] || mount -t binfmt_misc binfmt_misc "$misc"
  # Re-register so the entry holds the emulator installed now (flag F opens it once).
  [ -f "$misc/qemu-i386" ] && echo -1 >"$misc/qemu-i386"
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:FOC' \
    >"$misc/register"
  /usr/lib/wine/wine --version >/dev/null
fi
