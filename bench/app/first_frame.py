#!/usr/bin/env python3
"""Time from the panel's window being shown to the first live frame on its screen, through a
private sound-server loopback (PulseAudio or PipeWire, see tests/e2e/sound_server.py) under Xvfb;
the median of several starts. Reads the program's own trace (TAVRIN_TRACE=1), both times on the
monotonic clock.

On PulseAudio, measured twice. An idle null sink renders in blocks of 2 s, so a capture stream on
its monitor waits 0 to 2 s for its first data whatever the client asks for: the first figure
includes that. For the second, a stream of silence keeps the sink rendering in small blocks, as a
sound card's own source does. PipeWire's graph runs at its own small quantum even when idle, so
there the one figure is the only one.

usage: first_frame.py PROGRAM [STARTS]
"""
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "e2e"))
import sound_server  # noqa: E402
from panel_e2e import open_bench  # noqa: E402


def trace_times(path):
    """{'window shown': seconds, 'first frame': seconds, ...} from a trace on stderr."""
    times = {}
    with open(path, errors="replace") as log:
        for line in log:
            if line.startswith("tavrin-trace "):
                _, seconds, what = line.rstrip("\n").split(" ", 2)
                times.setdefault(what, float(seconds))
    return times


def first_frame_delay(program, env, log_path, timeout=10.0):
    """Seconds from window shown to first frame for one start, or None."""
    with open(log_path, "w") as log:
        app = subprocess.Popen([program], env=env, stderr=log)
    try:
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            times = trace_times(log_path)
            if "window shown" in times and "first frame" in times:
                return times["first frame"] - times["window shown"]
            time.sleep(0.05)
        return None
    finally:
        app.terminate()
        app.wait(10)


def main():
    program = sys.argv[1]
    starts = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    folder, server, xvfb, env = open_bench("tavrin-first-", TAVRIN_TRACE="1")
    silence = None
    print("through %s" % sound_server.chosen_kind())
    try:
        for label in ("idle null sink", "sink kept rendering"):
            if label == "sink kept rendering":
                silence = server.keep_rendering()
                if silence is None:
                    break
            delays = []
            for i in range(starts):
                log = os.path.join(folder, "start%d.log" % i)
                delay = first_frame_delay(program, env, log)
                print("%s, start %d: %s" % (label, i + 1,
                                            "no frame" if delay is None else "%.3f s" % delay))
                delays.append(float("inf") if delay is None else delay)
            print("%s: first live frame %.3f s after the window (median of %d starts)"
                  % (label, statistics.median(delays), starts))
    finally:
        if silence is not None:
            silence.terminate()
        xvfb.terminate()
        server.stop()
        subprocess.run(["rm", "-rf", folder])


if __name__ == "__main__":
    main()
