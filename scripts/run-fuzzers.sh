#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for a bounded time,
# starting from its seed corpus (copied, so what the fuzzer adds stays out of the checkout).
# A crash stops the script with the fuzzer's report; the input that caused it stays in
# build-fuzz/.
#   scripts/run-fuzzers.sh [SECONDS_EACH]   (60 when not given)
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQUINDEL_FUZZ=ON \
    -DQUINDEL_BUILD_TESTS=OFF -DQUINDEL_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz --target storage_fuzz request_fuzz
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for pair in storage_fuzz:fuzz/corpus request_fuzz:fuzz/request-corpus; do
    fuzzer=${pair%%:*} seeds=${pair#*:}
    mkdir "$work/$fuzzer"
    cp "$seeds"/* "$work/$fuzzer/"
    echo "$fuzzer: $seconds s"
    if ! "build-fuzz/fuzz/$fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="build-fuzz/$fuzzer-" "$work/$fuzzer" >"$work/$fuzzer.log" 2>&1; then
        cat "$work/$fuzzer.log"
        echo "FAILED: $fuzzer (the input is in build-fuzz/$fuzzer-*)" >&2
        exit 1
    fi
    grep -E '^(Done|stat::number_of_executed_units)' "$work/$fuzzer.log"
done
