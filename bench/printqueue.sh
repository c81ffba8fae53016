#!/usr/bin/env bash
# Sends the same 64 MiB file into the same raw queue of a private scheduler,
# once through Varnet's printer-queue path and once with `lp -o raw`, and
# prints how long each took to hand the job to the scheduler, their ratio and
# Varnet's peak memory. The queue delivers to a loopback sink that discards
# the bytes; each job is let finish before the next starts.
#   bench/printqueue.sh [BUILD-DIR]   (default build/bench, Release)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/bench}"
sandbox_script="$root/tests/support/cups-sandbox.sh"
size_mib=64

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNET_BUILD_TESTS=OFF \
    >/dev/null
cmake --build "$build" --target varnet_rawjob_bench >/dev/null
driver="$build/bench/varnet_rawjob_bench"

work="$(mktemp -d)"
chmod 755 "$work" # the scheduler's helpers run as another user
sink_pid=""
cleanup() {
    [ -n "$sink_pid" ] && kill "$sink_pid" 2>/dev/null || true
    bash "$sandbox_script" stop "$work/cups" || true
    rm -rf "$work"
}
trap cleanup EXIT

# Sets sink_port and sink_pid; run in this shell, not in $(...), whose
# output pipe the sink would keep open.
start_sink() {
    for _ in $(seq 1 20); do
        sink_port=$((20000 + RANDOM % 40000))
        socat -d -d -u "TCP-LISTEN:$sink_port,bind=127.0.0.1,reuseaddr,fork" OPEN:/dev/null \
            </dev/null >/dev/null 2>"$work/sink.log" &
        sink_pid=$!
        for _ in $(seq 1 50); do
            grep -q "listening on" "$work/sink.log" && return 0
            kill -0 "$sink_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill "$sink_pid" 2>/dev/null || true
        sink_pid=""
    done
    echo "no free port for the sink" >&2
    return 1
}

now_ns() { date +%s%N; }

wait_queue_empty() {
    for _ in $(seq 1 600); do
        [ -z "$(lpstat -o Bench 2>/dev/null)" ] && return 0
        sleep 0.1
    done
    echo "queue did not drain:" >&2
    lpstat -l -o >&2 || true
    tail -n 5 "$work/cups/log/error_log" >&2 || true
    return 1
}

bash "$sandbox_script" start "$work/cups" >/dev/null
export CUPS_SERVER="$work/cups/cups.sock"
start_sink
bash "$sandbox_script" add-queue "$work/cups" Bench "socket://127.0.0.1:$sink_port"

file="$work/job.bin"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$file"
cat "$file" >/dev/null # both runs read it from the page cache

start=$(now_ns)
lp -d Bench -o raw -t "Command Print" "$file" >/dev/null
lp_ns=$(($(now_ns) - start))
wait_queue_empty

start=$(now_ns)
/usr/bin/time -f "%M" -o "$work/rss" "$driver" Bench "$file" >"$work/phases"
varnet_ns=$(($(now_ns) - start))
read -r load_ns send_ns <"$work/phases"
wait_queue_empty

rss_kib=$(tail -n 1 "$work/rss")
# The same program with an empty file: its libraries and heap, i.e. the constant.
: >"$work/empty.bin"
/usr/bin/time -f "%M" -o "$work/rss-empty" "$driver" Bench "$work/empty.bin" >/dev/null
base_kib=$(tail -n 1 "$work/rss-empty")
file_kib=$((size_mib * 1024))
# The whole run is what a command-line send costs; the send alone is what
# pressing Print costs once the file was chosen (and so loaded) earlier.
awk -v v="$varnet_ns" -v l="$lp_ns" -v load="$load_ns" -v send="$send_ns" \
    -v rss="$rss_kib" -v f="$file_kib" -v base="$base_kib" 'BEGIN {
    printf "file                         %d MiB\n", f / 1024
    printf "lp -o raw                    %.3f s\n", l / 1e9
    printf "Varnet whole run             %.3f s (load into memory %.3f s, send %.3f s)\n",
        v / 1e9, load / 1e9, send / 1e9
    printf "ratio Varnet whole run / lp  %.2f (target <= 1.2)\n", v / l
    printf "ratio Varnet send / lp       %.2f\n", send / l
    printf "Varnet peak RSS              %.1f MiB (file + %.1f MiB)\n", rss / 1024, (rss - f) / 1024
    printf "Varnet peak RSS, empty file  %.1f MiB\n", base / 1024
}'
