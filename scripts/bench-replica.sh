#!/usr/bin/env bash
# The local replica's refresh from PostgreSQL on loopback: a throwaway
# server loaded with the generated site, then one complete refresh and
# offline decisions on it (bench/replica_bench.cpp).
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
cmake --build "$build" -j"$(nproc)" --target replica_bench >/dev/null
[ -f "$db" ] || "$build/bin/replica_bench" "$db" 1 >/dev/null || true
dir="$(pwd)/$build/pg-replica-server"
port=54351
bash scripts/pg-test-server.sh start "$dir" "$port"
trap 'bash scripts/pg-test-server.sh stop "$dir"' EXIT
bash scripts/pg-load-site.sh "$db" "$port" >/dev/null
export ODBCINI="$dir/odbc.ini"
"$build/bin/replica_bench" "$db" 4000 odbc:parking_test
