#!/usr/bin/env bash
# Installs the Debian packages the updater and its tests need, through sudo
# when not run as root. Does nothing when they are all there. With the
# argument "windows", also those of the Windows check (scripts/windows.sh).
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config clang-format clang-tidy
    qt6-base-dev qt6-base-dev-tools libgl-dev libxcb1-dev zlib1g-dev cmark-gfm
    # the real-window tests: a virtual display, a mouse, screenshots, and the
    # accessibility tree read and driven as a screen reader does (AT-SPI)
    xvfb xauth xdotool x11-utils imagemagick python3-pyatspi at-spi2-core
    # a real window manager, for the frame around the window and its dialogs
    openbox
    # the desktops operators use, headless, each with its Xwayland, and Qt's
    # Wayland platform, which makes Qt run programs natively there: GNOME
    # (gnome-shell on mutter; gdbus asks the shell) and Plasma's KWin with its
    # Breeze title bars; xrdb for a scaled GNOME's X resources, gdb for the
    # threads of a program that outlives its window
    gnome-shell mutter libglib2.0-bin kwin-wayland kwin-style-breeze xwayland qt6-wayland
    x11-xserver-utils gdb
    # a portal backend of the desktop, which no test bus may start
    xdg-desktop-portal-gtk
    # pgrep, with which the test scripts find what a process they end started
    procps
    # the sleep-inhibitor test: a private bus with logind mocked on it
    dbus python3-dbusmock
    # building and checking the .deb and its desktop integration
    dpkg-dev lintian appstream desktop-file-utils
)
if [ "${1:-}" = "windows" ]; then
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
