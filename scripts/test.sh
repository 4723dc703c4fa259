#!/usr/bin/env bash
# The README's test command: installs what is missing, builds with warnings as errors, runs every
# test (end-to-end ones included), checks the Debian package made from that build, then the
# sanitizer passes: ThreadSanitizer over the threaded tests, AddressSanitizer + UBSan over the
# unit tests.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
configure() { # dir, extra cmake args...
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
}

echo "== build (release with debug info)"
configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
echo "== tests"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 600
echo "== Debian package"
tests/package/check_package.sh build

echo "== ThreadSanitizer: threads"
configure build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIN_TSAN=ON -DTAVRIN_BENCH=OFF
# Only the programs that hold threaded tests; the rest has its own pass below.
thread_targets=$(ninja -C build-tsan -t targets all | sed -n 's/^\(tavrin_[a-z_]*_thread_tests\): .*/\1/p' | sort -u)
cmake --build build-tsan -j"$jobs" --target $thread_targets
for target in $thread_targets; do
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp" \
        QT_QPA_PLATFORM=offscreen TAVRIN_SOURCE_DIR="$PWD" \
        "$(find build-tsan/tests -type f -name "$target" | head -n 1)" --gtest_brief=1
done

echo "== AddressSanitizer + UBSan: unit"
configure build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIN_ASAN=ON -DTAVRIN_BENCH=OFF
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
    ctest --test-dir build-asan --output-on-failure -j"$jobs" -L unit
