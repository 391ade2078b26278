#!/usr/bin/env bash
# wine-suite.sh WINE SUITE.EXE [ARGUMENTS...]: runs a cross-built Qt Test
# suite under Wine for CTest, as WINE alone would, and ends when the suite
# ends.
#
# The suite writes to a file, which is passed on as it grows, not to CTest's
# pipe. The first Wine program of a session starts Wine's own programs (its
# server and services), and they inherit that program's output. They run
# until no other Wine program does, so a pipe they hold stays open after the
# suite has ended, and CTest, which reads a test's output to its end, waited
# for them: with the CPU kept busy, a suite that had passed in 23 s ended
# after 239 s, with the suite beside it, or at its timeout.
#
# A suite that has printed "Finished testing" has nothing left to do but
# exit. One that has not ended a minute later fails: its threads' backtraces
# are printed (winedbg), then it is killed.
set -uo pipefail

wine=$1
suite=$2
readonly EXIT_GRACE=60

log=$(mktemp)
trap 'rm -f "$log"' EXIT

"$wine" "${@:2}" >"$log" 2>&1 &
pid=$!
tail -n +1 -f --pid="$pid" "$log" &
tail=$!
# CTest stops a suite past its timeout by ending this script: Wine goes too.
trap 'kill -KILL "$pid" "$tail" 2>/dev/null; exit 1' TERM INT

# Until the suite prints its last line, or ends without it; then until it
# ends, a minute at most. Each wait runs as a job, so that the trap above is
# taken at once.
grep -q -m1 '^\*\*\*\*\*\*\*\*\* Finished testing of ' < <(tail -n +1 -f --pid="$pid" "$log") &
wait $!
timeout "$EXIT_GRACE" tail --pid="$pid" -f /dev/null &
if ! wait $!; then
    name=$(basename "$suite")
    kill "$tail"
    echo "wine-suite: $name printed \"Finished testing\" ${EXIT_GRACE} s ago and has not ended." \
        "The threads of each $name running:"
    timeout 60 "$wine" winedbg --command "info process" 2>/dev/null </dev/null \
        | awk -v exe="'$name'" '$NF == exe { gsub("=", "", $1); print $1 }' \
        | while read -r winpid; do
            timeout 120 "$wine" winedbg --command "bt all" "0x$winpid" </dev/null 2>&1
        done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid"
    exit 1
fi
wait "$pid"
status=$?
# tail passes on what is left in the file, then ends.
wait "$tail"
exit "$status"
