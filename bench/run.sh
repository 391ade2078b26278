#!/usr/bin/env bash
# Builds the benchmarks, runs the performance report once and writes it, with
# the machine it ran on, to bench/results.md. Start-up is measured on the
# platform given by QT_QPA_PLATFORM (default: a real X window under Xvfb when
# xvfb-run is there, else offscreen).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target qd740n-bench qd740n-soak

run() {
    if [ -z "${QT_QPA_PLATFORM:-}" ] && command -v xvfb-run >/dev/null; then
        QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
    else
        QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$@"
    fi
}

table=$(run build/bench/qd740n-bench --markdown 2>/dev/null) || status=$?
soak=$(QT_QPA_PLATFORM=offscreen build/bench/qd740n-soak 2>/dev/null) || status=$?
platform=${QT_QPA_PLATFORM:-$(command -v xvfb-run >/dev/null && echo "xcb under Xvfb" || echo offscreen)}

{
    echo "# Performance report"
    echo
    echo "Run on $(date -u '+%Y-%m-%d %H:%M UTC') by bench/run.sh (build type RelWithDebInfo, platform $platform)."
    echo
    echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(nproc) cores, $(free -g | awk '/Mem:/ {print $2}') GiB memory, $(. /etc/os-release && echo "$PRETTY_NAME"), Qt $(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null | cut -d+ -f1)."
    echo
    echo "$table"
    echo
    echo '```'
    echo "$soak"
    echo '```'
} >bench/results.md
cat bench/results.md
exit "${status:-0}"
