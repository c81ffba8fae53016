#!/usr/bin/env bash
# Builds the Debian packages varnet and varnet-send as a Debian maintainer
# would (dpkg-buildpackage, with Debian's hardening flags from debian/rules)
# from a copy of the working tree, and prints the packages' paths:
#   bash scripts/package.sh   -> build/package/varnet{,-send}_VERSION-REVISION_ARCH.deb
# The test suite is not run again here (scripts/test.sh runs it).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/deps.sh" package
build="$root/build/package"

# dpkg-buildpackage leaves its results beside the source folder, so that
# folder is a fresh copy inside build/package.
rm -rf "$build"
mkdir -p "$build/source"
tar -C "$root" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$build/source" -xf -
(cd "$build/source" && DEB_BUILD_OPTIONS=nocheck dpkg-buildpackage -us -uc -b -Pnocheck >../build.log 2>&1) ||
    { tail -n 40 "$build/build.log" >&2; exit 1; }
rm -rf "$build/source"
ls "$build"/varnet_*.deb "$build"/varnet-send_*.deb
