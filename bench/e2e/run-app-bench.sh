#!/usr/bin/env bash
# Builds the program and the application benchmark and runs it on its own virtual display and
# JACK server.   bench/e2e/run-app-bench.sh [seconds per CPU figure] [latency samples]
set -eu
cd "$(dirname "$0")/../.."
cmake -S . -B build -G Ninja -DQUINDEL_SANITIZE=OFF -DQUINDEL_BUILD_BENCH=ON >/dev/null
cmake --build build --target quindel app_bench
# The program of another commit for comparison (QUINDEL_BASELINE=commit, default: the last
# commit of main), built in build-baseline/; QUINDEL_BASELINE=none skips it.
baseline="${QUINDEL_BASELINE:-main}"
if [ "$baseline" != none ]; then
    commit=$(git rev-parse "$baseline^{commit}")
    if [ "$(cat build-baseline/commit 2>/dev/null)" != "$commit" ]; then
        rm -rf build-baseline/src && mkdir -p build-baseline/src
        git archive "$commit" | tar -x -C build-baseline/src
        echo "$commit" >build-baseline/commit
    fi
    cmake -S build-baseline/src -B build-baseline/build -G Ninja -DQUINDEL_SANITIZE=OFF \
        -DQUINDEL_BUILD_TESTS=OFF -DQUINDEL_BUILD_BENCH=OFF >/dev/null
    cmake --build build-baseline/build --target quindel
    export QUINDEL_BASELINE_BUILD="$PWD/build-baseline/build"
fi
tests/support/with-services.sh --xvfb 1280x1024 --jack -- build/bench/e2e/app_bench "$@"
