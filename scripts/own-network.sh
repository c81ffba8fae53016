#!/usr/bin/env bash
# Runs a command in a network of its own with only loopback up, so the ports
# the tests use (9100 above all) are theirs alone: a listener on this machine
# neither takes their connections nor makes them skip, and nothing of theirs
# reaches it. Root gets a new network namespace; anyone else a user namespace
# too, mapping them to themselves, whose capabilities serve only to bring
# loopback up and are dropped before the command starts. Where the kernel
# allows neither (some containers), the command runs in the machine's network
# and a warning says so.
#   own-network.sh COMMAND [ARG...]
set -euo pipefail
if [ "${VARNET_OWN_NETWORK:-}" = inside ]; then
    unset VARNET_OWN_NETWORK
    ip link set lo up
    [ "$(id -u)" = 0 ] && exec "$@"
    exec setpriv --inh-caps=-all --ambient-caps=-all "$@"
fi
namespace=(unshare --net)
[ "$(id -u)" = 0 ] || namespace=(unshare --map-current-user --net --keep-caps)
if "${namespace[@]}" ip link set lo up 2>/dev/null; then
    VARNET_OWN_NETWORK=inside exec "${namespace[@]}" bash "$0" "$@"
fi
echo "own-network.sh: no network namespace allowed here; running in this machine's network," \
    "where another program on port 9100 can disturb the tests" >&2
exec "$@"
