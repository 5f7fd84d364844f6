#!/usr/bin/env bash
# The whole test suite, from a fresh clone: installs what is missing, builds the
# trees and runs every test in them.
#   build/win32    the product, cross-compiled (i686); its tests run under wine32
#   build/win64    its x86_64 twin, only where wine32 cannot run (or
#                  WRAPPER_WINE_ARCH=win64): the Windows tests run there under
#                  wine64, and the i686 tree runs its static checks only
#   build/native   the portable core and the native tool, host g++
#   build/sanitize the same under ASan/UBSan with clang, plus the fuzzer
# Usage: scripts/test.sh [ctest arguments, e.g. -R zip]
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${JOBS:-$(nproc)}

bash scripts/install-deps.sh || exit 1
bash scripts/wine-env.sh || exit 1
source scripts/wine-env.sh

# configure_and_build DIR "TARGETS" [CMAKE-ARGS...]: TARGETS empty builds all.
configure_and_build() {
  local dir=$1 targets=$2; shift 2
  echo "== build $dir${targets:+ ($targets)}"
  mkdir -p "$(dirname "$dir")"
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >"$dir.configure.log" 2>&1 \
    || { cat "$dir.configure.log"; return 1; }
  # shellcheck disable=SC2086 # the targets are separate words
  cmake --build "$dir" -j "$jobs" ${targets:+--target $targets} >"$dir.build.log" 2>&1 \
    || { tail -60 "$dir.build.log"; return 1; }
}

mkdir -p build
# Where the i686 tree's Windows tests cannot run, only what its file checks read is built.
win32_targets=
[ "$WRAPPER_WINE_ARCH" = win64 ] && win32_targets=stub_file_checks
configure_and_build build/win32 "$win32_targets" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  || exit 1
if [ "$WRAPPER_WINE_ARCH" = win64 ]; then
  configure_and_build build/win64 "" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" || exit 1
fi
configure_and_build build/native "" || exit 1
CC=clang CXX=clang++ configure_and_build build/sanitize "" \
  -DWRAPPER_SANITIZE=ON -DWRAPPER_FUZZ=ON -DWRAPPER_BIN_DIR="$root/build/sanitize/bin" || exit 1

passed=0; failed=0; not_run=()
run_tree() {  # run_tree TREE [extra ctest arguments]
  local tree=$1; shift
  echo "== test $tree $*"
  local log="$tree.ctest.log" summary total bad
  (cd "$tree" && ctest -j "$jobs" --output-on-failure --timeout 900 "$@") 2>&1 | tee "$log"
  summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
  bad=$(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$summary")
  if [ -z "$summary" ]; then
    failed=$((failed + 1))
  else
    passed=$((passed + total - bad)); failed=$((failed + bad))
  fi
}

run_tree build/native "$@"
run_tree build/sanitize "$@"
if [ "$WRAPPER_WINE_ARCH" = win64 ]; then
  # The i686 tree's Windows tests need wine32; their twins run in build/win64.
  mapfile -t not_run < <(cd build/win32 && ctest -N -L wine "$@" | sed -nE 's/^ *Test +#[0-9]+: (.*)$/\1/p')
  run_tree build/win32 -LE wine "$@"
  run_tree build/win64 "$@"
else
  run_tree build/win32 "$@"
fi

echo
if [ "$WRAPPER_WINE_ARCH" = win64 ]; then
  echo "Windows programs ran as the x86_64 build under wine64; the i686 product was checked statically"
  echo "not run in build/win32 (they need wine32; their x86_64 twins ran in build/win64): ${#not_run[@]}: ${not_run[*]}"
fi
echo "all trees: $passed passed, $failed failed"
[ "$failed" = 0 ]
