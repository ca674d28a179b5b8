#!/usr/bin/env bash
# Installs what the suite needs, builds, and runs every test.
#   ./test.sh             the normal build in build/, then the release check on Debian 12 and 13
#   ./test.sh --sanitize  the same under AddressSanitizer + UndefinedBehaviorSanitizer, in build-asan/
# Tests that need a display or a JACK server start their own (tests/support/with-services.sh).
set -eu
cd "$(dirname "$0")"
build=build
flags=(-DQUINDEL_SANITIZE=OFF -DQUINDEL_BUILD_TESTS=ON -DQUINDEL_BUILD_BENCH=ON)
if [ "${1:-}" = "--sanitize" ]; then
    build=build-asan
    flags=(-DQUINDEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DQUINDEL_BUILD_TESTS=ON -DQUINDEL_BUILD_BENCH=OFF)
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
    export LSAN_OPTIONS="suppressions=$PWD/tests/support/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi
scripts/install-packages.sh
cmake -S . -B "$build" -G Ninja "${flags[@]}"
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
# The package installed with apt and clicking in clean roots of each supported Debian release,
# under their own X server, sway, Mutter and KWin (needs root: debootstrap, chroot, mounts).
if [ "$build" = build ]; then
    sudo_cmd=()
    [ "$(id -u)" = 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" tests/e2e/release-check.sh "$build"
fi
