#!/usr/bin/env bash
# End-to-end roads through qd740n-updater in a real X window (on Xvfb, or on
# a headless GNOME or KWin), as an operator with a screen reader goes them: the program's windows, buttons,
# boxes and log are found in its accessibility tree, buttons are pressed
# through it or clicked with the mouse, and the outcome is read from the log
# and from what the simulated device recorded, its file and its trace.
#
# Usage: e2e.sh ROAD [BIN_DIR CLOSE_HELPER SCREENSHOT_DIR]
#   ROAD            update | downgrade-yes | downgrade-no | unplug-restore |
#                   bootstrap-restore | no-device | empty-firmware |
#                   swapped-unit | second-copy | held-restore |
#                   signals-during-write | signal-during-question | nohup |
#                   idle-sigterm | close-during-write | small-screen |
#                   small-screen-scaled | screenshots
#                   and, on a real desktop (gnome- or kwin- before the name):
#                   update | small-screen | small-screen-scaled | closes,
#                   and kwin-closes-wayland
#                   E2E_PLATFORM names the program's Qt platform there
#                   (wayland, say); unset, the program chooses as it does
#                   for an operator
#   BIN_DIR         folder holding qd740n-updater, libqd_api.so and firmware/
#   CLOSE_HELPER    the qd740n-e2e-closewindow program
#   SCREENSHOT_DIR  where ROAD-STAGE.png screenshots go
# Given the road alone, the other three are those of the build tree build/
# beside the sources (bin/, tests/qd740n-e2e-closewindow, e2e-screenshots/),
# and the road runs as CTest runs it, as a workstation of its own
# (tests/support/own-network.sh). Given all four, it runs where it is started.
set -uo pipefail

