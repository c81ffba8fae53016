#!/usr/bin/env bash
# The slow check of the Debian packages, run before a release (not in CI):
# builds them (scripts/package.sh), runs lintian, then installs them into a
# fresh Debian 12 (../shared/tools/fresh-debian.sh) and there checks what a new
# user does: varnet-send installed alone (what it pulls in, --version, its
# manual page, tab completion, a file sent byte for byte), then varnet (menu
# entry and icon, a file opened from the file manager through the desktop
# entry shows the window and sends nothing, the window under Xvfb), and that
# purging both leaves no file of theirs. What talks to a printer runs in a
# network of its own (scripts/own-network.sh): the fresh system shares this
# machine's, and its port 9100 may be someone else's.
# Run from anywhere, as root, with everything committed (fresh-debian.sh tests
# the committed state).
#   check-package.sh                     all of it
#   check-package.sh --inside DEB...     the part that runs in the fresh system
#   check-package.sh --offline send|window   its checks that need no network
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
failures=0
step() { echo "== $*"; }
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
finish() {
    local what=${1:-package check}
    if [ $failures = 0 ]; then echo "$what: everything passed"; else echo "$what: $failures failed"; fi
    exit $((failures > 0))
}

case "${1:-}" in
"")
    [ "$(id -u)" = 0 ] || { echo "check-package.sh: run as root (fresh-debian.sh needs it)" >&2; exit 2; }
    [ -z "$(git -C "$root" status --porcelain)" ] ||
        echo "check-package.sh: uncommitted changes are not part of the fresh system's clone" >&2
    mapfile -t debs < <(bash "$root/scripts/package.sh")
    step "lintian --pedantic ${debs[*]##*/}"
    lintian --pedantic --fail-on error,warning "${debs[@]}" || fail "lintian"
    step "fresh Debian 12"
    cd "$root"
    FRESH_DEBIAN_COPY="${debs[*]}" bash "$root/../shared/tools/fresh-debian.sh" \
        bash scripts/check-package.sh --inside "${debs[@]/#*\//\/root\/}" || fail "in the fresh system"
    finish
    ;;
--inside)
    shift
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # What a desktop has anyway, and the tools of this check (not the packages').
    apt-get install -y -qq --no-install-recommends man-db bash-completion desktop-file-utils \
        hicolor-icon-theme xdg-utils file xvfb xauth xdotool socat iproute2 >/dev/null

    send_deb=$(printf '%s\n' "$@" | grep '/varnet-send_')
    window_deb=$(printf '%s\n' "$@" | grep '/varnet_')
    step "apt-get install $send_deb, alone"
    pulled=$(apt-get install -s "$send_deb" | grep -c '^Inst ')
    echo "it installs $pulled packages"
    [ "$pulled" -le 40 ] || fail "varnet-send pulls $pulled packages, more than 40"
    apt-get install -y -qq "$send_deb" >/tmp/install.log 2>&1 || { cat /tmp/install.log; exit 1; }
    dpkg -s libqt6widgets6 >/dev/null 2>&1 && fail "varnet-send brought Qt Widgets"
    bash "$root/scripts/own-network.sh" --as-root bash "$root/scripts/check-package.sh" --offline send || failures=$((failures + 1))

    step "apt-get install $window_deb"
    apt-get install -y -qq "$window_deb" >/tmp/install.log 2>&1 || { cat /tmp/install.log; exit 1; }
    dpkg -s varnet varnet-send | grep -E '^(Package|Version|Depends|Recommends|Suggests):'
    bash "$root/scripts/own-network.sh" --as-root bash "$root/scripts/check-package.sh" --offline window || failures=$((failures + 1))

    step "apt-get purge varnet varnet-send"
    dpkg -L varnet varnet-send | sort -u >/tmp/files
    apt-get purge -y -qq varnet varnet-send >/dev/null || fail "apt-get purge"
    dpkg -s varnet >/dev/null 2>&1 && fail "varnet is still installed"
    dpkg -s varnet-send >/dev/null 2>&1 && fail "varnet-send is still installed"
    while read -r path; do
        [ -d "$path" ] || [ ! -e "$path" ] || fail "$path is left after purging"
    done </tmp/files
    grep -q varnet /usr/share/applications/mimeinfo.cache 2>/dev/null && fail "the MIME cache still names Varnet"
    finish
    ;;
