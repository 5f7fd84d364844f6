#!/usr/bin/env bash
# Runs a Windows program under Wine: wine-run.sh [--prefix DIR] PROGRAM ARGS...
# The prefix is the build tree's throwaway one (or WINEPREFIX when the caller
# set it); ~/.wine is never used.
set -euo pipefail
if [ "${1:-}" = --prefix ]; then
  export WINEPREFIX="${WINEPREFIX:-$2}"
  shift 2
fi
if [ -z "${WINEPREFIX:-}" ]; then
  echo "wine-run: no prefix given (--prefix DIR or WINEPREFIX)" >&2
  exit 2
fi
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
