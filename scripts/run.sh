#!/usr/bin/env bash
# Installs the Debian packages that building and running the updater need and
# are missing (scripts/setup.sh, with no argument: not those of the tests),
# builds the updater into build/ and starts it on the simulated device, in a
# window of the desktop it is started from.
#
#   scripts/run.sh [QT-OPTION...]
#
# QT-OPTION: every argument goes to Qt, as to any Qt program (-style Fusion,
# -reverse); the updater itself reads none.
#
# The simulated unit is a file, build/device.json, or the file named by
# QD740N_SIM_DEVICE (relative to the folder the command is typed in). Where
# it does not exist, it is written as a unit plugged in with firmware 4.4.6
# (serial 740001), which the updater brings to 4.5.6; what a run writes to
# the unit stays there for the next run. Deleting the file starts again from
# 4.4.6.
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

# field NAME: the device file's field as written there (4, null, true); the
# simulator writes one field a line.
field()
{
    sed -n -E "s/^[[:space:]]*\"$1\":[[:space:]]*([^,]*),?[[:space:]]*\$/\\1/p" "$device" | head -n 1
}
# image NAME: a region's image version, or "erased".
image()
{
    local version
    version=$(field "$1")
    [ "$version" = null ] && version=erased
    echo "${version:-?}"
}
state="plugged in"
[ "$(field attached)" != false ] || state="unplugged"
[ "$(field bootLoader)" != true ] || state+=", waiting in its boot loader"
echo "Simulated QD740N in $device:"
echo "  serial $(field serial), boot image $(image boot), run image $(image run)," \
    "FPGA image $(image fpga); $state."
echo "  To start again from firmware 4.4.6, delete that file before the next run."

cd build/bin
# The simulated device also on a workstation that is a site: the program
# would take the maker's library under /usr/local for its own.
QD740N_SIM_DEVICE=$device QD740N_LOCAL_PREFIX=$PWD/no-site exec ./qd740n-updater "$@"
