#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build, the tests and the demo
# need and this machine lacks. Safe to run again: it does nothing when all is there.
#
# Two steps, because a package index caught mid-sync must not stop the set-up:
#   1. everything the build and the win64 path need: a package apt cannot give
#      stops the set-up, naming it and apt's reason;
#   2. the 32-bit part (wine32:i386), which only the win32 path needs: when apt
#      cannot give it (its i386 libraries must match the amd64 versions, so an
#      i386 index out of step makes it uninstallable), one line says why and the
#      set-up goes on; scripts/wine-env.sh then picks win64. A later run tries again.
# With WRAPPER_WINE_ARCH=win64 nothing 32-bit is asked for.
# INSTALL_DEPS_TRIES and INSTALL_DEPS_PAUSE set how often, and how many seconds
# apart, `apt-get update` is tried.
set -uo pipefail

packages=(
  cmake g++ clang libclang-rt-14-dev
  googletest nlohmann-json3-dev libssl-dev
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  libz-mingw-w64-dev zlib1g-dev libdeflate-dev libzstd-dev zstd
  wine wine64
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  osslsigncode openssl softhsm2 libengine-pkcs11-openssl gnutls-bin python3-cryptography
  zip unzip p7zip-full libarchive-tools python3 pigz time nsis
  xvfb x11-apps x11-utils imagemagick
  file
  dpkg-dev
)
part32=wine32:i386

say() { echo "install-deps: $*" >&2; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
want32=0
if [ "${WRAPPER_WINE_ARCH:-}" != win64 ] && ! installed "$part32"; then want32=1; fi

if [ "${#missing[@]}" = 0 ] && [ "$want32" = 0 ]; then
  exit 0
fi

if [ "$(id -u)" != 0 ]; then
  say "missing packages (${missing[*]}${missing[*]:+ }$([ $want32 = 1 ] && echo "$part32")); run as root to install them"
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
scratch=$(mktemp -d "${TMPDIR:-/tmp}/install-deps.XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT

# apt's own reason in one line: its error lines and the unmet dependencies that
# explain them (which name the packages).
apt_reason() {
  { grep -E '^E: ' "$1" | head -n 2; grep -E '^ +[^ ].* : (Pre)?Depends:' "$1" | head -n 2; } \
    | sed -E 's/^E: //; s/^ +//; s/ +/ /g' | paste -sd '|' | sed 's/|/; /g'
}

if [ "$want32" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386 || say "cannot add the i386 architecture; the 32-bit part will not install"
fi

tries=${INSTALL_DEPS_TRIES:-3}
for ((try = 1; ; try++)); do
  if apt-get update -qq >"$scratch/update.log" 2>&1; then
    break
  fi
  if [ "$try" -ge "$tries" ]; then
    # Indexes that failed are ignored by apt (or their old copies used); the
    # installs below say whether what is needed can still be had.
    say "apt-get update failed $try times ($(apt_reason "$scratch/update.log")); going on with the indexes apt has"
    break
  fi
  say "apt-get update failed (try $try of $tries); trying again in ${INSTALL_DEPS_PAUSE:-10} s"
  sleep "${INSTALL_DEPS_PAUSE:-10}"
done

if [ "${#missing[@]}" != 0 ]; then
  say "installing ${missing[*]}"
  if ! apt-get install -y --no-install-recommends "${missing[@]}" >"$scratch/install.log" 2>&1; then
    say "cannot install what the build needs: $(apt_reason "$scratch/install.log")"
    exit 1
  fi
fi

if [ "$want32" = 1 ]; then
  say "installing $part32"
  if ! apt-get install -y --no-install-recommends "$part32" >"$scratch/install32.log" 2>&1; then
    say "the 32-bit part ($part32) cannot be installed now ($(apt_reason "$scratch/install32.log")); going on: Windows programs will run as the x86_64 build under wine64"
  fi
fi
exit 0
