#!/usr/bin/env bash
# Installs the Debian packages that are missing, through sudo when not run as
# root, without the packages they merely recommend. Does nothing when they are
# all there.
#
#   scripts/setup.sh          what building and running the program needs
#                             (scripts/run.sh, bench/run.sh)
#   scripts/setup.sh package  also what building and checking the .deb needs
#                             (scripts/package.sh)
#   scripts/setup.sh test     also what the tests, the lint and CI need
#                             (scripts/test.sh, scripts/lint.sh, .ci/run)
#   scripts/setup.sh windows  also what the Windows check needs
#                             (scripts/windows.sh)
set -euo pipefail

case ${1:-} in
"" | package | test | windows) ;;
*)
    echo "usage: $0 [package | test | windows]" >&2
    exit 2
    ;;
esac

# The compiler, CMake and Qt's development files; Qt's libraries bring the X11
# platform plugin with the xcb libraries it loads, fontconfig and a font.
packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev libxcb1-dev zlib1g-dev
    # the operator's guide, made into HTML by every build
    cmark-gfm
)
if [ -n "${1:-}" ]; then
    # the .deb's build flags (dpkg-buildflags, dpkg-shlibdeps) and its check
    packages+=(dpkg-dev lintian)
fi
if [ "${1:-}" = test ] || [ "${1:-}" = windows ]; then
    packages+=(
        # the lint (scripts/lint.sh lists the sources with git)
        git clang-format clang-tidy
        # the real-window tests: a virtual display, a mouse, screenshots, and
        # the accessibility tree read and driven as a screen reader does
        # (AT-SPI)
        xvfb xauth xdotool x11-utils imagemagick python3-pyatspi at-spi2-core
        # a real window manager, for the frame around the window and its
        # dialogs
        openbox
        # the desktops operators use, headless, each with its Xwayland, and
        # Qt's Wayland platform, which makes Qt run programs natively there:
        # GNOME (gnome-shell on mutter; gdbus asks the shell) and Plasma's
        # KWin with its Breeze title bars; xrdb for a scaled GNOME's X
        # resources, gdb for the threads of a program that outlives its window
        gnome-shell mutter libglib2.0-bin kwin-wayland kwin-style-breeze xwayland qt6-wayland
        x11-xserver-utils gdb
        # a portal backend of the desktop, which no test bus may start
        xdg-desktop-portal-gtk
        # pgrep, with which the test scripts find what a process they end
        # started
        procps
        # the sleep-inhibitor test: a private bus with logind mocked on it
        dbus python3-dbusmock
        # the package's desktop entry and AppStream data checked
        appstream desktop-file-utils
    )
fi
if [ "${1:-}" = windows ]; then
    packages+=(
        # the cross compiler and zlib for it, and the host's moc, rcc and uic
        # (qt6-base-dev-tools, above) for the Qt built for it
        g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
        # the tests and the program run under Wine; the installer is NSIS's
        wine64 nsis binutils
        # a stand-in for the maker's DLL built as MSVC builds it: clang-cl,
        # lld-link, and llvm-dlltool and llvm-readobj
        clang-14 lld-14 llvm-14
    )
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
