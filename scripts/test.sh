#!/usr/bin/env bash
# The README's test command: installs what is missing, builds with warnings as errors and runs
# every test. A release build runs the threaded tests, the benchmarks' smoke runs and the
# end-to-end tests (once per sound server this machine can run: PulseAudio, PipeWire), and the
# Debian package made from it is checked; the threaded tests run again under ThreadSanitizer; the
# unit tests run under AddressSanitizer + UBSan, the one tree that builds them.
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
    cmake -S . -B "$dir" -G Ninja -DTAVRIN_WERROR=ON -DTAVRIN_TESTS=ON \
        -DTAVRIN_TEST_COMPILE_OPTIONS="-O1;-g1" "$@" >/dev/null
}
# Each phase's wall time, printed at the end (docs/performance.md keeps the figures).
phases=()
phase_start=$SECONDS
phase() { # name of the phase that starts now
    phases+=("$(printf '%5d s  %s' $((SECONDS - phase_start)) "${current_phase:-set-up}")")
    current_phase=$1
    phase_start=$SECONDS
    echo "== $1"
}
# The sanitizer trees build the code under test with light optimisation: the sanitizers see the
# same faults at -O1, and the build takes far less time.
sanitizer_flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
    -DTAVRIN_BENCH=OFF)
phase "build (release with debug info)"
# Line tables (-g1) are what a backtrace of a failing test needs; full debug information would
# cost a quarter of the build.
configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" \
    -DTAVRIN_BENCH=ON -DTAVRIN_UNIT_TESTS=OFF
cmake --build build -j"$jobs"
# The release tree's own tests, the end-to-end tests (which spend their time waiting on real
# audio, not computing) and the package check run beside the sanitizer builds, which yield the
# processor to them (nice), and report at the end.
release_checks() {
    local failed=()
    echo "== tests"
    ctest --test-dir build --output-on-failure --no-tests=error -j"$jobs" --timeout 600 -LE e2e ||
        failed+=("the release tree's tests")
    if [ ${#e2e_servers[@]} -eq 0 ]; then
        echo "== end-to-end: no private sound server can run here; the default one must say why"
        ctest --test-dir build --output-on-failure --timeout 600 -L e2e ||
            failed+=("end-to-end through the default server")
    fi
    for server in "${e2e_servers[@]}"; do
        echo "== end-to-end through a private $server server"
        TAVRIN_TEST_SOUND_SERVER=$server ctest --test-dir build --output-on-failure --timeout 600 \
            -L e2e || failed+=("end-to-end through $server")
    done
    echo "== Debian package"
    tests/package/check_package.sh build || failed+=("the Debian package")
    if [ ${#failed[@]} -gt 0 ]; then
        printf 'failed: %s\n' "${failed[@]}"
        return 1
    fi
}
phase "release tests, end-to-end and package check, beside the sanitizer passes"
release_log=$(mktemp)
release_checks >"$release_log" 2>&1 &
release_pid=$!
trap 'kill "$release_pid" 2>/dev/null || true; rm -f "$release_log"' EXIT

phase "ThreadSanitizer: threads"
configure build-tsan -DTAVRIN_TSAN=ON "${sanitizer_flags[@]}"
# Only the programs that hold threaded tests; the rest has its own pass below.
nice -n 19 cmake --build build-tsan -j"$jobs" --target tavrin_tests_threads
# Each test in a process of its own (CTest runs them so): std::mutex never tells ThreadSanitizer
# that it died, so a mutex that a later test puts at the same address would inherit an earlier
# test's lock order and read as a deadlock between objects that never met.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp" \
    nice -n 10 ctest --test-dir build-tsan --output-on-failure --no-tests=error -j"$jobs" \
    --timeout 600 -L threads

phase "AddressSanitizer + UBSan: unit"
configure build-asan -DTAVRIN_ASAN=ON "${sanitizer_flags[@]}"
nice -n 19 cmake --build build-asan -j"$jobs" --target tavrin_tests_unit
# Twice as many at once as there are processors: most of the unit run's time is the commands'
# tests waiting on the simulated card's clock (on 2 cores, 66 s instead of 106 s).
ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
    nice -n 10 ctest --test-dir build-asan --output-on-failure --no-tests=error -j"$((2 * jobs))" \
    -L unit

phase "waiting for the release tests, end-to-end tests and package check"
release_status=0
wait "$release_pid" || release_status=$?
cat "$release_log"
phase "done"
printf '%s\n' "${phases[@]:1}"
exit "$release_status"
