# shellcheck shell=bash
# Helpers for driving qd740n-updater in a real X window as an operator with
# a screen reader would: a private Xvfb display or a headless desktop
# (desktop.sh), a private session bus with the AT-SPI bus launcher on it, a
# working directory laid out like the build's bin/ folder, and the program
# started with Qt's AT-SPI bridge on.
# Its windows, buttons, boxes and log are found in its accessibility tree by
# role and accessible name (a11y.py), buttons are pressed through their
# Action interface or clicked with the real mouse at the place the tree
# gives, the log is read with its colours, screenshots are taken of each
# stage, and the simulated device's file and call trace are checked.
#
# Sourced by e2e.sh, which sets ROAD, BIN_DIR, CLOSE_HELPER and SHOT_DIR.

# shellcheck source=../support/harness.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/harness.sh"
# shellcheck source=../support/desktop.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/desktop.sh"

readonly PYTHON=/usr/bin/python3 # Debian's python3-pyatspi is built for this one
A11Y=$(dirname "${BASH_SOURCE[0]}")/a11y.py
readonly A11Y
readonly BUS_LAUNCHER=/usr/libexec/at-spi-bus-launcher

# Limits of the waits, several times what they take on a two-core machine
# kept busy, and together with the diagnostics and the cleanup well within
# CTest's limit for a road (tests/e2e/CMakeLists.txt): a road that fails,
# fails on one of these, saying what it waited for.
readonly START_TIMEOUT=30
readonly FLOW_TIMEOUT=40
readonly EXIT_TIMEOUT=20

SCREEN=1024x768 # Xvfb's screen, or the desktop's, set before start_display
SCALE=1         # the desktop's scale
WINDOW_MANAGER=""  # openbox on the roads that need a frame around the window
# The program's platform: X11 under Xvfb. On a desktop (DESKTOP, desktop.sh)
# nothing, as an operator starts it; E2E_PLATFORM names one there by hand.
APP_PLATFORM=(QT_QPA_PLATFORM=xcb)
WORK=""         # this road's temporary folder
WM_PID=""       # the window manager, where the road has one
SESSION_PROCESSES=() # the session buses and the AT-SPI bus launchers on them
WATCH_PID=""    # a log watcher, while one runs
APP_PID=""      # the running program, empty when none
RUNNER_PID=""   # the subshell that waits for it and records its exit status
RUNNER_PIDS=()  # every such subshell of the road, the refused copies' included
APP_RUN=0       # how many times the program was started on this road
APP_WINDOW=""   # the X id of its main window, for closing it as a window manager does
APP_STATUS=""   # the exit status of the program kill_app ended
LAUNCH_WITH=""  # a command the program is started through, for a road that wants one
REPLY=""        # what the last ask printed
FAILED=0

log() { printf '[e2e %s] %s\n' "$ROAD" "$*"; }

app_exited() { [ -z "$APP_PID" ] || [ -e "$WORK/run$APP_RUN.exit" ]; }

# Stops the road. What only the running program can tell, its accessibility
# tree and its log, is read now, each read bounded; cleanup then ends every
# process of the road and prints the rest.
fail()
{
    FAILED=1
    printf '\n[e2e %s] FAILED: %s\n' "$ROAD" "$*" >&2
    [ -z "$DESKTOP" ] || desktop_backtrace "$WORK/backtrace.txt"
    if [ -n "$APP_PID" ] && ! app_exited; then
        # shellcheck disable=SC2086 # the prefix, one word an argument
        timeout -k 2 15 $ROAD_A11Y "$PYTHON" "$A11Y" --pid "$APP_PID" --timeout 10 dump \
            >"$WORK/tree.txt" 2>&1
        # shellcheck disable=SC2086
        timeout -k 2 15 $ROAD_A11Y "$PYTHON" "$A11Y" --pid "$APP_PID" --timeout 10 log \
            >"$WORK/log.txt" 2>&1
    fi
    exit 1
}

