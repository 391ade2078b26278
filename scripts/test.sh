#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; then builds the tests
# again with AddressSanitizer and UndefinedBehaviorSanitizer in a folder of
# their own and runs the in-process ones there; then, where the Qt for MinGW
# archive is at hand, runs the Windows check (scripts/windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh test
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
# Two at a time, as the machine has two cores: every test has its own
# display, buses, folders and, where it starts the program, network.
ctest --test-dir build --output-on-failure -j 2

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
