#!/usr/bin/env python3
"""A recording that the panel's closing ends is one unbroken stretch of input.

The real program under Xvfb, through a private sound-server loopback (see sound_server.py): the
generator plays a 1000 Hz sine on L, looped to X1; RECORD starts a recording, and a moment later
Escape closes the panel with the recording still running. The file must be a whole WAV whose X1
is the sine without a single phase break: a frame lost or a stale one written anywhere, and above
all just before the end, shows as a break.

A sine obeys x[n-1] + x[n+1] = 2 cos(w) x[n]; the generator's samples, truncated to whole codes,
miss that by a few codes at most, while a break of even one frame misses it by hundreds.

usage: record_close_e2e.py PROGRAM OUTPUT_DIR [CLOSES]
CLOSES (default 1) runs that many recordings and closes in a row, each with a program of its own.
"""
import math
import os
import struct
import subprocess
import sys
import time
import wave

from panel_e2e import generator_at_1000_and_meter_on, open_bench, panel_origin, run, \
    click_control, wait_for_x1

RECORD = (57, 313, 38, 19)  # the RECORD toggle, in dialog units
TONE_HZ = 1000
RATE = 44100
BREAK_CODES = 24  # the recurrence's miss that counts as a break; a clean sine stays under 4
RECORD_SECONDS = 2.5


def breaks(path):
    """Frame indexes at which X1 leaves the sine, and the number of frames."""
    with wave.open(path, "rb") as wav:
        if (wav.getnchannels(), wav.getsampwidth(), wav.getframerate()) != (2, 2, RATE):
            raise RuntimeError("%s is not 16-bit stereo at %d Hz" % (path, RATE))
        frames = wav.getnframes()
        data = wav.readframes(frames)
    x1 = struct.unpack("<%dh" % (2 * frames), data)[0::2]
    twice_cos = 2 * math.cos(2 * math.pi * TONE_HZ / RATE)
    found = [n for n in range(1, frames - 1)
             if abs(x1[n - 1] + x1[n + 1] - twice_cos * x1[n]) > BREAK_CODES]
    return found, frames


def start_recording(env, origin, path):
    """RECORD, and the file named in its save dialog, whose file-name field has the focus."""
    click_control(env, origin, RECORD)
    dialog = run("xdotool", "search", "--sync", "--onlyvisible", "--name", "^Save As$",
                 env=env).split()[0]
    run("xdotool", "windowfocus", "--sync", dialog, env=env)
    run("xdotool", "key", "ctrl+a", env=env)
    run("xdotool", "type", path, env=env)
    run("xdotool", "key", "Return", env=env)


def alerts(log_path):
    """The texts of the boxes the program's trace (TAVRIN_TRACE=1) says it showed."""
    with open(log_path, errors="replace") as log:
        return [line.split(" alert: ", 1)[1].strip() for line in log
                if line.startswith("tavrin-trace ") and " alert: " in line]


def one_close(program, env, path):
    """One program run: tone, recording, Escape mid-recording. None when it went as planned,
    else what went wrong."""
    with open(path + ".log", "w") as log:
        app = subprocess.Popen([program], env=dict(env, TAVRIN_TRACE="1"), stderr=log)
    try:
        origin = panel_origin(env)
        generator_at_1000_and_meter_on(env, origin)
        reading, _ = wait_for_x1(env, origin, path + ".png", "990", 20)
        if reading is None or reading.strip() != "990":
            return "the tone never reached X1 (reads %r)" % reading
        start_recording(env, origin, path)
        time.sleep(RECORD_SECONDS)
        run("xdotool", "key", "Escape", env=env)
        app.wait(20)
        if app.returncode != 0:
            return "exit status %d" % app.returncode
        # A box would have taken the Escape; a close loses no frame that needs telling.
        shown = alerts(path + ".log")
        return "boxes shown: %r" % shown if shown else None
    except subprocess.TimeoutExpired:
        return "the panel did not close"
    finally:
        if app.poll() is None:
            app.kill()
            app.wait()


def main():
    program, out_dir = sys.argv[1], sys.argv[2]
    closes = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    os.makedirs(out_dir, exist_ok=True)
    folder, server, xvfb, env = open_bench("tavrin-record-")
    failed = 0
    try:
        for i in range(closes):
            path = os.path.join(folder, "take%d.wav" % i)
            trouble = one_close(program, env, path)
            if trouble is None:
                found, frames = breaks(path)
                if frames < (RECORD_SECONDS - 0.5) * RATE:
                    trouble = "only %d frames recorded in %.1f s" % (frames, RECORD_SECONDS)
                elif found:
                    trouble = "%d frames, a break at frame %d (%d frames before the end)" % (
                        frames, found[0], frames - found[0])
                    subprocess.run(["cp", path, os.path.join(out_dir, "broken-take%d.wav" % i)])
                else:
                    print("close %d: %d frames, no break" % (i + 1, frames))
            if trouble is not None:
                failed += 1
                print("close %d: FAILED: %s" % (i + 1, trouble))
        print("%d passed, %d failed" % (closes - failed, failed))
        return 1 if failed else 0
    finally:
        xvfb.terminate()
        server.stop()
        subprocess.run(["rm", "-rf", folder])


if __name__ == "__main__":
    sys.exit(main())
