#!/usr/bin/env bash
# Installs what is missing, builds Varnet and starts it. Arguments are passed
# through, so a file name given here is sent as on the program's own command line.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh" run
build="$root/build/release"
log="$build/build.log"
mkdir -p "$build"
if [ ! -f "$build/build.ninja" ]; then
    echo "Building Varnet for the first time; this takes a few minutes." >&2
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DVARNET_BUILD_TESTS=OFF -DVARNET_BUILD_BENCH=OFF >"$log" 2>&1 ||
        { cat "$log" >&2; exit 1; }
fi
cmake --build "$build" --target varnet >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
exec "$build/src/varnet" "$@"
