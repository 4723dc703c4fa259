#!/usr/bin/env python3
"""Loads a report page in headless Chromium through the DevTools protocol on a pipe and checks
what a person would see: no request leaves the file (every URL the page asks for is file: or
data:, and host names resolve nowhere), the screenshot is not blank, and the printed PDF holds
every heading of the page. Exits 77 (skipped) without Chromium.

usage: check_report_browser.py WRITER WORKDIR
  WRITER: a program that writes the report's files into the folder it is given."""
import base64
import fcntl
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib
from html.parser import HTMLParser
from pathlib import Path

CHROMIUM = "/usr/bin/chromium"
TIMEOUT_S = 30


class Headings(HTMLParser):
    def __init__(self):
        super().__init__()
        self.texts = []
        self.inside = False

    def handle_starttag(self, tag, attrs):
        if tag in ("h1", "h2"):
            self.inside = True
            self.texts.append("")

    def handle_endtag(self, tag):
        if tag in ("h1", "h2"):
            self.inside = False

    def handle_data(self, data):
        if self.inside:
            self.texts[-1] += data


class Browser:
    """Chromium with --remote-debugging-pipe: commands in on fd 3, answers and events out on
    fd 4, each a JSON text ended by a NUL."""

    def __init__(self, profile):
        to_child_r, self.to_child = os.pipe()
        self.from_child, from_child_w = os.pipe()
        # Out of the way of 3 and 4, which the child's copies must take.
        high = [fcntl.fcntl(fd, fcntl.F_DUPFD, 10) for fd in (to_child_r, from_child_w)]
        os.close(to_child_r)
        os.close(from_child_w)

        def child_fds():
            os.dup2(high[0], 3)
            os.dup2(high[1], 4)

        args = [CHROMIUM, "--headless=new", "--no-sandbox", "--remote-debugging-pipe",
                f"--user-data-dir={profile}", "--host-resolver-rules=MAP * ~NOTFOUND",
                "--no-first-run", "--disable-gpu", "--disable-extensions",
                "--disable-background-networking", "--disable-component-update",
                "--disable-sync", "--window-size=1000,800", "about:blank"]
        self.process = subprocess.Popen(args, preexec_fn=child_fds, pass_fds=(3, 4),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for fd in high:
            os.close(fd)
        self.next_id = 0
        self.buffer = b""
        self.events = []

    def read_message(self):
        while b"\0" not in self.buffer:
            chunk = os.read(self.from_child, 1 << 20)
            if not chunk:
                raise RuntimeError("chromium closed its pipe")
            self.buffer += chunk
        text, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(text)

    def call(self, method, params=None, session=None):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.to_child, json.dumps(message).encode() + b"\0")
        while True:
            answer = self.read_message()
            if answer.get("id") == self.next_id:
                if "error" in answer:
                    raise RuntimeError(f"{method}: {answer['error']}")
                return answer["result"]
            self.events.append(answer)

    def wait_event(self, method):
        seen = 0
        while True:
            while seen < len(self.events):
                if self.events[seen].get("method") == method:
                    return self.events[seen]
                seen += 1
            self.events.append(self.read_message())

    def close(self):
        try:
            self.call("Browser.close")
        except (RuntimeError, OSError):
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def png_pixels(data):
    """(width, height, rows of RGB(A) bytes) of an 8-bit RGB or RGBA PNG."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            assert depth == 8 and colour in (2, 6), f"PNG of depth {depth}, colour type {colour}"
            channels = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        row = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = row[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                row[i] = (row[i] + a) & 255
            elif kind == 2:
                row[i] = (row[i] + b) & 255
            elif kind == 3:
                row[i] = (row[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                row[i] = (row[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(row))
        previous = row
    return width, height, channels, rows


def pdf_strings(pdf):
    """Every text string of the PDF's objects, its compressed streams' included: the outline's
    titles are among them."""
    parts = [pdf]
    for match in re.finditer(rb"stream\r?\n", pdf):
        start = match.end()
        try:
            parts.append(zlib.decompressobj().decompress(pdf[start:start + 4_000_000]))
        except zlib.error:
            pass
    strings = []
    for part in parts:
        for m in re.finditer(rb"/Title\s*(\((?:\\.|[^\\)])*\)|<[0-9A-Fa-f\s]*>)", part):
            token = m.group(1)
            if token.startswith(b"<"):
                raw = bytes.fromhex(re.sub(rb"\s", b"", token[1:-1]).decode())
            else:
                raw = re.sub(rb"\\(.)", rb"\1", token[1:-1])
            if raw.startswith(b"\xfe\xff"):
                strings.append(raw[2:].decode("utf-16-be", "replace"))
            else:
                strings.append(raw.decode("latin-1"))
    return strings


def main():
    writer, work = sys.argv[1], Path(sys.argv[2])
    if not os.path.exists(CHROMIUM):
        print(f"skipped: {CHROMIUM} is missing (Debian's chromium package)")
        return 77
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    report = work / "report"
    status = subprocess.run([writer, str(report)], timeout=120).returncode
    # 4: a step failed twice; its page is written all the same, with the step's note, and the
    # page is what is checked here.
    if status not in (0, 4):
        print(f"the report's writer exited {status}")
        return 1
    page = report / "report.html"
    parser = Headings()
    parser.feed(page.read_text(encoding="utf-8"))
    headings = [" ".join(t.split()) for t in parser.texts]
    assert len(headings) >= 3, headings

    faults = []
    with tempfile.TemporaryDirectory(dir=work) as profile:
        browser = Browser(profile)
        try:
            target = browser.call("Target.createTarget", {"url": "about:blank"})["targetId"]
            session = browser.call("Target.attachToTarget",
                                   {"targetId": target, "flatten": True})["sessionId"]
            browser.call("Network.enable", session=session)
            browser.call("Page.enable", session=session)
            browser.call("Page.navigate", {"url": page.as_uri()}, session=session)
            browser.wait_event("Page.loadEventFired")
            shot = base64.b64decode(browser.call("Page.captureScreenshot", {"format": "png"},
                                                 session=session)["data"])
            pdf = base64.b64decode(browser.call(
                "Page.printToPDF", {"generateDocumentOutline": True, "generateTaggedPDF": True,
                                    "printBackground": True}, session=session)["data"])
        finally:
            browser.close()
    urls = [e["params"]["request"]["url"] for e in browser.events
            if e.get("method") == "Network.requestWillBeSent"]
    if page.as_uri() not in urls:
        faults.append(f"the page's own load was not seen: {urls}")
    faults += [f"a request leaves the file: {u}" for u in urls
               if not (u.startswith("file:") or u.startswith("data:"))]

    (work / "screenshot.png").write_bytes(shot)
    width, height, channels, rows = png_pixels(shot)
    colours, inked = set(), 0
    for row in rows:
        for x in range(0, len(row), channels):
            pixel = row[x:x + 3]
            colours.add(pixel)
            inked += min(pixel) < 200
    share = inked / (width * height)
    if len(colours) < 16 or share < 0.01:
        faults.append(f"the screenshot looks blank: {len(colours)} colours, {share:.2%} inked")

    (work / "report.pdf").write_bytes(pdf)
    titles = [" ".join(t.split()) for t in pdf_strings(pdf)]
    faults += [f"the PDF has no section '{h}'" for h in headings if h not in titles]

    print(f"{len(urls)} requests; screenshot {width}x{height}, {len(colours)} colours, "
          f"{share:.1%} inked; PDF {len(pdf)} bytes, {len(titles)} titles")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
