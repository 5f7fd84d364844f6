#!/usr/bin/env bash
# The one place that decides how Windows programs run on this host:
#   win32  Debian's wine32 runs the i686 product (the host runs 32-bit programs);
#   win64  Debian's wine64 runs the x86_64 build of the same sources (it does not).
# WRAPPER_WINE_ARCH=win32|win64 overrides the probe, so either path can be
# checked anywhere.
#
# Sourced, it exports WRAPPER_WINE_ARCH, WINE (the loader to start programs
# with), WINESERVER, WINEARCH (for new prefixes) and, on win64, WINELOADER.
# /usr/bin/wine would pick wine32 whenever it is installed, so the win64 path
# names wine64 itself.
# Run, it prints:
#   (no argument)  the decision and its reason, one line
#   --arch         win32 or win64
#   --env          the variables as NAME=VALUE lines, for programs that are no shell
# Exit code 2 when WRAPPER_WINE_ARCH holds anything else.

wrapper_wine_lib=${WRAPPER_WINE_LIB:-/usr/lib/wine}

wrapper_wine_decide() {
    case ${WRAPPER_WINE_ARCH:-} in
    win32|win64)
        wrapper_wine_reason="set by WRAPPER_WINE_ARCH" ;;
    "")
        # The wine32 loader itself is a 32-bit Linux program: if it starts, the host runs them.
        if "$wrapper_wine_lib/wine" --version >/dev/null 2>&1; then
            WRAPPER_WINE_ARCH=win32
            wrapper_wine_reason="this host runs the wine32 loader"
        elif [ ! -e "$wrapper_wine_lib/wine" ]; then
            # install-deps.sh goes on without it when apt cannot give it (an i386
            # index out of step with amd64), and tries again on its next run.
            WRAPPER_WINE_ARCH=win64
            wrapper_wine_reason="wine32 is not installed: apt could not install wine32:i386, see scripts/install-deps.sh"
        else
            WRAPPER_WINE_ARCH=win64
            wrapper_wine_reason="this host cannot run the wine32 loader: no 32-bit programs"
        fi ;;
    *)
        echo "wine-env: WRAPPER_WINE_ARCH must be win32 or win64, not '$WRAPPER_WINE_ARCH'" >&2
        return 2 ;;
    esac
    export WRAPPER_WINE_ARCH WINEARCH=$WRAPPER_WINE_ARCH
    export WINESERVER=wineserver
    if [ "$WRAPPER_WINE_ARCH" = win64 ]; then
        export WINE=$wrapper_wine_lib/wine64 WINELOADER=$wrapper_wine_lib/wine64
    else
        export WINE=wine
        unset WINELOADER
    fi
}

if ! wrapper_wine_decide; then
    (return 0 2>/dev/null) && return 2
    exit 2
fi

# Sourced: done. Run: print what was asked.
(return 0 2>/dev/null) && return 0
case ${1:-} in
--arch) echo "$WRAPPER_WINE_ARCH" ;;
--env)
    for name in WRAPPER_WINE_ARCH WINE WINESERVER WINEARCH WINELOADER; do
        if [ -n "${!name:-}" ]; then echo "$name=${!name}"; fi
    done ;;
"")
    if [ "$WRAPPER_WINE_ARCH" = win64 ]; then
        echo "wine: win64, the x86_64 build under wine64 ($wrapper_wine_reason)"
    else
        echo "wine: win32, the i686 product under wine32 ($wrapper_wine_reason)"
    fi ;;
*) echo "usage: wine-env.sh [--arch|--env]   (or source it)" >&2; exit 2 ;;
esac
