#!/usr/bin/env python3
"""Reads a report page with html.parser: exits 0 when it parses, holds an element with each id
given, and refers to nothing outside itself; else names what is wrong."""
import re
import sys
from html.parser import HTMLParser

EXTERNAL_ATTRS = {"src", "href", "srcset", "data", "poster", "action", "xlink:href"}


class Page(HTMLParser):
    def __init__(self):
        super().__init__()
        self.ids = set()
        self.faults = []
        self.svgs = 0
        self.tags = []

    def handle_starttag(self, tag, attrs):
        self.tags.append(tag)
        self.svgs += tag == "svg"
        if tag in ("script", "link", "img", "iframe", "object", "embed"):
            self.faults.append(f"<{tag}> element")
        for name, value in attrs:
            if name == "id":
                self.ids.add(value)
            if name in EXTERNAL_ATTRS and not (value or "").startswith("#"):
                self.faults.append(f"{tag} {name}={value!r}")


def main():
    path, wanted = sys.argv[1], sys.argv[2:]
    text = open(path, encoding="utf-8").read()
    page = Page()
    page.feed(text)
    page.close()
    faults = page.faults
    if re.search(r"url\s*\(|@import|https?://|//[a-z0-9.-]+\.[a-z]", text, re.I):
        faults.append("a reference to another resource in the text")
    faults += [f"no section '{w}'" for w in wanted if w not in page.ids]
    if page.svgs < len([w for w in wanted if w not in ("summary", "steps")]):
        faults.append(f"only {page.svgs} plots")
    if "@media print" not in text:
        faults.append("no print style")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
