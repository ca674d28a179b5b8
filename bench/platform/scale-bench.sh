#!/usr/bin/env bash
# Point capture and click latency at scale 1 and at scale 2 on sway, KWin and Mutter, one output
# each (2560x1600), in one run: scaling must cost nothing measurable.
#   bench/platform/scale-bench.sh BUILD_DIR [captures]
set -u
build="${1:?usage: $0 BUILD_DIR [captures]}"
captures="${2:-30}"
here="$(cd "$(dirname "$0")" && pwd)"
services="$here/../../tests/support/with-services.sh"
for compositor in sway kwin mutter; do
    for scale in 1 2; do
        "$services" --"$compositor" 2560x1600 --scale "$scale" -- env QT_QPA_PLATFORM=wayland \
            "$build/bench/platform/point_capture_bench" "$compositor@$scale" "$captures"
    done
done
