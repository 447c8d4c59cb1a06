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
  binutils-mingw-w64-i686 mingw-w64-tools wine wine32:i386 wine64 xvfb xdotool
  x11-utils imagemagick python3 python3-pefile openssl osslsigncode softhsm2
  libengine-pkcs11-openssl"
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

# apt-get update fails when one index cannot be fetched, as from a mirror
# in the middle of a sync. Once a second try has failed too, the suites
# whose index failed are pinned out of this run's installs: a suite read for
# amd64 but not for i386 would ask for two versions of the libraries that
# both halves of Wine share. The pins go ahead of the administrator's own
# preferences, which apt then reads from this run's file instead.
apt_options=""
apt_work=""
left_out=""
finish() {
  [ -z "$apt_work" ] || rm -rf "$apt_work"
  for suite in $left_out; do
    echo "install-deps: installed WITHOUT $suite, whose index failed to download:" \
      "no package and no security update from $suite was installed" >&2
  done
}
trap finish EXIT
apt_update() {
  [ -n "$apt_work" ] || apt_work=$(mktemp -d)
  for attempt in 1 2; do
    apt-get update -qq 2>"$apt_work/update.log" && { apt_options=""; return; }
    [ "$attempt" -eq 2 ] || sleep 10
  done
  failed=$(sed -n 's|^E: Failed to fetch .*/dists/\([^/]*\)/.*|\1|p' "$apt_work/update.log" | sort -u)
  if [ -z "$failed" ]; then
    cat "$apt_work/update.log" >&2
    echo "install-deps: apt-get update failed" >&2
    exit 1
  fi
  left_out=$(printf '%s\n' $left_out $failed | sort -u)
  echo "install-deps: the index of" $failed "failed to download twice;" \
    "installing without it" >&2
  eval "$(apt-config shell own_preferences Dir::Etc::Preferences/f)"
  {
    for suite in $failed; do
      printf 'Package: *\nPin: release n=%s\nPin-Priority: -1\n\n' "$suite"
    done
    [ ! -f "${own_preferences:-}" ] || cat "$own_preferences"
  } >"$apt_work/preferences"
  apt_options="-o Dir::Etc::Preferences=$apt_work/preferences"
}
apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get $apt_options install -y -qq "$@" >/dev/null
}

if [ -n "$missing" ]; then
  need_root "$missing"
  apt_update
  apt_install $packages
fi

codename=$(. /etc/os-release && echo "$VERSION_CODENAME")

# Prints "URI [KEYRING]" of the first enabled deb source of this release, in
# deb822 (*.sources) or one-line (*.list) form: backports come from the same
# mirror the machine already uses.
release_source() {
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk -v suite="$codename" '
      BEGIN { RS = ""; FS = "\n" }
      {
        types = uris = suites = keys = ""; enabled = "yes"
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^[ \t]*#/ || $i ~ /^[ \t]/ || index($i, ":") == 0) continue
          key = tolower(substr($i, 1, index($i, ":") - 1))
          value = substr($i, index($i, ":") + 1)
          gsub(/^[ \t]+|[ \t]+$/, "", value)
          if (key == "types") types = value
          else if (key == "uris") uris = value
          else if (key == "suites") suites = value
          else if (key == "signed-by") keys = value
          else if (key == "enabled") enabled = tolower(value)
        }
        if (enabled == "no" || (" " types " ") !~ / deb / || (" " suites " ") !~ (" " suite " ")) next
        split(uris, uri, /[ \t]+/)
        print uri[1], keys
        exit
      }' "$f"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk -v suite="$codename" '
      $1 != "deb" { next }
      {
        i = 2; keys = ""
        if ($i ~ /^\[/) {
          for (; i <= NF; i++) {
            if ($i ~ /^\[?signed-by=/) { keys = $i; sub(/^\[?signed-by=/, "", keys); sub(/\]$/, "", keys) }
            if ($i ~ /\]$/) { i++; break }
          }
        }
        if ($(i + 1) == suite) { print $i, keys; exit }
      }' "$f"
  done
}

add_backports() {
  target=/etc/apt/sources.list.d/corvane-backports.sources
  [ -f "$target" ] && return
  set -- $(release_source | head -n 1)
  if [ $# -eq 0 ]; then
    echo "install-deps: no apt source for $codename to take backports from" >&2
    exit 1
  fi
  {
    echo "Types: deb"
    echo "URIs: $1"
    echo "Suites: $codename-backports"
    echo "Components: main"
    [ $# -lt 2 ] || echo "Signed-By: $2"
  } >"$target"
}

# The i386 half of Wine needs a user-mode emulator where the kernel does
# not run 32-bit programs itself. Emulators before 8.x make each Wine start
# take most of a minute, so take the one from backports.
misc=/proc/sys/fs/binfmt_misc
emulator=/usr/bin/qemu-i386-static
modern_emulator() {
  "$emulator" --version 2>/dev/null | grep -q "version \([89]\|[1-9][0-9]\)\."
}
# An entry this script made before, with the credentials flag (C): the
# emulator then ran a setuid program with its owner's rights.
ours_with_credentials() {
  [ -f "$misc/qemu-i386" ] && grep -qx "interpreter $emulator" "$misc/qemu-i386" &&
    grep -q '^flags: .*C' "$misc/qemu-i386"
}
if ! /usr/lib/wine/wine --version >/dev/null 2>&1 ||
   { [ -f "$misc/qemu-i386" ] && ! modern_emulator; } || ours_with_credentials; then
  need_root "qemu-user-static (i386 emulation)"
  if ! modern_emulator; then
    add_backports
    apt_update
    apt_install -t "$codename-backports" qemu-user-static
  fi
  [ -f "$misc/register" ] || mount -t binfmt_misc binfmt_misc "$misc"
  # Re-register so the entry holds the emulator installed now. Flag F opens
  # it once, so it works in any mount namespace; no C, with which a setuid
  # program would run with its owner's rights under the emulator.
  [ -f "$misc/qemu-i386" ] && echo -1 >"$misc/qemu-i386"
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$emulator"':F' \
    >"$misc/register"
  /usr/lib/wine/wine --version >/dev/null
fi
