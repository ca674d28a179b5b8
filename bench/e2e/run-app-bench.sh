#!/usr/bin/env bash
# Builds the program and the application benchmark and runs it on its own virtual display and
# JACK server.   bench/e2e/run-app-bench.sh [seconds per CPU figure] [latency samples]
set -eu
cd "$(dirname "$0")/../.."
cmake -S . -B build -G Ninja -DQUINDEL_SANITIZE=OFF -DQUINDEL_BUILD_BENCH=ON >/dev/null
cmake --build build --target quindel app_bench
tests/support/with-services.sh --xvfb 1280x1024 --jack -- build/bench/e2e/app_bench "$@"
