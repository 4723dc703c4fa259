#!/usr/bin/env bash
# The README's test command: installs what is missing, builds with warnings as errors, runs every
# test, the end-to-end ones once per sound server this machine can run (PulseAudio, PipeWire),
# checks the Debian package made from that build, then the sanitizer passes: ThreadSanitizer over
# the threaded tests, AddressSanitizer + UBSan over the
# unit tests.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --tests

# pipewire-alsa cannot be installed beside pulseaudio, so on a PulseAudio machine its ALSA plugin
# is unpacked into the build tree, never installed; the tests load it through a private ALSA
# configuration (tests/e2e/sound_server.py). It must match the installed libpipewire.
unpack_pipewire_alsa() {
    local dir=build/pipewire-alsa version
    version=$(dpkg-query -W -f='${Version}' libpipewire-0.3-0 2>/dev/null) || return 1
    if [ "$(cat "$dir/version" 2>/dev/null)" != "$version" ]; then
        rm -rf "$dir"
        mkdir -p "$dir"
        (cd "$dir" && apt-get download -q "pipewire-alsa=$version" >/dev/null 2>&1) || return 1
        dpkg-deb -x "$dir"/pipewire-alsa_*.deb "$dir/root"
        echo "$version" >"$dir/version"
    fi
    export TAVRIN_TEST_PIPEWIRE_ALSA="$PWD/$dir/root"
}

# The private sound servers the end-to-end tests can start here.
e2e_servers=()
if command -v pulseaudio >/dev/null && command -v pactl >/dev/null; then
    e2e_servers+=(pulse)
fi
if command -v pipewire >/dev/null && command -v wireplumber >/dev/null &&
    command -v pw-metadata >/dev/null && command -v dbus-run-session >/dev/null; then
    if [ -e /usr/share/alsa/alsa.conf.d/50-pipewire.conf ] || unpack_pipewire_alsa; then
        e2e_servers+=(pipewire)
    else
        echo "No PipeWire e2e pass: the pipewire-alsa plugin could not be unpacked."
    fi
fi

jobs=$(nproc)
configure() { # dir, extra cmake args...
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DTAVRIN_WERROR=ON "$@" >/dev/null
}

echo "== build (release with debug info)"
configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIN_TESTS=ON -DTAVRIN_BENCH=ON
cmake --build build -j"$jobs"
echo "== tests"
ctest --test-dir build --output-on-failure --no-tests=error -j"$jobs" --timeout 600 -LE e2e
if [ ${#e2e_servers[@]} -eq 0 ]; then
    echo "== end-to-end: no private sound server can run here; the default one must say why"
    ctest --test-dir build --output-on-failure --timeout 600 -L e2e
fi
failed_servers=()
for server in "${e2e_servers[@]}"; do
    echo "== end-to-end through a private $server server"
    TAVRIN_TEST_SOUND_SERVER=$server ctest --test-dir build --output-on-failure --timeout 600 \
        -L e2e || failed_servers+=("$server")
done
if [ ${#failed_servers[@]} -gt 0 ]; then
    echo "end-to-end tests failed through: ${failed_servers[*]}"
    exit 1
fi
echo "== Debian package"
tests/package/check_package.sh build

echo "== ThreadSanitizer: threads"
configure build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIN_TSAN=ON -DTAVRIN_BENCH=OFF
# Only the programs that hold threaded tests; the rest has its own pass below.
thread_targets=$(ninja -C build-tsan -t targets all | sed -n 's/^\(tavrin_[a-z_]*_thread_tests\): .*/\1/p' | sort -u)
cmake --build build-tsan -j"$jobs" --target $thread_targets
# Each test in a process of its own (CTest runs them so): std::mutex never tells ThreadSanitizer
# that it died, so a mutex that a later test puts at the same address would inherit an earlier
# test's lock order and read as a deadlock between objects that never met.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp" \
    ctest --test-dir build-tsan --output-on-failure -j"$jobs" --timeout 600 -L threads

echo "== AddressSanitizer + UBSan: unit"
configure build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIN_ASAN=ON -DTAVRIN_BENCH=OFF
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
    ctest --test-dir build-asan --output-on-failure -j"$jobs" -L unit
