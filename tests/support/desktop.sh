# shellcheck shell=bash
# A real desktop for the end-to-end roads, headless: GNOME (gnome-shell on
# mutter) or Plasma's compositor (KWin), each on a virtual screen with its
# own Wayland socket and its own Xwayland, and asked about its windows the
# way the desktop itself sees them: their titles, frames, minimised states,
# and the work area left by its panels. Windows are minimised and closed
# through the desktop, as its title-bar buttons, Alt+F4 and its window menu
# do: GNOME through the shell's JavaScript (gnome-shell --unsafe-mode and
# its Eval), KWin through a KWin script whose output is read from its log.
#
# Sourced by e2e_lib.sh after harness.sh; uses its wait_until and fail. The
# road's session bus (DBUS_SESSION_BUS_ADDRESS, with the AT-SPI bus launcher
# on it) and XDG_RUNTIME_DIR come first. The compositors draw with llvmpipe
# and cost most of a core while a window animates, so the roads that use one
# run one at a time (tests/e2e/CMakeLists.txt).

DESKTOP=""           # gnome | kwin: the road's desktop
DESKTOP_PID=""       # its compositor, gnome-shell or kwin_wayland
DESKTOP_SYSTEM_BUS="" # the private bus standing in for the system bus
DESKTOP_LOG=""
PRIVATE_TMP="" # 1 while the road has a /tmp of its own
# How long the desktop may take to start, all its waits together: a few
# seconds here, but gnome-shell once stalled for 30 s in its start on a
# machine whose two cores were kept busy.
readonly DESKTOP_START_TIMEOUT=90
DESKTOP_START_DEADLINE=0 # while the desktop starts, when its time is up; else 0

# starting WHAT COMMAND...: waits for the desktop's start, within what is
# left of its time; a compositor that has ended fails it at once.
starting() { wait_until "$((DESKTOP_START_DEADLINE - SECONDS))" "$1" desktop_up "${@:2}"; }
desktop_up()
{
    [ -z "$DESKTOP_PID" ] || running "$DESKTOP_PID" \
        || fail "$DESKTOP ended as it started: $(tail -n 20 "$DESKTOP_LOG" 2>/dev/null)"
    [ "$DESKTOP" != gnome ] || end_stuck_fork
    "$@"
}

# end_stuck_fork: gnome-shell starts ibus-daemon as it starts, and the child
# it forks for that runs a JavaScript callback before its exec; now and then
# that child waits forever for a lock of GObject's that another thread of the
# shell held at the fork, and the shell waits for the child (seen on a busy
# machine: it never manages its X screen). A child still gnome-shell ten
# seconds after its fork is such a one: ended, it is an ibus-daemon that did
# not start, as it is anyway where ibus is not installed.
end_stuck_fork()
{
    local child age
    for child in $(pgrep -P "$DESKTOP_PID" -x gnome-shell); do
        age=$(ps -o etimes= -p "$child" 2>/dev/null) || continue
        [ "${age// /}" -ge 10 ] || continue
        log "gnome-shell's child $child has not run its program ${age// /} s after its fork: ended"
        kill -KILL "$child" 2>/dev/null
    done
}

# desktop_backtrace FILE: where a desktop that does not start is stuck, every
# thread of its compositor.
desktop_backtrace()
{
    [ "$DESKTOP_START_DEADLINE" != 0 ] && running "$DESKTOP_PID" || return 0
    timeout -k 2 30 gdb -p "$DESKTOP_PID" -batch -nx -ex 'thread apply all bt' >"$1" 2>&1
}

# desktop_xwayland: the compositor's Xwayland, as ":N AUTHFILE" (AUTHFILE
# "-" where it takes no authority file); false until it runs and listens.
desktop_xwayland()
{
    local pid arguments display="" auth=- previous=""
    pid=$(pgrep -P "$DESKTOP_PID" -x Xwayland) || return 1
    # shellcheck disable=SC2207 # one argument a word
    arguments=($(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null))
    for argument in "${arguments[@]}"; do
        [[ $argument == :[0-9]* ]] && display=$argument
        [ "$previous" = -auth ] && auth=$argument
        previous=$argument
    done
    [ -n "$display" ] && [ -S "/tmp/.X11-unix/X${display#:}" ] && echo "$display $auth"
}

xwayland_runs() { desktop_xwayland >/dev/null; }

