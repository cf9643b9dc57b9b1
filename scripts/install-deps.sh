#!/usr/bin/env bash
# Installs what building, running and testing Korvel Quillon needs on Debian 12.
#   scripts/install-deps.sh         build and run the program
#   scripts/install-deps.sh --test  build and test it (adds GoogleTest, the X server, a window
#                                   manager, clang's sanitizer and fuzzer runtimes and test drivers)
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
    exec sudo "$0" "$@"
fi

packages=(
    build-essential cmake pkg-config
    juce-modules-source
    libflac-dev libvorbis-dev libogg-dev libmpg123-dev libpng-dev libjpeg-dev zlib1g-dev
    libfreetype-dev libfontconfig1-dev
    libx11-dev libxext-dev libxrandr-dev libxinerama-dev libxcursor-dev
    libasound2-dev
    fonts-liberation2
)

if [ "${1:-}" = "--test" ]; then
    packages+=(googletest libgtest-dev xvfb xauth x11-utils xdotool python3 python3-xlib
               openbox wmctrl lame ffmpeg clang-14 libclang-rt-14-dev llvm-14)
else
    # The desktop's own folder dialog (without it the framework shows its own), and the
    # opener of the user guide.
    packages+=(zenity xdg-utils)
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends "${packages[@]}"
