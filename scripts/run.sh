#!/usr/bin/env bash
# Installs what is missing, builds Varnet and starts it. Arguments are passed
# through, so a file name given here is sent as on the program's own command line.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh" run
build="$root/build/release"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DVARNET_BUILD_TESTS=OFF -DVARNET_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" --target varnet >/dev/null
exec "$build/src/varnet" "$@"