--offline) ;;
*) echo "usage: $0 [--inside DEB... | --offline send|window]" >&2; exit 2 ;;
esac

if [ "$2" = send ]; then
    step "varnet-send --version"
    varnet-send --version || fail "varnet-send --version"

    step "man varnet-send"
    MANWIDTH=80 man varnet-send 2>&1 | col -bx >/tmp/man.txt || fail "man varnet-send"
    head -n 12 /tmp/man.txt
    grep -q '^EXIT STATUS' /tmp/man.txt || fail "man varnet-send has no EXIT STATUS"

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

    step "varnet-send to a listener on 127.0.0.1:9100"
    head -c 300000 /dev/urandom >/tmp/job.bin
    socat -u TCP-LISTEN:9100,bind=127.0.0.1,reuseaddr OPEN:/tmp/received.bin,creat,trunc &
    sink=$!
    for _ in $(seq 50); do ss -ltn 'sport = :9100' | grep -q LISTEN && break; sleep 0.1; done
    timeout 60 varnet-send -H 127.0.0.1 /tmp/job.bin || fail "varnet-send -H 127.0.0.1 ended with $?"
    for _ in $(seq 100); do kill -0 $sink 2>/dev/null || break; sleep 0.1; done
    kill $sink 2>/dev/null && fail "the listener's connection did not end"
    cmp /tmp/job.bin /tmp/received.bin && echo "received byte for byte" || fail "the listener did not get the file"
    finish "varnet-send's checks"
fi

step "menu entry and icon"
desktop-file-validate /usr/share/applications/varnet.desktop || fail "desktop entry"
grep -E '^(Name|Exec|Icon|MimeType)=' /usr/share/applications/varnet.desktop
man -w varnet >/dev/null || fail "man varnet is not found"
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
# Ends the window found, by the process id it gives.
close_window() {
    local pid
    pid=$(xdotool getwindowpid "$1") && kill "$pid" 2>/dev/null
}

step "a PostScript file opened from the file manager (xdg-open) shows the window and sends nothing"
# A saved TCP printer that would get the file if opening it sent it.
mkdir -p /root/.config/Varnet
printf '[STARTUP]\nDrucker=\nIP=127.0.0.1\nOpt=False\n' >/root/.config/Varnet/Varnet.conf
# The type is found from the content, as a file manager does.
printf '%%!PS-Adobe-3.0\n%%%%Title: check\n' >/tmp/job.ps
head -c 100000 /dev/urandom >>/tmp/job.ps
rm -f /tmp/received.ps
socat -u TCP-LISTEN:9100,bind=127.0.0.1,reuseaddr OPEN:/tmp/received.ps,creat,trunc &
sink=$!
echo "$(xdg-mime query filetype /tmp/job.ps) opens with $(xdg-mime query default application/postscript)"
xdg-open /tmp/job.ps &
opener=$!
if window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Varnet' 2>/dev/null | head -n 1); then
    echo "window $window: $(xdotool getwindowname "$window")"
    sleep 3
    kill -0 $sink 2>/dev/null || fail "opening the file sent it"
    [ ! -s /tmp/received.ps ] || fail "opening the file sent $(stat -c %s /tmp/received.ps) bytes"
    close_window "$window"
else
    fail "no Varnet window within 30 s of xdg-open"
fi
kill $sink $opener 2>/dev/null || true
wait $opener 2>/dev/null || true

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
finish "varnet's checks"
