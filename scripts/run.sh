#!/usr/bin/env bash
# Installs what is missing, builds, and starts the updater on the simulated
# device. The device lives in build/device.json, so what one run writes to it
# is still there at the next run.
set -euo pipefail
# A device file named relative to where the command was typed, made absolute
# before anything moves: the program opens it from build/bin.
device=$(realpath -m -- "${QD740N_SIM_DEVICE:-$(dirname "$0")/../build/device.json}")
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Only what the program needs to start: itself, the device library and the
# firmware images; the tests are built by scripts/test.sh.
cmake --build build --target qd740n-updater

if [ ! -e "$device" ]; then
    cat >"$device" <<'JSON'
{
    "attached": true,
    "serial": 740001,
    "boot": 4,
    "run": 4,
    "fpga": 6,
    "timeScale": 0.02
}
JSON
fi
echo "Simulated device: $device"
cd build/bin
# The simulated device also on a workstation that is a site: the program
# would take the maker's library under /usr/local for its own.
QD740N_SIM_DEVICE=$device QD740N_LOCAL_PREFIX=$PWD/no-site exec ./qd740n-updater "$@"
