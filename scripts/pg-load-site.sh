#!/usr/bin/env bash
# Copies the generated large site (an embedded database) into the
# throwaway PostgreSQL server on PORT, for the benchmarks.
#   bash scripts/pg-load-site.sh SITE.db PORT
set -euo pipefail
db="$1"; port="$2"
export PGPASSWORD=r7Tq2xLm
for table in Lector INSTALACIONES ABONADOS MOVTOSCUOTAS1 Cuotas MovtosCursos CURSOS BLOQUEOS Recibos MOVIMIENTOS; do
  sqlite3 -csv "$db" "SELECT * FROM $table" |
    psql -X -q -h 127.0.0.1 -p "$port" -U vexlor1 -d parking_test -c "\\copy $table FROM STDIN CSV"
done
psql -X -q -h 127.0.0.1 -p "$port" -U vexlor1 -d parking_test -c "ANALYZE" 2>/dev/null
