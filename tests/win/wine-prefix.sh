# shellcheck shell=bash
# Sourced by the Wine test scripts: a prefix of their own, and a wineserver
# that no earlier run left behind.
wine="${VARNET_WINE:-/usr/lib/wine/wine64}"
wineserver="$(dirname "$wine")/wineserver"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
windows_path() { echo "Z:${1//\//\\}"; }

# A run that was killed leaves its wineserver, with its programs and the
# display they had, and maybe a prefix half made: every later program would
# join that server, and a window go to an X server long gone.
wine_prefix() {
    mkdir -p "$1" && WINEPREFIX="$(cd "$1" && pwd)"
    export WINEPREFIX
    timeout 60 "$wineserver" -k 2>/dev/null
    timeout 60 "$wineserver" -w 2>/dev/null
    if [ ! -f "$WINEPREFIX/varnet-ready" ]; then
        rm -rf "${WINEPREFIX:?}"
        mkdir -p "$WINEPREFIX"
    fi
}

# The first program in a new prefix makes it; exits 77 when Wine cannot.
wine_probe() {
    if ! timeout 300 "$wine" cmd.exe /c echo wine-ready >"$1/probe.out" 2>&1 ||
        ! grep -q wine-ready "$1/probe.out"; then
        cat "$1/probe.out"
        echo "SKIPPED: Wine cannot start"
        exit 77
    fi
    touch "$WINEPREFIX/varnet-ready"
}
