#!/usr/bin/env bash
# Builds the program for a stand-in for the maker's device library, as a site
# with the maker's library and images does, and installs it into a temporary
# prefix. First a library with a versioned SONAME reached through the usual
# links (libqd_api.so -> libqd_api.so.1 -> libqd_api.so.1.0.0): the
# configuration needs neither Qt Test nor zlib, the program does not link the
# library but loads it at start, under its SONAME, from beside itself in the
# build tree and once installed, a changed library is copied again by the
# next build, the images are installed with a checksum list made from them
# that sha256sum -c passes, and the installed program starts on that library.
# Then, in a build tree for several configurations (Ninja Multi-Config, as
# Visual Studio makes one), for a library without a SONAME: the library and
# the images go beside the program of each configuration, in
# bin/<configuration>/, and the program loads the library as libqd_api.so.
#
# usage: maker_test.sh CMAKE GENERATOR CXX SOURCE_DIR VERSIONED_LIBRARY
#                      UNVERSIONED_LIBRARY FIRMWARE_DIR
set -euo pipefail

cmake=$1
generator=$2
cxx=$3
source=$4
versioned=$5
unversioned=$6
firmware=$7

# shellcheck source=../support/harness.sh
source "$(dirname "$0")/../support/harness.sh"

pids=()
tmp=$(mktemp -d)
# Everything started here ends, the program within a grace of SIGTERM.
cleanup() {
    end_processes "${pids[@]}"
    rm -rf "$tmp"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    for log in "$tmp"/*.log; do
        [ -e "$log" ] && { echo "--- ${log##*/}" >&2; tail -n 40 "$log" >&2; }
    done
    exit 1
}

# The maker's files as a site has them: library links, images.
maker="$tmp/maker"
mkdir -p "$maker/lib" "$maker/firmware"
cp -P "$(dirname "$versioned")"/libqd_api.so* "$maker/lib/"
# The maker's images only: the build makes their checksum list itself.
cp "$firmware"/qd740n_* "$maker/firmware/"
[ "$(readlink "$maker/lib/libqd_api.so")" = libqd_api.so.1 ] || fail "the stand-in has no SONAME link"

build="$tmp/build"
configure() { # library
    "$cmake" -S "$source" -B "$build" -G "$generator" -DCMAKE_CXX_COMPILER="$cxx" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
        -DQD740N_USE_MAKER_LIBRARY=ON \
        -DQD740N_MAKER_LIBRARY="$1" \
        -DQD740N_MAKER_FIRMWARE_DIR="$maker/firmware" >>"$tmp/configure.log" 2>&1 \
        || fail "configuring against $1 failed"
}
build() { # [--config CONFIGURATION]
    "$cmake" --build "$build" "$@" >>"$tmp/build.log" 2>&1 || fail "the build failed"
}
needed() { # ELF file: the libraries it asks for, one a line
    readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p'
}
links_device_library() { # ELF file
    grep -q qd_api <<<"$(needed "$1")"
}
regular_file() { # a file of its own, not a link
    [ -f "$1" ] && [ ! -L "$1" ]
}

configure "$maker/lib/libqd_api.so"
! grep -Eq '^(Qt6Test_DIR|ZLIB_[A-Z_]*):' "$build/CMakeCache.txt" \
    || fail "the configuration looked for Qt Test or zlib: $(grep -E '^(Qt6Test|ZLIB)' "$build/CMakeCache.txt")"
build
program="$build/bin/qd740n-updater"
! links_device_library "$program" || fail "the program links the device library: $(needed "$program")"
regular_file "$build/bin/libqd_api.so.1" \
    || fail "no copy of the library as libqd_api.so.1 beside the program"
cmp -s "$build/bin/libqd_api.so.1" "$maker/lib/libqd_api.so.1.0.0" || fail "the copy is not the library"

# A new build of the maker's library: trailing bytes change the file and
# leave it loadable.
printf 'rebuilt' >>"$maker/lib/libqd_api.so.1.0.0"
build
cmp -s "$build/bin/libqd_api.so.1" "$maker/lib/libqd_api.so.1.0.0" \
    || fail "the build kept the old copy of a changed library"

prefix="$tmp/pre fix"
"$cmake" --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 || fail "cmake --install failed"
private="$prefix/lib/qd740n-updater"
regular_file "$private/libqd_api.so.1" \
    || fail "libqd_api.so.1 is not installed beside the program"
for image in qd740n_boot_4.img qd740n_run_5.img qd740n_fpga_6.rbf; do
    cmp -s "$prefix/share/qd740n-updater/firmware/$image" "$maker/firmware/$image" \
        || fail "the maker's image $image is not installed"
done
for firmware in "$build/bin/firmware" "$prefix/share/qd740n-updater/firmware"; do
    (cd "$firmware" && sha256sum --quiet -c SHA256SUMS) >"$tmp/sha256sum.log" 2>&1 \
        || fail "sha256sum -c SHA256SUMS fails in $firmware"
done

# start NAME PROGRAM...: starts the program, waits until it has asked its
# library for its version (for the banner), and leaves its id in $app.
start() {
    local name=$1
    shift
    rm -f "$tmp/trace.txt"
    QD740N_SIM_TRACE="$tmp/trace.txt" "$@" >"$tmp/$name.log" 2>&1 &
    app=$!
    pids+=("$app")
    local deadline=$((SECONDS + 30))
    until grep -q '^qdGetAPIVersion()' "$tmp/trace.txt" 2>/dev/null; do
        running "$app" || fail "$name: the program ended"
        [ "$SECONDS" -lt "$deadline" ] || fail "$name: the program did not call its library"
        sleep 0.1
    done
}
stop() { # ends the program started last: SIGTERM, SIGKILL after a grace
    end_processes "$app"
}
loads() { # library path: the running program has it loaded, and no other qd_api
    [ "$(sed -n 's|^[^/]*\(/.*qd_api.*\)$|\1|p' "/proc/$app/maps" | sort -u)" = "$1" ] \
        || fail "the program has not loaded $1 alone: $(grep qd_api "/proc/$app/maps")"
}

# The installed program on the installed library, started by its launcher
# with no site library to prefer (nor below).
cd "$tmp"
export QD740N_LOCAL_PREFIX="$tmp/no-site"
start installed "$prefix/bin/qd740n-updater"
loads "$private/libqd_api.so.1"
[ "$(readlink "/proc/$app/cwd")" = "$prefix/share/qd740n-updater" ] \
    || fail "the program runs in $(readlink "/proc/$app/cwd")"
stop
echo "built, installed and started for a library with SONAME libqd_api.so.1"

# Without a SONAME the library is loaded under the plain name; a copy under
# a SONAME that a build for another library left beside the program is
# passed over.
build="$tmp/build-configurations"
generator="Ninja Multi-Config"
configure "$unversioned"
build --config Release
bin="$build/bin/Release"
cmp -s "$bin/libqd_api.so" "$unversioned" || fail "no copy of the library as libqd_api.so in $bin"
[ -f "$bin/firmware/SHA256SUMS" ] && [ -f "$bin/firmware/qd740n_boot_4.img" ] \
    || fail "no firmware/ beside the program in $bin"
cp "$maker/lib/libqd_api.so.1.0.0" "$bin/libqd_api.so.1"
start unversioned "$bin/qd740n-updater"
loads "$bin/libqd_api.so"
echo "built for a library without SONAME in a tree of configurations and started on it as libqd_api.so"
