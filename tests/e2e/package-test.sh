#!/usr/bin/env bash
# Builds the Debian package from a build folder with CPack and inspects it: its files, its
# menu entry, its dependencies, no maintainer scripts, no lintian error; checks the menu entry
# of a program folder of its own (cmake --install). Then runs the end-to-end tests of the
# unpacked program (E2eTest's Package cases) on it.
#   package-test.sh BUILD_DIR E2E_TEST_EXECUTABLE
set -u
build=$1 e2e=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAILED: $*" >&2; failed=1; }

# The version names the release it was built for (0.5+deb12 on Debian 12).
version=$(sed -n 's/.*kProgramVersion = "\(.*\)";/\1/p' "$build/generated/core/ProgramVersion.h")
release=$(. /etc/os-release && [ "$ID" = debian ] && echo "+deb${VERSION_ID%%.*}")
deb="$work/quindel_${version}${release}_$(dpkg --print-architecture).deb"
(cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
[ -f "$deb" ] || { ls "$work"; echo "FAILED: no $deb" >&2; exit 1; }

contents=$(dpkg-deb --contents "$deb")
for file in opt/quindel/quindel opt/quindel/DigitaldreamFatNarrow.ttf \
    opt/quindel/digitaldreamnarrow.ttf opt/quindel/D3PipismW.ttf opt/quindel/uk2.jpg \
    opt/quindel/italia2.jpg opt/quindel/help/manual-en.html opt/quindel/help/manual-it.html \
    "usr/bin/quindel -> /opt/quindel/quindel" usr/share/applications/quindel.desktop \
    usr/share/icons/hicolor/scalable/apps/quindel.svg \
    usr/share/icons/hicolor/256x256/apps/quindel.png usr/share/doc/quindel/copyright; do
    grep -qF " ./$file" <<<"$contents" || fail "$file is not in the package"
done
# No maintainer script: installing, upgrading and removing never touch a home folder.
dpkg-deb --info "$deb" | grep -E 'preinst|postinst|prerm|postrm' && fail "maintainer scripts"

dpkg-deb -x "$deb" "$work/root"
entry="$work/root/usr/share/applications/quindel.desktop"
desktop-file-validate "$entry" || fail "the menu entry is not valid"
for line in Exec=/opt/quindel/quindel Icon=quindel \
    X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input; do
    grep -qx "$line" "$entry" || fail "no $line in the menu entry"
done
grep -qx "License: OFL-1.1" "$work/root/usr/share/doc/quindel/copyright" ||
    fail "the copyright file does not name the fonts' licence"

# Each dependency holds a library the program loads; the Qt widgets are among them
# (the executable and the application module it loads), and Qt's Wayland platform plugin.
needed=$(objdump -p "$work/root/opt/quindel/quindel" "$work/root/opt/quindel/quindel-app.so" |
    awk '/NEEDED/ {print $2}' | sort -u)
depends=$(dpkg-deb --field "$deb" Depends)
grep -q libqt6widgets6 <<<"$depends" || fail "Depends lacks libqt6widgets6: $depends"
grep -qw qt6-wayland <<<"$depends" || fail "Depends lacks qt6-wayland: $depends"
for package in $(tr ',' '\n' <<<"$depends" | sed 's/[|(].*//' | grep -vx ' *qt6-wayland'); do
    dpkg -L "$package" | sed 's|.*/||' | grep -qxF -f <(echo "$needed") ||
        fail "$package holds no library the program loads"
done
lintian "$deb" >"$work/lintian.log" 2>&1
grep '^E: ' "$work/lintian.log" && fail "lintian errors"

# A program folder of its own, installed from elsewhere to a relative prefix with characters the
# entry must escape: its entry names the program by its absolute path, beside its icons.
mkdir "$work/own"
own="$work/own/my \$HOME \"apps\""
(cd "$work/own" && cmake --install "$build" --prefix "${own##*/}" >/dev/null) || fail "install"
exec_line="Exec=\"$(printf '%s/quindel' "$own" | sed 's/[$"]/\\\\&/g')\""
for line in "$exec_line" "Icon=$own/quindel.png"; do
    grep -qxF "$line" "$own/quindel.desktop" || fail "no $line in $own/quindel.desktop"
done
[ -s "$own/quindel.png" ] && [ -s "$own/quindel.svg" ] || fail "no icons in $own"

QUINDEL_TEST_PACKAGE="$deb" "$e2e" --gtest_filter='Package.*' || failed=1
exit $failed