# Everything that explains a failure, once the road's processes have ended.
diagnose()
{
    [ -n "$WORK" ] || return 0
    local file title
    for file in tree log backtrace; do
        case $file in
        tree) title="accessibility tree" ;;
        log) title="log (colour, text)" ;;
        *) title="the threads of the program, or of the desktop that did not start" ;;
        esac
        [ -e "$WORK/$file.txt" ] && printf '\n--- %s ---\n%s\n' "$title" "$(cat "$WORK/$file.txt")" >&2
    done
    for file in "$WORK"/run*.stderr; do
        [ -e "$file" ] || continue
        printf '\n--- program stderr, %s ---\n' "$(basename "$file" .stderr)" >&2
        cat "$file" >&2
    done
    printf '\n--- device file %s ---\n' "$WORK/device.json" >&2
    cat "$WORK/device.json" >&2 2>/dev/null
    printf '\n--- trace ---\n' >&2
    cat "$WORK/trace.txt" >&2 2>/dev/null
    printf '\n--- Xvfb, session bus and AT-SPI launcher logs ---\n' >&2
    cat "$WORK/xvfb.log" "$WORK/bus.log" "$WORK/launcher.log" >&2 2>/dev/null
    if [ -n "$DESKTOP" ]; then
        printf '\n--- %s, the last 80 lines of its log ---\n' "$DESKTOP" >&2
        tail -n 80 "$WORK/desktop.log" >&2 2>/dev/null
    fi
    printf '\n(working directory kept: %s)\n' "$WORK" >&2
}

# programs_running: the process ids of every copy of the program this road
# started that has not ended, each recorded by launch.
programs_running()
{
    local file run
    for file in "$WORK"/run*.pid; do
        [ -e "$file" ] || continue
        run=${file%.pid}
        [ -e "$run.exit" ] || echo "$(cat "$file")"
    done
}

# Ends only the processes this road started, by their ids: the program
# (which may hold SIGTERM while a flow runs) and its runners, the log
# watcher, what the buses and the AT-SPI launcher started, the buses, the
# window manager and Xvfb; each gets SIGTERM and, after a short grace,
# SIGKILL. Then the diagnostics of a failed road.
cleanup()
{
    local status=$?
    trap - INT TERM
    [ "$status" -eq 0 ] || FAILED=1
    if [ -n "$WORK" ]; then
        # shellcheck disable=SC2046 # one process id a word
        end_processes $(programs_running)
    fi
    end_processes "${RUNNER_PIDS[@]}" "$WATCH_PID"
    # shellcheck disable=SC2046
    end_processes "${SESSION_PROCESSES[@]}" $(descendants "${SESSION_PROCESSES[@]}")
    end_processes "$WM_PID"
    stop_desktop
    leave_private_tmp
    stop_xvfb
    if [ "$FAILED" -ne 0 ]; then
        diagnose
    elif [ -n "$WORK" ]; then
        rm -rf "$WORK"
    fi
}

