#!/usr/bin/env bash
# Runs a command in a network of its own with only loopback up, so the ports
# the tests use (9100 above all) are theirs alone: a listener on this machine
# neither takes their connections nor makes them skip, and nothing of theirs
# reaches it. The network namespace comes with a user namespace whose
# capabilities serve only to bring loopback up and are dropped before the
# command starts. A user is mapped to themselves; root to nobody, so the
# command runs with permissions as any user has them (a read-only folder
# stays read-only) while what it writes still belongs to root. Where the
# kernel allows none of this (some containers), the command runs in the
# machine's network and a warning says so.
#   own-network.sh [--as-root] COMMAND [ARG...]
# --as-root keeps root as root, for checks of a whole installed system.
set -euo pipefail
if [ "${VARNET_OWN_NETWORK:-}" = inside ]; then
    unset VARNET_OWN_NETWORK
    ip link set lo up
    exec setpriv --inh-caps=-all --ambient-caps=-all "$@"
fi
# Root without user namespaces still gets a network of its own, as root.
namespaces=("--map-current-user --net --keep-caps")
[ "$(id -u)" = 0 ] && namespaces=("--map-user=65534 --map-group=65534 --net --keep-caps" --net)
if [ "${1:-}" = --as-root ]; then
    shift
    [ "$(id -u)" = 0 ] && namespaces=(--net)
fi
for options in "${namespaces[@]}"; do
    # shellcheck disable=SC2086 # the options are words
    if unshare $options ip link set lo up 2>/dev/null; then
        VARNET_OWN_NETWORK=inside exec unshare $options bash "$0" "$@"
    fi
done
echo "own-network.sh: no network namespace allowed here; running in this machine's network," \
    "where another program on port 9100 can disturb the tests" >&2
exec "$@"
