#!/usr/bin/env bash
# Builds the native tree's tool and floor, then runs the pack and unpack benchmark once.
# The stub comes from build/bin (the Windows tree), or build/win64/bin where
# Windows programs run as the x86_64 build; without it Wine is skipped.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=${NATIVE_BUILD:-$root/build/native}
bin=${BIN_DIR:-$root/build/bin}
source "$root/scripts/wine-env.sh"
stub_bin=$bin
[ "$WRAPPER_WINE_ARCH" = win64 ] && stub_bin=$root/build/win64/bin
cmake -S "$root" -B "$native" -DWRAPPER_BIN_DIR="$bin" >/dev/null
cmake --build "$native" -j "${JOBS:-2}" --target wrapper-tool bench-floor >/dev/null
exec python3 "$root/bench/run.py" --tool "$bin/wrapper-tool" --floor "$bin/bench-floor" \
  --stub "$stub_bin/ZuvidaDiroVivuv.exe" "$@"
