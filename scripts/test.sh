#!/usr/bin/env bash
# Set-up and tests in one command: installs what is missing, builds the
# program and the tests under AddressSanitizer and UndefinedBehaviorSanitizer
# into build-test/ and runs the whole suite; then builds the program without
# windows (no Qt Widgets at all) into build-headless/ and runs every test
# that build has, so the layering cannot quietly break; last, the Debian
# package end to end (scripts/package-test.sh), its service under a real
# systemd (scripts/systemd-test.sh), the fuzz targets' short
# run (scripts/fuzz.sh 30) and the soak's (scripts/soak.sh 2). First of
# all, the claims of docs/architecture.md a grep can hold
# (scripts/doc-claims.sh), which take a second.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/doc-claims.sh
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp"

# The browser test's driver (puppeteer-core; it uses Debian's chromium and
# downloads no browser). Without the npm registry that test says it skips.
(cd tests/browser && npm ci --no-audit --no-fund --loglevel=error) || echo "tests/browser: npm ci failed; the console's browser test will be skipped"

cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DPARKING_SANITIZE=ON -DPARKING_BUILD_TESTS=ON >/dev/null
cmake --build build-test -j"$(nproc)"
ctest --test-dir build-test --output-on-failure -j"$(nproc)"

# The server suites ran above; here the build without windows.
cmake -S . -B build-headless -DCMAKE_BUILD_TYPE=Release -DPARKING_GUI=OFF -DPARKING_BUILD_TESTS=ON >/dev/null
cmake --build build-headless -j"$(nproc)"
ctest --test-dir build-headless --output-on-failure -j"$(nproc)" -E '^pg\.'

# The Debian package, built, checked, installed, run and removed (as root
# only: it installs into the system).
bash scripts/package-test.sh

# The same package as a service under a real systemd, booted in a container
# (readiness, watchdog, sandbox, credentials; root only).
bash scripts/systemd-test.sh "$(ls -t parking-station_*.deb | head -1)"

# Every fuzz target for 30 s (clang, sanitizers), from the committed
# corpora, which hold every input that ever broke one.
bash scripts/fuzz.sh 30

# Two minutes of the soak on each backend: two workstations, traffic, and
# faults at random from a printed seed (scripts/soak.sh).
bash scripts/soak.sh 2
