#!/usr/bin/env bash
# Installs the Debian packages Tavrin needs to build, run and test. Idempotent: installs only
# what is missing. Uses sudo when not root.
set -euo pipefail

packages=(
    build-essential        # g++ 12, make
    cmake ninja-build      # the build
    qt6-base-dev           # Qt 6 Widgets: the panel and its dialogs
    qt6-base-dev-tools     # moc, rcc
    libgl-dev              # Qt6Gui's CMake package insists on OpenGL headers
    libasound2-dev         # ALSA: the sound card
    libasound2-plugins     # lets ALSA's "default" reach PulseAudio / PipeWire
    fonts-wqy-microhei     # a CJK font for the Chinese captions
    libgtest-dev           # unit tests
    libbenchmark-dev       # benchmarks under bench/
    pulseaudio             # end-to-end tests: a private daemon with a null-sink loopback
    pulseaudio-utils       # pactl, for the tests' set-up checks
    alsa-utils             # aplay/arecord: to check a user's sound set-up
    xvfb xauth             # a virtual display for whole-program tests and headless runs
    x11-apps               # xwd: screenshots of the virtual display
    xdotool                # end-to-end tests click the real panel under Xvfb
    imagemagick            # checks BMP files and converts screenshots
    sox                    # checks WAV files (soxi)
    stress-ng              # the soak benchmark (bench/app/soak.py) keeps the other core busy
    python3                # the WAV checker uses Python's wave module
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
