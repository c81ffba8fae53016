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
# Run as root, cupsd starts its backends as lp, which must reach the spool files.
chmod 755 "$work"
sink_pids=()
declare -A sink_of
cleanup() {
    local pid
    for pid in "${sink_pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    bash "$sandbox" stop "$work/cups" >/dev/null 2>&1
    # Let this prefix's Wine processes end before the next run reuses it.
    [ -x "$wineserver" ] && timeout 60 "$wineserver" -w 2>/dev/null
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
        sink_port="$(sed -n 's/.*listening on AF=2 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$file.log" 2>/dev/null)"
        [ -n "$sink_port" ] && return 0
        kill -0 "$sink_pid" 2>/dev/null || break
        sleep 0.1
    done
    cat "$file.log"
    return 1
}

add_queue() {
    local name="$1"
    start_sink "$work/$name.received" || return 1
    sink_of[$name]="$sink_pid"
    bash "$sandbox" add-queue "$work/cups" "$name" "socket://127.0.0.1:$sink_port" >/dev/null
}

wait_for_exit() {
    local pid="$1"
    for _ in $(seq 1 1200); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    return 1
}

received_size() {
    local file="$work/$1.received"
    [ -f "$file" ] && stat -c %s "$file" || echo 0
}

cat >"$work/get-jobs.test" <<'IPP'
{
    OPERATION Get-Jobs
    GROUP operation-attributes-tag
    ATTR charset attributes-charset utf-8
    ATTR naturalLanguage attributes-natural-language en
    ATTR uri printer-uri $uri
    ATTR keyword which-jobs all
    ATTR keyword requested-attributes job-id
    DISPLAY job-id
}
IPP
cat >"$work/get-job.test" <<'IPP'
{
    OPERATION Get-Job-Attributes
    GROUP operation-attributes-tag
    ATTR charset attributes-charset utf-8
    ATTR naturalLanguage attributes-natural-language en
    ATTR uri printer-uri $uri
    ATTR integer job-id $job
    ATTR keyword requested-attributes job-name,job-state
    DISPLAY job-name
    DISPLAY job-state
}
IPP
# The jobs of a queue as the scheduler holds them, one "name,state" per line.
# Each job is asked for on its own: the list of a queue leaves out the name
# of a finished job whose details the scheduler has put away.
jobs_at() {
    local uri="ipp://${CUPS_SERVER//\//%2F}/printers/$1" id
    for id in $(ipptool -c "$uri" "$work/get-jobs.test" | tail -n +2); do
        ipptool -c -d "job=$id" "$uri" "$work/get-job.test" | tail -n +2
    done
}

# The queue's jobs once they are all done, or whatever they are after a minute.
settled_jobs_at() {
    local jobs
    for _ in $(seq 1 600); do
        jobs="$(jobs_at "$1")"
        [ -z "$jobs" ] && break
        grep -qvE ',(completed|aborted|canceled)$' <<<"$jobs" || break
        sleep 0.1
    done
    echo "$jobs"
}

for queue in Binary Empty Rejecting Spare.q@2; do
    add_queue "$queue" || fail "queue $queue" "could not be set up"
done
bash "$sandbox" default "$work/cups" Spare.q@2 >/dev/null || fail "default queue" "could not be set"
cupsreject Rejecting >/dev/null || fail "queue Rejecting" "cupsreject failed"
[ "$failed" = 0 ] || finish

# Every byte value, then a few MiB of noise, so a lost, doubled or moved
# block shows.
{
    printf "$(printf '\\%03o' $(seq 0 255))"
    head -c $((3 * 1024 * 1024 + 4321)) /dev/urandom
} >"$work/binary.prn"
: >"$work/empty.prn"
printf 'refused\n' >"$work/small.prn"

arguments=()
while IFS= read -r name; do
    arguments+=(--printer "$name")
done < <(lpstat -e)
arguments+=(--default "$(lpstat -d | sed -n 's/^system default destination: //p')")
arguments+=(--send Binary "Z:$work/binary.prn" --send Empty "Z:$work/empty.prn"
    --send-fails Rejecting "Z:$work/small.prn" --open-fails "No-such-queue" --open-fails "")

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

# What reached the printers behind the queues.
if wait_for_exit "${sink_of[Binary]}"; then
    if cmp "$work/binary.prn" "$work/Binary.received" >"$work/cmp.out" 2>&1; then
        pass "Binary: the printer received the file byte for byte"
    else
        fail "Binary: the printer received the file byte for byte" \
            "sent $(stat -c %s "$work/binary.prn"), received $(received_size Binary): $(cat "$work/cmp.out")"
    fi
else
    fail "Binary: the printer received the file byte for byte" \
        "the job did not end within two minutes ($(received_size Binary) bytes so far)"
fi
jobs="$(settled_jobs_at Binary)"
if [ "$jobs" = 'Command Print,completed' ]; then
    pass "Binary: one completed job named \"Command Print\" at the scheduler"
else
    fail "Binary: one completed job named \"Command Print\" at the scheduler" "jobs: [$jobs]"
fi

# Real Windows keeps a zero-byte job; Wine's spooler creates the scheduler's
# job with the first byte and so drops an empty document without a word. Any
# job that does arrive must still be empty and carry the name.
jobs="$(settled_jobs_at Empty)"
if [ -z "$jobs" ]; then
    if [ "$(received_size Empty)" = 0 ]; then
        pass "Empty: nothing reached the printer (Wine submits no job for an empty document)"
    else
        fail "Empty: nothing reached the printer" "$(received_size Empty) bytes arrived without a job"
    fi
elif [ "$jobs" = 'Command Print,completed' ] && wait_for_exit "${sink_of[Empty]}" &&
    [ "$(received_size Empty)" = 0 ]; then
    pass "Empty: an empty job named \"Command Print\" reached the printer"
else
    fail "Empty: an empty job named \"Command Print\" reached the printer" \
        "jobs: [$jobs], $(received_size Empty) bytes received"
fi

jobs="$(jobs_at Rejecting)"
if [ -z "$jobs" ] && [ "$(received_size Rejecting)" = 0 ]; then
    pass "Rejecting: the refusing queue took no job"
else
    fail "Rejecting: the refusing queue took no job" "jobs: [$jobs], $(received_size Rejecting) bytes received"
fi

finish
