#!/usr/bin/env bash
# Sends the same file to a loopback sink twice in one run, once with Varnet's
# TCP path and once with `nc -N`, and prints the throughput ratio and
# Varnet's peak memory.
#   bench/tcp-throughput.sh [MiB]      (default 256)
# Targets: ratio >= 1.0 where the file goes out by sendfile (Linux), else
# 0.25; peak RSS growth < 32 MiB whatever the size.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
mib="${1:-256}"
build="${VARNET_BENCH_BUILD:-$root/build/bench}"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNET_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target varnet_tcpbench >/dev/null

work="$(mktemp -d)"
sink_pid=""
cleanup() {
    [ -n "$sink_pid" ] && kill "$sink_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

head -c "$((mib * 1024 * 1024))" /dev/urandom >"$work/file"
cat "$work/file" >/dev/null # both senders read from the page cache

# One sink for both runs: it discards everything, with large reads so that
# the senders, not the sink, set the pace.
port=$((20000 + RANDOM % 20000))
socat -u -b 262144 "TCP-LISTEN:$port,bind=127.0.0.1,reuseaddr,fork" OPEN:/dev/null &
sink_pid=$!
for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.05
done

now() { date +%s.%N; }

v0=$(now)
report=$("$build/bench/varnet_tcpbench" "$work/file" 127.0.0.1 "$port")
v1=$(now)
nc -N 127.0.0.1 "$port" <"$work/file"
n1=$(now)

rss_start=$(sed -n 's/.*rss_start_kib=\([0-9]*\).*/\1/p' <<<"$report")
rss_peak=$(sed -n 's/.*rss_peak_kib=\([0-9]*\).*/\1/p' <<<"$report")
sent=$(sed -n 's/.*bytes=\([0-9]*\).*/\1/p' <<<"$report")
# The window sends from a program already running: the driver's own clock,
# from the start of the send to the sink's close, leaves out the start-up
# and exit of a process that the window does not pay for each send.
seconds=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$report")
[ "$sent" = "$((mib * 1024 * 1024))" ] || { echo "Varnet sent $sent bytes" >&2; exit 1; }

awk -v mib="$mib" -v v="$seconds" -v v0="$v0" -v v1="$v1" -v n1="$n1" -v s="$rss_start" \
    -v p="$rss_peak" -v load="$(cut -d' ' -f1-3 /proc/loadavg)" 'BEGIN {
    n = n1 - v1
    printf "file:            %d MiB over loopback, load average %s\n", mib, load
    printf "Varnet TCP path: %.2f s  %.0f MiB/s (%.2f s with start-up and exit of the driver)\n",
        v, mib / v, v1 - v0
    printf "nc -N:           %.2f s  %.0f MiB/s\n", n, mib / n
    printf "ratio Varnet/nc: %.2f (target >= 1.0 with sendfile, else 0.25)\n", n / v
    printf "Varnet peak RSS: %.1f MiB, growth during the send %.1f MiB (target < 32)\n", p / 1024, (p - s) / 1024
}'
