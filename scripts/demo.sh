#!/usr/bin/env bash
# The demo: builds the stub and the tool, packs a small payload into an
# installer, signs it with a throwaway certificate, checks it with
# wrapper-tool, runs it under Wine in a throwaway prefix and shows what
# happened. Needs no display. Run from anywhere: scripts/demo.sh
#
# Where the host cannot run wine32 (or WRAPPER_WINE_ARCH=win64), the installer
# is made from the x86_64 build of the same sources and runs under wine64.
# Build folders can be moved with WIN32_BUILD (WIN64_BUILD), NATIVE_BUILD and
# BIN_DIR; KEEP_DEMO=1 keeps the scratch folder (installer, prefix).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native_build=${NATIVE_BUILD:-$root/build/native}
jobs=${JOBS:-$(nproc)}

section() { printf '\n== %s\n' "$*"; }
step() { printf '   %s\n' "$*"; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/wrapper-demo.XXXXXX")
cleanup() {
  if [ "${KEEP_DEMO:-0}" = 1 ]; then
    echo "(scratch folder kept: $scratch)"
  else
    # Stop anything still running in the throwaway prefix before removing it.
    WINEPREFIX=$scratch/prefix "${WINESERVER:-wineserver}" -k 2>/dev/null || true
    rm -rf "$scratch"
  fi
}
trap cleanup EXIT

section "1. Tools and libraries"
bash "$root/scripts/install-deps.sh"
step "the build, signing and Wine packages are installed (wine32 only where apt can give it)"
step "$(bash "$root/scripts/wine-env.sh")"
source "$root/scripts/wine-env.sh"
if [ "$WRAPPER_WINE_ARCH" = win64 ]; then
  windows_build=${WIN64_BUILD:-$root/build/win64}
  toolchain=$root/cmake/mingw-x86_64.cmake
  windows_bin=$windows_build/bin
  step "the demo installer is made from the x86_64 build of the same sources"
else
  windows_build=${WIN32_BUILD:-$root/build/win32}
  toolchain=$root/cmake/mingw-i686.cmake
  windows_bin=${BIN_DIR:-$root/build/bin}
fi
bin=${BIN_DIR:-$root/build/bin}

section "2. Build"
build() {  # build DIR BIN-DIR "TARGETS" [CMAKE-ARGS...]
  local dir=$1 bin_dir=$2 targets=$3; shift 3
  local log
  log=$scratch/$(basename "$dir").log
  # shellcheck disable=SC2086 # the targets are separate words
  if ! { cmake -S "$root" -B "$dir" -DWRAPPER_BIN_DIR="$bin_dir" "$@" &&
         cmake --build "$dir" -j "$jobs" --target $targets; } >"$log" 2>&1; then
    tail -40 "$log"; echo "demo: build in $dir failed (log above)" >&2; exit 1
  fi
}
build "$windows_build" "$windows_bin" "ZuvidaDiroVivuv demo-setup" -DCMAKE_TOOLCHAIN_FILE="$toolchain"
step "Windows tree: $windows_build (the stub and the demo inner setup)"
build "$native_build" "$bin" "wrapper-tool"
step "native tree:  $native_build (wrapper-tool)"
stub=$windows_bin/ZuvidaDiroVivuv.exe
tool=$bin/wrapper-tool
step "stub: $stub, $(stat -c %s "$stub") bytes"

section "3. Payload"
# project() in CMakeLists.txt holds the version, as for the stub itself.
version=$(sed -nE 's/^project\([A-Za-z]+ VERSION ([0-9.]+).*/\1/p' "$root/CMakeLists.txt")
payload=$scratch/payload
mkdir -p "$payload/data"
cp "$windows_bin/demo-setup.exe" "$payload/RezuviZiduRuzudUvovovaz.exe"
printf 'This file was unpacked by the wrapper into its work area.\n' >"$payload/data/readme.txt"
printf '{"channel": "demo", "version": "%s"}\n' "$version" >"$payload/data/settings.json"
head -c 65536 /dev/urandom >"$payload/data/random.bin"
(cd "$payload" && find . -type f | sort | sed 's|^\./|   |')

section "4. Pack and sign"
unsigned=$scratch/unsigned.exe
installer=$scratch/ZuvidaDiroVivuv.exe
"$tool" pack "$stub" "$payload" -o "$unsigned" | sed 's/^/   /'
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Wrapper demo (throwaway)" \
  -keyout "$scratch/key.pem" -out "$scratch/cert.pem" >/dev/null 2>&1
"$tool" sign "$unsigned" --cert "$scratch/cert.pem" --key "$scratch/key.pem" -o "$installer" | sed 's/^/   /'
step "signed with a throwaway self-signed certificate: $(stat -c %s "$installer") bytes"

section "5. Verify with wrapper-tool"
"$tool" verify "$installer" | sed 's/^/   /'

section "6. Run under Wine"
export WINEPREFIX=$scratch/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$root/scripts/wine-prefix.sh" "$WINEPREFIX" >/dev/null
step "throwaway prefix: $WINEPREFIX"
step "command: ZuvidaDiroVivuv.exe /demo \"two words\""
set +e
"$WINE" "$installer" /demo "two words" >/dev/null 2>&1
code=$?
set -e
"$WINESERVER" -w  # the inner setup runs on after the stub has exited
step "exit code: $code"

section "7. The work area"
work=$(find "$WINEPREFIX/drive_c/users" -type d -path "*/Norvik/VozeDozav/$version" | head -1)
if [ -z "$work" ]; then
  echo "demo: no work area under $WINEPREFIX/drive_c/users" >&2; exit 1
fi
step "${work#"$WINEPREFIX/"}"
(cd "$work" && find . -mindepth 1 | sort | while read -r entry; do
   if [ -d "$entry" ]; then printf '   %s/\n' "${entry#./}"; else printf '   %-40s %8s bytes\n' "${entry#./}" "$(stat -c %s "$entry")"; fi
 done)

section "8. The log (DuzoRizedAroriva_Log.txt)"
sed 's/^/   /' "$work/DuzoRizedAroriva_Log.txt"

section "9. Arguments the inner setup received"
if [ -f "$work/received-arguments.txt" ]; then
  sed 's/^/   /' "$work/received-arguments.txt"
else
  echo "   (none: the inner setup did not run)"
fi

section "Done"
if [ "$code" = 0 ] && [ -f "$work/received-arguments.txt" ] &&
   cmp -s "$payload/data/random.bin" "$work/data/random.bin"; then
  step "the installer unpacked its payload and started the inner setup"
else
  step "something went wrong: see the sections above"; exit 1
fi
