#!/usr/bin/env python3
"""Soak: the real program for a long run through a private sound-server loopback (PulseAudio or
PipeWire, see tests/e2e/sound_server.py) under Xvfb, with the generator on (L 1000 Hz, R 1 Hz
sines), both meters, the spectrum mode and a recording, while `stress-ng --cpu 1` keeps another
core busy. Reports xruns and dropped input frames (the program's exit trace, TAVRIN_TRACE=1), RSS
at the start and the end, CPU, and whether the recording is the generator's samples without a
gap. Not part of scripts/test.sh.

usage: soak.py PROGRAM [SECONDS]   (default 600)
"""
import math
import os
import shutil
import subprocess
import sys
import time
import wave

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "e2e"))
import sound_server  # noqa: E402
from panel_e2e import click_control, open_bench, panel_origin, run, set_frequency  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")
RATE = 44100
SINE_STEP = 2.0 * 3.1415926 / 44100.0  # the generator's own constant
FULL_SCALE = 32767
L_HZ, R_HZ = 1000, 1


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def sine(frequency, n):
    return int(FULL_SCALE * math.sin(float(frequency * n) * SINE_STEP))


def toggle_recording(env, origin, path=None):
    click_control(env, origin, (57, 313, 38, 19))  # RECORD
    if path is not None:
        time.sleep(1.5)  # the save dialog opens with the file name field focused
        run("xdotool", "type", path, env=env)
        run("xdotool", "key", "Return", env=env)
        time.sleep(0.5)


def check_recording(path, latest_start=120 * RATE):
    """(frames, frames off the generator by more than 1) of a recording of the loopback. The
    first generator frame in it is found by its number (the R channel's 1 Hz sine narrows the
    search); every later frame must be the generator's next one, so any gap or repeat shows."""
    with wave.open(path, "rb") as w:
        frames = w.getnframes()
        samples = memoryview(w.readframes(frames)).cast("h")
    sin, step = math.sin, SINE_STEP
    start = first = None
    for i in range(0, min(frames, 10 * RATE), 997):
        left, right = samples[2 * i], samples[2 * i + 1]
        for n in range(latest_start):
            if (abs(int(FULL_SCALE * sin(float(R_HZ * n) * step)) - right) <= 1 and
                    abs(int(FULL_SCALE * sin(float(L_HZ * n) * step)) - left) <= 1 and
                    all(abs(sine(L_HZ, n + k) - samples[2 * (i + k)]) <= 1 and
                        abs(sine(R_HZ, n + k) - samples[2 * (i + k) + 1]) <= 1
                        for k in range(1, 64))):
                start, first = i, n
                break
        if start is not None:
            break
    if start is None:
        return frames, frames
    bad = 0
    for i in range(start, frames):
        n = first + i - start
        if (abs(int(FULL_SCALE * sin(float(L_HZ * n) * step)) - samples[2 * i]) > 1 or
                abs(int(FULL_SCALE * sin(float(R_HZ * n) * step)) - samples[2 * i + 1]) > 1):
            bad += 1
    return frames - start, bad


def main():
    program = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 600.0
    folder, server, xvfb, env = open_bench("tavrin-soak-", TAVRIN_TRACE="1")
    stress = subprocess.Popen(["stress-ng", "--cpu", "1", "--quiet"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    log_path = os.path.join(folder, "stderr.log")
    wav = os.path.join(folder, "soak.wav")
    with open(log_path, "w") as log:
        app = subprocess.Popen([program], env=env, stderr=log)
    try:
        origin = panel_origin(env)
        click_control(env, origin, (474, 331, 36, 20))  # generator on
        set_frequency(env, origin, (400, 213, 23, 17), L_HZ)
        set_frequency(env, origin, (400, 265, 23, 17), R_HZ)
        for rect in [(434, 331, 36, 20), (394, 331, 36, 20), (311, 323, 31, 14),
                     (165, 285, 26, 19)]:
            # frequency meter, multimeter, V(AC), spectrum mode (mode 5)
            click_control(env, origin, rect)
        toggle_recording(env, origin, wav)
        run("xdotool", "mousemove", "0", "0", env=env)
        time.sleep(2)
        rss0, cpu0, t0 = rss_kib(app.pid), cpu_seconds(app.pid), time.monotonic()
        time.sleep(seconds)
        rss1, cpu1, t1 = rss_kib(app.pid), cpu_seconds(app.pid), time.monotonic()
        toggle_recording(env, origin)
        time.sleep(1)
        panel = run("xdotool", "search", "--name", "^Tavrin 0.94$", env=env).split()[0]
        run("xdotool", "windowfocus", "--sync", panel, env=env)
        run("xdotool", "key", "Escape", env=env)  # closes the panel: the exit trace follows
        app.wait(20)
    finally:
        if app.poll() is None:
            app.kill()
        stress.terminate()
        xvfb.terminate()
        server.stop()
    counts = "no exit trace"
    with open(log_path, errors="replace") as log:
        for line in log:
            if " xruns " in line:
                counts = line.split(" ", 2)[2].strip()
    frames, bad = check_recording(wav) if os.path.exists(wav) else (0, -1)
    print("run: %.0f s through %s, stress-ng --cpu 1 beside it"
          % (t1 - t0, sound_server.chosen_kind()))
    print("%s" % counts)
    print("RSS: %d KiB at start, %d KiB at end (%+d KiB)" % (rss0, rss1, rss1 - rss0))
    print("CPU: %.2f %% of one core" % (100.0 * (cpu1 - cpu0) / (t1 - t0)))
    print("recording: %d frames (%.1f s) from the generator's first, %d off the generator"
          % (frames, frames / RATE, bad))
    if os.environ.get("SOAK_KEEP"):
        print("kept:", folder)
    else:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
