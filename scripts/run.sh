#!/usr/bin/env bash
# Installs what is missing, builds both programs, says where they are and
# starts the window. Arguments are passed through, so a file name given here
# is sent as on the window program's own command line.
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
cmake --build "$build" --target varnet varnet-send >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
echo "Built $build/src/varnet and $build/src/send/varnet-send" >&2
exec "$build/src/varnet" "$@"
