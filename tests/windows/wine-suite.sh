#!/usr/bin/env bash
# wine-suite.sh WINE SUITE.EXE [ARGUMENTS...]: runs a cross-built Qt Test
# suite under Wine for CTest, as WINE alone would, and watches its end.
#
# A suite that has printed "Finished testing" has nothing left to do but
# exit. Under Wine, with the CPU kept busy, one suite was once seen to stay
# after that line until CTest's timeout, minutes later, which said nothing of
# where it stood. Here such a suite fails within a minute instead: its threads'
# backtraces are printed (winedbg), then it is killed. Its tests may all have
# passed; a program that does not end is a fault all the same.
set -uo pipefail

wine=$1
suite=$2
readonly EXIT_GRACE=60

log=$(mktemp)
trap 'rm -f "$log"' EXIT

"$wine" "${@:2}" > >(tee "$log") 2>&1 &
pid=$!
# CTest stops a suite past its timeout by ending this script: Wine goes too.
trap 'kill -KILL "$pid" 2>/dev/null; exit 1' TERM INT

finished=
while kill -0 "$pid" 2>/dev/null; do
    if [ -z "$finished" ] && grep -q '^\*\*\*\*\*\*\*\*\* Finished testing of ' "$log"; then
        finished=$SECONDS
    fi
    if [ -n "$finished" ] && [ $((SECONDS - finished)) -ge "$EXIT_GRACE" ]; then
        name=$(basename "$suite")
        echo "wine-suite: $name printed \"Finished testing\" ${EXIT_GRACE} s ago and has not ended." \
            "The threads of each $name running:"
        timeout 60 "$wine" winedbg --command "info process" 2>/dev/null \
            | awk -v exe="'$name'" '$NF == exe { gsub("=", "", $1); print $1 }' \
            | while read -r winpid; do
                timeout 120 "$wine" winedbg --command "bt all" "0x$winpid" 2>&1
            done
        kill -KILL "$pid" 2>/dev/null
        wait "$pid"
        exit 1
    fi
    sleep 0.5
done
wait "$pid"
status=$?
# The output reaches CTest whole before the suite's status does.
wait
exit "$status"
