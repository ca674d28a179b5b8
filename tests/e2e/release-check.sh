#!/usr/bin/env bash
# Installs the Debian package with apt into a clean root of each supported Debian release and
# clicks with it there: the installed /usr/bin/quindel under that release's sway, Mutter, KWin
# (set up as a Plasma session starts it) and X server (Xvfb) must click the exact point on
# every `quindel --trigger` (ReleaseTest); then the package is purged and the user's files must
# stay.
#   release-check.sh BUILD_DIR [RELEASE...]      (default: bookworm trixie; needs root)
# The package of this machine's release, ReleaseTest and the probe come from BUILD_DIR; another
# release's are built in a root of that release (the package by ./package.sh). The roots, made with debootstrap, are kept in
# QUINDEL_RELEASE_ROOTS (default /var/cache/quindel-release-roots), so a second run skips
# debootstrap; each run works in a fresh overlay of them, and a kept root is never written to.
# Everything mounted lives in a private mount namespace of this script and is unmounted on
# every way out. Prints a table: release, desktop and version, installed, exact clicks; exits
# non-zero when any step fails.
set -u
[ $# -ge 1 ] || { echo "usage: release-check.sh BUILD_DIR [RELEASE...]" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "release-check: needs root (debootstrap, chroot, mounts)" >&2; exit 1; }
# A private mount namespace: whatever this script mounts goes away with it at the latest.
if [ -z "${QUINDEL_RELEASE_NAMESPACE:-}" ]; then
    QUINDEL_RELEASE_NAMESPACE=1 exec unshare --mount --propagation private "$0" "$@"
fi
build=$(realpath "$1")
shift
releases=("$@")
[ ${#releases[@]} -gt 0 ] || releases=(bookworm trixie)
source_dir=$(realpath "$(dirname "$0")/../..")
roots=${QUINDEL_RELEASE_ROOTS:-/var/cache/quindel-release-roots}
# The desktops, their services and what the test set-up uses; nothing that Quindel needs.
desktop_packages=(sway mutter kwin-wayland xvfb pipewire dbus-daemon dbus-bin)
# The Debian mirror this machine uses, else the default one.
mirror=$(grep -hsoE '^(URIs:|deb) +https?://[^ ]+/debian/?( |$)' /etc/apt/sources.list \
    /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources | head -1 | awk '{print $2}')
mirror=${mirror:-http://deb.debian.org/debian}
export LC_ALL=C DEBIAN_FRONTEND=noninteractive
began=$(date +%s)

work=$(mktemp -d /var/tmp/quindel-release.XXXXXX)
mounts=()
making="" # the kept root being made
# Unmounts what was mounted on or under ROOT, newest first, once the processes that run in it
# are stopped.
unmount_root() {
    local root=$1 pid i m kept=()
    for pid in $(ls /proc | grep -E '^[0-9]+$'); do
        case "$(readlink "/proc/$pid/root" 2>/dev/null)" in
        "$root" | "$root"/*) kill -KILL "$pid" 2>/dev/null ;;
        esac
    done
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        case "${mounts[i]}" in
        "$root" | "$root"/*) umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" ;;
        esac
    done
    for m in "${mounts[@]}"; do case "$m" in "$root" | "$root"/*) ;; *) kept+=("$m") ;; esac done
    mounts=("${kept[@]}")
}
# Removes a folder, never across a mount point: nothing of the machine's own is reachable.
remove_folder() {
    [ -e "$1" ] || return 0
    if grep -qF " $1" /proc/self/mountinfo; then
        echo "release-check: $1 is still mounted, left in place" >&2
        return 1
    fi
    rm -rf --one-file-system "$1"
}
cleanup() {
    unmount_root "$work"
    [ -n "$making" ] && unmount_root "$making"
    remove_folder "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The machine's /proc, /sys (read-only), /dev and /dev/pts in the root, a fresh shared memory
# folder (wlroots allocates its buffers there; without it sway falls back to 1280x720) and a
# fresh /run.
mount_root() {
    local root=$1
    mount --bind /proc "$root/proc" && mounts+=("$root/proc") &&
        mount --bind /sys "$root/sys" && mounts+=("$root/sys") &&
        mount -o remount,bind,ro "$root/sys" &&
        mount --bind /dev "$root/dev" && mounts+=("$root/dev") &&
        mount --bind /dev/pts "$root/dev/pts" && mounts+=("$root/dev/pts") &&
        mount -t tmpfs -o mode=1777,nosuid,nodev shm "$root/dev/shm" && mounts+=("$root/dev/shm") &&
        mount -t tmpfs -o mode=0755,nosuid,nodev run "$root/run" && mounts+=("$root/run") &&
        cp -L /etc/resolv.conf "$root/etc/resolv.conf"
}
# Runs a command in the root; waited for in the background, so that a signal to this script
# ends it at once (the clean-up stops whatever runs in the root).
in_root() {
    local root=$1
    shift
    chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@" &
    wait $!
}

# A kept root NAME of RELEASE, made when missing or when it was made from another STAMP (what
# went into it): debootstrap, then the command given, run in it. An interrupted making leaves
# no root behind.
ensure_root() {
    local name=$1 release=$2 stamp=$3 root=$roots/$1 made=0
    shift 3
    [ "$(cat "$root/.quindel-root" 2>/dev/null)" = "$stamp" ] && return 0
    echo "release-check: making the root $root"
    mkdir -p "$roots"
    remove_folder "$root.new" || return 1
    making=$root.new
    debootstrap --variant=minbase "$release" "$root.new" "$mirror" >"$work/$name.log" 2>&1 ||
        { tail -20 "$work/$name.log" >&2; return 1; }
    echo "deb $mirror $release-updates main" >>"$root.new/etc/apt/sources.list"
    mount_root "$root.new" || return 1
    cp "$source_dir/scripts/install-packages.sh" "$root.new/tmp/"
    in_root "$root.new" apt-get update -qq >>"$work/$name.log" 2>&1 &&
        in_root "$root.new" "$@" >>"$work/$name.log" 2>&1 &&
        in_root "$root.new" apt-get clean && made=1
    unmount_root "$root.new"
    making=""
    rm -f "$root.new/tmp/install-packages.sh" "$root.new/etc/resolv.conf"
    [ "$made" = 1 ] || { tail -20 "$work/$name.log" >&2; return 1; }
    echo "$stamp" >"$root.new/.quindel-root"
    remove_folder "$root" && mv "$root.new" "$root"
}
# Serialises the making of kept roots between checks that run at the same time.
locked() {
    local rc
    mkdir -p "$roots"
    exec 9>>"$roots/.lock"
    flock 9
    "$@"
    rc=$?
    flock -u 9
    exec 9>&-
    return $rc
}
# Mounts a fresh overlay of the kept root NAME on $work/NAME/root, with the machine's folders.
open_root() {
    local name=$1 root=$work/$1/root
    mkdir -p "$work/$name/upper" "$work/$name/overlay" "$root"
    mount -t overlay overlay \
        -o "lowerdir=$roots/$name,upperdir=$work/$name/upper,workdir=$work/$name/overlay" \
        "$root" && mounts+=("$root") && mount_root "$root"
}
close_root() {
    unmount_root "$work/$1/root"
    remove_folder "$work/$1"
}

# The package of a release, ReleaseTest and the probe, built for that release: on this
# machine's release, from the build folder (the package by CPack, as package-test.sh makes it);
# on another one, by ./package.sh in a root of that release, from a copy of this source tree,
# and the two test programs in the same build folder there (a kept ccache folder makes a second
# build quick).
host_release=$(. /etc/os-release && echo "$VERSION_CODENAME")
test_packages=(libgtest-dev libgmock-dev)
make_package() {
    local release=$1 out=$work/packages/$1 root=$work/$1-build/root
    mkdir -p "$out"
    if [ "$release" = "$host_release" ]; then
        (cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) ||
            { cat "$out/cpack.log" >&2; return 1; }
        cp "$build/tests/e2e/ReleaseTest" "$build/tests/wayland_probe" "$out/" || return 1
    else
        locked ensure_root "$release-build" "$release" \
            "$release build ${test_packages[*]} $(sed -n '/^packages=(/,/^)/p' \
                "$source_dir/scripts/install-packages.sh" | sha256sum)" \
            sh -c "/tmp/install-packages.sh --build && apt-get install -y -qq \
                --no-install-recommends ${test_packages[*]}" || return 1
        open_root "$release-build" || return 1
        mkdir -p "$root/src" "$roots/$release-ccache" "$root/root/.cache/ccache"
        mount --bind "$roots/$release-ccache" "$root/root/.cache/ccache" &&
            mounts+=("$root/root/.cache/ccache") || return 1
        tar -C "$source_dir" --exclude=./.git --exclude='./build*' --exclude='./quindel_*.deb' \
            -c . | tar -C "$root/src" -x
        in_root "$root" /src/package.sh >"$out/package.log" 2>&1 ||
            { tail -40 "$out/package.log" >&2; return 1; }
        # Built without a warning by that release's compiler.
        if grep -E -B2 -A6 'warning:' "$out/package.log" >&2; then
            echo "release-check: the build on $release warns" >&2
            return 1
        fi
        in_root "$root" cmake -S /src -B /src/build-package -DQUINDEL_BUILD_TESTS=ON \
            >"$out/tests.log" 2>&1 &&
            in_root "$root" cmake --build /src/build-package --target ReleaseTest wayland_probe \
                >>"$out/tests.log" 2>&1 || { tail -40 "$out/tests.log" >&2; return 1; }
        cp "$root"/src/quindel_*.deb "$root/src/build-package/tests/e2e/ReleaseTest" \
            "$root/src/build-package/tests/wayland_probe" "$out/" || return 1
        close_root "$release-build"
    fi
    ls "$out"/quindel_*.deb >/dev/null 2>&1 || { echo "release-check: no package for $release" >&2; return 1; }
}

for file in "$build/tests/e2e/ReleaseTest" "$build/tests/wayland_probe"; do
    [ -x "$file" ] || { echo "release-check: $file is not built" >&2; exit 1; }
done

failed=0
table=()
# The check on one release; a failed step ends it.
check_release() {
    local release=$1 root=$work/$1/root user_files=/home/quindeltest/.config/quindel deb
    make_package "$release" || { table+=("$release | package not built | - | -"); return 1; }
    deb=$(ls "$work/packages/$release"/quindel_*.deb)
    locked ensure_root "$release" "$release" "$release ${desktop_packages[*]}" \
        apt-get install -y -qq --no-install-recommends "${desktop_packages[@]}" ||
        { table+=("$release | root not made | - | -"); return 1; }
    open_root "$release" || return 1
    # The package, the test, the probe and the test's set-up in one folder that every user
    # reaches (ReleaseTest looks for the probe there).
    local here=/var/cache/quindel-check
    mkdir -p -m 0755 "$root$here"
    cp "$deb" "$work/packages/$release/ReleaseTest" "$work/packages/$release/wayland_probe" \
        "$source_dir/tests/support/with-services.sh" "$root$here/" || return 1
    chmod -R a+rX "$root$here"

    # Only what the package asks for comes with it (no recommended packages): a dependency it
    # lacks shows when the program runs.
    local installed=no
    in_root "$root" apt-get update -qq >"$work/$release/apt.log" 2>&1 &&
        in_root "$root" apt-get install -y --no-install-recommends "$here/$(basename "$deb")" \
            >>"$work/$release/apt.log" 2>&1 && installed=yes
    if [ "$installed" != yes ]; then
        cat "$work/$release/apt.log" >&2
        table+=("$release | $(basename "$deb") | no | -")
        return 1
    fi
    in_root "$root" useradd --create-home --user-group --shell /usr/sbin/nologin quindeltest
    local as_user=(setpriv --reuid=quindeltest --regid=quindeltest --init-groups
        env HOME=/home/quindeltest)
    local desktop name option package clicks rc result=0 user
    for desktop in "sway|--sway 1280x1024|sway" "Mutter|--mutter 1280x1024|mutter" \
        "KWin|--kwin 1280x1024|kwin-wayland" "X11 (Xvfb)|--xvfb 1280x1024|xvfb"; do
        IFS='|' read -r name option package <<<"$desktop"
        # The compositors run the test as their own user; on X11 it is run so here.
        user=()
        [ "$package" = xvfb ] && user=("${as_user[@]}")
        # shellcheck disable=SC2086 # the option and its size
        in_root "$root" "$here/with-services.sh" $option -- "${user[@]}" "$here/ReleaseTest" \
            >"$work/$release/$package.log" 2>&1
        rc=$?
        clicks=$(sed -n 's/^exact clicks: \([0-9]*\) of \([0-9]*\)$/\1 of \2/p' \
            "$work/$release/$package.log")
        table+=("$release | $name $(in_root "$root" dpkg-query -W -f='${Version}' "$package") | $installed | ${clicks:-none}")
        if [ "$rc" != 0 ]; then
            echo "release-check: $release, $name failed:" >&2
            cat "$work/$release/$package.log" >&2
            result=1
        fi
    done

    # Purging the package removes its files and leaves the user's (those of the X11 run).
    local before after kept=yes
    before=$(cd "$root$user_files" 2>/dev/null && sha256sum -- *)
    in_root "$root" apt-get purge -y quindel >>"$work/$release/apt.log" 2>&1 ||
        { cat "$work/$release/apt.log" >&2; kept=no; }
    after=$(cd "$root$user_files" 2>/dev/null && sha256sum -- *)
    if [ -z "$before" ] || [ "$before" != "$after" ]; then
        echo "release-check: $release: the user's files changed on purging: [$before] [$after]" >&2
        kept=no
    fi
    if [ -e "$root/opt/quindel" ] || [ -e "$root/usr/bin/quindel" ]; then
        echo "release-check: $release: the package left its files behind" >&2
        kept=no
    fi
    table+=("$release | purged; the user's files stay: $kept | - | -")
    [ "$kept" = yes ] || result=1
    return $result
}

for release in "${releases[@]}"; do
    started=$(date +%s)
    check_release "$release" || failed=1
    close_root "$release-build"
    close_root "$release"
    echo "release-check: $release took $(($(date +%s) - started)) s"
done
echo "release | desktop and version | installed | exact clicks"
printf '%s\n' "${table[@]}"
echo "release-check: $(($(date +%s) - began)) s in all"
exit $failed
