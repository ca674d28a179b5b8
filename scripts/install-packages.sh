#!/usr/bin/env bash
# Installs the Debian packages Quindel needs to build, run and test, only those missing.
#   install-packages.sh          all of them
#   install-packages.sh --build  those that building the program and its package needs
set -eu
packages=(
    build-essential cmake ninja-build pkg-config ccache
    qt6-base-dev libgl-dev
    librtmidi-dev libasound2-dev libjack-jackd2-dev
    libx11-dev libxtst-dev libxi-dev
    fonts-dseg
    libwayland-dev libwayland-bin wayland-protocols plasma-wayland-protocols libxkbcommon-dev
    libsystemd-dev dpkg-dev file
)
[ "${1:-}" = --build ] || packages+=(
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth x11-utils x11-apps openbox jackd2 imagemagick clang libclang-rt-dev
    qt6-wayland qt6-translations-l10n
    sway mutter kwin-wayland weston xwayland pipewire wireplumber dbus dbus-x11 libglib2.0-bin
    lintian desktop-file-utils debootstrap
    qemu-system-x86 busybox-static kmod pipewire-jack
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" = 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
