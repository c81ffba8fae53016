#!/usr/bin/env bash
# Compiles every Windows source (and the version resource) with the MinGW
# cross compiler, warnings as errors, since nobody here can build on Windows.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$(mktemp -d)}"
mkdir -p "$out"
cxx=x86_64-w64-mingw32-g++
windres=x86_64-w64-mingw32-windres
flags=(-std=c++20 -municode -DUNICODE -D_UNICODE -I"$root/src" -Wall -Wextra -Wshadow
    -Wconversion -Wsign-conversion -Wpedantic -Wold-style-cast -Werror -c)
status=0
for source in "$root"/src/platform/win/*.cpp; do
    if ! "$cxx" "${flags[@]}" "$source" -o "$out/$(basename "$source" .cpp).o"; then
        echo "FAILED: $source" >&2
        status=1
    fi
done
# The resource script takes its version from the header CMake makes from project().
cmake -DOUTPUT_DIR="$out" -P "$root/cmake/VarnetVersion.cmake"
version=$(sed -n 's/^#define VARNET_VERSION "\(.*\)"$/\1/p' "$out/varnetversion.h")
if ! "$windres" -I "$root/src/resources" -I "$out" "$root/src/resources/varnet.rc" -O coff \
    -o "$out/varnet.res.o"; then
    echo "FAILED: varnet.rc" >&2
    status=1
elif ! "$windres" -i "$out/varnet.res.o" -O rc | tr -d '\0' >"$out/varnet.res.rc" ||
    [ "$(grep -cE "VALUE \"(File|Product)Version\", \"$version\"" "$out/varnet.res.rc")" != 2 ]; then
    echo "FAILED: varnet.rc does not carry file and product version $version" >&2
    status=1
fi
[ $status = 0 ] && echo "all Windows sources compile"
exit $status
