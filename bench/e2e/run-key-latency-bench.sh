#!/usr/bin/env bash
# Builds the program and the key latency benchmark and runs it in each desktop session, one
# after the other: X11 (Xvfb, the key poll), sway (bindsym exec of the printed bindings, then the
# trigger command's start to exit beside a bare client), KWin with a session bus (KDE's global
# shortcut service). Prints one line per figure.
#   bench/e2e/run-key-latency-bench.sh [samples per session]
set -eu
cd "$(dirname "$0")/../.."
cmake -S . -B build -G Ninja -DQUINDEL_SANITIZE=OFF -DQUINDEL_BUILD_BENCH=ON >/dev/null
cmake --build build --target quindel wayland_probe key_latency_bench >/dev/null
samples="${1:-100}"
run=tests/support/with-services.sh
bench=build/bench/e2e/key_latency_bench
for session in "--xvfb 1280x1024" "--sway 1280x1024" "--kwin 1280x1024 --bus"; do
    # shellcheck disable=SC2086 # the session is options and their values
    $run $session -- "$bench" "$samples" 2>/dev/null | grep ' median '
done
