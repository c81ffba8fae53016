#!/usr/bin/env bash
# Builds Varnet.exe and varnet-send.exe for 64-bit Windows with MinGW-w64
# against a Qt cross-built for it, and packs them with every DLL they load
# into build/windows/Varnet-VERSION-win64.zip, ready to unpack and run. The
# unit tests that need no scheduler are built beside them, for Wine.
#   build-windows.sh           the Qt in $VARNET_QT_MINGW (default ../shared/qt6-mingw)
# Exits 2, saying how to get one, when that Qt is missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
qt="${VARNET_QT_MINGW:-$root/../shared/qt6-mingw}"
build="${VARNET_WINDOWS_BUILD:-$root/build/windows}"
if [ ! -f "$qt/lib/cmake/Qt6/Qt6Config.cmake" ] || [ ! -f "$qt/bin/Qt6Core.dll" ]; then
    cat >&2 <<TEXT
build-windows.sh: no Qt 6 for MinGW-w64 at $qt
Point VARNET_QT_MINGW at one (Qt 6.4 or later: Core, Gui, Widgets, Network, Test and the
windows platform plugin, built for x86_64-w64-mingw32 with the posix thread model), or
build one from Debian's own qt6-base source (about an hour on two cores, needs root):
    bash $root/scripts/build-qt-mingw.sh $qt
TEXT
    exit 2
fi
qt="$(cd "$qt" && pwd)"
host_cmake="$(dirname "$(find /usr/lib -path '*/cmake/Qt6/Qt6Config.cmake' -print -quit 2>/dev/null)")"
if [ "$host_cmake" = . ]; then
    echo "build-windows.sh: Debian's Qt 6 host tools are missing (qt6-base-dev)" >&2
    exit 2
fi

# shellcheck disable=SC2086 # extra options, one word each
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNET_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DVARNET_QT_MINGW="$qt" \
    -DCMAKE_PREFIX_PATH="$qt" -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$(dirname "$host_cmake")" \
    -DVARNET_BUILD_TESTS=ON -DVARNET_BUILD_BENCH=OFF ${VARNET_WINDOWS_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j"${VARNET_JOBS:-2}"

version="$(sed -n 's/^#define VARNET_VERSION "\(.*\)"$/\1/p' "$build/generated/varnetversion.h")"
name="Varnet-$version-win64"
stage="$build/$name"
rm -rf "$stage" "$build/$name.zip"
mkdir -p "$stage/platforms"
cp "$build/src/Varnet.exe" "$build/src/send/varnet-send.exe" "$stage/"
cp "$qt/plugins/platforms/qwindows.dll" "$stage/platforms/"

# Every DLL the programs and the plugin load that is not the system's own,
# found by walking the import tables until nothing new turns up.
gcc_dir="$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")"
search=("$qt/bin" "$gcc_dir" /usr/x86_64-w64-mingw32/lib /usr/x86_64-w64-mingw32/bin)
pending=("$stage/Varnet.exe" "$stage/varnet-send.exe" "$stage/platforms/qwindows.dll")
while [ ${#pending[@]} -gt 0 ]; do
    binary="${pending[0]}"
    pending=("${pending[@]:1}")
    for dll in $(x86_64-w64-mingw32-objdump -p "$binary" | sed -n 's/^\s*DLL Name: //p'); do
        [ -e "$stage/$dll" ] && continue
        for folder in "${search[@]}"; do
            if [ -f "$folder/$dll" ]; then
                cp "$folder/$dll" "$stage/"
                # Debian's MinGW runtime carries its symbols: a third of the size.
                x86_64-w64-mingw32-strip --strip-unneeded "$stage/$dll"
                pending+=("$stage/$dll")
                break
            fi
        done
    done
done

cat >"$stage/README.txt" <<TEXT
Varnet $version for 64-bit Windows

Varnet.exe sends one file, byte for byte and unconverted, to a printer: as a
raw job through the Windows print spooler, or straight to a TCP port (9100
unless given). varnet-send.exe does the same from a command prompt or a
script; varnet-send --help lists its options and exit statuses.

Unpack the whole folder anywhere and start Varnet.exe; nothing is installed.
The DLLs beside the programs are Qt (LGPL-3.0) and the MinGW-w64 runtime.
Settings are kept in the registry under HKEY_CURRENT_USER\\Software\\Varnet.

Not on Windows: varnet-send --ipp (add the printer to the spooler and use
--printer).
TEXT
(cd "$build" && zip -qr9 "$name.zip" "$name")
echo "$build/$name.zip"
