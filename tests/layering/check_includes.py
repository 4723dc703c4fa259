#!/usr/bin/env python3
"""Every quoted include names its header from the repository root, and reaches only into a
library the includer's own CMake target links: itself, what it links, and what those export
in turn (their PUBLIC links). Run by the build; writes the stamp only when all is well.

usage: check_includes.py ROOT TARGETS STAMP
  TARGETS: one line per target, name|folder|its links|the links it passes on, lists split by ';'
  (written by tests/layering/CMakeLists.txt).
"""

import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
LINK_ONLY = re.compile(r'^\$<LINK_ONLY:([^>]+)>$')


def read_targets(path, root):
    links, passed_on, folders = {}, {}, {}
    with open(path, encoding='utf-8') as f:
        for line in f:
            name, folder, own, public = line.rstrip('\n').split('|')
            folder = os.path.relpath(folder, root)
            folders.setdefault(folder, set()).add(name)
            links[name] = [x for x in own.split(';') if x]
            # A static library passes its private links on for linking only: their headers are
            # not its users' to include.
            passed_on[name] = [x for x in public.split(';') if x and not LINK_ONLY.match(x)]
    return links, passed_on, folders


def reachable(name, links, passed_on, memo):
    """The targets whose headers `name`'s sources may include."""
    if name in memo:
        return memo[name]

    def exported(target, seen):
        if target in seen or target not in passed_on:
            return
        seen.add(target)
        for next_target in passed_on[target]:
            exported(next_target, seen)

    seen = {name}
    for target in links.get(name, []):
        exported(target, seen)
    memo[name] = seen
    return seen


def owner(path, folders):
    """The folder of the library a file belongs to: the nearest one that defines a target."""
    folder = os.path.dirname(path)
    while True:
        if folder in folders:
            return folder
        if not folder:
            return None
        folder = os.path.dirname(folder)


def main():
    root, targets_file, stamp = sys.argv[1:4]
    root = os.path.abspath(root)
    links, passed_on, folders = read_targets(targets_file, root)
    listed = []
    for folder, subfolders, files in os.walk(root):
        # Build trees (build/, build-tsan/...) and hidden folders hold no sources of ours.
        subfolders[:] = [d for d in subfolders if not d.startswith(('build', '.'))]
        listed += [os.path.relpath(os.path.join(folder, f), root) for f in files]
    memo = {}
    faults = []
    for path in sorted(listed):
        if not path.endswith(('.h', '.cpp')) or not os.path.isfile(os.path.join(root, path)):
            continue
        home = owner(path, folders)
        if home is None:
            continue  # built outside CMake (bench/fuzz)
        may_use = set()
        for target in folders[home]:
            may_use |= reachable(target, links, passed_on, memo)
        with open(os.path.join(root, path), encoding='utf-8') as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                header = m.group(1)
                where = '%s:%d: "%s"' % (path, number, header)
                if not os.path.isfile(os.path.join(root, header)):
                    faults.append(where + ' does not name its folder from the repository root')
                    continue
                header_home = owner(header, folders)
                if header_home == home:
                    continue
                if header_home is None:
                    faults.append(where + ' belongs to no library')
                elif not folders[header_home] & may_use:
                    faults.append('%s is %s\'s, which %s does not link' %
                                  (where, ' or '.join(sorted(folders[header_home])),
                                   ' or '.join(sorted(folders[home]))))
    if faults:
        print('\n'.join(faults), file=sys.stderr)
        print('%d include(s) reach past their library\'s declared links' % len(faults),
              file=sys.stderr)
        return 1
    with open(stamp, 'w', encoding='utf-8') as f:
        f.write('ok\n')
    return 0


if __name__ == '__main__':
    sys.exit(main())
