#!/usr/bin/env python3
"""Steady CPU use of the whole program and of the X server, as a share of one core, in two
states: the start-up state (mode X, meters and generator off) with a live 1 kHz tone played
into the loopback, and the heaviest one (spectrum mode, both meters, generator on with L at
1 kHz, recording). Runs the real program under Xvfb through a private sound-server loopback (see
tests/e2e/sound_server.py; or on the simulated sound card with --sim), several times per state,
and prints each run and the median. With --threads, each run also lists the program's threads
by name with their share (from the scheduler's nanosecond run times), largest first. Threads the
program does not name keep its own name: the GUI thread, and PipeWire's client threads; PulseAudio's
client threads are "threaded-ml". Threads of one name are summed, and their number shown.

usage: cpu_usage.py PROGRAM [SECONDS [RUNS]] [--sim] [--only startup|heaviest] [--threads]
"""
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "e2e"))
import sound_server  # noqa: E402
from panel_e2e import click_control, panel_origin, run, set_frequency, start_display  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")

# Dialog-unit rectangles of the controls the heaviest state switches on.
HEAVIEST_CLICKS = [(474, 331, 36, 20),  # "信号源": generator on
                   (434, 331, 36, 20),  # "频率计": frequency meter on
                   (394, 331, 36, 20),  # "万用表": multimeter on
                   (311, 323, 31, 14),  # "V(AC)"
                   (165, 285, 26, 19)]  # "频域": spectrum mode
RECORD = (57, 313, 38, 19)
FREQ_L = (400, 213, 23, 17)


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime + stime


def thread_seconds(pid):
    """{thread name: [CPU seconds, threads]}, threads of one name summed, from each thread's
    schedstat."""
    seconds = {}
    folder = "/proc/%d/task" % pid
    for task in os.listdir(folder):
        try:
            with open(os.path.join(folder, task, "comm")) as comm:
                name = comm.read().strip()
            with open(os.path.join(folder, task, "schedstat")) as stat:
                ran = int(stat.read().split()[0]) / 1e9
        except FileNotFoundError:  # ended meanwhile
            continue
        total = seconds.setdefault(name, [0.0, 0])
        total[0] += ran
        total[1] += 1
    return seconds


def start_recording(env, origin, path):
    click_control(env, origin, RECORD)
    time.sleep(1.0)  # the save dialog opens with the file name field focused
    run("xdotool", "type", path, env=env)
    run("xdotool", "key", "Return", env=env)
    time.sleep(0.5)


def play_tone(env):
    """A 1 kHz tone into the loopback through the ALSA device the program uses, in a process
    group of its own."""
    device = env["TAVRIN_AUDIO"][len("alsa:"):]
    return subprocess.Popen(
        "sox -q -n -r 44100 -c 2 -b 16 -e signed -t raw - synth 3600 sine 1000 vol 0.5 | "
        "aplay -q -D %s -t raw -f S16_LE -r 44100 -c 2" % device, shell=True, env=env,
        start_new_session=True)


def measure(program, seconds, audio_env, heaviest, folder):
    xvfb, display = start_display()
    # The folder stands in for the user's configuration: no remembered device choice.
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", XDG_CONFIG_HOME=folder,
               **audio_env)
    app = subprocess.Popen([program], env=env)
    wav = os.path.join(folder, "cpu-usage.wav")
    simulated = env.get("TAVRIN_AUDIO") == "sim"
    tone = play_tone(env) if not heaviest and not simulated else None
    try:
        origin = panel_origin(env)
        if heaviest:
            for rect in HEAVIEST_CLICKS:
                click_control(env, origin, rect)
            set_frequency(env, origin, FREQ_L, 1000)  # a live signal on the loopback
            start_recording(env, origin, wav)
        run("xdotool", "mousemove", "0", "0", env=env)
        time.sleep(3)  # past start-up
        c0, x0, t0 = cpu_seconds(app.pid), cpu_seconds(xvfb.pid), time.monotonic()
        threads0 = thread_seconds(app.pid)
        time.sleep(seconds)
        elapsed = time.monotonic() - t0
        used, xused = cpu_seconds(app.pid) - c0, cpu_seconds(xvfb.pid) - x0
        threads = {name: (100.0 * (ran - threads0.get(name, [0.0])[0]) / elapsed, count)
                   for name, (ran, count) in thread_seconds(app.pid).items()}
        if heaviest and not (os.path.exists(wav) and os.path.getsize(wav) > 44):
            raise RuntimeError("the heaviest state did not record")
        return 100.0 * used / elapsed, 100.0 * xused / elapsed, threads
    finally:
        app.terminate()
        app.wait(10)
        if tone is not None:
            os.killpg(tone.pid, signal.SIGTERM)
            tone.wait(10)
        xvfb.terminate()
        xvfb.wait(10)
        if os.path.exists(wav):
            os.remove(wav)


def main():
    args = sys.argv[1:]
    simulated = "--sim" in args
    per_thread = "--threads" in args
    only = args[args.index("--only") + 1] if "--only" in args else None
    args = [a for i, a in enumerate(args)
            if a not in ("--sim", "--only", "--threads") and (i == 0 or args[i - 1] != "--only")]
    program = args[0]
    seconds = float(args[1]) if len(args) > 1 else 30.0
    runs = int(args[2]) if len(args) > 2 else 3
    folder = tempfile.mkdtemp(prefix="tavrin-cpu-")
    server = None
    if simulated:
        audio_env, where = {"TAVRIN_AUDIO": "sim"}, "simulated card"
    else:
        server = sound_server.loopback(folder)
        server.start()
        audio_env, where = server.env, "%s loopback" % sound_server.chosen_kind()
    try:
        for name, heaviest in (("start-up state", False), ("heaviest state", True)):
            if only is not None and only != ("heaviest" if heaviest else "startup"):
                continue
            results = [measure(program, seconds, audio_env, heaviest, folder) for _ in range(runs)]
            for app, xserver, threads in results:
                print("%s, %s: program %.2f %%, X server %.2f %%" % (where, name, app, xserver))
                if per_thread:
                    for thread, (share, count) in sorted(threads.items(), key=lambda t: -t[1][0]):
                        if share >= 0.005:
                            print("    %-16s %.3f %%%s" % (thread, share,
                                                          " (%d threads)" % count if count > 1 else ""))
            print("%s, %s, median of %d x %.0f s: program %.2f %% of one core, X server %.2f %%"
                  % (where, name, runs, seconds, statistics.median(r[0] for r in results),
                     statistics.median(r[1] for r in results)), flush=True)
    finally:
        if server is not None:
            server.stop()
        subprocess.run(["rm", "-rf", folder])


if __name__ == "__main__":
    main()
