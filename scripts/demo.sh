#!/usr/bin/env bash
# Set-up and demo in one command: installs what is missing, builds the
# program into build/ and starts it on a fresh demo database with simulated
# readers. Extra arguments go to the program (for example --headless).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARKING_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"
args=(--demo "$@")
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [[ " $* " != *" --headless "* ]]; then
  echo "No display: running headless (the event log and trace go to this terminal; Ctrl+C stops)."
  args+=(--headless)
fi
exec build/bin/parking-station "${args[@]}"
