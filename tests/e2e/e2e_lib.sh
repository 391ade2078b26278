# shellcheck shell=bash
# Helpers for driving qd740n-updater in a real X window: a private Xvfb
# display, a working directory laid out like the build's bin/ folder, the
# window found by its title, its buttons pressed with the mouse, the
# confirmation box answered with the keyboard, screenshots of each stage,
# and checks on the simulated device's file and call trace.
#
# Sourced by e2e.sh, which sets ROAD, BIN_DIR, CLOSE_HELPER and SHOT_DIR.
#
# Buttons are pressed with real mouse clicks rather than Tab and Space:
# keyboard focus skips disabled buttons, so only the mouse can show that a
# disabled button does nothing when pressed. The click positions come from
# the window's own pixels (the three framed boxes in the right-hand column),
# not from assumed style metrics.

readonly WINDOW_TITLE='QD740N Firmware Update 4.5.6'
readonly WINDOW_PATTERN='^QD740N Firmware Update 4\.5\.6$'
readonly BUSY_PATTERN='^Please Wait$'
readonly BOX_PATTERN='^Warning$'

# Generous limits: the machine may be busy with other builds.
readonly START_TIMEOUT=60
readonly FLOW_TIMEOUT=120
readonly EXIT_TIMEOUT=30

WORK=""         # this road's temporary folder
XVFB_PID=""
APP_PID=""      # the running program, empty when none
RUNNER_PID=""   # the subshell that waits for it and records its exit status
APP_RUN=0       # how many times the program was started on this road
APP_WINDOW=""
BUTTON_X=""
CHECK_Y=""
UPDATE_Y=""
RESTORE_Y=""
APP_STATUS=""   # the exit status of the program kill_app ended
FAILED=0

log() { printf '[e2e %s] %s\n' "$ROAD" "$*"; }

# Prints everything that explains a failure, then stops the road.
fail()
{
    FAILED=1
    printf '\n[e2e %s] FAILED: %s\n' "$ROAD" "$*" >&2
    local run
    for ((run = 1; run <= APP_RUN; ++run)); do
        printf '\n--- program stderr, run %d ---\n' "$run" >&2
        cat "$WORK/run$run.stderr" >&2 2>/dev/null
    done
    if [ -n "$WORK" ]; then
        printf '\n--- device file %s ---\n' "$WORK/device.json" >&2
        cat "$WORK/device.json" >&2 2>/dev/null
        printf '\n--- trace ---\n' >&2
        cat "$WORK/trace.txt" >&2 2>/dev/null
        printf '\n--- Xvfb log ---\n' >&2
        cat "$WORK/xvfb.log" >&2 2>/dev/null
        printf '\n(working directory kept: %s)\n' "$WORK" >&2
    fi
    exit 1
}

app_exited() { [ -z "$APP_PID" ] || [ -e "$WORK/run$APP_RUN.exit" ]; }

# Ends only the processes this road started, by their ids.
cleanup()
{
    if [ -n "$APP_PID" ] && ! app_exited; then
        kill "$APP_PID" 2>/dev/null
    fi
    if [ -n "$RUNNER_PID" ]; then
        wait "$RUNNER_PID" 2>/dev/null
    fi
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null
        wait "$XVFB_PID" 2>/dev/null
    fi
    if [ "$FAILED" -eq 0 ] && [ -n "$WORK" ]; then
        rm -rf "$WORK"
    fi
}

