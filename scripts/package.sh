#!/usr/bin/env bash
# Builds the Debian package the way a Debian package build does: in a tree of
# its own, build-deb/, compiled and linked with the distribution's flags from
# dpkg-buildflags (its hardening among them) and without the tests; then packs
# it with CPack into build-deb/package/ and checks it with lintian. Options
# given to this script go to CMake, for instance those that build against the
# maker's library.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh package
build="build-deb"
# CMake has no variable for preprocessor flags; they go with the compiler's.
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
    -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" -DCMAKE_MODULE_LINKER_FLAGS="$ldflags" "$@" >/dev/null
cmake --build "$build"
rm -rf "$build/package"
cpack --config "$build/CPackConfig.cmake" -B "$build/package"
debs=("$build"/package/*.deb)
lintian --fail-on error,warning "${debs[@]}"
echo "Built ${debs[*]}"
