#!/usr/bin/env bash
# Runs a test command as a workstation of its own. The updater's single-copy
# guard is a name in the machine's network namespace, so a test that starts
# the program runs in a network namespace of its own where it can (as root):
# there it meets neither a copy a developer has open nor another test run's.
# Elsewhere it runs as it is, and a copy open meanwhile refuses its copies.
if unshare --net true 2>/dev/null; then
    exec unshare --net -- "$@"
fi
echo "own-network.sh: no network namespace of its own (not root); a copy of the updater" \
    "running on this machine makes the test's copies refuse to start" >&2
exec "$@"
