#!/usr/bin/env bash
# Makes (or refreshes) a throwaway Wine prefix at $1, without the Mono and
# Gecko installers, and waits until Wine has written it out. It is 32-bit or
# 64-bit as scripts/wine-env.sh decides (WRAPPER_WINE_ARCH).
set -euo pipefail
prefix=${1:?usage: wine-prefix.sh DIR}
source "$(dirname "$0")/wine-env.sh"
export WINEPREFIX=$prefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$prefix")"
if [ ! -f "$prefix/system.reg" ]; then
  "$WINE" wineboot -i >/dev/null 2>&1 || true
fi
"$WINESERVER" -w
[ -f "$prefix/system.reg" ] || { echo "wine-prefix: could not make $prefix" >&2; exit 1; }
echo "wine prefix ready: $prefix ($WINEARCH)"
