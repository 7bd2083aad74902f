#!/bin/sh
# Runs a command in a network namespace of its own whose one interface is
# the loopback one: indiserver listens on every interface, and there it can
# be reached from 127.0.0.1 only. As root a plain network namespace; as
# another user, one inside a user namespace of its own. Exits with 77 (the
# tests' "skipped") when neither can be made: indiserver is then not run.
set -eu
if [ "${1:-}" = --inside ]; then
    shift
    ip link set lo up
    exec "$@"
fi
if unshare --net true 2>/dev/null; then
    exec unshare --net -- "$0" --inside "$@"
fi
if unshare --user --map-root-user --net true 2>/dev/null; then
    exec unshare --user --map-root-user --net -- "$0" --inside "$@"
fi
echo "in_loopback_namespace: no network namespace can be made here; indiserver is not run" >&2
exit 77
