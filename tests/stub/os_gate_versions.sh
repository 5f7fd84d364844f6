#!/usr/bin/env bash
# Runs the gate under each Windows version that Wine can pretend to be, each in
# a throwaway copy of the build's Wine prefix (Wine's version switch for the
# named versions; for the ones without a service pack, the version keys that
# Wine reads when the switch is not set):
#   - the probe's answers for a set of versions, and the version it was told;
#   - the real stub: refused on Vista (exit code 1, no work folder made), let
#     through from Windows 7 on (it goes on and makes its work folder).
# usage: os_gate_versions.sh PROBE.exe STUB.exe SOURCE_PREFIX SCRATCH_DIR
set -uo pipefail
probe=$1 stub=$2 source_prefix=$3 scratch=$4

# Without a display the refusal box returns at once instead of waiting for a click.
unset DISPLAY WAYLAND_DISPLAY
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
source "$(dirname "$0")/../../scripts/wine-env.sh"

# What the probe prints, per Wine version: the version Wine reports, then
# "major.minor.servicepack answer" for the probe's queries (6.1.0 is the stub's own).
declare -A expected
expected[vista-rtm]="reported 6.0.0|6.1.0 0|5.1.3 1|6.0.2 0|6.0.3 0|6.1.1 0|6.1.2 0|6.2.0 0|6.3.0 0|10.0.0 0"
expected[vista]="reported 6.0.2|6.1.0 0|5.1.3 1|6.0.2 1|6.0.3 0|6.1.1 0|6.1.2 0|6.2.0 0|6.3.0 0|10.0.0 0"
expected[win7]="reported 6.1.1|6.1.0 1|5.1.3 1|6.0.2 1|6.0.3 1|6.1.1 1|6.1.2 0|6.2.0 0|6.3.0 0|10.0.0 0"
expected[win7-sp0]="reported 6.1.0|6.1.0 1|5.1.3 1|6.0.2 1|6.0.3 1|6.1.1 0|6.1.2 0|6.2.0 0|6.3.0 0|10.0.0 0"
expected[win8]="reported 6.2.0|6.1.0 1|5.1.3 1|6.0.2 1|6.0.3 1|6.1.1 1|6.1.2 1|6.2.0 1|6.3.0 0|10.0.0 0"
expected[win81]="reported 6.3.0|6.1.0 1|5.1.3 1|6.0.2 1|6.0.3 1|6.1.1 1|6.1.2 1|6.2.0 1|6.3.0 1|10.0.0 0"
expected[win10]="reported 10.0.0|6.1.0 1|5.1.3 1|6.0.2 1|6.0.3 1|6.1.1 1|6.1.2 1|6.2.0 1|6.3.0 1|10.0.0 1"

[ -f "$source_prefix/system.reg" ] || { echo "no Wine prefix at $source_prefix" >&2; exit 1; }
mkdir -p "$scratch"
failed=0 passed=0

check() {  # check NAME CONDITION-RESULT MESSAGE
    if [ "$2" = 0 ]; then passed=$((passed + 1)); echo "ok $1"
    else failed=$((failed + 1)); echo "FAIL $1: $3"; fi
}

reg_add() { "$WINE" reg add "$@" /f >/dev/null 2>&1; }

# pretend VERSION: makes the current prefix report that Windows version.
pretend() {
    local nt='HKLM\Software\Microsoft\Windows NT\CurrentVersion'
    local sp='HKLM\System\CurrentControlSet\Control\Windows'
    case $1 in
    vista-rtm|win7-sp0) "$WINE" reg delete 'HKCU\Software\Wine' /v Version /f >/dev/null 2>&1 ;;
    esac
    case $1 in
    vista-rtm) reg_add "$nt" /v CurrentVersion /d 6.0; reg_add "$nt" /v CurrentBuildNumber /d 6000
               reg_add "$nt" /v CSDVersion /d ""; reg_add "$sp" /v CSDVersion /t REG_DWORD /d 0 ;;
    win7-sp0)  reg_add "$nt" /v CurrentVersion /d 6.1; reg_add "$nt" /v CurrentBuildNumber /d 7600
               reg_add "$nt" /v CSDVersion /d ""; reg_add "$sp" /v CSDVersion /t REG_DWORD /d 0 ;;
    *)         reg_add 'HKCU\Software\Wine' /v Version /d "$1" ;;
    esac
}

for version in vista-rtm vista win7-sp0 win7 win8 win81 win10; do
    prefix="$scratch/$version"
    rm -rf "$prefix"
    cp -a "$source_prefix" "$prefix"
    export WINEPREFIX="$prefix"
    pretend "$version"

    got=$("$WINE" "$probe" 2>/dev/null | tr -d '\r' | paste -sd'|')
    [ "$got" = "${expected[$version]}" ]
    check "$version probe" $? "got '$got', expected '${expected[$version]}'"

    "$WINE" "$stub" >/dev/null 2>&1
    code=$?
    work=$(find "$prefix/drive_c/users" -type d -path '*/Norvik/VozeDozav/10.99.0.21465' 2>/dev/null)
    if [ "${version%-rtm}" = vista ]; then
        [ "$code" = 1 ] && [ -z "$work" ]
        check "$version stub refused" $? "exit code $code, work folder '${work}'"
    else
        [ -n "$work" ]
        check "$version stub let through" $? "exit code $code, no work folder made"
    fi

    "$WINESERVER" -k >/dev/null 2>&1
    "$WINESERVER" -w >/dev/null 2>&1
    rm -rf "$prefix"
done

echo "os_gate_versions: $failed of $((passed + failed)) checks failed"
[ "$failed" = 0 ]
