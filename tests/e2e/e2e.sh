#!/usr/bin/env bash
# End-to-end roads through qd740n-updater in a real X window (Xvfb): the
# operator's clicks and key presses go to the real program, and the outcome
# is read from what the simulated device recorded, its file and its trace.
#
# Usage: e2e.sh ROAD BIN_DIR CLOSE_HELPER SCREENSHOT_DIR
#   ROAD            update | downgrade-yes | downgrade-no | unplug-restore |
#                   bootstrap-restore | no-device
#   BIN_DIR         folder holding qd740n-updater, libqd_api.so and firmware/
#   CLOSE_HELPER    the qd740n-e2e-closewindow program
#   SCREENSHOT_DIR  where ROAD-STAGE.png screenshots go
set -uo pipefail

if [ $# -ne 4 ]; then
    echo "usage: $0 ROAD BIN_DIR CLOSE_HELPER SCREENSHOT_DIR" >&2
    exit 2
fi
ROAD=$1
BIN_DIR=$2
CLOSE_HELPER=$3
SHOT_DIR=$4

# shellcheck source=e2e_lib.sh
source "$(dirname "$0")/e2e_lib.sh"
trap cleanup EXIT
trap 'fail "interrupted"' INT TERM

# Fast enough for seconds per road, slow enough for the longer flows to
# show their busy dialog for a moment.
readonly TIME_SCALE=0.005

readonly BOOT_WRITES='^qdBoot(Clear|Write)BootSector\('
readonly FPGA_WRITES='^qdBoot(Clear|Write)FPGAProgram\('
readonly ANY_WRITE='^qdBoot(Clear|Write)'

# expect_trace_match REGEX WHAT: some line matches the extended REGEX.
expect_trace_match()
{
    grep -qE -- "$1" "$WORK/trace.txt" 2>/dev/null || fail "trace lacks $2 (/$1/)"
}

expect_firmware()
{
    expect_field attached true
    expect_field boot 4
    expect_field run 5
    expect_field fpga 6
    expect_field serial "$1"
}

expect_device_unchanged()
{
    cmp -s "$WORK/device.json" "$WORK/device.before" \
        || fail "the device file changed: $(diff "$WORK/device.before" "$WORK/device.json")"
}

# A running device that differs only in its run component: Update rewrites
# the run sector and leaves the boot sector and the FPGA alone.
road_update()
{
    write_device "    \"attached\": true,
    \"serial\": 740101,
    \"boot\": 4,
    \"run\": 4,
    \"fpga\": 6,
    \"timeScale\": $TIME_SCALE"
    start_app start
    local before
    before=$(trace_lines)
    click check
    wait_flow check "$before"
    shot checked
    expect_trace_match '^qdGetDeviceInfo\([0-9]+\) -> 0$' "the serial read from the running device"

    before=$(trace_lines)
    click update
    wait_flow update "$before"
    shot updated

    # The console is locked after an update: no button starts anything.
    before=$(trace_lines)
    click update
    click restore
    click check
    close_app
    expect_no_trace . "a button of the locked console started a flow" "$before"

    expect_firmware 740101
    expect_trace_line 'qdBootOpenDeviceBySerial(740101) -> 0'
    expect_trace_match '^qdBootClearRunSector\([0-9]+\) -> 0$' "the run sector cleared"
    expect_trace_match '^qdBootWriteRunSector\([0-9]+, "\./firmware/qd740n_run_5\.img", -1\) -> 0$' \
        "the run sector written from the run image with -1"
    expect_no_trace "$BOOT_WRITES" "the boot sector, already current, was rewritten"
    expect_no_trace "$FPGA_WRITES" "the FPGA, already current, was rewritten"
}

# A newer device whose downgrade the operator confirms.
road_downgrade_yes()
{
    write_device "    \"attached\": true,
    \"serial\": 740102,
    \"boot\": 4,
    \"run\": 6,
    \"fpga\": 6,
    \"timeScale\": $TIME_SCALE"
    start_app start
    click check
    answer_box y warning
    shot confirmed
    expect_no_trace "$ANY_WRITE" "something was written before Update was pressed"

    local before
    before=$(trace_lines)
    click update
    wait_flow update "$before"
    shot updated
    close_app

    expect_firmware 740102
    expect_trace_match '^qdBootWriteRunSector\([0-9]+, "\./firmware/qd740n_run_5\.img", -1\) -> 0$' \
        "the run sector written back to the target run image"
    expect_no_trace "$BOOT_WRITES" "the boot sector, already current, was rewritten"
    expect_no_trace "$FPGA_WRITES" "the FPGA, already current, was rewritten"
}

# A newer device whose downgrade the operator declines: nothing may be
# written, and Update stays disabled.
road_downgrade_no()
{
    write_device "    \"attached\": true,
    \"serial\": 740103,
    \"boot\": 4,
    \"run\": 6,
    \"fpga\": 6,
    \"timeScale\": $TIME_SCALE"
    cp "$WORK/device.json" "$WORK/device.before"
    start_app start
    click check
    answer_box n warning
    shot cancelled

    local before
    before=$(trace_lines)
    click update
    click restore
    close_app
    expect_no_trace . "a button pressed after the cancelled downgrade started a flow" "$before"

    expect_trace_match '^qdGetDeviceInfo\([0-9]+\) -> 0$' "the serial read from the running device"
    expect_no_trace "$ANY_WRITE" "the cancelled downgrade cleared or wrote the device"
    expect_device_unchanged
}

# The device is pulled out in the middle of the FPGA write and plugged back
# in; a second run of the program finds it in its boot loader and restores
# it with its own serial number.
road_unplug_restore()
{
    write_device "    \"attached\": true,
    \"serial\": 740104,
    \"boot\": 4,
    \"run\": 4,
    \"fpga\": 5,
    \"timeScale\": $TIME_SCALE,
    \"unplugDuring\": \"qdBootWriteFPGAProgram\""
    start_app start
    local before
    before=$(trace_lines)
    click check
    wait_flow check "$before"
    shot checked
    before=$(trace_lines)
    click update
    wait_flow update "$before"
    shot unplugged
    close_app

    expect_trace_match '^qdBootWriteFPGAProgram\([0-9]+, "\./firmware/qd740n_fpga_6\.rbf"\) -> (-|[1-9])' \
        "a failed FPGA write"
    expect_field attached false
    expect_field fpga null
    expect_field run 5
    expect_field serial 740104

    log "replug the device"
    set_field attached true

    start_app replugged
    before=$(trace_lines)
    click check
    wait_flow recheck "$before"
    shot rechecked
    expect_trace_match '^qdBootGetDeviceSerial\([0-9]+\) -> 0$' "the serial read through the boot loader"

    # Update is disabled for a device in its boot loader; only Restore runs.
    before=$(trace_lines)
    click update
    click restore
    wait_flow restore "$before"
    shot restored
    close_app
    expect_no_trace '^qdBootOpenDeviceBySerial' "the disabled Update started an update" "$before"

    expect_firmware 740104
    expect_trace_match '^qdBootWriteBootSector\([0-9]+, "\./firmware/qd740n_boot_4\.img", 740104\) -> 0$' \
        "the boot sector written with the device's serial"
    expect_trace_match '^qdBootWriteRunSector\([0-9]+, "\./firmware/qd740n_run_5\.img", 740104\) -> 0$' \
        "the run sector written with the device's serial"
    expect_trace_match '^qdBootWriteFPGAProgram\([0-9]+, "\./firmware/qd740n_fpga_6\.rbf"\) -> 0$' \
        "the FPGA written"
}

# A device whose boot region is erased comes up only by bootstrapping it
# from the boot image; Restore then rewrites everything, serial kept.
road_bootstrap_restore()
{
    write_device "    \"attached\": true,
    \"serial\": 740105,
    \"boot\": null,
    \"run\": 4,
    \"fpga\": 6,
    \"timeScale\": $TIME_SCALE"
    start_app start
    local before
    before=$(trace_lines)
    click check
    wait_flow check "$before"
    shot checked
    expect_trace_line 'qdOpenBootstrapDevice("./firmware/qd740n_boot_4.img") -> 0'
    expect_trace_match '^qdBootGetSerialFromFlash\([0-9]+\) -> 0$' "the serial read from flash"

    before=$(trace_lines)
    click update
    click restore
    wait_flow restore "$before"
    shot restored
    close_app
    expect_no_trace '^qdBootOpenDeviceBySerial' "the disabled Update started an update" "$before"

    expect_firmware 740105
    expect_trace_match '^qdBootWriteBootSector\([0-9]+, "\./firmware/qd740n_boot_4\.img", 740105\) -> 0$' \
        "the boot sector written with the device's serial"
    expect_trace_match '^qdBootWriteFPGAProgram\([0-9]+, "\./firmware/qd740n_fpga_6\.rbf"\) -> 0$' \
        "the FPGA written"
}

# Nothing plugged in: the check finds nothing, and no button does anything
# afterwards.
road_no_device()
{
    write_device "    \"attached\": false,
    \"serial\": 740106,
    \"boot\": 4,
    \"run\": 4,
    \"fpga\": 6,
    \"timeScale\": $TIME_SCALE"
    cp "$WORK/device.json" "$WORK/device.before"
    start_app start
    local before
    before=$(trace_lines)
    click check
    wait_flow check "$before"
    shot checked
    expect_trace_match '^qdOpenBootstrapDevice\(.*\) -> (-|[1-9])' "the failed bootstrap, last way of finding the device"

    before=$(trace_lines)
    click update
    click restore
    click check
    close_app
    expect_no_trace . "a button pressed after a failed detection started a flow" "$before"
    expect_no_trace "$ANY_WRITE" "something was cleared or written"
    expect_device_unchanged
}

require_tools
mkdir -p "$SHOT_DIR" || fail "cannot make $SHOT_DIR"
rm -f "$SHOT_DIR/$ROAD"-*.png # no stage of an earlier run may pass for this one's
start_display
prepare_app
case $ROAD in
update) road_update ;;
downgrade-yes) road_downgrade_yes ;;
downgrade-no) road_downgrade_no ;;
unplug-restore) road_unplug_restore ;;
bootstrap-restore) road_bootstrap_restore ;;
no-device) road_no_device ;;
*) fail "unknown road $ROAD" ;;
esac
log "passed"
