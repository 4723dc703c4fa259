#!/usr/bin/env python3
"""A private sound server whose one sink is looped back to its capture side, like a cable from
line-out to line-in: PulseAudio (a null sink and its monitor) or PipeWire (a null audio sink and
its monitor, with WirePlumber linking the streams). Each lives in a runtime folder of its own and
is stopped by its process group, so the user's own sound server never hears a test tone. stop()
then start() on the same loopback is a server going away and a new one coming back at the same
address.

TAVRIN_TEST_SOUND_SERVER=pulse|pipewire picks the server; unset, PulseAudio where it is installed,
else PipeWire. The clients choose the ALSA device by name (TAVRIN_AUDIO=alsa:pulse or
alsa:pipewire), so where ALSA's "default" goes does not matter.

Without the pipewire-alsa package (which cannot sit beside pulseaudio), TAVRIN_TEST_PIPEWIRE_ALSA
names the root of an unpacked pipewire-alsa package; its plugin is then loaded through a private
ALSA configuration.

TAVRIN_TEST_SINK=FORMAT:RATE (e.g. float32le:96000) runs the loopback at that sample format and
rate instead of the servers' own 16-bit 44100 Hz, for clients that open it so; unset, nothing
changes. FORMAT is PulseAudio's name (s16le, s24le, s32le, float32le).

As a program (for the C++ tests): sound_server.py serve FOLDER starts the server in FOLDER, prints
the clients' environment as NAME=VALUE lines, then "ready", and stops the server when its standard
input closes or it is sent SIGTERM.
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import time

SYSTEM_ALSA_CONFIG = "/usr/share/alsa/alsa.conf"
SYSTEM_PIPEWIRE_PCM = "/usr/share/alsa/alsa.conf.d/50-pipewire.conf"
BENCH = "tavrin_bench"  # the loopback sink's node name on both servers


def chosen_kind():
    kind = os.environ.get("TAVRIN_TEST_SOUND_SERVER", "")
    if kind in ("pulse", "pipewire"):
        return kind
    if kind:
        raise RuntimeError("TAVRIN_TEST_SOUND_SERVER=%s is not pulse or pipewire" % kind)
    return "pulse" if shutil.which("pulseaudio") else "pipewire"


def group_alive(group):
    """Whether a process of the group has not exited yet (a zombie has, and holds no socket)."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/stat" % pid) as stat:
                state, _, pgrp = stat.read().rsplit(")", 1)[1].split()[:3]
        except OSError:
            continue
        if state != "Z" and int(pgrp) == group:
            return True
    return False


def stop_group(process):
    """Ends the server's whole process group (daemon, bus, session manager) and waits until every
    one of them has exited: the leader can go first, and a server started again in the same
    folder must not meet the old one's lock or answer in its place."""
    if process is None:
        return
    try:
        os.killpg(process.pid, signal.SIGTERM)
    except ProcessLookupError:
        process.wait()
        return
    deadline = time.monotonic() + 5
    while process.poll() is None or group_alive(process.pid):
        if time.monotonic() > deadline:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            break
        time.sleep(0.02)


def wait_for(answers, process, what, log):
    for _ in range(150):
        if process.poll() is not None:
            raise RuntimeError("%s exited at start; see %s" % (what, log))
        if answers():
            return
        time.sleep(0.1)
    stop_group(process)
    raise RuntimeError("%s did not answer within 15 s; see %s" % (what, log))


def private_env(**names):
    """The environment with names set, and without a PipeWire remote chosen by the user's
    session, which would lead a client to the user's own server."""
    env = dict(os.environ, **names)
    env.pop("PIPEWIRE_REMOTE", None)
    return env


# TAVRIN_TEST_SINK's format names as PipeWire spells them.
PIPEWIRE_FORMATS = {"s16le": "S16LE", "s24le": "S24LE", "s32le": "S32LE", "float32le": "F32LE"}


def chosen_sink():
    """(format, rate) from TAVRIN_TEST_SINK, or None for the servers' defaults."""
    asked = os.environ.get("TAVRIN_TEST_SINK", "")
    if not asked:
        return None
    match = re.fullmatch(r"(\w+):(\d+)", asked)
    if not match or match.group(1) not in PIPEWIRE_FORMATS:
        raise RuntimeError("TAVRIN_TEST_SINK=%s is not FORMAT:RATE with FORMAT one of %s"
                           % (asked, ", ".join(PIPEWIRE_FORMATS)))
    return match.group(1), int(match.group(2))


