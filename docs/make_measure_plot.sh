#!/usr/bin/env bash
# Draws docs/measure-plot.png from a real CSV log: sox sweeps a tone slowly from 1000 to 1005 Hz
# into a private PulseAudio loopback, `tavrin measure` logs it, and gnuplot sets the frequency
# readout's 21.5 Hz steps beside the precise frequency. Needs a build in build/ (scripts/run.sh
# or cmake), pulseaudio, sox and gnuplot-nox (scripts/install-deps.sh installs them all).
# The user's own sound server is never touched: the daemon is private and stopped by its pid.
set -euo pipefail
cd "$(dirname "$0")/.."

run=$(mktemp -d /tmp/tavrin-plot-XXXXXX)
chmod 700 "$run"
cat >"$run/loopback.pa" <<'PA'
load-module module-null-sink sink_name=bench
set-default-sink bench
set-default-source bench.monitor
load-module module-native-protocol-unix
set-sink-volume bench 65536
set-source-volume bench.monitor 65536
PA
XDG_RUNTIME_DIR="$run" HOME="$run" pulseaudio -n -F "$run/loopback.pa" --daemonize=no \
    --exit-idle-time=-1 >"$run/pulseaudio.log" 2>&1 &
daemon=$!
trap 'kill "$daemon" 2>/dev/null; rm -rf "$run"' EXIT
export PULSE_SERVER="unix:$run/pulse/native"
for _ in $(seq 50); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
done

sox -D -q -n -r 44100 -c 2 -b 16 -t alsa pulse synth 14 sine 1000:1005 vol -6dB &
tone=$!
sleep 0.5
build/app/tavrin measure --seconds 12 --device pulse >"$run/log.csv"
wait "$tone"

gnuplot <<PLOT
set terminal pngcairo size 640,360 font "sans,10"
set output "docs/measure-plot.png"
set datafile separator ","
set key bottom right
set xlabel "time (s)"
set ylabel "X1 (Hz)"
set grid
plot "$run/log.csv" using 1:2 skip 1 with steps lw 2 title "x1\\\\_hz: the frequency readout", \
     "$run/log.csv" using 1:3 skip 1 with lines lw 2 title "x1\\\\_hz\\\\_precise: one-second average"
PLOT
echo "docs/measure-plot.png from $(($(wc -l <"$run/log.csv") - 1)) rows"
