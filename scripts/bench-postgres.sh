#!/usr/bin/env bash
# The benchmarks on PostgreSQL over ODBC (loopback), with the same data as
# the embedded runs: the generated large site is copied into a throwaway
# server (every commit on disk), then both benchmarks run against it.
#   bash scripts/bench-postgres.sh [build-bench/large-site.db]
set -euo pipefail
cd "$(dirname "$0")/.."
db="${1:-build-bench/large-site.db}"
dir="$(pwd)/build-bench/pg-bench-server"
port=54339
[ -f "$db" ] || build-bench/bin/rights_bench "$db" 1 >/dev/null
PARKING_PG_DURABLE=1 bash scripts/pg-test-server.sh start "$dir" "$port"
trap 'bash scripts/pg-test-server.sh stop "$dir"' EXIT
export PGPASSWORD=r7Tq2xLm ODBCINI="$dir/odbc.ini"
bash scripts/pg-load-site.sh "$db" "$port"
build-bench/bin/rights_bench "$db" 20000 odbc:parking_test
build-bench/bin/passage_bench "$db" 20000 odbc:parking_test
# Last: it makes the schema anew for its own subscriber.
build-bench/bin/history_bench 2000 odbc:parking_test
