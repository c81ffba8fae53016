#!/usr/bin/env bash
# A private CUPS scheduler for tests and for trying Varnet without a printer.
# It has its own config, spool and log folders under DIR and listens on a Unix
# socket (DIR/cups.sock) and, if asked, on a loopback TCP port. Clients reach
# it through CUPS_SERVER=DIR/cups.sock. Nothing of the system's CUPS is used
# or changed.
#
#   cups-sandbox.sh start DIR [IPP-PORT]   start the scheduler; lines in
#                                          CUPS_SANDBOX_DIRECTIVES are added to
#                                          cupsd.conf (e.g. PreserveJobHistory No)
#   cups-sandbox.sh add-queue DIR NAME URI add a raw queue (URI e.g. socket://127.0.0.1:9101)
#   cups-sandbox.sh default DIR NAME       make NAME the default queue
#   cups-sandbox.sh env DIR                print the export line for a shell
#   cups-sandbox.sh stop DIR               stop the scheduler started in DIR
set -euo pipefail

die() { echo "cups-sandbox: $*" >&2; exit 1; }

cupsd_bin() {
    for candidate in /usr/sbin/cupsd "$(command -v cupsd 2>/dev/null || true)"; do
        [ -n "$candidate" ] && [ -x "$candidate" ] && { echo "$candidate"; return; }
    done
    die "cupsd not found (Debian package cups-daemon)"
}

client() {
    # Admin tools talk to the sandbox only, never to the system's scheduler.
    CUPS_SERVER="$dir/cups.sock" "$@"
}

wait_ready() {
    for _ in $(seq 1 100); do
        if [ -S "$dir/cups.sock" ] && client lpstat -r >/dev/null 2>&1; then
            return 0
        fi
        if ! kill -0 "$(cat "$dir/cupsd.pid")" 2>/dev/null; then
            cat "$dir/log/error_log" >&2 2>/dev/null || true
            die "cupsd exited during start-up"
        fi
        sleep 0.1
    done
    die "cupsd did not answer within 10 s"
}

start() {
    local port="${1:-}"
    mkdir -p "$dir"
    dir="$(cd "$dir" && pwd)"
    [ -f "$dir/cupsd.pid" ] && kill -0 "$(cat "$dir/cupsd.pid")" 2>/dev/null &&
        die "already running in $dir (pid $(cat "$dir/cupsd.pid"))"
    mkdir -p "$dir/etc/ppd" "$dir/etc/ssl" "$dir/spool/tmp" "$dir/cache" "$dir/log" "$dir/state"

    local user_lines=""
    if [ "$(id -u)" = 0 ]; then
        # cupsd refuses to run its helpers as root; lp is Debian's print user.
        user_lines=$'User lp\nGroup lp'
    fi

    cat >"$dir/cups-files.conf" <<CONF
$user_lines
ServerRoot $dir/etc
RequestRoot $dir/spool
TempDir $dir/spool/tmp
CacheDir $dir/cache
StateDir $dir/state
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
Printcap $dir/printcap
Sandboxing Relaxed
CONF

    {
        echo "Listen $dir/cups.sock"
        [ -n "$port" ] && echo "Listen 127.0.0.1:$port"
        cat <<'CONF'
LogLevel info
Browsing No
BrowseLocalProtocols none
DefaultAuthType None
WebInterface No
MaxJobs 0
PreserveJobHistory Yes
PreserveJobFiles No
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  JobPrivateAccess all
  JobPrivateValues none
  SubscriptionPrivateAccess all
  SubscriptionPrivateValues none
  <Limit All>
    Order allow,deny
    Allow all
  </Limit>
</Policy>
CONF
        # Later lines win, so these override the defaults above.
        [ -n "${CUPS_SANDBOX_DIRECTIVES:-}" ] && echo "$CUPS_SANDBOX_DIRECTIVES"
    } >"$dir/cupsd.conf"

    : >"$dir/etc/printers.conf"
    if [ "$(id -u)" = 0 ]; then
        chmod 755 "$dir" "$dir/etc" "$dir/log" "$dir/cache" "$dir/state"
        chown root:lp "$dir/spool" "$dir/spool/tmp" "$dir/cache" "$dir/state"
        chmod 0710 "$dir/spool"
        chmod 1770 "$dir/spool/tmp"
        chmod 0770 "$dir/cache" "$dir/state"
    fi

    "$(cupsd_bin)" -f -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" \
        >>"$dir/log/cupsd.out" 2>&1 </dev/null &
    echo $! >"$dir/cupsd.pid"
    wait_ready
    echo "export CUPS_SERVER=$dir/cups.sock"
}

add_queue() {
    local name="$1" uri="$2"
    # No model: a queue without a PPD passes jobs through unfiltered (raw).
    client lpadmin -p "$name" -v "$uri" -E
}

stop() {
    [ -f "$dir/cupsd.pid" ] || return 0
    local pid
    pid="$(cat "$dir/cupsd.pid")"
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid"
        for _ in $(seq 1 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -0 "$pid" 2>/dev/null && kill -9 "$pid"
    fi
    rm -f "$dir/cupsd.pid"
}

[ $# -ge 2 ] || die "usage: $0 start|add-queue|default|env|stop DIR [...]"
command="$1"
dir="$2"
shift 2
case "$command" in
start) start "$@" ;;
add-queue) [ $# -eq 2 ] || die "usage: add-queue DIR NAME URI"; add_queue "$@" ;;
default) [ $# -eq 1 ] || die "usage: default DIR NAME"; client lpadmin -d "$1" ;;
env) echo "export CUPS_SERVER=$(cd "$dir" && pwd)/cups.sock" ;;
stop) stop ;;
*) die "unknown command $command" ;;
esac
