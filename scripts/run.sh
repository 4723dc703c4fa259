#!/usr/bin/env bash
# The README's run command: installs what building and running need, builds the program into
# build/, starts the panel.
# No reachable sound device: starts with the simulated sound card (TAVRIN_AUDIO=sim).
# No display: runs the panel on a virtual display (Xvfb) and saves a screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIN_TESTS=OFF -DTAVRIN_BENCH=OFF \
    >/dev/null
cmake --build build -j"$(nproc)"

if [ -z "${TAVRIN_AUDIO:-}" ]; then
    if ! timeout 5 arecord -q -D default -f S16_LE -c 2 -r 44100 -d 1 /dev/null 2>/dev/null; then
        echo "No reachable sound device (ALSA \"default\" cannot capture): starting with the"
        echo "simulated sound card, whose line output is wired to its line input (TAVRIN_AUDIO=sim)."
        export TAVRIN_AUDIO=sim
    fi
fi

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec build/app/tavrin "$@"
fi

echo "No display: running the panel on a virtual display (Xvfb) for ${TAVRIN_HEADLESS_SECONDS:-8} s."
display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT
sleep 1
DISPLAY="$display" build/app/tavrin "$@" &
app_pid=$!
sleep "${TAVRIN_HEADLESS_SECONDS:-8}"
mkdir -p out
shot="$PWD/out/tavrin-screenshot.png"
DISPLAY="$display" xwd -root -silent | /usr/bin/convert xwd:- "$shot"
kill "$app_pid" 2>/dev/null || true
wait "$app_pid" 2>/dev/null || true
echo "Screenshot saved: $shot"
