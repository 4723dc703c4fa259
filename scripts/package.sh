#!/usr/bin/env bash
# Builds the Debian package: a Release build of the program alone (no tests, no benchmarks) in
# build-package/, then cpack. Prints the path of the .deb; install it with
#   sudo apt install ./build-package/tavrin_0.94_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --package
dir=build-package
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVRIN_TESTS=OFF -DTAVRIN_BENCH=OFF \
    >/dev/null
cmake --build "$dir" -j"$(nproc)" --target tavrin
# cpack names what it wrote: "CPack: - package: /path/tavrin_0.94_amd64.deb generated."
log=$(cpack --config "$dir/CPackConfig.cmake" -B "$PWD/$dir" 2>&1) || {
    echo "$log" >&2
    exit 1
}
deb=$(sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p' <<<"$log")
[ -f "$deb" ] || {
    echo "package.sh: cpack wrote no .deb" >&2
    exit 1
}
echo "$deb"
