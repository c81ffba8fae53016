#!/usr/bin/env bash
# Runs a window test on an X server of its own, under a window manager that
# puts a frame with a title bar around each window once it is shown, as a
# desktop does, some time after; the offscreen platform the other window
# tests use frames it the moment it is shown.
#   under-window-manager.sh TEST-PROGRAM [ARGUMENTS...]
set -u
work="$(mktemp -d)"
pids=()
finish() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait
    rm -rf "$work"
}
trap finish EXIT
fail() {
    echo "FAIL: $1" >&2
    cat "$work"/*.log >&2
    exit 1
}
command -v openbox >/dev/null || fail "openbox is missing (scripts/deps.sh test installs it)"

# The server picks a free display number itself: other tests run X servers too.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb gave no display within 10 s"
export DISPLAY=":$(head -n 1 "$work/display")"

XDG_CONFIG_HOME="$work" XDG_CACHE_HOME="$work" openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
# A window manager names itself on the root window once it manages the screen.
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' ||
    fail "openbox did not manage the screen within 10 s"

QT_QPA_PLATFORM=xcb VARNET_TEST_WINDOW_MANAGER=openbox "$@"
