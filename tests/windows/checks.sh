# shellcheck shell=bash disable=SC2154 # root, build, wine, folder, installer, title, shots: scripts/windows.sh
# The Windows check's steps for a site's own library, sourced by
# scripts/windows.sh, which sets root, build, wine, folder (the installation
# folder), installer, title and shots, and defines step and wait_for.
#
# The maker's DLL is built by MSVC; a stand-in built as MSVC builds it
# (makerdll.cpp, with clang-cl and lld-link, without the C runtime) must
# export exactly the MSVC names the program's binding knows. With that
# stand-in in site\ and the images in site\firmware\, the installed program,
# started as its shortcut starts it, runs a whole check and update. A DLL
# lacking a function and a file that is not a DLL are named in the banner and
# touch no device; half a site is refused in a box with status 1. The
# installer and the uninstaller refuse while the program runs, and no
# install, reinstall or uninstall changes site\.

maker=$build/maker-dll
site_check=$build/site-check

clang_cl=clang-cl-14
lld_link=lld-link-14
llvm_readobj=llvm-readobj-14
llvm_dlltool=llvm-dlltool-14

check_failed()
{
    echo "windows: $*" >&2
    exit 1
}

# windows_path PATH: the path as a program under Wine sees it (drive Z: is /).
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# --- The stand-in for the maker's DLL ----------------------------------------

# msvc_exports DLL: the names DLL exports, one a line, sorted.
msvc_exports() { "$llvm_readobj" --coff-exports "$1" | sed -n 's/^ *Name: \(.\+\)$/\1/p' | sort; }

# The names the binding looks for in an MSVC build: MSVC's decorated name of
# each C++ function, and the plain name of each function declared extern "C"
# (the entries that have no other).
binding_msvc_names()
{
    {
        grep -o '"?qd[^"]*"' "$root/device/devicelibrary.cpp"
        grep -o '{ "qd[A-Za-z]*" }' "$root/device/devicelibrary.cpp" | grep -o '"qd[A-Za-z]*"'
    } | tr -d '"' | sort
}