x_answers() { timeout 10 xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

named_on_session_bus()
{
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}

# private_tmp KEEP...: a /tmp of the road's own, in its own mount namespace
# (own-network.sh --mount), before the road starts anything. Each compositor
# starts its Xwayland on the first display number whose lock file
# /tmp/.X<N>-lock it does not find, and takes that number's socket in
# /tmp/.X11-unix, removing it when it ends, whoever made it: in the machine's
# /tmp it would take the socket of a server that keeps no lock. In an empty
# tmpfs it finds none, and its socket and lock go where only the road looks;
# its /tmp/.X11-unix is the road's user's, as the compositors want it. KEEP:
# files and folders of the machine's /tmp the road goes on using (its working
# folder, a build tree there), bound into the new /tmp at the same place.
private_tmp()
{
    local keep tops=() top machine
    # Never the machine's own /tmp: only in a namespace its caller does not
    # share.
    [ "$(readlink /proc/self/ns/mnt)" != "$(readlink "/proc/$PPID/ns/mnt")" ] \
        || fail "no mount namespace of the road's own: run it through own-network.sh --mount"
    for keep in "$@"; do
        keep=$(realpath -m -- "$keep")
        [[ $keep == /tmp/?* ]] || continue
        top=${keep#/tmp/}
        tops+=("/tmp/${top%%/*}")
    done
    # The machine's /tmp, still reached through this descriptor once the
    # tmpfs covers it.
    exec {machine}</tmp || fail "cannot open /tmp"
    mount -t tmpfs -o mode=1777 qd740n-road-tmp /tmp || fail "cannot mount a /tmp of the road's own"
    PRIVATE_TMP=1
    mkdir -m 1777 /tmp/.X11-unix || fail "cannot make /tmp/.X11-unix in the road's /tmp"
    # (mount would turn the descriptor's path back into /tmp/NAME.)
    local source
    while IFS= read -r top; do
        source=/proc/self/fd/$machine/${top#/tmp/}
        if [ -d "$source" ]; then mkdir "$top"; else : >"$top"; fi || fail "cannot make $top"
        mount --no-canonicalize --rbind "$source" "$top" || fail "cannot keep $top in the road's /tmp"
    done < <([ ${#tops[@]} -eq 0 ] || printf '%s\n' "${tops[@]}" | sort -u)
    exec {machine}<&-
}

# leave_private_tmp: the machine's /tmp again, once the road's processes have
# ended, so that its working folder can be removed there.
leave_private_tmp()
{
    [ -n "$PRIVATE_TMP" ] || return 0
    umount --recursive --lazy /tmp || echo "cannot unmount the road's /tmp" >&2
    PRIVATE_TMP=""
}

# start_desktop DIR WIDTHxHEIGHT SCALE: starts the road's DESKTOP on a
# virtual screen of that size at that scale (1 or 2), its log in
# DIR/desktop.log, and waits until its windows can be asked about and its
# Xwayland manages the X screen. Exports WAYLAND_DISPLAY, DISPLAY and
# XAUTHORITY for the program.
start_desktop()
{
    local dir=$1 size=$2 scale=$3 socket=wayland-qd740n
    DESKTOP_LOG=$dir/desktop.log
    DESKTOP_START_DEADLINE=$((SECONDS + DESKTOP_START_TIMEOUT))
    mkdir -p "$dir/home" || fail "cannot make a home for the desktop"
    # A private system bus: gnome-shell will not start without one, and
    # neither compositor may reach the machine's.
    dbus-daemon --config-file="$TEST_BUS_CONFIG" --nofork --print-address=3 3>"$dir/system-bus" \
        >"$dir/system-bus.log" 2>&1 &
    DESKTOP_SYSTEM_BUS=$!
    starting "the desktop's system bus" file_written "$dir/system-bus"
    local environment=(HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/.config"
        XDG_DATA_HOME="$dir/home/.local/share" XDG_CACHE_HOME="$dir/home/.cache"
        DBUS_SYSTEM_BUS_ADDRESS="$(head -n 1 "$dir/system-bus")")
    unset DISPLAY WAYLAND_DISPLAY XAUTHORITY
    case $DESKTOP in
    gnome)
        # gnome-shell takes logind's seat wherever /run/systemd says there
        # is one; in a mount namespace of its own, a tmpfs hides that.
        unshare -m -- sh -c '[ ! -d /run/systemd ] || mount -t tmpfs tmpfs /run/systemd; exec "$@"' \
            sh env "${environment[@]}" gnome-shell --headless --wayland --unsafe-mode \
            --virtual-monitor "$size" --wayland-display "$socket" >"$DESKTOP_LOG" 2>&1 &
        DESKTOP_PID=$!
        ;;
    kwin)
        # kwin_wayland carries a file capability (cap_sys_resource) that a
        # container without it may not exec; a copy without it runs the same.
        local kwin=/usr/bin/kwin_wayland
        if ! "$kwin" --version >/dev/null 2>&1; then
            cp "$kwin" "$dir/kwin_wayland" || fail "cannot copy $kwin"
            kwin=$dir/kwin_wayland
        fi
        # kwin_scripting: what the road's scripts print goes to the log.
        env "${environment[@]}" QT_LOGGING_RULES='kwin_scripting.debug=true' "$kwin" --virtual \
            --no-lockscreen --xwayland --socket "$socket" --width "${size%x*}" \
            --height "${size#*x}" --scale "$scale" >"$DESKTOP_LOG" 2>&1 &
        DESKTOP_PID=$!
        ;;
    *) fail "no desktop '$DESKTOP'" ;;
    esac
    starting "$DESKTOP's Wayland socket" test -S "$XDG_RUNTIME_DIR/$socket"
    starting "$DESKTOP's Xwayland" xwayland_runs
    local display auth
    read -r display auth < <(desktop_xwayland)
    export WAYLAND_DISPLAY=$socket DISPLAY=$display
    [ "$auth" = - ] || export XAUTHORITY=$auth
    starting "$DESKTOP to manage the X screen $DISPLAY" x_answers
    # Scaled, KWin scales its X programs' windows itself; GNOME leaves them to
    # scale themselves and tells them the screen's resolution through the X
    # resources (its settings daemon does, which does not run here).
    if [ "$DESKTOP" = gnome ] && [ "$scale" != 1 ]; then
        echo "Xft.dpi: $((96 * scale))" | timeout 10 xrdb -merge \
            || fail "cannot set Xft.dpi on $DISPLAY"
    fi
    if [ "$DESKTOP" = gnome ]; then
        starting "gnome-shell to have started" gnome_started
        [ "$scale" = 1 ] || gnome_scale "$scale"
        # The shell starts in its overview; an operator's window opens on
        # the desktop.
        desktop_js '(Main.overview.hide(), "")' >/dev/null || fail "cannot leave the overview"
        starting "the overview to close" gnome_overview_gone
    else
        starting "KWin on the session bus" named_on_session_bus org.kde.KWin
    fi
    DESKTOP_START_DEADLINE=0
    log "$DESKTOP on $size at scale $scale: Wayland $WAYLAND_DISPLAY, Xwayland $DISPLAY"
}

gnome_started() { [ "$(desktop_js 'Main.layoutManager._startingUp')" = false ]; }
gnome_overview_gone() { [ "$(desktop_js 'Main.overview.visible')" = false ]; }

# gnome_scale SCALE: the virtual monitor at that scale, as the display
# settings set it (for this session only).
gnome_scale()
{
    local state serial mode
    state=$(timeout 10 gdbus call --session --dest org.gnome.Mutter.DisplayConfig \
        --object-path /org/gnome/Mutter/DisplayConfig \
        --method org.gnome.Mutter.DisplayConfig.GetCurrentState) || fail "no display state"
    serial=$(sed -E 's/^\(uint32 ([0-9]+),.*/\1/' <<<"$state")
    mode=$(grep -oE "'[0-9]+x[0-9]+@[0-9.]+'" <<<"$state" | head -n 1)
    timeout 10 gdbus call --session --dest org.gnome.Mutter.DisplayConfig \
        --object-path /org/gnome/Mutter/DisplayConfig \
        --method org.gnome.Mutter.DisplayConfig.ApplyMonitorsConfig "$serial" 1 \
        "[(0, 0, $scale.0, 0, true, [('Meta-0', $mode, @a{sv} {})])]" '@a{sv} {}' >/dev/null \
        || fail "mutter refused scale $scale for $mode"
}

# desktop_js EXPRESSION: the value of a JavaScript expression in the
# desktop's own scripting, where wins() lists the windows on it as
# { title, pid, minimised, frame {x, y, width, height}, minimise(), close() }
# and workArea() is the area its panels leave on the screen. Prints the
# value as text; false where the desktop gives no answer within 10 s.
desktop_js()
{
    local reply
    if [ "$DESKTOP" = gnome ]; then
        reply=$(timeout 10 gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
            --method org.gnome.Shell.Eval "
const wins = () => global.get_window_actors().map(a => a.meta_window).map(w => ({
    title: w.get_title(), pid: w.get_pid(), minimised: w.minimized, frame: w.get_frame_rect(),
    minimise: () => w.minimize(), close: () => w.delete(global.get_current_time()) }));
const workArea = () => global.workspace_manager.get_active_workspace().get_work_area_for_monitor(0);
String($1)") || return 1
        # (true, '"VALUE"'): the value as JSON text, quoted.
        [[ $reply == "(true, '\""*"\"')" ]] || return 1
        reply=${reply#"(true, '\""}
        echo "${reply%"\"')"}"
        return 0
    fi
    # KWin runs a script file once and prints through its log. Each has a
    # name of its own (this may run in a subshell of its own).
    local name="qd740n-$BASHPID-${EPOCHREALTIME/./}" file marker
    file=$WORK/$name.js marker="$name answer: "
    cat >"$file" <<EOF
const wins = () => workspace.clientList().map(c => ({
    title: c.caption, pid: c.pid, minimised: c.minimized, frame: c.frameGeometry,
    minimise: () => { c.minimized = true; }, close: () => c.closeWindow() }));
const workArea = () => workspace.clientArea(KWin.MaximizeArea, workspace.activeScreen,
    workspace.currentDesktop);
print("$marker" + String($1));
EOF
    timeout 10 dbus-send --session --print-reply --dest=org.kde.KWin /Scripting \
        org.kde.kwin.Scripting.loadScript "string:$file" "string:$name" >/dev/null || return 1
    timeout 10 dbus-send --session --print-reply --dest=org.kde.KWin /Scripting \
        org.kde.kwin.Scripting.start >/dev/null || return 1
    local deadline=$((SECONDS + 10))
    until reply=$(grep -a -m 1 -F "$marker" "$DESKTOP_LOG"); do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.05
    done
    timeout 10 dbus-send --session --print-reply --dest=org.kde.KWin /Scripting \
        org.kde.kwin.Scripting.unloadScript "string:$name" >/dev/null
    rm -f "$file"
    echo "${reply#*"$marker"}"
}

# desktop_windows PID: the program's windows as the desktop has them, one a
# line: "TITLE|MINIMISED|X Y WIDTH HEIGHT" (MINIMISED true or false; the
# frame included).
desktop_windows()
{
    desktop_js "wins().filter(w => w.pid == $1).map(w => [w.title, w.minimised,
        [w.frame.x, w.frame.y, w.frame.width, w.frame.height].join(' ')].join('|')).join(';')" \
        | tr ';' '\n'
}

# desktop_window PID TITLE: that window's line of desktop_windows; false
# while there is none.
desktop_window() { desktop_windows "$1" | grep -m 1 -F "$2|"; }

# desktop_do PID TITLE ACTION: minimise or close the window through the
# desktop, as its title-bar buttons, Alt+F4 or its window menu do.
desktop_do()
{
    local acted
    acted=$(desktop_js "wins().filter(w => w.pid == $1 && w.title == '$2').map(w => w.$3()).length")
    [ "$acted" = 1 ] || fail "$DESKTOP could not $3 the window '$2' (found ${acted:-no answer})"
}

desktop_work_area()
{
    desktop_js "[workArea().x, workArea().y, workArea().width, workArea().height].join(' ')"
}

# desktop_shot FILE: a screenshot of the whole screen, where the desktop
# hands one out to a script (gnome-shell; KWin's is for its own programs).
desktop_shot()
{
    [ "$DESKTOP" = gnome ] || return 0
    desktop_js "(() => { const f = imports.gi.Gio.File.new_for_path('$1').replace(null, false, 0, null);
        new imports.gi.Shell.Screenshot().screenshot(false, f, () => f.close(null)); return 'ok'; })()" \
        >/dev/null
}

# stop_desktop: ends the compositor with its Xwayland, and its system bus.
stop_desktop()
{
    [ -n "$DESKTOP_PID" ] || return 0
    # shellcheck disable=SC2046 # one process id a word
    end_processes "$DESKTOP_PID" $(descendants "$DESKTOP_PID")
    end_processes "$DESKTOP_SYSTEM_BUS"
    DESKTOP_PID=""
}
