#!/usr/bin/env bash
# Makes (or refreshes) a throwaway Wine prefix at $1, 32-bit, without the
# Mono and Gecko installers, and waits until Wine has written it out.
set -euo pipefail
prefix=${1:?usage: wine-prefix.sh DIR}
export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$prefix")"
if [ ! -f "$prefix/system.reg" ]; then
  wineboot -i >/dev/null 2>&1 || true
fi
wineserver -w
[ -f "$prefix/system.reg" ] || { echo "wine-prefix: could not make $prefix" >&2; exit 1; }
echo "wine prefix ready: $prefix"
