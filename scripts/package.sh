#!/usr/bin/env bash
# Builds the Debian package from a release build with Debian's own compiler
# and linker flags (hardening), and prints the package's path:
#   bash scripts/package.sh            -> build/package/varnet_VERSION_ARCH.deb
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh" package
build="$root/build/package"

# dpkg-buildflags gives the flags every Debian package is built with.
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DVARNET_BUILD_TESTS=OFF -DVARNET_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build"
rm -f "$build"/varnet_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/varnet_*.deb
