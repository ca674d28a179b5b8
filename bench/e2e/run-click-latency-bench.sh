#!/usr/bin/env bash
# Builds the program and the click latency benchmark and runs it in each desktop session, one
# after the other, each with its own JACK server: X11 (Xvfb), sway, KWin and Mutter. Prints one
# line per session: MIDI note to click, median, p99 and max.
#   bench/e2e/run-click-latency-bench.sh [samples per session]
set -eu
cd "$(dirname "$0")/../.."
cmake -S . -B build -G Ninja -DQUINDEL_SANITIZE=OFF -DQUINDEL_BUILD_BENCH=ON >/dev/null
cmake --build build --target quindel wayland_probe click_latency_bench >/dev/null
samples="${1:-100}"
run=tests/support/with-services.sh
bench=build/bench/e2e/click_latency_bench
results=()
for session in "--xvfb 1280x1024" "--sway 1280x1024" "--kwin 1280x1024" "--mutter 1280x1024"; do
    # shellcheck disable=SC2086 # the session is an option and its value
    results+=("$($run $session --jack -- "$bench" "$samples" 2>/dev/null | tail -1)")
done
printf '%s\n' "${results[@]}"
