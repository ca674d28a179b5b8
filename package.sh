#!/usr/bin/env bash
# Builds the Debian package quindel_<version>+deb<release>_<arch>.deb for the Debian release it
# runs on into this folder: installs what the build needs, builds the program without tests in
# build-package/ and runs CPack there.
# Install it with: sudo apt install ./quindel_<version>+deb<release>_<arch>.deb
set -eu
cd "$(dirname "$0")"
scripts/install-packages.sh --build
cmake -S . -B build-package -G Ninja -DQUINDEL_SANITIZE=OFF -DQUINDEL_BUILD_TESTS=OFF \
    -DQUINDEL_BUILD_BENCH=OFF
cmake --build build-package
rm -f build-package/packages/quindel_*.deb
(cd build-package && cpack -G DEB -B packages)
cp build-package/packages/quindel_*.deb .
ls quindel_*.deb
