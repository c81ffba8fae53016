#!/usr/bin/env bash
# Makes the Qt that scripts/build-windows.sh needs: Debian 12's own qt6-base
# source, cross-built for x86_64-w64-mingw32 (posix threads) with Debian's Qt
# as the host tools, installed into PREFIX. About an hour on two cores; it
# installs the build tools and fetches the source with apt, so it wants root.
#   build-qt-mingw.sh PREFIX [WORK-DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
[ $# -ge 1 ] || { echo "usage: $0 PREFIX [WORK-DIR]" >&2; exit 2; }
prefix="$(realpath -m "$1")"
work="$(realpath -m "${2:-${TMPDIR:-/tmp}/qt-mingw-build}")"
mkdir -p "$work"
cd "$work"

sudo=""
[ "$(id -u)" = 0 ] || sudo="sudo"
# apt-get source needs the source lines, which a fresh Debian has switched off.
sources=/etc/apt/sources.list.d/debian.sources
if [ -f "$sources" ] && ! grep -q '^Types:.*deb-src' "$sources"; then
    $sudo sed -i 's/^Types: deb$/Types: deb deb-src/' "$sources"
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    g++-mingw-w64-x86-64-posix qt6-base-dev qt6-base-dev-tools cmake ninja-build dpkg-dev >/dev/null
source_dir="$(find . -maxdepth 1 -type d -name 'qt6-base-*' -print -quit)"
if [ -z "$source_dir" ]; then
    apt-get source -qq qt6-base
    source_dir="$(find . -maxdepth 1 -type d -name 'qt6-base-*' -print -quit)"
fi

# Only what the two programs load. Debian's source lacks the tablet header
# (wintab.h), so tablet events go; the rest is left out to save hours.
mkdir -p build
cd build
"$work/$source_dir/configure" -prefix "$prefix" -release -opensource -confirm-license \
    -nomake examples -nomake tests -qt-host-path /usr -no-opengl -no-dbus -no-icu \
    -qt-zlib -qt-pcre -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -qt-doubleconversion \
    -no-feature-sql -no-feature-printsupport -no-feature-concurrent -no-feature-xml \
    -no-feature-vulkan -no-feature-tabletevent \
    -- -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQt6HostInfo_DIR=/usr/lib/x86_64-linux-gnu/cmake/Qt6HostInfo
ninja -j"$(nproc)"
ninja install
echo "Qt for MinGW is in $prefix; build Varnet with: VARNET_QT_MINGW=$prefix bash $root/scripts/build-windows.sh"
