#!/usr/bin/env bash
# Runs a test command as a workstation of its own. The updater's single-copy
# guard is a name in the machine's network namespace, so a test that starts
# the program runs in a network namespace of its own: there it meets neither
# a copy a developer has open nor another test's. Root makes one directly; a
# plain user makes one inside a user namespace of its own in which it stays
# the same user, with no more rights than before on anything outside it.
# Where neither is allowed, the tests that start the program run one at a
# time instead.
#
# own-network.sh [--mount] COMMAND...: with --mount, also a mount namespace
# of its own, in which the command may mount (a desktop's roads give
# themselves a /tmp of their own there). A machine that allows none (a
# chroot whose root is no mount point, a container without user namespaces)
# cannot run such a command: it is skipped, with the reason, and exits with
# status 77, which CTest reports as skipped (SKIP_RETURN_CODE); under
# CI=true it fails instead, with status 1, so CI runs every road.
namespaces=(--net)
if [ "${1:-}" = --mount ]; then
    namespaces+=(--mount)
    shift
fi

# allowed [OPTION...]: unshare makes these namespaces here, and in them a
# mount is possible where one was asked for; what refused it is in REFUSED.
REFUSED=()
allowed()
{
    local said
    said=$(unshare "$@" "${namespaces[@]}" -- sh -c \
        '[ "$1" != --mount ] || mount -t tmpfs qd740n-probe /tmp' sh "${namespaces[-1]}" 2>&1) \
        && return 0
    REFUSED+=("unshare${*:+ $*} ${namespaces[*]}: ${said//$'\n'/ }")
    return 1
}

if allowed; then
    exec unshare "${namespaces[@]}" -- "$@"
fi
if allowed --map-current-user --keep-caps; then
    exec unshare --map-current-user --keep-caps "${namespaces[@]}" -- "$@"
fi
if [ "${namespaces[-1]}" = --mount ]; then
    reason="this machine gives this test no mount namespace of its own (${REFUSED[0]}; ${REFUSED[1]})"
    if [ "${CI:-}" = true ]; then
        echo "FAILED, not skipped under CI=true: $reason" >&2
        exit 1
    fi
    echo "SKIPPED: $reason"
    exit 77
fi
echo "own-network.sh: this system lets this user make no network namespace of its own," \
    "so the tests that start the updater run one at a time" >&2
exec flock "${TMPDIR:-/tmp}/qd740n-updater-tests.lock" "$@"
