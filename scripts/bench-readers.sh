#!/usr/bin/env bash
# What idle readers cost: the optimised program, headless, with two OSDP
# readers of the emulator program online, on a pseudo-terminal and then
# over TCP (scripts/reader_idle.py), for SECONDS each (default 60).
#
#   bash scripts/bench-readers.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
bash scripts/install-deps.sh
cmake -S . -B build-soak -DCMAKE_BUILD_TYPE=Release -DPARKING_GUI=OFF -DPARKING_BUILD_TESTS=OFF >/dev/null
cmake --build build-soak -j"$(nproc)" --target parking-station parking-reader-emulator >/dev/null
for line in pty tcp; do
  python3 scripts/reader_idle.py --binary build-soak/bin/parking-station \
    --emulator build-soak/bin/parking-reader-emulator --line "$line" --seconds "$seconds"
done
