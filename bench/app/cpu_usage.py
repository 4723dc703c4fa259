#!/usr/bin/env python3
"""Steady CPU use of the whole program over 30 s in the spectrum mode with both meters and the
generator on, as a share of one core. Runs the real program under Xvfb, once on the simulated
sound card (real-time clock) and once through a private sound-server loopback (see
tests/e2e/sound_server.py).

usage: cpu_usage.py PROGRAM [SECONDS]
"""
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "e2e"))
import sound_server  # noqa: E402
from panel_e2e import click_control, panel_origin, run, start_display  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime + stime


def measure(program, seconds, audio_env):
    xvfb, display = start_display()
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", **audio_env)
    app = subprocess.Popen([program], env=env)
    try:
        origin = panel_origin(env)
        for rect in [(474, 331, 36, 20), (434, 331, 36, 20), (394, 331, 36, 20),
                     (311, 323, 31, 14), (165, 285, 26, 19)]:
            # generator, frequency meter, multimeter, V(AC), spectrum mode
            click_control(env, origin, rect)
        run("xdotool", "mousemove", "0", "0", env=env)
        time.sleep(3)  # past start-up
        c0, t0 = cpu_seconds(app.pid), time.monotonic()
        x0 = cpu_seconds(xvfb.pid)
        time.sleep(seconds)
        used, elapsed = cpu_seconds(app.pid) - c0, time.monotonic() - t0
        xused = cpu_seconds(xvfb.pid) - x0
        return 100.0 * used / elapsed, 100.0 * xused / elapsed
    finally:
        app.terminate()
        app.wait(10)
        xvfb.terminate()


def main():
    program = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 30.0
    app, xserver = measure(program, seconds, {"TAVRIN_AUDIO": "sim"})
    print("simulated card: program %.2f %% of one core, X server %.2f %%" % (app, xserver))
    folder = tempfile.mkdtemp(prefix="tavrin-cpu-")
    server = sound_server.loopback(folder)
    server.start()
    try:
        app, xserver = measure(program, seconds, server.env)
        print("%s loopback: program %.2f %% of one core, X server %.2f %%"
              % (sound_server.chosen_kind(), app, xserver))
    finally:
        server.stop()
        subprocess.run(["rm", "-rf", folder])


if __name__ == "__main__":
    main()
