#!/usr/bin/env bash
# Installs the project into a temporary prefix and starts the installed
# launcher, reached through a relative symbolic link on PATH, from an unrelated
# working directory on a virtual X display. The program must come up with its
# window (so it found its device library), run in the installed data folder
# with the installed library loaded, and bootstrap a bare device from
# its private copy of ./firmware/qd740n_boot_4.img when Check Versions is pressed (so it found its
# images), with its window icon set. The checksum list, in the build's
# firmware folder and installed beside the images, passes sha256sum -c.
# Without a device file named, the installed copy finds no device; without
# a display it says so and ends.
#
# Then a site's own device library: the program loads that library and runs
# in the site's data folder when both are there. It refuses to start when
# only one of the two is there or the site's prefix is relative, and the
# launcher when the data folder cannot be entered: on standard error and, that
# being no terminal here, in a box on the screen, which shows markup in the
# text as it stands. The site's folders are looked for under
# $QD740N_LOCAL_PREFIX, here a temporary folder; without that library and its
# folder the installed one is used.
#
# usage: install_test.sh CMAKE BUILD_DIR VERSION
set -euo pipefail

cmake=$1
build=$2
version=$3

# shellcheck source=../support/harness.sh
source "$(dirname "$0")/../support/harness.sh"

pids=()
tmp=$(mktemp -d)
# Everything started here ends, the program within a grace of SIGTERM.
cleanup() {
    # shellcheck disable=SC2046 # one process id a word
    end_processes "${pids[@]}" $(descendants "${pids[@]}")
    stop_xvfb
    rm -rf "$tmp"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    for log in "$tmp"/*.log "$tmp/trace.txt"; do
        [ -e "$log" ] && { echo "--- ${log##*/}" >&2; cat "$log" >&2; }
    done
    exit 1
}

