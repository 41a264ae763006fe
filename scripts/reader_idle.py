#!/usr/bin/env python3
"""What two idle OSDP readers cost: the program, headless, on a fresh
embedded database, with two readers of the emulator program online on one
line (a pseudo-terminal or TCP on loopback), Secure Channel on.

    reader_idle.py --binary BIN --emulator EMU --line pty|tcp [--seconds S]

Prints the program's share of one core over S seconds and how often each
reader was polled.
"""
import argparse
import os
import signal
import sqlite3
import subprocess
import tempfile
import time


def cpu_seconds(pid):
    """Time on a CPU of all the process's threads, to the nanosecond (the
    scheduler's own count; /proc/PID/stat's ticks are too coarse here)."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
        except FileNotFoundError:
            pass  # a thread that ended meanwhile
    return total / 1e9


def polls(emulator, address):
    emulator.stdin.write(f"show {address}\n")
    emulator.stdin.flush()
    while True:
        line = emulator.stdout.readline()
        if not line:
            raise RuntimeError("the emulator ended")
        if line.startswith("ok display"):
            words = line.split()
            return int(words[words.index("polls") + 1])


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--binary", required=True)
    p.add_argument("--emulator", required=True)
    p.add_argument("--line", choices=["pty", "tcp"], default="pty")
    p.add_argument("--seconds", type=float, default=60)
    p.add_argument("--warmup", type=float, default=20, help="seconds before measuring")
    p.add_argument("--baud", type=int, default=115200, help="the line's speed: the port text's and the emulated wire's")
    args = p.parse_args()
    work = tempfile.mkdtemp(prefix="parking-idle-")
    # The emulated readers take the time their bytes would take on a wire
    # at that speed, as real ones do (a pseudo-terminal has no speed).
    emulator = subprocess.Popen([args.emulator, "--pty" if args.line == "pty" else "--tcp", *([] if args.line == "pty" else ["0"]),
                                 "--baud", str(args.baud), "--reader", "1", "--reader", "2"],
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
    where = emulator.stdout.readline().split()
    device = where[1] if where[0] == "pty" else "tcp:" + where[1]
    db = os.path.join(work, "parking.db")
    subprocess.run([args.binary, "--init-db", db], check=True, stdout=subprocess.DEVNULL)
    with sqlite3.connect(db) as c:
        c.execute("INSERT INTO Lector VALUES (1, 2, ?, ?, 'BIENVENIDO', 'TARJETA NO VALIDA', 'FUERA DE HORARIO', "
                  "'RECIBOS PENDIENTES', 'CUOTA NO VIGENTE')",
                  (f"osdp:{device}?addr=1&sc=install&baud={args.baud}", f"osdp:{device}?addr=2&sc=install&baud={args.baud}"))
        c.execute("INSERT INTO INSTALACIONES VALUES (1, 'IDLE', 100, 50)")
    config = os.path.join(work, "Rivalto.ini")
    with open(config, "w") as f:
        f.write(f"[Conexion]\nSID=sqlite:{db}\n[Form]\nLeft=0\nTop=0\nWidth=1\nHeight=1\n[Impresoras]\nInstalacion=1\n")
    program = subprocess.Popen([args.binary, "--headless", "--config", config], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    time.sleep(args.warmup)  # both readers keyed and online, start-up done
    start_cpu, start_polls, began = cpu_seconds(program.pid), [polls(emulator, 1), polls(emulator, 2)], time.monotonic()
    time.sleep(args.seconds)
    used, took = cpu_seconds(program.pid) - start_cpu, time.monotonic() - began
    end_polls = [polls(emulator, 1), polls(emulator, 2)]
    program.send_signal(signal.SIGTERM)
    program.wait(timeout=30)
    emulator.stdin.write("quit\n")
    emulator.stdin.flush()
    emulator.wait(timeout=10)
    rates = [(e - s) / took for s, e in zip(start_polls, end_polls)]
    print(f"{args.line} ({args.baud} baud): {100.0 * used / took:.2f} % of a core over {took:.0f} s; "
          f"polls a second: reader 1 {rates[0]:.1f}, reader 2 {rates[1]:.1f}")


if __name__ == "__main__":
    main()