def quiet_ok(args, env):
    return subprocess.run(args, env=env, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


class PulseLoopback:
    """pulseaudio with a null sink whose monitor is the default source."""

    def __init__(self, folder, sink=None):
        self.folder = folder
        self.sink = sink
        self.process = None
        self.env = {"PULSE_SERVER": "unix:" + os.path.join(folder, "pulse", "native"),
                    "TAVRIN_AUDIO": "alsa:pulse"}

    def start(self):
        config = os.path.join(self.folder, "loopback.pa")
        sink_args = " format=%s rate=%d channels=2" % self.sink if self.sink else ""
        with open(config, "w") as pa:
            pa.write("load-module module-null-sink sink_name=%s%s\n"
                     "set-default-sink %s\nset-default-source %s.monitor\n"
                     "load-module module-native-protocol-unix\n"
                     "set-sink-volume %s 65536\nset-source-volume %s.monitor 65536\n"
                     % ((BENCH, sink_args) + (BENCH,) * 4))
        log = os.path.join(self.folder, "pulseaudio.log")
        env = dict(os.environ, XDG_RUNTIME_DIR=self.folder, HOME=self.folder)
        with open(log, "w") as err:
            self.process = subprocess.Popen(
                ["pulseaudio", "-n", "-F", config, "--daemonize=no", "--exit-idle-time=-1"],
                env=env, stdout=subprocess.DEVNULL, stderr=err, start_new_session=True)
        client = dict(os.environ, **self.env)
        wait_for(lambda: quiet_ok(["pactl", "info"], client), self.process, "pulseaudio", log)

    def stop(self):
        stop_group(self.process)
        self.process = None

    def keep_rendering(self):
        """An idle null sink renders in 2 s blocks, which a capture stream on its monitor waits
        for; silence played at a small latency keeps it rendering in small blocks, as a sound
        card's source does, and adds nothing to the signal. Returns once the block under way when
        the silence began has run out; the player, for the caller to end."""
        client = dict(os.environ, **self.env)
        log = os.path.join(self.folder, "pacat.log")
        with open(log, "w") as err:
            player = subprocess.Popen(["pacat", "--playback", "--raw", "--latency-msec=20",
                                       "--device=" + BENCH, "/dev/zero"], env=client,
                                      stdout=subprocess.DEVNULL, stderr=err,
                                      start_new_session=True)

        # Running (the silence is connected) and the latency, what is left of the current
        # block, small: an idle sink's latency also runs down to nothing at each block's end.
        def small_blocks():
            sinks = subprocess.run(["pactl", "list", "sinks"], env=dict(client, LC_ALL="C"),
                                   capture_output=True, text=True).stdout
            bench = [sink for sink in sinks.split("Sink #") if "Name: %s\n" % BENCH in sink]
            latency = re.search(r"Latency: (\d+) usec", bench[0] if bench else "")
            return ("State: RUNNING" in bench[0] and latency is not None and
                    int(latency.group(1)) < 50000)

        wait_for(small_blocks, player, "pacat", log)
        return player


# The daemon's whole configuration: no real device is opened, the only sink is the bench, and the
# graph runs at 44100 Hz only, so nothing is resampled and samples come back bit for bit.
PIPEWIRE_CONF = """context.properties = {
    core.daemon = true
    core.name = pipewire-0
    default.clock.rate = 44100
    default.clock.allowed-rates = [ 44100 ]
    mem.allow-mlock = false
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.* = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-client-device }
    { name = libpipewire-module-access }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
    { name = libpipewire-module-session-manager }
]
context.objects = [
    { factory = spa-node-factory
        args = { factory.name = support.node.driver node.name = Dummy-Driver
                 node.group = pipewire.dummy priority.driver = 20000 } }
    { factory = spa-node-factory
        args = { factory.name = support.node.driver node.name = Freewheel-Driver
                 node.group = pipewire.freewheel priority.driver = 19000
                 node.freewheel = true } }
    { factory = adapter
        args = { factory.name = support.null-audio-sink node.name = %s
                 media.class = Audio/Sink audio.position = [ FL FR ] object.linger = true } }
]
context.exec = [ { path = "wireplumber" } ]
""" % BENCH

# WirePlumber's device monitors stay off: a private session must never open the user's cards.
WIREPLUMBER_OFF = {
    "main.lua.d": "alsa_monitor.enabled = false\nv4l2_monitor.enabled = false\n"
                  "libcamera_monitor.enabled = false\n",
    "bluetooth.lua.d": "bluez_monitor.enabled = false\n",
}


def pipewire_alsa_config(folder):
    """ALSA_CONFIG_PATH that loads an unpacked pipewire-alsa, or None when it is installed."""
    if os.path.exists(SYSTEM_PIPEWIRE_PCM):
        return None
    root = os.environ.get("TAVRIN_TEST_PIPEWIRE_ALSA", "")
    pcm_conf = os.path.join(root, SYSTEM_PIPEWIRE_PCM.lstrip("/"))
    plugins = [os.path.join(dirpath, name) for dirpath, _, names in os.walk(root or "/nonexistent")
               for name in names if name.startswith("libasound_module_") and "pipewire" in name]
    if not root or not os.path.exists(pcm_conf) or not plugins:
        raise RuntimeError("ALSA has no pipewire device: install pipewire-alsa, or set "
                           "TAVRIN_TEST_PIPEWIRE_ALSA to an unpacked pipewire-alsa package "
                           "(scripts/test.sh does)")
    types = os.path.join(folder, "pipewire-alsa.conf")
    with open(types, "w") as conf:
        for plugin in sorted(plugins):
            kind = os.path.basename(plugin).split("_")[2]  # libasound_module_pcm_pipewire.so
            conf.write('%s_type.pipewire { lib "%s" }\n' % (kind, plugin))
    base = os.environ.get("ALSA_CONFIG_PATH", SYSTEM_ALSA_CONFIG)
    return ":".join([base, pcm_conf, types])


class PipeWireLoopback:
    """pipewire + wireplumber under a private D-Bus session, with one null sink at 44100 Hz whose
    monitor is the default source."""

    def __init__(self, folder, sink=None):
        self.folder = folder
        self.sink = sink
        self.process = None
        self.env = {"PIPEWIRE_RUNTIME_DIR": folder, "TAVRIN_AUDIO": "alsa:pipewire"}
        alsa = pipewire_alsa_config(folder)
        if alsa:
            self.env["ALSA_CONFIG_PATH"] = alsa

    def start(self):
        config = os.path.join(self.folder, "pipewire.conf")
        text = PIPEWIRE_CONF
        if self.sink:
            # The graph runs at the sink's rate alone, and the sink carries its format.
            text = text.replace("= 44100", "= %d" % self.sink[1]).replace(
                "[ 44100 ]", "[ %d ]" % self.sink[1]).replace(
                "audio.position = [ FL FR ]",
                "audio.position = [ FL FR ] audio.format = %s audio.rate = %d"
                % (PIPEWIRE_FORMATS[self.sink[0]], self.sink[1]))
        with open(config, "w") as conf:
            conf.write(text)
        for sub, text in WIREPLUMBER_OFF.items():
            path = os.path.join(self.folder, "config", "wireplumber", sub)
            os.makedirs(path, exist_ok=True)
            with open(os.path.join(path, "51-tavrin-no-devices.lua"), "w") as lua:
                lua.write(text)
        log = os.path.join(self.folder, "pipewire.log")
        env = private_env(HOME=self.folder, XDG_RUNTIME_DIR=self.folder,
                          PIPEWIRE_RUNTIME_DIR=self.folder,
                          XDG_CONFIG_HOME=os.path.join(self.folder, "config"),
                          XDG_STATE_HOME=os.path.join(self.folder, "state"))
        with open(log, "w") as err:
            self.process = subprocess.Popen(
                ["dbus-run-session", "--", "pipewire", "-c", config], env=env,
                stdout=subprocess.DEVNULL, stderr=err, start_new_session=True)
        client = private_env(PIPEWIRE_RUNTIME_DIR=self.folder)

        # WirePlumber has taken over once it has named the bench the default sink.
        def answers():
            out = subprocess.run(["pw-metadata", "-n", "default", "0", "default.audio.sink"],
                                 env=client, capture_output=True, text=True).stdout
            return BENCH in out

        wait_for(answers, self.process, "pipewire", log)

    def stop(self):
        stop_group(self.process)
        self.process = None

    def keep_rendering(self):
        """Nothing to play: the dummy driver runs the graph at its own small quantum whether or
        not anything plays, so a capture stream gets its first data at once."""
        return None


def loopback(folder, kind=None):
    """The chosen server's loopback in folder (not started yet)."""
    kind = kind or chosen_kind()
    sink = chosen_sink()
    return PulseLoopback(folder, sink) if kind == "pulse" else PipeWireLoopback(folder, sink)


class Stopped(Exception):
    pass


def on_sigterm(*_):
    raise Stopped()


def serve(folder):
    server = loopback(folder)
    signal.signal(signal.SIGTERM, on_sigterm)
    try:
        server.start()
        for name, value in sorted(server.env.items()):
            print("%s=%s" % (name, value))
        print("ready", flush=True)
        sys.stdin.read()  # until the test closes the pipe or ends
    except Stopped:
        pass
    finally:
        server.stop()


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] != "serve":
        sys.exit("usage: sound_server.py serve FOLDER")
    try:
        serve(sys.argv[2])
    except (RuntimeError, OSError) as error:
        print("error: %s" % error, flush=True)
        sys.exit(1)
