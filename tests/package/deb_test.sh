#!/usr/bin/env bash
# Builds the Debian package from the build tree into a temporary folder and
# reads it back: its name and version, the files it installs (launcher, private
# program and device library, the three target images and their checksum list
# (which sha256sum -c passes), desktop entry, AppStream
# metainfo, icon, man page, Debian documentation and the operator's guide with
# its pictures, and nothing of the tests or the image generator), maintainer
# scripts that refuse a removal or an upgrade while the program runs, and the
# runtime packages it
# depends on. lintian, desktop-file-validate and appstreamcli check it as a
# Debian maintainer and a software centre would.
#
# usage: deb_test.sh CPACK BUILD_DIR VERSION APP_ID
set -euo pipefail

cpack=$1
build=$2
version=$3
app_id=$4

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

failures=0
check() {
    if "${@:2}"; then
        echo "ok: $1"
    else
        echo "FAIL: $1" >&2
        failures=$((failures + 1))
    fi
}

for tool in dpkg-deb:dpkg dpkg-shlibdeps:dpkg-dev readelf:binutils lintian:lintian \
    desktop-file-validate:desktop-file-utils appstreamcli:appstream; do
    command -v "${tool%%:*}" >/dev/null || {
        echo "FAIL: ${tool%%:*} is missing (Debian package ${tool#*:})" >&2
        exit 1
    }
done

cd "$build"
if ! "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/out" >"$tmp/cpack.log" 2>&1; then
    cat "$tmp/cpack.log" >&2
    echo "FAIL: cpack -G DEB failed" >&2
    exit 1
