#!/usr/bin/env python3
"""Soak: the real program, headless, two workstations on one database,
traffic at both readers of each, and faults at random moments from a seed.

    soak.py --binary BIN --emulator EMU --backend sqlite|postgresql --minutes M --seed S --work DIR [--pg-dir DIR]

Each workstation's two readers are OSDP readers of their own emulator
program (parking-reader-emulator) on a pseudo-terminal, with the Secure
Channel (keys given at the first start, kept across restarts); the cars
are presented to those readers.

Workstation A is never killed (its memory and descriptors are watched);
workstation B is killed with SIGKILL now and then and started again. Each
workstation has its own gate (its own subscribers), as a real gate does.
Faults, by kind: the database locked by another process (embedded) or the
server stopped and started again (PostgreSQL); B killed; the journals' disk
filled to the last byte and freed (a tmpfs, as root); a reader of A
misbehaving as readers in the field do: silent long enough to be reported
down, restarted (power blip), answering BUSY, losing replies, or sending
its data under a MAC only. Both workstations decide entrances from their
local replica while the database is away ([SinConexion] Decidir=1,
refreshed every 5 s). At the end every workstation is started once more to drain its
journal, then the database is checked against what the barriers did.
Exit status 0 when every check holds.
"""
import argparse
import os
import random
import shutil
import signal
import sqlite3
import subprocess
import sys
import threading
import time

CAPACITY = 5000
# Half full at the start, so that no change ever meets a bound of the count.
START_FREE = CAPACITY // 2
SUBSCRIBERS_PER_GATE = 40
INSTALLATION = 1


def log(msg):
    print(f"soak: {msg}", flush=True)


class Database:
    """The shared database, as the checks and the fault injector see it."""

    def __init__(self, args, work):
        self.args = args
        self.backend = args.backend
        if self.backend == "sqlite":
            self.path = os.path.join(work, "parking.db")
            subprocess.run([args.binary, "--init-db", self.path], check=True)
            self.sid = "sqlite:" + self.path
        else:
            self.port = open(os.path.join(args.pg_dir, "port")).read().strip()
            self.sid = "parking_test"
        # Each workstation finds its own readers at ./line, a link in its
        # own working folder to its emulator's pseudo-terminal.
        rows = [f"INSERT INTO Lector VALUES ({INSTALLATION}, 2, 'osdp:./line?addr=1&sc=install', "
                "'osdp:./line?addr=2&sc=install', 'BIENVENIDO', "
                "'TARJETA NO VALIDA', 'FUERA DE HORARIO', 'RECIBOS PENDIENTES', 'CUOTA NO VIGENTE')",
                f"INSERT INTO INSTALACIONES VALUES ({INSTALLATION}, 'SOAK', {CAPACITY}, {START_FREE})"]
        for code in range(1, 2 * SUBSCRIBERS_PER_GATE + 1):
            rows.append(f"INSERT INTO ABONADOS (CodInstalacion,Codigo,Cursillista) VALUES ({INSTALLATION},{code},2)")
        if self.backend == "postgresql":
            for table in ("Lector", "INSTALACIONES", "ABONADOS", "Movimientos_Parking", "DIARIO_APLICADO", "MOVIMIENTOS"):
                self.execute(f"DELETE FROM {table}")
        for row in rows:
            self.execute(row)

    def execute(self, sql):
        if self.backend == "sqlite":
            with sqlite3.connect(self.path, timeout=30) as c:
                c.execute(sql)
        else:
            self._psql(sql)

    def scalar(self, sql):
        if self.backend == "sqlite":
            with sqlite3.connect(self.path, timeout=30) as c:
                return c.execute(sql).fetchone()[0]
        return self._psql(sql).strip()

    def _psql(self, sql):
        env = dict(os.environ, PGPASSWORD="r7Tq2xLm")
        out = subprocess.run(["psql", "-X", "-q", "-t", "-A", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1",
                              "-p", self.port, "-U", "vexlor1", "-d", "parking_test", "-c", sql],
                             env=env, check=True, capture_output=True, text=True)
        return out.stdout

    def outage(self, seconds, stop):
        """Locks the embedded database from another process, or stops the server."""
        if self.backend == "sqlite":
            c = sqlite3.connect(self.path, timeout=30, isolation_level=None)
            c.execute("BEGIN EXCLUSIVE")
            stop.wait(seconds)
            c.execute("ROLLBACK")
            c.close()
        else:
            script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pg-test-server.sh")
            subprocess.run(["bash", script, "stop", self.args.pg_dir], check=True)
            stop.wait(seconds)
            subprocess.run(["bash", script, "resume", self.args.pg_dir], check=True)


