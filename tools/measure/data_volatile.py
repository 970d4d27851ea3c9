#!/usr/bin/env python3
"""Measures a waveform of one's own sent as lab programs send it: `DATA VOLATILE` with 65,536
values written by PyVISA (write_ascii_values, its default "%f": about 600 KB on one line) to
varnoltctl serve on the virtual generator (native build, reading the bytes at once), then
`FUNC:USER VOLATILE;:FUNC USER;:OUTP ON`. Gives, as medians over the runs, the time from the
write to the generator's start (its report answered), split into the write itself, the server
taking the line, and the start; and the server's peak resident memory (VmHWM) before the first
such line and after all of them. A real generator's line adds 0.772 s to the start (741 bytes at
9600 baud).

Usage: data_volatile.py [--build BUILD] [--runs N]
"""
import argparse
import math
import os
import re
import statistics
import sys
import time

import pyvisa

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests"))
from rig import built_programs  # noqa: E402
from rig.generator import Generator  # noqa: E402
from rig.serve import Server  # noqa: E402

POINTS = 65536


def peak_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        return int(re.search(r"VmHWM:\s+(\d+) kB", status.read()).group(1))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "native"))
    parser.add_argument("--runs", type=int, default=10)
    options = parser.parse_args()
    tool, generator_program = built_programs(options.build)
    print(f"measure: the native build {os.path.abspath(options.build)} (no Wine)", flush=True)

    generator = Generator(program=generator_program)
    server = Server("--port", generator.pty, "--http", "off", tool=tool)
    resources = pyvisa.ResourceManager("@py")
    try:
        if server.port is None:
            sys.exit("data_volatile.py: the server did not start: " + " ".join(server.lines))
        scpi = resources.open_resource(f"TCPIP::127.0.0.1::{server.port}::SOCKET",
                                       read_termination="\n", write_termination="\n",
                                       timeout=20000)
        scpi.query("*IDN?")
        before = peak_kib(server.process.pid)
        writes, takes, starts, totals = [], [], [], []
        for run in range(options.runs):
            # A sine with a harmonic, shifted each run so that every run is a change.
            values = [0.7 * math.sin(2 * math.pi * (k + run) / POINTS) +
                      0.2 * math.sin(6 * math.pi * k / POINTS) for k in range(POINTS)]
            scpi.query("OUTP OFF;*OPC?")
            started = time.perf_counter()
            scpi.write_ascii_values("DATA VOLATILE,", values)
            written = time.perf_counter()
            scpi.query("*OPC?")
            taken = time.perf_counter()
            answer = scpi.query("FUNC:USER VOLATILE;:FUNC USER;:OUTP ON;:OUTP?;:SYST:ERR?")
            ended = time.perf_counter()
            if answer != '1;0,"No error"':
                sys.exit(f"data_volatile.py: run {run}: {answer}")
            writes.append(written - started)
            takes.append(taken - written)
            starts.append(ended - taken)
            totals.append(ended - started)
        after = peak_kib(server.process.pid)
        records = generator.log("start", count=options.runs)
        if len(records) != options.runs or not all(r["ok"] for r in records):
            sys.exit(f"data_volatile.py: the generator saw {len(records)} starts, not all good")
        line = len(pyvisa.util.to_ascii_block(values)) + len("DATA VOLATILE,\n")

        def ms(times):
            return f"{1000 * statistics.median(times):.0f} ms"

        print(f"DATA VOLATILE with {POINTS} values ({line / 1024:.0f} KiB), {options.runs} runs, "
              f"medians: write to the generator's start {ms(totals)} (PyVISA writing "
              f"{ms(writes)}, the server taking the line {ms(takes)}, FUNC USER and the start "
              f"{ms(starts)})")
        print(f"server peak memory (VmHWM): {before} KiB before, {after} KiB after "
              f"({after - before:+d} KiB)")
    finally:
        resources.close()
        server.stop()
        generator.stop()


if __name__ == "__main__":
    main()
