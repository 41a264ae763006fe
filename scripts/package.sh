#!/usr/bin/env bash
# Builds the Debian package: parking-station_VERSION_ARCH.deb in the
# project's folder. Release build in build-package/, no tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DPARKING_BUILD_TESTS=OFF \
      -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build-package -j"$(nproc)"
(cd build-package && cpack -G DEB >/dev/null)
deb=$(ls -t build-package/parking-station_*.deb | head -1)
cp "$deb" .
echo "$(basename "$deb")"
