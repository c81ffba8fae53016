#!/usr/bin/env bash
# varnet-send to a fleet: many printers at once over loopback, each taking
# the file at a printer's pace, with the usual limit of 1,024 open files.
#   bench/fanout.sh [DESTINATIONS] [KiB] [RATE]   (defaults 1000, 1024, 200000)
# RATE is bytes per second per printer; every printer is a connection to one
# sink process that paces each on its own. Prints how many were delivered,
# the wall time against the pace's floor (KiB * 1024 / RATE), and
# varnet-send's peak memory in all and per destination (against a send to
# one printer). Targets: all delivered; wall time at most 1.1 times the
# floor; peak memory under 128 MiB for 1,000 destinations.
# Ends by itself: the sink gives up after three times the floor plus 30 s,
# and varnet-send is stopped then too.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
count="${1:-1000}"
kib="${2:-1024}"
rate="${3:-200000}"
build="${VARNET_BENCH_BUILD:-$root/build/bench}"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNET_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target varnet-send varnet_fansink >/dev/null
sender="$build/src/send/varnet-send"
sinkprog="$build/bench/varnet_fansink"

work="$(mktemp -d)"
sink_pid=""
cleanup() {
    [ -n "$sink_pid" ] && kill "$sink_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

bytes=$((kib * 1024))
head -c "$bytes" /dev/urandom >"$work/file"
floor=$(awk -v b="$bytes" -v r="$rate" 'BEGIN { printf "%.3f", b / r }')
limit=$(awk -v f="$floor" 'BEGIN { printf "%d", 3 * f + 30 }')

# start_sink CONNECTIONS: a sink for that many connections; sets sink_pid, port.
start_sink() {
    "$sinkprog" "$rate" "$1" "$bytes" "$limit" >"$work/sink.out" 2>&1 &
    sink_pid=$!
    for _ in $(seq 1 100); do
        port=$(sed -n 's/^listening \([0-9]*\)$/\1/p' "$work/sink.out")
        [ -n "$port" ] && return 0
        sleep 0.05
    done
    echo "the sink did not start" >&2
    exit 1
}

# send CONNECTIONS NAME: varnet-send to that many printers, limited to 1,024
# open files (soft and hard, so the program cannot raise it); leaves
# NAME.json, NAME.time (wall seconds) and the sink's report in NAME.sink.
send() {
    local n="$1" name="$2" hosts=() i
    start_sink "$n"
    for ((i = 0; i < n; i++)); do
        hosts+=(-H "127.0.0.1:$port")
    done
    local t0 t1
    t0=$(date +%s.%N)
    (ulimit -n 1024 && exec timeout "$limit" "$sender" --json "${hosts[@]}" "$work/file") \
        >"$work/$name.json" || true
    t1=$(date +%s.%N)
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }' >"$work/$name.time"
    wait "$sink_pid" || true
    sink_pid=""
    cp "$work/sink.out" "$work/$name.sink"
}

send 1 one
send "$count" many

delivered=$(grep -c '"delivered": true' "$work/many.json" || true)
failed=$(grep -c '"delivered": false' "$work/many.json" || true)
rss_one=$(sed -n 's/.*"maxRssKiB": \([0-9]*\).*/\1/p' "$work/one.json")
rss_many=$(sed -n 's/.*"maxRssKiB": \([0-9]*\).*/\1/p' "$work/many.json")
if [ -z "$rss_many" ]; then
    echo "varnet-send gave no summary:" >&2
    head -c 2000 "$work/many.json" >&2
    exit 1
fi
complete=$(sed -n 's/.*complete=\([0-9]*\).*/\1/p' "$work/many.sink")
if [ "$failed" != 0 ]; then
    echo "reasons for failures:"
    grep '"error"' "$work/many.json" | sort | uniq -c | sort -rn | head -5
fi

awk -v n="$count" -v kib="$kib" -v rate="$rate" -v floor="$floor" -v d="$delivered" \
    -v f="$failed" -v c="$complete" -v one="$(cat "$work/one.time")" \
    -v wall="$(cat "$work/many.time")" -v r1="$rss_one" -v rn="$rss_many" \
    -v load="$(cut -d' ' -f1-3 /proc/loadavg)" 'BEGIN {
    printf "destinations:          %d, %d KiB each, printers paced at %.0f kB/s, ulimit -n 1024\n",
        n, kib, rate / 1000
    printf "load average:          %s\n", load
    printf "delivered:             %d of %d (%d failed; the sink saw %d complete jobs)\n", d, n, f, c
    printf "wall time:             %.2f s, floor %.2f s, ratio %.2f (target <= 1.1)\n",
        wall, floor, wall / floor
    printf "one destination:       %.2f s, ratio %.2f\n", one, one / floor
    printf "peak memory:           %.1f MiB (target < 128); one destination %.1f MiB\n",
        rn / 1024, r1 / 1024
    printf "per destination:       %.1f KiB (above the one-destination run)\n",
        (rn - r1) / (n > 1 ? n - 1 : 1)
}'
