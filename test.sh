#!/usr/bin/env bash
# Installs what the suite needs, builds, and runs every test.
#   ./test.sh             the normal build in build/, then the release check on Debian 12 and 13
#   ./test.sh --sanitize  the same under AddressSanitizer + UndefinedBehaviorSanitizer, in build-asan/
# Tests that need a display or a JACK server start their own (tests/support/with-services.sh).
# The normal build then runs the fuzz targets for a minute each (scripts/run-fuzzers.sh).
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
# The tests under a Wayland compositor run as an unprivileged user (see with-services.sh), who
# must reach the build in this folder. Where a folder on the way is private (a home folder is
# mode 0700), the suite runs in a mount namespace of its own that shows that folder with mode
# 0711: a tmpfs over it with each of its entries bound in, so the same files at the same paths.
# The folder itself is left as it is.
blocked_folder() { # the outermost folder on the way to this one that others cannot enter
    local path=$PWD blocked=""
    while [ "$path" != / ]; do
        setpriv --reuid=65534 --regid=65534 --clear-groups test -x "$path" || blocked=$path
        path=$(dirname "$path")
    done
    echo "$blocked"
}
if [ "$(id -u)" = 0 ] && [ -n "$(blocked_folder)" ]; then
    if [ -z "${QUINDEL_TEST_NAMESPACE:-}" ]; then
        QUINDEL_TEST_NAMESPACE=1 exec unshare --mount --propagation private "$0" "$@"
    fi
    shown_before=""
    while blocked=$(blocked_folder) && [ -n "$blocked" ]; do
        original=$(mktemp -d)
        if [ "$blocked" = "$shown_before" ] || ! mount --bind "$blocked" "$original" ||
            ! mount -t tmpfs -o mode=0711 quindel-view "$blocked"; then
            echo "test.sh: the compositor tests run as an unprivileged user, who cannot enter" \
                "$blocked (mode $(stat -c %a "$original")), and it cannot be shown to them" >&2
            exit 1
        fi
        for entry in "$original"/* "$original"/.[!.]* "$original"/..?*; do
            [ -e "$entry" ] || [ -L "$entry" ] || continue
            shown="$blocked/${entry##*/}"
            if [ -L "$entry" ]; then
                cp -P "$entry" "$shown"
            else
                { [ -d "$entry" ] && mkdir "$shown" || touch "$shown"; } &&
                    mount --bind "$entry" "$shown"
            fi
        done
        umount "$original" && rmdir "$original"
        shown_before=$blocked
    done
    cd "$PWD" # this folder as shown now
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
    # The fuzz targets, a bounded time each, once per CI run.
    scripts/run-fuzzers.sh 60
fi
