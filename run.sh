#!/usr/bin/env bash
# Installs what Quindel needs, builds it, lays the program folder out in dist/ and starts it.
# dist/ keeps the user's settings and groups across rebuilds. Without a display the program
# is started on a virtual display and a screenshot of its window is saved.
set -eu
cd "$(dirname "$0")"
scripts/install-packages.sh
cmake -S . -B build -G Ninja -DQUINDEL_SANITIZE=OFF
cmake --build build --target quindel
cmake --install build --prefix dist >/dev/null
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    exec dist/quindel
fi
echo "No display: starting Quindel on a virtual display."
tests/support/with-services.sh --xvfb 1280x1024 -- bash -c '
    dist/quindel & pid=$!
    sleep 3
    mkdir -p dist/screenshots
    xwd -root -silent | convert xwd:- dist/screenshots/quindel.png
    echo "Screenshot of the running program: dist/screenshots/quindel.png"
    kill $pid; wait $pid 2>/dev/null || true'
