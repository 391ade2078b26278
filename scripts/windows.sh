#!/usr/bin/env bash
# The Windows check: cross-builds the updater for 64-bit Windows with
# MinGW-w64 and a Qt built for it, runs every in-process test suite under
# Wine, starts the program in a window of its own (Wine on Xvfb), builds the
# NSIS installer, installs it silently, starts the installed program, drives
# it on a stand-in for the maker's DLL built as MSVC builds it in site\,
# shows what it makes of unusable libraries and half a site, checks that the
# installer and uninstaller refuse while it runs and keep site\ through
# installs and an uninstall (tests/windows/checks.sh), uninstalls it
# silently, and installs it into a folder of its own, where an upgrade must
# follow it.
#
# Qt for MinGW comes from an archive (qt6-mingw-6.4.2-x86_64-w64-mingw32.tar.gz),
# looked for at the path in QD740N_QT_MINGW_ARCHIVE or in ../shared/toolchains/
# beside the checkout; scripts/build-qt-mingw.sh makes one. It is unpacked
# into .cache/; the build goes to build-windows/, with a fresh Wine prefix in
# build-windows/wine and the window's screenshot in build-windows/screenshots/.
#
#   scripts/windows.sh            the whole check
#   scripts/windows.sh --archive  prints the archive's path, or fails saying
#                                 where it was looked for
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# shellcheck source=../tests/support/harness.sh
source tests/support/harness.sh

archive=${QD740N_QT_MINGW_ARCHIVE:-$root/../shared/toolchains/qt6-mingw-6.4.2-x86_64-w64-mingw32.tar.gz}
if [ ! -f "$archive" ]; then
    echo "No Qt for MinGW archive at $archive (set QD740N_QT_MINGW_ARCHIVE," \
        "or make one with scripts/build-qt-mingw.sh)" >&2
    exit 1
fi
archive=$(realpath "$archive")
if [ "${1:-}" = "--archive" ]; then
    echo "$archive"
    exit 0
fi

scripts/setup.sh windows
build=$root/build-windows
started=$SECONDS
step() { printf '\n=== windows: %s (%d s)\n' "$*" $((SECONDS - started)); }

# --- Qt for MinGW, unpacked once per archive ---------------------------------
qt=$root/.cache/qt6-mingw
sum=$(sha256sum "$archive" | cut -d' ' -f1)
if [ "$(cat "$qt.sha256" 2>/dev/null)" != "$sum" ]; then
    step "unpacking $archive"
    rm -rf "$qt" "$qt.sha256"
    mkdir -p "$root/.cache"
    tar xzf "$archive" -C "$root/.cache"
    [ -d "$qt/lib/cmake/Qt6" ] || { echo "$archive holds no qt6-mingw/ folder" >&2; exit 1; }
    echo "$sum" >"$qt.sha256"
fi

# --- A fresh Wine prefix -----------------------------------------------------
wine=/usr/lib/wine/wine64
export WINEPREFIX=$build/wine WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=,winemenubuilder.exe=d'
# No window of Wine's goes to the operator's display, and none of the
# programs below is started through a display it could find.
unset DISPLAY
# Every step that waits is bounded: a hung check must not cost CI its time.
readonly WINE_TIMEOUT=300
cleanup()
{
    stop_xvfb
    timeout 60 /usr/lib/wine/wineserver64 -k 2>/dev/null || true
}
trap cleanup EXIT

# wine_idle WHAT: waits, bounded, until every program of the prefix has ended.
wine_idle()
{
    timeout "$WINE_TIMEOUT" /usr/lib/wine/wineserver64 -w \
        || { echo "windows: $1 did not end within ${WINE_TIMEOUT}s" >&2; return 1; }
}

step "making a fresh Wine prefix"
timeout 60 /usr/lib/wine/wineserver64 -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
mkdir -p "$build"
timeout "$WINE_TIMEOUT" "$wine" wineboot -i >/dev/null 2>&1
wine_idle "wineboot"
# Variables whose names start with QT_ do not reach a program under Wine
# from its environment; from the prefix's they do. The tests run on the
# offscreen platform (the program below is started on the windows platform
# by name), which needs a font folder; Qt Test writes to the debugger channel
# unless told to write to standard error.
reg_env() { timeout 60 "$wine" reg add 'HKCU\Environment' /v "$1" /d "$2" /f >/dev/null; }
reg_env QT_QPA_PLATFORM offscreen
reg_env QT_FORCE_STDERR_LOGGING 1
reg_env QT_QPA_FONTDIR 'Z:\usr\share\fonts\truetype\dejavu'
wine_idle "reg add"

# --- Cross-build and the in-process suites -----------------------------------
step "cross-building into build-windows/"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$qt/lib/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$build" -j 2

# wait_for SECONDS WHAT COMMAND...: until COMMAND succeeds.
wait_for()
{
    local seconds=$1 what=$2
    local deadline=$((SECONDS + seconds))
    shift 2
    until "$@" >/dev/null 2>&1; do
        if [ "$SECONDS" -ge "$deadline" ]; then
            echo "windows: no $what after $seconds s" >&2
            return 1
        fi
        sleep 0.1
    done
}
# The windows platform, here for the guards' test and for the program
# below, needs an X display: a virtual one of its own, on a number no other
# X server on the machine uses.
rm -rf "$build/screenshots"
mkdir -p "$build/screenshots"
start_xvfb "$build/screenshots" 1024x768x24
DISPLAY=$XVFB_DISPLAY
export DISPLAY

