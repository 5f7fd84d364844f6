#!/usr/bin/env bash
# The whole test suite, from a fresh clone: installs what is missing, builds the
# three trees and runs every test in them.
#   build/win32    the product, cross-compiled; its tests run under Wine
#   build/native   the portable core and the native tool, host g++
#   build/sanitize the same under ASan/UBSan with clang, plus the fuzzer
# Usage: scripts/test.sh [ctest arguments, e.g. -R zip]
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${JOBS:-$(nproc)}

bash scripts/install-deps.sh || exit 1

configure_and_build() {
  local dir=$1; shift
  echo "== build $dir"
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >"$dir.configure.log" 2>&1 \
    || { mkdir -p "$(dirname "$dir")"; cat "$dir.configure.log"; return 1; }
  cmake --build "$dir" -j "$jobs" >"$dir.build.log" 2>&1 || { tail -60 "$dir.build.log"; return 1; }
}

mkdir -p build
configure_and_build build/win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" || exit 1
configure_and_build build/native || exit 1
CC=clang CXX=clang++ configure_and_build build/sanitize \
  -DWRAPPER_SANITIZE=ON -DWRAPPER_FUZZ=ON -DWRAPPER_BIN_DIR="$root/build/sanitize/bin" || exit 1

passed=0; failed=0
for tree in build/native build/sanitize build/win32; do
  echo "== test $tree"
  log="$tree.ctest.log"
  (cd "$tree" && ctest -j "$jobs" --output-on-failure --timeout 900 "$@") 2>&1 | tee "$log"
  summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
  bad=$(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$summary")
  if [ -z "$summary" ]; then
    failed=$((failed + 1))
  else
    passed=$((passed + total - bad)); failed=$((failed + bad))
  fi
done

echo
echo "all trees: $passed passed, $failed failed"
[ "$failed" = 0 ]