require_tools()
{
    local tool missing=()
    for tool in Xvfb xdotool import convert od "$CLOSE_HELPER"; do
        command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
    done
    [ ${#missing[@]} -eq 0 ] \
        || fail "missing tools: ${missing[*]} (scripts/setup.sh installs xvfb, xdotool, imagemagick)"
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

# ---- the display ----

display_number_written() { [ -s "$WORK/display" ] && grep -q '^[0-9][0-9]*$' "$WORK/display"; }

# Starts a private Xvfb on a display number the server picks itself, so
# roads can run side by side.
start_display()
{
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/qd740n-e2e-$ROAD.XXXXXX") || fail "cannot make a working folder"
    Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1024x768x24 \
        3>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
    XVFB_PID=$!
    local deadline=$((SECONDS + START_TIMEOUT))
    until display_number_written; do
        kill -0 "$XVFB_PID" 2>/dev/null || fail "Xvfb did not start"
        [ "$SECONDS" -lt "$deadline" ] || fail "Xvfb did not report its display in ${START_TIMEOUT}s"
        sleep 0.1
    done
    DISPLAY=":$(cat "$WORK/display")"
    export DISPLAY
    unset XAUTHORITY
    log "Xvfb on $DISPLAY"
}

# ---- the device ----

# write_device 'JSON-BODY-LINES': one field per line, like the simulator
# itself writes the file, so dev_field can read both.
write_device()
{
    printf '{\n%s\n}\n' "$1" >"$WORK/device.json"
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
    found=$(trace_after "${3:-0}" | grep -E -- "$1")
    [ -z "$found" ] || fail "$2; the trace has: $found"
}

# ---- screenshots ----

shot()
{
    local file="$SHOT_DIR/$ROAD-$1.png"
    import -window root "$file" 2>>"$WORK/import.log" || fail "screenshot $file failed"
    log "screenshot $file"
}

# ---- the program ----

window_shown()
{
    APP_WINDOW=$(xdotool search --onlyvisible --name "$WINDOW_PATTERN" 2>/dev/null | head -n 1)
    [ -n "$APP_WINDOW" ]
}

# Finds the three buttons: the one column near the right edge in which the
# window's grey background is crossed by exactly three framed boxes of the
# same height, top to bottom Check Versions, Update, Restore. Succeeds once
# the window is painted.
find_buttons()
{
    local geometry width height
    geometry=$(xdotool getwindowgeometry "$APP_WINDOW" 2>/dev/null) || return 1
    width=$(sed -n -E 's/^ *Geometry: ([0-9]+)x([0-9]+).*/\1/p' <<<"$geometry")
    height=$(sed -n -E 's/^ *Geometry: ([0-9]+)x([0-9]+).*/\2/p' <<<"$geometry")
    [ -n "$width" ] && [ -n "$height" ] || return 1
    local strip=80 rows=$((height / 2))
    local found
    found=$(import -window "$APP_WINDOW" png:- 2>/dev/null \
        | convert - -crop "${strip}x${rows}+$((width - strip))+0" +repage \
            -colorspace Gray -depth 8 gray:- \
        | od -An -v -tu1 -w"$strip" \
        | awk -v strip="$strip" -v left="$((width - strip))" '
            { ++n; for (c = 1; c <= strip; ++c) px[n, c] = $c }
            END {
                if (n == 0) exit 1
                # From the right edge inwards: the first column showing three
                # boxes whose top and bottom edges are darker than the
                # background above them.
                for (c = strip; c >= 1; --c) {
                    bg = px[1, c]; runs = 0; inrun = 0
                    for (r = 1; r <= n; ++r) {
                        dark = (px[r, c] < bg - 24)
                        if (dark && !inrun) { ++runs; start[runs] = r }
                        if (dark) stop[runs] = r
                        inrun = dark
                    }
                    if (runs != 6) continue
                    h = stop[2] - start[1]
                    if (h < 12) continue
                    if (stop[4] - start[3] != h || stop[6] - start[5] != h) continue
                    # Three pixels inside the box edge found first.
                    printf "%d %d %d %d\n", left + c - 3,
                        (start[1] + stop[2]) / 2 - 1, (start[3] + stop[4]) / 2 - 1,
                        (start[5] + stop[6]) / 2 - 1
                    exit 0
                }
                exit 1
            }') || return 1
    read -r BUTTON_X CHECK_Y UPDATE_Y RESTORE_Y <<<"$found"
    [ -n "$RESTORE_Y" ]
}

# launch RUN TRACE: starts the program in the working folder on the device
# file, its calls traced into TRACE, in the background; its process id goes
# to run$RUN.pid and, once it has ended, its exit status to run$RUN.exit.
# Every copy of a road shares one temporary folder, and so one lock.
launch()
{
    local run=$1 trace=$2
    (
        cd "$WORK/app" || exit 1
        env QT_QPA_PLATFORM=xcb \
            QD740N_SIM_DEVICE="$WORK/device.json" \
            QD740N_SIM_TRACE="$trace" \
            XDG_RUNTIME_DIR="$WORK/runtime" \
            TMPDIR="$WORK/tmp" \
            DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent \
            ./qd740n-updater >"$WORK/run$run.stdout" 2>"$WORK/run$run.stderr" &
        echo $! >"$WORK/run$run.pid"
        wait $!
        echo $? >"$WORK/run$run.exit"
    ) &
}

# start_app STAGE: starts the program in the working folder on the device
# file and trace, waits for its window and its buttons, and takes a shot.
start_app()
{
    APP_RUN=$((APP_RUN + 1))
    local run=$APP_RUN
    launch "$run" "$WORK/trace.txt"
    RUNNER_PID=$!
    wait_until 10 "the program's process id" test -s "$WORK/run$run.pid"
    APP_PID=$(cat "$WORK/run$run.pid")
    wait_until "$START_TIMEOUT" "the window titled \"$WINDOW_TITLE\"" window_shown
    local owner
    owner=$(xdotool getwindowpid "$APP_WINDOW" 2>/dev/null)
    [ "$owner" = "$APP_PID" ] || fail "the window belongs to process '$owner', not to the program ($APP_PID)"
    wait_until "$START_TIMEOUT" "the three buttons to be drawn" find_buttons
    log "run $run: window $APP_WINDOW, buttons at x=$BUTTON_X y=$CHECK_Y/$UPDATE_Y/$RESTORE_Y"
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

# prepare_app: the program, its device library and firmware/ in a fresh
# working folder, as they sit in the build's bin/ folder.
prepare_app()
{
    mkdir -p "$WORK/app" "$WORK/runtime" "$WORK/tmp" || fail "cannot lay out $WORK/app"
    chmod 700 "$WORK/runtime"
    if ! cp "$BIN_DIR/qd740n-updater" "$BIN_DIR/libqd_api.so" "$WORK/app/" \
        || ! cp -r "$BIN_DIR/firmware" "$WORK/app/"; then
        fail "cannot copy the program from $BIN_DIR"
    fi
}

# click NAME: one real mouse click on the named button.
click()
{
    local y
    case $1 in
    check) y=$CHECK_Y ;;
    update) y=$UPDATE_Y ;;
    restore) y=$RESTORE_Y ;;
    *) fail "no button $1" ;;
    esac
    log "click $1"
    xdotool mousemove --window "$APP_WINDOW" "$BUTTON_X" "$y" click 1 \
        || fail "xdotool could not click $1"
}

# console_locked: the log's first line is drawn greyed out, as it is once
# an update or restore flow has written its verdict and locked the console.
# For flows that end before they make a device call, which the trace cannot show.
console_locked()
{
    local darkest
    darkest=$(import -window "$APP_WINDOW" png:- 2>/dev/null \
        | convert - -crop 150x12+10+12 +repage -colorspace Gray \
            -format '%[fx:int(255*minima)]' info: 2>/dev/null) || return 1
    [ -n "$darkest" ] && [ "$darkest" -gt 100 ]
}

busy_shown() { xdotool search --name "$BUSY_PATTERN" >/dev/null 2>&1; }
box_window() { xdotool search --onlyvisible --name "$BOX_PATTERN" 2>/dev/null | head -n 1; }
box_shown() { [ -n "$(box_window)" ]; }
box_gone() { ! box_shown; }

# wait_flow STAGE BEFORE: after a button press that starts a flow. The busy
# dialog is shown before the flow's worker makes its first library call, so
# once the trace has grown past BEFORE lines the dialog exists, and once it
# is gone the flow has written its conclusion and set its buttons. A shot is
# taken while the dialog is up, when it stays long enough to be seen.
wait_flow()
{
    local stage=$1 before=$2
    wait_until "$START_TIMEOUT" "the $stage to call the device library" trace_grew_past "$before"
    local deadline=$((SECONDS + FLOW_TIMEOUT)) absent=0 seen=0
    while [ "$absent" -lt 3 ]; do
        app_exited && fail "the program ended during the $stage"
        [ "$SECONDS" -lt "$deadline" ] \
            || fail "the busy dialog \"Please Wait\" of the $stage was still up after ${FLOW_TIMEOUT}s"
        if busy_shown; then
            absent=0
            if [ "$seen" -eq 0 ]; then
                seen=1
                shot "$stage-busy"
            fi
        else
            absent=$((absent + 1))
        fi
        sleep 0.1
    done
    log "$stage done (busy dialog $([ "$seen" -eq 1 ] && echo seen || echo too quick to see))"
}

# answer_box KEY STAGE: waits for the "Warning" box, takes a shot, gives it
# the keyboard focus and presses KEY (y: Yes, n: No), then waits for the box
# and the busy dialog under it to go away.
answer_box()
{
    local key=$1 stage=$2
    wait_until "$FLOW_TIMEOUT" "the \"Warning\" box" box_shown
    local box
    box=$(box_window)
    shot "$stage"
    log "answer the Warning box with '$key'"
    xdotool windowfocus --sync "$box" key "$key" || fail "xdotool could not press $key in the box"
    wait_until "$FLOW_TIMEOUT" "the \"Warning\" box to close after '$key'" box_gone
    local deadline=$((SECONDS + FLOW_TIMEOUT))
    while busy_shown; do
        [ "$SECONDS" -lt "$deadline" ] || fail "the busy dialog stayed after the box was answered"
        sleep 0.1
    done
}

# close_app: closes the window the way a window manager's close button
# does and waits for the program to end with status 0. Every click sent
# before it has been handled by then, so a click that started nothing shows
# as a trace without new lines.
close_app()
{
    "$CLOSE_HELPER" "$APP_WINDOW" || fail "could not ask the window to close"
    local deadline=$((SECONDS + EXIT_TIMEOUT))
    until app_exited; do
        [ "$SECONDS" -lt "$deadline" ] \
            || fail "the program did not end within ${EXIT_TIMEOUT}s of closing its window" \
                "(it refuses to close while a flow runs: did a click start one? see the trace)"
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