class Workstation:
    """One program with its own gate: subscribers, journal, log folder."""

    def __init__(self, name, args, db, work, journal_dir, subscribers, rng, sid=None):
        self.name, self.args, self.rng = name, args, rng
        self.subscribers = subscribers
        self.inside = set()        # as the barriers say
        self.opened = {1: [], 2: []}  # subscriber per opened passage, by station
        self.events = []       # (station, subscriber, recorded) per opening, in order
        self.unrecorded = False  # the next exit opens unrecorded (said so)
        self.dir = os.path.join(work, name)
        os.makedirs(self.dir, exist_ok=True)
        self.config = os.path.join(self.dir, "Rivalto.ini")
        with open(self.config, "w") as f:
            f.write(f"[Conexion]\nSID={sid or db.sid}\n[Form]\nLeft=0\nTop=0\nWidth=1\nHeight=1\n"
                    f"[Impresoras]\nInstalacion={INSTALLATION}\n[Registro]\nCarpeta={self.dir}/log\n"
                    f"Diario={journal_dir}/{name}.journal\n"
                    # Entrances decided from the local replica while the
                    # database is away; refreshed every 5 s, so refreshes
                    # run under the traffic and the faults too. The copy
                    # lives beside the configuration: the journals' disk
                    # is the one filled to the last byte.
                    f"[SinConexion]\nDecidir=1\nRefresco=5\nFichero={self.dir}/replica.db\n")
        self.process = None
        self.emulator = subprocess.Popen([args.emulator, "--pty", "--reader", "1", "--reader", "2"],
                                         stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                         text=True, bufsize=1)
        where = self.emulator.stdout.readline().split()
        if len(where) != 2 or where[0] != "pty":
            raise RuntimeError(f"{name}: the reader emulator did not start: {where}")
        os.symlink(where[1], os.path.join(self.dir, "line"))
        self.emulator_out = []
        threading.Thread(target=lambda: self.emulator_out.extend(self.emulator.stdout), daemon=True).start()
        self.feeder = None
        self.stopped = threading.Event()
        self.pending = None    # identified, its relay not seen yet
        self.in_flight = []    # (station, subscriber) identified when killed
        self.out = ""
        self.runs = 0
        self.lines = {"> progress show": 0, "/AnsHotReset ": 0, "> light 1 red": 0, "> light 2 red": 0,
                      "Decisión sin conexión: entra": 0, "Decisión sin conexión: no entra": 0,
                      "Réplica: no se pudo refrescar": 0}

    def tell(self, command):
        """One order to this workstation's reader emulator."""
        try:
            self.emulator.stdin.write(command + "\n")
            self.emulator.stdin.flush()
        except (BrokenPipeError, ValueError):
            pass

    def script(self, seconds, reader_faults):
        """Traffic for `seconds`: a car at one reader or the other every
        0.6 s, cars going in and out; reader faults at their moments. The
        program's script only ends the run; the cars and the faults go to
        the readers, from a thread, at their moments."""
        lines = []
        t = 0.5
        inside = set(self.inside)
        while t < seconds - 1:
            out_candidates = sorted(inside)
            in_candidates = sorted(set(self.subscribers) - inside)
            if out_candidates and (not in_candidates or self.rng.random() < 0.5):
                code, station = self.rng.choice(out_candidates), 2
                inside.discard(code)
            else:
                code, station = self.rng.choice(in_candidates), 1
                inside.add(code)
            lines.append((t, f"track {station} %B0{INSTALLATION:02d}00000{code:05d}?"))
            t += 0.6
        for at, station, kind in reader_faults:
            if at >= seconds - 12:
                continue
            if kind == "silent":  # long enough to be reported down, then back
                lines += [(at, f"silent {station} on"), (at + 9.5, f"silent {station} off")]
            elif kind == "restart":
                lines.append((at, f"restart {station}"))
            elif kind == "busy":
                lines.append((at, f"busy {station} 3"))
            elif kind == "lose":
                lines.append((at, f"lose {station} 2"))
            else:  # maconly: replies' data in the clear under the MAC for a while
                lines += [(at, f"maconly {station} on"), (at + 5, f"maconly {station} off")]
        lines.sort(key=lambda item: item[0])
        path = os.path.join(self.dir, f"script-{self.runs}.txt")
        with open(path, "w") as f:
            f.write(f"{seconds:.2f} quit\n")
        return path, lines

    def _feed(self, lines, began):
        for at, order in lines:
            if self.stopped.wait(max(0.0, at - (time.monotonic() - began))):
                return
            self.tell(order)

    def command(self, script):
        """The program's command line. Both workstations name their readers
        ./line (one Lector row), and the serial port library locks a device
        by that name in /run/lock: each runs with a lock folder of its own
        (a private mount namespace; as root, or in a user namespace)."""
        own_lock = ["unshare", "-m"] if os.geteuid() == 0 else ["unshare", "-r", "-m"]
        return own_lock + ["sh", "-c", 'mount -t tmpfs -o size=64k tmpfs /run/lock && exec "$0" "$@"',
                           self.args.binary, "--headless", "--config", self.config, "--script", script]

    def start(self, seconds, reader_faults=()):
        script, lines = self.script(seconds, reader_faults)
        self.runs += 1
        self.stopped.clear()
        self.process = subprocess.Popen(self.command(script), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                        cwd=self.dir)
        self.reader = threading.Thread(target=self._read, args=(self.process,))
        self.reader.start()
        self.feeder = threading.Thread(target=self._feed, args=(lines, time.monotonic()))
        self.feeder.start()

    def stop_feeding(self):
        self.stopped.set()
        if self.feeder:
            self.feeder.join()
            self.feeder = None

    def close_readers(self):
        self.tell("quit")
        try:
            self.emulator.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.emulator.kill()

    def _read(self, process):
        self.pending = None
        for line in process.stdout:
            self.out += line
            line = line.rstrip("\n")
            if line.startswith("ATENCIÓN: la salida de "):
                self.unrecorded = True
            if line.startswith("msId"):
                self.pending = (int(line[4]), int(line.split(":")[1].split()[0]))
            elif line.startswith("> relay ") and line.endswith(" 0 6") and self.pending:
                station, code = self.pending
                if int(line.split()[2]) == station:
                    self.opened[station].append(code)
                    self.events.append((station, code, not (station == 2 and self.unrecorded)))
                    self.unrecorded = False
                    (self.inside.add if station == 1 else self.inside.discard)(code)
                self.pending = None
            for key in self.lines:
                if line.startswith(key):
                    self.lines[key] += 1

    def kill(self):
        self.stop_feeding()
        self.process.send_signal(signal.SIGKILL)
        self.process.wait()
        self.reader.join()
        # A passage between its write and its relay: the database may have
        # it although no barrier opened (the one window a kill can hit).
        if self.pending:
            self.in_flight.append(self.pending)

    def wait(self, timeout):
        try:
            status = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            status = -9
        self.stop_feeding()
        self.reader.join()
        return status

    def resources(self):
        pid = self.process.pid
        rss = 0
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    rss = int(line.split()[1])
        return rss, len(os.listdir(f"/proc/{pid}/fd"))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--binary", required=True)
    p.add_argument("--emulator", required=True)
    p.add_argument("--backend", choices=["sqlite", "postgresql"], default="sqlite")
    p.add_argument("--minutes", type=float, default=2)
    p.add_argument("--seed", type=int, default=None)
    p.add_argument("--work", required=True)
    p.add_argument("--pg-dir")
    args = p.parse_args()
    # The workstations run in folders of their own.
    args.binary, args.emulator = os.path.abspath(args.binary), os.path.abspath(args.emulator)
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    log(f"seed {seed} ({args.backend}, {args.minutes} min); again: --seed {seed}")
    rng = random.Random(seed)
    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)

    # The journals on a small disk of their own, when we may mount one.
    journal_dir = os.path.join(work, "journals")
    os.makedirs(journal_dir)
    tmpfs = os.geteuid() == 0 and subprocess.run(
        ["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", journal_dir]).returncode == 0
    if not tmpfs:
        log("journals on the ordinary disk: filling it is left out (needs root)")

    db = Database(args, work)
    seconds = args.minutes * 60
    # On the server, A speaks to it through scripts/fault_proxy.py (the
    # pg-test-server's second data source), which cuts A's connection at
    # the "cut" faults: before, during or after a passage's write.
    proxy = None
    if args.backend == "postgresql":
        here = os.path.dirname(os.path.abspath(__file__))
        proxy = subprocess.Popen(["python3", os.path.join(here, "fault_proxy.py"), "--target", f"127.0.0.1:{db.port}",
                                  "--listen", str(int(db.port) + 1)],
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
        if not proxy.stdout.readline().startswith("listening"):
            raise RuntimeError("the fault proxy did not start")
    a = Workstation("A", args, db, work, journal_dir, list(range(1, SUBSCRIBERS_PER_GATE + 1)), random.Random(rng.random()),
                    sid="parking_test_proxy" if proxy else None)
    b = Workstation("B", args, db, work, journal_dir,
                    list(range(SUBSCRIBERS_PER_GATE + 1, 2 * SUBSCRIBERS_PER_GATE + 1)), random.Random(rng.random()))

    # The faults' schedule, all from the seed.
    # "both": the journals' disk full while the database is away, when
    # nothing can record a passage (exits open and say so, entrances wait).
    # "slow": A's server 20 to 80 ms away each way for the fault's length.
    kinds = ["database", "kill", "reader"] + (["disk", "both"] if tmpfs else []) + (["cut", "slow"] if proxy else [])
    schedule = []
    t = 8.0
    while t < seconds - 15:
        schedule.append((t, rng.choice(kinds), rng.uniform(2, 6)))
        t += rng.uniform(6, 14)
    reader_kinds = ["silent", "restart", "busy", "lose", "maconly"]
    reader_faults = [(at, rng.choice([1, 2]), rng.choice(reader_kinds)) for at, kind, _ in schedule if kind == "reader"]
    silences = sum(1 for at, _, kind in reader_faults if kind == "silent" and at < seconds - 12)
    counts = {k: 0 for k in kinds}
    for _, kind, _ in schedule:
        counts[kind] += 1
    log("faults planned: " + ", ".join(f"{k} {n}" for k, n in counts.items()))

    began = time.monotonic()
    a.start(seconds, reader_faults)
    b.start(seconds)
    time.sleep(5)
    a_start = a.resources()
    stop = threading.Event()
    for at, kind, length in schedule:
        time.sleep(max(0, at - (time.monotonic() - began)))
        if kind == "database":
            log(f"{at:6.1f} s: database away for {length:.1f} s")
            db.outage(length, stop)
        elif kind == "kill":
            log(f"{at:6.1f} s: SIGKILL to B")
            b.kill()
            b.start(max(5, seconds - (time.monotonic() - began)))
        elif kind == "cut":
            when = ["before", "during", "after"][int(length * 1000) % 3]
            log(f"{at:6.1f} s: A's connection cut {when} its next passage's write")
            proxy.stdin.write(f"drop {when} ^WITH u AS\n")
            proxy.stdout.readline()
        elif kind == "slow":
            delay = 20 + int(length * 1000) % 61
            log(f"{at:6.1f} s: A's server {delay} ms away each way for {length:.1f} s")
            proxy.stdin.write(f"delay {delay}\n")
            proxy.stdin.flush()
            proxy.stdout.readline()
            time.sleep(length)
            proxy.stdin.write("delay 0\n")
            proxy.stdin.flush()
            proxy.stdout.readline()
        elif kind in ("disk", "both"):
            log(f"{at:6.1f} s: journals' disk full for {length:.1f} s"
                + (", the database away meanwhile" if kind == "both" else ""))
            filler = os.path.join(journal_dir, "filler")
            fd = os.open(filler, os.O_WRONLY | os.O_CREAT, 0o600)
            try:
                while os.write(fd, b"x" * 512) > 0:
                    pass
            except OSError:
                pass
            os.close(fd)
            if kind == "both":
                db.outage(length, stop)
            else:
                time.sleep(length)
            os.remove(filler)
        else:
            fault = next(f for f in reader_faults if f[0] == at)
            log(f"{at:6.1f} s: reader {fault[1]} of A: {fault[2]}")
    a_end = a.resources()
    # Their scripts end at `seconds`; a workstation still running a minute
    # after that is hung, killed, and fails the run.
    left = max(0.0, seconds - (time.monotonic() - began)) + 60
    status_a = a.wait(left)
    status_b = b.wait(max(0.0, seconds - (time.monotonic() - began)) + 60)
    # Each started once more: whatever waits in a journal goes in first.
    for w in (a, b):
        w.process = subprocess.Popen(w.command(w.script(2, [])[0]), stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     text=True, cwd=w.dir)
        w.reader = threading.Thread(target=w._read, args=(w.process,))
        w.reader.start()
        w.wait(60)
        w.close_readers()
    if tmpfs:
        subprocess.run(["umount", journal_dir])
    if proxy:
        proxy.stdin.write("count\n")
        log("connection cuts carried out: " + proxy.stdout.readline().split()[-1])
        proxy.stdin.close()
        proxy.wait(10)

    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)
        log(("ok   " if ok else "FAIL ") + what)

    check(status_a == 0, f"workstation A ended normally (status {status_a})")
    # Exits that opened while neither the database nor the journal could
    # take them: said loudly, and the only passages allowed to be missing.
    lost = {w.name: [int(line.split()[4]) for line in w.out.split("\n")
                     if line.startswith("ATENCIÓN: la salida de ")] for w in (a, b)}
    for w in (a, b):
        entered = {}
        for code in w.opened[1]:
            entered[code] = entered.get(code, 0) + 1
        uncertain = {code for station, code in w.in_flight if station == 1}
        wrong = []
        for code in w.subscribers:
            rows = int(db.scalar(f"SELECT COUNT(*) FROM Movimientos_Parking WHERE Codigo = {code}"))
            opened = entered.get(code, 0)
            if rows != opened and not (code in uncertain and rows == opened + 1):
                wrong.append(f"{code}: {opened} entrances opened, {rows} rows")
        check(not wrong, f"{w.name}: every entrance opened has its row exactly once "
              f"({len(w.opened[1])} entrances, {len(w.in_flight)} passages cut by a kill) {wrong}")
        # The open rows each subscriber should have, from the barriers: an
        # entrance opens one, a recorded exit closes all of the day's, an
        # exit said lost closes none.
        should = {code: 0 for code in w.subscribers}
        for station, code, recorded in w.events:
            if station == 1:
                should[code] += 1
            elif recorded:
                should[code] = 0
        uncertain = {code for _, code in w.in_flight}
        wrong = []
        for code in w.subscribers:
            rows = int(db.scalar("SELECT COUNT(*) FROM Movimientos_Parking WHERE HORASALIDA IS NULL "
                                 f"AND Codigo = {code}"))
            if rows != should[code] and code not in uncertain:
                wrong.append(f"{code}: {should[code]} open by the barriers, {rows} open rows")
        check(not wrong, f"{w.name}: every stay open as the barriers left it ({len(w.inside)} cars inside, "
              f"{len(lost[w.name])} exits said lost) {wrong}")
        journal = os.path.join(journal_dir, f"{w.name}.journal")
        size = os.path.getsize(journal) if os.path.exists(journal) else 0
        check(size == 0, f"{w.name}: nothing waits in the journal ({size} bytes)")
    # Every opened passage changed the count once. (The traffic is written
    # ahead, so a car refused at the entrance during an outage still drives
    # to the exit later, which opens and gives a space back, as it must:
    # the count is checked against the barriers, not against the rows.)
    free = int(db.scalar(f"SELECT PLAZAS_LIBRES FROM INSTALACIONES WHERE CodInstalacion = {INSTALLATION}"))
    ins = sum(len(w.opened[1]) for w in (a, b))
    outs = sum(len(w.opened[2]) for w in (a, b))
    cut = sum(len(w.in_flight) for w in (a, b))
    said_lost = sum(len(v) for v in lost.values())
    expected = START_FREE - ins + outs - said_lost
    check(abs(free - expected) <= cut,
          f"free spaces {free} = {START_FREE} - {ins} entrances + {outs} exits opened - {said_lost} said lost "
          f"(± {cut} cut by a kill)")
    passages = sum(len(w.opened[s]) for w in (a, b) for s in (1, 2))
    check(passages > 0, f"{passages} barrier openings")
    grew_kb = a_end[0] - a_start[0]
    check(grew_kb < 5 * 1024, f"A's resident memory grew {grew_kb} kB (< 5 MB)")
    check(a_end[1] - a_start[1] <= 0, f"A's open descriptors {a_start[1]} -> {a_end[1]}")
    reds = a.lines["> light 1 red"] + a.lines["> light 2 red"]
    check(reds == silences, f"A's readers went red {reds} times for {silences} long silences "
          "(restarts, BUSY, lost replies and MAC-only replies never bring a reader down)")
    check(a.lines["/AnsHotReset "] >= silences, f"A logged {a.lines['/AnsHotReset ']} readers back, "
          f"{silences} silenced long enough to go down")
    away = counts.get("database", 0) + counts.get("both", 0)
    check(a.lines["> progress show"] <= away,
          f"A's outages shown {a.lines['> progress show']} times for {away} times the database went away")
    # The server away while traffic runs: some entrances are decided from
    # the replica (each one is among those checked above). The embedded
    # database is never away for a read (its lock stops writes only), so
    # there the replica is refreshed under the faults and the kills but
    # decides nothing.
    offline = sum(w.lines["Decisión sin conexión: entra"] for w in (a, b))
    check(args.backend != "postgresql" or away == 0 or offline > 0, f"{offline} entrances let in from the replica during {away} outages "
          f"({sum(w.lines['Decisión sin conexión: no entra'] for w in (a, b))} refused offline, "
          f"{sum(w.lines['Réplica: no se pudo refrescar'] for w in (a, b))} refreshes cut)")
    log(f"summary: seed {seed}, {args.minutes} min, {args.backend}, faults "
        + ", ".join(f"{k} {n}" for k, n in counts.items()) + f", {passages} passages, B started {b.runs} times, "
        f"exits said lost (disk and database both gone): {said_lost}, "
        f"lost otherwise: {'nothing' if not failures else failures}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
