# shellcheck shell=bash
# Shell helpers shared by the tests driven from bash and by scripts/windows.sh:
# ending what a test started within a bound, and a virtual X display that is
# the test's own.
#
# Ending: a process is asked with SIGTERM first and killed with SIGKILL after
# a short grace. The updater rightly holds SIGTERM while a flow runs, so a
# test that fails in the middle of one must still end within seconds.
#
# The display: X servers in other network namespaces (the e2e roads run in
# their own) share /tmp/.X11-unix and the lock files in /tmp with the whole
# machine, and an X server started with -displayfd picks a number whose
# socket it may take from another server's. So the number is chosen here and
# claimed the way the X server claims it, a lock file /tmp/.X<N>-lock made
# atomically with link(2), skipping every number whose lock or socket exists,
# whoever made it; Xvfb then runs on that number with -nolock. (Only a server
# without a lock whose socket appears between that check and Xvfb's start
# could still lose it to this one.) What is removed afterwards is only this
# lock, while it still names this server, and this server's socket, which it
# normally removes itself. The desktop roads' Xwayland servers, which choose
# their own numbers, run in a /tmp of the road's own (desktop.sh).

readonly HARNESS_GRACE=5 # seconds between SIGTERM and SIGKILL

# Every process the harness waits for or ends is found in /proc by its id. A
# machine without /proc, or with the /proc of another PID namespace, shows it
# none of its own: it would take each of its servers for one that failed to
# start, start the next, and end none. It stops before it starts anything.
if ! [ /proc/self -ef "/proc/$BASHPID" ]; then
    if [ ! -e /proc/self ]; then
        echo "harness: no /proc here (not mounted): cannot see or end the processes a test starts" >&2
    else
        echo "harness: /proc here is another PID namespace's: it does not show this test's own" \
            "processes (this shell is $BASHPID, /proc/self is $(readlink /proc/self))" >&2
    fi
    exit 1
fi

# The configuration of every private bus a test starts (dbus-daemon
# --config-file): no service folder, so nothing of the machine is started on
# demand on it.
TEST_BUS_CONFIG=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/session-bus.conf
readonly TEST_BUS_CONFIG

