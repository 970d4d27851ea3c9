#!/usr/bin/env python3
"""Measures the reading of a shape file: `varnoltctl table --shape FILE` on a 1,000,000-point CSV
(a scope's `time,value,` export) and on a 1,000,000-frame WAV (16-bit and 32-bit float, mono),
each the whole program: read, resample, normalise, scale, write 360 codes. Gives the wall time
and the peak resident memory of the program (its rusage), with `varnoltctl table` of a sine
beside them as the program's own start-up and the floor of the peaks. Goal: under 0.5 s and
under 64 MiB.

Usage: shape.py [--native BUILD] [--runs N]
"""
import argparse
import math
import os
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import wave

POINTS = 1_000_000
GOAL_SECONDS, GOAL_MIB = 0.5, 64


def values():
    """One period of a sine with a harmonic, as a capture would have it."""
    return [math.sin(2 * math.pi * k / POINTS) + 0.2 * math.sin(6 * math.pi * k / POINTS)
            for k in range(POINTS)]


def write_csv(path, shape):
    with open(path, "w") as csv:
        csv.write("Time,Volt,\nSecond,Volt,\n")
        csv.writelines(f"{(k - POINTS // 2) * 1e-9:.6e},{v:.6e},\n" for k, v in enumerate(shape))


def write_wav(path, frames, width):
    with wave.open(path, "wb") as writer:
        writer.setnchannels(1)
        writer.setsampwidth(width)
        writer.setframerate(48000)
        writer.writeframes(frames)
    if width == 4:
        # The wave module writes integer PCM only: make the 'fmt ' chunk say IEEE float (3).
        with open(path, "r+b") as patched:
            patched.seek(20)
            patched.write(struct.pack("<H", 3))


def run(command):
    """Wall seconds and peak resident MiB of one run of the program. Linux counts into a child's
    peak the memory it had before its exec, this script's own: the run without a file shows
    that floor."""
    started = time.monotonic()
    pid = os.posix_spawn(command[0], command, os.environ,
                         file_actions=[(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0)])
    _, status, usage = os.wait4(pid, 0)
    elapsed = time.monotonic() - started
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit(f"shape.py: {' '.join(command)} ended with {code}")
    return elapsed, usage.ru_maxrss / 1024  # KiB on Linux


def measure(label, command, runs, goal=True):
    results = [run(command) for _ in range(runs)]
    times = [t for t, _ in results]
    peak = max(m for _, m in results)
    median = statistics.median(times)
    verdict = ""
    if goal:
        met = median < GOAL_SECONDS and peak < GOAL_MIB
        verdict = (f" ({'within' if met else 'OVER'} the goal of {GOAL_SECONDS} s and "
                   f"{GOAL_MIB} MiB)")
    print(f"{label}: median {median * 1000:.0f} ms, max {max(times) * 1000:.0f} ms over {runs} "
          f"runs; peak memory {peak:.1f} MiB{verdict}")
    return not goal or (median < GOAL_SECONDS and peak < GOAL_MIB)


def write_files(folder):
    shape = values()
    write_csv(os.path.join(folder, "capture.csv"), shape)
    write_wav(os.path.join(folder, "cycle16.wav"),
              b"".join(struct.pack("<h", round(v * 27000)) for v in shape), 2)
    write_wav(os.path.join(folder, "cyclef.wav"), struct.pack(f"<{POINTS}f", *shape), 4)


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--native", default=os.path.join(root, "build", "native"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--write-files", help=argparse.SUPPRESS)
    options = parser.parse_args()
    if options.write_files:
        write_files(options.write_files)
        return 0
    tool = os.path.join(options.native, "cli", "varnoltctl")
    if not os.path.exists(tool):
        sys.exit(f"shape.py: no {tool}: build the native preset first")
    with tempfile.TemporaryDirectory() as folder:
        # Written by another process: a program started from this one would otherwise count the
        # memory of the million values in its peak, as a fork's copy before its exec.
        subprocess.run([sys.executable, os.path.abspath(__file__), "--write-files", folder],
                       check=True)
        csv, wav16, wavf = (os.path.join(folder, name)
                            for name in ("capture.csv", "cycle16.wav", "cyclef.wav"))
        print(f"{POINTS} points; CSV {os.path.getsize(csv) / 2**20:.1f} MiB, 16-bit WAV "
              f"{os.path.getsize(wav16) / 2**20:.1f} MiB, float WAV "
              f"{os.path.getsize(wavf) / 2**20:.1f} MiB; {os.cpu_count()} processors")
        measure("varnoltctl table (a sine, no file: the floor of the peaks)", [tool, "table"],
            options.runs, goal=False)
        met = [measure(f"varnoltctl table --shape {os.path.basename(path)}",
                       [tool, "table", "--shape", path], options.runs)
               for path in (csv, wav16, wavf)]
    return 0 if all(met) else 1


if __name__ == "__main__":
    sys.exit(main())
