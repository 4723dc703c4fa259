#!/usr/bin/env python3
"""Every Debian package the build and the scripts actually use comes from scripts/install-deps.sh:
from a package it names, or from what those need in turn (Depends, Pre-Depends), or from a
minimal Debian (essential and required packages). A package that merely happens to be installed
on this machine does not count, so a forgotten package shows here rather than on a new machine.

What the build used is read from a finished build tree:
- the CMake packages configure loaded (every <Name>_DIR in CMakeCache.txt, dependencies included)
  and the files and programs it found (FILEPATH entries: libraries, pkg-config, the compiler);
- every header a compiled file included (ninja's dependency log);
- every library on a link line (build.ninja).
What the scripts use: each word of theirs that names a program on PATH.

usage: build_packages_test.py SOURCE_DIR BUILD_DIR
"""
import glob
import os
import re
import shutil
import subprocess
import sys

from apt_query import apt

# Files whose programs must come from a set-up, with the install-deps.sh flags of that set-up.
SCRIPTS = [
    ("scripts/run.sh", []),
    ("scripts/test.sh", ["--tests"]),
    ("scripts/package.sh", ["--package"]),
    ("tests/package/*.sh", ["--tests"]),
    ("tests/e2e/*.py", ["--tests"]),
    ("tests/setup/*.py", ["--tests"]),
    ("docs/*.sh", ["--tests"]),
    ("bench/app/*.py", ["--bench"]),
    ("bench/fuzz/*.sh", ["--bench"]),
]
# Programs a script may call without the set-up bringing them, and why.
NOT_OURS = {
    "sudo": "install-deps.sh's way to root when not run as root: the user's own choice",
    "git": "the project arrives through it",
    "dbus-run-session": "called only where PipeWire runs, whose test set brings dbus-daemon",
    "time": "the shell's keyword, not /usr/bin/time",
}
# A shell script's commands are its words; a Python script's are the first string of a list
# (an argument vector) or the name given to shutil.which. Either may name a program by its path.
SHELL_WORD = re.compile(r"(?<![\w./$-])([a-z][\w.+-]*[a-z0-9])(?![\w/])")
PYTHON_COMMAND = re.compile(r"(?:\[\s*|which\()[\"']([a-z][\w.+-]*)[\"']")
PROGRAM_PATH = re.compile(r"(/usr/s?bin/[\w.+-]+)")
CACHE_ENTRY = re.compile(r"^([A-Za-z0-9_.+-]+):(PATH|FILEPATH)=(/.+)$")


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, check=True, **kw).stdout


def file_owners():
    """Each file's Debian package, from dpkg's file lists (faster than dpkg -S per file)."""
    owners = {}
    for listing in glob.glob("/var/lib/dpkg/info/*.list"):
        package = os.path.basename(listing)[:-len(".list")].split(":")[0]
        with open(listing, errors="replace") as names:
            for line in names:
                owners.setdefault(line.rstrip("\n"), package)
    return owners


def owner(path, owners):
    """The package that holds path, through symlinks (alternatives) and merged /usr."""
    for candidate in (path, os.path.realpath(path)):
        for variant in (candidate, re.sub(r"^/usr(/(s?bin|lib\w*)/)", r"\1", candidate),
                        "/usr" + candidate):
            if variant in owners:
                return owners[variant]
    return None


def baseline():
    """A minimal Debian: the essential and required packages every machine has."""
    out = run(["dpkg-query", "-W", "-f", "${Package} ${Essential} ${Priority}\n"])
    return {f[0] for f in (line.split() for line in out.splitlines())
            if len(f) == 3 and (f[1] == "yes" or f[2] == "required")}


def closure(install_deps, flags):
    named = run([install_deps, "--list"] + flags).split()
    out = apt(["apt-cache", "depends", "--recurse", "--no-recommends", "--no-suggests",
               "--no-conflicts", "--no-breaks", "--no-replaces", "--no-enhances"] + named)
    return {line.strip("<>").split(":")[0] for line in out.splitlines() if line and line[0] != " "}


def build_uses(build):
    """(what needed it, path) for every file outside the trees that the build used."""
    uses = []
    with open(os.path.join(build, "CMakeCache.txt")) as cache:
        for line in cache:
            m = CACHE_ENTRY.match(line.strip())
            if not m or not os.path.exists(m.group(3)):
                continue
            path = m.group(3)
            if re.search(r"\.(so[.\d]*|a)$", path):
                continue  # a library counts where a link line uses it: FindOpenGL finds spares
            if os.path.isdir(path):
                # A CMake package's folder: its config file is what configure loaded.
                name = m.group(1)[:-len("_DIR")]
                configs = [os.path.join(path, c) for c in
                           (name + "Config.cmake", name.lower() + "-config.cmake")]
                configs = [c for c in configs if os.path.exists(c)]
                if not configs:
                    continue
                path = configs[0]
            uses.append(("CMake's %s" % m.group(1), path))
    deps = run(["ninja", "-C", build, "-t", "deps"])
    headers = {line.strip() for line in deps.splitlines() if line.startswith("    /usr/")}
    uses += [("an included header", h) for h in sorted(headers)]
    with open(os.path.join(build, "build.ninja")) as ninja:
        libraries = set(re.findall(r"(?<![-\w])(/usr/lib/[^\s]+\.so[.\d]*)", ninja.read()))
    uses += [("a link line", lib) for lib in sorted(libraries)]
    return uses


def script_programs(source):
    """(script, program path) for each word of a script that names a program on PATH."""
    found = []
    for pattern, flags in SCRIPTS:
        for script in sorted(glob.glob(os.path.join(source, pattern))):
            with open(script) as text:
                code = re.sub(r"(?m)^\s*#.*$", "", text.read())
            words = (SHELL_WORD if script.endswith(".sh") else PYTHON_COMMAND).findall(code)
            paths = {shutil.which(word) for word in set(words) - NOT_OURS.keys()}
            paths |= {p for p in PROGRAM_PATH.findall(code)
                      if os.path.exists(p) and os.path.basename(p) not in NOT_OURS}
            found += [(os.path.relpath(script, source), flags, path)
                      for path in sorted(p for p in paths if p and p.startswith("/usr/"))]
    return found


def main():
    source, build = sys.argv[1], sys.argv[2]
    install_deps = os.path.join(source, "scripts", "install-deps.sh")
    owners = file_owners()
    everywhere = baseline()
    closures = {}

    def brought(flags):
        key = tuple(flags)
        if key not in closures:
            closures[key] = closure(install_deps, flags) | everywhere
        return closures[key]

    needs = [(why, ["--tests"], path) for why, path in build_uses(build)]
    needs += [("run by " + script, flags, path) for script, flags, path in script_programs(source)]
    missing = {}
    unowned = set()
    for why, flags, path in needs:
        package = owner(path, owners)
        if package is None:
            unowned.add(path)
        elif package not in brought(flags):
            missing.setdefault((package, " ".join(flags) or "run"), []).append((why, path))
    for (package, setup), reasons in sorted(missing.items()):
        print("%s (%s set-up) is not brought by install-deps.sh; needed by:" % (package, setup))
        for why, path in reasons[:3]:
            print("    %s: %s" % (why, path))
    # Files of no package are hand-made installs a new machine lacks.
    for path in sorted(unowned)[:10]:
        print("no Debian package holds %s" % path)
    print("%d files the build and the scripts use: %d packages missing from install-deps.sh, "
          "%d files of no package" % (len(needs), len(missing), len(unowned)))
    failed = len(missing) + len(unowned)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
