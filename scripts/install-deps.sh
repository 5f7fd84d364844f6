#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build, the tests and the demo
# need and this machine lacks. Safe to run again: it does nothing when all is there.
set -euo pipefail

need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1

packages=(
  cmake g++ clang libclang-rt-14-dev
  googletest nlohmann-json3-dev
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  libz-mingw-w64-dev zlib1g-dev libdeflate-dev
  wine wine32:i386 wine64
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  osslsigncode openssl
  zip unzip p7zip-full libarchive-tools python3
  xvfb x11-apps x11-utils imagemagick
  file
  dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "$need_i386" = 0 ] && [ "${#missing[@]}" = 0 ]; then
  exit 0
fi

if [ "$(id -u)" != 0 ]; then
  echo "install-deps: missing packages (${missing[*]}); run as root to install them" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}" >&2
[ "$need_i386" = 1 ] && dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
