#!/usr/bin/env bash
# Runs the Windows build of both programs, unpacked from the zip a user would
# download, under Wine on a private X server: the main window, the unattended
# send from the command line with its settings in the Wine registry, and
# varnet-send.exe, each against a loopback sink, compared byte for byte.
#
#   wine-programs.sh ZIP PREFIX-DIR NATIVE-VARNET-SEND CLOSEBOX-EXE
#
# Meant to run in a network of its own (scripts/own-network.sh): the
# unattended send goes to port 9100. Exit code 77 (skipped) when there is no
# zip because no Qt for MinGW was found, or when Wine cannot start.
set -uo pipefail

zip="$1"
prefix="$2"
native_send="$3"
closebox="$4"
wine="${VARNET_WINE:-/usr/lib/wine/wine64}"
wineserver="$(dirname "$wine")/wineserver"
here="$(cd "$(dirname "$0")" && pwd)"

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "PASS $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1${2:+: $2}"; }
check() { # name, then a command that must succeed
    local name="$1"
    shift
    if "$@" >"$work/check.out" 2>&1; then pass "$name"; else fail "$name" "$(head -c 600 "$work/check.out")"; fi
}

if [ ! -f "$zip" ]; then
    echo "SKIPPED: $zip was not built: no Qt for MinGW was found at configure time" \
        "(set VARNET_QT_MINGW, or see scripts/build-windows.sh)"
    exit 77
fi
work="$(mktemp -d "${TMPDIR:-/tmp}/varnet-wine-programs.XXXXXX")"
cleanup() {
    jobs -p | xargs -r kill 2>/dev/null
    [ -x "$wineserver" ] && timeout 60 "$wineserver" -k 2>/dev/null
    bash "$here/../support/cups-sandbox.sh" stop "$work/cups" >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$prefix" && WINEPREFIX="$(cd "$prefix" && pwd)"
export WINEPREFIX
if ! timeout 300 "$wine" cmd.exe /c echo wine-ready >"$work/probe.out" 2>&1 ||
    ! grep -q wine-ready "$work/probe.out"; then
    cat "$work/probe.out"
    echo "SKIPPED: Wine cannot start"
    exit 77
fi

(cd "$work" && unzip -q "$zip") || { fail "unpack $zip"; exit 1; }
programs="$(echo "$work"/Varnet-*-win64)"
windows_path() { echo "Z:${1//\//\\}"; }

# Every byte value, then noise, so a lost, doubled or moved block shows.
{
    # shellcheck disable=SC2059 # the format is the 256 escapes
    printf "$(printf '\\%03o' $(seq 0 255))"
    head -c $((2 * 1024 * 1024 + 4321)) /dev/urandom
} >"$work/input.prn"

# A sink takes one connection and writes what arrives to its file; sets
# sink_port and sink_pid.
start_sink() {
    local file="$1" port="${2:-0}"
    socat -d -d -u "TCP-LISTEN:$port,bind=127.0.0.1" "OPEN:$file,creat,trunc" 2>"$file.log" &
    sink_pid=$!
    for _ in $(seq 1 100); do
        sink_port="$(sed -n 's/.*listening on AF=2 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$file.log")"
        [ -n "$sink_port" ] && return 0
        sleep 0.1
    done
    return 1
}
# The program's status once the sink has all it will get.
received() {
    local status="$1" expected="$2" file="$3"
    timeout 60 tail --pid="$sink_pid" -f /dev/null
    [ "$status" = "$expected" ] || { echo "exit status $status, not $expected"; return 1; }
    cmp "$work/input.prn" "$file"
}

# varnet-send.exe: a delivery, and a refused port with the status Linux gives.
start_sink "$work/send.received"
timeout 120 "$wine" "$programs/varnet-send.exe" -H "127.0.0.1:$sink_port" "$(windows_path "$work/input.prn")" \
    >"$work/send.out" 2>&1
