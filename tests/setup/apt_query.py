"""apt's read-only queries for the set-up tests. apt answers exit 100 when its state cannot be
read (another apt is rewriting the package lists, a lock is held, the lists are missing): that
says nothing about the script under test, so the test stops as skipped (exit 77) and says why."""
import subprocess
import sys

SKIPPED = 77


def apt(args, **kw):
    """stdout of an apt-get/apt-cache query; a test skip when apt's state is busy or unreadable."""
    done = subprocess.run(args, capture_output=True, text=True, **kw)
    if done.returncode == 100:
        print("SKIPPED: apt's package state could not be read (%s exit 100: %s)"
              % (" ".join(args[:2]), done.stderr.strip() or "no message"))
        sys.exit(SKIPPED)
    if done.returncode != 0:
        raise subprocess.CalledProcessError(done.returncode, args, done.stdout, done.stderr)
    return done.stdout
