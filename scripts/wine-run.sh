#!/usr/bin/env bash
# Runs a Windows program under Wine:
#   wine-run.sh [--arch win32|win64] [--prefix DIR] PROGRAM ARGS...
# --arch is the build tree's (an x86_64 tree runs under wine64); without it
# scripts/wine-env.sh decides. The prefix is the build tree's throwaway one (or
# WINEPREFIX when the caller set it); ~/.wine is never used.
set -euo pipefail
if [ "${1:-}" = --arch ]; then
  export WRAPPER_WINE_ARCH=$2
  shift 2
fi
if [ "${1:-}" = --prefix ]; then
  export WINEPREFIX="${WINEPREFIX:-$2}"
  shift 2
fi
if [ -z "${WINEPREFIX:-}" ]; then
  echo "wine-run: no prefix given (--prefix DIR or WINEPREFIX)" >&2
  exit 2
fi
source "$(dirname "$0")/wine-env.sh"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec "$WINE" "$@"
