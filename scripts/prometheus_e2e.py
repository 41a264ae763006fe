#!/usr/bin/env python3
"""The shipped alert rules against the real program: a real Prometheus
scrapes parking-station (embedded database, two OSDP readers of
parking-reader-emulator on a pseudo-terminal) and the ParkingReaderOffline
alert becomes firing, for the entrance only, once its reader goes silent.

    prometheus_e2e.py --binary BIN --emulator EMU --rules RULES [--prometheus PROM]

The rules are loaded with "for: 30s" shortened to 2 s (the durations are
checked by promtool's unit tests; here, the scrape and the expressions).
Exit status 0 when the alert fired as it should.
"""
import argparse
import json
import os
import shutil
import socket
import sqlite3
import subprocess
import sys
import tempfile
import time
import urllib.request


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def get_json(url):
    with urllib.request.urlopen(url, timeout=5) as r:
        return json.loads(r.read())


def wait(what, test, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            if test():
                return True
        except OSError:
            pass
        time.sleep(0.5)
    print(f"prometheus-e2e: timed out waiting for {what}", flush=True)
    return False


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--binary", required=True)
    p.add_argument("--emulator", required=True)
    p.add_argument("--rules", required=True)
    p.add_argument("--prometheus", default=shutil.which("prometheus") or "/usr/bin/prometheus")
    args = p.parse_args()
    args.binary, args.emulator, args.rules = (os.path.abspath(x) for x in (args.binary, args.emulator, args.rules))
    if not os.path.exists(args.prometheus):
        print("prometheus-e2e: no prometheus program (Debian's package prometheus)", flush=True)
        return 77
    work = tempfile.mkdtemp(prefix="parking-prom-")
    processes = []
    try:
        db = os.path.join(work, "parking.db")
        subprocess.run([args.binary, "--init-db", db], check=True, stdout=subprocess.DEVNULL)
        with sqlite3.connect(db) as c:
            c.execute("INSERT INTO Lector VALUES (1, 2, 'osdp:./line?addr=1&sc=install', "
                      "'osdp:./line?addr=2&sc=install', 'BIENVENIDO', "
                      "'TARJETA NO VALIDA', 'FUERA DE HORARIO', 'RECIBOS PENDIENTES', 'CUOTA NO VIGENTE')")
            c.execute("INSERT INTO INSTALACIONES VALUES (1, 'PROMETHEUS', 100, 50)")
        emulator = subprocess.Popen([args.emulator, "--pty", "--reader", "1", "--reader", "2"], stdin=subprocess.PIPE,
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, bufsize=1)
        processes.append(emulator)
        where = emulator.stdout.readline().split()
        if len(where) != 2 or where[0] != "pty":
            print(f"prometheus-e2e: the emulator did not start: {where}", flush=True)
            return 1
        os.symlink(where[1], os.path.join(work, "line"))
        status_port = free_port()
        config = os.path.join(work, "Rivalto.ini")
        with open(config, "w") as f:
            f.write(f"[Conexion]\nSID=sqlite:{db}\n[Form]\nLeft=0\nTop=0\nWidth=1\nHeight=1\n"
                    f"[Impresoras]\nInstalacion=1\n[Registro]\nCarpeta={work}/log\nDiario={work}/journal\n"
                    f"[Estado]\nPuerto={status_port}\n")
        station = subprocess.Popen([args.binary, "--headless", "--config", config], cwd=work,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        processes.append(station)

        with open(args.rules) as f:
            rules = f.read().replace("for: 30s", "for: 2s")
        with open(os.path.join(work, "rules.yml"), "w") as f:
            f.write(rules)
        prom_port = free_port()
        with open(os.path.join(work, "prometheus.yml"), "w") as f:
            f.write("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\nrule_files:\n  - rules.yml\n"
                    f"scrape_configs:\n  - job_name: parking\n    static_configs:\n"
                    f"      - targets: ['127.0.0.1:{status_port}']\n")
        prometheus = subprocess.Popen([args.prometheus, f"--config.file={work}/prometheus.yml",
                                       f"--storage.tsdb.path={work}/tsdb", f"--web.listen-address=127.0.0.1:{prom_port}"],
                                      cwd=work, stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, "prom.log"), "w"))
        processes.append(prometheus)
        api = f"http://127.0.0.1:{prom_port}/api/v1"

        def readers_up():
            result = get_json(f"{api}/query?query=parking_reader_up")["data"]["result"]
            return len(result) == 2 and all(r["value"][1] == "1" for r in result)

        def firing():
            alerts = get_json(f"{api}/alerts")["data"]["alerts"]
            return [a["labels"].get("station") for a in alerts
                    if a["labels"]["alertname"] == "ParkingReaderOffline" and a["state"] == "firing"]

        if not wait("both readers up, as Prometheus scrapes them", readers_up, 60):
            return 1
        # Up still once the Secure Channel is set up (keys given at this first
        # start), and no alert meanwhile.
        time.sleep(5)
        if not readers_up():
            print("prometheus-e2e: a reader went down before any was silenced", flush=True)
            return 1
        if firing():
            print(f"prometheus-e2e: ParkingReaderOffline firing with both readers up: {firing()}", flush=True)
            return 1
        emulator.stdin.write("silent 1 on\n")
        emulator.stdin.flush()
        if not wait("ParkingReaderOffline firing for the entrance", lambda: firing() == ["1"], 60):
            return 1
        print("prometheus-e2e: ParkingReaderOffline firing for reader 1 (the entrance) only, as it should", flush=True)
        return 0
    finally:
        for proc in reversed(processes):
            proc.terminate()
            try:
                proc.wait(10)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
