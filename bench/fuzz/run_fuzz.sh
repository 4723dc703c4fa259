#!/usr/bin/env bash
# Fuzzes the frequency and reference entry parsers with libFuzzer for a while (default 120 s)
# and prints libFuzzer's figures. Built here with clang, outside the main build: the fuzzer's
# instrumentation needs clang, the program itself is built with g++.
#   bench/fuzz/run_fuzz.sh [seconds]
# Needs clang and libfuzzer-14-dev (scripts/install-deps.sh --bench). Exits non-zero on a finding; the
# input that caused it is left in the work directory as crash-*.
set -euo pipefail

seconds="${1:-120}"
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
work="${TAVRIN_FUZZ_DIR:-$root/build/fuzz}"
mkdir -p "$work/corpus"

clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I"$root" "$here/entry_fuzz.cpp" "$root/base/entry_validation.cpp" \
    -o "$work/entry_fuzz"

# A few typed entries to start from, so the run spends its time near the interesting forms.
seeds=("0" "20000" "20001" "+440" " 1000 " "0.001" "1e4" "10000.0000001" "9.99e-4" "-0" "1e-3"
    ".5" "5." "1E+4")
for i in "${!seeds[@]}"; do
    printf '%s' "${seeds[$i]}" > "$work/corpus/seed-$i"
done

cd "$work"
./entry_fuzz -max_total_time="$seconds" -max_len=64 -print_final_stats=1 corpus 2>&1 |
    tee fuzz.log | grep -E '^(#[0-9]+[[:space:]]+(INITED|DONE)|stat::|==[0-9]+==|SUMMARY|.*accepted)' || true
exit "${PIPESTATUS[0]}"
