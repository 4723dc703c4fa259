#!/usr/bin/env python3
"""When apt's state cannot be read (exit 100), the install-deps test skips and says why instead
of failing: run it with apt-get and apt-cache standing in that answer as a busy apt does.

usage: apt_busy_test.py INSTALL_DEPS_TEST_PY INSTALL_DEPS_SH"""
import os
import subprocess
import sys
import tempfile

BUSY = "#!/bin/sh\necho 'E: Could not get lock /var/lib/apt/lists/lock' >&2\nexit 100\n"


def main():
    test, script = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as fakes:
        for tool in ("apt-get", "apt-cache"):
            path = os.path.join(fakes, tool)
            with open(path, "w") as fake:
                fake.write(BUSY)
            os.chmod(path, 0o755)
        env = dict(os.environ, PATH=fakes + os.pathsep + os.environ["PATH"])
        done = subprocess.run([sys.executable, test, script], env=env, capture_output=True,
                              text=True)
    said = "SKIPPED: apt's package state could not be read" in done.stdout and "lock" in done.stdout
    print("exit %d, %s" % (done.returncode, "says why" if said else "does not say why"))
    print(done.stdout + done.stderr)
    return 0 if done.returncode == 77 and said else 1


if __name__ == "__main__":
    sys.exit(main())
