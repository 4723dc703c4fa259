#!/usr/bin/env python3
"""Draws the program's icon and logo: writes tavrin.svg and the PNGs beside it from one
description, so the scalable and the bitmap icons always show the same picture.
Run from anywhere: python3 res/make_icons.py (standard library only)."""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# Shapes in a 64 x 64 design space, painted in order.
def sine_points(x0, x1, mid, amp, cycles, n=48):
    return [(x0 + (x1 - x0) * i / n,
             mid - amp * math.sin(2 * math.pi * cycles * i / n)) for i in range(n + 1)]

ICON = [
    ("rrect", (2, 2, 62, 62, 10), "#2b2f36"),
    ("rrect", (7, 7, 57, 46, 3), "#06160a"),
] + [("line", [(x, 8), (x, 45)], "#2c5536", 1.0) for x in (19.5, 32, 44.5)] + [
    ("line", [(8, 26.5), (56, 26.5)], "#2c5536", 1.0),
    ("line", sine_points(9, 55, 26.5, 6, 1.0), "#ff5040", 2.2),
    ("line", sine_points(9, 55, 26.5, 13, 2.0), "#46f06a", 3.0),
    ("circle", (17, 54, 4.5), "#c8ccd2"),
    ("circle", (30, 54, 4.5), "#c8ccd2"),
    ("rrect", (40, 50.5, 57, 57.5, 1.5), "#e0301e"),
]

LOGO = [
    ("rrect", (0, 0, 64, 64, 0), "#ffffff"),
    ("circle", (32, 32, 29), "#1d4f91"),
    ("circle", (32, 32, 24), "#ffffff"),
    ("line", [(13, 40), (22, 40), (22, 22), (32, 22), (32, 40), (42, 40), (42, 22), (51, 22)],
     "#1d4f91", 4.0),
]


def hex_rgb(c):
    return tuple(int(c[i:i + 2], 16) for i in (1, 3, 5))


def seg_dist(px, py, a, b):
    ax, ay = a
    bx, by = b
    dx, dy = bx - ax, by - ay
    L = dx * dx + dy * dy
    t = 0 if L == 0 else max(0, min(1, ((px - ax) * dx + (py - ay) * dy) / L))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def inside(shape, x, y):
    kind = shape[0]
    if kind == "rrect":
        x0, y0, x1, y1, r = shape[1]
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return math.hypot(x - cx, y - cy) <= r
    if kind == "circle":
        cx, cy, r = shape[1]
        return math.hypot(x - cx, y - cy) <= r
    pts, width = shape[1], shape[3]
    return any(seg_dist(x, y, pts[i], pts[i + 1]) <= width / 2 for i in range(len(pts) - 1))


def render(shapes, size, ss=4):
    rows = []
    step = 64.0 / (size * ss)
    for py in range(size):
        row = bytearray()
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(ss):
                for sx in range(ss):
                    x = (px * ss + sx + 0.5) * step
                    y = (py * ss + sy + 0.5) * step
                    rgba = (0, 0, 0, 0)
                    for s in shapes:
                        if inside(s, x, y):
                            rgba = hex_rgb(s[2]) + (255,)
                    a = rgba[3] / 255.0
                    for i in range(3):
                        acc[i] += rgba[i] * a
                    acc[3] += a
            n = ss * ss
            alpha = acc[3] / n
            if acc[3] > 0:
                row += bytes(round(acc[i] / acc[3]) for i in range(3))
            else:
                row += b"\0\0\0"
            row.append(round(alpha * 255))
        rows.append(bytes(row))
    return rows


def write_png(path, rows, size):
    raw = b"".join(b"\0" + r for r in rows)

    def chunk(tag, data):
        c = tag + data
        return struct.pack(">I", len(data)) + c + struct.pack(">I", zlib.crc32(c) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def write_svg(path, shapes):
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="64" height="64" viewBox="0 0 64 64">']
    for s in shapes:
        if s[0] == "rrect":
            x0, y0, x1, y1, r = s[1]
            out.append(f'<rect x="{x0}" y="{y0}" width="{x1 - x0}" height="{y1 - y0}" '
                       f'rx="{r}" fill="{s[2]}"/>')
        elif s[0] == "circle":
            cx, cy, r = s[1]
            out.append(f'<circle cx="{cx}" cy="{cy}" r="{r}" fill="{s[2]}"/>')
        else:
            pts = " ".join(f"{x:.2f},{y:.2f}" for x, y in s[1])
            out.append(f'<polyline points="{pts}" fill="none" stroke="{s[2]}" '
                       f'stroke-width="{s[3]}" stroke-linecap="round" stroke-linejoin="round"/>')
    out.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    write_svg(os.path.join(HERE, "tavrin.svg"), ICON)
    for size in (32, 48, 256):
        write_png(os.path.join(HERE, "icons", f"tavrin-{size}.png"), render(ICON, size), size)
    # The logo static is 35 x 35 dialog units: 53 x 53 pixels.
    write_png(os.path.join(HERE, "logo.png"), render(LOGO, 53), 53)
