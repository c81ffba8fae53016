#!/usr/bin/env bash
# Runs the cross-compiled Windows test program under Wine against a private
# cupsd. Wine's print spooler hands its jobs to that scheduler, whose raw
# queues deliver them to socat sinks on 127.0.0.1, so what the Windows code
# prints is checked as the printer would receive it.
#
#   wine-tests.sh EXE PREFIX-DIR
#
# The Wine prefix lives in PREFIX-DIR and is kept between runs: creating one
# takes many seconds. Exit code 77 (reported as skipped) only when Wine itself
# cannot start; the last line is "N passed, M failed".
set -uo pipefail

exe="$1"
prefix="$2"
here="$(cd "$(dirname "$0")" && pwd)"
sandbox="$here/../support/cups-sandbox.sh"
wine="${VARNET_WINE:-/usr/lib/wine/wine64}"
wineserver="$(dirname "$wine")/wineserver"

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "PASS $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1${2:+: $2}"; }
finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" = 0 ] && exit 0
    exit 1
}

work="$(mktemp -d "${TMPDIR:-/tmp}/varnet-wine.XXXXXX")"
sink_pids=()
cleanup() {
    local pid
    for pid in "${sink_pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    bash "$sandbox" stop "$work/cups" >/dev/null 2>&1
    # Let this prefix's Wine processes end before the next run reuses it.
    [ -x "$wineserver" ] && timeout 60 "$wineserver" -w
    rm -rf "$work"
}
trap cleanup EXIT

export WINEDEBUG=-all
# No Mono or Gecko download prompts and no desktop menu entries in a test prefix.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

if [ ! -x "$wine" ]; then
    echo "SKIPPED: $wine not found (Debian package wine64)"
    exit 77
fi
mkdir -p "$prefix" && prefix="$(cd "$prefix" && pwd)"
export WINEPREFIX="$prefix"
if ! timeout 300 "$wine" cmd.exe /c echo wine-ready >"$work/probe.out" 2>&1 ||
    ! grep -q wine-ready "$work/probe.out"; then
    cat "$work/probe.out"
    echo "SKIPPED: Wine cannot start"
    exit 77
fi

if [ ! -f "$exe" ]; then
    fail "test program" "$exe was not built (cross compiler x86_64-w64-mingw32-g++ missing at configure time?)"
    finish
fi
exe="$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")"

if ! bash "$sandbox" start "$work/cups" >"$work/sandbox.out" 2>&1; then
    fail "sandbox cupsd" "$(cat "$work/sandbox.out")"
    finish
fi
export CUPS_SERVER="$work/cups/cups.sock"

# A sink takes one connection, writes what arrives to its file and ends when
# the sender closes. Sets sink_port and sink_pid.
start_sink() {
    local file="$1"
    socat -d -d -u TCP-LISTEN:0,bind=127.0.0.1 "OPEN:$file,creat,trunc" 2>"$file.log" &
    sink_pid=$!
    sink_pids+=("$sink_pid")
    sink_port=""
    for _ in $(seq 1 100); do
        sink_port="$(sed -n 's/.*listening on AF=2 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$file.log")"
        [ -n "$sink_port" ] && return 0
        kill -0 "$sink_pid" 2>/dev/null || break
        sleep 0.1
    done
    cat "$file.log"
    return 1
}

add_queue() {
    local name="$1"
    start_sink "$work/$name.received" &&
        bash "$sandbox" add-queue "$work/cups" "$name" "socket://127.0.0.1:$sink_port" >/dev/null
}

for queue in Binary Empty Rejecting Spare.q@2; do
    add_queue "$queue" || fail "queue $queue" "could not be set up"
done
bash "$sandbox" default "$work/cups" Spare.q@2 >/dev/null || fail "default queue" "could not be set"
[ "$failed" = 0 ] || finish

arguments=()
while IFS= read -r name; do
    arguments+=(--printer "$name")
done < <(lpstat -e)
arguments+=(--default "$(lpstat -d | sed -n 's/^system default destination: //p')")

(cd "$work" && timeout 300 "$wine" "$exe" "${arguments[@]}") >"$work/program.out" 2>"$work/program.err"
status=$?
# The program's stdout is in text mode: CR LF line ends.
tr -d '\r' <"$work/program.out"
closing="$(tail -n 1 "$work/program.out" | tr -d '\r')"
if [[ "$closing" =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    passed=$((passed + BASH_REMATCH[1]))
    failed=$((failed + BASH_REMATCH[2]))
    [ "$status" = 0 ] || [ "${BASH_REMATCH[2]}" != 0 ] ||
        fail "test program" "ended with $status after reporting no failure"
else
    fail "test program" "ended with $status without its closing line"
    cat "$work/program.err"
fi

finish
