#!/usr/bin/env bash
# Builds the Qt for 64-bit Windows that the Windows check (scripts/windows.sh)
# uses, from Debian's own source package qt6-base 6.4.2+dfsg-10 (the version
# of Debian 12's qt6-base-dev) with Debian's MinGW-w64 cross compiler, and
# packs it as qt6-mingw-6.4.2-x86_64-w64-mingw32.tar.gz: one relocatable
# folder qt6-mingw/ with Core, Gui, Widgets, Test and D-Bus, the windows,
# offscreen and minimal platforms, the native style, and the cross toolchain
# file in lib/cmake/. About 30 minutes on two cores; run as root, or with
# sudo at hand, on Debian 12.
#
# Usage: scripts/build-qt-mingw.sh [ARCHIVE]
#   ARCHIVE  where the archive goes (default:
#            build-qt-mingw/qt6-mingw-6.4.2-x86_64-w64-mingw32.tar.gz);
#            hand it to scripts/windows.sh in QD740N_QT_MINGW_ARCHIVE.
set -euo pipefail
cd "$(dirname "$0")/.."

version=6.4.2+dfsg-10
work=$PWD/build-qt-mingw
archive=$(realpath -m "${1:-$work/qt6-mingw-6.4.2-x86_64-w64-mingw32.tar.gz}")
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

scripts/setup.sh windows
# The source package comes from the same mirrors as the binary ones.
if ! apt-cache showsrc qt6-base 2>/dev/null | grep -qx "Version: $version"; then
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
            | "${sudo[@]}" tee /etc/apt/sources.list.d/qd740n-deb-src.sources >/dev/null
    else
        grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' \
            | "${sudo[@]}" tee /etc/apt/sources.list.d/qd740n-deb-src.list >/dev/null
    fi
    "${sudo[@]}" apt-get update -qq
fi

rm -rf "$work"
mkdir -p "$work/build" "$work/stage"
cd "$work"
apt-get source --download-only "qt6-base=$version"
dpkg-source -x qt6-base_*.dsc qt6-base-source >/dev/null

# The cross toolchain: Debian's MinGW-w64 with posix threads, looking for
# target headers, libraries and packages only in its sysroot, and running
# target programs with Wine.
toolchain=$work/mingw-w64-x86_64.cmake
cat >"$toolchain" <<'CMAKE'
# Cross toolchain: Debian's MinGW-w64 (posix threads) for 64-bit Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   /usr/bin/${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${_triple}-g++-posix)
set(CMAKE_RC_COMPILER  /usr/bin/${_triple}-windres)
set(CMAKE_AR           /usr/bin/${_triple}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       /usr/bin/${_triple}-ranlib CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
CMAKE

# Debian's repacked source lacks the Wintab headers: tablet events and the
# Direct2D platform plugin are off, but Direct2D itself must stay on, or the
# windows platform plugin does not link. Qt's own zlib, PNG, JPEG, FreeType
# and HarfBuzz are built in; D-Bus is loaded at run time.
cd build
../qt6-base-source/configure \
    -prefix "$work/stage/qt6-mingw" \
    -release -shared \
    -xplatform win32-g++ \
    -qt-host-path /usr \
    -nomake examples -nomake tests \
    -no-opengl -no-feature-vulkan \
    -no-feature-network -no-feature-sql -no-feature-xml -no-feature-printsupport \
    -no-feature-concurrent -no-feature-androiddeployqt \
    -feature-direct2d -no-feature-direct2d1_1 -no-feature-tabletevent \
    -dbus-runtime \
    -qt-zlib -qt-pcre -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -no-zstd -no-icu \
    -- -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
cmake --build . --parallel
cmake --install .
cp "$toolchain" "$work/stage/qt6-mingw/lib/cmake/"

mkdir -p "$(dirname "$archive")"
tar czf "$archive" -C "$work/stage" qt6-mingw
echo "Built $archive"
