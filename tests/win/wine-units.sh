#!/usr/bin/env bash
# Runs the Windows build of the unit tests (scripts/build-windows.sh builds
# them beside the programs) under Wine, with no X server; fails if any fails.
#
#   wine-units.sh WINDOWS-BUILD-DIR PREFIX-DIR QT-FOR-MINGW
#
# Exit code 77 (skipped) when they were not built because no Qt for MinGW was
# found, or when Wine cannot start.
set -uo pipefail

build="$1"
prefix="$2"
qt="$3"
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source-path=SCRIPTDIR source=wine-prefix.sh
. "$here/wine-prefix.sh"

shopt -s nullglob
tests=("$build"/tests/unit/tst_*.exe)
if [ ${#tests[@]} = 0 ]; then
    echo "SKIPPED: no unit tests in $build/tests/unit: no Qt for MinGW was found at configure time" \
        "(set VARNET_QT_MINGW, or see scripts/build-windows.sh)"
    exit 77
fi
work="$(mktemp -d "${TMPDIR:-/tmp}/varnet-wine-units.XXXXXX")"
cleanup() {
    [ -x "$wineserver" ] && timeout 60 "$wineserver" -k 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

unset DISPLAY WAYLAND_DISPLAY
wine_prefix "$prefix"
wine_probe "$work"
# The runtime DLLs come from the folder the zip is packed from.
stage="$(echo "$build"/Varnet-*-win64)"
WINEPATH="$(windows_path "$stage");$(windows_path "$qt/bin")"
QT_PLUGIN_PATH="$(windows_path "$qt/plugins")"
export WINEPATH QT_PLUGIN_PATH QT_QPA_PLATFORM=offscreen

failed=0
for test in "${tests[@]}"; do
    name="$(basename "$test" .exe)"
    # Its log to a file: the console a Windows program writes to is not ours.
    timeout 120 "$wine" "$test" -o "$(windows_path "$work/$name.txt"),txt" >"$work/$name.out" 2>&1
    status=$?
    [ -f "$work/$name.txt" ] && cat "$work/$name.txt" >>"$work/$name.out"
    # A program Wine could not load never reaches QtTest's totals.
    if [ "$status" = 0 ] && grep -q '^Totals: .* 0 failed' "$work/$name.out"; then
        echo "PASS $name: $(grep '^Totals:' "$work/$name.out")"
    else
        failed=$((failed + 1))
        echo "FAIL $name: exit status $status"
        grep -E '^(FAIL|XPASS|QFATAL|QWARN|Totals)|Loc:' "$work/$name.out" | head -n 40
        [ "$status" = 124 ] && echo "(stopped after 120 s)"
        tail -n 5 "$work/$name.out"
    fi
done
echo "${#tests[@]} tests, $failed failed"
[ "$failed" = 0 ]
