#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors and runs
# the whole suite under CTest, in a network of its own (scripts/own-network.sh)
# so no program on this machine's ports takes part. Each test that needs a
# print scheduler starts its own sandboxed cupsd. VARNET_SANITIZE=1 builds and
# tests with ASan/UBSan.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh" test

sanitize="${VARNET_SANITIZE:-0}"
build="$root/build/test"
[ "$sanitize" = 1 ] && build="$root/build/sanitize"
sanitize_flag=OFF
[ "$sanitize" = 1 ] && sanitize_flag=ON

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARNET_WERROR=ON \
    -DVARNET_SANITIZE="$sanitize_flag" >/dev/null
cmake --build "$build"
cd "$build"
bash "$root/scripts/own-network.sh" ctest --output-on-failure --timeout 120 "$@"
