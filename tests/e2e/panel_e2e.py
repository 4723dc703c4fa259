#!/usr/bin/env python3
"""The real program under a virtual display (Xvfb), with a private sound server (PulseAudio or
PipeWire, see sound_server.py) whose null sink is looped back to the capture side: switch the
generator on, set L to 1000 Hz through the frequency dialog, switch the frequency meter on, and
read the X1 readout off the screen.

usage: panel_e2e.py PROGRAM OUTPUT_DIR
"""
import os
import subprocess
import sys
import tempfile
import time

import sound_server

# Segment test points in the 13 x 23 glyph (column, row), one inside each segment.
SEGMENT_POINTS = {"a": (6, 2), "b": (10, 6), "c": (10, 16), "d": (6, 20),
                  "e": (2, 16), "f": (2, 6), "g": (6, 11)}
DIGITS = {"abcdef": "0", "bc": "1", "abdeg": "2", "abcdg": "3", "bcfg": "4", "acdfg": "5",
          "acdefg": "6", "abc": "7", "abcdefg": "8", "abcdfg": "9", "": " "}


def mul_div(a, b, c):
    """a * b / c rounded half away from zero."""
    q, r = divmod(abs(a * b), c)
    q += 1 if 2 * r >= c else 0
    return q if a * b >= 0 else -q


def dialog_units(x, y, w, h):
    return mul_div(x, 6, 4), mul_div(y, 12, 8), mul_div(w, 6, 4), mul_div(h, 12, 8)


def centre(x, y, w, h):
    px, py, pw, ph = dialog_units(x, y, w, h)
    return px + pw // 2, py + ph // 2


def run(*args, **kw):
    # xdotool's --sync waits have no end of their own: a window that never comes must fail the
    # test with the step named, not hold it until CTest's timeout.
    return subprocess.run(args, check=True, capture_output=True, text=True, timeout=30,
                          **kw).stdout


def start_display():
    for n in range(150, 200):
        if not os.path.exists("/tmp/.X%d-lock" % n):
            display = ":%d" % n
            xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1024x768x24",
                                     "-nolisten", "tcp"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(1.0)
            if xvfb.poll() is None:
                return xvfb, display
    raise RuntimeError("no free display")



def open_bench(prefix, **extra_env):
    """A private sound server and a virtual display, both started: (folder, server, xvfb, env).
    env runs the program on them; the folder also stands in for the user's configuration, so no
    remembered sound device moves the program off the private server. The caller stops xvfb and
    the server and removes the folder."""
    folder = tempfile.mkdtemp(prefix=prefix)
    os.chmod(folder, 0o700)
    server = sound_server.loopback(folder)
    server.start()
    xvfb, display = start_display()
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=folder,
               XDG_CONFIG_HOME=folder, **server.env, **extra_env)
    return folder, server, xvfb, env

def panel_origin(env):
    """Waits for the panel's window; its client area's top-left corner on the screen."""
    panel = run("xdotool", "search", "--sync", "--name", "^Tavrin 0.94$", env=env).split()[0]
    geometry = dict(line.split("=") for line in
                    run("xdotool", "getwindowgeometry", "--shell", panel, env=env).split())
    return int(geometry["X"]), int(geometry["Y"])


def click_control(env, origin, rect):
    """Clicks the middle of a control given by its dialog-unit rectangle."""
    x, y = centre(*rect)
    run("xdotool", "mousemove", "--sync", str(origin[0] + x), str(origin[1] + y), "click", "1",
        env=env)
    time.sleep(0.3)


def screenshot(env, png):
    xwd = subprocess.run(["xwd", "-root", "-silent"], env=env, check=True, capture_output=True)
    subprocess.run(["/usr/bin/convert", "xwd:-", png], input=xwd.stdout, check=True)
    ppm = subprocess.run(["/usr/bin/convert", png, "-depth", "8", "ppm:-"], check=True,
                         capture_output=True).stdout
    # P6 header: magic, width, height, maxval (comments may stand between), then RGB bytes.
    fields, pos = [], 0
    while len(fields) < 4:
        while ppm[pos:pos + 1].isspace():
            pos += 1
        if ppm[pos:pos + 1] == b"#":
            pos = ppm.index(b"\n", pos) + 1
            continue
        end = pos
        while not ppm[end:end + 1].isspace():
            end += 1
        fields.append(ppm[pos:end])
        pos = end
    width, height = int(fields[1]), int(fields[2])
    return width, height, ppm[pos + 1:]


