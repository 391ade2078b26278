#!/usr/bin/env bash
# Code-quality gates: every C++ source file formatted as .clang-format says,
# and clang-tidy clean on the program's and the simulator's own code.
# Needs a configured build folder for the compile commands (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

echo "clang-format: checking $(git ls-files '*.cpp' '*.h' | wc -l) files"
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror

# The platform files for Linux, and those every platform shares.
sources=$(git ls-files 'app/*.cpp' 'console/*.cpp' 'device/*.cpp' 'platform/*.cpp' 'workers/*.cpp' 'target_firmware/*.cpp' 'simulator/*.cpp' | grep -v -E '^platform/.*_(windows|none)\.cpp$')
echo "clang-tidy: checking $(echo "$sources" | wc -w) files"
# Run two at a time: the machine has two cores.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! echo "$sources" | xargs -P 2 -n 4 clang-tidy -p "$build" --quiet >"$log" 2>&1; then
    grep -v -E '^[0-9]+ warnings? generated|^Suppressed [0-9]+ warnings|^Use -header-filter' "$log"
    echo "lint: clang-tidy found problems"
    exit 1
fi
echo "lint: clean"
