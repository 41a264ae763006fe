#!/usr/bin/env bash
# The soak: the real program, two workstations, traffic and random faults,
# on the embedded database and then on a throwaway PostgreSQL server
# (scripts/soak.py says what and checks the outcome).
#
#   bash scripts/soak.sh [MINUTES] [SEED]     # CI: 2 minutes; docs: 30 or more
#
# It prints its seed; the same seed plans the same faults again.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes="${1:-2}"
seed="${2:-$RANDOM$RANDOM}"
bash scripts/install-deps.sh
cmake -S . -B build-soak -DCMAKE_BUILD_TYPE=Release -DPARKING_GUI=OFF -DPARKING_BUILD_TESTS=OFF >/dev/null
cmake --build build-soak -j"$(nproc)" --target parking-station parking-reader-emulator >/dev/null
binary="$PWD/build-soak/bin/parking-station"
emulator="$PWD/build-soak/bin/parking-reader-emulator"
work=$(mktemp -d /tmp/parking-soak-XXXXXX)
chmod 755 "$work" # the server runs as postgres
pg="$work/pg"
port=$((55000 + RANDOM % 900))
cleanup() { bash scripts/pg-test-server.sh stop "$pg" >/dev/null 2>&1 || true; }
trap cleanup EXIT

status=0
python3 scripts/soak.py --binary "$binary" --emulator "$emulator" --backend sqlite --minutes "$minutes" --seed "$seed" \
  --work "$work/sqlite" || status=1
bash scripts/pg-test-server.sh start "$pg" "$port"
export ODBCINI="$pg/odbc.ini"
python3 scripts/soak.py --binary "$binary" --emulator "$emulator" --backend postgresql --minutes "$minutes" --seed "$seed" \
  --work "$work/postgresql" --pg-dir "$pg" || status=1
exit $status