# Runs "$@" until it succeeds, for at most $1 seconds; gives up early when the
# process $2 has ended.
wait_until() {
    local seconds=$1 pid=$2
    shift 2
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        running "$pid" || return 1
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

for tool in Xvfb:xvfb xdotool:xdotool; do
    command -v "${tool%%:*}" >/dev/null || fail "${tool%%:*} is missing (Debian package ${tool#*:})"
done

# A prefix with a space in it, so unquoted paths in the launcher show up.
prefix="$tmp/pre fix"
"$cmake" --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 \
    || fail "cmake --install failed"
launcher="$prefix/bin/qd740n-updater"
[ -x "$launcher" ] || fail "no launcher at bin/qd740n-updater"
for firmware in "$build/bin/firmware" "$prefix/share/qd740n-updater/firmware"; do
    (cd "$firmware" && sha256sum --quiet -c SHA256SUMS) >"$tmp/sha256sum.log" 2>&1 \
        || fail "sha256sum -c SHA256SUMS fails in $firmware"
done

# Without any display, the program says so in one line and ends with status
# 1, before the toolkit would abort.
status=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$tmp" "$launcher" \
    >"$tmp/no-display.log" 2>&1 || status=$?
[ "$status" = 1 ] && [ "$(wc -l <"$tmp/no-display.log")" = 1 ] \
    && grep -q '^qd740n-updater: There is no display to show the window on' "$tmp/no-display.log" \
    || fail "without a display the program ended with status $status"

mkdir "$tmp/links" "$tmp/elsewhere"
ln -s "../pre fix/bin/qd740n-updater" "$tmp/links/qd740n-updater"

# A virtual display of its own, on a number no other X server uses.
start_xvfb "$tmp" 1024x768x24 2>"$tmp/display.log" || fail "Xvfb did not start"
export DISPLAY=$XVFB_DISPLAY
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR="$tmp/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
# No site library yet.
site="$tmp/site"
export QD740N_LOCAL_PREFIX="$site"

# A bare device: no boot region, so Check Versions ends in a bootstrap.
cat >"$tmp/device.json" <<'JSON'
{
    "attached": true,
    "serial": 740123,
    "boot": null,
    "run": 5,
    "fpga": 6,
    "timeScale": 0
}
JSON
export QD740N_SIM_DEVICE="$tmp/device.json"
export QD740N_SIM_TRACE="$tmp/trace.txt"

# An operator's LD_LIBRARY_PATH that names a folder holding another
# library (a maker's SDK, say) chooses nothing.
mkdir "$tmp/sdk"
cp "$prefix/lib/qd740n-updater/libqd_api.so" "$tmp/sdk/"
cd "$tmp/elsewhere"
PATH="$tmp/links:$PATH" LD_LIBRARY_PATH="$tmp/sdk" qd740n-updater >"$tmp/app.log" 2>&1 &
app=$!
pids+=("$app")

title="QD740N Firmware Update $version"
# Each X client bounded: one whose server has gone may hang.
find_window() {
    window=$(timeout 10 xdotool search --onlyvisible --name "^${title//./\\.}\$" 2>/dev/null | head -n1)
    [ -n "$window" ]
}
wait_until 30 "$app" find_window || fail "no window titled \"$title\""

# The launcher has exec'd the program: same process, running in the data
# folder with the installed device library.
[ "$(readlink "/proc/$app/cwd")" = "$prefix/share/qd740n-updater" ] \
    || fail "working directory is $(readlink "/proc/$app/cwd")"
grep -qF "$prefix/lib/qd740n-updater/libqd_api.so" "/proc/$app/maps" \
    || fail "the installed libqd_api.so is not loaded"
! grep -qF "$tmp/sdk/" "/proc/$app/maps" || fail "the library in LD_LIBRARY_PATH is loaded"
grep -q '^qdGetAPIVersion()' "$tmp/trace.txt" || fail "the device library was not called"
! grep -q '^qdOpenBootstrapDevice' "$tmp/trace.txt" || fail "bootstrapped before Check Versions"

# Focus the window: the log takes the focus, Tab moves it on to Check
# Versions, and Space presses it.
timeout 10 xdotool windowfocus --sync "$window" || fail "cannot focus the window"
timeout 10 xdotool key --delay 50 Tab space || fail "cannot type into the window"

# It is handed its private copy of the boot image from that folder.
expected='^qdOpenBootstrapDevice\("/[^"]*/flow-[^"]*/firmware/qd740n_boot_4\.img"\) -> 0$'
wait_until 30 "$app" grep -qxE "$expected" "$tmp/trace.txt" \
    || fail "the trace has no line: $expected"

# The icon built into the program reaches the window system.
icon=$(timeout 10 xprop -id "$window" -len 8 _NET_WM_ICON)
grep -Eq 'Icon \([1-9][0-9]* x [1-9][0-9]*\)' <<<"$icon" || fail "the window has no icon: $icon"

echo "installed launcher ran from $prefix and bootstrapped from its firmware folder"
end_processes "$app"

# With no site and no device file named, the installed copy finds no device,
# and its banner says so: the packaged simulator stands in for nothing.
rm -f "$tmp/trace.txt"
(cd "$tmp/elsewhere" && unset QD740N_SIM_DEVICE && exec "$launcher") >"$tmp/no-device.log" 2>&1 &
app=$!
pids+=("$app")
wait_until 30 "$app" find_window || fail "no device: no window titled \"$title\""
grep -qxF 'qdGetAPIVersion() -> "1.0.0 (SIMULATED QD740N, no real device is touched; no device attached: QD740N_SIM_DEVICE names no device file)"' \
    "$tmp/trace.txt" || fail "no device: the banner's version text is: $(head -n1 "$tmp/trace.txt")"
timeout 10 xdotool windowfocus --sync "$window" || fail "no device: cannot focus the window"
timeout 10 xdotool key --delay 50 Tab space || fail "no device: cannot type into the window"
no_bootstrap='^qdOpenBootstrapDevice\(.*\) -> [1-9]'
wait_until 30 "$app" grep -qE "$no_bootstrap" "$tmp/trace.txt" \
    || fail "no device: the check found a device: $(cat "$tmp/trace.txt")"
! grep -qE '^(qdOpenDevice|qdBootOpenDevice)\(\) -> 0$' "$tmp/trace.txt" \
    || fail "no device: a device was opened: $(cat "$tmp/trace.txt")"
echo "installed copy with no site and no device file found no device"
end_processes "$app"

# expect_refusal WHAT TITLE TEXT: started as from the desktop menu (standard
# error not a terminal), the program does not come up: it says TEXT on
# standard error and in a box titled TITLE (the program's own "Warning", or
# the launcher's), which is answered here, and ends with 1.
box_shown() {
    box=$(timeout 10 xdotool search --onlyvisible --name "^$box_title\$" 2>/dev/null | head -n1)
    [ -n "$box" ]
}
ended() { ! running "$1"; }
expect_refusal() {
    local status=0 refused
    box_title=$2
    "$launcher" >"$tmp/refused.log" 2>&1 &
    refused=$!
    pids+=("$refused")
    wait_until 30 "$refused" box_shown || fail "$1: no box on the screen"
    timeout 10 xdotool windowfocus --sync "$box" key Return || fail "$1: cannot answer the box"
    wait_until 30 "$$" ended "$refused" || fail "$1: the program did not end once its box was answered"
    wait "$refused" || status=$?
    [ "$status" -eq 1 ] || fail "$1: the program ended with status $status"
    grep -qF "$3" "$tmp/refused.log" || fail "$1: it said: $(cat "$tmp/refused.log")"
    ! grep -q '^qdGetAPIVersion' "$tmp/trace.txt" 2>/dev/null || fail "$1: the device library was called"
}
rm -f "$tmp/trace.txt"

# A site's firmware folder without its library, its library without its
# firmware folder, one the user cannot read, a relative prefix: each would
# run the program on the packaged simulator, or on the site's images with it.
# (The program's rules have a table of their own in tst_console; these are
# the rules as the installed launcher and program meet them.)
mkdir -p "$site/share/qd740n-updater/firmware"
expect_refusal "the site's images without their library" Warning \
    "firmware folder $site/share/qd740n-updater/firmware/ is installed, but its library"
rmdir "$site/share/qd740n-updater/firmware"
mkdir -p "$site/lib/qd740n-updater"
cp "$prefix/lib/qd740n-updater/libqd_api.so" "$site/lib/qd740n-updater/"
expect_refusal "the site's library without its images" Warning \
    "$site/share/qd740n-updater/firmware/ is missing"
QD740N_LOCAL_PREFIX=site expect_refusal "a relative prefix" Warning \
    'QD740N_LOCAL_PREFIX must be an absolute folder, not "site".'

# A data folder that cannot be entered is refused by the launcher, the folder
# named, rather than ending it without a box.
mv "$prefix/share/qd740n-updater" "$prefix/share/moved-away"
QD740N_LOCAL_PREFIX="$tmp/no site" expect_refusal "the packaged data folder gone" \
    "QD740N firmware updater" "cannot enter the data folder $prefix/bin/../share/qd740n-updater"
mv "$prefix/share/moved-away" "$prefix/share/qd740n-updater"

# The box shows its text as plain text: markup from the environment is shown
# as it stands, as a screen reader reads the box (AT-SPI, on a session bus of
# this test's own) and so as it is drawn.
dbus-daemon --config-file="$TEST_BUS_CONFIG" --nofork --print-address=3 3>"$tmp/bus" >"$tmp/bus.log" 2>&1 &
pids+=($!)
wait_until 20 "${pids[-1]}" test -s "$tmp/bus" || fail "dbus-daemon did not start"
DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$tmp/bus")
export DBUS_SESSION_BUS_ADDRESS
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$tmp/at-spi.log" 2>&1 &
pids+=($!)
a11y_bus_named() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus 2>/dev/null | grep -q 'boolean true'
}
wait_until 20 "${pids[-1]}" a11y_bus_named || fail "the AT-SPI bus launcher did not start"
markup='<b>site</b>'
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QD740N_LOCAL_PREFIX=$markup "$launcher" >"$tmp/refused.log" 2>&1 &
refused=$!
pids+=("$refused")
shown=$(timeout 40 /usr/bin/python3 "$(dirname "$0")/../e2e/a11y.py" --pid "$refused" \
    --timeout 30 box) || fail "markup: the box cannot be read"