step "running the test suites under Wine"
ctest --test-dir "$build" --output-on-failure -j 2

# --- The program's window ----------------------------------------------------
title="QD740N Firmware Update 4.5.6"
# Each X client bounded: one whose server has gone may hang.
window_shown() { timeout 10 xdotool search --onlyvisible --name "^$title\$"; }
# painted ID: the window shows more than its background (its first paint
# follows its mapping).
painted()
{
    [ "$(timeout 10 import -window "$1" png:- | timeout 10 convert - -format %k info:)" -gt 16 ]
}

# show_window NAME EXE [VARIABLE=VALUE...]: starts EXE in its own folder on
# the windows platform, waits for its window, takes a screenshot
# (screenshots/NAME.png), asks it to close as Windows would (taskkill sends
# WM_CLOSE) and checks that it ended with status 0.
show_window()
{
    local name=$1 exe=$2
    shift 2
    local log=$build/screenshots/$name.log
    (cd "$(dirname "$exe")" && exec env "$@" "$wine" "$exe" -platform windows) >"$log" 2>&1 &
    local pid=$! window
    wait_for 60 "window \"$title\" of $exe" window_shown || { cat "$log" >&2; return 1; }
    window=$(window_shown | head -n 1)
    wait_for 30 "first paint of the window" painted "$window" || return 1
    timeout 30 import -window root "$build/screenshots/$name.png"
    timeout 60 "$wine" taskkill /im "$(basename "$exe")" >/dev/null
    local deadline=$((SECONDS + 60))
    while running "$pid" && [ "$SECONDS" -lt "$deadline" ]; do
        sleep 0.1
    done
    if running "$pid"; then
        echo "windows: $exe did not end within 60 s of a close request" >&2
        end_processes "$pid"
        cat "$log" >&2
        return 1
    fi
    local status=0
    wait "$pid" || status=$?
    if [ "$status" -ne 0 ]; then
        echo "windows: $exe ended with status $status on a close request" >&2
        cat "$log" >&2
        return 1
    fi
    echo "Window \"$title\" shown and closed: $build/screenshots/$name.png"
}

shots=$build/screenshots
# shellcheck source=tests/windows/checks.sh
source "$root/tests/windows/checks.sh"

step "starting the program on the windows platform"
show_window build "$build/bin/qd740n-updater.exe" "WINEPATH=$(cat "$build/winepath.txt")"

# --- The installer -----------------------------------------------------------
step "building the installer"
rm -rf "$build/package"
cpack --config "$build/CPackConfig.cmake" -B "$build/package" >/dev/null
installer=$build/package/qd740n-updater-4.5.6-win64.exe
[ -f "$installer" ] || { echo "windows: no installer $installer" >&2; exit 1; }

step "building a stand-in for the maker's DLL as MSVC builds it"
build_maker_dlls

step "installing it silently"
timeout "$WINE_TIMEOUT" "$wine" "$installer" /S
wine_idle "the installer"
folder="$WINEPREFIX/drive_c/Program Files/QD740N Firmware Updater"
for file in qd740n-updater.exe qd_api.dll Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll \
    platforms/qwindows.dll styles/qwindowsvistastyle.dll libstdc++-6.dll libgcc_s_seh-1.dll \
    libwinpthread-1.dll zlib1.dll firmware/qd740n_boot_4.img firmware/qd740n_run_5.img \
    firmware/qd740n_fpga_6.rbf firmware/SHA256SUMS LICENSES.txt Uninstall.exe; do
    [ -f "$folder/$file" ] || { echo "windows: not installed: $file" >&2; exit 1; }
done
shortcut=$(find "$WINEPREFIX/drive_c" -name 'QD740N firmware updater.lnk' | head -n 1)
[ -n "$shortcut" ] || { echo "windows: no Start-menu shortcut" >&2; exit 1; }
# The shortcut starts the program in the folder that holds firmware/: its
# working folder is the one string that names that folder and nothing in it.
if ! strings -e l "$shortcut" | grep -q 'C:\\Program Files\\QD740N Firmware Updater$'; then
    echo "windows: the shortcut's working folder is not the installation folder:" >&2
    strings -e l "$shortcut" >&2
    exit 1
fi
echo "Installed: $(find "$folder" -type f | wc -l) files, $(du -sh "$folder" | cut -f1)"

# Started from the installation alone: no build folder on its DLL path.
show_window installed "$folder/qd740n-updater.exe"

check_sites

step "uninstalling it silently"
timeout "$WINE_TIMEOUT" "$wine" "$folder/Uninstall.exe" /S
wine_idle "the uninstaller"
wait_for 30 "removal of $folder" test ! -e "$folder/qd740n-updater.exe"
if [ -e "$folder" ] || [ -e "$shortcut" ]; then
    echo "windows: the uninstaller left files behind:" >&2
    find "$folder" "$shortcut" >&2 2>/dev/null
    exit 1
fi

step "an installation in a folder of its own, and its upgrade"
own_folder_upgrade

step "done: $(du -h "$installer" | cut -f1) installer $installer"
