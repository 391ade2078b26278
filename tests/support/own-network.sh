#!/usr/bin/env bash
# Runs a test command as a workstation of its own. The updater's single-copy
# guard is a name in the machine's network namespace, so a test that starts
# the program runs in a network namespace of its own: there it meets neither
# a copy a developer has open nor another test's. Root makes one directly; a
# plain user makes one inside a user namespace of its own in which it stays
# the same user, with no more rights than before on anything outside it.
#
# own-network.sh [--mount] COMMAND...: with --mount, also a mount namespace
# of its own, in which a plain user keeps the rights to mount (a desktop's
# roads hide folders of the machine's there).
namespaces=(--net)
if [ "${1:-}" = --mount ]; then
    namespaces+=(--mount)
    shift
fi
if unshare "${namespaces[@]}" true 2>/dev/null; then
    exec unshare "${namespaces[@]}" -- "$@"
fi
if unshare --map-current-user --keep-caps "${namespaces[@]}" true 2>/dev/null; then
    exec unshare --map-current-user --keep-caps "${namespaces[@]}" -- "$@"
fi
echo "own-network.sh: this system lets this user make no network namespace of its own," \
    "so the tests that start the updater run one at a time" >&2
exec flock "${TMPDIR:-/tmp}/qd740n-updater-tests.lock" "$@"
