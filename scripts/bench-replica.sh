#!/usr/bin/env bash
# The local replica's refresh from PostgreSQL on loopback: a throwaway
# server loaded with the generated site, then one complete refresh and
# offline decisions on it (bench/replica_bench.cpp); then passages on the
# same server without a refresh and with one always under way, and
# entrances while every server process is stopped (bench/passage_bench.cpp).
#
#   bash scripts/bench-replica.sh [SITE.db] [BUILD_DIR]
# PARKING_BENCH_SCALE=100 with build-bench/small-site.db for the small site.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${2:-build-bench}"
db="${1:-$build/large-site.db}"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPARKING_GUI=OFF -DPARKING_BUILD_BENCH=ON >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target replica_bench passage_bench >/dev/null
[ -f "$db" ] || "$build/bin/replica_bench" "$db" 1 >/dev/null || true
dir="$(pwd)/$build/pg-replica-server"
port=54351
bash scripts/pg-test-server.sh start "$dir" "$port"
trap 'bash scripts/pg-test-server.sh stop "$dir"' EXIT
bash scripts/pg-load-site.sh "$db" "$port" >/dev/null
export ODBCINI="$dir/odbc.ini"
"$build/bin/replica_bench" "$db" 4000 odbc:parking_test
passages() { "$build/bin/passage_bench" "$db" "$@" odbc:parking_test | grep -E "granted entrance|exit |refreshes|hung"; }
echo "passages, no refresh under way:"
passages 4000
echo "passages, an incremental refresh always under way:"
PARKING_BENCH_REPLICA=1 passages 4000
echo "passages during the complete refresh of start-up:"
PARKING_BENCH_REPLICA=1 PARKING_BENCH_COMPLETE=1 passages 2000
echo "entrances while the server hangs (decided from the replica):"
PARKING_BENCH_REPLICA=1 PARKING_BENCH_FREEZE="bash scripts/pg-test-server.sh freeze $dir" \
  PARKING_BENCH_THAW="bash scripts/pg-test-server.sh thaw $dir" passages 200