def read_readout(image, rect):
    """Decodes a five-cell seven-segment readout inside rect (x, y, w, h) in screen pixels."""
    width, _, rgb = image
    x0, y0, w, h = rect

    def pixel(x, y):
        i = 3 * (y * width + x)
        return rgb[i], rgb[i + 1], rgb[i + 2]

    # The readout's frame is 3 pixels on each side (a border around a sunken edge); the five
    # cells fill the rest from the left, W / 5 pixels each.
    frame = 3
    left, top = x0 + frame, y0 + frame
    cell_w, cell_h = (w - 2 * frame) // 5, h - 2 * frame
    text = ""
    for cell in range(5):
        lit = ""
        for name, (gx, gy) in sorted(SEGMENT_POINTS.items()):
            sx = left + cell * cell_w + ((2 * gx + 1) * cell_w) // 26
            sy = top + ((2 * gy + 1) * cell_h) // 46
            if pixel(sx, sy)[0] > 200:
                lit += name
        text += DIGITS.get(lit, "?")
    return text


def set_frequency(env, origin, button, hertz):
    """Types `hertz` into the frequency dialog that `button` ("L频率" or "R频率") opens."""
    click_control(env, origin, button)
    dialog = run("xdotool", "search", "--sync", "--name", "设置输出频率", env=env).split()[0]
    run("xdotool", "windowfocus", "--sync", dialog, env=env)
    run("xdotool", "key", "ctrl+a", env=env)
    run("xdotool", "type", str(hertz), env=env)
    run("xdotool", "key", "Return", env=env)
    time.sleep(0.3)


def generator_at_1000_and_meter_on(env, origin):
    """Generator on, L at 1000 Hz through the frequency dialog, frequency meter on."""
    click_control(env, origin, (474, 331, 36, 20))   # "信号源": generator on
    set_frequency(env, origin, (400, 213, 23, 17), 1000)  # "L频率"
    click_control(env, origin, (434, 331, 36, 20))   # "频率计": frequency meter on


def wait_for_x1(env, origin, png, wanted, seconds):
    """Reads readouts 1028 (X1 frequency) and 1030 (L frequency) off the screen until X1 reads
    `wanted` or `seconds` pass; returns the last (X1, L) texts."""
    ox, oy = origin
    px, py, pw, ph = dialog_units(462, 150, 47, 17)  # readout 1028, X1 frequency
    lx, ly, lw, lh = dialog_units(429, 210, 55, 21)  # readout 1030, L frequency
    reading = generator = None
    deadline = time.time() + seconds
    while time.time() < deadline:
        image = screenshot(env, png)
        reading = read_readout(image, (ox + px, oy + py, pw, ph))
        generator = read_readout(image, (ox + lx, oy + ly, lw, lh))
        if reading is not None and reading.strip() == wanted:
            break
        time.sleep(0.2)
    return reading, generator


def main():
    program, out_dir = sys.argv[1], sys.argv[2]
    os.makedirs(out_dir, exist_ok=True)
    folder, server, xvfb, env = open_bench("tavrin-e2e-")
    app = subprocess.Popen([program], env=env)
    try:
        origin = panel_origin(env)
        generator_at_1000_and_meter_on(env, origin)
        png = os.path.join(out_dir, "panel-e2e.png")
        reading, generator = wait_for_x1(env, origin, png, "990", 20)
        print("screenshot:", png)
        print("X1 readout: %r, L readout: %r" % (reading, generator))
        ok = reading is not None and reading.strip() == "990" and generator.strip() == "1000"
        print("1 passed, 0 failed" if ok else "0 passed, 1 failed")
        return 0 if ok else 1
    finally:
        app.terminate()
        try:
            app.wait(10)
        except subprocess.TimeoutExpired:
            app.kill()
        xvfb.terminate()
        server.stop()
        subprocess.run(["rm", "-rf", folder])


if __name__ == "__main__":
    sys.exit(main())
