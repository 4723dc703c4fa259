#!/usr/bin/env bash
# The Debian package, checked the way a user's system sees it: built by cpack from an already
# built tree (default build/), it holds exactly the program, its desktop files and its Debian
# documents, its Depends names Qt 6 and ALSA, Debian's own checker (lintian) finds no error or
# warning in it, and the files it installs pass the desktop and AppStream validators and render
# as manual pages without warnings.
# Usage: tests/package/check_package.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/../.."

build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

log=$(cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" 2>&1) || {
    echo "$log" >&2
    fail "cpack could not build the package"
    exit 1
}
deb=$(sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p' <<<"$log")
arch=$(dpkg --print-architecture)
if [ "$(basename "$deb")" != "tavrin_0.94_${arch}.deb" ]; then
    fail "package file is '$(basename "$deb")', not tavrin_0.94_${arch}.deb"
    exit 1
fi

# Regular files only; the directories follow from them.
id=io.github.tavrin.Tavrin
expected="./usr/bin/tavrin
./usr/bin/tavrin-measure
./usr/share/applications/$id.desktop
./usr/share/doc/tavrin/changelog.gz
./usr/share/doc/tavrin/copyright
./usr/share/icons/hicolor/256x256/apps/$id.png
./usr/share/icons/hicolor/32x32/apps/$id.png
./usr/share/icons/hicolor/48x48/apps/$id.png
./usr/share/icons/hicolor/scalable/apps/$id.svg
./usr/share/man/man1/tavrin-measure.1.gz
./usr/share/man/man1/tavrin.1.gz
./usr/share/metainfo/$id.metainfo.xml"
listed=$(dpkg-deb -c "$deb" | awk '$1 ~ /^-/ { print $NF }' | sort)
if [ "$listed" != "$expected" ]; then
    fail "package contents differ from the program and its desktop files:"
    diff <(echo "$expected") <(echo "$listed") >&2 || true
fi

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6gui6 libqt6core6 libasound2; do
    grep -Eq "(^|, )$lib( |,|$)" <<<"$depends" || fail "Depends lacks $lib: $depends"
done

# Lintian reports its findings on stdout, one a line ("E: tavrin: tag detail"); its exit status
# says whether any of them was an error or a warning.
lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>"$work/lintian.err" ||
    fail "lintian: $(cat "$work/lintian.log" "$work/lintian.err")"

root="$work/root"
dpkg-deb -x "$deb" "$root"
# The installed tree as a software centre reads it: the metainfo validated, and the desktop entry
# it launches found beside it.
appstreamcli validate-tree --no-net "$root" >"$work/tree.log" 2>&1 ||
    fail "installed tree: $(cat "$work/tree.log")"
desktop-file-validate "$root/usr/share/applications/$id.desktop" >"$work/desktop.log" 2>&1 ||
    fail "desktop entry: $(cat "$work/desktop.log")"
# A version bump needs a changelog entry and a release in the metainfo.
version=$(dpkg-deb -f "$deb" Version)
zcat "$root/usr/share/doc/tavrin/changelog.gz" >"$work/changelog"
logged=$(dpkg-parsechangelog -l "$work/changelog" -S Version)
[ "$logged" = "$version" ] || fail "the changelog's latest entry is $logged, the package $version"
released=$(grep -o -m 1 '<release version="[^"]*"' "$root/usr/share/metainfo/$id.metainfo.xml")
[ "$released" = "<release version=\"$version\"" ] ||
    fail "the metainfo's latest release is '$released', the package $version"

# groff reports its warnings on stderr and still exits 0.
for page in tavrin tavrin-measure; do
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$root/usr/share/man/man1/$page.1.gz" \
        >"$work/$page.txt" 2>"$work/$page.err" || fail "man could not render $page(1)"
    [ ! -s "$work/$page.err" ] || fail "$page(1) warnings: $(cat "$work/$page.err")"
done
# Every command has its section in tavrin(1).
for command in measure thd calibrate sweep impedance report; do
    grep -Eq "^   tavrin $command\$" "$work/tavrin.txt" ||
        fail "tavrin(1) renders without a section for 'tavrin $command'"
done

if [ "$failures" -ne 0 ]; then
    echo "package: $failures check(s) failed" >&2
    exit 1
fi
echo "package: $(basename "$deb") ($(stat -c %s "$deb") bytes) holds the program, desktop entry," \
    "icons, metainfo, manual pages, copyright and changelog; lintian is content; Depends: $depends"
