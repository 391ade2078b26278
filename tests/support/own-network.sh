#!/usr/bin/env bash
# Runs a test command as a workstation of its own. The updater's single-copy
# guard is a name in the machine's network namespace, so a test that starts
# the program runs in a network namespace of its own: there it meets neither
# a copy a developer has open nor another test's. Root makes one directly; a
# plain user makes one inside a user namespace of its own in which it stays
# the same user, with no more rights than before.
if unshare --net true 2>/dev/null; then
    exec unshare --net -- "$@"
fi
if unshare --map-current-user --net true 2>/dev/null; then
    exec unshare --map-current-user --net -- "$@"
fi
echo "own-network.sh: this system lets this user make no network namespace of its own," \
    "so the tests that start the updater run one at a time" >&2
exec flock "${TMPDIR:-/tmp}/qd740n-updater-tests.lock" "$@"