require_tools()
{
    local tool missing=() desktop=()
    case $DESKTOP in
    gnome) desktop=(gnome-shell gdbus unshare) ;;
    kwin) desktop=(kwin_wayland) ;;
    esac
    for tool in "${desktop[@]}" Xvfb xdotool xprop xwininfo import dbus-daemon dbus-send "$BUS_LAUNCHER" \
        "$CLOSE_HELPER" $WINDOW_MANAGER; do
        command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
    done
    "$PYTHON" -c 'import pyatspi' 2>/dev/null || missing+=("$PYTHON with pyatspi")
    [ ${#missing[@]} -eq 0 ] \
        || fail "missing tools: ${missing[*]} (scripts/setup.sh installs them)"
    [ -x "$BIN_DIR/qd740n-updater" ] || fail "no program at $BIN_DIR/qd740n-updater"
    [ -e "$BIN_DIR/libqd_api.so" ] || fail "no device library at $BIN_DIR/libqd_api.so"
    [ -d "$BIN_DIR/firmware" ] || fail "no firmware folder at $BIN_DIR/firmware"
}

# wait_until SECONDS WHAT COMMAND...: polls COMMAND every 0.1 s until it
# succeeds; fails the road with WHAT when the time is up or the program died.
wait_until()
{
    local seconds=$1 what=$2
    shift 2
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        if [ -n "$APP_PID" ] && app_exited; then
            fail "the program ended (exit status $(cat "$WORK/run$APP_RUN.exit")) while waiting for $what"
        fi
        [ "$SECONDS" -lt "$deadline" ] || fail "timed out after ${seconds}s waiting for $what"
        sleep 0.1
    done
}

# ---- the display and the buses ----

file_written() { [ -s "$1" ]; }

# a11y_bus_named BUS [PREFIX...]: the AT-SPI bus launcher owns its name on
# the session bus at BUS. Asked without waking it: a call to an unowned name
# would have the bus start a launcher of its own.
a11y_bus_named()
{
    DBUS_SESSION_BUS_ADDRESS=$1 "${@:2}" dbus-send --session --print-reply \
        --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus 2>/dev/null | grep -q 'boolean true'
}

# start_session DIR [PREFIX...]: a session bus with the AT-SPI bus launcher
# on it, both started through PREFIX (a command that runs them as another
# user, say), their addresses and logs in DIR. Sets SESSION_PIDS (the bus and
# the launcher), SESSION_BUS and SESSION_A11Y, the AT-SPI bus's address, for
# a11y.py. (Not for the program: Qt 6.4 given AT_SPI_BUS_ADDRESS never turns
# its bridge on; it asks the session bus.)
start_session()
{
    start_session_bus "$@"
    start_a11y_launcher "$@"
}

# start_session_bus DIR [PREFIX...]: the bus alone; sets SESSION_PIDS and
# SESSION_BUS.
start_session_bus()
{
    local dir=$1
    shift
    "$@" dbus-daemon --config-file="$TEST_BUS_CONFIG" --nofork --print-address=3 3>"$dir/bus" \
        >"$dir/bus.log" 2>&1 &
    SESSION_PIDS=($!)
    wait_until "$START_TIMEOUT" "the session bus to report its address" file_written "$dir/bus"
    SESSION_BUS=$(head -n 1 "$dir/bus")
}

# start_a11y_launcher DIR [PREFIX...]: the AT-SPI bus launcher on that bus;
# adds it to SESSION_PIDS and sets SESSION_A11Y.
start_a11y_launcher()
{
    local dir=$1
    shift
    DBUS_SESSION_BUS_ADDRESS=$SESSION_BUS "$@" "$BUS_LAUNCHER" --launch-immediately \
        >"$dir/launcher.log" 2>&1 &
    SESSION_PIDS+=($!)
    wait_until "$START_TIMEOUT" "the AT-SPI bus launcher on the session bus" \
        a11y_bus_named "$SESSION_BUS" "$@"
    SESSION_A11Y=$(DBUS_SESSION_BUS_ADDRESS=$SESSION_BUS "$@" dbus-send --session \
        --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress 2>&1)
    SESSION_A11Y=${SESSION_A11Y//[[:space:]]/}
    [[ $SESSION_A11Y == unix:* ]] || fail "no address of the AT-SPI bus: $SESSION_A11Y"
}

# Starts a private Xvfb of SCREEN on a display number no other X server on
# the machine uses (start_xvfb), and a session bus of the road's own with the
# AT-SPI bus launcher on it, so roads can run side by side and beside any
# other X session. Whatever the road writes goes to its working folder.
start_display()
{
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/qd740n-e2e-$ROAD.XXXXXX") || fail "cannot make a working folder"
    if ! mkdir -m 700 "$WORK/runtime" "$WORK/tmp"; then
        fail "cannot make $WORK/runtime"
    fi
    TMPDIR=$WORK/tmp
    XDG_RUNTIME_DIR="$WORK/runtime"
    export XDG_RUNTIME_DIR TMPDIR
    unset XAUTHORITY AT_SPI_BUS_ADDRESS
    if [ -n "$DESKTOP" ]; then
        start_desktop_session
        return
    fi
    start_xvfb "$WORK" "${SCREEN}x24" "$START_TIMEOUT" 2>"$WORK/xvfb.err" \
        || fail "no Xvfb display: $(cat "$WORK/xvfb.err")"
    DISPLAY=$XVFB_DISPLAY
    export DISPLAY
    if [ -n "$WINDOW_MANAGER" ]; then
        "$WINDOW_MANAGER" >"$WORK/wm.log" 2>&1 &
        WM_PID=$!
        wait_until "$START_TIMEOUT" "$WINDOW_MANAGER to manage the screen" wm_running
    fi

    start_session "$WORK"
    SESSION_PROCESSES+=("${SESSION_PIDS[@]}")
    DBUS_SESSION_BUS_ADDRESS=$SESSION_BUS
    export DBUS_SESSION_BUS_ADDRESS
    A11Y_AS="env AT_SPI_BUS_ADDRESS=$SESSION_A11Y"
    ROAD_A11Y=$A11Y_AS
    log "Xvfb $SCREEN on $DISPLAY, session bus $DBUS_SESSION_BUS_ADDRESS"
}

# On a desktop the session bus comes first, for the compositor, and the
# AT-SPI bus launcher once the compositor has started: gnome-shell finding
# the accessibility bus as it starts stalled now and then for good, its
# Xwayland never ready (it needs none: the program is what is read).
start_desktop_session()
{
    unset DISPLAY WAYLAND_DISPLAY
    private_tmp "$WORK" "$BIN_DIR" "$CLOSE_HELPER" "$SHOT_DIR" "$(dirname "$A11Y")" "$PWD" "${HOME:-/}"
    start_session_bus "$WORK"
    SESSION_PROCESSES+=("${SESSION_PIDS[@]}")
    export DBUS_SESSION_BUS_ADDRESS=$SESSION_BUS
    start_desktop "$WORK" "$SCREEN" "$SCALE"
    start_a11y_launcher "$WORK"
    SESSION_PROCESSES+=("${SESSION_PIDS[@]:1}")
    A11Y_AS="env AT_SPI_BUS_ADDRESS=$SESSION_A11Y"
    ROAD_A11Y=$A11Y_AS
    APP_PLATFORM=(-u QT_QPA_PLATFORM ${E2E_PLATFORM:+QT_QPA_PLATFORM=$E2E_PLATFORM})
}

# start_other_user: a user other than the road's (nobody), with a home, a
# runtime folder and a session bus of its own, for a copy of the program that
# user starts: it reaches the road's display (Xvfb lets every local client
# in) but not the road's buses. Sets OTHER_HOME and OTHER_USER, the command
# prefix that runs a command as that user in that session. Needs root; false
# elsewhere.
start_other_user()
{
    [ "$(id -u)" -eq 0 ] || return 1
    OTHER_HOME=$WORK/other
    mkdir -m 700 "$OTHER_HOME" "$OTHER_HOME/runtime" && chown -R nobody:nogroup "$OTHER_HOME" \
        || fail "cannot make a home for nobody"
    # nobody may pass through the working folder to app/ and the device file.
    chmod 711 "$WORK" || fail "cannot open $WORK to nobody"
    local as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups env)
    local home=(HOME="$OTHER_HOME" XDG_RUNTIME_DIR="$OTHER_HOME/runtime" TMPDIR="$OTHER_HOME")
    # Its bus and a11y.py are read from the sources, which a checkout in
    # root's home keeps from other users.
    "${as_nobody[@]}" test -r "$TEST_BUS_CONFIG" -a -r "$A11Y" \
        || fail "nobody cannot read $TEST_BUS_CONFIG and $A11Y: this road needs sources other users can read"
    # Its launcher names its AT-SPI bus on the display's root window, where
    # Qt looks first: the copies started from now on use that bus.
    start_session "$OTHER_HOME" "${as_nobody[@]}" "${home[@]}"
    OTHER_SESSION=("${SESSION_PIDS[@]}")
    SESSION_PROCESSES+=("${SESSION_PIDS[@]}")
    OTHER_USER="${as_nobody[*]} ${home[*]} DBUS_SESSION_BUS_ADDRESS=$SESSION_BUS"
    OTHER_A11Y="$OTHER_USER AT_SPI_BUS_ADDRESS=$SESSION_A11Y"
    log "user nobody, session bus $SESSION_BUS"
}

# end_other_user: ends that user's session, and names the road's AT-SPI bus
# on the root window again for the copies started after it.
end_other_user()
{
    # shellcheck disable=SC2046 # one process id a word
    end_processes "${OTHER_SESSION[@]}" $(descendants "${OTHER_SESSION[@]}")
    timeout 10 xprop -root -f AT_SPI_BUS 8s -set AT_SPI_BUS "${ROAD_A11Y#env AT_SPI_BUS_ADDRESS=}" \
        || fail "cannot name the road's AT-SPI bus on the root window"
}

# Every X client below is bounded: one whose server stops answering may hang.
wm_running() { timeout 10 xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

# The main window with the frame the window manager put around it, as
# "X Y WIDTH HEIGHT" on the screen.
framed_window()
{
    local x y width height left right top bottom
    read -r x y width height < <(timeout 10 xwininfo -id "$APP_WINDOW" | awk '
        /Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
        /Width:/ { w = $NF } /Height:/ { h = $NF } END { print x, y, w, h }')
    IFS=', ' read -r left right top bottom < <(timeout 10 xprop -id "$APP_WINDOW" _NET_FRAME_EXTENTS \
        | sed -n 's/.*= //p')
    echo "$((x - ${left:-0})) $((y - ${top:-0})) $((width + ${left:-0} + ${right:-0}))" \
        "$((height + ${top:-0} + ${bottom:-0}))"
}

readonly MAIN_TITLE='QD740N Firmware Update 4.5.6'

# keep_backtrace: every thread's backtrace of the running program, and its
# windows as the desktop has them, into backtrace.txt, which diagnose prints.
keep_backtrace()
{
    {
        [ -z "$DESKTOP" ] || printf 'windows on %s: %s\n' "$DESKTOP" "$(desktop_windows "$APP_PID")"
        timeout -k 2 30 gdb -p "$APP_PID" -batch -nx -ex 'thread apply all bt' 2>&1
    } >"$WORK/backtrace.txt"
}

# request_close: asks the main window to close, as the window manager's close
# button does; on a desktop, through the desktop itself.
request_close()
{
    if [ -n "$DESKTOP" ]; then
        log "close the window through $DESKTOP"
        desktop_do "$APP_PID" "$MAIN_TITLE" close
        return
    fi
    timeout 10 "$CLOSE_HELPER" "$APP_WINDOW" || fail "could not ask the window to close"
}

# ---- the device ----

# device SERIAL BOOT RUN FPGA [NAME VALUE]...: writes the device file of an
# attached device with that serial number and firmware (null: an erased
# region) at the road's TIME_SCALE, with the further fields given (which may
# also replace attached or timeScale). One field per line, like the simulator
# itself writes the file, so dev_field can read both.
device()
{
    local -A fields=([attached]=true [serial]=$1 [boot]=$2 [run]=$3 [fpga]=$4 [timeScale]=$TIME_SCALE)
    local order=(attached serial boot run fpga timeScale) name body=""
    shift 4
    while [ $# -ge 2 ]; do
        [ -n "${fields[$1]+set}" ] || order+=("$1")
        fields[$1]=$2
        shift 2
    done
    for name in "${order[@]}"; do
        body+="${body:+,$'\n'}    \"$name\": ${fields[$name]}"
    done
    printf '{\n%s\n}\n' "$body" >"$WORK/device.json"
}

# dev_field NAME: the field's value as written in the file (5, null, true).
dev_field()
{
    sed -n -E "s/^[[:space:]]*\"$1\":[[:space:]]*([^,]*),?[[:space:]]*$/\\1/p" "$WORK/device.json"
}

expect_field()
{
    local value
    value=$(dev_field "$1")
    [ "$value" = "$2" ] || fail "device file: $1 is '${value}', expected '$2'"
}

# Replugging: the operator plugs the device back in between two program runs.
set_field()
{
    local value
    value=$(dev_field "$1")
    [ -n "$value" ] || fail "device file has no field $1 to change"
    sed -i -E "s/^([[:space:]]*\"$1\":[[:space:]]*)[^,]*(,?)[[:space:]]*$/\\1$2\\2/" \
        "$WORK/device.json"
    expect_field "$1" "$2"
}

# ---- the trace ----

trace_lines() { [ -e "$WORK/trace.txt" ] && wc -l <"$WORK/trace.txt" || echo 0; }
trace_grew_past() { [ "$(trace_lines)" -gt "$1" ]; }

# trace_after N: the lines written after the first N.
trace_after() { tail -n "+$(($1 + 1))" "$WORK/trace.txt" 2>/dev/null; }

expect_trace_line()
{
    grep -qxF -- "$1" "$WORK/trace.txt" 2>/dev/null || fail "trace lacks the line: $1"
}

# expect_no_trace REGEX WHY [FROM]: no line after the first FROM matches.
expect_no_trace()
{
    local found
    # The library's own last line, as the program ends, is no call.
    found=$(trace_after "${3:-0}" | grep -vxF 'library unloaded' | grep -E -- "$1")
    [ -z "$found" ] || fail "$2; the trace has: $found"
}

# ---- screenshots ----

shot()
{
    local file="$SHOT_DIR/$ROAD-$1.png"
    if [ -n "$DESKTOP" ]; then
        desktop_shot "$file"
        return
    fi
    timeout 30 import -window root "$file" 2>>"$WORK/import.log" || fail "screenshot $file failed"
    log "screenshot $file"
}

# ---- the program through its accessibility tree ----

# a11y PID COMMAND ARGS...: runs an a11y.py command on the program with that
# process id, its waits bounded by FLOW_TIMEOUT and the whole by a little
# more (a call into a program that has stopped answering must not hang it).
# A11Y_AS: a command prefix that runs it on the road's AT-SPI bus, or as the
# program's user on that user's, where that is another.
A11Y_AS=""
ROAD_A11Y=""
a11y()
{
    local pid=$1
    shift
    # shellcheck disable=SC2086 # the prefix, one word an argument
    timeout -k 2 $((FLOW_TIMEOUT + 10)) $A11Y_AS "$PYTHON" "$A11Y" --pid "$pid" \
        --timeout "$FLOW_TIMEOUT" "$@"
}

# ask_of PID COMMAND ARGS...: runs an a11y.py command on the program with
# that process id; what it prints goes to REPLY. Its failure fails the road.
ask_of()
{
    a11y "$@" >"$WORK/a11y.out" 2>"$WORK/a11y.err"
    local status=$?
    REPLY=$(cat "$WORK/a11y.out")
    [ "$status" -ne 124 ] || fail "a11y.py $2: no answer within $((FLOW_TIMEOUT + 10))s"
    [ "$status" -eq 0 ] || fail "$(cat "$WORK/a11y.err")"
}

ask() { ask_of "$APP_PID" "$@"; }

# press NAME: presses the button through its Action interface, as a screen
# reader user does; waits until it is enabled and no dialog is in the way.
press()
{
    log "press $1"
    ask press "$1"
}

# click NAME: one real mouse click on the middle of the button, where its
# accessible extents place it on the screen. Keyboard focus and the Action
# interface both pass over disabled buttons; only the mouse shows that a
# disabled button does nothing when clicked.
click()
{
    local x y width height
    ask extents "$1"
    read -r x y width height <<<"$REPLY"
    log "click $1 at $((x + width / 2)),$((y + height / 2))"
    timeout 10 xdotool mousemove "$((x + width / 2))" "$((y + height / 2))" click 1 \
        || fail "xdotool could not click $1"
}

# expect_console 'check=on|off update=... restore=... log=...': which of
# the three buttons and the log are enabled.
expect_console()
{
    ask console
    [ "$REPLY" = "$1" ] || fail "the console is '$REPLY', expected '$1'"
}

expect_locked() { expect_console 'check=off update=off restore=off log=on'; }

# expect_line TEXT [COLOUR]: the log shows the paragraph TEXT in COLOUR
# (r,g,b; by default -, the log's own colour).
expect_line()
{
    ask log
    grep -qxF -- "${2:--}"$'\t'"$1" <<<"$REPLY" || fail "the log lacks the line '$1' in colour ${2:--}"
}

# wait_line TEXT [COLOUR]: waits for it, where the line itself marks the end
# of a flow.
wait_line() { ask wait-log "$1" --colour "${2:--}"; }

readonly GREEN=34,177,76 RED=255,0,0
readonly SUCCESS='Firmware updated successfully.' FAILURE='Firmware updated unsuccessfully.'

# expect_box_of PID TEXT: the program shows one Warning box, saying TEXT.
expect_box_of()
{
    ask_of "$1" box
    [ "$REPLY" = "$2" ] || fail "the Warning box says '$REPLY', expected '$2'"
}

# launch RUN TRACE [FOLDER]: starts the program in the working folder (by
# default the road's app/) on the device file, its calls traced into TRACE,
# in the background, on the road's session bus with Qt's AT-SPI bridge on;
# its process id goes to run$RUN.pid and, once it has ended, its exit status
# to run$RUN.exit. LAUNCH_WITH: a command the program is started through
# (nohup, say; setpriv for another user).
launch()
{
    local run=$1 trace=$2 folder=${3:-$WORK/app}
    (
        cd "$folder" || exit 1
        # A script's background job starts with SIGINT ignored, which the
        # program keeps; it gets SIGINT as a start from a terminal does.
        env --default-signal=INT "${APP_PLATFORM[@]}" \
            QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
            QD740N_SIM_DEVICE="$WORK/device.json" \
            QD740N_SIM_TRACE="$trace" \
            QD740N_LOCAL_PREFIX="$WORK/no-site" \
            DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent \
            $LAUNCH_WITH ./qd740n-updater >"$WORK/run$run.stdout" 2>"$WORK/run$run.stderr" &
        echo $! >"$WORK/run$run.pid"
        wait $!
        echo $? >"$WORK/run$run.exit"
    ) &
    RUNNER_PIDS+=($!)
}

# The main window's X id, for closing it as a window manager would: the
# one window of the program's process on the screen.
window_mapped()
{
    if [ -n "$DESKTOP" ]; then
        desktop_window "$APP_PID" "$MAIN_TITLE" >/dev/null
        return
    fi
    APP_WINDOW=$(timeout 10 xdotool search --all --onlyvisible --pid "$APP_PID" '' 2>/dev/null)
    [ -n "$APP_WINDOW" ] && [ "$(wc -l <<<"$APP_WINDOW")" -eq 1 ]
}

# start_app STAGE: starts the program, waits for its window and its
# buttons in the accessibility tree, and takes a shot. The window's
# position and size go to WINDOW_EXTENTS.
start_app()
{
    APP_RUN=$((APP_RUN + 1))
    local run=$APP_RUN
    launch "$run" "$WORK/trace.txt"
    RUNNER_PID=$!
    wait_until 10 "the program's process id" file_written "$WORK/run$run.pid"
    APP_PID=$(cat "$WORK/run$run.pid")
    ask window
    WINDOW_EXTENTS=$REPLY
    wait_until "$START_TIMEOUT" "the program's one window on the screen" window_mapped
    log "run $run: window $APP_WINDOW at $WINDOW_EXTENTS (x y width height)"
    shot "$1"
}

# kill_app SIGNAL: sends the running program SIGNAL and waits for it to end;
# the exit status it ended with goes to APP_STATUS.
kill_app()
{
    log "send SIG$1 to the program"
    kill "-$1" "$APP_PID" || fail "could not send SIG$1 to the program"
    local deadline=$((SECONDS + EXIT_TIMEOUT))
    until app_exited; do
        [ "$SECONDS" -lt "$deadline" ] || fail "the program did not end within ${EXIT_TIMEOUT}s of SIG$1"
        sleep 0.1
    done
    APP_STATUS=$(cat "$WORK/run$APP_RUN.exit")
    wait "$RUNNER_PID" 2>/dev/null
    APP_PID=""
    RUNNER_PID=""
}

# answer_app ANSWER: answers the box that is up with ANSWER and waits for the
# program to end by itself; the exit status it ended with goes to APP_STATUS.
answer_app()
{
    log "answer the Warning box with $1"
    ask answer "$1"
    wait_until "$EXIT_TIMEOUT" "the program to end by itself after the answer $1" app_exited
    APP_STATUS=$(cat "$WORK/run$APP_RUN.exit")
    wait "$RUNNER_PID" 2>/dev/null
    APP_PID=""
    RUNNER_PID=""
}

# prepare_app: the program, its device library and firmware/ in a fresh
# working folder, as they sit in the build's bin/ folder. E2E_PROGRAM names
# a test build of the program to run in its place.
prepare_app()
{
    mkdir -p "$WORK/app" "$WORK/tmp" || fail "cannot lay out $WORK/app"
    if ! cp "${E2E_PROGRAM:-$BIN_DIR/qd740n-updater}" "$WORK/app/qd740n-updater" \
        || ! cp "$BIN_DIR/libqd_api.so" "$WORK/app/" \
        || ! cp -r "$BIN_DIR/firmware" "$WORK/app/"; then
        fail "cannot copy the program from $BIN_DIR"
    fi
}

# wait_flow STAGE BEFORE: after a button press that starts a flow. The busy
# dialog is shown before the flow's worker makes its first library call, so
# once the trace has grown past BEFORE lines the dialog exists, and once it
# is gone the flow has written its conclusion and set its buttons. A shot is
# taken while the dialog is up, when it stays long enough to be seen.
wait_flow()
{
    local stage=$1 before=$2
    wait_until "$START_TIMEOUT" "the $stage to call the device library" trace_grew_past "$before"
    # (import reads an X screen: on a desktop, Xwayland's shows no window.)
    if [ -n "$DESKTOP" ]; then
        ask wait-flow
    else
        ask wait-flow --shot "$SHOT_DIR/$ROAD-$stage-busy.png"
    fi
    log "$stage done (busy dialog $REPLY)"
}

# flow STAGE BUTTON [click]: presses BUTTON (with the mouse when asked) and
# waits for the flow it starts to call the device library and to end.
flow()
{
    local before
    before=$(trace_lines)
    "${3:-press}" "$2"
    wait_flow "$1" "$before"
}

# answer_box BUTTON STAGE: waits for the Warning box, takes a shot, presses
# its BUTTON, and waits for the box and the busy dialog under it to go away.
answer_box()
{
    ask box
    shot "$2"
    log "answer the Warning box with $1"
    ask answer "$1"
    ask wait-flow
}

# watch_log: from now until the program ends, everything added to its log
# goes to log-watch.txt; for a program that closes itself right after its
# last line, which can then no longer be read from its window.
log_watch_ready() { grep -qx ready "$WORK/watch.out"; }
watch_log()
{
    # shellcheck disable=SC2086 # the prefix, one word an argument
    $ROAD_A11Y "$PYTHON" "$A11Y" --pid "$APP_PID" --timeout "$START_TIMEOUT" watch-log "$WORK/log-watch.txt" \
        >"$WORK/watch.out" 2>"$WORK/watch.err" &
    WATCH_PID=$!
    wait_until "$START_TIMEOUT" "the log watcher" log_watch_ready
}

# end_of_watch: once the program has ended, waits for the log watcher to
# stop by itself (a second after the program's end) and reaps it.
watcher_stopped() { ! running "$WATCH_PID"; }
end_of_watch()
{
    wait_until "$EXIT_TIMEOUT" "the log watcher to stop after the program ended" watcher_stopped
    wait "$WATCH_PID" 2>/dev/null
    WATCH_PID=""
}

# close_app: closes the window the way a window manager's close button
# does and waits for the program to end with status 0. Every click sent
# before it has been handled by then, so a click that started nothing shows
# as a trace without new lines.
close_app()
{
    request_close
    local deadline=$((SECONDS + EXIT_TIMEOUT))
    until app_exited; do
        if [ "$SECONDS" -ge "$deadline" ]; then
            keep_backtrace
            fail "the program did not end within ${EXIT_TIMEOUT}s of closing its window" \
                "(it refuses to close while a flow runs: did a click start one? see the trace;" \
                "its threads' backtraces are below)"
        fi
        sleep 0.1
    done
    local status
    status=$(cat "$WORK/run$APP_RUN.exit")
    [ "$status" = 0 ] || fail "the program ended with status $status"
    wait "$RUNNER_PID" 2>/dev/null
    APP_PID=""
    RUNNER_PID=""
    log "run $APP_RUN closed"
}
