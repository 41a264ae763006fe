#!/usr/bin/env bash
# The Debian package end to end, as root (CI runs it from scripts/test.sh):
# it builds, lintian finds no error, systemd accepts the unit, it installs,
# the unit's own command line runs the stations as the service's user on
# the packaged configuration (pointed at a fresh embedded database) and
# stops on SIGTERM with status 0, and removing it keeps the configuration.
#
# CI's sandbox has no systemd running (PID 1 is not systemd), so the unit
# is checked with systemd-analyze and its ExecStart= run directly, as its
# User= in its StateDirectory=; readiness and the watchdog are not exercised.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then
  echo "package-test: needs root (dpkg -i); skipped"
  exit 0
fi
fail() { echo "package-test: FAILED: $*" >&2; exit 1; }

deb=$(bash scripts/package.sh | tail -1)
echo "package-test: $deb"
lintian --fail-on error "$deb" 2>&1 | grep -v '^running with root' || true
lintian --fail-on error "$deb" >/dev/null 2>&1 || fail "lintian reports errors"

dpkg --purge parking-station >/dev/null 2>&1 || true
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb" >/dev/null || fail "dpkg -i"
unit=/lib/systemd/system/parking-station.service
systemd-analyze verify "$unit" || fail "systemd-analyze verify"
[ "$(parking-station --version)" = "parking-station $(dpkg-deb -f "$deb" Version)" ] || fail "--version"
id -nG parking | grep -qw dialout || fail "user parking is not in dialout"
[ "$(stat -c %a /etc/parking-station/Rivalto.ini)" = 640 ] || fail "configuration mode"

# What systemd would make before starting the service.
install -d -o parking -g parking -m 0700 /var/lib/parking-station
install -d -o parking -g parking -m 0750 /var/log/parking-station
db=/var/lib/parking-station/parking.db
rm -f "$db" /var/lib/parking-station/parking.journal
runuser -u parking -- parking-station --init-db "$db"
sqlite3 "$db" "INSERT INTO Lector VALUES (1, 2, 'sim:in', 'sim:out', 'BIENVENIDO', 'TARJETA NO VALIDA', \
  'FUERA DE HORARIO', 'RECIBOS PENDIENTES', 'CUOTA NO VIGENTE'); \
  INSERT INTO INSTALACIONES VALUES (1, 'PISCINA CUBIERTA', 20, 20);"
port=18087
sed -i "s/^Puerto=.*/Puerto=$port/" /etc/parking-station/Rivalto.ini

command=$(sed -n 's/^ExecStart=//p' "$unit")
out=$(mktemp)
(cd /var/lib/parking-station && exec runuser -u parking -- $command >"$out" 2>&1) &
pid=$!
for _ in $(seq 100); do
  grep -q '^ESTADO: página de estado' "$out" && break
  sleep 0.2
done
grep -q '^ESTADO: página de estado' "$out" || { cat "$out"; fail "the service did not start"; }
curl -fsS "http://127.0.0.1:$port/api/status" | grep -q '"installation":"PISCINA CUBIERTA"' || fail "status page"
ls /var/log/parking-station/parking-*.log >/dev/null || fail "no daily log file"
kill -TERM "$(pgrep -u parking -f /usr/bin/parking-station)"
status=0
wait "$pid" || status=$?
[ "$status" -eq 0 ] || { cat "$out"; fail "exit status $status after SIGTERM"; }
rm -f "$out"

dpkg -r parking-station >/dev/null
[ ! -e /usr/bin/parking-station ] || fail "dpkg -r left the program"
grep -q "^Puerto=$port" /etc/parking-station/Rivalto.ini || fail "dpkg -r did not keep the edited configuration"
dpkg --purge parking-station >/dev/null
[ ! -e /etc/parking-station/Rivalto.ini ] || fail "purge left the configuration"
[ -d /var/lib/parking-station ] || fail "purge removed the journal's folder"
rm -rf /var/lib/parking-station
echo "package-test: passed"
