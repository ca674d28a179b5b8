#!/usr/bin/env bash
# Builds the program and the ALSA latency benchmark and runs it in the virtual machine of
# tests/support/linux-guest.sh, on a display and a JACK server of its own in there. Prints MIDI
# note to click over ALSA and over JACK (median, p90) and the ratio of the medians.
#   bench/e2e/run-alsa-latency-bench.sh [samples]
set -eu -o pipefail
cd "$(dirname "$0")/../.."
cmake -S . -B build -G Ninja -DQUINDEL_SANITIZE=OFF -DQUINDEL_BUILD_BENCH=ON >/dev/null
cmake --build build --target quindel alsa_latency_bench >/dev/null
tests/support/linux-guest.sh --cache build/guest -- \
    tests/support/with-services.sh --xvfb 1280x1024 --jack -- \
    build/bench/e2e/alsa_latency_bench "${1:-100}" | grep -E '^(ALSA|JACK)'