check "varnet-send.exe delivers the file byte for byte and exits 0" received $? 0 "$work/send.received"
start_sink "$work/closed.received" && kill "$sink_pid" && wait "$sink_pid" 2>/dev/null
"$native_send" -q -H "127.0.0.1:$sink_port" "$work/input.prn" >/dev/null 2>&1
expected=$?
# A command put in the background by a script starts with SIGINT ignored.
timeout 120 python3 -c 'import os, signal, sys; signal.signal(signal.SIGINT, signal.SIG_DFL); os.execv(sys.argv[1], sys.argv[1:])' \
    "$wine" "$programs/varnet-send.exe" -q -H "127.0.0.1:$sink_port" "$(windows_path "$work/input.prn")" \
    >"$work/refused.out" 2>&1
status=$?
check "varnet-send.exe to a refused port exits $expected as on Linux" test "$status" = "$expected"

# The window, on an X server of its own, with the settings a user left.
# The server picks a free display number itself: other tests run X servers too.
# Always one size: Wine keeps the screen it first met in the prefix.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
DISPLAY=":$(head -n 1 "$work/display")"
export DISPLAY
screen_width="$(xwininfo -root | sed -n 's/^ *Width: //p')"
for setting in "Opt False" "IP 127.0.0.1"; do
    "$wine" reg add 'HKCU\Software\Varnet\Varnet\STARTUP' /v "${setting% *}" /d "${setting#* }" /f \
        >/dev/null 2>&1 || fail "registry setting ${setting% *}"
done
timeout 120 "$wine" "$programs/Varnet.exe" >"$work/window.out" 2>&1 &
window_pid=$!
geometry=""
for _ in $(seq 1 1200); do
    geometry="$(xwininfo -root -tree | sed -n 's/.*"Varnet - Socket closed": .* \([0-9]*x[0-9]*+[0-9]*+[0-9]*\) .*/\1/p')"
    [ -n "$geometry" ] && break
    sleep 0.1
done
centred() {
    [[ "$geometry" =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || { echo "no window [$geometry]"; head -c 400 "$work/window.out"; return 1; }
    local left=$(((screen_width - BASH_REMATCH[1]) / 2))
    if [ $((BASH_REMATCH[3] - left)) -gt 8 ] || [ $((left - BASH_REMATCH[3])) -gt 8 ]; then
        echo "window at $geometry, not centred"
        return 1
    fi
}
check "Varnet.exe shows \"Varnet - Socket closed\" centred on the screen" centred
kill "$window_pid" 2>/dev/null
"$wineserver" -k 2>/dev/null

# Unattended: Varnet.exe FILE sends to the saved address and ends by itself.
start_sink "$work/window.received" 9100
timeout 120 "$wine" "$programs/Varnet.exe" "$(windows_path "$work/input.prn")" >"$work/unattended.out" 2>&1
check "Varnet.exe FILE delivers to the saved address byte for byte and exits 0" \
    received $? 0 "$work/window.received"

# The printer path: Wine's spooler hands the raw job to a queue of a private
# scheduler, whose backend delivers it to a sink.
chmod 755 "$work" # cupsd's backends run as lp
if bash "$here/../support/cups-sandbox.sh" start "$work/cups" >"$work/sandbox.out" 2>&1 &&
    start_sink "$work/queue.received" &&
    bash "$here/../support/cups-sandbox.sh" add-queue "$work/cups" Windows-Queue \
        "socket://127.0.0.1:$sink_port" >>"$work/sandbox.out" 2>&1; then
    export CUPS_SERVER="$work/cups/cups.sock"
    for setting in "Opt True" "Drucker Windows-Queue"; do
        "$wine" reg add 'HKCU\Software\Varnet\Varnet\STARTUP' /v "${setting% *}" /d "${setting#* }" /f \
            >/dev/null 2>&1 || fail "registry setting ${setting% *}"
    done
    # The print ends, as when a user prints, with "Executed!" to be answered.
    "$wine" "$closebox" Message 120 &
    answer=$!
    timeout 120 "$wine" "$programs/Varnet.exe" "$(windows_path "$work/input.prn")" >"$work/queue.out" 2>&1
    check "Varnet.exe FILE delivers through Wine's spooler to the saved queue byte for byte and exits 0" \
        received $? 0 "$work/queue.received"
    wait "$answer" || fail "Varnet.exe FILE to a queue ends with a message box" "none was shown"
else
    fail "sandbox scheduler" "$(cat "$work/sandbox.out")"
fi

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