if [ $# -eq 1 ]; then
    build=$(cd "$(dirname "$0")/../.." && pwd)/build
    own_network=("$(dirname "$0")/../support/own-network.sh")
    [[ $1 != gnome-* && $1 != kwin-* ]] || own_network+=(--mount)
    exec "${own_network[@]}" bash "$0" "$1" "$build/bin" "$build/tests/qd740n-e2e-closewindow" \
        "$build/e2e-screenshots"
fi
if [ $# -ne 4 ]; then
    echo "usage: $0 ROAD [BIN_DIR CLOSE_HELPER SCREENSHOT_DIR]" >&2
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
readonly CLEAN_UP='qdBootCloseDevice(N) -> 0'$'\n''library unloaded'

road_update()
{
    device 740101 4 4 6
    # Every button of this road is clicked with the mouse, at the place the
    # accessibility tree gives.
    start_app start
    local before
    flow check 'Check Versions' click
    shot checked
    expect_trace_match '^qdGetDeviceInfo\([0-9]+\) -> 0$' "the serial read from the running device"
    expect_line 'Found Serial 740101, with firmware 4.4.6'
    expect_line 'Firmware requires update.'
    expect_console 'check=off update=on restore=off log=on'

    flow update Update click
    shot updated
    expect_line "$SUCCESS" "$GREEN"
    expect_line 'You may now close the software.'

    # The console is locked after an update: no button starts anything.
    expect_locked
    before=$(trace_lines)
    click Update
    click Restore
    click 'Check Versions'
    close_app
    # Nothing after the clicks but the library's own clean-up as the program
    # ends: the update's boot-loader handle closed.
    [ "$(trace_after "$before" | sed -E 's/\([0-9]+\)/(N)/')" = "$CLEAN_UP" ] \
        || fail "a button of the locked console started a flow, or the library's clean-up at" \
            "exit did not run; the trace after the clicks: $(trace_after "$before")"

    expect_firmware 740101
    expect_trace_line 'qdBootOpenDeviceBySerial(740101) -> 0'
    expect_trace_match '^qdBootClearRunSector\([0-9]+\) -> 0$' "the run sector cleared"
    expect_trace_match '^qdBootWriteRunSector\([0-9]+, "/[^"]*/firmware/qd740n_run_5\.img", -1\) -> 0$' \
        "the run sector written from the run image with -1"
    expect_no_trace "$BOOT_WRITES" "the boot sector, already current, was rewritten"
    expect_no_trace "$FPGA_WRITES" "the FPGA, already current, was rewritten"
}

# A newer device whose downgrade the operator confirms.
road_downgrade_yes()
{
    device 740102 4 6 6
    start_app start
    press 'Check Versions'
    answer_box Yes warning
    shot confirmed
    expect_no_trace "$ANY_WRITE" "something was written before Update was pressed"
    expect_line 'Firmware can now be updated.'

    flow update Update
    shot updated
    expect_line "$SUCCESS" "$GREEN"
    close_app

    expect_firmware 740102
    expect_trace_match '^qdBootWriteRunSector\([0-9]+, "/[^"]*/firmware/qd740n_run_5\.img", -1\) -> 0$' \
        "the run sector written back to the target run image"
    expect_no_trace "$BOOT_WRITES" "the boot sector, already current, was rewritten"
    expect_no_trace "$FPGA_WRITES" "the FPGA, already current, was rewritten"
}

# A newer device whose downgrade the operator declines: nothing may be
# written, and Update stays disabled.
road_downgrade_no()
{
    device 740103 4 6 6
    cp "$WORK/device.json" "$WORK/device.before"
    start_app start
    press 'Check Versions'
    answer_box No warning
    shot cancelled
    expect_line 'Cancelling operation.'
    expect_console 'check=off update=off restore=off log=on'

    local before
    before=$(trace_lines)
    click Update
    click Restore
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
    device 740104 4 4 5 unplugDuring '"qdBootWriteFPGAProgram"'
    start_app start
    local before
    flow check 'Check Versions'
    shot checked
    flow update Update
    shot unplugged
    expect_line 'Failed Writing'
    expect_line "$FAILURE" "$RED"
    close_app

    expect_trace_match '^qdBootWriteFPGAProgram\([0-9]+, "/[^"]*/firmware/qd740n_fpga_6\.rbf"\) -> (-|[1-9])' \
        "a failed FPGA write"
    expect_field attached false
    expect_field fpga null
    expect_field run 5
    expect_field serial 740104

    log "replug the device"
    set_field attached true

    start_app replugged
    flow recheck 'Check Versions'
    shot rechecked
    expect_trace_match '^qdBootGetDeviceSerial\([0-9]+\) -> 0$' "the serial read through the boot loader"
    expect_line 'Found serial 740104'

    # Update is disabled for a device in its boot loader; only Restore runs.
    expect_console 'check=off update=off restore=on log=on'
    before=$(trace_lines)
    click Update
    press Restore
    wait_flow restore "$before"
    shot restored
    expect_line "$SUCCESS" "$GREEN"
    close_app
    expect_no_trace '^qdBootOpenDeviceBySerial' "the disabled Update started an update" "$before"

    expect_firmware 740104
    expect_trace_match '^qdBootWriteBootSector\([0-9]+, "/[^"]*/firmware/qd740n_boot_4\.img", 740104\) -> 0$' \
        "the boot sector written with the device's serial"
    expect_trace_match '^qdBootWriteRunSector\([0-9]+, "/[^"]*/firmware/qd740n_run_5\.img", 740104\) -> 0$' \
        "the run sector written with the device's serial"
    expect_trace_match '^qdBootWriteFPGAProgram\([0-9]+, "/[^"]*/firmware/qd740n_fpga_6\.rbf"\) -> 0$' \
        "the FPGA written"
}

# A device whose boot region is erased comes up only by bootstrapping it
# from the boot image; Restore then rewrites everything, serial kept.
road_bootstrap_restore()
{
    device 740105 null 4 6
    start_app start
    local before
    flow check 'Check Versions'
    shot checked
    expect_trace_match '^qdOpenBootstrapDevice\("/[^"]*/firmware/qd740n_boot_4\.img"\) -> 0$' \
        "the bootstrap run from a copy of the boot image"
    expect_trace_match '^qdBootGetSerialFromFlash\([0-9]+\) -> 0$' "the serial read from flash"
    expect_line 'Found serial 740105'
    expect_console 'check=off update=off restore=on log=on'

    before=$(trace_lines)
    click Update
    press Restore
    wait_flow restore "$before"
    shot restored
    expect_line "$SUCCESS" "$GREEN"
    close_app
    expect_no_trace '^qdBootOpenDeviceBySerial' "the disabled Update started an update" "$before"

    expect_firmware 740105
    expect_trace_match '^qdBootWriteBootSector\([0-9]+, "/[^"]*/firmware/qd740n_boot_4\.img", 740105\) -> 0$' \
        "the boot sector written with the device's serial"
    expect_trace_match '^qdBootWriteFPGAProgram\([0-9]+, "/[^"]*/firmware/qd740n_fpga_6\.rbf"\) -> 0$' \
        "the FPGA written"
}

# Nothing plugged in: the check finds nothing, and no button does anything
# afterwards.
road_no_device()
{
    device 740106 4 4 6 attached false
    cp "$WORK/device.json" "$WORK/device.before"
    start_app start
    local before
    flow check 'Check Versions'
    shot checked
    expect_trace_match '^qdOpenBootstrapDevice\(.*\) -> (-|[1-9])' "the failed bootstrap, last way of finding the device"
    expect_line 'Failed to detect device.'
    expect_console 'check=off update=off restore=off log=on'

    before=$(trace_lines)
    click Update
    click Restore
    click 'Check Versions'
    close_app
    expect_no_trace . "a button pressed after a failed detection started a flow" "$before"
    expect_no_trace "$ANY_WRITE" "something was cleared or written"
    expect_device_unchanged
}

# Started from a folder whose firmware/ is empty, Update on a running device
# and Restore on a device in its boot loader both stop before they open the
# device, naming the image by its full path: nothing is cleared or written.
road_empty_firmware()
{
    rm -f "$WORK/app/firmware/"* || fail "cannot empty firmware/"
    local firmware
    firmware=$(cd "$WORK/app/firmware" && pwd -P) || fail "no firmware/ in $WORK/app"
    device 740107 4 4 6
    cp "$WORK/device.json" "$WORK/device.before"
    start_app update-start
    local before
    flow check 'Check Versions'
    before=$(trace_lines)
    press Update
    # No library call to wait for: the verdict ends the flow.
    wait_line "$FAILURE" "$RED"
    expect_line "Cannot read firmware image $firmware/qd740n_run_5.img."
    expect_locked
    shot update-refused
    close_app
    expect_no_trace . "the update called the device library without its images" "$before"
    expect_device_unchanged

    device 740107 4 null 6
    cp "$WORK/device.json" "$WORK/device.before"
    start_app restore-start
    flow check 'Check Versions'
    before=$(trace_lines)
    press Restore
    wait_line "$FAILURE" "$RED"
    expect_line "Cannot read firmware image $firmware/qd740n_boot_4.img."
    expect_locked
    shot restore-refused
    close_app
    expect_no_trace . "the restore called the device library without its images" "$before"
    expect_device_unchanged
}

# The unit is swapped for another between Check and Restore (its serial
# edited in the device file): the restore reads the serial of the device it
# opened and stops, so the other unit keeps its own.
road_swapped_unit()
{
    device 740108 4 null 6
    start_app start
    local before
    flow check 'Check Versions'
    shot checked
    log "swap in another unit"
    set_field serial 740999
    before=$(trace_lines)
    flow restore Restore
    shot refused
    expect_line 'Found serial 740999, expected 740108.'
    expect_line "$FAILURE" "$RED"
    close_app
    expect_field serial 740999
    expect_field run null
    expect_trace_match '^qdBootGetDeviceSerial\([0-9]+\) -> 0$' "the opened device's serial read"
    expect_no_trace "$ANY_WRITE" "the swapped-in unit was cleared or written" "$before"
}

# refused_copy NAME OK|SIGTERM FOLDER [USER]: starts another copy beside the
# running one, from the working folder FOLDER, as the other user
# (start_other_user) when USER is "other". It shows its warning, makes no
# library call, and ends with status 1 once the box is answered, or on
# SIGTERM while the box is up.
refused_copy()
{
    local name=$1 how=$2 folder=$3 trace pid
    trace=$WORK/trace-$name.txt
    [ "${4:-}" = other ] && trace=$OTHER_HOME/trace-$name.txt
    if [ "${4:-}" = other ]; then
        LAUNCH_WITH=$OTHER_USER launch "$name" "$trace" "$folder"
    else
        launch "$name" "$trace" "$folder"
    fi
    wait_until "$START_TIMEOUT" "the $name copy's process id" file_written "$WORK/run$name.pid"
    pid=$(cat "$WORK/run$name.pid")
    # Its box is read as its own user reads it, on that user's bus.
    [ "${4:-}" = other ] && A11Y_AS=$OTHER_A11Y
    expect_box_of "$pid" $'Another QD740N firmware updater is already running.\nClose it before starting a new one.'
    if [ "${4:-}" = other ] && [ "$(stat -c %U "/proc/$pid")" != nobody ]; then
        fail "the $name copy runs as $(stat -c %U "/proc/$pid"), not as nobody"
    fi
    shot "$name-warning"
    if [ "$how" = OK ]; then
        log "answer the $name copy's Warning box with OK"
        ask_of "$pid" answer OK
    else
        log "send SIGTERM to the $name copy while its box is up"
        kill -TERM "$pid" || fail "could not send SIGTERM to the $name copy"
    fi
    A11Y_AS=$ROAD_A11Y
    wait_until "$EXIT_TIMEOUT" "the $name copy to end after $how" file_written "$WORK/run$name.exit"
    # Answered, it ends with status 1; SIGTERM ends it as it ends any program.
    local expected=1
    [ "$how" = OK ] || expected=143
    [ "$(cat "$WORK/run$name.exit")" = "$expected" ] \
        || fail "the $name copy ended with status $(cat "$WORK/run$name.exit"), expected $expected"
    [ ! -s "$trace" ] || fail "the $name copy called the device library: $(cat "$trace")"
}

# A second copy started beside the first shows its warning, makes no call of
# the device library and ends, with status 1 when its box is answered, as
# any program does when it is sent SIGTERM, whether it is started from another working folder or
# by another user (where the road runs as root: that user's copy, started
# from the first copy's folder, reads its box through a session bus of its
# own); once the first copy has been killed outright, a new copy opens
# normally.
road_second_copy()
{
    device 740109 4 4 6
    start_app first
    cp -r "$WORK/app" "$WORK/elsewhere" || fail "cannot copy app/ to elsewhere/"
    refused_copy second OK "$WORK/elsewhere"
    if start_other_user; then
        refused_copy third SIGTERM "$WORK/app" other
        end_other_user
    else
        log "not root: the copy of another user is left out; the third copy is this user's"
        refused_copy third SIGTERM "$WORK/app"
    fi
    ask window # the first copy's is still there

    kill_app KILL
    start_app after-kill
    flow check 'Check Versions'
    shot after-kill-checked
    close_app
    expect_trace_match '^qdGetDeviceInfo\([0-9]+\) -> 0$' "the check of the copy started after the kill"
}

# A device held in its boot loader with complete firmware 4.5.6 is offered
# Restore, restored, and found running at the next start.
road_held_restore()
{
    device 740110 4 5 6 bootLoader true
    start_app start
    local before
    flow check 'Check Versions'
    shot checked
    flow restore Restore
    shot restored
    expect_line "$SUCCESS" "$GREEN"
    close_app
    expect_trace_match '^qdBootWriteFPGAProgram\([0-9]+, "/[^"]*/firmware/qd740n_fpga_6\.rbf"\) -> 0$' \
        "the FPGA written"
    expect_firmware 740110
    expect_field bootLoader false

    start_app next-start
    before=$(trace_lines)
    flow recheck 'Check Versions'
    shot rechecked
    expect_line 'Firmware does not require update.'
    close_app
    trace_after "$before" | grep -qE '^qdOpenDevice\(\) -> 0$' \
        || fail "the restored device was not found running at the next start"
}

# fpga_device SERIAL SCALE: a running device whose FPGA is one version
# behind: Update clears it and writes it for six minutes times SCALE, long
# enough for the road to act during the write on a busy machine. (Nothing
# marks the write's end in advance: the road can only start early enough.)
fpga_device() { device "$1" 4 5 5 timeScale "$2"; }

fpga_write_started() { grep -qE '^qdBootClearFPGAProgram\([0-9]+\) -> 0$' "$WORK/trace.txt"; }

# Checks, presses Update and waits until the FPGA write is under way.
update_until_fpga_write()
{
    flow check 'Check Versions'
    press Update
    wait_until "$FLOW_TIMEOUT" "the FPGA write to begin" fpga_write_started
}

# SIGTERM (logout), SIGHUP (terminal closed) and SIGINT (Ctrl+C) during the
# FPGA write: the program says once that it will close when the write has
# finished, finishes it, writes its verdict and then ends by itself. Its
# window is gone by then, so its log is read as it was written.
road_signals_during_write()
{
    fpga_device 740111 0.02
    start_app start
    watch_log
    update_until_fpga_write
    local signal
    local closing='The updater will close when the current step has finished.' said signal
    for signal in TERM HUP INT; do
        log "send SIG$signal during the FPGA write"
        kill "-$signal" "$APP_PID" || fail "could not send SIG$signal"
    done
    # The first signal handled shows as the closing line; each was pending
    # from its kill on, and is handled as soon as the program next runs.
    wait_until "$FLOW_TIMEOUT" "the line '$closing'" grep -qxF "$closing" "$WORK/log-watch.txt"
    app_exited && fail "a signal ended the program during the FPGA write"
    shot held
    grep -qE '^qdBootWriteFPGAProgram\(' "$WORK/trace.txt" \
        && fail "the FPGA write ended before the signals were handled; too quick to tell"
    wait_until "$FLOW_TIMEOUT" "the program to end by itself after the write" app_exited
    local status
    status=$(cat "$WORK/run$APP_RUN.exit")
    [ "$status" = 0 ] || fail "the program ended with status $status"
    APP_PID=""
    expect_trace_match '^qdBootWriteFPGAProgram\([0-9]+, "/[^"]*/firmware/qd740n_fpga_6\.rbf"\) -> 0$' \
        "the FPGA write finished"
    expect_firmware 740111

    end_of_watch
    grep -qxF 'Updating FPGA, estimated 6 minutes.' "$WORK/log-watch.txt" \
        || fail "the log watcher saw nothing of the update: $(cat "$WORK/log-watch.txt" "$WORK/watch.err")"
    said=$(grep -xF -e "$closing" -e "$SUCCESS" "$WORK/log-watch.txt")
    [ "$said" = "$closing"$'\n'"$SUCCESS" ] \
        || fail "expected the log to say '$closing' once, then '$SUCCESS'; it said: $said"
}

# SIGTERM while the downgrade question is up (a logout, say) is held like one
# during a write: the program says once that it will close, waits for the
# answer, then ends by itself with status 0, leaving no window and no
# process behind. Answered Yes, then No (in a new copy, which starts as
# usual); nothing is written either way.
road_signal_during_question()
{
    device 740113 5 5 6
    cp "$WORK/device.json" "$WORK/device.before"
    local answer closing='The updater will close when the current step has finished.' last
    for answer in Yes No; do
        start_app "start-$answer"
        watch_log
        press 'Check Versions'
        ask box
        log "send SIGTERM while the question is up"
        kill -TERM "$APP_PID" || fail "could not send SIGTERM"
        wait_line "$closing"
        app_exited && fail "SIGTERM ended the program while the question was up"
        shot "held-$answer"
        answer_app "$answer"
        [ "$APP_STATUS" = 0 ] || fail "the program ended with status $APP_STATUS"
        end_of_watch
        last=$([ "$answer" = Yes ] && echo 'Press Update to continue.' || echo 'Cancelling operation.')
        [ "$(grep -cxF "$closing" "$WORK/log-watch.txt")" = 1 ] \
            || fail "expected '$closing' once: $(cat "$WORK/log-watch.txt")"
        [ "$(tail -n 1 "$WORK/log-watch.txt")" = "$last" ] \
            || fail "expected the log to end with '$last': $(cat "$WORK/log-watch.txt")"
    done
    start_app after
    close_app
    expect_no_trace "$ANY_WRITE" "the device was cleared or written"
    expect_device_unchanged
}

# Started through nohup, the program leaves SIGHUP ignored: the terminal it
# was started from may close. Its other signals end it as usual.
road_nohup()
{
    device 740114 4 4 6
    LAUNCH_WITH=nohup start_app start
    log "send SIGHUP to the program started through nohup"
    kill -HUP "$APP_PID" || fail "could not send SIGHUP"
    flow check 'Check Versions'
    app_exited && fail "SIGHUP ended the program started through nohup"
    expect_line 'Firmware requires update.'
    kill_app TERM
    [ "$APP_STATUS" = 143 ] || fail "the program ended with status $APP_STATUS after SIGTERM"
}

# With no flow running, SIGTERM ends the program at once, as it ends any
# program: also while it starts, before its window exists, in a library call
# that does not return.
road_idle_sigterm()
{
    device 740112 4 4 6 stall '"qdGetAPIVersion"'
    APP_RUN=1
    launch 1 "$WORK/trace.txt"
    RUNNER_PID=$!
    wait_until 10 "the program's process id" file_written "$WORK/run1.pid"
    APP_PID=$(cat "$WORK/run1.pid")
    wait_until "$START_TIMEOUT" "the version query to stall" \
        grep -qxF 'qdGetAPIVersion() stalls' "$WORK/trace.txt"
    kill_app TERM
    [ "$APP_STATUS" = 143 ] || fail "the starting program ended with status $APP_STATUS after SIGTERM"

    device 740112 4 4 6
    start_app start
    kill_app TERM
    [ "$APP_STATUS" = 143 ] || fail "the program ended with status $APP_STATUS after SIGTERM"
    expect_no_trace '^qd(Open|Boot)' "the device was touched"
}

readonly QUESTION='The QD740N has not answered for N minutes.
Closing the updater now may leave it unusable; it can then be restored.
Close anyway?'

# A device that stops answering in a boot sector clear, with the program's
# test build, whose deadlines' minute lasts a second. At the deadline the
# console says so; a close then asks whether to end the program, and Yes
# ends it at once with status 1; a second copy starts after it, and once its
# call is late too, SIGTERM ends it within seconds; a third copy starts.
road_late_device()
{
    local late='The QD740N has not answered for 2 minutes.' run
    device 740115 3 5 6 stall '"qdBootClearBootSector"'
    for run in 1 2; do
        start_app "start-$run"
        flow check 'Check Versions'
        press Update
        wait_line "$late"
        app_exited && fail "the program ended by itself on a late call"
        shot "late-$run"
        if [ "$run" = 1 ]; then
            request_close
            ask box
            [ "$(sed -E 's/ for [0-9]+ minutes/ for N minutes/' <<<"$REPLY")" = "$QUESTION" ] \
                || fail "the question says '$REPLY'"
            shot question
            answer_app Yes
            [ "$APP_STATUS" = 1 ] || fail "Yes ended the program with status $APP_STATUS"
        else
            kill_app TERM
            [ "$APP_STATUS" = 143 ] || fail "SIGTERM ended the late program with status $APP_STATUS"
        fi
    done
    start_app after
    close_app
    expect_trace_match '^qdBootClearBootSector\([0-9]+\) stalls$' "the stalled clear"
}

readonly REFUSAL="The QD740N is being worked on. Closing the firmware updater now could \
leave it unusable."$'\n''Wait until the current step has finished.'

# finish_refused_write SERIAL: while the FPGA write still runs under the
# box that refused a close, the box is answered; the update ends in success
# with the console locked, the window closes, and the device SERIAL is at
# 4.5.6.
finish_refused_write()
{
    shot refused
    app_exited && fail "the program ended on a refused close"
    grep -qE '^qdBootWriteFPGAProgram\(' "$WORK/trace.txt" \
        && fail "the FPGA write ended before the box was answered; too quick to tell"
    log "answer the Warning box with OK"
    ask answer OK
    wait_line "$SUCCESS" "$GREEN"
    expect_locked
    shot updated
    close_app
    expect_firmware "$1"
}

# Closing the window during the FPGA write is refused with a box that says
# why, shown once however often the window is closed; the write goes on.
road_close_during_write()
{
    fpga_device 740113 0.03
    start_app start
    update_until_fpga_write
    timeout 10 "$CLOSE_HELPER" "$APP_WINDOW" || fail "could not ask the window to close"
    expect_box_of "$APP_PID" "$REFUSAL"
    timeout 10 "$CLOSE_HELPER" "$APP_WINDOW" || fail "could not ask the window to close again"
    # A second box must not come: watched for a second.
    ask box --alone 1
    finish_refused_write 740113
}

# inside_screen 'X Y WIDTH HEIGHT': lies wholly on the screen.
inside_screen()
{
    local x y width height
    read -r x y width height <<<"$1"
    [ "$x" -ge 0 ] && [ "$y" -ge 0 ] && [ $((x + width)) -le "${SCREEN%x*}" ] \
        && [ $((y + height)) -le "${SCREEN#*x}" ]
}

# on_screen WHAT 'X Y WIDTH HEIGHT': fails the road unless it lies wholly on
# the screen.
on_screen()
{
    inside_screen "$2" || fail "$1 ($2: x y width height) is not wholly on the $SCREEN screen"
}

# expect_framed_on_screen: the window, frame included, comes to lie wholly on
# the screen once the window manager has framed it.
expect_framed_on_screen()
{
    local framed deadline=$((SECONDS + 10))
    framed=$(framed_window)
    until inside_screen "$framed"; do
        [ "$SECONDS" -lt "$deadline" ] || on_screen "the window with its frame" "$framed"
        sleep 0.1
        framed=$(framed_window)
    done
    log "the window with its frame is $framed (x y width height) on the $SCREEN screen"
}

# On a 640x480 screen, under openbox, the window with its frame opens no
# larger than the screen, its three buttons wholly on it, and an update goes
# through, clicked with the mouse.
road_small_screen()
{
    device 740114 4 4 6
    start_app start
    expect_framed_on_screen
    local button
    for button in 'Check Versions' Update Restore; do
        ask extents "$button"
        on_screen "the button $button" "$REPLY"
    done
    flow check 'Check Versions' click
    expect_line 'Firmware requires update.'
    flow update Update click
    shot updated
    expect_line "$SUCCESS" "$GREEN"
    expect_locked
    close_app
    expect_firmware 740114
}

# A 1366x768 laptop screen at a scale factor of 2, under openbox: the window
# with its frame lies wholly on the screen, and an update goes through.
road_small_screen_scaled()
{
    device 740115 4 4 6
    start_app start
    expect_framed_on_screen
    flow check 'Check Versions'
    flow update Update
    shot updated
    expect_line "$SUCCESS" "$GREEN"
    expect_locked
    close_app
    expect_firmware 740115
}

# window_shot STAGE: a screenshot of the main window with its frame, and of
# whatever box lies over it.
window_shot()
{
    local x y width height file="$SHOT_DIR/$ROAD-$1.png"
    read -r x y width height <<<"$(framed_window)"
    timeout 30 import -window root -crop "${width}x${height}+$x+$y" +repage "$file" \
        2>>"$WORK/import.log" || fail "screenshot $file failed"
    log "screenshot $file"
}

fpga_write_running() { ! grep -qE '^qdBootWriteFPGAProgram\(' "$WORK/trace.txt"; }

# The operator's guide's pictures (scripts/screenshots.sh copies them into
# docs/images/), under openbox, each stage checked before it is taken: a unit
# checked, its FPGA write under the busy dialog, a close refused during it,
# the success verdict; a newer unit's downgrade question, and an update that
# fails as the unit is pulled out.
road_screenshots()
{
    fpga_device 740120 0.08
    start_app start
    flow check 'Check Versions'
    expect_line 'Firmware requires update.'
    window_shot checked
    # Where the guide's picture of the window points: each button, as
    # "NAME X Y WIDTH HEIGHT" in the picture.
    local frame_x frame_y button x y width height
    read -r frame_x frame_y _ <<<"$(framed_window)"
    for button in 'Check Versions' Update Restore; do
        ask extents "$button"
        read -r x y width height <<<"$REPLY"
        echo "$button $((x - frame_x)) $((y - frame_y)) $width $height"
    done >"$SHOT_DIR/$ROAD-checked.places"
    press Update
    wait_until "$FLOW_TIMEOUT" "the FPGA write to begin" fpga_write_started
    window_shot busy
    request_close
    expect_box_of "$APP_PID" "$REFUSAL"
    window_shot refused-close
    fpga_write_running || fail "the FPGA write ended before the refused close was taken"
    ask answer OK
    wait_line "$SUCCESS" "$GREEN"
    window_shot success
    close_app

    device 740121 4 6 6 unplugDuring '"qdBootWriteRunSector"'
    start_app newer
    press 'Check Versions'
    ask box
    window_shot question
    ask answer Yes
    ask wait-flow
    flow update Update
    expect_line 'Failed Writing'
    expect_line "$FAILURE" "$RED"
    window_shot failure
    close_app
}

# ---- on a real desktop: DESKTOP, desktop.sh ----

# frame_of TITLE: the program's window TITLE with its frame, "X Y WIDTH
# HEIGHT", as the desktop has it.
window_on_desktop() { desktop_window "$APP_PID" "$1" >/dev/null; }
frame_of() { desktop_window "$APP_PID" "$1" | cut -d '|' -f 3; }

# expect_over_main_window TITLE: the window's middle lies on the main window.
expect_over_main_window()
{
    local x y width height box_x box_y box_width box_height middle_x middle_y
    wait_until 10 "the window '$1' on $DESKTOP" window_on_desktop "$1"
    read -r x y width height <<<"$(frame_of "$MAIN_TITLE")"
    read -r box_x box_y box_width box_height <<<"$(frame_of "$1")"
    middle_x=$((box_x + box_width / 2)) middle_y=$((box_y + box_height / 2))
    [ "$middle_x" -ge "$x" ] && [ "$middle_x" -lt $((x + width)) ] && [ "$middle_y" -ge "$y" ] \
        && [ "$middle_y" -lt $((y + height)) ] \
        || fail "the window '$1' ($box_x $box_y $box_width $box_height) is not over the main" \
            "window ($x $y $width $height)"
    log "the window '$1' is over the main window"
}

# in_work_area TITLE: the window with its frame lies in the area the
# desktop's panels leave.
in_work_area()
{
    local x y width height area_x area_y area_width area_height
    read -r x y width height <<<"$(frame_of "$1")"
    read -r area_x area_y area_width area_height <<<"$(desktop_work_area)"
    FRAMED="$x $y $width $height in the work area $area_x $area_y $area_width $area_height"
    [ -n "$area_width" ] && [ "$x" -ge "$area_x" ] && [ "$y" -ge "$area_y" ] \
        && [ $((x + width)) -le $((area_x + area_width)) ] \
        && [ $((y + height)) -le $((area_y + area_height)) ]
}

expect_in_work_area()
{
    wait_until 10 "the window '$1' with its frame to lie in $DESKTOP's work area" in_work_area "$1"
    log "the window '$1': $FRAMED"
}

# start_portal: the desktop portal mocked on the road's session bus, as the
# in-process suites mock it.
start_portal()
{
    "$PYTHON" -m dbusmock --template "$(dirname "$0")/../console/portal_mock.py" \
        >"$WORK/portal.log" 2>&1 &
    SESSION_PROCESSES+=($!)
    wait_until "$START_TIMEOUT" "the portal mock" named_on_session_bus org.freedesktop.portal.Desktop
}

# expect_portal_parent: the portal was asked on behalf of the main window,
# named as the portal names an X window.
expect_portal_parent()
{
    local window parents
    window=$(timeout 10 xdotool search --pid "$APP_PID" --name "^$MAIN_TITLE\$" | head -n 1)
    parents=$(timeout 10 gdbus call --session --dest org.freedesktop.portal.Desktop \
        --object-path /org/freedesktop/portal/desktop --method org.freedesktop.DBus.Mock.ListParents)
    [ -n "$window" ] && grep -qF "'x11:$(printf %x "$window")'" <<<"$parents" \
        || fail "the portal was asked for the window '${window:+x11:$(printf %x "$window")}' in $parents"
    log "the portal was asked for the main window: $parents"
}

busy_dialog_shown() { desktop_window "$APP_PID" 'Please Wait' | grep -q '|false|'; }

# On the desktop, in the middle of the FPGA write: the desktop portal is
# asked on behalf of the main window; the busy dialog minimised through the
# desktop comes back at once, and no button of the console looks ready while
# it is away; closed through the desktop, it stays; closing the main window
# through the desktop keeps it open and shows the box that says why, over the
# window; the update goes through, and the close after it ends the program.
road_desktop_update()
{
    fpga_device 740201 0.05
    start_portal
    start_app start
    update_until_fpga_write
    expect_portal_parent
    expect_over_main_window 'Please Wait'
    log "minimise the busy dialog through $DESKTOP"
    desktop_do "$APP_PID" 'Please Wait' minimise
    expect_console 'check=off update=off restore=off log=on'
    wait_until 10 "the busy dialog to come back after $DESKTOP minimised it" busy_dialog_shown
    log "close the busy dialog through $DESKTOP"
    desktop_do "$APP_PID" 'Please Wait' close
    request_close
    expect_box_of "$APP_PID" "$REFUSAL"
    expect_over_main_window Warning
    busy_dialog_shown || fail "the busy dialog went when $DESKTOP closed it"
    finish_refused_write 740201
}

# On a small screen of the desktop: the window and the downgrade question,
# frames included, lie in the area the desktop's panels leave, the question
# over the window, and an update goes through.
road_desktop_fit()
{
    device 740202 4 6 6
    start_app start
    expect_in_work_area "$MAIN_TITLE"
    press 'Check Versions'
    ask box
    expect_over_main_window Warning
    expect_in_work_area Warning
    shot question
    ask answer Yes
    ask wait-flow
    flow update Update
    expect_line "$SUCCESS" "$GREEN"
    expect_in_work_area "$MAIN_TITLE"
    shot updated
    close_app
    expect_firmware 740202
}

# Closed through the desktop after an update, the program ends, every time
# (QD740N_E2E_CLOSES times, 5 by default); one that outlives its window
# leaves its threads' backtraces.
road_desktop_closes()
{
    local run
    for ((run = 1; run <= ${QD740N_E2E_CLOSES:-5}; ++run)); do
        device 740203 4 4 6
        start_app "start-$run"
        [ "$run" = 1 ] && expect_native_line
        flow check 'Check Versions'
        flow update Update
        expect_line "$SUCCESS" "$GREEN"
        close_app
        # The library's own clean-up runs as the program ends, on Wayland too.
        [ "$(tail -n 2 "$WORK/trace.txt" | sed -E 's/\([0-9]+\)/(N)/')" = "$CLEAN_UP" ] \
            || fail "the device library's clean-up at exit did not run: $(tail -n 2 "$WORK/trace.txt")"
    done
}

# Natively on Wayland, and only there, the console says what that costs.
expect_native_line()
{
    local native='The updater runs natively on Wayland: the busy dialog can be minimised.'
    if [ "${E2E_PLATFORM:-}" = wayland ]; then
        expect_line "$native"
        return
    fi
    ask log
    ! grep -qF "$native" <<<"$REPLY" || fail "the log says '$native' through Xwayland"
}

case $ROAD in
small-screen) SCREEN=640x480 WINDOW_MANAGER=openbox ;;
small-screen-scaled) SCREEN=1366x768 WINDOW_MANAGER=openbox && export QT_SCALE_FACTOR=2 ;;
screenshots) WINDOW_MANAGER=openbox ;;
gnome-* | kwin-*) DESKTOP=${ROAD%%-*} ;;
esac
case $ROAD in
*-small-screen) SCREEN=640x480 ;;
# A 1366x768 panel at scale 2 (KWin takes the screen's size in scaled
# pixels); mutter offers scale 2 only where that leaves 800x480 or more.
gnome-small-screen-scaled) SCREEN=1600x960 SCALE=2 ;;
kwin-small-screen-scaled) SCREEN=683x384 SCALE=2 ;;
# Qt's Wayland platform named, as an operator may: its teardown deadlocked
# in about one close in fifteen on KWin.
kwin-closes-wayland) E2E_PLATFORM=wayland QD740N_E2E_CLOSES=${QD740N_E2E_CLOSES:-30} ;;
esac
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
empty-firmware) road_empty_firmware ;;
swapped-unit) road_swapped_unit ;;
second-copy) road_second_copy ;;
held-restore) road_held_restore ;;
signals-during-write) road_signals_during_write ;;
signal-during-question) road_signal_during_question ;;
nohup) road_nohup ;;
idle-sigterm) road_idle_sigterm ;;
close-during-write) road_close_during_write ;;
late-device) road_late_device ;;
small-screen) road_small_screen ;;
small-screen-scaled) road_small_screen_scaled ;;
screenshots) road_screenshots ;;
gnome-update | kwin-update) road_desktop_update ;;
gnome-small-screen* | kwin-small-screen*) road_desktop_fit ;;
gnome-closes | kwin-closes | kwin-closes-wayland) road_desktop_closes ;;
*) fail "unknown road $ROAD" ;;
esac
log "passed"
