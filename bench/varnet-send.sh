#!/usr/bin/env bash
# varnet-send against `nc -N` over loopback, in one run:
#  1. one file to one sink, varnet-send then nc: throughput ratio and
#     varnet-send's peak memory;
#  2. the same file to 8 sinks at once with varnet-send: wall time against
#     the single send. 8 copies of nc at once are timed too, as the machine's
#     own cost of 8 streams, so a miss can be told apart from the sender;
#  3. the same as 2 with 32 MiB and sinks that take 10 MB/s each, as a
#     printer would, so the sender is not starved of CPU by its own sinks.
#   bench/varnet-send.sh [MiB]      (default 256)
# Targets: ratio >= 0.8 (1.2 where the file goes out by sendfile, Linux) at
# most 0.7 times nc's CPU time; 8 sinks at most 1.5 times a single send and
# at most 1.1 times 8 nc at once.
# Both senders wait for the sink to close after the last byte (varnet-send's
# default --wait-eof 30, nc -N's shutdown and read to the end).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
mib="${1:-256}"
build="${VARNET_BENCH_BUILD:-$root/build/bench}"
fanout=8

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNET_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target varnet-send >/dev/null
sender="$build/src/send/varnet-send"

work="$(mktemp -d)"
sink_pids=()
cleanup() {
    for pid in "${sink_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# start_listener PORTS-ARRAY COMMAND...: starts COMMAND with every @PORT@
# replaced by a free loopback port, waits until it says it is listening, and
# appends the port to PORTS-ARRAY and its pid to sink_pids. Run it in this
# shell, not in $(...), whose output pipe the sink would keep open.
start_listener() {
    local -n ports=$1
    shift
    local port pid log
    for _ in $(seq 1 20); do
        port=$((20000 + RANDOM % 40000))
        log="$work/listener-$port.log"
        "${@//@PORT@/$port}" </dev/null >"$log" 2>&1 &
        pid=$!
        for _ in $(seq 1 100); do
            if grep -q "listening" "$log"; then
                ports+=("$port")
                sink_pids+=("$pid")
                return 0
            fi
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill "$pid" 2>/dev/null || true
    done
    echo "no free port for a sink: $*" >&2
    return 1
}

# Sinks that discard everything with large reads, so the senders set the
# pace; each forks per connection, so one sink serves every run.
sink_ports=()
# Sinks that read at most 10 MB/s, as a printer might.
paced_ports=()
paced_sink='
import socket, sys, time
s = socket.socket()
s.bind(("127.0.0.1", int(sys.argv[1])))
s.listen(8)
print("listening", flush=True)
while True:
    c, _ = s.accept()
    start, total = time.monotonic(), 0
    while True:
        d = c.recv(262144)
        if not d:
            break
        total += len(d)
        ahead = total / 10e6 - (time.monotonic() - start)
        if ahead > 0:
            time.sleep(ahead)
    c.close()
'
for _ in $(seq 1 "$fanout"); do
    start_listener sink_ports socat -d -d -u -b 262144 \
        "TCP-LISTEN:@PORT@,bind=127.0.0.1,reuseaddr,fork" OPEN:/dev/null
    start_listener paced_ports python3 -c "$paced_sink" @PORT@
done

bytes=$((mib * 1024 * 1024))
head -c "$bytes" /dev/urandom >"$work/file"
cat "$work/file" >/dev/null # every sender reads it from the page cache

now() { date +%s.%N; }
load="$(cut -d' ' -f1-3 /proc/loadavg)"

# Checks a JSON summary: exit code 0 and every destination got every byte.
check_summary() {
    local summary="$1" expected="$2"
    grep -q '"exitCode": 0' "$summary" &&
        [ "$(grep -c "\"bytes\": $bytes," "$summary")" = "$expected" ] || {
        echo "varnet-send did not deliver everything:" >&2
        cat "$summary" >&2
        exit 1
    }
}

# CPU time, in clock ticks, of the sinks' finished connections (each is a
# child the sink has reaped).
sinks_cpu() {
    local total=0 pid
    for pid in "${sink_pids[@]}"; do
        for _ in $(seq 1 50); do
            pgrep -P "$pid" >/dev/null || break
            sleep 0.1
        done
        total=$((total + $(awk '{print $16 + $17}' "/proc/$pid/stat")))
    done
    echo "$total"
}

# 1. One sink; the CPU time each sender, and the sink, took.
sink0=$(sinks_cpu)
v0=$(now)
/usr/bin/time -f "%U %S" -o "$work/single.cpu" \
    "$sender" --json -H "127.0.0.1:${sink_ports[0]}" "$work/file" >"$work/single.json"