# running PID: the process exists and has not ended (a zombie has ended).
running()
{
    local stat
    { read -r stat <"/proc/$1/stat"; } 2>/dev/null || return 1
    stat=${stat##*) }
    [ -n "$stat" ] && [ "${stat%% *}" != Z ]
}

# ours PID: the process descends from this script. A process id recorded
# earlier may since have been given to another process: ids wrap at
# kernel.pid_max (32768 on Debian), within minutes on a busy machine.
ours()
{
    local pid=$1 stat hops
    for ((hops = 0; hops < 64; ++hops)); do
        { read -r stat <"/proc/$pid/stat"; } 2>/dev/null || return 1
        stat=${stat##*) } # "STATE PPID ..."
        stat=${stat#* }
        pid=${stat%% *}
        [ "$pid" = "$$" ] && return 0
        [ "$pid" -gt 1 ] || return 1
    done
    return 1
}

# end_processes PID...: SIGTERM to each that runs and descends from this
# script, SIGKILL to those still running after HARNESS_GRACE seconds, and the
# script's own children reaped. Empty arguments are skipped. Never waits
# longer than the grace and a moment for SIGKILL.
end_processes()
{
    local pid pids=() deadline
    for pid in "$@"; do
        if [ -n "$pid" ] && ours "$pid"; then
            pids+=("$pid")
        fi
    done
    [ ${#pids[@]} -gt 0 ] || return 0
    kill -TERM "${pids[@]}" 2>/dev/null || true
    deadline=$((SECONDS + HARNESS_GRACE))
    for pid in "${pids[@]}"; do
        while running "$pid" && [ "$SECONDS" -lt "$deadline" ]; do
            sleep 0.1
        done
    done
    for pid in "${pids[@]}"; do
        if running "$pid"; then
            echo "harness: process $pid ($(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)) ignored" \
                "SIGTERM for ${HARNESS_GRACE}s: SIGKILL" >&2
            kill -KILL "$pid" 2>/dev/null || true
        fi
    done
    for pid in "${pids[@]}"; do
        deadline=$((SECONDS + HARNESS_GRACE))
        while running "$pid" && [ "$SECONDS" -lt "$deadline" ]; do
            sleep 0.1
        done
        # Reaps a child of this shell; returns at once for any other process.
        wait "$pid" 2>/dev/null || true
    done
    return 0
}

# descendants PID...: the processes these started, and theirs, for ending
# along with them.
descendants()
{
    local pid child
    for pid in "$@"; do
        [ -n "$pid" ] && ours "$pid" || continue
        for child in $(pgrep -P "$pid"); do
            echo "$child"
            descendants "$child"
        done
    done
}

XVFB_PID=""     # the test's Xvfb, once started
XVFB_DISPLAY="" # its display, ":N"
XVFB_NUMBER=""
XVFB_SOCKET=""  # the inode of its socket in /tmp/.X11-unix, once it listens

# display_taken N: another server has or had display N.
display_taken() { [ -e "/tmp/.X$1-lock" ] || [ -e "/tmp/.X11-unix/X$1" ]; }

# claim_display N PID: makes /tmp/.X<N>-lock name PID, as the X server writes
# it, unless the number is taken; link(2) fails where the file exists, so of
# two claims at once only one succeeds.
claim_display()
{
    local number=$1 pid=$2 tmp
    display_taken "$number" && return 1
    tmp=$(mktemp "/tmp/.tX$number-lock.XXXXXX") || return 1
    printf '%10d\n' "$pid" >"$tmp" && chmod 444 "$tmp" && ln "$tmp" "/tmp/.X$number-lock" 2>/dev/null
    local claimed=$?
    rm -f "$tmp"
    return "$claimed"
}

# lock_names N PID: /tmp/.X<N>-lock still names PID.
lock_names() { [ "$(tr -d ' \n' <"/tmp/.X$1-lock" 2>/dev/null)" = "$2" ]; }

# release_display: removes this server's lock and its socket, where they are
# still its own.
release_display()
{
    [ -n "$XVFB_NUMBER" ] || return 0
    local socket=/tmp/.X11-unix/X$XVFB_NUMBER
    if [ -n "$XVFB_SOCKET" ] && [ "$(stat -c %i "$socket" 2>/dev/null)" = "$XVFB_SOCKET" ]; then
        rm -f "$socket"
    fi
    if [ -n "$XVFB_PID" ] && lock_names "$XVFB_NUMBER" "$XVFB_PID"; then
        rm -f "/tmp/.X$XVFB_NUMBER-lock"
    fi
    XVFB_NUMBER=""
    XVFB_SOCKET=""
}

# start_xvfb DIR SCREEN [SECONDS]: starts Xvfb with one screen of SCREEN
# (WIDTHxHEIGHTxDEPTH) on a display number of its own, its output in
# DIR/xvfb.log, and waits up to SECONDS (default 30) until it accepts
# connections. Sets XVFB_PID and XVFB_DISPLAY; on failure says why on
# standard error and returns 1.
start_xvfb()
{
    local dir=$1 screen=$2 seconds=${3:-30} number deadline pid
    deadline=$((SECONDS + seconds))
    for ((number = 100; number < 1000; ++number)); do
        [ "$SECONDS" -lt "$deadline" ] || break
        display_taken "$number" && continue
        rm -f "$dir/display"
        # The subshell claims the number in its own name and becomes Xvfb,
        # so the lock names the server itself, as X's own lock does.
        (
            claim_display "$number" "$BASHPID" || exit 125
            exec Xvfb ":$number" -nolock -nolisten tcp -noreset -screen 0 "$screen" \
                -displayfd 3 3>"$dir/display" >>"$dir/xvfb.log" 2>&1
        ) &
        pid=$!
        # Xvfb writes its number once it accepts connections.
        until [ -s "$dir/display" ] || ! running "$pid" || [ "$SECONDS" -ge "$deadline" ]; do
            sleep 0.05
        done
        if [ -s "$dir/display" ] && running "$pid"; then
            XVFB_PID=$pid
            XVFB_NUMBER=$number
            XVFB_DISPLAY=:$number
            XVFB_SOCKET=$(stat -c %i "/tmp/.X11-unix/X$number" 2>/dev/null) || true
            return 0
        fi
        # Taken meanwhile, or lost to a server that took the socket first:
        # the next number. (Its lock, if this claim made it, goes too.)
        XVFB_PID=$pid XVFB_NUMBER=$number XVFB_SOCKET=""
        end_processes "$pid"
        release_display
        XVFB_PID=""
    done
    echo "harness: no Xvfb display within ${seconds}s; its log:" >&2
    tail -n 20 "$dir/xvfb.log" >&2 2>/dev/null
    return 1
}

# stop_xvfb: ends the test's Xvfb and releases its display number.
stop_xvfb()
{
    [ -n "$XVFB_PID" ] || return 0
    end_processes "$XVFB_PID"
    release_display
    XVFB_PID=""
    XVFB_DISPLAY=""
}
