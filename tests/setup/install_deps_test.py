#!/usr/bin/env python3
"""What scripts/install-deps.sh would install and remove (--dry-run), on this machine's package set
and on other desktops' sets made from it: a PipeWire desktop (pipewire-pulse and pipewire-alsa in
place of pulseaudio), one with pipewire-pulse beside PulseAudio, and a machine with no sound
server. No set-up may remove a package or add a sound server beside another; only the test set-up
of a machine without one installs PulseAudio.

usage: install_deps_test.py INSTALL_DEPS_SH [DPKG_ADMINDIR]
DPKG_ADMINDIR holds the package database that stands for this machine's (default /var/lib/dpkg),
so the sets can be made from another machine's: one with two sound servers side by side, say.
"""
import os
import subprocess
import sys
import tempfile

from apt_query import apt

SOUND_SERVERS = {"pulseaudio", "pipewire-pulse", "pipewire-alsa"}
PULSE = {"pulseaudio", "pulseaudio-utils"}
# Everything that makes a machine one with a sound server, whichever it is: a machine may have
# more than one (pipewire-pulse installed beside pulseaudio).
EVERY_SERVER = SOUND_SERVERS | PULSE
PIPEWIRE_DESKTOP = ["pipewire-pulse", "pipewire-alsa"]
STATUS_FIELDS = ("Package", "Version", "Architecture", "Multi-Arch", "Depends", "Pre-Depends",
                 "Conflicts", "Breaks", "Replaces", "Provides", "Maintainer", "Description")


def stanzas(text):
    return [s for s in text.strip().split("\n\n") if s]


def name(stanza):
    return stanza.split("\n", 1)[0].split(": ", 1)[1]


def as_installed(stanza):
    """An archive stanza (apt-cache show) rewritten as an installed package's status entry."""
    lines = [line for line in stanza.split("\n") if line.split(":", 1)[0] in STATUS_FIELDS]
    return "\n".join(lines[:1] + ["Status: install ok installed"] + lines[1:])


def write_status(folder, entries):
    os.makedirs(folder)
    with open(os.path.join(folder, "status"), "w") as status:
        status.write("\n\n".join(entries) + "\n")
    return folder


def package_set(machine, folder, drop, add):
    """The machine's dpkg database without `drop`, with `add` and what they need installed."""
    with open(machine) as status:
        kept = [s for s in stanzas(status.read()) if name(s) not in drop]
    admin = write_status(folder + "-base", kept)
    if not add:
        return admin
    plan = apt(["apt-get", "-o", "Dir::State::status=%s/status" % admin, "-s",
                "install", "--no-install-recommends"] + add, env=dict(os.environ, LC_ALL="C"))
    # "Inst name [version] ..." is one apt-get would install again over itself: already there.
    new = [line.split()[1] for line in plan.splitlines()
           if line.startswith("Inst ") and not line.split()[2].startswith("[")]
    shown = apt(["apt-cache", "show", "--no-all-versions"] + new)
    return write_status(folder, kept + [as_installed(s) for s in stanzas(shown)])


def dry_run(script, admin, tests):
    env = dict(os.environ, LC_ALL="C")
    if admin:
        env["TAVRIN_DPKG_ADMINDIR"] = admin
    args = [script, "--dry-run"] + (["--tests"] if tests else [])
    done = subprocess.run(args, env=env, capture_output=True, text=True)
    plan = dict(line.split(":", 1) for line in done.stdout.splitlines() if ":" in line)
    return (done.returncode, set(plan.get("install", "").split()),
            set(plan.get("remove", "").split()), done.stderr.strip())


def main():
    script = sys.argv[1]
    admin = sys.argv[2] if len(sys.argv) > 2 else None
    machine = os.path.join(admin or "/var/lib/dpkg", "status")
    scratch = tempfile.mkdtemp(prefix="tavrin-deps-")
    both = package_set(machine, os.path.join(scratch, "both"), set(), ["pipewire-pulse"])
    sets = {
        "this machine": admin,
        "PipeWire desktop": package_set(machine, os.path.join(scratch, "pipewire"), PULSE,
                                        PIPEWIRE_DESKTOP),
        "two sound servers": both,
        # Made from the set with two, so that dropping only one server's packages shows.
        "no sound server": package_set(os.path.join(both, "status"),
                                       os.path.join(scratch, "bare"), EVERY_SERVER, []),
    }
    # (package set, --tests, sound servers it must install)
    cases = [
        ("this machine", False, set()),
        ("this machine", True, set()),
        ("PipeWire desktop", False, set()),
        ("PipeWire desktop", True, set()),
        ("two sound servers", False, set()),
        ("two sound servers", True, set()),
        ("no sound server", False, set()),
        ("no sound server", True, {"pulseaudio"}),
    ]
    failed = 0
    for set_name, tests, servers in cases:
        code, install, remove, err = dry_run(script, sets[set_name], tests)
        what = "%s, %s" % (set_name, "test set-up" if tests else "run set-up")
        faults = []
        if code != 0:
            faults.append("exit %d (%s)" % (code, err))
        if remove:
            faults.append("removes %s" % " ".join(sorted(remove)))
        if install & SOUND_SERVERS != servers:
            faults.append("installs sound servers {%s}, expected {%s}"
                          % (" ".join(sorted(install & SOUND_SERVERS)), " ".join(sorted(servers))))
        print("%s: %s" % (what, "; ".join(faults) if faults else "ok"))
        failed += bool(faults)
    subprocess.run(["rm", "-rf", scratch])
    print("%d passed, %d failed" % (len(cases) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