v1=$(now)
# Reading the sinks' CPU time takes a while (a process or two per sink): the
# clock starts after it, or nc would be charged for it.
sink1=$(sinks_cpu)
n0=$(now)
/usr/bin/time -f "%U %S" -o "$work/nc.cpu" nc -N 127.0.0.1 "${sink_ports[0]}" <"$work/file"
n1=$(now)
sink2=$(sinks_cpu)
read -r single_user single_sys <"$work/single.cpu"
read -r nc_user nc_sys <"$work/nc.cpu"
check_summary "$work/single.json" 1
rss=$(sed -n 's/.*"maxRssKiB": \([0-9]*\).*/\1/p' "$work/single.json")


# 2. Every sink at once.
hosts=()
for port in "${sink_ports[@]}"; do
    hosts+=(-H "127.0.0.1:$port")
done
sinks_before=$(sinks_cpu)
f0=$(now)
/usr/bin/time -f "%U %S" -o "$work/fanout.cpu" \
    "$sender" --json "${hosts[@]}" "$work/file" >"$work/fanout.json"
f1=$(now)
sinks_ticks=$(($(sinks_cpu) - sinks_before))
read -r sender_user sender_sys <"$work/fanout.cpu"
check_summary "$work/fanout.json" "$fanout"
fanout_rss=$(sed -n 's/.*"maxRssKiB": \([0-9]*\).*/\1/p' "$work/fanout.json")

nc_pids=()
g0=$(now)
for port in "${sink_ports[@]}"; do
    nc -N 127.0.0.1 "$port" <"$work/file" &
    nc_pids+=($!)
done
wait "${nc_pids[@]}"
g1=$(now)
cores=$(nproc)

# 3. Printer-paced sinks.
paced_mib=32
head -c "$((paced_mib * 1024 * 1024))" "$work/file" >"$work/paced"
p0=$(now)
"$sender" -q -H "127.0.0.1:${paced_ports[0]}" "$work/paced" >/dev/null
p1=$(now)
paced_hosts=()
for port in "${paced_ports[@]}"; do
    paced_hosts+=(-H "127.0.0.1:$port")
done
"$sender" -q "${paced_hosts[@]}" "$work/paced" >/dev/null
p2=$(now)

awk -v mib="$mib" -v n="$fanout" -v load="$load" -v rss="$rss" -v frss="$fanout_rss" \
    -v v0="$v0" -v v1="$v1" -v n0="$n0" -v n1="$n1" -v f0="$f0" -v f1="$f1" -v g0="$g0" -v g1="$g1" \
    -v su="$sender_user" -v ss="$sender_sys" -v sinks="$sinks_ticks" -v tck="$(getconf CLK_TCK)" \
    -v cores="$cores" -v p0="$p0" -v p1="$p1" -v p2="$p2" -v pmib="$paced_mib" \
    -v vu="$single_user" -v vs="$single_sys" -v nu="$nc_user" -v ns="$nc_sys" \
    -v sv="$((sink1 - sink0))" -v sn="$((sink2 - sink1))" 'BEGIN {
    v = v1 - v0; c = n1 - n0; f = f1 - f0; g = g1 - g0
    sender = su + ss; sk = sinks / tck
    printf "file:                     %d MiB over loopback, load average %s\n", mib, load
    printf "close:                    both wait for the sink to close (--wait-eof default 30, nc -N)\n"
    printf "varnet-send, 1 sink:      %.2f s  %.0f MiB/s\n", v, mib / v
    printf "nc -N, 1 sink:            %.2f s  %.0f MiB/s\n", c, mib / c
    printf "ratio varnet-send/nc:     %.2f (target >= 0.8; for a file sent from the cache, 1.2)\n", c / v
    printf "CPU, 1 sink:              varnet-send %.2f s (user %.2f, system %.2f), nc %.2f s (user %.2f, system %.2f)\n",
        vu + vs, vu, vs, nu + ns, nu, ns
    printf "CPU ratio varnet-send/nc: %.2f (target <= 0.7)\n", (nu + ns > 0 ? (vu + vs) / (nu + ns) : 0)
    printf "  sink CPU:               %.2f s in the varnet-send run, %.2f s in the nc run\n", sv / tck, sn / tck
    printf "varnet-send peak RSS:     %.1f MiB (%.1f MiB with %d sinks)\n", rss / 1024, frss / 1024, n
    printf "varnet-send, %d sinks:    %.2f s  %.0f MiB/s in all\n", n, f, n * mib / f
    printf "ratio %d sinks/1 sink:    %.2f (target <= 1.5)\n", n, f / v
    printf "  CPU of that run:        sender %.2f s, sinks %.2f s; on %d cores no less than %.2f s,\n",
        sender, sk, cores, (sender + sk) / cores
    printf "                          %.2f times the single send\n", (sender + sk) / cores / v
    printf "%d x nc -N at once:        %.2f s, %.2f times one nc\n", n, g, g / c
    printf "%d sinks, varnet-send/nc:  %.2f of the time 8 nc take (target <= 1.1)\n", n, f / g
    printf "sinks paced at 10 MB/s:   %d MiB to 1 sink %.2f s, to %d sinks %.2f s, ratio %.2f\n",
        pmib, p1 - p0, n, p2 - p1, (p2 - p1) / (p1 - p0)
}'
