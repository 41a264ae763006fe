#!/usr/bin/env bash
# A throwaway PostgreSQL server for the tests, on a loopback port, with the
# station's schema and account, and an ODBC data source file naming it.
#
#   pg-test-server.sh start DIR [PORT]   # creates DIR/data, DIR/odbc.ini; prints nothing on success
#   pg-test-server.sh stop DIR
#   pg-test-server.sh resume DIR [PORT]  # start again a server stopped with stop, data kept
#   pg-test-server.sh freeze DIR         # SIGSTOP every server process: connections stay, nothing answers
#   pg-test-server.sh thaw DIR           # SIGCONT them: the server goes on where it stopped
set -euo pipefail
cmd="$1"; dir="$(realpath -m "$2")"
# The port: given, or the one this server was started on.
port="${3:-$(cat "$dir/port" 2>/dev/null || echo 54329)}"
bin=/usr/lib/postgresql/15/bin
# Tests trade durability for speed; PARKING_PG_DURABLE=1 keeps every commit
# on disk (benchmarks).
speed="-c fsync=off -c full_page_writes=off"
if [ "${PARKING_PG_DURABLE:-0}" = 1 ]; then speed=""; fi
here="$(cd "$(dirname "$0")/.." && pwd)"
run() {
  # The server refuses to run as root: run it as the postgres account.
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
case "$cmd" in
start)
  mkdir -p "$dir"
  if [ "$(id -u)" -eq 0 ]; then chown postgres:postgres "$dir"; fi
  run "$bin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$dir/data"
  run "$bin/initdb" -D "$dir/data" -A trust -U postgres -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1
  # The station's account logs in with its password, as on a real server
  # (so a wrong one is refused); the administrator's stays trusted here.
  run sh -c "cat >'$dir/data/pg_hba.conf'" <<'HBA'
local all all trust
host all postgres 127.0.0.1/32 trust
host all all 127.0.0.1/32 scram-sha-256
HBA
  run "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
      -o "-c listen_addresses=127.0.0.1 -p $port -k $dir $speed" start >/dev/null
  psql="psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p $port -U postgres"
  $psql -d postgres -c "CREATE ROLE vexlor1 LOGIN PASSWORD 'r7Tq2xLm'" \
        -c "CREATE DATABASE parking_test OWNER vexlor1" >/dev/null
  $psql -d parking_test -c "ALTER ROLE vexlor1 SET search_path = public, pg_catalog" >/dev/null
  # Every statement the station's account sends is in server.log, so a test
  # can count what the server sees (not what the program thinks it sends);
  # benchmark servers (durable) log nothing of the kind.
  if [ "${PARKING_PG_DURABLE:-0}" != 1 ]; then
    $psql -d parking_test -c "ALTER ROLE vexlor1 SET log_statement = 'all'" >/dev/null
  fi
  PGPASSWORD=r7Tq2xLm psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$port" -U vexlor1 -d parking_test \
        -f "$here/schema/postgresql/schema.sql" >/dev/null
  echo "$port" >"$dir/port"
  cat >"$dir/odbc.ini" <<INI
[parking_test]
Driver=PostgreSQL Unicode
Servername=127.0.0.1
Port=$port
Database=parking_test
; the same server through scripts/fault_proxy.py on the next port (tests
; that cut connections start the proxy there)
[parking_test_proxy]
Driver=PostgreSQL Unicode
Servername=127.0.0.1
Port=$((port + 1))
Database=parking_test
INI
  chmod a+r "$dir/odbc.ini"
  ;;
stop)
  run "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
  ;;
resume)
  run "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
      -o "-c listen_addresses=127.0.0.1 -p $port -k $dir $speed" start >/dev/null
  ;;
freeze|thaw)
  main="$(run head -1 "$dir/data/postmaster.pid")"
  signal=STOP; if [ "$cmd" = thaw ]; then signal=CONT; fi
  # The postmaster first when freezing (it forks no new process while
  # stopped), last when thawing.
  if [ "$cmd" = freeze ]; then kill -STOP "$main"; fi
  for child in $(pgrep -P "$main"); do kill -"$signal" "$child"; done
  if [ "$cmd" = thaw ]; then kill -CONT "$main"; fi
  ;;
*)
  echo "usage: $0 start|stop|resume|freeze|thaw DIR [PORT]" >&2; exit 2 ;;
esac
