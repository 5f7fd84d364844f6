#!/usr/bin/env bash
# Builds what the solid bench needs (the native tool; the stub and the demo
# inner setup in the Windows tree that scripts/wine-env.sh picks), then runs
# bench/solid.py once. Arguments go to solid.py (--reps, --solid-args, --skip-peers).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=${NATIVE_BUILD:-$root/build/native}
bin=${BIN_DIR:-$root/build/bin}
jobs=${JOBS:-2}
source "$root/scripts/wine-env.sh"
if [ "$WRAPPER_WINE_ARCH" = win64 ]; then
  windows=$root/build/win64 toolchain=mingw-x86_64 stub_bin=$root/build/win64/bin
else
  windows=$root/build/win32 toolchain=mingw-i686 stub_bin=$bin
fi
cmake -S "$root" -B "$native" -DWRAPPER_BIN_DIR="$bin" >/dev/null
cmake --build "$native" -j "$jobs" --target wrapper-tool >/dev/null
[ -f "$windows/CMakeCache.txt" ] || cmake -S "$root" -B "$windows" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" >/dev/null
cmake --build "$windows" -j "$jobs" --target ZuvidaDiroVivuv demo-setup >/dev/null
exec python3 "$root/bench/solid.py" --tool "$bin/wrapper-tool" --stub "$stub_bin/ZuvidaDiroVivuv.exe" "$@"
