#!/bin/bash
# Runs inside the container booted by scripts/systemd-test.sh, as a unit of
# its own once the system is up; its output and status are what the host
# reads. Each check says what it checks; the first failure ends the run.
set -uo pipefail
exec >/root/check.log 2>&1
fail() { echo "FAILED: $*"; journalctl -u parking-station --no-pager | tail -40; echo 1 >/root/check.status; exit 1; }
ok() { echo "ok: $*"; }
prop() { systemctl show -P "$1" parking-station; }
unit=parking-station.service
port=18088
# Waits up to $1 tenths of a second for the command after it to succeed.
within() { local n=$1; shift; for _ in $(seq "$n"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done; return 1; }

# A reader on a pseudo-terminal: the emulator keeps running as long as its
# input is open.
mkfifo /root/emulator.in
parking-reader-emulator --pty --reader 1 </root/emulator.in >/root/emulator.out 2>&1 &
exec 7>/root/emulator.in
within 50 grep -q '^ready' /root/emulator.out || fail "the reader emulator did not start"
pty=$(sed -n 's/^pty //p' /root/emulator.out)
# A serial line's owner and mode, as udev gives them: the dialout group.
chgrp dialout "$pty" && chmod 0660 "$pty"
ok "reader emulator on $pty"

# The sandbox refuses a device it does not list, and the log says so
# (/dev/net/tun: open to all by its mode, a character device no serial
# line is); a pseudo-terminal, which DevicePolicy=closed always allows,
# opens and its reader comes online.
[ -c /dev/net/tun ] || fail "no /dev/net/tun in the container to be refused"
chgrp dialout /dev/net/tun && chmod 0660 /dev/net/tun
refused=$(systemd-run --quiet --wait --pipe -p DevicePolicy=closed -p User=parking -p SupplementaryGroups=dialout \
  parking-station --reader-check "osdp:/dev/net/tun?addr=1&sc=off" --config /etc/parking-station/Rivalto.ini 2>&1)
grep -q 'DeviceAllow=' <<<"$refused" || { echo "$refused"; fail "a device refused by the sandbox is not said to be"; }
ok "a device outside DeviceAllow= is reported as refused by the sandbox"
allowed=$(systemd-run --quiet --wait --pipe -p DevicePolicy=closed -p User=parking -p SupplementaryGroups=dialout \
  parking-station --reader-check "osdp:$pty?addr=1&sc=off" --config /etc/parking-station/Rivalto.ini 2>&1) \
  || { echo "$allowed"; fail "the reader check on an allowed device"; }
ok "an allowed device opens and its reader comes online"

# The site: station 1 on the emulator, station 2 on an adapter that is not
# there; the status page on a known port.
db=/var/lib/parking-station/parking.db
install -d -o parking -g parking -m 0700 /var/lib/parking-station
runuser -u parking -- parking-station --init-db "$db" || fail "--init-db"
sqlite3 "$db" "INSERT INTO Lector VALUES (1, 2, 'osdp:$pty?addr=1&sc=off', 'osdp:/dev/ttyUSB7?addr=1', 'BIENVENIDO', \
  'TARJETA NO VALIDA', 'FUERA DE HORARIO', 'RECIBOS PENDIENTES', 'CUOTA NO VIGENTE'); \
  INSERT INTO INSTALACIONES VALUES (1, 'PISCINA CUBIERTA', 20, 20);" || fail "the site's rows"
chown parking:parking "$db"
sed -i "s/^Puerto=.*/Puerto=$port/" /etc/parking-station/Rivalto.ini
# The test's own additions to the unit: a short watchdog, and a credential
# that is not valid (no user).
mkdir -p /etc/systemd/system/$unit.d
printf 'usuario=\nclave=S3cret-never-logged\n' >/root/credentials
chmod 0600 /root/credentials
cat >/etc/systemd/system/$unit.d/test.conf <<CONF
[Service]
WatchdogSec=4
LoadCredential=parking-db:/root/credentials
CONF
systemctl daemon-reload

# The credential is read: a broken one keeps the service from starting,
# with the reason and without the password.
systemctl start $unit && fail "started with a broken credential"
journalctl -u parking-station --no-pager | grep -q 'fichero de credenciales .*falta usuario=' \
  || fail "the credential's fault is not in the journal"
journalctl --no-pager | grep -q 'S3cret-never-logged' && fail "the password reached the journal"
ok "LoadCredential= is read (a broken credential is refused, its password never logged)"
printf 'usuario=parking\nclave=S3cret-never-logged\n' >/root/credentials
# Restart=on-failure would try again by itself: stop that first.
systemctl stop $unit
systemctl reset-failed $unit 2>/dev/null || true

# Ready means started: Type=notify returns from start only after READY=1.
systemctl start $unit || fail "systemctl start"
[ "$(prop ActiveState)/$(prop SubState)" = active/running ] || fail "not active after start"
ok "the service is ready (Type=notify: started once READY=1 came)"
pid=$(prop MainPID)
within 100 curl -fsS "http://127.0.0.1:$port/api/status" || fail "the status page does not answer"
curl -fsS "http://127.0.0.1:$port/api/status" | grep -q '"installation":"PISCINA CUBIERTA"' || fail "the status page's content"
ok "the status page answers"
# (The page's light is green from the start; the reader's own line says it answered.)
online() { journalctl _PID="$1" --no-pager | grep -q 'KBIOMAXctl1: en línea'; }
within 100 online "$pid" \
  || fail "station 1's reader never came online on $pty (/run read-only: the lock file)"
ok "the serial line opened and the reader is online, with /run read-only"
for dir in /run /run/lock; do
  nsenter -t "$pid" -m touch "$dir/parking-test" 2>/dev/null && fail "$dir is writable for the service"
done
ok "/run is read-only for the service"
within 50 sh -c "journalctl -u parking-station --no-pager | grep -q 'no existe el dispositivo'" \
  || fail "an absent adapter is not said to be absent"
ok "an absent adapter is said to be absent"
journalctl -b --no-pager | grep -q "Couldn't stat device" && fail "systemd complains about a device in the unit"
ok "no device of the unit is complained about"
journalctl --no-pager | grep -q 'S3cret-never-logged' && fail "the password reached the journal"

# The watchdog: a process that stops answering is killed and started again.
restarts=$(prop NRestarts)
kill -STOP "$pid"
within 300 sh -c "[ \"\$(systemctl show -P NRestarts $unit)\" = $((restarts + 1)) ] && [ \"\$(systemctl show -P SubState $unit)\" = running ]" \
  || fail "the watchdog did not restart a hung process (NRestarts=$(prop NRestarts), $(prop SubState))"
[ "$(prop MainPID)" != "$pid" ] || fail "the same process after the watchdog"
journalctl -u parking-station --no-pager | grep -q 'Watchdog timeout' || fail "no watchdog line in the journal"
ok "the watchdog killed the hung process and systemd started a new one"

# The killed process left the pseudo-terminal in exclusive use (a serial
# port's line would lose it with its last user): the emulator releases it,
# and the new process, trying the line every few seconds, brings it online.
echo release >&7
within 150 online "$(prop MainPID)" || fail "online again after the restart"
ok "the new process brought the reader online again"

# systemctl reload: a new operator is applied by the same process.
pid=$(prop MainPID)
hash=$(printf 'la clave de ana 123\n' | parking-station --hash-key | tail -n 1)
case "$hash" in '$scrypt$'*) ;; *) fail "--hash-key printed no hash: $hash" ;; esac
operator() { curl -sS -D - -o /dev/null -u 'ana:la clave de ana 123' "http://127.0.0.1:$port/api/status" | grep -qi '^X-Console: operator'; }
operator && fail "an operator not yet configured was let in"
printf 'ana=%s\n' "$hash" >>/etc/parking-station/Rivalto.ini
systemctl reload $unit || fail "systemctl reload"
within 100 sh -c "journalctl _PID=$pid --no-pager | grep -q 'Configuración recargada: .*\[Operadores\] (1 operadores)'" \
  || fail "the reload was not applied"
