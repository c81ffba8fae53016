#!/usr/bin/env bash
# Runs the Windows build of both programs, unpacked from the zip a user would
# download, under Wine on a private X server: the main window, the unattended
# send from the command line with its settings in the Wine registry, and
# varnet-send.exe, each against a loopback sink, compared byte for byte.
#
#   wine-programs.sh ZIP PREFIX-DIR NATIVE-VARNET-SEND CLOSEBOX-EXE WIREFRAME.png
#
# Meant to run in a network of its own (scripts/own-network.sh): the
# unattended send goes to port 9100. Exit code 77 (skipped) when there is no
# zip because no Qt for MinGW was found, or when Wine cannot start.
set -uo pipefail

zip="$1"
prefix="$2"
native_send="$3"
closebox="$4"
wireframe="$5"
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source-path=SCRIPTDIR source=wine-prefix.sh
. "$here/wine-prefix.sh"

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

wine_prefix "$prefix"

# One X server for the whole run, before the first Wine program, so that
# Wine's desktop never starts without one. It picks a free display number
# itself (other tests run X servers too) and keeps its screen in a file, the
# screenshot. Always one size: Wine keeps the screen it first met in the prefix.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -fbdir "$work" 3>"$work/display" >"$work/xvfb.log" 2>&1 &
for _ in $(seq 1 300); do [ -s "$work/display" ] && break; sleep 0.1; done
if [ ! -s "$work/display" ]; then
    echo "Xvfb gave no display within 30 s: $(head -c 400 "$work/xvfb.log")"
    exit 1
fi
DISPLAY=":$(head -n 1 "$work/display")"
export DISPLAY

wine_probe "$work"

(cd "$work" && unzip -q "$zip") || { fail "unpack $zip"; exit 1; }
programs="$(echo "$work"/Varnet-*-win64)"
# Runs Varnet.exe for at most two minutes; one that has to be stopped is
# asked which windows it still had open (a message box nobody answered).
run_window() {
    timeout 120 "$wine" "$programs/Varnet.exe" "$@" >"$work/last.out" 2>&1 &
    local pid=$!
    for _ in $(seq 1 1150); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && xwininfo -root -tree | grep -o '"[^"]*": (' | sed 's/^/window still open: /' >>"$work/last.out"
    wait "$pid"
}

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
    [ "$status" = "$expected" ] || { echo "exit status $status, not $expected"; cat "$work/last.out"; return 1; }
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

# Ctrl-C in the middle of a send: the printer must see a reset, not a
# complete job, and the caller the status of an interruption. This printer
# takes the connection, reads nothing for a while, then says how it ended.
python3 -c '
import socket, sys, time
with socket.create_server(("127.0.0.1", 0)) as server:
    server.settimeout(120)
    print(server.getsockname()[1], flush=True)
    peer = server.accept()[0]
    print("connected", flush=True)
    time.sleep(3)
    peer.settimeout(60)
    try:
        while peer.recv(65536):
            pass
        print("closed cleanly")
    except ConnectionResetError:
        print("reset")
' >"$work/stalled.log" 2>&1 &
stalled_pid=$!
for _ in $(seq 1 100); do [ -s "$work/stalled.log" ] && break; sleep 0.1; done
timeout 120 python3 -c 'import os, signal, sys; signal.signal(signal.SIGINT, signal.SIG_DFL); os.execv(sys.argv[1], sys.argv[1:])' \
    "$wine" "$programs/varnet-send.exe" -q -H "127.0.0.1:$(head -n 1 "$work/stalled.log")" \
    "$(windows_path "$work/input.prn")" >"$work/interrupted.out" 2>&1 &
sender=$!
for _ in $(seq 1 1200); do grep -q connected "$work/stalled.log" && break; sleep 0.1; done
kill -INT "$sender"
wait "$sender"
status=$?
timeout 90 tail --pid="$stalled_pid" -f /dev/null
interrupted() {
    [ "$status" = 130 ] || { echo "exit status $status, not 130"; cat "$work/interrupted.out"; return 1; }
    grep -qx reset "$work/stalled.log" || { echo "the printer saw: $(tail -n 1 "$work/stalled.log")"; return 1; }
}
check "varnet-send.exe interrupted by Ctrl-C resets the connection and exits 130" interrupted

# The window, with the settings a user left.
screen_width="$(xwininfo -root | sed -n 's/^ *Width: //p')"
for setting in "Opt False" "IP 127.0.0.1"; do
    "$wine" reg add 'HKCU\Software\Varnet\Varnet\STARTUP' /v "${setting% *}" /d "${setting#* }" /f \
        >/dev/null 2>&1 || fail "registry setting ${setting% *}"
done
timeout 120 "$wine" "$programs/Varnet.exe" >"$work/window.out" 2>&1 &
window_pid=$!
where() { xwininfo -root -tree | sed -n 's/.*"Varnet - Socket closed": .* \([0-9]*x[0-9]*+[0-9]*+[0-9]*\) .*/\1/p'; }
geometry=""
for _ in $(seq 1 1200); do
    geometry="$(where)"
    [ -n "$geometry" ] && break
    kill -0 "$window_pid" 2>/dev/null || break
    sleep 0.1
done
centred() {
    if ! [[ "$geometry" =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]]; then
        echo "no window within 120 s; the windows there:"
        xwininfo -root -children | grep '^ *0x' | head -n 20
        head -c 400 "$work/window.out"
        return 1
    fi
    local left=$(((screen_width - BASH_REMATCH[1]) / 2))
    if [ $((BASH_REMATCH[3] - left)) -gt 8 ] || [ $((left - BASH_REMATCH[3])) -gt 8 ]; then
        echo "window at $geometry, not centred"
        return 1
    fi
}
check "Varnet.exe shows \"Varnet - Socket closed\" centred on the screen" centred
# Shown is not yet painted nor in its last place: the screen is read until it
# matches, for a while. What it showed last is kept beside the prefix.
laid_out() {
    [ -n "$geometry" ] || { echo "no window"; return 1; }
    for _ in $(seq 1 30); do
        geometry="$(where)"
        python3 "$here/windowlayout.py" "$work/Xvfb_screen0" "$geometry" "$wireframe" "$prefix-window.png" &&
            return 0
        sleep 1
    done
    return 1
}
check "Varnet.exe has its fields and buttons where the wireframe has them" laid_out
kill "$window_pid" 2>/dev/null
timeout 60 "$wineserver" -k 2>/dev/null
timeout 60 "$wineserver" -w 2>/dev/null

# Unattended: Varnet.exe FILE sends to the saved address and ends by itself.
start_sink "$work/window.received" 9100
run_window "$(windows_path "$work/input.prn")"
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
    run_window "$(windows_path "$work/input.prn")"
    check "Varnet.exe FILE delivers through Wine's spooler to the saved queue byte for byte and exits 0" \
        received $? 0 "$work/queue.received"
    wait "$answer" || fail "Varnet.exe FILE to a queue ends with a message box" "none was shown"
else
    fail "sandbox scheduler" "$(cat "$work/sandbox.out")"
fi

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
