#!/usr/bin/env bash
# Installs what is missing for the tests (scripts/setup.sh test), builds
# everything into build/ and runs every test there; builds the program with
# the platform files that do nothing into build-none/ and runs the suite that
# holds for every platform there; builds the tests again with
# AddressSanitizer and UndefinedBehaviorSanitizer into build-sanitize/ and
# runs the in-process ones there; then, where the Qt for MinGW archive is at
# hand, runs the Windows check (scripts/windows.sh).
#
# A road that this machine cannot run (a desktop road where no mount
# namespace is given) is reported by CTest as skipped, with the reason in its
# output; with CI=true it fails instead.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh test
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
# Two at a time, as the machine has two cores: every test has its own
# folders, its own display and buses where it needs them and, where it starts
# the program, its own network; the desktop roads, each most of a core, and
# the two package tests that install into the build tree take a lock and run
# one at a time.
status=0
ctest --test-dir build --output-on-failure -j 2 || status=$?
# CTest keeps a skipped test's reason in its log alone.
awk '/^[0-9]+\/[0-9]+ Test: / { test = $3 } /^SKIPPED: / { print test ": " $0 }' \
    build/Testing/Temporary/LastTest.log
[ "$status" -eq 0 ] || exit "$status"

# The program with the platform files that do nothing, as a platform without
# files of its own gets it: they must keep building, and the suite that holds
# for every platform must pass with them. Only those two are built.
cmake -S . -B build-none -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQD740N_PLATFORM=none \
    -DBUILD_TESTING=ON >/dev/null
cmake --build build-none --target qd740n-updater tst_busydialog
ctest --test-dir build-none --output-on-failure -R '^tst_busydialog$'

# The real-window and package tests start the same program code that the
# in-process tests drive; under the sanitizers they would mostly test X11.
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQD740N_SANITIZE=ON >/dev/null
cmake --build build-sanitize
ctest --test-dir build-sanitize --output-on-failure -j 2 --label-exclude 'e2e|package'

# The Windows check, where the Qt for MinGW archive is at hand.
if archive=$(scripts/windows.sh --archive 2>/dev/null); then
    echo "Windows check with $archive"
    scripts/windows.sh
else
    echo "SKIPPED the Windows check: $(scripts/windows.sh --archive 2>&1)"
fi
