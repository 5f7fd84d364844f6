#!/usr/bin/env bash
# Takes pictures of the refusal box, in English and in German, as a user on
# Windows Vista sees it: the real stub runs under Wine (told to be Vista) on a
# virtual X display, in a throwaway prefix.
# usage: scripts/screenshot-refusal.sh [STUB.exe [OUT_DIR]]
#   defaults: the stub of the Wine that scripts/wine-env.sh picks (build/bin, or
#   build/win64/bin for the x86_64 build) and docs/screenshots (refusal-en.png,
#   refusal-de.png)
# Needs Xvfb, xwininfo (x11-utils) and ImageMagick's import.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine-env.sh"
default_bin=$root/build/bin
[ "$WRAPPER_WINE_ARCH" = win64 ] && default_bin=$root/build/win64/bin
stub=$(realpath "${1:-$default_bin/ZuvidaDiroVivuv.exe}")
out=$(mkdir -p "${2:-$root/docs/screenshots}" && realpath "${2:-$root/docs/screenshots}")
[ -f "$stub" ] || { echo "screenshot-refusal: no stub at $stub (build it first)" >&2; exit 1; }

scratch=$(mktemp -d /tmp/screenshot-refusal.XXXXXX)
xvfb_pid=
cleanup() {
    WINEPREFIX="$scratch/prefix" "$WINESERVER" -k >/dev/null 2>&1 || true
    WINEPREFIX="$scratch/prefix" "$WINESERVER" -w >/dev/null 2>&1 || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

# A display of our own; Xvfb picks a free number and reports it.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$scratch/display" ] && break; sleep 0.1; done
[ -s "$scratch/display" ] || { echo "screenshot-refusal: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$scratch/display")"

export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
bash "$root/scripts/wine-prefix.sh" "$WINEPREFIX" >/dev/null
"$WINE" reg add 'HKCU\Software\Wine' /v Version /d vista /f >/dev/null 2>&1
# Without a window manager Wine draws the title bar itself only for unmanaged windows.
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
"$WINESERVER" -w

# shot NAME LOCALE TITLE: runs the stub with that user-interface language and
# photographs the window that carries the expected (localized) title. Wine 8
# takes the language from LC_ALL; LANG alone is not enough when the host lacks
# the locale.
shot() {
    local name=$1 locale=$2 title=$3 id= wine_pid
    LC_ALL=$locale "$WINE" "$stub" >/dev/null 2>&1 &
    wine_pid=$!
    for _ in $(seq 100); do
        id=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$title\":" | awk '{print $1}' | head -1) || true
        [ -n "$id" ] && break
        sleep 0.2
    done
    if [ -z "$id" ]; then
        echo "screenshot-refusal: no box titled '$title' for $locale" >&2
        xwininfo -root -tree 2>/dev/null | grep '"' >&2 || true
        "$WINESERVER" -k >/dev/null 2>&1 || true
        return 1
    fi
    sleep 0.5  # let Wine finish painting
    import -window "$id" "$out/refusal-$name.png"
    echo "wrote $out/refusal-$name.png"
    "$WINESERVER" -k >/dev/null 2>&1 || true
    "$WINESERVER" -w >/dev/null 2>&1 || true
    wait "$wine_pid" || true
}

shot en en_US.UTF-8 "Unable to Install Norvik"
shot de de_DE.UTF-8 "Norvik kann nicht installiert werden"
