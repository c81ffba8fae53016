#!/usr/bin/env bash
# The slow check of the Debian package, run before a release (not in CI):
# builds it (scripts/package.sh), runs lintian, then installs it into a fresh
# Debian 12 (../shared/tools/fresh-debian.sh) and there checks what a new user
# does: --version of both programs, man varnet-send, tab completion, the menu
# entry with its icon, opening a file from the file manager (xdg-open, which
# runs the desktop entry's Exec line), the window under Xvfb, and removal.
# Run from anywhere, as root, with everything committed (fresh-debian.sh tests
# the committed state). Takes about two and a half minutes once the release
# build in build/package is up to date; the first release build adds about five.
#   check-package.sh            all of it
#   check-package.sh --inside DEB   the part that runs in the fresh system
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

if [ "${1:-}" != --inside ]; then
    [ "$(id -u)" = 0 ] || { echo "check-package.sh: run as root (fresh-debian.sh needs it)" >&2; exit 2; }
    [ -z "$(git -C "$root" status --porcelain)" ] ||
        echo "check-package.sh: uncommitted changes are not part of the fresh system's clone" >&2
    deb=$(bash "$root/scripts/package.sh" | tail -n 1)
    echo "== lintian $(basename "$deb")"
    # Errors fail the check; warnings and the rest are shown.
    lintian --fail-on error --display-info "$deb"
    echo "== fresh Debian 12"
    cd "$root"
    FRESH_DEBIAN_COPY="$deb" bash "$root/../shared/tools/fresh-debian.sh" \
        bash scripts/check-package.sh --inside "/root/$(basename "$deb")"
    exit
fi

deb=$2
failures=0
step() { echo "== $*"; }
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# What a desktop has anyway, and the tools of this check (not the package's).
apt-get install -y -qq --no-install-recommends man-db bash-completion desktop-file-utils \
    hicolor-icon-theme xdg-utils file xvfb xauth xdotool socat >/dev/null

step "apt-get install $deb"
apt-get install -y -qq "$deb" >/tmp/install.log 2>&1 || { cat /tmp/install.log; exit 1; }
dpkg -s varnet | grep -E '^(Version|Depends|Suggests):'

step "varnet-send --version; varnet --version"
varnet-send --version || fail "varnet-send --version"
varnet --version || fail "varnet --version"

step "man varnet-send"
MANWIDTH=80 man varnet-send 2>&1 | col -bx >/tmp/man.txt || fail "man varnet-send"
head -n 12 /tmp/man.txt
grep -q '^EXIT STATUS' /tmp/man.txt || fail "man varnet-send has no EXIT STATUS"
man -w varnet >/dev/null || fail "man varnet is not found"

step "tab completion of varnet-send --"
completions=$(bash -c '
    source /usr/share/bash-completion/bash_completion
    _completion_loader varnet-send
    COMP_WORDS=(varnet-send --); COMP_CWORD=1
    "$(complete -p varnet-send | sed -n "s/.*-F \([^ ]*\) .*/\1/p")" varnet-send -- varnet-send
    echo "${COMPREPLY[*]}"')
echo "$completions"
[[ " $completions " == *" --printer "* && " $completions " == *" --wait-eof "* ]] ||
    fail "completion does not offer varnet-send's options"

step "menu entry and icon"
desktop-file-validate /usr/share/applications/varnet.desktop || fail "desktop entry"
grep -E '^(Name|Exec|Icon|MimeType)=' /usr/share/applications/varnet.desktop
for size in 16 22 24 32 48 64 128 256; do
    [ -f "/usr/share/icons/hicolor/${size}x${size}/apps/varnet.png" ] || fail "no ${size}x${size} icon"
done
for type in application/postscript application/vnd.hp-pcl; do
    printf '%s: %s\n' "$type" "$(grep "^$type=" /usr/share/applications/mimeinfo.cache || echo none)"
    grep -q "^$type=.*varnet.desktop" /usr/share/applications/mimeinfo.cache ||
        fail "the menu's MIME cache does not offer Varnet for $type"
done

Xvfb :77 -screen 0 1024x768x24 -nolisten tcp >/tmp/xvfb.log 2>&1 &
xvfb=$!
export DISPLAY=:77
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.2; done
xdotool getdisplaygeometry >/dev/null 2>&1 || fail "Xvfb did not start within 10 s"

step "a PostScript file opened from the file manager (xdg-open) goes to the saved TCP printer"
mkdir -p /root/.config/Varnet
printf '[STARTUP]\nDrucker=\nIP=127.0.0.1\nOpt=False\n' >/root/.config/Varnet/Varnet.conf
# The type is found from the content, as a file manager does.
printf '%%!PS-Adobe-3.0\n%%%%Title: check\n' >/tmp/job.ps
head -c 100000 /dev/urandom >>/tmp/job.ps
socat -u TCP-LISTEN:9100,bind=127.0.0.1,reuseaddr OPEN:/tmp/received.ps,creat,trunc &
sink=$!
sleep 0.5
echo "$(xdg-mime query filetype /tmp/job.ps) opens with $(xdg-mime query default application/postscript)"
timeout 60 xdg-open /tmp/job.ps || fail "xdg-open /tmp/job.ps"
for _ in $(seq 100); do kill -0 $sink 2>/dev/null || break; sleep 0.2; done
kill $sink 2>/dev/null && fail "nothing ended the connection to the sink"
cmp /tmp/job.ps /tmp/received.ps && echo "received byte for byte" || fail "the sink did not get the file"

step "varnet under Xvfb"
rm -f /root/.config/Varnet/Varnet.conf
varnet &
pid=$!
if window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Varnet' 2>/dev/null | head -n 1); then
    echo "window $window: $(xdotool getwindowname "$window")"
else
    fail "no Varnet window within 30 s"
fi
kill $pid 2>/dev/null || true
wait $pid 2>/dev/null || true
kill $xvfb 2>/dev/null || true

step "apt-get purge varnet"
dpkg -L varnet | sort >/tmp/files
apt-get purge -y -qq varnet >/dev/null || fail "apt-get purge varnet"
dpkg -s varnet >/dev/null 2>&1 && fail "varnet is still installed"
while read -r path; do
    [ -d "$path" ] || [ ! -e "$path" ] || fail "$path is left after removal"
done </tmp/files
grep -q varnet /usr/share/applications/mimeinfo.cache 2>/dev/null && fail "the MIME cache still names Varnet"

if [ $failures = 0 ]; then echo "package check: everything passed"; else echo "package check: $failures failed"; fi
exit $((failures > 0))