fi
debs=("$tmp"/out/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    echo "FAIL: expected one .deb, found: ${debs[*]}" >&2
    exit 1
fi
deb=${debs[0]}

dpkg-deb -c "$deb" >"$tmp/contents"
# "mode path" per file, with the leading "./" taken off
awk '{ path = $6; sub(/^\.\//, "", path); print $1, path }' "$tmp/contents" >"$tmp/files"

has_file() { # mode path
    grep -qxF -e "$1 $2" "$tmp/files"
}
check "launcher" has_file -rwxr-xr-x usr/bin/qd740n-updater
check "private program" has_file -rwxr-xr-x usr/lib/qd740n-updater/qd740n-updater
check "the launcher's box program" has_file -rwxr-xr-x usr/lib/qd740n-updater/qd740n-updater-message
check "device library beside it" has_file -rw-r--r-- usr/lib/qd740n-updater/libqd_api.so
for image in qd740n_boot_4.img qd740n_run_5.img qd740n_fpga_6.rbf SHA256SUMS; do
    check "image $image" has_file -rw-r--r-- "usr/share/qd740n-updater/firmware/$image"
done
check "desktop entry" has_file -rw-r--r-- "usr/share/applications/$app_id.desktop"
check "AppStream metainfo" has_file -rw-r--r-- "usr/share/metainfo/$app_id.metainfo.xml"
check "icon" has_file -rw-r--r-- usr/share/icons/hicolor/scalable/apps/qd740n-updater.svg
check "man page" has_file -rw-r--r-- usr/share/man/man1/qd740n-updater.1.gz
for doc in copyright changelog.Debian.gz operator-guide.html; do
    check "$doc" has_file -rw-r--r-- "usr/share/doc/qd740n-updater/$doc"
done
check "lintian overrides" has_file -rw-r--r-- usr/share/lintian/overrides/qd740n-updater
no_extras() {
    ! grep -Eq 'imagegen|/tst_|bench|soak|/tests/' "$tmp/files"
}
check "no tests, benchmarks or image generator" no_extras
# The device library lives in the program's private folder: nothing for
# ldconfig to do, and nothing left behind on removal. The only maintainer
# scripts refuse a removal or an upgrade while the program runs.
dpkg-deb -e "$deb" "$tmp/control"
only_refusing_scripts() {
    [ ! -e "$tmp/control/postinst" ] && [ ! -e "$tmp/control/postrm" ] \
        && [ "$(stat -c %a "$tmp/control/prerm")" = 755 ] \
        && [ "$(stat -c %a "$tmp/control/preinst")" = 755 ]
}
check "only prerm and preinst, mode 0755" only_refusing_scripts

field_is() { # field value
    [ "$(dpkg-deb -f "$deb" "$1")" = "$2" ]
}
check "Package" field_is Package qd740n-updater
check "Version" field_is Version "$version"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
depends_on() {
    # one entry of the comma-separated list, with or without a version
    tr ',' '\n' <<<"$depends" | sed 's/^ *//' | grep -Eq "^$1( \(.*\))?\$"
}
for package in libqt6widgets6 libqt6gui6 libqt6dbus6 libqt6core6 libxcb1 libc6 libstdc++6; do
    check "depends on $package" depends_on "${package//+/\\+}"
done

# The program installed from the package does not link its device library:
# it loads it at start from beside itself, and needs no run path.
dpkg-deb -x "$deb" "$tmp/root"
loads_library_itself() {
    ! readelf -d "$tmp/root/usr/lib/qd740n-updater/qd740n-updater" \
        | grep -Eq 'qd_api|Library (runpath|rpath)'
}
check "program neither links qd_api nor has a run path" loads_library_itself
checksums_pass() {
    (cd "$tmp/root/usr/share/qd740n-updater/firmware" && sha256sum --quiet -c SHA256SUMS)
}
check "the packaged images pass sha256sum -c SHA256SUMS" checksums_pass
# Every picture the operator's guide shows is packaged beside it; sixteen
# files besides them.
doc=usr/share/doc/qd740n-updater
mapfile -t pictures < <(grep -o 'src="images/[^"]*"' "$tmp/root/$doc/operator-guide.html" \
    | sed 's/^src="//; s/"$//' | sort -u)
pictures_packaged() {
    local picture
    [ ${#pictures[@]} -gt 0 ] || return 1
    for picture in "${pictures[@]}"; do
        has_file -rw-r--r-- "$doc/$picture" || return 1
    done
}
check "the operator's guide's ${#pictures[@]} pictures" pictures_packaged
regular_files() {
    [ "$(grep -c "^-" "$tmp/files")" -eq $((16 + ${#pictures[@]})) ]
}
check "$((16 + ${#pictures[@]})) files in all" regular_files

# While the packaged program runs (here in a network namespace of this test's
# own, where its single-copy guard is the only one), the package may be
# neither removed nor upgraded; once it has ended, it may.
script() { # NAME ARGUMENT...: the maintainer script's status, its words in $tmp/script.log
    local status=0
    "$tmp/control/$1" "${@:2}" >"$tmp/script.log" 2>&1 || status=$?
    return "$status"
}
refuses() {
    ! script "$@" && grep -qxF "The QD740N firmware updater is running: close it before the package qd740n-updater is removed or upgraded." "$tmp/script.log"
}
guard_held() { grep -q " @${app_id//./\\.}\$" /proc/net/unix; }
QT_QPA_PLATFORM=offscreen QD740N_LOCAL_PREFIX="$tmp/no-site" \
    DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent \
    "$tmp/root/usr/lib/qd740n-updater/qd740n-updater" >"$tmp/program.log" 2>&1 &
program=$!
for _ in $(seq 300); do
    guard_held || ! kill -0 "$program" 2>/dev/null && break
    sleep 0.1
done
check "the packaged program runs" guard_held
check "prerm refuses a removal while it runs" refuses prerm remove
check "prerm refuses an upgrade while it runs" refuses prerm upgrade "$version"
check "preinst refuses an upgrade while it runs" refuses preinst upgrade "$version"
check "preinst lets a first install through" script preinst install
kill -TERM "$program" 2>/dev/null || true
for _ in $(seq 100); do
    kill -0 "$program" 2>/dev/null || break
    sleep 0.1
done
kill -KILL "$program" 2>/dev/null || true
wait "$program" 2>/dev/null || true
check "prerm lets a removal through once it has ended" script prerm remove
check "preinst lets an upgrade through once it has ended" script preinst upgrade "$version"

# lintian's default profile: no error and no warning. Its refusal to run as
# root is only a note on standard error.
lintian_clean() {
    local status=0
    lintian --fail-on error,warning "$deb" >"$tmp/lintian.txt" 2>/dev/null || status=$?
    cat "$tmp/lintian.txt" >&2
    [ "$status" -eq 0 ] && [ ! -s "$tmp/lintian.txt" ]
}
check "lintian reports nothing" lintian_clean
desktop_entry="$tmp/root/usr/share/applications/$app_id.desktop"
metainfo="$tmp/root/usr/share/metainfo/$app_id.metainfo.xml"
check "desktop-file-validate" desktop-file-validate "$desktop_entry"
check "appstreamcli validate" appstreamcli validate --no-net "$metainfo"
ids_match() {
    grep -qF "<id>$app_id</id>" "$metainfo" \
        && grep -qF "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo"
}
check "metainfo id and launchable are the desktop entry's" ids_match

if [ "$failures" -ne 0 ]; then
    echo "--- dpkg-deb -c" >&2
    cat "$tmp/contents" >&2
    exit 1
fi
