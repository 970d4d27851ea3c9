#!/usr/bin/env python3
"""Measures varnoltctl serve on the virtual generator (native build), over loopback:
- the round trip of *IDN? (median and 99th percentile over 10,000 queries) against the round trip
  of the same line through a bare TCP echo (a process of its own that sends back what it reads:
  blocking recv and sendall, TCP_NODELAY) in the same run, in alternating blocks, as a ratio
  (target: at most 2);
- the processor time of the idle server over 10 s, a client connected (target: 0.00 s);
- its resident memory before and after 100,000 commands (target: no growth).

Usage: scpi.py [--build BUILD] [--queries N] [--commands N] [--idle SECONDS]
"""
import argparse
import os
import re
import socket
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests"))
from rig import built_programs  # noqa: E402
from rig.generator import Generator  # noqa: E402
from rig.process import processor_seconds  # noqa: E402
from rig.scpi import Client  # noqa: E402
from rig.serve import Server  # noqa: E402


def round_trips(port, line, count):
    """count round trips of one line on one connection, in microseconds."""
    times = []
    with Client(port, timeout=None) as client:
        for _ in range(count):
            started = time.perf_counter_ns()
            client.query(line)
            times.append((time.perf_counter_ns() - started) / 1000.0)
    return times


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        return int(re.search(r"VmRSS:\s+(\d+) kB", status.read()).group(1))


# The echo: prints its port, then sends back whatever each connection sends, one at a time.
ECHO = """
import socket
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen()
print(listener.getsockname()[1], flush=True)
while True:
    connection, _ = listener.accept()
    connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    while True:
        data = connection.recv(65536)
        if not data:
            break
        connection.sendall(data)
    connection.close()
"""


# One line each of what clients send: settings, queries, errors, a user table.
TABLE = "DATA:DAC VOLATILE," + ",".join(str(i * 181) for i in range(360))
COMMAND_LINES = [
    ("FREQ 2500;:FREQ?;:VOLT 1.5;:VOLT?;:VOLT:OFFS -0.25;:VOLT:OFFS?", 6),
    ("FUNC SQU;:FUNC:SQU:DCYC 25.4;DCYC?;:FUNC RAMP;:FUNC:RAMP:SYMM 50;:FUNC?", 6),
    ("*IDN?;*ESR?;*STB?;SYST:ERR?;APPL?", 5),
    ("FREQU 1", 1),
    ("FREQ 1E9;SYST:ERR?", 2),
    (TABLE + ";:FUNC USER;FUNC?;:FUNC SIN", 4),
]


def run_commands(port, total):
    """Sends lines of COMMAND_LINES until total commands have run; each line's answer is read."""
    done = 0
    clients = 0
    while done < total:
        # A new connection every thousand lines: clients come and go.
        with Client(port, timeout=None) as client:
            clients += 1
            for index in range(1000):
                line, commands = COMMAND_LINES[index % len(COMMAND_LINES)]
                client.write(line)
                if "?" in line:
                    client.read()
                done += commands
                if done >= total:
                    break
            client.query("*OPC?")
    return clients


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "native"))
    parser.add_argument("--queries", type=int, default=10000)
    parser.add_argument("--commands", type=int, default=100000)
    parser.add_argument("--idle", type=float, default=10.0)
    options = parser.parse_args()
    tool, generator_program = built_programs(options.build)
    print(f"measure: the native build {os.path.abspath(options.build)} (no Wine)", flush=True)

    generator = Generator(program=generator_program)
    server = Server("--port", generator.pty, tool=tool)
    echo = subprocess.Popen([sys.executable, "-c", ECHO], stdout=subprocess.PIPE)
    try:
        if server.port is None:
            sys.exit("scpi.py: the server did not start: " + " ".join(server.lines))
        port = server.port
        echo_port = int(echo.stdout.readline())

        # Round trips, in alternating blocks so that both see the same host.
        served, echoed = [], []
        block = max(1, options.queries // 10)
        round_trips(port, b"*IDN?", 100)  # warm-up
        round_trips(echo_port, b"*IDN?", 100)
        while len(served) < options.queries:
            served += round_trips(port, b"*IDN?", block)
            echoed += round_trips(echo_port, b"*IDN?", block)
        served, echoed = served[:options.queries], echoed[:options.queries]
        median_s, p99_s = statistics.median(served), percentile(served, 0.99)
        median_e, p99_e = statistics.median(echoed), percentile(echoed, 0.99)
        print(f"*IDN? round trip, {len(served)} queries: median {median_s:.1f} us, "
              f"p99 {p99_s:.1f} us")
        print(f"bare TCP echo round trip of the same line, {len(echoed)} lines: "
              f"median {median_e:.1f} us, p99 {p99_e:.1f} us")
        print(f"ratio: median {median_s / median_e:.2f}, p99 {p99_s / p99_e:.2f} "
              f"(target at most 2)")

        # Idle: a client connected, nothing sent.
        with socket.create_connection(("127.0.0.1", port)):
            time.sleep(0.2)
            pid = server.process.pid
            before, started = processor_seconds(pid), time.monotonic()
            time.sleep(options.idle)
            used, elapsed = processor_seconds(pid) - before, time.monotonic() - started
        print(f"idle server: {used:.2f} s of processor time in {elapsed:.1f} s (target 0.00 s)")

        # Memory: after a first thousand commands (every path taken once), then after all.
        run_commands(port, 1000)
        before = resident_kib(server.process.pid)
        clients = run_commands(port, options.commands)
        after = resident_kib(server.process.pid)
        print(f"resident memory: {before} KiB before, {after} KiB after {options.commands} "
              f"commands from {clients} connections ({after - before:+d} KiB)")
    finally:
        server.stop()
        echo.terminate()
        echo.wait()
        echo.stdout.close()
        generator.stop()


if __name__ == "__main__":
    main()