[ "$shown" = "QD740N_LOCAL_PREFIX must be an absolute folder, not \"$markup\"." ] \
    || fail "markup: the box shows: $shown"
box_title=Warning
wait_until 30 "$refused" box_shown || fail "markup: no box on the screen"
timeout 10 xdotool windowfocus --sync "$box" key Return || fail "markup: cannot answer the box"
wait_until 30 "$$" ended "$refused" || fail "markup: the program did not end once its box was answered"

# With the folder, the program loads the site's library, not the installed one.
mkdir -p "$site/share/qd740n-updater/firmware"
cp "$prefix/share/qd740n-updater/firmware/"* "$site/share/qd740n-updater/firmware/"
"$launcher" >"$tmp/site.log" 2>&1 &
app=$!
pids+=("$app")
device_library_mapped() {
    grep -q '/libqd_api\.so$' "/proc/$app/maps"
}
wait_until 30 "$app" device_library_mapped || fail "the program with the site's library did not start"
grep -qF "$site/lib/qd740n-updater/libqd_api.so" "/proc/$app/maps" \
    || fail "the site's libqd_api.so is not loaded: $(grep libqd_api "/proc/$app/maps")"
! grep -qF "$prefix/lib/qd740n-updater/libqd_api.so" "/proc/$app/maps" \
    || fail "the installed libqd_api.so is loaded beside the site's"
[ "$(readlink "/proc/$app/cwd")" = "$site/share/qd740n-updater" ] \
    || fail "with the site's library, the working directory is $(readlink "/proc/$app/cwd")"

echo "the launcher refused the site's library without its firmware and ran on it with them"
