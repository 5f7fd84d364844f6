#!/usr/bin/env bash
# Makes (or refreshes) a throwaway Wine prefix at $1, without the Mono and
# Gecko installers, and waits until Wine has written it out. It is 32-bit or
# 64-bit as scripts/wine-env.sh decides (WRAPPER_WINE_ARCH).
# Each further DIR becomes a fresh copy of it: programs run in a copy, so the
# prefix stays a still template that others can copy while tests run.
set -euo pipefail
prefix=${1:?usage: wine-prefix.sh DIR [COPY...]}
shift
source "$(dirname "$0")/wine-env.sh"
export WINEPREFIX=$prefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$prefix")"
if [ ! -f "$prefix/system.reg" ]; then
  "$WINE" wineboot -i >/dev/null 2>&1 || true
fi
"$WINESERVER" -w
[ -f "$prefix/system.reg" ] || { echo "wine-prefix: could not make $prefix" >&2; exit 1; }
for copy in "$@"; do
  # A server left from an earlier run would write into the copy being replaced.
  if [ -d "$copy" ]; then WINEPREFIX=$copy "$WINESERVER" -k 2>/dev/null || true; fi
  rm -rf "$copy"
  cp -a "$prefix" "$copy"
done
echo "wine prefix ready: $prefix ($WINEARCH)${1:+, copied to $*}"
