#!/usr/bin/env bash
# Set-up and tests in one command: installs what is missing, builds the
# program and the tests under AddressSanitizer and UndefinedBehaviorSanitizer
# into build-test/ and runs the whole suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DPARKING_SANITIZE=ON -DPARKING_BUILD_TESTS=ON >/dev/null
cmake --build build-test -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-test --output-on-failure -j"$(nproc)"
