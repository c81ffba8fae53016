#!/usr/bin/env bash
# Installs the Debian packages Varnet needs, and only when some are missing,
# so a second run costs a second. The list is debian/control's Build-Depends;
# those marked <!nocheck> are needed only by the tests.
#   deps.sh run       what building and starting the programs needs
#   deps.sh test      that plus the test tools (sandbox scheduler, cross compiler, ...)
#   deps.sh package   what building and checking the Debian packages needs
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

case "${1:-run}" in
run) profiles=(-P nocheck) tools=() ;;
test) profiles=() tools=() ;;
package) profiles=(-P nocheck) tools=(lintian) ;;
*) echo "usage: $0 run|test|package" >&2; exit 2 ;;
esac

satisfied() {
    command -v dpkg-checkbuilddeps >/dev/null &&
        dpkg-checkbuilddeps "${profiles[@]}" "$root/debian/control" 2>/dev/null || return 1
    for tool in "${tools[@]}"; do
        [ "$(dpkg-query -W -f='${Status}' "$tool" 2>/dev/null)" = "install ok installed" ] || return 1
    done
}
satisfied && exit 0

sudo=""
[ "$(id -u)" = 0 ] || sudo="sudo"
echo "Installing what debian/control's Build-Depends name and is missing" >&2
$sudo apt-get update -qq
# The scheduler is only ever started by our own sandbox; keep the package
# scripts from starting the system's one.
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get build-dep -y -qq --no-install-recommends "${profiles[@]}" "$root"
[ ${#tools[@]} = 0 ] || $sudo apt-get install -y -qq --no-install-recommends "${tools[@]}"
