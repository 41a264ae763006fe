#!/usr/bin/env bash
# Several workstations on one PostgreSQL server, one installation, one
# free-space row: N passage benchmarks at once (N = 1, 4, 16 by default),
# each a workstation letting cars in and out. At the end the count must be
# exactly where it started and no transaction may have been rolled back (a
# serialization failure on the count would show there).
#   bash scripts/bench-workstations.sh [PASSAGES] [N...]
set -euo pipefail
cd "$(dirname "$0")/.."
passages="${1:-1000}"; shift || true
counts=("$@"); [ ${#counts[@]} -gt 0 ] || counts=(1 4 16)
db=build-bench/large-site.db
dir="$(pwd)/build-bench/pg-workstations"
port=54341
[ -f "$db" ] || build-bench/bin/rights_bench "$db" 1 >/dev/null
PARKING_PG_DURABLE=1 bash scripts/pg-test-server.sh start "$dir" "$port"
trap 'bash scripts/pg-test-server.sh stop "$dir"' EXIT
export PGPASSWORD=r7Tq2xLm ODBCINI="$dir/odbc.ini"
sql() { psql -X -q -t -A -h 127.0.0.1 -p "$port" -U vexlor1 -d parking_test -c "$1"; }
bash scripts/pg-load-site.sh "$db" "$port"
echo "cores: $(nproc); the server and every workstation share them"
for n in "${counts[@]}"; do
  sql "DELETE FROM Movimientos_Parking; UPDATE INSTALACIONES SET PLAZAS_LIBRES = 2000, PLAZAS_PARKING = 4000"
  before=$(sql "SELECT xact_rollback FROM pg_stat_database WHERE datname = 'parking_test'")
  out=$(mktemp -d)
  for i in $(seq 1 "$n"); do
    PARKING_BENCH_SHARED=1 build-bench/bin/passage_bench "$db" "$passages" odbc:parking_test > "$out/$i.txt" 2>&1 &
  done
  wait
  sleep 1 # let the statistics collector catch up
  after=$(sql "SELECT xact_rollback FROM pg_stat_database WHERE datname = 'parking_test'")
  count=$(sql "SELECT PLAZAS_LIBRES FROM INSTALACIONES WHERE CodInstalacion = 1")
  open=$(sql "SELECT count(*) FROM Movimientos_Parking WHERE HORASALIDA IS NULL")
  echo "== $n workstation(s) x $passages passages: count at the end $count (started at 2000), rolled back: $((after - before)), open stays $open"
  grep -h "granted entrance\|exit  " "$out"/*.txt | sort | awk '{print "   " $0}'
  rm -rf "$out"
done
