#!/usr/bin/env bash
# Decisions, entrances and exits against a PostgreSQL server across a slow
# link: a throwaway server (every commit on disk) behind
# scripts/fault_proxy.py, which adds DELAY milliseconds each way (default
# 10: a 20 ms round trip). A small generated site (the large one divided
# by 100) is enough: the link, not the data, sets the figures.
#
#   bash scripts/bench-latency.sh [DELAY_MS] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
delay="${1:-10}"
build="${2:-build-bench}"
export PARKING_BENCH_SCALE=100
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPARKING_GUI=OFF -DPARKING_BUILD_BENCH=ON >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target rights_bench passage_bench >/dev/null
db="$build/small-site.db"
[ -f "$db" ] || "$build/bin/rights_bench" "$db" 1 >/dev/null
dir="$(pwd)/$build/pg-latency-server"
port=54349
PARKING_PG_DURABLE=1 bash scripts/pg-test-server.sh start "$dir" "$port"
# The proxy ends when this script does (its standard input closes).
coproc PROXY { exec python3 scripts/fault_proxy.py --target "127.0.0.1:$port" --delay-ms "$delay"; }
trap 'kill "$PROXY_PID" 2>/dev/null || true; bash scripts/pg-test-server.sh stop "$dir"' EXIT
read -r _ proxyPort <&"${PROXY[0]}"
export PGPASSWORD=r7Tq2xLm
bash scripts/pg-load-site.sh "$db" "$port" >/dev/null
sed "s/^Port=.*/Port=$proxyPort/" "$dir/odbc.ini" >"$dir/odbc-slow.ini"
export ODBCINI="$dir/odbc-slow.ini"
echo "PostgreSQL behind a proxy adding $delay ms each way"
"$build/bin/rights_bench" "$db" 300 odbc:parking_test | grep -E "decisions on|all |statements per"
"$build/bin/passage_bench" "$db" 200 odbc:parking_test | grep -E "passages on|granted entrance|exit |first"
