#!/usr/bin/env bash
# The README's run command: installs what is missing, builds into build/, starts Tavrin.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
exec build/app/tavrin-levels "$@"