operator || fail "the new operator is not let in after the reload"
[ "$(prop MainPID)" = "$pid" ] || fail "systemctl reload started another process"
[ "$(prop ActiveState)/$(prop SubState)" = active/running ] || fail "not active after the reload"
ok "systemctl reload applied a new operator in the same process"

# Stop: status 0, the readers closed.
since=$(date '+%Y-%m-%d %H:%M:%S')
systemctl stop $unit || fail "systemctl stop"
[ "$(prop Result)" = success ] || fail "stop result $(prop Result)"
[ "$(prop ExecMainStatus)" = 0 ] || fail "exit status $(prop ExecMainStatus) after stop"
for station in 1 2; do
  journalctl -u parking-station --since "$since" --no-pager | grep -q "> closeport $station" || fail "reader $station not closed at stop"
done
ok "systemctl stop: exit status 0, both readers closed"

exposure=$(systemd-analyze security $unit --no-pager | sed -n 's/.*Overall exposure level for .*: \([0-9.]*\).*/\1/p')
echo "exposure $exposure"
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 2.0) }' || fail "systemd-analyze security: $exposure > 2.0"
ok "systemd-analyze security: $exposure"

# (A container cannot load modules; the file systemd-modules-load reads is there.)
modules=/usr/lib/modules-load.d/parking-station.conf
grep -qx usbserial $modules || fail "usbserial is not loaded at boot"
grep -qx cdc_acm $modules || fail "cdc_acm is not loaded at boot"
ok "the USB serial drivers are loaded at boot"
echo 0 >/root/check.status