# msvc_dll OUTPUT SOURCE [LIBRARY...] [-- DEFINE...]: a DLL built from
# tests/windows/SOURCE as MSVC builds it, without the C runtime, with its
# import library beside it (OUTPUT.lib).
msvc_dll()
{
    local output=$1 source=$2 libraries=() defines=()
    shift 2
    while [ $# -gt 0 ] && [ "$1" != -- ]; do
        libraries+=("$1")
        shift
    done
    [ $# -gt 0 ] && shift && defines=("$@")
    "$clang_cl" --target=x86_64-pc-windows-msvc /nologo /c /O2 /GS- /W4 /WX \
        -I"$root/device" "${defines[@]}" /Fo"$output.obj" -- "$root/tests/windows/$source"
    "$lld_link" /nologo /dll /noentry /nodefaultlib /out:"$output" /implib:"$output.lib" \
        "$output.obj" "${libraries[@]}"
}

# build_maker_dlls: the stand-in, whole (maker-dll/whole/qd_api.dll) and
# lacking qdBootWriteFPGAProgram (maker-dll/lacking/qd_api.dll), the DLL both
# need beside them (maker-dll/support/) and a decoy of it (maker-dll/decoy/),
# and a file that is not a DLL (maker-dll/not-a-dll/qd_api.dll); checks the
# stand-ins' exports against the binding's names.
build_maker_dlls()
{
    rm -rf "$maker"
    mkdir -p "$maker/whole" "$maker/lacking" "$maker/not-a-dll" "$maker/support" "$maker/decoy"
    "$llvm_dlltool" -m i386:x86-64 -d "$root/tests/windows/kernel32.def" -l "$maker/kernel32.lib"
    # The DLL the stand-in needs beside it, and a decoy of the same name.
    msvc_dll "$maker/support/qd740n_maker_support.dll" makersupport.cpp
    msvc_dll "$maker/decoy/qd740n_maker_support.dll" makersupport.cpp -- -DQD740N_DECOY
    local support=("$maker/kernel32.lib" "$maker/support/qd740n_maker_support.dll.lib")
    msvc_dll "$maker/whole/qd_api.dll" makerdll.cpp "${support[@]}"
    msvc_dll "$maker/lacking/qd_api.dll" makerdll.cpp "${support[@]}" -- -DQD740N_LACKING_FPGA_WRITE
    printf 'The QD740N updater: not a DLL\r\n' >"$maker/not-a-dll/qd_api.dll"

    "$llvm_readobj" --coff-exports "$maker/whole/qd_api.dll" >"$maker/whole/exports.txt"
    local expected
    expected=$(binding_msvc_names)
    [ "$(wc -l <<<"$expected")" -eq 17 ] \
        || check_failed "the binding's table does not hold 17 MSVC names: $expected"
    [ "$(msvc_exports "$maker/whole/qd_api.dll")" = "$expected" ] \
        || check_failed "the stand-in's exports are not the binding's MSVC names:
$(diff <(echo "$expected") <(msvc_exports "$maker/whole/qd_api.dll"))"
    [ "$(msvc_exports "$maker/lacking/qd_api.dll")" = "$(grep -v qdBootWriteFPGAProgram <<<"$expected")" ] \
        || check_failed "the stand-in lacking a function exports: $(msvc_exports "$maker/lacking/qd_api.dll")"
    echo "The MSVC stand-in exports the binding's 17 MSVC names: $maker/whole/exports.txt"
}

# --- The installed program ---------------------------------------------------

# The operator's guide in doc\ with every picture it shows, and a Start-menu
# entry beside the program's that opens it.
guide_shortcut=""
installed_guide()
{
    local guide=$folder/doc/operator-guide.html picture
    [ -f "$guide" ] || check_failed "no operator's guide $guide"
    while read -r picture; do
        [ -f "$folder/doc/$picture" ] || check_failed "the operator's guide lacks $picture"
    done < <(grep -o 'src="images/[^"]*"' "$guide" | sed 's/^src="//; s/"$//')
    guide_shortcut=$(find "$WINEPREFIX/drive_c" -name "Operator's guide.lnk" | head -n 1)
    [ -n "$guide_shortcut" ] || check_failed "no Start-menu entry for the operator's guide"
    # The link holds its target's whole path as one string of 8-bit characters.
    # shellcheck disable=SC1003 # a Windows path
    local target='C:\Program Files\QD740N Firmware Updater\doc\operator-guide.html'
    strings "$guide_shortcut" | grep -qxF "$target" \
        || check_failed "the guide's Start-menu entry opens: $(strings "$guide_shortcut")"
    echo "The operator's guide is installed with its pictures and a Start-menu entry"
}

# make_site LIBRARY FIRMWARE: site\ as a site leaves it: LIBRARY (a file, or
# "" for none) as site\qd_api.dll, with the DLL it needs and the simulated
# device beside it for the stand-in to hand its calls to, and, when FIRMWARE
# is "firmware", the images in site\firmware\.
make_site()
{
    rm -rf "$folder/site"
    mkdir -p "$folder/site"
    if [ -n "$1" ]; then
        cp "$1" "$folder/site/qd_api.dll"
        cp "$maker/support/qd740n_maker_support.dll" "$folder/site/"
        cp "$build/bin/qd_api.dll" "$folder/site/qd_api_simulator.dll"
    fi
    if [ "$2" = firmware ]; then
        mkdir "$folder/site/firmware"
        cp "$build/bin/firmware"/* "$folder/site/firmware/"
    fi
}

# snapshot FOLDER: every file below FOLDER with its checksum.
snapshot() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 sha256sum); }

run_pid=""
# run_installed NAME DEVICE: starts the installed program as its shortcut
# does (in the installation folder) on the windows platform, in the
# background, on a simulated device file holding DEVICE and a trace of its own
# (site-check/NAME.json, NAME.trace), with the DLLs it loads in its output
# (shots/NAME.log). NAME.status gets its exit status once it has ended.
run_installed()
{
    local name=$1
    rm -f "$site_check/$name".*
    mkdir -p "$site_check"
    printf '%s\n' "$2" >"$site_check/$name.json"
    (
        cd "$folder" || exit 1
        status=0
        WINEDEBUG=-all,+loaddll QD740N_SIM_DEVICE="$(windows_path "$site_check/$name.json")" \
            QD740N_SIM_TRACE="$(windows_path "$site_check/$name.trace")" \
            "$wine" "$folder/qd740n-updater.exe" -platform windows >"$shots/$name.log" 2>&1 \
            || status=$?
        echo "$status" >"$site_check/$name.status"
    ) &
    run_pid=$!
}

# close_installed: asks the running program to close as taskkill does: a
# close request to each of its windows.
close_installed() { timeout 30 "$wine" taskkill /im qd740n-updater.exe >/dev/null 2>&1 || true; }

# ended NAME STATUS: waits for the program of that run to end and checks its
# exit status. A program that does not end is killed with the prefix's other
# processes.
ended()
{
    local name=$1 expected=$2
    if ! wait_for 30 "end of the program ($name)" test -s "$site_check/$name.status"; then
        timeout 30 /usr/lib/wine/wineserver64 -k || true
        wait_for 30 "end of the program ($name) once killed" test -s "$site_check/$name.status" || true
    fi
    wait "$run_pid" 2>/dev/null || true
    local status
    status=$(cat "$site_check/$name.status" 2>/dev/null)
    [ "$status" = "$expected" ] \
        || check_failed "$name: the program ended with status ${status:-none}, not $expected:
$(cat "$shots/$name.log")"
}

# X requests that may wait on a window Wine is making or unmaking are bounded.
window_named() { timeout 5 xdotool search --name "$1"; }
main_window() { timeout 5 xdotool search --onlyvisible --name "^$title\$" | head -n 1; }
busy_dialog_gone() { ! window_named '^Please Wait$'; }
# The main window has the keyboard again: no dialog or box holds it.
main_window_focused() { [ "$(timeout 5 xdotool getwindowfocus)" = "$(main_window)" ]; }
flow_ended() { busy_dialog_gone && main_window_focused; }
traced() { grep -q "^$2(" "$site_check/$1.trace" 2>/dev/null; }
no_device_call() { [ ! -s "$site_check/$1.trace" ] || check_failed "$1: the device was called: $(cat "$site_check/$1.trace")"; }

# settled_screenshot NAME: a screenshot (shots/NAME.png), once two taken in
# a row are the same and show text (a window's plain background and frame
# have a few colours, anti-aliased text many): the window has painted what
# it shows.
settled_screenshot()
{
    local shot=$shots/$1.png previous="" current i
    for ((i = 0; i < 50; i++)); do
        import -window root "$shot"
        current=$(sha256sum <"$shot")
        if [ "$current" = "$previous" ] && [ "$(identify -format %k "$shot")" -ge 16 ]; then
            return 0
        fi
        previous=$current
        sleep 0.2
    done
    check_failed "the screen did not settle for $shot"
}

# keys WINDOW KEY...: typed into that window.
keys()
{
    local window=$1
    shift
    timeout 10 xdotool windowfocus --sync "$window"
    timeout 10 xdotool key "$@"
}

# press_until RUN CALL KEY...: types the keys into the main window until the
# device sees CALL: a key typed before the window has the button it is meant
# for in focus is lost, and is typed again.
press_until()
{
    local name=$1 call=$2 attempt
    shift 2
    for attempt in 1 2 3; do
        keys "$(main_window)" "$@"
        wait_for 10 "$call after the keys $* (attempt $attempt)" traced "$name" "$call" && return 0
    done
    check_failed "$name: $call never came"
}

# A whole site: the MSVC-built library in site\ with the DLL it needs beside
# it, and the images in site\firmware\. Check Versions, then Update, pressed
# with the keyboard as an operator would: the device ends at 4.5.6 with every
# component written from site\firmware\ (the installation's own images are
# moved away for the run), by the library in site\ and no other qd_api.dll.
# A decoy of the DLL it needs, in the installation folder, is passed over.
site_update()
{
    make_site "$maker/whole/qd_api.dll" firmware
    mkdir -p "$site_check"
    mv "$folder/firmware" "$site_check/installation-firmware"
    cp "$maker/decoy/qd740n_maker_support.dll" "$folder/"
    run_installed site-update '{"serial": 740123, "boot": 3, "run": 4, "fpga": 5, "timeScale": 0}'
    wait_for 60 "window \"$title\"" main_window || check_failed "no window: $(cat "$shots/site-update.log")"
    wait_for 30 "the banner's library call" traced site-update qdGetAPIVersion
    settled_screenshot site-start
    # The log has the focus at start; Check Versions is next.
    press_until site-update qdOpenDevice Tab space
    wait_for 60 "the end of the check" traced site-update qdCloseDevice
    wait_for 60 "the check's busy dialog to close" flow_ended
    settled_screenshot site-checked
    # The check gave Update the focus.
    press_until site-update qdBootOpenDeviceBySerial space
    wait_for 60 "the update's last write" traced site-update qdBootWriteFPGAProgram
    wait_for 60 "the update's busy dialog to close" flow_ended
    settled_screenshot site-updated
    close_installed
    ended site-update 0
    mv "$site_check/installation-firmware" "$folder/firmware"
    rm "$folder/qd740n_maker_support.dll"

    local firmware
    firmware=$(python3 -c 'import json, sys; d = json.load(open(sys.argv[1])); print(d["boot"], d["run"], d["fpga"])' \
        "$site_check/site-update.json")
    [ "$firmware" = "4 5 6" ] || check_failed "the device ends at $firmware, not 4 5 6"
    local expected='qdGetAPIVersion() -> "1.0.0 (SIMULATED QD740N, no real device is touched)"
qdOpenDevice() -> 0
qdGetFirmwareVersion(1) -> 0
qdGetDeviceInfo(1) -> 0
qdCloseDevice(1) -> 0
qdBootOpenDeviceBySerial(740123) -> 0
qdBootClearBootSector(2) -> 0
qdBootWriteBootSector(2, "<copy>qd740n_boot_4.img", 740123) -> 0
qdBootClearRunSector(2) -> 0
qdBootWriteRunSector(2, "<copy>qd740n_run_5.img", -1) -> 0
qdBootClearFPGAProgram(2) -> 0
qdBootWriteFPGAProgram(2, "<copy>qd740n_fpga_6.rbf") -> 0
qdBootCloseDevice(2) -> 0
library unloaded'
    # The library is handed the flow's private copies of the images, in the
    # user's temporary folder; the update leaves its boot-loader handle open,
    # and the library's exit handler closes it as the program ends.
    [ "$(tr -d '\r' <"$site_check/site-update.trace" \
        | sed -E 's#"[A-Za-z]:[^"]*[\\/]qd740n-updater[\\/]+flow-[^"\\/]*[\\/]+firmware[\\/]+#"<copy>#')" \
        = "$expected" ] \
        || check_failed "the trace is not a whole check and update:
$(cat "$site_check/site-update.trace")"
    grep -qF 'Loaded L"C:\\Program Files\\QD740N Firmware Updater\\site\\qd_api.dll"' \
        "$shots/site-update.log" || check_failed "site\\qd_api.dll was not loaded"
    ! grep -qF 'Loaded L"C:\\Program Files\\QD740N Firmware Updater\\qd_api.dll"' \
        "$shots/site-update.log" || check_failed "the installation's own qd_api.dll was loaded"
    grep -qF 'Loaded L"C:\\Program Files\\QD740N Firmware Updater\\site\\qd740n_maker_support.dll"' \
        "$shots/site-update.log" || check_failed "site\\qd740n_maker_support.dll was not loaded"
    echo "A whole check and update on site\\qd_api.dll built as MSVC builds it: 4.5.6"
}

# unusable_site NAME LIBRARY: a site whose library cannot be used. The
# window opens, names it in the banner (shots/NAME.png), touches no device
# and closes with status 0.
unusable_site()
{
    local name=$1
    make_site "$2" firmware
    run_installed "$name" '{"serial": 740123, "boot": 3, "run": 4, "fpga": 5, "timeScale": 0}'
    wait_for 60 "window \"$title\"" main_window || check_failed "$name: no window: $(cat "$shots/$name.log")"
    settled_screenshot "$name"
    close_installed
    ended "$name" 0
    no_device_call "$name"
    echo "$name: shown in the banner, no device call, status 0: $shots/$name.png"
}

# half_site NAME LIBRARY FIRMWARE: half a site, refused in a box
# (shots/NAME.png) with status 1 before anything touches a device.
half_site()
{
    local name=$1
    make_site "$2" "$3"
    run_installed "$name" '{"serial": 740123, "boot": 3, "run": 4, "fpga": 5, "timeScale": 0}'
    wait_for 60 "the box that refuses half a site" window_named '^Warning$' \
        || check_failed "$name: no box: $(cat "$shots/$name.log")"
    [ -z "$(main_window)" ] || check_failed "$name: the main window opened"
    settled_screenshot "$name"
    keys "$(window_named '^Warning$' | head -n 1)" Return # its one button, OK
    ended "$name" 1
    no_device_call "$name"
    echo "$name: refused in a box, no device call, status 1: $shots/$name.png"
}

# refused STATUS: a refusal's exit status: not 0, and not timeout's 124.
refused() { [ "$1" -ne 0 ] && [ "$1" -ne 124 ]; }

# While the program runs, the installer and the uninstaller (run in place,
# so that its own status is seen) refuse with a non-zero status under /S, and
# leave every file of the installation as it was.
refuse_while_running()
{
    make_site "$maker/whole/qd_api.dll" firmware
    run_installed running '{"serial": 740123, "boot": 3, "run": 4, "fpga": 5, "timeScale": 0}'
    wait_for 60 "window \"$title\"" main_window || check_failed "no window: $(cat "$shots/running.log")"
    local before status
    before=$(snapshot "$folder")
    status=0
    timeout 120 "$wine" "$installer" /S || status=$?
    refused "$status" || check_failed "the installer ran while the program runs (status $status)"
    [ "$(snapshot "$folder")" = "$before" ] || check_failed "the refused installer changed files"
    status=0
    # _?= must come last and unquoted: Wine joins these words with spaces.
    # shellcheck disable=SC1003 # backslashes in a Windows path
    timeout 120 "$wine" "$folder/Uninstall.exe" /S '_?=C:\Program' 'Files\QD740N' 'Firmware' \
        'Updater' || status=$?
    refused "$status" || check_failed "the uninstaller ran while the program runs (status $status)"
    [ "$(snapshot "$folder")" = "$before" ] || check_failed "the refused uninstaller changed files"
    close_installed
    ended running 0
    echo "The installer and the uninstaller refused while the program ran, and changed nothing"
}

# site_kept WHAT BEFORE: site\ is as BEFORE (a snapshot) after WHAT.
site_kept() { [ "$(snapshot "$folder/site")" = "$2" ] || check_failed "$1 changed site\\"; }

# silently WHAT PROGRAM [ARGUMENT...]: runs an installer or an uninstaller
# silently (/S before the ARGUMENTs: /D= must come last), bounded, and waits
# for what it started to end.
silently()
{
    timeout "$WINE_TIMEOUT" "$wine" "$2" /S "${@:3}" || check_failed "$1 failed"
    timeout 60 /usr/lib/wine/wineserver64 -w || true
}

# A second install over the first (which runs the installed version's
# uninstaller first), an uninstall, and an install again: site\ is kept
# byte for byte, and the installation's own files come and go around it.
installs_keep_site()
{
    make_site "$maker/whole/qd_api.dll" firmware
    local site status
    site=$(snapshot "$folder/site")

    status=0
    WINEDEBUG=-all,+loaddll timeout 120 "$wine" "$installer" /S >"$shots/second-install.log" 2>&1 \
        || status=$?
    timeout 60 /usr/lib/wine/wineserver64 -w || true
    [ "$status" -eq 0 ] || check_failed "the second install ended with status $status"
    grep -qF 'QD740N Firmware Updater\\Uninstall.exe"' "$shots/second-install.log" \
        || check_failed "the second install did not run the installed version's uninstaller"
    site_kept "a second install over the first" "$site"
    [ -f "$folder/qd740n-updater.exe" ] || check_failed "the second install left no program"

    silently "the uninstaller" "$folder/Uninstall.exe"
    wait_for 30 "removal of the program" test ! -e "$folder/qd740n-updater.exe" \
        || check_failed "the uninstaller left the program"
    site_kept "the uninstaller" "$site"
    [ "$(cd "$folder" && find . -mindepth 1 -maxdepth 1)" = "./site" ] \
        || check_failed "the uninstaller left more than site\\: $(cd "$folder" && find .)"
    [ ! -e "$guide_shortcut" ] || check_failed "the uninstaller left $guide_shortcut"

    silently "the install over a site" "$installer"
    [ -f "$folder/qd740n-updater.exe" ] || check_failed "the install over a site left no program"
    site_kept "an install over a kept site" "$site"
    echo "A second install, an uninstall and an install again kept site\\ byte for byte"
}

# An installation in a folder of its own (/D=C:\QD740N), a site there, and an
# upgrade with /S: the upgrade goes into C:\QD740N and replaces the program
# there, nothing appears under Program Files, site\ is kept, and the upgraded
# program loads site\qd_api.dll. Then it is uninstalled and removed. Needs
# Program Files without an installation.
own_folder_upgrade()
{
    local program_files=$folder own="$WINEPREFIX/drive_c/QD740N" site
    [ ! -e "$program_files" ] || check_failed "$program_files is there before the check"
    # Wine's icacls is a stub that only names what it was asked (on the fixme
    # channel) and ends with 0: the rights themselves cannot be shown here,
    # the installer's step can.
    # shellcheck disable=SC1003 # a Windows path
    WINEDEBUG=-all,fixme+icacls silently "the install into C:\\QD740N" "$installer" '/D=C:\QD740N' \
        2>"$shots/own-install.log"
    local rights='"C:\\QD740N" "/inheritance:r" "/grant:r" "*S-1-5-32-544:(OI)(CI)F" "*S-1-5-18:(OI)(CI)F" "*S-1-5-32-545:(OI)(CI)RX"'
    grep -qF "icacls.exe\" $rights" "$shots/own-install.log" \
        || check_failed "the install into C:\\QD740N did not restrict its rights: $(grep -i icacls "$shots/own-install.log")"
    echo "The install into C:\\QD740N ran icacls $rights"
    [ -f "$own/qd740n-updater.exe" ] || check_failed "the install with /D= left no program in C:\\QD740N"
    [ ! -e "$program_files" ] || check_failed "the install with /D= wrote $program_files"
    folder=$own
    make_site "$maker/whole/qd_api.dll" firmware
    site=$(snapshot "$own/site")
    # Bytes after its end leave a program as it runs; the upgrade's own copy
    # has none.
    mkdir -p "$site_check"
    cp "$own/qd740n-updater.exe" "$site_check/first-install.exe"
    printf 'before the upgrade' >>"$own/qd740n-updater.exe"

    silently "the upgrade" "$installer"
    cmp -s "$own/qd740n-updater.exe" "$site_check/first-install.exe" \
        || check_failed "the upgrade did not replace the program in C:\\QD740N"
    [ ! -e "$program_files" ] || check_failed "the upgrade installed into $program_files"
    site_kept "the upgrade" "$site"

    run_installed own-folder '{"serial": 740123, "boot": 4, "run": 5, "fpga": 6, "timeScale": 0}'
    wait_for 60 "window \"$title\"" main_window || check_failed "no window: $(cat "$shots/own-folder.log")"
    wait_for 30 "the banner's library call" traced own-folder qdGetAPIVersion
    settled_screenshot own-folder
    close_installed
    ended own-folder 0
    grep -qF 'Loaded L"C:\\QD740N\\site\\qd_api.dll"' "$shots/own-folder.log" \
        || check_failed "the upgraded program did not load C:\\QD740N\\site\\qd_api.dll"

    silently "the uninstaller" "$own/Uninstall.exe"
    site_kept "the uninstaller" "$site"
    rm -rf "$own"
    folder=$program_files
    echo "An upgrade of an installation in C:\\QD740N stayed there and used its site\\"
}

# All but the last of the above, on the installation in $folder; they leave
# it installed and without site\.
check_sites()
{
    step "the operator's guide"
    installed_guide
    step "the MSVC stand-in for the maker's DLL in site\\: a check and an update"
    site_update
    step "libraries that cannot be used, and half a site"
    unusable_site lacking-function "$maker/lacking/qd_api.dll"
    unusable_site not-a-dll "$maker/not-a-dll/qd_api.dll"
    half_site firmware-without-dll "" firmware
    half_site dll-without-firmware "$maker/whole/qd_api.dll" ""
    step "the installer and the uninstaller while the program runs"
    refuse_while_running
    step "installs and an uninstall around a site"
    installs_keep_site
    rm -rf "$folder/site"
}
