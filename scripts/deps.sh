#!/usr/bin/env bash
# Installs the Debian packages Varnet needs, and only those that are missing,
# so a second run costs a second.
#   deps.sh run    what building and starting the program needs
#   deps.sh test   that plus the test tools (sandbox scheduler, cross compiler, ...)
#   deps.sh package   what building and checking the Debian package needs
set -euo pipefail

# help2man and rsvg-convert make the manual pages and icons during the build.
run_packages=(cmake ninja-build g++ pkg-config qt6-base-dev libcups2-dev libgl-dev
    help2man librsvg2-bin)
test_packages=(cups cups-daemon cups-client cups-ipp-utils socat netcat-openbsd
    xvfb xauth g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 fonts-dejavu-core procps time
    wine64 python3-minimal desktop-file-utils appstream man-db)
package_packages=(dpkg-dev file lintian)

case "${1:-run}" in
run) wanted=("${run_packages[@]}") ;;
test) wanted=("${run_packages[@]}" "${test_packages[@]}") ;;
package) wanted=("${run_packages[@]}" "${package_packages[@]}") ;;
*) echo "usage: $0 run|test|package" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" = 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
# The scheduler is only ever started by our own sandbox; keep the package
# scripts from starting the system's one.
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
