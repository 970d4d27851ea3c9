#!/usr/bin/env python3
"""Measures varnoltctl: the time of a start against the virtual generator that paces its reads at
9600 baud, as a ratio to the 0.772 s that 741 bytes of 10 bits need on the line (target: at most
1.05); the start-up time of `varnoltctl show`, natively and under Wine (the Windows build this
host runs unless one is named: windows_build.sh, whose line names the build and the Wine); the
sizes of the native program and of the .exe.

Usage: varnoltctl.py [--native BUILD] [--windows BUILD] [--runs N]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

import windows_build

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests"))
from rig.generator import Generator  # noqa: E402

LINE_SECONDS = 741 * 10 / 9600  # 0.771875 s


def timed(command, runs):
    times = []
    for _ in range(runs):
        started = time.monotonic()
        result = subprocess.run(command, capture_output=True)
        times.append(time.monotonic() - started)
        if result.returncode != 0:
            sys.exit(f"varnoltctl.py: {' '.join(command)} ended with {result.returncode}: "
                     f"{result.stderr.decode().strip()}")
    return times


def summary(times):
    return (f"median {statistics.median(times) * 1000:.1f} ms, min {min(times) * 1000:.1f} ms, "
            f"max {max(times) * 1000:.1f} ms over {len(times)} runs")


def measure_start(tool, generator, gap_ms, runs):
    line = Generator("--line-rate", "9600", "--gap-ms", str(gap_ms), program=generator)
    try:
        times = timed([tool, "start", "--port", line.pty], runs)
    finally:
        line.stop()
    ratio = statistics.median(times) / LINE_SECONDS
    print(f"start, generator at 9600 baud with a burst gap of {gap_ms} ms: {summary(times)}; "
          f"ratio {ratio:.3f} to {LINE_SECONDS:.3f} s (target at most 1.05)")
    return ratio


def size_line(path, label):
    if not os.path.exists(path):
        return f"{label}: not built ({path})"
    text = f"{label}: {os.path.getsize(path)} bytes"
    if not path.endswith(".exe"):
        with tempfile.TemporaryDirectory() as folder:
            stripped = os.path.join(folder, "stripped")
            subprocess.run(["strip", "-o", stripped, path], check=True)
            text += f" as built (with debug information), {os.path.getsize(stripped)} stripped"
    return text


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--native", default=os.path.join(root, "build", "native"))
    parser.add_argument("--windows", help="default: the Windows build this host runs")
    parser.add_argument("--runs", type=int, default=10)
    arguments = parser.parse_args()
    tool = os.path.join(arguments.native, "cli", "varnoltctl")
    generator = os.path.join(arguments.native, "tools", "virtual_generator",
                             "varnolt-virtual-generator")
    for program in (tool, generator):
        if not os.access(program, os.X_OK):
            sys.exit(f"varnoltctl.py: no {program} (build the native build first)")

    print(f"load average: {os.getloadavg()[0]:.2f} on {os.cpu_count()} cores")
    # The generator answers when a burst has been quiet for its gap: 5 ms shows the tool's own
    # time, 30 ms (its default) adds that much of the generator's own.
    ratio = measure_start(tool, generator, 5, arguments.runs)
    measure_start(tool, generator, 30, arguments.runs)
    print(f"show, start-up to exit: {summary(timed([tool, 'show'], arguments.runs * 5))}")
    build = windows_build.choose(arguments.windows)
    exe = os.path.join(build, "cli", "varnoltctl.exe")
    if os.path.exists(exe):
        # With the prefix's server already running (tools/wine/make-prefix.sh).
        wine = [os.environ["WINELOADER"], exe, "show"]
        print(f"show under Wine: {summary(timed(wine, arguments.runs))}")
    else:
        print(f"show under Wine: not measured (no {exe})")
    print(size_line(tool, "varnoltctl"))
    print(size_line(exe, "varnoltctl.exe"))
    return 0 if ratio <= 1.05 else 1


if __name__ == "__main__":
    sys.exit(main())
