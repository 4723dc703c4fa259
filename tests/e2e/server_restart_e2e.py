#!/usr/bin/env python3
"""The sound server goes away under the running program and comes back on the same socket.

The real program under Xvfb, through a private sound-server loopback (PulseAudio or PipeWire,
see sound_server.py): the first live frame is on the screen soon after the window; with the
generator at 1000 Hz and the frequency meter on, the server is stopped: exactly one box tells
the user, and the program stays lean (CPU and stderr) while the server is away. A new server in
the same folder, so on the same socket: readout 1028 reads 990 again by itself. The program's
trace (TAVRIN_TRACE=1) gives the alerts' texts, the frame times and, once the panel is closed,
the xrun count.

usage: server_restart_e2e.py PROGRAM OUTPUT_DIR
"""
import os
import subprocess
import sys
import time

import sound_server
from panel_e2e import generator_at_1000_and_meter_on, open_bench, panel_origin, wait_for_x1

TICKS = os.sysconf("SC_CLK_TCK")
FIRST_FRAME_BOUND = 1.5  # seconds after the window is shown
OUTAGE_SECONDS = 5
CPU_BOUND = 2.0  # percent of one core while the server is away
STDERR_BOUND = 10 * 1024  # bytes added while the server is away
BACK_BOUND = 3.0  # seconds from the new server answering to the readout reading 990
# The outage is one xrun per stream at most; a device that keeps failing each restart at once
# (PipeWire's plugin) must not count thousands. Room for a real one on a busy machine.
XRUN_BOUND = 5


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime + stime


def trace(path, what):
    """(seconds, text) of each trace line whose text starts with `what`."""
    found = []
    with open(path, errors="replace") as log:
        for line in log:
            if line.startswith("tavrin-trace "):
                _, seconds, text = line.rstrip("\n").split(" ", 2)
                if text.startswith(what):
                    found.append((float(seconds), text))
    return found


def main():
    program, out_dir = sys.argv[1], sys.argv[2]
    os.makedirs(out_dir, exist_ok=True)
    folder, server, xvfb, env = open_bench("tavrin-restart-", TAVRIN_TRACE="1")
    silence = server.keep_rendering()
    log_path = os.path.join(out_dir, "server-restart-stderr.log")
    log = open(log_path, "w")
    app = subprocess.Popen([program], env=env, stderr=log)
    failures = []

    def check(ok, what):
        print(("ok: " if ok else "FAILED: ") + what)
        if not ok:
            failures.append(what)

    try:
        origin = panel_origin(env)
        deadline = time.monotonic() + 10
        while not trace(log_path, "first frame") and time.monotonic() < deadline:
            time.sleep(0.05)
        shown, first = trace(log_path, "window shown"), trace(log_path, "first frame")
        delay = first[0][0] - shown[0][0] if shown and first else None
        check(delay is not None and delay <= FIRST_FRAME_BOUND,
              "first live frame %s s after the window (bound %.1f s)"
              % ("never" if delay is None else "%.3f" % delay, FIRST_FRAME_BOUND))
        if silence is not None:
            silence.terminate()
            silence.wait(10)

        generator_at_1000_and_meter_on(env, origin)
        png = os.path.join(out_dir, "server-restart.png")
        reading, _ = wait_for_x1(env, origin, png, "990", 20)
        check(reading is not None and reading.strip() == "990",
              "X1 reads %r before the outage" % reading)

        alerts_before = len(trace(log_path, "alert: "))
        log.flush()
        stderr_before = os.path.getsize(log_path)
        server.stop()
        stopped = time.monotonic()
        cpu_before, t0 = cpu_seconds(app.pid), time.monotonic()
        time.sleep(OUTAGE_SECONDS)
        cpu = 100.0 * (cpu_seconds(app.pid) - cpu_before) / (time.monotonic() - t0)
        stderr_added = os.path.getsize(log_path) - stderr_before
        alerts = [text for _, text in trace(log_path, "alert: ")[alerts_before:]]
        boxes = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^tavrin$"],
                               env=env, capture_output=True, text=True).stdout.split()
        check(len(alerts) == 1 and len(boxes) == 1,
              "one box while the server is away: %d alert(s) %r, %d window(s) titled tavrin"
              % (len(alerts), alerts, len(boxes)))
        check(bool(alerts) and all(a.startswith(("alert: WAVEIN:", "alert: WAVEOUT:"))
                                   for a in alerts),
              "the box names the device error: %r" % alerts)
        check(cpu < CPU_BOUND, "CPU while the server is away: %.2f %% of one core" % cpu)
        check(stderr_added < STDERR_BOUND,
              "stderr while the server is away: %d bytes" % stderr_added)

        server.start()  # the same folder: the same socket, which the program still names
        back = time.monotonic()
        # The readout keeps its last value through the outage: a live frame after the gap is
        # what says capture is back; the reading after it says the measurement is right again.
        # Only a gap that began with the outage counts: an idle sink can pause the picture before.
        def gaps_since_outage():
            return [t for t in trace(log_path, "frame after a gap") if t[0] > stopped]

        deadline = back + BACK_BOUND
        while not gaps_since_outage() and time.monotonic() < deadline:
            time.sleep(0.05)
        live = gaps_since_outage()
        reading, _ = wait_for_x1(env, origin, png, "990", 1)
        took = (live[0][0] - back) if live else None
        check(took is not None and took <= BACK_BOUND and reading.strip() == "990",
              "live again %s s after the server is back (box still open), X1 reads %r"
              % ("never" if took is None else "%.1f" % took, reading))
        for _ in range(3):  # Escape closes the box, then the panel: the exit trace follows
            if app.poll() is not None:
                break
            subprocess.run(["xdotool", "key", "Escape"], env=env)
            time.sleep(1)
        xruns = trace(log_path, "xruns ")
        count = int(xruns[0][1].split()[1]) if xruns else None
        check(count is not None and count <= XRUN_BOUND,
              "xruns over the whole run: %s (bound %d)" % (count, XRUN_BOUND))
        print("stderr:", log_path)
        print("%d passed, %d failed" % (0 if failures else 1, 1 if failures else 0))
        return 1 if failures else 0
    finally:
        if silence is not None and silence.poll() is None:
            silence.terminate()
        app.terminate()
        try:
            app.wait(10)
        except subprocess.TimeoutExpired:
            app.kill()
        log.close()
        xvfb.terminate()
        server.stop()
        subprocess.run(["rm", "-rf", folder])


if __name__ == "__main__":
    sys.exit(main())
