#!/usr/bin/env bash
# Draws docs/measure-plot.png from a real CSV log: sox sweeps a tone slowly from 1000 to 1005 Hz
# into a private sound server's loopback, `tavrin measure` logs it, and gnuplot sets the frequency
# readout's 21.5 Hz steps beside the precise frequency. Needs a build in build/ (scripts/run.sh
# or cmake), the test set of scripts/install-deps.sh (the loopback server, sox) and gnuplot-nox.
# The user's own sound server is never touched: tests/e2e/sound_server.py runs a private one
# (PulseAudio or PipeWire) and stops it when its input closes.
set -euo pipefail
cd "$(dirname "$0")/.."

run=$(mktemp -d /tmp/tavrin-plot-XXXXXX)
coproc server { exec python3 tests/e2e/sound_server.py serve "$run"; }
trap 'exec {server[1]}>&-; wait "$server_PID" 2>/dev/null; rm -rf "$run"' EXIT
# Its clients' environment (TAVRIN_AUDIO=alsa:NAME and the server's address), then "ready".
while read -r line <&"${server[0]}"; do
    case "$line" in
    ready) break ;;
    *=*) export "${line?}" ;;
    *) echo "$line" >&2; exit 1 ;;
    esac
done
device=${TAVRIN_AUDIO#alsa:}

sox -D -q -n -r 44100 -c 2 -b 16 -t alsa "$device" synth 14 sine 1000:1005 vol -6dB &
tone=$!
sleep 0.5
build/app/tavrin measure --seconds 12 --device "$device" >"$run/log.csv"
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
